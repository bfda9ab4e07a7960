#include "Pondo.h"

#include "ProductVersion.h"
#include "catalogue.h"
#include "credentials.h"
#include "settings.h"

PondoApp::PondoApp() : m_strTitle(DefaultText("MainDlgTitle")) {
    GetSettingText("MainDlgTitle", kTextsFile, m_strTitle);
}

bool PondoApp::InitInstance(AppShell& shell, CompanionModule& module, ConnectionLog& log) {
    log.Write("start-up: Pondo " PONDO_VERSION_TEXT ", title \"" + m_strTitle + "\"");
    if (shell.CreateInstanceMutex(m_strTitle)) {
        log.Write("exit: another copy with this title is running");
        const std::string text = ErrorText(ErrorKey::AlreadyRunning);
        if (WindowRef first = shell.FindTopWindow(m_strTitle)) {
            shell.ShowAndRaise(first);
            shell.ShowMessage(first, text, m_strTitle, MessageKind::Information);
        } else {
            shell.ShowMessage(0, text, shell.ProgramName(), MessageKind::Plain);
        }
        return false;
    }

    m_pCompanion = std::make_unique<CompanionBinding>(module);
    if (!m_pCompanion->IsReady()) {
        log.Write("exit: the companion library cannot be used: " + m_pCompanion->Problem());
        shell.ShowMessage(0, ErrorText(ErrorKey::LibraryBroken), m_strTitle,
                          MessageKind::Information);
        m_pCompanion.reset();
        return false;
    }

    m_strUserFile = LocateCredentialsFile(shell);
    MainDialogStart start{m_strTitle, m_strUserFile, std::move(m_pCompanion), log};
    shell.RunMainDialog(start);
    // The dialog's close handling has released the binding; should it not have
    // (a dialog that failed to open), release it here.
    start.companion.reset();
    log.Write("exit");
    return false;
}
