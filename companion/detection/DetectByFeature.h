// Detection by program features: known connection-sharing and proxy programs
// recognised by their windows, their processes' module names and the version
// texts of running executables, as listed in the library's signature resource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr size_t kSignatureHeaderSize = 16;
constexpr size_t kSignatureRecordSize = 133;
constexpr size_t kMaxSignatures = 100;
constexpr size_t kMaxProcesses = 150;
constexpr size_t kMaxWindows = 1024;
constexpr size_t kSignatureTextField = 32;

// The header every signature resource starts with; the tool that builds the
// resource writes the same 16 bytes.
extern const uint8_t kSignatureHeader[kSignatureHeaderSize];

enum SignatureKind : uint8_t { kWindowSignature = 0, kVersionSignature = 1 };
enum WindowSignatureFlags : uint8_t { kMatchTitle = 1, kMatchClass = 2, kMatchModule = 4 };

// One record as held in memory. Texts stay scrambled (SwapNibbles) and each field
// has one byte more than its 32-byte field in the resource, so a text that fills
// its field is still terminated.
struct SignatureRecord {
    uint8_t kind = 0;
    // kind 0
    char title[33] = {};
    uint8_t titleLength = 0; // L as stored; comparisons use at most 32
    char className[33] = {};
    char moduleName[33] = {};
    uint8_t flags = 0;
    // kind 1: CompanyName, InternalName, OriginalFileName, ProductName
    char versionTexts[4][33] = {};
    uint8_t versionLengths[4] = {};
};

struct SignatureList {
    size_t count = 0;
    SignatureRecord records[kMaxSignatures];
};

// Parses a signature resource into `list`. Returns the number of records loaded,
// or 0 when the header is short or wrong or a partial record trails the full ones
// (the full records before it stay in `list`).
size_t ParseSignatureList(const uint8_t* data, size_t size, SignatureList& list);

// Reloads the library-wide list from resource RCDATA 131 of "Ostrel.dll" and
// returns ParseSignatureList's answer. A missing resource counts as 0.
size_t LoadSignatureList();

// The list as last loaded; a detection keeps its copy even if a reload replaces it.
std::shared_ptr<const SignatureList> CurrentSignatureList();

// True when a listed program is found on the machine (Ports().programs).
bool DetectByProgramFeatures();
bool DetectByProgramFeatures(const SignatureList& list);
