// The adapter list: device enumeration, registry look-up, the table's bounds, the
// Ethernet marking and the phonebook entry record.
#include "dialer/FakeDialerPorts.h"
#include "RasCheck.h"

#include <gtest/gtest.h>

#include "ScratchDir.h"

namespace {

class RasCheckTest : public ::testing::Test {
  protected:
    ScratchDir folder; // an empty folder: the catalogue texts are the defaults
    FakeRasService ras;
    FakeAdapterSources sources;
    CRasCheck check{ras, sources, sources, sources};

    std::vector<std::string> Refresh() {
        std::vector<std::string> shown;
        EXPECT_TRUE(check.RefreshAdapters([&](const char* d) { shown.push_back(d); }));
        return shown;
    }
    // n adapters {guid-i} described "Adapter i", Ethernet with MAC 02:00:00:00:00:i.
    void AddAdapters(int n, uint32_t type = 6) {
        for (int i = 0; i < n; ++i) {
            const std::string guid = "{GUID-" + std::to_string(i) + "}";
            sources.names.push_back(FakeAdapterSources::DriverName(guid));
            sources.AddRegistryAdapter(guid,
                                       FakeAdapterSources::Ascii("Adapter " + std::to_string(i)));
            sources.AddIpRow(guid, type, {2, 0, 0, 0, 0, uint8_t(i)});
        }
    }
};

TEST_F(RasCheckTest, ServiceWithoutDevicesAnsweringZeroBytesGivesAnEmptyList) {
    // The size query answers 0: the block must still hold the first record's dwSize.
    ras.sizeQueryAnswersZero = true;
    EXPECT_TRUE(check.EnumRasDevices());
    EXPECT_EQ(check.DeviceCount(), 0u);
    ASSERT_EQ(ras.enumBlockSizes.size(), 1u);
    EXPECT_GE(ras.enumBlockSizes[0], sizeof(RasDevInfoRecord));
}

TEST_F(RasCheckTest, DeviceEnumerationGivesUpAfterFiveTooSmallAnswers) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    ras.tooSmallAnswers = 5;
    EXPECT_FALSE(check.EnumRasDevices());
    EXPECT_EQ(ras.enumBlockSizes.size(), 5u);

    ras.tooSmallAnswers = 4;
    ras.enumBlockSizes.clear();
    EXPECT_TRUE(check.EnumRasDevices());
    EXPECT_EQ(ras.enumBlockSizes.size(), 5u);
    EXPECT_EQ(check.DeviceCount(), 1u);
}

TEST_F(RasCheckTest, DeviceCountBeyondTheBlockIsBounded) {
    ras.AddDevice("modem", "Modem");
    ras.countOverride = 1000;
    EXPECT_TRUE(check.EnumRasDevices());
    EXPECT_EQ(check.DeviceCount(), 1u);
}

TEST_F(RasCheckTest, PppoeDeviceIsTheLastOfExactlyThatType) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> devices;
        bool found;
        const char* name;
    } cases[] = {
        {{{"modem", "Modem"}, {"pppoe", "WAN Miniport (PPPOE)"}}, true, "WAN Miniport (PPPOE)"},
        {{{"pppoe", "First"}, {"pppoe", "Second"}, {"isdn", "Third"}}, true, "Second"},
        {{{"PPPoE", "Capitals"}, {"pppoe2", "Longer"}}, false, ""},
        {{}, false, ""},
    };
    for (const Case& c : cases) {
        FakeRasService service;
        for (auto& d : c.devices)
            service.AddDevice(d.first, d.second);
        CRasCheck fresh(service, sources, sources, sources);
        fresh.FindPppoeDevice();
        EXPECT_EQ(fresh.HasPppoeDevice(), c.found) << c.name;
        EXPECT_EQ(fresh.PppoeDeviceName(), c.name);
    }
}

TEST_F(RasCheckTest, PppoeFlagStaysSetWhenTheDeviceLaterDisappears) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    check.FindPppoeDevice();
    ras.devices.clear();
    check.FindPppoeDevice();
    EXPECT_TRUE(check.HasPppoeDevice());
    EXPECT_EQ(check.PppoeDeviceName(), "WAN Miniport (PPPOE)");
}

TEST_F(RasCheckTest, RegistryValuesAreReadOnlyWithinTheBytesThatExist) {
    // Export and DriverDesc without terminators, exactly as many bytes as read.
    sources.subkeys = {"0001", "0002"};
    sources.values["0001\\Linkage|Export"] = FakeAdapterSources::Wide(u"\\Dev", false);
    sources.values["0001|DriverDesc"] = FakeAdapterSources::Wide(u"Too short", false);
    sources.values["0002\\Linkage|Export"] = FakeAdapterSources::Wide(u"\\Device\\{A}", false);
    sources.values["0002|DriverDesc"] = FakeAdapterSources::Wide(u"Intel PRO/1000", false);
    uint32_t index = 0;
    std::string desc;
    EXPECT_TRUE(check.LookUpAdapterDesc("\\Device\\NPF_{A}", index, desc));
    EXPECT_EQ(desc, "Intel PRO/1000");
    EXPECT_EQ(index, 2u); // one past the subkey that matched
    EXPECT_EQ(sources.openKeys, 0);

    // An Export under eight characters never matches, not even "\Dev" + "NPF_".
    index = 0;
    EXPECT_FALSE(check.LookUpAdapterDesc("\\DevNPF_", index, desc));
    EXPECT_FALSE(check.LookUpAdapterDesc("\\Dev", index = 0, desc));
}

