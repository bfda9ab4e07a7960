#include "ThreadBase.h"

#include <chrono>

namespace {
std::atomic<int> g_running{0};
}

void TEvent::Set() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

void TEvent::Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    set_ = false;
}

bool TEvent::IsSet() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return set_;
}

bool TEvent::WaitFor(int64_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs < 0) {
        changed_.wait(lock, [this] { return set_; });
        return true;
    }
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
}

TThread::~TThread() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach(); // a self-freeing thread deleting itself
        else
            thread_.join();
    }
}

void TThread::Start() {
    if (started_)
        return;
    started_ = true;
    ++g_running;
    if (freeOnTerminate_) {
        // The body may end and delete this object before std::thread's constructor
        // has even returned here, so nothing of it is touched after the start.
        std::thread(&TThread::Run, this).detach();
        return;
    }
    thread_ = std::thread(&TThread::Run, this);
}

void TThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

int TThread::Running() {
    return g_running.load();
}

void TThread::Run() {
    // An exception leaving a thread body would end the host process: stop it here.
    try {
        Execute();
    } catch (...) {
    }
    const bool freeSelf = freeOnTerminate_;
    finished_ = true;
    if (freeSelf)
        delete this;
    --g_running;
}
