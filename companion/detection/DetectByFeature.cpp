#include "DetectByFeature.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ByteCursor.h"
#include "ModuleResources.h"
#include "Ports.h"
#include "ProgramSnapshot.h"
#include "utils.h"

const uint8_t kSignatureHeader[kSignatureHeaderSize] = {'O', 'S', 'T', 'R', 'E',  'L',  ' ',  'S',
                                                        'I', 'G', 'N', 'S', 0x01, 0x00, 0x1b, 0x85};

namespace {

// Resource record offsets (after the whole-record nibble swap).
constexpr size_t kTitleAt = 1, kTitleLengthAt = 33, kClassAt = 34, kModuleAt = 66, kFlagsAt = 98;
constexpr size_t kVersionTextAt[4] = {1, 34, 67, 100};

// Copies a 32-byte text field into a 33-byte one; the copy is always terminated,
// whether or not the field held a zero.
void TakeField(char (&dst)[33], const uint8_t* field) {
    std::memcpy(dst, field, kSignatureTextField);
    dst[kSignatureTextField] = 0;
}

SignatureRecord DecodeRecord(const uint8_t* stored) {
    uint8_t raw[kSignatureRecordSize];
    for (size_t i = 0; i < kSignatureRecordSize; ++i)
        raw[i] = uint8_t((stored[i] << 4) | (stored[i] >> 4));

    SignatureRecord r;
    r.kind = raw[0];
    if (r.kind == kWindowSignature) {
        TakeField(r.title, raw + kTitleAt);
        r.titleLength = raw[kTitleLengthAt];
        TakeField(r.className, raw + kClassAt);
        TakeField(r.moduleName, raw + kModuleAt);
        r.flags = raw[kFlagsAt];
        // Texts are unscrambled by now; scramble them back for keeping. The title
        // only over the part that is compared.
        const size_t compared = std::min<size_t>(r.titleLength, kSignatureTextField);
        SwapNibbles(r.title, compared);
        SwapNibbles(r.className, kSignatureTextField);
        SwapNibbles(r.moduleName, kSignatureTextField);
    } else if (r.kind == kVersionSignature) {
        for (int i = 0; i < 4; ++i) {
            TakeField(r.versionTexts[i], raw + kVersionTextAt[i]);
            // Whatever length the resource holds, the text decides it.
            r.versionLengths[i] = uint8_t(BoundedLength(r.versionTexts[i], kSignatureTextField));
            SwapNibbles(r.versionTexts[i], r.versionLengths[i]);
        }
    }
    return r;
}

std::mutex& ListMutex() {
    static std::mutex* m = new std::mutex; // never destroyed: threads may outlive statics
    return *m;
}

std::shared_ptr<const SignatureList>& ListSlot() {
    static auto* slot = new std::shared_ptr<const SignatureList>(std::make_shared<SignatureList>());
    return *slot;
}

struct ProcessEntry {
    uint32_t pid = 0;
    char moduleName[33] = {}; // cut to 32 characters, always terminated
    std::string path;
};

std::vector<ProcessEntry> ListProcesses(ProgramSnapshot& programs) {
    std::vector<ProcessEntry> list;
    std::vector<uint32_t> pids;
    if (!programs.ListProcesses(pids))
        return list;
    // The first entry a process snapshot reports is the idle process: skipped.
    for (size_t i = 1; i < pids.size() && list.size() < kMaxProcesses; ++i) {
        std::string name, path;
        if (!programs.FirstModule(pids[i], name, path))
            continue;
        ProcessEntry e;
        e.pid = pids[i];
        CopyTextN(e.moduleName, name.c_str(), kSignatureTextField);
        e.path = path;
        list.push_back(std::move(e));
    }
    return list;
}

bool WindowPass(ProgramSnapshot& programs, const SignatureList& list,
                const std::vector<ProcessEntry>& processes) {
    std::vector<WindowHandle> windows;
    programs.ListTopWindows(windows, kMaxWindows);
    if (windows.size() > kMaxWindows)
        windows.resize(kMaxWindows);
    for (WindowHandle w : windows) {
        char title[256], className[256];
        CopyTextN(title, programs.WindowTitle(w).c_str(), 255);
        CopyTextN(className, programs.WindowClass(w).c_str(), 255);
        const uint32_t pid = programs.WindowProcessId(w);
        if (title[0] == 0 || className[0] == 0 || pid == 0)
            continue;
        SwapNibbles(title, 255);
        SwapNibbles(className, 255);
        for (size_t i = 0; i < list.count; ++i) {
            const SignatureRecord& r = list.records[i];
            if (r.kind != kWindowSignature)
                continue;
            if ((r.flags & kMatchTitle) &&
                !TextEqualsN(title, r.title, std::min<size_t>(r.titleLength, kSignatureTextField)))
                continue;
            if ((r.flags & kMatchClass) && !TextEquals(className, r.className))
                continue;
            if (!(r.flags & kMatchModule))
                return true;
            char module[33];
            CopyTextN(module, r.moduleName, kSignatureTextField);
            SwapNibbles(module, kSignatureTextField);
            for (const ProcessEntry& e : processes)
                if (e.pid == pid && TextEquals(e.moduleName, module))
                    return true;
        }
    }
    return false;
}

// The four version texts of an executable, each at most 32 characters.
bool ReadVersionTexts(ProgramSnapshot& programs, const std::string& path, char (&texts)[4][33]) {
    static const char* const kCodePages[] = {"080403A8\\", "080404b0\\", "040904E4\\",
                                             "040904b0\\"};
    static const char* const kNames[] = {"CompanyName", "InternalName", "OriginalFileName",
                                         "ProductName"};
    std::vector<uint8_t> block;
    if (!programs.ReadVersionInfo(path, block) || block.empty())
        return false;
    std::memset(texts, 0, sizeof texts);
    const char* chosen = nullptr;
    std::string value;
    for (const char* cp : kCodePages) {
        if (programs.QueryVersionText(block, std::string("\\StringFileInfo\\") + cp + kNames[0],
                                      value)) {
            chosen = cp;
            break;
        }
    }
    if (chosen == nullptr)
        return false;
    CopyTextN(texts[0], value.c_str(), kSignatureTextField);
    for (int i = 1; i < 4; ++i) {
        value.clear();
        if (programs.QueryVersionText(block, std::string("\\StringFileInfo\\") + chosen + kNames[i],
                                      value))
            CopyTextN(texts[i], value.c_str(), kSignatureTextField);
    }
    return true;
}

bool VersionPass(ProgramSnapshot& programs, const SignatureList& list,
                 const std::vector<ProcessEntry>& processes) {
    for (const ProcessEntry& e : processes) {
        char live[4][33];
        if (!ReadVersionTexts(programs, e.path, live))
            continue;
        // Over the whole field, as the records' texts are, so a text that fills
        // its field compares like any other.
        for (auto& text : live)
            SwapNibbles(text, kSignatureTextField);
        for (size_t i = 0; i < list.count; ++i) {
            const SignatureRecord& r = list.records[i];
            if (r.kind != kVersionSignature)
                continue;
            int agreeing = 0;
            if (r.versionLengths[0] != 0 &&
                TextEqualsN(live[0], r.versionTexts[0], r.versionLengths[0]))
                ++agreeing;
            for (int f = 1; f < 4; ++f)
                if (r.versionLengths[f] != 0 && TextEquals(live[f], r.versionTexts[f]))
                    ++agreeing;
            if (agreeing >= 3)
                return true;
        }
    }
    return false;
}

} // namespace

