// Records the message boxes the library shows and returns at once (as if OK was clicked).
#pragma once

#include "UserNotice.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

class FakeUserNotice : public UserNotice {
  public:
    void ShowSystemModal(const std::string& caption, const std::string& text) override {
        std::lock_guard<std::mutex> hold(lock);
        shown.emplace_back(caption, text);
    }
    size_t Count() {
        std::lock_guard<std::mutex> hold(lock);
        return shown.size();
    }
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> shown;
};
