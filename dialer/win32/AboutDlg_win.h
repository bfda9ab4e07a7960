// The about box (template 100): title, version line and copyright line, each
// replaceable from the interface texts file when the box is built.
#pragma once

#include "DialogBase_win.h"

#include <string>

class AboutDlg : public DialogBase {
  public:
    AboutDlg();

  private:
    void OnInitDialog() override;

    std::string m_strVersion;
    std::string m_strOk;
    std::string m_strTitle;
    std::string m_strCopyRight;
};
