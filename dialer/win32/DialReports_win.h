// Dial reports on their way from the remote-access service's thread to the main
// dialog's thread. The notifier only queues a report and wakes the window; the
// window's thread takes the reports in the order they came and hands them to the
// dialog's logic, so no code of the dialog ever runs on the service's thread.
#pragma once

#include "RasRecords.h"

#include <windows.h>

#include <cstdint>

// Wakes the window: there are reports to take. Not the tray icon's 1034.
constexpr UINT kDialNotifyMessage = WM_APP + 1;

struct DialReport {
    RasHandle connection; // the dial the report belongs to
    uint32_t state;
    uint32_t error;
};

// The window that takes the reports; null drops any still queued and every later one.
void SetDialReportWindow(HWND window);
// Any thread: queues the report and wakes the window (dropped without a window).
void QueueDialReport(const DialReport& report);
// The window's thread: the oldest queued report; false when none is left.
bool TakeDialReport(DialReport& report);