size_t ParseSignatureList(const uint8_t* data, size_t size, SignatureList& list) {
    list.count = 0;
    if (data == nullptr)
        return 0;
    ByteCursor cursor(data, size);
    const uint8_t* header;
    if (!cursor.ReadBytes(kSignatureHeaderSize, header) ||
        std::memcmp(header, kSignatureHeader, kSignatureHeaderSize) != 0)
        return 0;
    while (list.count < kMaxSignatures && cursor.Remaining() > 0) {
        const uint8_t* record;
        if (!cursor.ReadBytes(kSignatureRecordSize, record))
            return 0; // a partial record: not usable
        list.records[list.count++] = DecodeRecord(record);
    }
    return list.count;
}

size_t LoadSignatureList() {
    auto list = std::make_shared<SignatureList>();
    size_t loaded = 0;
    std::vector<uint8_t> bytes;
    if (Ports().resources != nullptr &&
        Ports().resources->ReadRawData("Ostrel.dll", kSignatureListResource, bytes))
        loaded = ParseSignatureList(bytes.data(), bytes.size(), *list);
    std::lock_guard<std::mutex> guard(ListMutex());
    ListSlot() = std::move(list);
    return loaded;
}

std::shared_ptr<const SignatureList> CurrentSignatureList() {
    std::lock_guard<std::mutex> guard(ListMutex());
    return ListSlot();
}

bool DetectByProgramFeatures(const SignatureList& list) {
    ProgramSnapshot* programs = Ports().programs;
    if (programs == nullptr)
        return false;
    programs->SetDebugPrivilege(true);
    const std::vector<ProcessEntry> processes = ListProcesses(*programs);
    programs->SetDebugPrivilege(false);
    return WindowPass(*programs, list, processes) || VersionPass(*programs, list, processes);
}

bool DetectByProgramFeatures() {
    const auto list = CurrentSignatureList();
    return DetectByProgramFeatures(*list);
}
