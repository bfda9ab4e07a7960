// Signature resources as they might arrive damaged or crafted: every input is
// parsed as it stands and again behind a valid header (so the record decoding
// is reached), and each loaded list is run against a fixed set of windows,
// processes and version texts.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "DetectByFeature.h"
#include "companion/CompanionFakes.cpp" // the fakes, compiled into this target

namespace {

FakeProgramSnapshot& Programs() {
    static FakeProgramSnapshot* programs = [] {
        auto* p = new FakeProgramSnapshot;
        const std::string cp = "\\StringFileInfo\\040904b0\\";
        p->AddProcess({10,
                       "proxy.exe",
                       "C:\\proxy.exe",
                       {{cp + "CompanyName", "Abc Software"},
                        {cp + "InternalName", "Proxy"},
                        {cp + "OriginalFileName", "proxy.exe"},
                        {cp + "ProductName", std::string(40, 'P')}}});
        p->AddProcess({11, std::string(60, 'm') + ".exe", "C:\\long.exe", {}});
        p->AddWindow({"CCProxy " + std::string(250, 'x'), std::string(255, 'c'), 10});
        p->AddWindow({"Gate", "GateWnd", 11});
        return p;
    }();
    return *programs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* list = new SignatureList;
    Ports().programs = &Programs();

    ParseSignatureList(data, size, *list);
    DetectByProgramFeatures(*list);

    std::unique_ptr<uint8_t[]> framed(new uint8_t[kSignatureHeaderSize + size]);
    std::memcpy(framed.get(), kSignatureHeader, kSignatureHeaderSize);
    if (size)
        std::memcpy(framed.get() + kSignatureHeaderSize, data, size);
    ParseSignatureList(framed.get(), kSignatureHeaderSize + size, *list);
    DetectByProgramFeatures(*list);
    return 0;
}
