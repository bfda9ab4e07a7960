#include "CompanionFakes.h"

#include <cstring>

bool FakeHostTables::ReadAdapters(std::vector<AdapterInfoRow>& out) {
    ++adapterReads_;
    std::lock_guard<std::mutex> g(mutex_);
    out = adapters_;
    return adaptersOk_;
}
bool FakeHostTables::ReadTcpTable(std::vector<TcpRow>& out) {
    std::lock_guard<std::mutex> g(mutex_);
    out = tcp_;
    return tcpOk_;
}
bool FakeHostTables::ReadUdpTable(std::vector<UdpRow>& out) {
    std::lock_guard<std::mutex> g(mutex_);
    out = udp_;
    return udpOk_;
}
void FakeHostTables::SetAdapters(std::vector<AdapterInfoRow> rows, bool readable) {
    std::lock_guard<std::mutex> g(mutex_);
    adapters_ = std::move(rows);
    adaptersOk_ = readable;
}
void FakeHostTables::SetTcp(std::vector<TcpRow> rows, bool readable) {
    std::lock_guard<std::mutex> g(mutex_);
    tcp_ = std::move(rows);
    tcpOk_ = readable;
}
void FakeHostTables::SetUdp(std::vector<UdpRow> rows, bool readable) {
    std::lock_guard<std::mutex> g(mutex_);
    udp_ = std::move(rows);
    udpOk_ = readable;
}

AdapterInfoRow MakeAdapter(std::vector<uint8_t> mac, std::vector<std::string> addresses,
                           std::string description) {
    AdapterInfoRow row;
    row.adapterName = "{FAKE}";
    row.description = std::move(description);
    row.mac = std::move(mac);
    row.dhcpEnabled = 1;
    for (auto& a : addresses)
        row.addresses.emplace_back(a, "255.255.255.0");
    return row;
}

uint32_t NetPort(uint16_t hostPort) {
    return uint32_t((hostPort >> 8) | ((hostPort & 0xff) << 8));
}

uint32_t FakeServiceControl::QueryServiceState(const std::string& name) {
    std::lock_guard<std::mutex> g(mutex_);
    queried_.push_back(name);
    auto it = states_.find(name);
    return it == states_.end() ? 0 : it->second;
}
void FakeServiceControl::SetState(const std::string& name, uint32_t state) {
    std::lock_guard<std::mutex> g(mutex_);
    states_[name] = state;
}
std::vector<std::string> FakeServiceControl::Queried() {
    std::lock_guard<std::mutex> g(mutex_);
    return queried_;
}

bool FakeModuleResources::ReadRawData(const std::string& moduleName, int resourceId,
                                      std::vector<uint8_t>& out) {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = resources_.find({moduleName, resourceId});
    if (it == resources_.end())
        return false;
    out = it->second;
    return true;
}
void FakeModuleResources::Set(const std::string& moduleName, int resourceId,
                              std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> g(mutex_);
    resources_[{moduleName, resourceId}] = std::move(bytes);
}

void FakeProgramSnapshot::SetDebugPrivilege(bool enabled) {
    std::lock_guard<std::mutex> g(mutex_);
    privilegeCalls_.push_back(enabled);
}
bool FakeProgramSnapshot::ListProcesses(std::vector<uint32_t>& pids) {
    std::lock_guard<std::mutex> g(mutex_);
    pids.clear();
    for (auto& p : processes_)
        pids.push_back(p.pid);
    return true;
}
bool FakeProgramSnapshot::FirstModule(uint32_t pid, std::string& name, std::string& path) {
    ++moduleQueries_;
    std::lock_guard<std::mutex> g(mutex_);
    for (auto& p : processes_)
        if (p.pid == pid && !p.module.empty()) {
            name = p.module;
            path = p.path;
            return true;
        }
    return false;
}
void FakeProgramSnapshot::ListTopWindows(std::vector<WindowHandle>& out, size_t max) {
    std::lock_guard<std::mutex> g(mutex_);
    out.clear();
    for (size_t i = 0; i < windows_.size() && out.size() < max; ++i)
        out.push_back(i + 1);
}
std::string FakeProgramSnapshot::WindowTitle(WindowHandle w) {
    std::lock_guard<std::mutex> g(mutex_);
    return windows_.at(w - 1).title.substr(0, 255);
}
std::string FakeProgramSnapshot::WindowClass(WindowHandle w) {
    std::lock_guard<std::mutex> g(mutex_);
    return windows_.at(w - 1).className.substr(0, 255);
}
uint32_t FakeProgramSnapshot::WindowProcessId(WindowHandle w) {
    std::lock_guard<std::mutex> g(mutex_);
    return windows_.at(w - 1).pid;
}
bool FakeProgramSnapshot::ReadVersionInfo(const std::string& path, std::vector<uint8_t>& block) {
    std::lock_guard<std::mutex> g(mutex_);
    for (auto& p : processes_)
        if (p.path == path && !p.version.empty()) {
            // the block carries the process's identifier so queries find it again
            block.assign(reinterpret_cast<const uint8_t*>(&p.pid),
                         reinterpret_cast<const uint8_t*>(&p.pid) + sizeof p.pid);
            return true;
        }
    return false;
}
bool FakeProgramSnapshot::QueryVersionText(std::vector<uint8_t>& block, const std::string& subBlock,
                                           std::string& value) {
    std::lock_guard<std::mutex> g(mutex_);
    uint32_t pid;
    if (block.size() != sizeof pid)
        return false;
    std::memcpy(&pid, block.data(), sizeof pid);
    for (auto& p : processes_)
        if (p.pid == pid) {
            auto it = p.version.find(subBlock);
            if (it == p.version.end())
                return false;
            value = it->second;
            return true;
        }
    return false;
}
void FakeProgramSnapshot::AddProcess(FakeProcess p) {
    std::lock_guard<std::mutex> g(mutex_);
    processes_.push_back(std::move(p));
}
void FakeProgramSnapshot::SetFirstProcess(FakeProcess p) {
    std::lock_guard<std::mutex> g(mutex_);
    processes_.front() = std::move(p);
}
void FakeProgramSnapshot::AddWindow(FakeWindow w) {
    std::lock_guard<std::mutex> g(mutex_);
    windows_.push_back(std::move(w));
}
std::vector<bool> FakeProgramSnapshot::PrivilegeCalls() {
    std::lock_guard<std::mutex> g(mutex_);
    return privilegeCalls_;
}

uint32_t FakeClock::TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) + offset_;
}

FakePortsGuard::FakePortsGuard() : saved_(Ports()) {
    CompanionPorts& p = Ports();
    p.hostTables = &tables;
    p.services = &services;
    p.resources = &resources;
    p.programs = &programs;
    p.clock = &clock;
}

FakePortsGuard::~FakePortsGuard() {
    Ports() = saved_;
}
