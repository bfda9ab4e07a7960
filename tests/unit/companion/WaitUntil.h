// Waits for a condition that another thread brings about, with a generous bound.
#pragma once

#include <chrono>
#include <thread>

template <class Pred> bool WaitUntil(Pred pred, int boundMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
