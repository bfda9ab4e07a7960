// The update message box: no owner, OK only, system-modal; returns when closed.
#include "Ports.h"
#include "UserNotice.h"

#include <windows.h>

namespace {

class WinUserNotice : public UserNotice {
public:
    void ShowSystemModal(const std::string& caption, const std::string& text) override {
        MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_SYSTEMMODAL);
    }
};

WinUserNotice g_notice;
const bool g_installed = (Ports().notice = &g_notice, true);

}  // namespace
