// The signature list and detection by program features, over fake snapshots.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "DetectByFeature.h"
#include "companion/CompanionFakes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A plain (unscrambled) 133-byte record.
struct Plain {
    uint8_t b[kSignatureRecordSize] = {};
    void Text(size_t at, const std::string& s) { std::memcpy(b + at, s.data(), s.size()); }
};

Plain Window(const std::string& title, int compare, const std::string& cls,
             const std::string& module, uint8_t flags) {
    Plain p;
    p.b[0] = kWindowSignature;
    p.Text(1, title);
    p.b[33] = uint8_t(compare);
    p.Text(34, cls);
    p.Text(66, module);
    p.b[98] = flags;
    return p;
}

Plain Version(const std::string& company, const std::string& internal, const std::string& original,
              const std::string& product) {
    Plain p;
    p.b[0] = kVersionSignature;
    p.Text(1, company);
    p.Text(34, internal);
    p.Text(67, original);
    p.Text(100, product);
    return p; // length bytes left 0: the loader recomputes them
}

Bytes Resource(const std::vector<Plain>& records) {
    Bytes out(kSignatureHeader, kSignatureHeader + kSignatureHeaderSize);
    for (const Plain& p : records)
        for (uint8_t byte : p.b)
            out.push_back(uint8_t((byte << 4) | (byte >> 4)));
    return out;
}

std::unique_ptr<SignatureList> Parse(const Bytes& resource, size_t* count = nullptr) {
    auto list = std::make_unique<SignatureList>();
    // an exact-size copy, so any read past the resource is caught
    std::unique_ptr<uint8_t[]> exact(new uint8_t[resource.size()]);
    std::memcpy(exact.get(), resource.data(), resource.size());
    const size_t n = ParseSignatureList(exact.get(), resource.size(), *list);
    if (count)
        *count = n;
    return list;
}

const char* kCp = "\\StringFileInfo\\040904b0\\";

FakeProcess VersionedProcess(uint32_t pid, const std::string& company, const std::string& internal,
                             const std::string& original, const std::string& product,
                             const char* cp = kCp) {
    FakeProcess p;
    p.pid = pid;
    p.module = "prog" + std::to_string(pid) + ".exe";
    p.path = "C:\\prog" + std::to_string(pid) + ".exe";
    const std::string base = cp;
    p.version[base + "CompanyName"] = company;
    if (!internal.empty())
        p.version[base + "InternalName"] = internal;
    if (!original.empty())
        p.version[base + "OriginalFileName"] = original;
    if (!product.empty())
        p.version[base + "ProductName"] = product;
    return p;
}

TEST(SignatureList, HeaderAndRecordCounts) {
    size_t n = 99;
    Parse(Resource({}), &n);
    EXPECT_EQ(n, 0u); // header alone: no records

    Bytes wrong = Resource({Window("A", 1, "", "", 1), Window("B", 1, "", "", 1)});
    wrong[3] ^= 1;
    Parse(wrong, &n);
    EXPECT_EQ(n, 0u);

    Bytes shortHeader(kSignatureHeader, kSignatureHeader + 10);
    Parse(shortHeader, &n);
    EXPECT_EQ(n, 0u);

    std::vector<Plain> many;
    for (int i = 0; i < 150; ++i)
        many.push_back(Window("T" + std::to_string(i), 4, "", "", 1));
    auto list = Parse(Resource(many), &n);
    EXPECT_EQ(n, 100u);
    EXPECT_EQ(list->count, 100u);
}

TEST(SignatureList, TrailingPartialRecordReportsZeroButKeepsFullRecords) {
    Bytes r = Resource({Window("CCProxy", 7, "", "", 1), Window("WinGate", 7, "", "", 1)});
    r.insert(r.end(), 50, 0x11);
    size_t n = 99;
    auto list = Parse(r, &n);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(list->count, 2u);

    FakePortsGuard ports;
    ports.programs.AddProcess({7, "x.exe", "C:\\x.exe", {}});
    ports.programs.AddWindow({"CCProxy 7.0", "Main", 7});
    EXPECT_TRUE(DetectByProgramFeatures(*list));
}

