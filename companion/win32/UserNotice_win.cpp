// The update message box: no owner, OK only, system-modal; returns when closed.
#include "Win32Ports.h"
#include "UserNotice.h"

#include <windows.h>

namespace {

class WinUserNotice : public UserNotice {
  public:
    void ShowSystemModal(const std::string& caption, const std::string& text) override {
        MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_SYSTEMMODAL);
    }
};

} // namespace

std::unique_ptr<UserNotice> CreateWin32UserNotice() {
    return std::make_unique<WinUserNotice>();
}
