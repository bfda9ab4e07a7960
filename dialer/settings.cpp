#include "settings.h"

#include "DialerFiles.h"
#include "ScopedHandle.h"

#include <cstdio>
#include <cstring>

namespace {

enum class LineResult { Line, End, TooLong };

// Reads one line of at most kMaxSettingLine characters into `line` (terminated).
// The line end (LF, or CR LF) is not part of the line; the last line may lack it.
LineResult ReadLine(std::FILE* file, char (&line)[kMaxSettingLine + 1], size_t& length) {
    length = 0;
    int c = std::fgetc(file);
    if (c == EOF)
        return LineResult::End;
    while (c != EOF && c != '\n') {
        if (length == kMaxSettingLine) {
            // A carriage return that ends a full-length line belongs to its line end.
            if (c == '\r') {
                const int next = std::fgetc(file);
                if (next == '\n' || next == EOF)
                    break;
            }
            return LineResult::TooLong;
        }
        line[length++] = char(c);
        c = std::fgetc(file);
    }
    if (length > 0 && line[length - 1] == '\r')
        --length;
    line[length] = '\0';
    return LineResult::Line;
}

bool StartsWith(const char* line, const char* key) {
    return std::strncmp(line, key, std::strlen(key)) == 0;
}

struct StdioFileTraits {
    using Handle = std::FILE*;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle file) { return std::fclose(file) == 0; }
};

} // namespace

bool ReadSettingValue(const char* key, const char* fileName, char* buffer, size_t capacity) {
    if (key == nullptr || fileName == nullptr || buffer == nullptr || capacity == 0)
        return false;
    ScopedHandle<StdioFileTraits> file(std::fopen(fileName, "r")); // closed on every path
    if (!file)
        return false;
    char line[kMaxSettingLine + 1];
    size_t length;
    while (ReadLine(file.Get(), line, length) == LineResult::Line) {
        if (length == 0 || line[0] == '#')
            continue;
        if (!StartsWith(line, key))
            continue;
        const char* equals = std::strchr(line + std::strlen(key), '=');
        if (equals == nullptr)
            continue;
        const char* value = equals + 1;
        while (*value == ' ')
            ++value;
        size_t n = 0;
        while (value[n] != '\0' && value[n] != '#' && n < capacity - 1) {
            buffer[n] = value[n];
            ++n;
        }
        while (n > 0 && buffer[n - 1] == ' ')
            --n;
        buffer[n] = '\0';
        return true;
    }
    return false;
}

void GetSettingText(const char* key, const char* fileName, std::string& text) {
    char value[kMaxSettingLine + 1];
    if (ReadSettingValue(key, fileName, value, sizeof value))
        text = value;
}

bool WriteSettingValue(const char* key, const char* fileName, const char* value) {
    if (key == nullptr || fileName == nullptr || value == nullptr)
        return false;
    // A line end inside the value would add a line of its own (possibly another
    // key's) to a file the writer must only rewrite.
    if (std::strpbrk(value, "\r\n") != nullptr)
        return false;
    std::string content;
    bool matched = false;
    {
        ScopedHandle<StdioFileTraits> in(std::fopen(fileName, "r"));
        if (!in)
            return false;
        char line[kMaxSettingLine + 1];
        size_t length;
        LineResult r;
        while ((r = ReadLine(in.Get(), line, length)) == LineResult::Line) {
            std::string out;
            if (StartsWith(line, key)) {
                matched = true;
                out = std::string(key) + " = " + value;
                // The comment runs to the line's end, also past a stray zero byte.
                if (const void* hash = std::memchr(line, '#', length)) {
                    const char* comment = static_cast<const char*>(hash);
                    out += ' ';
                    out.append(comment, size_t(line + length - comment));
                }
                // The rewritten line must stay readable by ReadSettingValue.
                if (out.size() > kMaxSettingLine)
                    return false;
            } else {
                out.assign(line, length);
            }
            content += out;
            content += '\n';
            if (content.size() > kMaxSettingContent)
                return false;
        }
        // A line beyond the line limit: rewriting would drop or cut it, so refuse.
        if (r == LineResult::TooLong)
            return false;
        // A read that stopped on an error has not seen the whole file: writing what
        // it has would drop the rest.
        if (std::ferror(in.Get()))
            return false;
    }
    if (!matched)
        return false;
    // The new content is written whole beside the old file and put in its place in
    // one step only once it is on the disk: a full disk or a crash part-way leaves
    // the old file as it was, never an empty or cut one.
    const std::string temp = std::string(fileName) + kReplacementSuffix;
    DialerFiles& files = Files();
    if (!files.WriteText(temp, content) || !files.Replace(temp, fileName)) {
        files.Remove(temp);
        return false;
    }
    return true;
}
