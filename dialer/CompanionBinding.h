// The dialer's side of the contract with Ostrel.dll: loads it, hands it the host
// record, reports link changes, delivers the link request once per connection and
// turns findings into catalogue messages.
#pragma once

#include "CompanionModule.h"
#include "HostInterface.h"

#include <cstdint>
#include <string>

constexpr const char* kCompanionFile = "Ostrel.dll";

// Where GetAdapterMac finds the hardware address of the adapter chosen for the
// access link (the main dialog's adapter list). Not owned.
class AdapterMacSource {
  public:
    virtual ~AdapterMacSource() = default;
    virtual void GetSelectedMac(uint8_t mac[6]) = 0;
};

class CompanionBinding {
  public:
    // LoadCompanion: loads the library and calls initThread with the host record.
    explicit CompanionBinding(CompanionModule& module);
    // UnloadCompanion: unloads the library (no call into it is made).
    ~CompanionBinding();
    CompanionBinding(const CompanionBinding&) = delete;
    CompanionBinding& operator=(const CompanionBinding&) = delete;

    bool IsReady() const { return m_bReady; }
    // Why the library is not ready, for the connection log; "" when it is.
    const std::string& Problem() const { return m_strProblem; }
    int NotifyLink(bool up);
    // Fills `text` with the finding lines ("107", "108", "110", each with "\n");
    // true when at least one was added.
    bool CollectFindings(std::string& text);
    // The findings that CollectFindings last reported, by byte, for the connection
    // log ("byte 13 (sharing service), byte 21 (BitTorrent traffic)"); "" for none.
    std::string DescribeFindings() const;

    // The host callbacks placed in slots 0 and 1.
    static int32_t HOST_CALL SendReply(const uint8_t* message, uint32_t length);
    static int32_t HOST_CALL GetAdapterMac(uint8_t* mac, uint32_t length);
    static void SetMacSource(AdapterMacSource* source);

  private:
    CompanionModule& m_module;
    bool m_bReady = false;
    HostInterface m_host{};
    InitThreadFn m_pInitThread = nullptr;
    bool m_bLinkUpNotified = false;
    uint8_t m_request[kLinkRequestBuffer]{};
    uint32_t m_dwRequestLength = 0;
    uint8_t m_findings[204]{};
    uint32_t m_dwFindingsLength = 0;
    std::string m_strProblem;
};
