#include "CompanionBinding.h"

#include "catalogue.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {
std::atomic<AdapterMacSource*> g_macSource{nullptr};
}

CompanionBinding::CompanionBinding(CompanionModule& module) : m_module(module) {
    m_bReady = false;
    m_host = HostInterface{};
    m_host.SendReply = &CompanionBinding::SendReply;
    m_host.GetAdapterMac = &CompanionBinding::GetAdapterMac;
    if (!m_module.Load(kCompanionFile)) {
        m_strProblem = "Ostrel.dll could not be loaded";
        return;
    }
    m_pInitThread = m_module.FindInitThread();
    if (m_pInitThread == nullptr) {
        m_bLinkUpNotified = false;
        m_strProblem = "Ostrel.dll has no initThread";
        return;
    }
    const int32_t answer = m_pInitThread(&m_host);
    m_bReady = answer == kLibraryReady;
    if (!m_bReady)
        m_strProblem = "initThread answered " + std::to_string(answer);
    m_bLinkUpNotified = false;
}

CompanionBinding::~CompanionBinding() {
    m_module.Unload();
}

int CompanionBinding::NotifyLink(bool up) {
    if (!m_bReady)
        return 0;
    if (up) {
        if (m_bLinkUpNotified)
            return 1;
        if (m_host.NotifyLinkState == nullptr || m_host.NotifyLinkState(1) != 0)
            return 0;
        m_bLinkUpNotified = true;
        m_dwRequestLength = uint32_t(BuildLinkRequest(m_request));
        if (m_host.DeliverRequest != nullptr)
            m_host.DeliverRequest(m_request, m_dwRequestLength);
        return 1;
    }
    if (m_bLinkUpNotified) {
        if (m_host.NotifyLinkState != nullptr)
            m_host.NotifyLinkState(0);
        m_bLinkUpNotified = false;
    }
    return 1;
}

bool CompanionBinding::CollectFindings(std::string& text) {
    std::memset(m_findings, 0, sizeof m_findings);
    if (m_bReady && m_host.ReadFindings != nullptr)
        m_host.ReadFindings(m_findings, &m_dwFindingsLength);
    DetectionFindings found;
    std::memcpy(&found, m_findings, sizeof found);
    text.clear();
    if (found.serviceRunning != 0)
        text += FindingText(FindingKey::SharingService) + "\n";
    if (found.programFeatures != 0 || found.localProxy != 0)
        text += FindingText(FindingKey::ProxyService) + "\n";
    if (found.bitTorrent != 0)
        text += FindingText(FindingKey::BitTorrent) + "\n";
    return !text.empty();
}

std::string CompanionBinding::DescribeFindings() const {
    static const struct {
        size_t byte;
        const char* what;
    } kReported[] = {
        {offsetof(DetectionFindings, serviceRunning), "sharing service running"},
        {offsetof(DetectionFindings, programFeatures), "sharing or proxy program"},
        {offsetof(DetectionFindings, localProxy), "local port answering as a proxy"},
        {offsetof(DetectionFindings, bitTorrent), "BitTorrent traffic"},
    };
    std::string text;
    for (const auto& finding : kReported) {
        if (m_findings[finding.byte] == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += "byte " + std::to_string(finding.byte) + " (" + finding.what + ")";
    }
    return text;
}

int32_t HOST_CALL CompanionBinding::SendReply(const uint8_t*, uint32_t) {
    return 1;
}

int32_t HOST_CALL CompanionBinding::GetAdapterMac(uint8_t* mac, uint32_t length) {
    // The library always offers 6 bytes; a smaller buffer gets nothing rather than
    // a write past its end.
    if (mac == nullptr || length < 6)
        return 1;
    uint8_t selected[6] = {};
    if (AdapterMacSource* source = g_macSource.load())
        source->GetSelectedMac(selected);
    std::memcpy(mac, selected, 6);
    return 0;
}

void CompanionBinding::SetMacSource(AdapterMacSource* source) {
    g_macSource = source;
}
