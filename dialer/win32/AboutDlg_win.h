// The about box (template 100): title, version line and copyright line, each
// replaceable from the interface texts file when the box is built.
#pragma once

#include "DialogBase_win.h"

#include <string>

constexpr const char* kDefaultCopyRight = "Copyright (C) 2026 Talven Networks";

class AboutDlg : public DialogBase {
public:
    AboutDlg();

private:
    void OnInitDialog() override;

    std::string m_strVersion = "TALVEN PPPOE Client";
    std::string m_strOk = "OK";
    std::string m_strTitle = "About TALVEN PPPOE Client";
    std::string m_strCopyRight = kDefaultCopyRight;
};
