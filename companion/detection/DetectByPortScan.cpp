#include "DetectByPortScan.h"

#include "ByteCursor.h"
#include "HostTables.h"
#include "HttpSyncGet.h"
#include "Ports.h"
#include "ThreadBase.h"

#include <cstdio>

// The probe page: a well-known public page whose start is stable, and a word that
// its title holds. Any working HTTP proxy returns it; a plain local web server
// asked for it answers with its own page instead.
const char kProbeUrl[] = "http://www.example.com/";
const char kProbeWord[] = "Example Domain";

namespace {

// The dotted text of an address in network byte order, as inet_ntoa gives it.
std::string DottedAddress(uint32_t address) {
    char text[20];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", address & 0xFF, address >> 8 & 0xFF,
                  address >> 16 & 0xFF, address >> 24 & 0xFF);
    return text;
}

} // namespace

bool IsProbeCandidate(const TcpRow& row) {
    if (row.state != kTcpStateListen && row.state != kTcpStateEstablished)
        return false;
    if ((row.localPort & 0xFFFF) == 0)
        return false;
    // A listener's remote port means nothing (it reads 0), so only an established
    // row is asked for one.
    return row.state != kTcpStateEstablished || (row.remotePort & 0xFFFF) != 0;
}

PortScanThread::PortScanThread(std::function<void()> onProxyFound)
    : onProxyFound_(std::move(onProxyFound)) {}

void PortScanThread::Execute() {
    try {
        Sweep();
    } catch (...) {
    }
}

void PortScanThread::Sweep() {
    found_ = 0;
    std::vector<TcpRow> rows;
    if (!Ports().hostTables->ReadTcpTable(rows))
        return;
    THttpDownLoad download;
    for (const TcpRow& row : rows) {
        if (!IsProbeCandidate(row))
            continue;
        const std::string host = row.localAddr == 0 ? "127.0.0.1" : DottedAddress(row.localAddr);
        if (download.ProbeFetch(host, SwapBytes16(static_cast<uint16_t>(row.localPort & 0xFFFF)),
                                kProbeUrl) &&
            download.PageHasWord(kProbeWord)) {
            found_ = 1;
            if (onProxyFound_)
                onProxyFound_();
            return;
        }
    }
}

PortProbe::~PortProbe() {
    Join();
}

void PortProbe::Join() {
    PortScanThread* probe = Current(); // never replaced once made
    if (probe)
        probe->WaitFor();
}

void PortProbe::StartOnce(std::function<void()> onProxyFound) {
    std::lock_guard<std::mutex> hold(lock_);
    if (probe_)
        return;
    probe_ = std::make_unique<PortScanThread>(std::move(onProxyFound));
    probe_->Start();
}

PortScanThread* PortProbe::Current() {
    std::lock_guard<std::mutex> hold(lock_);
    return probe_.get();
}
