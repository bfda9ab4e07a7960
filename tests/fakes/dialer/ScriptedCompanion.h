// A companion library in-process: a CompanionModule whose initThread fills the
// host record with functions that record every call and answer scripted findings.
#pragma once

#include "CompanionModule.h"
#include "HostInterface.h"

#include <array>
#include <cstring>
#include <vector>

class ScriptedCompanion : public CompanionModule {
  public:
    struct Calls {
        std::vector<uint32_t> linkStates;
        std::vector<std::vector<uint8_t>> requests;
        int findingsReads = 0;
        std::vector<std::array<uint8_t, 6>> macs; // what GetAdapterMac gave on link up
        std::array<uint8_t, kFindingsSize> findings{};
        HostInterface* host = nullptr;
    };
    static Calls& State() {
        static Calls calls;
        return calls;
    }
    ScriptedCompanion() { State() = Calls{}; }

    bool Load(const char*) override { return true; }
    InitThreadFn FindInitThread() override { return &InitThread; }
    void Unload() override { ++unloads; }
    int unloads = 0;

  private:
    static int32_t HOST_CALL InitThread(HostInterface* host) {
        State().host = host;
        host->DeliverRequest = &DeliverRequest;
        host->ReadFindings = &ReadFindings;
        host->NotifyLinkState = &NotifyLinkState;
        return kLibraryReady;
    }
    static int32_t HOST_CALL DeliverRequest(const uint8_t* message, uint32_t length) {
        State().requests.emplace_back(message, message + length);
        return kRequestAccepted;
    }
    static int32_t HOST_CALL ReadFindings(uint8_t* buffer, uint32_t* length) {
        ++State().findingsReads;
        std::memcpy(buffer, State().findings.data(), kFindingsSize);
        *length = kFindingsSize;
        return 0;
    }
    static int32_t HOST_CALL NotifyLinkState(uint32_t up) {
        State().linkStates.push_back(up);
        if (up) {
            std::array<uint8_t, 6> mac{};
            State().host->GetAdapterMac(mac.data(), 6);
            State().macs.push_back(mac);
        }
        return 0;
    }
};