TEST(SignatureList, TextsThatFillTheirFieldStayInsideIt) {
    // A title with no terminator in its 32 bytes and a compare length of 200, and
    // version texts without terminators: nothing past a field is read or changed.
    const std::string full(32, 'Q');
    Plain w = Window(full, 200, full, full, kMatchTitle);
    Plain v = Version(full, full, full, full);
    v.b[33] = 250; // stored lengths are ignored
    size_t n = 0;
    auto list = Parse(Resource({w, v}), &n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(list->records[0].titleLength, 200);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(list->records[1].versionLengths[i], 32);

    FakePortsGuard ports;
    ports.programs.AddProcess({5, "a.exe", "C:\\a.exe", {}});
    // compared over 32 characters: a longer title that starts the same matches
    ports.programs.AddWindow({full + "QQQQ more", "C", 5});
    SignatureList windowOnly = *list;
    windowOnly.count = 1;
    EXPECT_TRUE(DetectByProgramFeatures(windowOnly));
}

TEST(SignatureList, OnlyTheOwnModuleNameFindsTheResource) {
    FakePortsGuard ports;
    const Bytes r = Resource({Window("A", 1, "", "", 1), Window("B", 1, "", "", 1)});
    ports.resources.Set("Ostrel2.dll", kSignatureListResource, r);
    EXPECT_EQ(LoadSignatureList(), 0u);
    EXPECT_EQ(CurrentSignatureList()->count, 0u);
    ports.resources.Set("Ostrel.dll", kSignatureListResource, r);
    EXPECT_EQ(LoadSignatureList(), 2u);
    EXPECT_EQ(CurrentSignatureList()->count, 2u);
}

struct WindowCase {
    const char* name;
    Plain record;
    FakeWindow window;
    bool found;
};

TEST(WindowPass, FlagsChooseWhatMustAgree) {
    const WindowCase cases[] = {
        {"title prefix",
         Window("CCProxy", 7, "", "", kMatchTitle),
         {"CCProxy - 3 users", "X", 20},
         true},
        {"title differs", Window("CCProxy", 7, "", "", kMatchTitle), {"CCProx", "X", 20}, false},
        {"title compare 0", Window("zzz", 0, "", "", kMatchTitle), {"anything", "X", 20}, true},
        {"class exact", Window("", 0, "GateWnd", "", kMatchClass), {"t", "GateWnd", 20}, true},
        {"class longer", Window("", 0, "GateWnd", "", kMatchClass), {"t", "GateWnd2", 20}, false},
        {"module only", Window("zzz", 3, "zzz", "proxy.exe", kMatchModule), {"t", "c", 20}, true},
        {"module of other process",
         Window("", 0, "", "proxy.exe", kMatchModule),
         {"t", "c", 21},
         false},
        {"title and module",
         Window("Gate", 4, "", "proxy.exe", kMatchTitle | kMatchModule),
         {"Gate", "c", 21},
         false},
        {"no flags", Window("zzz", 3, "zzz", "zzz", 0), {"t", "c", 21}, true},
        {"window without title", Window("", 0, "", "", 0), {"", "c", 21}, false},
        {"window without process", Window("", 0, "", "", 0), {"t", "c", 0}, false},
    };
    for (const WindowCase& c : cases) {
        FakePortsGuard ports;
        ports.programs.AddProcess({20, "proxy.exe", "C:\\proxy.exe", {}});
        ports.programs.AddProcess({21, "notepad.exe", "C:\\notepad.exe", {}});
        ports.programs.AddWindow(c.window);
        auto list = Parse(Resource({c.record, Window("", 0, "", "", kMatchModule)}));
        EXPECT_EQ(DetectByProgramFeatures(*list), c.found) << c.name;
        EXPECT_EQ(ports.programs.PrivilegeCalls(), (std::vector<bool>{true, false})) << c.name;
    }
}

TEST(WindowPass, LongModuleNamesAreCutToThirtyTwoAndTerminated) {
    FakePortsGuard ports;
    const std::string longName = std::string(32, 'm') + "-and-more.exe";
    ports.programs.AddProcess({30, longName, "C:\\long.exe", {}});
    ports.programs.AddWindow({"t", "c", 30});
    auto list = Parse(Resource({Window("", 0, "", std::string(32, 'm'), kMatchModule)}));
    EXPECT_TRUE(DetectByProgramFeatures(*list));
    auto other = Parse(Resource({Window("", 0, "", std::string(31, 'm'), kMatchModule)}));
    EXPECT_FALSE(DetectByProgramFeatures(*other));
}

TEST(ProcessList, SkipsTheFirstEntryAndProcessesWithoutModules) {
    FakePortsGuard ports;
    // The first snapshot entry is never listed, whatever its module says.
    ports.programs.SetFirstProcess({8, "first.exe", "C:\\first.exe", {}});
    ports.programs.AddProcess({9, "second.exe", "C:\\second.exe", {}});
    ports.programs.AddProcess({40, "", "", {}}); // its module snapshot fails
    ports.programs.AddWindow({"t", "c", 8});
    ports.programs.AddWindow({"t", "c", 40});
    auto first = Parse(Resource({Window("", 0, "", "first.exe", kMatchModule)}));
    EXPECT_FALSE(DetectByProgramFeatures(*first));
    ports.programs.AddWindow({"t", "c", 9});
    auto second = Parse(Resource({Window("", 0, "", "second.exe", kMatchModule)}));
    EXPECT_TRUE(DetectByProgramFeatures(*second));
}

TEST(ProcessList, HoldsAtMost150Entries) {
    FakePortsGuard ports;
    for (uint32_t pid = 100; pid < 300; ++pid)
        ports.programs.AddProcess({pid, "p" + std::to_string(pid) + ".exe", "C:\\p", {}});
    auto list = Parse(Resource({Window("", 0, "", "p249.exe", kMatchModule),
                                Window("", 0, "", "p250.exe", kMatchModule)}));
    ports.programs.AddWindow({"t", "c", 250}); // the 151st process: not listed
    EXPECT_FALSE(DetectByProgramFeatures(*list));
    ports.programs.AddWindow({"t", "c", 249}); // the 150th: listed
    EXPECT_TRUE(DetectByProgramFeatures(*list));
}

struct VersionCase {
    const char* name;
    Plain record;
    FakeProcess process;
    bool found;
};

TEST(VersionPass, ThreeAgreeingFieldsFind) {
    const VersionCase cases[] = {
        {"company prefix + two exact", Version("Abc", "tool", "", "Tool Pro"),
         VersionedProcess(50, "Abcdef", "tool", "x.exe", "Tool Pro"), true},
        {"two fields only", Version("Abc", "", "", "Tool Pro"),
         VersionedProcess(50, "Abc", "tool", "x.exe", "Tool Pro"), false},
        {"internal must be exact", Version("Abc", "tool", "", "Tool Pro"),
         VersionedProcess(50, "Abc", "tool2", "x.exe", "Tool Pro"), false},
        {"company longer than live", Version("Abcdef", "tool", "x.exe", ""),
         VersionedProcess(50, "Abc", "tool", "x.exe", "P"), false},
        {"other code page", Version("Abc", "tool", "x.exe", "P"),
         VersionedProcess(50, "Abc", "tool", "x.exe", "P", "\\StringFileInfo\\041104b0\\"), false},
        {"first listed code page", Version("Abc", "tool", "x.exe", "P"),
         VersionedProcess(50, "Abc", "tool", "x.exe", "P", "\\StringFileInfo\\080403A8\\"), true},
        {"32-character texts",
         Version(std::string(32, 'C'), std::string(32, 'I'), "", std::string(32, 'P')),
         VersionedProcess(50, std::string(40, 'C'), std::string(32, 'I'), "o",
                          std::string(32, 'P')),
         true},
    };
    for (const VersionCase& c : cases) {
        FakePortsGuard ports;
        ports.programs.AddProcess(c.process);
        auto list = Parse(Resource({c.record}));
        EXPECT_EQ(DetectByProgramFeatures(*list), c.found) << c.name;
    }
}

TEST(VersionPass, TheFirstCodePageWithACompanyIsTheOnlyOneAsked) {
    FakePortsGuard ports;
    FakeProcess p = VersionedProcess(60, "Abc", "", "", "", "\\StringFileInfo\\080404b0\\");
    const std::string later = "\\StringFileInfo\\040904b0\\";
    p.version[later + "InternalName"] = "tool";
    p.version[later + "ProductName"] = "Tool";
    ports.programs.AddProcess(p);
    auto list = Parse(Resource({Version("Abc", "tool", "", "Tool")}));
    EXPECT_FALSE(DetectByProgramFeatures(*list));
}

TEST(SignatureList, TheShippedListLoadsAndFindsItsPrograms) {
    std::ifstream in(PONDO_BINARY_DIR "/tools/signatures.bin", std::ios::binary);
    ASSERT_TRUE(in) << "the build makes tools/signatures.bin from the readable list";
    const Bytes shipped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t n = 0;
    auto list = Parse(shipped, &n);
    EXPECT_EQ(n, 27u);

    {
        FakePortsGuard ports;
        ports.programs.AddProcess({70, "explorer.exe", "C:\\explorer.exe", {}});
        ports.programs.AddWindow({"Program Manager", "Progman", 70});
        EXPECT_FALSE(DetectByProgramFeatures(*list));
        ports.programs.AddWindow({"CCProxy 7.2 - Trial", "TMainForm", 70});
        EXPECT_TRUE(DetectByProgramFeatures(*list));
    }
    {
        FakePortsGuard ports;
        ports.programs.AddProcess(
            VersionedProcess(71, "Qbik New Zealand Ltd", "WinGate", "WinGate.exe", "WinGate 6"));
        EXPECT_TRUE(DetectByProgramFeatures(*list));
    }
}

} // namespace
