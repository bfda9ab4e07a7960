// The library's thread base and its two synchronisation objects, built on the
// standard library so the same code runs on Windows (mingw posix threads) and under
// ThreadSanitizer on Linux.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// Manual-reset event: stays set until Reset.
class TEvent {
  public:
    explicit TEvent(bool initiallySet = false) : set_(initiallySet) {}
    void Set();
    void Reset();
    bool IsSet() const;
    // Waits up to timeoutMs (negative: forever); true when the event was set.
    bool WaitFor(int64_t timeoutMs);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_;
};

// Re-entrant lock, as a critical section is.
class TLock {
  public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;
    friend class TLockGuard;
};

class TLockGuard {
  public:
    explicit TLockGuard(TLock& lock) : lock_(lock) { lock_.Enter(); }
    ~TLockGuard() { lock_.Leave(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

  private:
    TLock& lock_;
};

// A thread object is created suspended; Start runs Execute on a new thread once.
// With FreeOnTerminate set the object deletes itself when Execute returns (the
// thread is then detached and can no longer be waited for); otherwise the owner
// calls WaitFor (or the destructor joins).
class TThread {
  public:
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    // Joins the thread; returns at once if it never started or was detached.
    void WaitFor();
    bool Started() const { return started_; }
    bool Finished() const { return finished_.load(); }
    void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }

    // Number of TThread bodies running right now, library-wide.
    static int Running();

  protected:
    // The body. Must not let an exception escape (Run stops any that does).
    virtual void Execute() = 0;

  private:
    void Run();

    std::thread thread_;
    bool started_ = false;
    bool freeOnTerminate_ = false;
    std::atomic<bool> finished_{false};
};
