#include "MyUtils.h"

#include <cctype>
#include <climits>

int FindFrom(const std::string& needle, const std::string& text, int start) {
    if (start < 1)
        start = 1;
    if (static_cast<size_t>(start) > text.size() + 1)
        return 0;
    const size_t at = text.find(needle, static_cast<size_t>(start - 1));
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::string LowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string TrimBlanks(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

bool TryStrToInt(const std::string& text, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t(INT32_MAX) + 1)
            return false;
    }
    if (!negative && magnitude > INT32_MAX)
        return false;
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

ProfileText::ProfileText(const std::string& bytes) {
    std::vector<Line>* current = nullptr;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        std::string raw = bytes.substr(pos, end - pos);
        pos = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::string line = TrimBlanks(raw);
        // Comment lines are not part of any section, as the system's reader has it.
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            const std::string name = LowerCase(TrimBlanks(
                line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            // Only the first section of a name is read, as the system's reader does.
            current = sections_.count(name) ? nullptr : &sections_[name];
            continue;
        }
        if (!current)
            continue;
        Line entry;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            entry.key = line;
        } else {
            entry.key = TrimBlanks(line.substr(0, eq));
            entry.hasValue = true;
            entry.value = TrimBlanks(line.substr(eq + 1));
        }
        current->push_back(entry);
    }
}

std::string ProfileText::String(const std::string& section, const std::string& key) const {
    const auto found = sections_.find(LowerCase(section));
    if (found == sections_.end())
        return {};
    const std::string wanted = LowerCase(key);
    for (const Line& line : found->second) {
        if (!line.hasValue || LowerCase(line.key) != wanted)
            continue;
        std::string value = line.value;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

std::vector<std::string> ProfileText::Section(const std::string& section) const {
    std::vector<std::string> lines;
    const auto found = sections_.find(LowerCase(section));
    if (found == sections_.end())
        return lines;
    for (const Line& line : found->second)
        lines.push_back(line.hasValue ? line.key + "=" + line.value : line.key);
    return lines;
}
