#include "DialReports_win.h"

#include <deque>

namespace {

// A dial makes a few dozen reports at most; more than this many waiting means the
// window's thread is not taking them, and the oldest are not worth keeping.
constexpr size_t kMaxQueued = 256;

struct Queue {
    Queue() { InitializeCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    HWND window = nullptr;
    std::deque<DialReport> reports;
};

Queue& TheQueue() {
    // Never destroyed: the service's thread may report while the process ends. A
    // union member is destroyed only by its union, whose destructor does nothing.
    static union Kept {
        Kept() : queue() {}
        ~Kept() {}
        Queue queue;
    } kept;
    return kept.queue;
}

class Locked {
  public:
    explicit Locked(Queue& q) : m_queue(q) { EnterCriticalSection(&m_queue.lock); }
    ~Locked() { LeaveCriticalSection(&m_queue.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    Queue& m_queue;
};

} // namespace

void SetDialReportWindow(HWND window) {
    Queue& q = TheQueue();
    Locked hold(q);
    q.window = window;
    q.reports.clear();
}

void QueueDialReport(const DialReport& report) {
    Queue& q = TheQueue();
    HWND window = nullptr;
    {
        Locked hold(q);
        if (q.window == nullptr)
            return;
        if (q.reports.size() == kMaxQueued)
            q.reports.pop_front();
        q.reports.push_back(report);
        window = q.window;
    }
    // Posted outside the lock. Should the post fail (a full queue), the report is
    // still taken with the next one.
    PostMessageA(window, kDialNotifyMessage, 0, 0);
}

bool TakeDialReport(DialReport& report) {
    Queue& q = TheQueue();
    Locked hold(q);
    if (q.reports.empty())
        return false;
    report = q.reports.front();
    q.reports.pop_front();
    return true;
}
