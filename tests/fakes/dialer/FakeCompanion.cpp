#include "FakeCompanion.h"

#include <cstring>

namespace {
FakeLibrary* g_active = nullptr;
}

FakeLibrary::FakeLibrary() {
    g_active = this;
}
FakeLibrary::~FakeLibrary() {
    if (g_active == this)
        g_active = nullptr;
}
FakeLibrary* FakeLibrary::Active() {
    return g_active;
}

int32_t HOST_CALL FakeLibrary::InitThread(HostInterface* host) {
    FakeLibrary* lib = Active();
    if (lib == nullptr)
        return kLibraryRefuses;
    ++lib->initCalls;
    lib->calls.push_back("init");
    lib->host = host;
    if (lib->fillSlots && host != nullptr) {
        host->DeliverRequest = &FakeLibrary::DeliverRequest;
        host->ReadFindings = &FakeLibrary::ReadFindings;
        host->NotifyLinkState = &FakeLibrary::NotifyLinkState;
    }
    return lib->initAnswer;
}

int32_t HOST_CALL FakeLibrary::DeliverRequest(const uint8_t* message, uint32_t length) {
    FakeLibrary* lib = Active();
    lib->calls.push_back("request");
    lib->requests.emplace_back(message, message + length);
    return kRequestAccepted;
}

int32_t HOST_CALL FakeLibrary::ReadFindings(uint8_t* buffer, uint32_t* length) {
    FakeLibrary* lib = Active();
    lib->calls.push_back("findings");
    ++lib->findingsReads;
    std::memcpy(buffer, lib->findings.data(), lib->findings.size());
    *length = uint32_t(lib->findings.size());
    return 0;
}

int32_t HOST_CALL FakeLibrary::NotifyLinkState(uint32_t up) {
    FakeLibrary* lib = Active();
    lib->calls.push_back("link:" + std::to_string(up));
    lib->linkStates.push_back(up);
    return lib->linkStateAnswer;
}

bool FakeCompanionModule::Load(const char* fileName) {
    loadedNames.emplace_back(fileName);
    loaded = loadable;
    return loadable;
}

InitThreadFn FakeCompanionModule::FindInitThread() {
    return loaded && exportsInitThread ? &FakeLibrary::InitThread : nullptr;
}

void FakeCompanionModule::Unload() {
    if (loaded)
        ++unloads;
    loaded = false;
}
