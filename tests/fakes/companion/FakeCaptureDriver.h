// Scriptable, recording capture driver for the capture's native tests, and a
// scripted adapter list (HostTables) to go with it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CaptureDriver.h"
#include "HostTables.h"

class FakeCaptureDriver : public CaptureDriver {
  public:
    enum class OpenOutcome { Ok, Null, InvalidHandle };
    struct Script {
        OpenOutcome open = OpenOutcome::Ok;
        bool failFilter = false;
        bool failBuffer = false;
        bool failTimeout = false;
        bool failReceive = false;
        bool failWait = false;
    };

    FakeCaptureDriver();
    ~FakeCaptureDriver() override;

    // Scripts how the adapter with this device name behaves when opened.
    void SetScript(const std::string& deviceName, const Script& script);
    // Queues one batch for the adapter (open or not yet open); its read event is
    // signalled while batches wait. reportedLength, when not 0, is what the driver
    // claims as ulBytesReceived (a lying driver).
    void AddBatch(const std::string& deviceName, std::vector<uint8_t> batch,
                  uint32_t reportedLength = 0);

    // Every call, in order: "open NAME", "filter NAME 32", "buffer NAME 512000",
    // "timeout NAME 0", "reset NAME", "wait NAME", "receive NAME", "close NAME",
    // "allocate", "init 256000", "free".
    std::vector<std::string> Calls() const;
    int CountCalls(const std::string& prefix) const;
    // Waits (up to timeoutMs) until at least n calls start with prefix.
    bool WaitForCalls(const std::string& prefix, int n, int timeoutMs) const;
    // While held, FreePacket (a receive thread's last call) blocks: the thread has
    // made its findings and decided to end but has not finished.
    void HoldFree(bool hold);
    bool FreeHeld() const;      // a FreePacket call is blocked now
    int OpenAdapters() const;   // opened and not yet closed
    bool MisusedClosed() const; // a call named an adapter after it was closed

    // CaptureDriver
    Adapter* OpenAdapter(const char* deviceName) override;
    bool HasValidHandle(Adapter* adapter) override;
    bool SetHwFilter(Adapter* adapter, uint32_t filter) override;
    bool SetBuff(Adapter* adapter, int32_t bytes) override;
    bool SetReadTimeout(Adapter* adapter, int32_t milliseconds) override;
    void CloseAdapter(Adapter* adapter) override;
    WaitResult WaitReadEvent(Adapter* adapter, uint32_t timeoutMs) override;
    void ResetReadEvent(Adapter* adapter) override;
    void InterruptWaits() override;
    void ClearInterrupt() override;
    Packet* AllocatePacket() override;
    void InitPacket(Packet* packet, uint8_t* buffer, uint32_t length) override;
    bool ReceivePacket(Adapter* adapter, Packet* packet, bool sync) override;
    uint32_t BytesReceived(Packet* packet) override;
    void FreePacket(Packet* packet) override;

  private:
    struct Batch {
        std::vector<uint8_t> bytes;
        uint32_t reported;
    };
    struct FakeAdapter {
        std::string name;
        Script script;
        bool closed = false;
        bool signalled = false;
    };
    struct FakePacket {
        uint8_t* buffer = nullptr;
        uint32_t length = 0;
        uint32_t received = 0;
    };

    FakeAdapter* Checked(Adapter* adapter); // records misuse of a closed adapter
    void Record(const std::string& call);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::pair<std::string, Script>> scripts_;
    std::vector<std::pair<std::string, std::deque<Batch>>> pending_;
    std::vector<std::unique_ptr<FakeAdapter>> adapters_; // kept after close to catch misuse
    std::vector<std::unique_ptr<FakePacket>> packets_;
    std::vector<std::string> calls_;
    bool interrupted_ = false;
    bool misused_ = false;
    bool holdFree_ = false;
    bool freeBlocked_ = false;

    std::deque<Batch>& PendingFor(const std::string& name);
    const Script* ScriptFor(const std::string& name) const;
};

// Adapter list as the IP helper service would report it.
class ScriptedAdapterList : public HostTables {
  public:
    bool readable = true;
    std::vector<AdapterInfoRow> rows;

    void Add(const std::string& name, const std::string& description = "Test adapter",
             std::vector<uint8_t> mac = {}) {
        AdapterInfoRow row;
        row.adapterName = name;
        row.description = description;
        row.mac = std::move(mac);
        rows.push_back(row);
    }
    bool ReadAdapters(std::vector<AdapterInfoRow>& out) override {
        out = rows;
        return readable;
    }
    bool ReadTcpTable(std::vector<TcpRow>&) override { return false; }
    bool ReadUdpTable(std::vector<UdpRow>&) override { return false; }
};
