// Scriptable, recording fakes of the library's ports, and a guard that installs
// them into Ports() for one test and puts the previous ports back afterwards.
// Every fake is safe to use from the detection thread and the test at once.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HostTables.h"
#include "ModuleResources.h"
#include "Ports.h"
#include "ProgramSnapshot.h"
#include "ServiceControl.h"
#include "SystemClock.h"

class FakeHostTables : public HostTables {
  public:
    bool ReadAdapters(std::vector<AdapterInfoRow>& out) override;
    bool ReadTcpTable(std::vector<TcpRow>& out) override;
    bool ReadUdpTable(std::vector<UdpRow>& out) override;

    void SetAdapters(std::vector<AdapterInfoRow> rows, bool readable = true);
    void SetTcp(std::vector<TcpRow> rows, bool readable = true);
    void SetUdp(std::vector<UdpRow> rows, bool readable = true);
    int AdapterReads() const { return adapterReads_.load(); }

  private:
    std::mutex mutex_;
    std::vector<AdapterInfoRow> adapters_;
    std::vector<TcpRow> tcp_;
    std::vector<UdpRow> udp_;
    bool adaptersOk_ = true, tcpOk_ = true, udpOk_ = true;
    std::atomic<int> adapterReads_{0};
};

// An adapter row with `addresses` dotted texts (masks 255.255.255.0).
AdapterInfoRow MakeAdapter(std::vector<uint8_t> mac, std::vector<std::string> addresses,
                           std::string description = "Fake Ethernet");
// A port number as the system's tables hold it: network order in the low 16 bits.
uint32_t NetPort(uint16_t hostPort);

class FakeServiceControl : public ServiceControl {
  public:
    uint32_t QueryServiceState(const std::string& name) override;
    void SetState(const std::string& name, uint32_t state);
    std::vector<std::string> Queried();

  private:
    std::mutex mutex_;
    std::map<std::string, uint32_t> states_;
    std::vector<std::string> queried_;
};

class FakeModuleResources : public ModuleResources {
  public:
    bool ReadRawData(const std::string& moduleName, int resourceId,
                     std::vector<uint8_t>& out) override;
    void Set(const std::string& moduleName, int resourceId, std::vector<uint8_t> bytes);

  private:
    std::mutex mutex_;
    std::map<std::pair<std::string, int>, std::vector<uint8_t>> resources_;
};

struct FakeProcess {
    uint32_t pid = 0;
    std::string module; // first module's name; empty = module snapshot fails
    std::string path;
    // version values by sub-block, e.g. "\\StringFileInfo\\040904b0\\CompanyName"
    std::map<std::string, std::string> version;
};

struct FakeWindow {
    std::string title;
    std::string className;
    uint32_t pid = 0;
};

class FakeProgramSnapshot : public ProgramSnapshot {
  public:
    void SetDebugPrivilege(bool enabled) override;
    bool ListProcesses(std::vector<uint32_t>& pids) override;
    bool FirstModule(uint32_t pid, std::string& name, std::string& path) override;
    void ListTopWindows(std::vector<WindowHandle>& out, size_t max) override;
    std::string WindowTitle(WindowHandle window) override;
    std::string WindowClass(WindowHandle window) override;
    uint32_t WindowProcessId(WindowHandle window) override;
    bool ReadVersionInfo(const std::string& path, std::vector<uint8_t>& block) override;
    bool QueryVersionText(std::vector<uint8_t>& block, const std::string& subBlock,
                          std::string& value) override;

    // The first process is the one a snapshot reports first (skipped by the
    // detector); AddProcess appends after it.
    void AddProcess(FakeProcess p);
    void SetFirstProcess(FakeProcess p);
    void AddWindow(FakeWindow w);
    std::vector<bool> PrivilegeCalls();
    int ModuleQueries() const { return moduleQueries_.load(); }

  private:
    std::mutex mutex_;
    std::vector<FakeProcess> processes_{FakeProcess{0, "[System Process]", "", {}}};
    std::vector<FakeWindow> windows_;
    std::vector<bool> privilegeCalls_;
    std::atomic<int> moduleQueries_{0};
};

// Tick count from the real steady clock plus an offset the test may advance.
class FakeClock : public SystemClock {
  public:
    uint32_t TickCount() override;
    uint64_t HighResolution() override { return seed_.fetch_add(1); }
    void Advance(uint32_t ms) { offset_ += ms; }
    void SetSeed(uint64_t seed) { seed_ = seed; }

  private:
    std::atomic<uint32_t> offset_{0};
    std::atomic<uint64_t> seed_{12345};
};

// Installs the fakes above for one test; restores the previous ports after.
class FakePortsGuard {
  public:
    FakePortsGuard();
    ~FakePortsGuard();
    FakeHostTables tables;
    FakeServiceControl services;
    FakeModuleResources resources;
    FakeProgramSnapshot programs;
    FakeClock clock;

  private:
    CompanionPorts saved_;
};
