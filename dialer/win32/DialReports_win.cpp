#include "DialReports_win.h"

#include <deque>

namespace {

// A dial makes a few dozen reports at most; more than this many waiting means the
// window's thread is not taking them, and the oldest are not worth keeping.
constexpr size_t kMaxQueued = 256;

struct Queue {
    Queue() { InitializeCriticalSection(&lock); }
    // Never destroyed: the service's thread may report while the process ends.
    CRITICAL_SECTION lock;
    HWND window = nullptr;
    std::deque<DialReport> reports;
};

Queue& TheQueue() {
    static Queue* queue = new Queue();
    return *queue;
}

class Locked {
  public:
    explicit Locked(Queue& q) : q_(q) { EnterCriticalSection(&q_.lock); }
    ~Locked() { LeaveCriticalSection(&q_.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    Queue& q_;
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