TEST_F(RasCheckTest, DescriptionIsInTheCodePageAndCutByWholeCharacters) {
    struct Case {
        std::u16string desc;
        size_t bytes;
    } cases[] = {
        {u"Realtek \u7f51\u5361", 12},                // 8 ASCII + 2 double-byte
        {std::u16string(100, u'\u7f51'), 128},        // 200 bytes: 64 whole characters
        {u"x" + std::u16string(100, u'\u7f51'), 127}, // 63 characters after the x
        {std::u16string(200, u'a'), 128},
    };
    for (const Case& c : cases) {
        FakeAdapterSources src;
        src.AddRegistryAdapter("{B}", c.desc);
        CRasCheck fresh(ras, src, src, src);
        uint32_t index = 0;
        std::string desc;
        ASSERT_TRUE(fresh.LookUpAdapterDesc("\\Device\\NPF_{B}", index, desc));
        EXPECT_EQ(desc.size(), c.bytes);
        // It is the code page's bytes of the leading characters, never UTF-8.
        const std::string whole = src.ToCodePage(c.desc);
        EXPECT_EQ(whole.compare(0, desc.size(), desc), 0);
    }
}

TEST_F(RasCheckTest, CodePageDescriptionMatchesTheDeviceNameOfTheSameAdapter) {
    // No PPPoE device: an adapter is listed only under a device name equal to its
    // description, both in the 8-bit code page.
    const std::u16string desc = u"\u7f51\u5361 PCI";
    sources.AddRegistryAdapter("{C}", desc);
    sources.names = {FakeAdapterSources::DriverName("{C}")};
    ras.AddDevice("isdn", sources.ToCodePage(desc).c_str());
    EXPECT_EQ(Refresh(), std::vector<std::string>{sources.ToCodePage(desc)});
}

TEST_F(RasCheckTest, RemoteAccessMiniportsAreNotListed) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    sources.AddRegistryAdapter("{W}", u"WAN Miniport", "ndiswan");
    sources.AddRegistryAdapter("{E}", u"Ethernet", "e1000");
    sources.names = {FakeAdapterSources::DriverName("{W}"), FakeAdapterSources::DriverName("{E}")};
    EXPECT_EQ(Refresh(), std::vector<std::string>{"Ethernet"});
}

TEST_F(RasCheckTest, WithPppoeDeviceEveryDescribedAdapterIsListed) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    AddAdapters(2);
    sources.names.push_back("\\Device\\NPF_{UNKNOWN}"); // no registry entry
    EXPECT_EQ(Refresh(), (std::vector<std::string>{"Adapter 0", "Adapter 1"}));
    EXPECT_EQ(check.SelectedIndex(), 0);
    EXPECT_EQ(sources.sizeGiven, 4096u);
}

TEST_F(RasCheckTest, WithoutPppoeDeviceOnlyAdaptersNamedLikeADeviceAreListed) {
    AddAdapters(3);
    ras.AddDevice("isdn", "Adapter 1");
    EXPECT_EQ(Refresh(), std::vector<std::string>{"Adapter 1"});
    std::string reason;
    ASSERT_TRUE(check.CreatePppoeEntry("PPPOE Connection", reason));
    const RasEntryRecord& e = ras.entryWrites.back();
    EXPECT_STREQ(e.szDeviceType, "isdn");
    EXPECT_STREQ(e.szDeviceName, "Adapter 1");
    EXPECT_EQ(e.dwType, 1u);
}

TEST_F(RasCheckTest, TableHoldsTwentyAdaptersAndIgnoresTheRest) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    AddAdapters(25);
    const auto shown = Refresh();
    EXPECT_EQ(shown.size(), 20u);
    EXPECT_EQ(check.AdapterCount(), 20);
    EXPECT_EQ(shown.back(), "Adapter 19");
    check.SelectAdapter(19);
    EXPECT_EQ(check.GetSelectedMac()[5], 19);
}

TEST_F(RasCheckTest, NameTooLongForTheItemIsNotListed) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    const std::string guid(300, 'g');
    sources.AddRegistryAdapter(guid, u"Long");
    sources.names = {FakeAdapterSources::DriverName(guid)};
    EXPECT_TRUE(Refresh().empty());
    EXPECT_EQ(check.SelectedIndex(), -1);
}

