// The settings text reader and writer over arbitrary files: the reader stays within
// its buffer, and the writer either leaves a file byte for byte as it was or
// rewrites exactly the key's lines, keeping every other line and adding none.
//
// Input: byte 0 picks the key, byte 1 the reader's capacity, byte 2 the value's
// length n, then n bytes of value (up to a zero byte), then the file itself.
#include "settings.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* const kKeys[] = {"username",     "savepw", "password", "Connect",
                             "MainDlgTitle", "300",    "a",        "#"};
constexpr const char* kName = "fuzz.conf";

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "settings fuzz: %s\n", what);
        std::abort();
    }
}

// Runs the whole fuzz session in a private directory: the functions open bare names.
// In memory where the machine has it: every rewrite waits for its data to reach the
// disk, which on a real disk would leave the fuzzer a few hundred runs a second.
void EnterScratchDir() {
    static bool entered = false;
    if (entered)
        return;
    char shm[] = "/dev/shm/pondo-fuzz-XXXXXX";
    char tmp[] = "/tmp/pondo-fuzz-XXXXXX";
    char* dir = mkdtemp(shm);
    if (dir == nullptr)
        dir = mkdtemp(tmp);
    Check(dir != nullptr && chdir(dir) == 0, "no scratch directory");
    entered = true;
}

std::string ReadAll() {
    std::ifstream in(kName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines as the format defines them: each ends at a line feed (a carriage return
// before it is part of the line end); the last one may lack the line feed.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        const bool last = end == std::string::npos;
        if (last)
            end = text.size();
        std::string line = text.substr(at, end - at);
        // Carriage returns at a line's end cannot be told from its line end once the
        // line is written back with one, so they are not compared.
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        at = last ? text.size() : end + 1;
    }
    return lines;
}

bool StartsWith(const std::string& line, const std::string& key) {
    return line.compare(0, key.size(), key) == 0;
}

// The value a reader must find in a line "key = value...": blanks after "=" skipped,
// cut at "#" and at the capacity, trailing blanks removed.
std::string ExpectedRead(const std::string& value, size_t capacity) {
    size_t start = 0;
    while (start < value.size() && value[start] == ' ')
        ++start;
    std::string v = value.substr(start);
    v = v.substr(0, v.find('#'));
    if (v.size() > capacity - 1)
        v.resize(capacity - 1);
    while (!v.empty() && v.back() == ' ')
        v.pop_back();
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    EnterScratchDir();
    const std::string key = kKeys[data[0] % (sizeof kKeys / sizeof kKeys[0])];
    const size_t capacity = 1 + data[1] % 200;
    size_t n = data[2];
    data += 3;
    size -= 3;
    if (n > size)
        n = size;
    std::string value(reinterpret_cast<const char*>(data), n);
    value = value.substr(0, value.find('\0'));
    const std::string before(reinterpret_cast<const char*>(data + n), size - n);
    {
        std::ofstream out(kName, std::ios::binary | std::ios::trunc);
        out << before;
    }

    // Reader: stays inside its buffer (the guard bytes after it stay as they were).
    std::vector<char> buffer(capacity + 8, '\x5a');
    if (ReadSettingValue(key.c_str(), kName, buffer.data(), capacity)) {
        Check(std::memchr(buffer.data(), 0, capacity) != nullptr, "value not terminated");
    }
    for (size_t k = capacity; k < buffer.size(); ++k)
        Check(buffer[k] == '\x5a', "read overran");
    std::string text = "default";
    GetSettingText(key.c_str(), kName, text);
    Check(text.size() <= kMaxSettingLine, "value longer than a line");

    // Writer.
    const bool written = WriteSettingValue(key.c_str(), kName, value.c_str());
    const std::string after = ReadAll();
    if (!written) {
        Check(after == before, "refused write changed the file");
        return 0;
    }
    const std::vector<std::string> oldLines = Lines(before);
    const std::vector<std::string> newLines = Lines(after);
    Check(newLines.size() == oldLines.size(), "line count changed");
    Check(!after.empty() && after.back() == '\n', "last line without line end");
    Check(after.size() <= kMaxSettingContent + newLines.size(), "content beyond its limit");
    bool sawKey = false;
    for (size_t i = 0; i < oldLines.size(); ++i) {
        Check(newLines[i].size() <= kMaxSettingLine, "line beyond its limit");
        if (!StartsWith(oldLines[i], key)) {
            Check(newLines[i] == oldLines[i], "another line changed");
            continue;
        }
        sawKey = true;
        const std::string head = key + " = " + value;
        Check(newLines[i].compare(0, head.size(), head) == 0, "key line not rewritten");
        const std::string rest = newLines[i].substr(head.size());
        const size_t hash = oldLines[i].find('#');
        Check(rest == (hash == std::string::npos ? "" : " " + oldLines[i].substr(hash)),
              "comment not kept");
    }
    Check(sawKey, "accepted without a key line");

    // The rewritten file reads back the new value from the first key line: every key
    // line now has its "=". (A key that begins with "#" only rewrites comment lines,
    // which the reader skips.)
    if (key[0] == '#')
        return 0;
    std::vector<char> again(capacity, '\0');
    Check(ReadSettingValue(key.c_str(), kName, again.data(), capacity), "written key not found");
    Check(std::string(again.data()) == ExpectedRead(value, capacity),
          "written value reads back wrong");
    return 0;
}
