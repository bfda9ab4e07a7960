#include "Win32Ports.h"

#include <windows.h>

#include <mutex>
#include <string>

#include "CaptureDriver.h"
#include "ScopedHandle.h"
#include "packet32.h"

namespace {

using namespace packet32;

// The capture driver's user library from the driver's own folder under the system
// folder when it is there (Npcap puts it in System32\Npcap unless its WinPcap
// compatibility mode is chosen; a 32-bit program on 64-bit Windows reads that as
// SysWOW64\Npcap), else by the usual search, where the system folders come before
// the current one. The dialer finds it the same way, so both use the same module.
HMODULE LoadCaptureLibrary() {
    char system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::string own = std::string(system, length) + "\\Npcap\\packet.dll";
        if (GetFileAttributesA(own.c_str()) != INVALID_FILE_ATTRIBUTES) {
            // Its own dependencies from its own folder first; a plain load of the
            // full path where the system refuses that flag.
            HMODULE module = LoadLibraryExA(own.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
            if (module == nullptr)
                module = LoadLibraryA(own.c_str());
            if (module != nullptr)
                return module;
        }
    }
    return LoadLibraryA("packet.dll");
}

class Win32CaptureDriver : public CaptureDriver {
  public:
    Win32CaptureDriver() : interrupt_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    // The driver lives as long as the library, which ends its capture first; in
    // the DLL neither is ever destroyed (the module is pinned).

    Adapter* OpenAdapter(const char* deviceName) override {
        if (!Load())
            return nullptr;
        return reinterpret_cast<Adapter*>(open_(deviceName));
    }
    bool HasValidHandle(Adapter* adapter) override {
        return Record(adapter)->hFile != INVALID_HANDLE_VALUE;
    }
    bool SetHwFilter(Adapter* adapter, uint32_t filter) override {
        return setHwFilter_(Record(adapter), filter) != 0;
    }
    bool SetBuff(Adapter* adapter, int32_t bytes) override {
        return setBuff_(Record(adapter), bytes) != 0;
    }
    bool SetReadTimeout(Adapter* adapter, int32_t milliseconds) override {
        return setReadTimeout_(Record(adapter), milliseconds) != 0;
    }
    void CloseAdapter(Adapter* adapter) override { close_(Record(adapter)); }

    WaitResult WaitReadEvent(Adapter* adapter, uint32_t timeoutMs) override {
        HANDLE readEvent = Record(adapter)->ReadEvent;
        if (readEvent == nullptr || !interrupt_)
            return WaitResult::Failed;
        HANDLE handles[2] = {readEvent, interrupt_.Get()};
        switch (WaitForMultipleObjects(2, handles, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0:
            return WaitResult::Signalled;
        case WAIT_OBJECT_0 + 1:
            return WaitResult::Interrupted;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
        }
    }
    void ResetReadEvent(Adapter* adapter) override {
        if (Record(adapter)->ReadEvent != nullptr)
            ResetEvent(Record(adapter)->ReadEvent);
    }
    void InterruptWaits() override {
        if (interrupt_)
            SetEvent(interrupt_.Get());
    }
    void ClearInterrupt() override {
        if (interrupt_)
            ResetEvent(interrupt_.Get());
    }

    Packet* AllocatePacket() override {
        if (!Load())
            return nullptr;
        return reinterpret_cast<Packet*>(allocate_());
    }
    void InitPacket(Packet* packet, uint8_t* buffer, uint32_t length) override {
        init_(reinterpret_cast<PACKET*>(packet), buffer, length);
    }
    bool ReceivePacket(Adapter* adapter, Packet* packet, bool sync) override {
        return receive_(Record(adapter), reinterpret_cast<PACKET*>(packet), sync ? 1 : 0) != 0;
    }
    uint32_t BytesReceived(Packet* packet) override {
        return reinterpret_cast<PACKET*>(packet)->ulBytesReceived;
    }
    void FreePacket(Packet* packet) override { free_(reinterpret_cast<PACKET*>(packet)); }

  private:
    static ADAPTER* Record(Adapter* adapter) { return reinterpret_cast<ADAPTER*>(adapter); }

    template <class Fn> bool Resolve(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_.Get(), name)));
        return fn != nullptr;
    }

    // Loads packet.dll once. Records only come from a loaded library, so every
    // other call can rely on the entry points.
    bool Load() {
        std::lock_guard<std::mutex> guard(loadLock_);
        if (tried_)
            return ready_;
        tried_ = true;
        module_.Reset(LoadCaptureLibrary());
        if (!module_)
            return false;
        ready_ = Resolve(open_, "PacketOpenAdapter") &&
                 Resolve(setHwFilter_, "PacketSetHwFilter") && Resolve(setBuff_, "PacketSetBuff") &&
                 Resolve(setReadTimeout_, "PacketSetReadTimeout") &&
                 Resolve(close_, "PacketCloseAdapter") &&
                 Resolve(allocate_, "PacketAllocatePacket") && Resolve(init_, "PacketInitPacket") &&
                 Resolve(receive_, "PacketReceivePacket") && Resolve(free_, "PacketFreePacket");
        return ready_;
    }

    std::mutex loadLock_;
    bool tried_ = false;
    bool ready_ = false;
    ScopedModule module_;
    ScopedKernelHandle interrupt_;
    PacketOpenAdapterFn open_ = nullptr;
    PacketSetHwFilterFn setHwFilter_ = nullptr;
    PacketSetBuffFn setBuff_ = nullptr;
    PacketSetReadTimeoutFn setReadTimeout_ = nullptr;
    PacketCloseAdapterFn close_ = nullptr;
    PacketAllocatePacketFn allocate_ = nullptr;
    PacketInitPacketFn init_ = nullptr;
    PacketReceivePacketFn receive_ = nullptr;
    PacketFreePacketFn free_ = nullptr;
};

} // namespace

std::unique_ptr<CaptureDriver> CreateWin32CaptureDriver() {
    return std::make_unique<Win32CaptureDriver>();
}
