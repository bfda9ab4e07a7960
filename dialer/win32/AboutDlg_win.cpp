#include "AboutDlg_win.h"

#include "catalogue.h"
#include "resource.h"
#include "settings.h"

// The catalogue's built-in texts, each replaced by its key of the texts file.
AboutDlg::AboutDlg()
    : DialogBase(IDD_ABOUTBOX), m_strVersion(DefaultText("Version")),
      m_strOk(DefaultText("AboutOK")), m_strTitle(DefaultText("AboutTitle")),
      m_strCopyRight(DefaultText("CopyRight")) {
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
