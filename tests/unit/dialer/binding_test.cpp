// The dialer's binding of the companion library: what it hands over, when it
// tells the library about the link, and which findings become which messages.
#include "CompanionBinding.h"

#include "settings.h"

#include "ScratchDir.h"
#include "dialer/FakeCompanion.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const std::vector<uint8_t> kLinkRequest = {0x01, 0x0A, 0x15, 0x00, 0x1B, 0x00,
                                           0x1C, 0x00, 0x1D, 0x00, 0x20, 0x00};

class Binding : public InScratchDir {
  protected:
    FakeCompanionModule module;
    FakeLibrary library;
};

TEST_F(Binding, HandsOverTheRecordWithTheDialerSlots) {
    CompanionBinding binding(module);
    ASSERT_TRUE(binding.IsReady());
    ASSERT_NE(library.host, nullptr);
    EXPECT_EQ(library.host->SendReply, &CompanionBinding::SendReply);
    EXPECT_EQ(library.host->GetAdapterMac, &CompanionBinding::GetAdapterMac);
    EXPECT_EQ(module.loadedNames, std::vector<std::string>{"Ostrel.dll"});
}

TEST_F(Binding, LinkRequestOncePerLinkUp) {
    CompanionBinding binding(module);
    EXPECT_EQ(binding.NotifyLink(true), 1);
    EXPECT_EQ(binding.NotifyLink(true), 1); // already up: nothing sent
    EXPECT_EQ(library.calls, (std::vector<std::string>{"init", "link:1", "request"}));
    ASSERT_EQ(library.requests.size(), 1u);
    EXPECT_EQ(library.requests[0], kLinkRequest);

    EXPECT_EQ(binding.NotifyLink(false), 1);
    EXPECT_EQ(binding.NotifyLink(false), 1); // already down: nothing sent
    EXPECT_EQ(binding.NotifyLink(true), 1);
    EXPECT_EQ(library.calls, (std::vector<std::string>{"init", "link:1", "request", "link:0",
                                                       "link:1", "request"}));
    ASSERT_EQ(library.requests.size(), 2u);
    EXPECT_EQ(library.requests[1], kLinkRequest);
}

TEST_F(Binding, DownWithoutUpSendsNothing) {
    CompanionBinding binding(module);
    EXPECT_EQ(binding.NotifyLink(false), 1);
    EXPECT_EQ(library.calls, std::vector<std::string>{"init"});
}

TEST_F(Binding, RefusedLinkUpSendsNoRequestAndIsTriedAgain) {
    CompanionBinding binding(module);
    library.linkStateAnswer = 1;
    EXPECT_EQ(binding.NotifyLink(true), 0);
    EXPECT_TRUE(library.requests.empty());
    EXPECT_EQ(binding.NotifyLink(false), 1); // never up: no link down sent
    library.linkStateAnswer = 0;
    EXPECT_EQ(binding.NotifyLink(true), 1);
    EXPECT_EQ(library.calls, (std::vector<std::string>{"init", "link:1", "link:1", "request"}));
}

TEST_F(Binding, NotReadyCallsNothing) {
    library.initAnswer = kLibraryRefuses;
    CompanionBinding binding(module);
    EXPECT_FALSE(binding.IsReady());
    EXPECT_EQ(binding.NotifyLink(true), 0);
    EXPECT_EQ(binding.NotifyLink(false), 0);
    std::string text = "old";
    EXPECT_FALSE(binding.CollectFindings(text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(library.calls, std::vector<std::string>{"init"});
}

struct FindingsCase {
    const char* name;
    std::vector<int> bytes; // bytes of the findings record set to a non-zero value
    std::string text;
};
void PrintTo(const FindingsCase& c, std::ostream* os) {
    *os << c.name;
}

class Findings : public Binding, public ::testing::WithParamInterface<FindingsCase> {};

const std::string k107 = "Windows ICS service is running, violate server's request.\n";
const std::string k108 = "Proxy service is running, violate server's request.\n";
const std::string k110 = "BT software is running, violate server's request.\n";

TEST_P(Findings, BecomeMessageLines) {
    const FindingsCase& c = GetParam();
    for (int b : c.bytes)
        library.findings[size_t(b)] = b == 5 ? 0x7f : 1;
    CompanionBinding binding(module);
    std::string text = "stale text";
    EXPECT_EQ(binding.CollectFindings(text), !c.text.empty());
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(library.findingsReads, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Findings,
    ::testing::Values(FindingsCase{"None", {}, ""}, FindingsCase{"AdapterCountAlone", {1}, ""},
                      FindingsCase{"UnreadBytes", {0, 1, 2, 3, 4, 5, 16, 17, 20}, ""},
                      FindingsCase{"Service", {13}, k107}, FindingsCase{"Features", {14}, k108},
                      FindingsCase{"Proxy", {15}, k108},
                      FindingsCase{"FeaturesAndProxyOneLine", {14, 15}, k108},
                      FindingsCase{"Torrent", {21}, k110},
                      FindingsCase{"InOrder", {21, 15, 13}, k107 + k108 + k110},
                      FindingsCase{"All", {1, 13, 14, 15, 16, 21}, k107 + k108 + k110}),
    [](const ::testing::TestParamInfo<FindingsCase>& info) { return info.param.name; });

TEST_F(Binding, FindingsWordingComesFromTheTextsFileAtEachCall) {
    library.findings[13] = 1;
    CompanionBinding binding(module);
    std::string text;
    ASSERT_TRUE(binding.CollectFindings(text));
    EXPECT_EQ(text, k107);
    WriteFile(kTextsFile, "107 = Sharing service found\n");
    ASSERT_TRUE(binding.CollectFindings(text));
    EXPECT_EQ(text, "Sharing service found\n");
}

TEST_F(Binding, FindingsBufferIsZeroedBeforeEachRead) {
    library.findings[21] = 1;
    CompanionBinding binding(module);
    std::string text;
    EXPECT_TRUE(binding.CollectFindings(text));
    library.findings[21] = 0;
    EXPECT_FALSE(binding.CollectFindings(text));
    EXPECT_EQ(text, "");
}

TEST(HostCallbacks, SendReplyChangesNothing) {
    const uint8_t reply[] = {0x02, 0x02, 0x15, 0x00};
    EXPECT_EQ(CompanionBinding::SendReply(reply, sizeof reply), 1);
    EXPECT_EQ(CompanionBinding::SendReply(nullptr, 0), 1);
}

class FixedMac : public AdapterMacSource {
  public:
    void GetSelectedMac(uint8_t mac[6]) override {
        const uint8_t selected[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
        std::memcpy(mac, selected, 6);
    }
};

TEST(HostCallbacks, GetAdapterMacCopiesTheSelectedAdapter) {
    FixedMac source;
    CompanionBinding::SetMacSource(&source);
    uint8_t buffer[8];
    std::memset(buffer, 0xee, sizeof buffer);
    EXPECT_EQ(CompanionBinding::GetAdapterMac(buffer, 6), 0);
    const uint8_t expected[8] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0xee, 0xee};
    EXPECT_EQ(std::memcmp(buffer, expected, 8), 0);

    std::memset(buffer, 0xee, sizeof buffer); // too small: nothing written
    EXPECT_NE(CompanionBinding::GetAdapterMac(buffer, 5), 0);
    EXPECT_EQ(buffer[0], 0xee);
    CompanionBinding::SetMacSource(nullptr);
}

} // namespace
