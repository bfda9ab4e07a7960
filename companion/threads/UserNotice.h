// Port: the one thing the library ever shows the user, a system-modal message box
// with only an OK button and no owner. Returns when the user has closed it.
#pragma once

#include <string>

class UserNotice {
  public:
    virtual ~UserNotice() = default;
    // Both texts are in the system's 8-bit code page (GBK for the shipped texts).
    virtual void ShowSystemModal(const std::string& caption, const std::string& text) = 0;
};
