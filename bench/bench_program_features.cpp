// Times one detection by program features at its bounds: 1024 top-level windows
// and 150 processes with version texts, against 100 signature records of which
// none matches (the search then runs to the end). Reports the median of several
// runs after a warm-up; a detection must stay well inside one detection pass.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "DetectByFeature.h"
#include "Ports.h"
#include "ProgramSnapshot.h"

namespace {

// A snapshot held in memory, as cheap as a snapshot can be, so the time measured
// is the detector's own.
class MemorySnapshot : public ProgramSnapshot {
  public:
    MemorySnapshot() {
        for (uint32_t pid = 0; pid <= 150; ++pid)
            modules_.push_back("program" + std::to_string(pid) + ".exe");
        for (size_t w = 0; w < kMaxWindows; ++w)
            titles_.push_back("Window " + std::to_string(w) + " of some ordinary program");
    }
    void SetDebugPrivilege(bool) override {}
    bool ListProcesses(std::vector<uint32_t>& pids) override {
        pids.clear();
        for (uint32_t pid = 0; pid < modules_.size(); ++pid)
            pids.push_back(pid);
        return true;
    }
    bool FirstModule(uint32_t pid, std::string& name, std::string& path) override {
        name = modules_.at(pid);
        path = "C:\\Programs\\" + name;
        return true;
    }
    void ListTopWindows(std::vector<WindowHandle>& out, size_t max) override {
        out.clear();
        for (size_t i = 0; i < titles_.size() && i < max; ++i)
            out.push_back(i);
    }
    std::string WindowTitle(WindowHandle w) override { return titles_[w]; }
    std::string WindowClass(WindowHandle) override { return "OrdinaryWindowClass"; }
    uint32_t WindowProcessId(WindowHandle w) override { return uint32_t(1 + w % 150); }
    bool ReadVersionInfo(const std::string&, std::vector<uint8_t>& block) override {
        block.assign(1, 1);
        return true;
    }
    bool QueryVersionText(std::vector<uint8_t>&, const std::string& subBlock,
                          std::string& value) override {
        if (subBlock.find("040904b0") == std::string::npos)
            return false;
        value = "Ordinary Software Company Ltd";
        return true;
    }

  private:
    std::vector<std::string> modules_;
    std::vector<std::string> titles_;
};

std::vector<uint8_t> HundredRecords() {
    std::vector<uint8_t> out(kSignatureHeader, kSignatureHeader + kSignatureHeaderSize);
    for (int i = 0; i < 100; ++i) {
        uint8_t r[kSignatureRecordSize] = {};
        const std::string name = "Listed" + std::to_string(i);
        if (i % 2 == 0) {
            r[0] = kWindowSignature;
            std::memcpy(r + 1, name.data(), name.size());
            r[33] = uint8_t(name.size());
            std::memcpy(r + 66, (name + ".exe").data(), name.size() + 4);
            r[98] = kMatchTitle | kMatchModule;
        } else {
            r[0] = kVersionSignature;
            std::memcpy(r + 1, name.data(), name.size());
            std::memcpy(r + 34, name.data(), name.size());
            std::memcpy(r + 100, name.data(), name.size());
        }
        for (uint8_t b : r)
            out.push_back(uint8_t((b << 4) | (b >> 4)));
    }
    return out;
}

} // namespace

int main() {
    MemorySnapshot snapshot;
    Ports().programs = &snapshot;
    static SignatureList list;
    const std::vector<uint8_t> resource = HundredRecords();
    if (ParseSignatureList(resource.data(), resource.size(), list) != 100) {
        std::fprintf(stderr, "the record set did not load\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    DetectByProgramFeatures(list); // warm-up
    std::vector<double> ms;
    for (int run = 0; run < 7; ++run) {
        const auto start = Clock::now();
        const bool found = DetectByProgramFeatures(list);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (found) {
            std::fprintf(stderr, "nothing should match\n");
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("detection by program features, 1024 windows x 150 processes x 100 records: "
                "median %.2f ms (min %.2f, max %.2f) over %zu runs\n",
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    return 0;
}