TEST_F(RasCheckTest, NoNamesFromTheDriverLeavesTheChoiceAlone) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    AddAdapters(2);
    Refresh();
    check.SelectAdapter(1);
    sources.namesOk = false;
    EXPECT_FALSE(check.RefreshAdapters(nullptr));
    EXPECT_EQ(check.AdapterCount(), 0);
    EXPECT_EQ(check.SelectedIndex(), 1);

    sources.namesOk = true;
    sources.legacy = true; // Windows 9x: nothing listed, but no failure
    EXPECT_TRUE(check.RefreshAdapters(nullptr));
    EXPECT_EQ(check.AdapterCount(), 0);
    EXPECT_EQ(check.SelectedIndex(), -1);
}

TEST_F(RasCheckTest, EthernetMarkingFollowsTheIpHelperTable) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    AddAdapters(3);
    sources.rows.clear();
    sources.AddIpRow("{GUID-0}", 6, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22});
    sources.AddIpRow("{GUID-1}", 71, {1, 2, 3, 4, 5, 6}); // wireless: not Ethernet
    Refresh();                                            // {GUID-2} not reported at all
    const uint8_t mac0[6] = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}, zero[6] = {};
    EXPECT_TRUE(check.Adapter(0)->bEthernet);
    EXPECT_EQ(std::memcmp(check.Adapter(0)->bMac, mac0, 6), 0);
    for (int i : {1, 2}) {
        EXPECT_FALSE(check.Adapter(i)->bEthernet) << i;
        EXPECT_EQ(std::memcmp(check.Adapter(i)->bMac, zero, 6), 0) << i;
    }
}

TEST_F(RasCheckTest, SelectionDecidesEntryAndAddress) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    AddAdapters(3);
    sources.rows[2].type = 71;
    Refresh();
    std::string reason = "unchanged";
    check.SelectAdapter(1);
    EXPECT_EQ(check.GetSelectedMac()[5], 1);
    EXPECT_TRUE(check.CreatePppoeEntry("PPPOE Connection", reason));
    EXPECT_EQ(reason, "unchanged");

    check.SelectAdapter(2);
    EXPECT_FALSE(check.CreatePppoeEntry("PPPOE Connection", reason));
    EXPECT_EQ(reason, "Please select ethernet adapter !");

    // Indices outside the list are not taken.
    check.SelectAdapter(3);
    check.SelectAdapter(-1);
    EXPECT_EQ(check.SelectedIndex(), 2);
}

TEST_F(RasCheckTest, EntryRecordIsTheBroadbandPppoeEntry) {
    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    AddAdapters(1);
    Refresh();
    std::string reason;
    ASSERT_TRUE(check.CreatePppoeEntry("PPPOE Connection", reason));
    ASSERT_EQ(ras.entrySizes.back(), 2088u);
    const RasEntryRecord& e = ras.entries.at("PPPOE Connection");
    EXPECT_EQ(e.dwSize, 2088u);
    EXPECT_EQ(e.dwfOptions, 0x310u);
    EXPECT_EQ(e.dwfNetProtocols, 4u);
    EXPECT_EQ(e.dwFramingProtocol, 1u);
    EXPECT_EQ(e.dwType, 5u);
    EXPECT_STREQ(e.szDeviceType, "pppoe");
    EXPECT_STREQ(e.szDeviceName, "WAN Miniport (PPPOE)");
    // Everything else stays zero.
    RasEntryRecord expected;
    std::memset(&expected, 0, sizeof expected);
    expected.dwSize = 2088, expected.dwfOptions = 0x310, expected.dwfNetProtocols = 4;
    expected.dwFramingProtocol = 1, expected.dwType = 5;
    std::strcpy(expected.szDeviceType, "pppoe");
    std::strcpy(expected.szDeviceName, "WAN Miniport (PPPOE)");
    EXPECT_EQ(std::memcmp(&e, &expected, sizeof e), 0);
}

TEST_F(RasCheckTest, RefusalsCarryTheirReasons) {
    std::string reason;
    EXPECT_FALSE(check.CreatePppoeEntry("PPPOE Connection", reason));
    EXPECT_EQ(reason, "No available adapter !");
    EXPECT_TRUE(ras.entryWrites.empty());

    ras.AddDevice("pppoe", "WAN Miniport (PPPOE)");
    AddAdapters(1);
    Refresh();
    // The service refuses: its number, and its text when it has one.
    ras.setEntryResult = 621;
    EXPECT_FALSE(check.CreatePppoeEntry("PPPOE Connection", reason));
    EXPECT_EQ(reason, "Error 621");
    ras.errorTexts[5] = "Access is denied.";
    ras.setEntryResult = 5;
    EXPECT_FALSE(check.CreatePppoeEntry("PPPOE Connection", reason));
    EXPECT_EQ(reason, "Error 5: Access is denied.");
}

} // namespace
