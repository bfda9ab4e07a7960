// The companion library as the dialer sees it, faked: a CompanionModule that
// "loads" and finds an initThread, and the library side behind that initThread,
// which fills slots 2-4 of the host record with recording functions.
#pragma once

#include "CompanionModule.h"
#include "HostInterface.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The library side. The slot functions are plain function pointers, so they
// reach the one active instance through FakeLibrary::Active().
class FakeLibrary {
  public:
    FakeLibrary();  // becomes the active instance
    ~FakeLibrary(); // stops being it
    FakeLibrary(const FakeLibrary&) = delete;
    FakeLibrary& operator=(const FakeLibrary&) = delete;
    static FakeLibrary* Active();

    // Script
    int32_t initAnswer = kLibraryReady;
    bool fillSlots = true;       // initThread fills slots 2-4
    int32_t linkStateAnswer = 0; // what NotifyLinkState answers
    std::array<uint8_t, kFindingsSize> findings{};

    // Record
    int initCalls = 0;
    HostInterface* host = nullptr; // what initThread was given
    std::vector<uint32_t> linkStates;
    std::vector<std::vector<uint8_t>> requests;
    int findingsReads = 0;
    std::vector<std::string> calls; // "init", "link:<n>", "request", "findings" in order

    static int32_t HOST_CALL InitThread(HostInterface* host);
    static int32_t HOST_CALL DeliverRequest(const uint8_t* message, uint32_t length);
    static int32_t HOST_CALL ReadFindings(uint8_t* buffer, uint32_t* length);
    static int32_t HOST_CALL NotifyLinkState(uint32_t up);
};

class FakeCompanionModule : public CompanionModule {
  public:
    // Script
    bool loadable = true;
    bool exportsInitThread = true;

    // Record
    std::vector<std::string> loadedNames;
    int unloads = 0;
    bool loaded = false;

    bool Load(const char* fileName) override;
    InitThreadFn FindInitThread() override;
    void Unload() override;
};
