#include "AboutDlg_win.h"

#include "resource.h"
#include "settings.h"

AboutDlg::AboutDlg() : DialogBase(IDD_ABOUTBOX) {
    GetSettingText("Version", kTextsFile, m_strVersion);
    GetSettingText("AboutOK", kTextsFile, m_strOk);
    GetSettingText("AboutTitle", kTextsFile, m_strTitle);
    GetSettingText("CopyRight", kTextsFile, m_strCopyRight);
}

void AboutDlg::OnInitDialog() {
    DdxText(IDC_VERSION_LINE, m_strVersion, false);
    DdxText(IDC_COPYRIGHT_LINE, m_strCopyRight, false);
    SetWindowTextA(Handle(), m_strTitle.c_str());
    SetDlgItemTextA(Handle(), IDOK, m_strOk.c_str());
}
