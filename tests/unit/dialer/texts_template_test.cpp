// The shipped texts file: the template tool writes exactly the program's built-in
// texts, and the translation step turns a UTF-8 translation into a complete file
// in the language's code page, refusing translations the dialer would misshow.
#include "catalogue.h"
#include "settings.h"

#include "ScratchDir.h"

#include <iconv.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(PONDO_BINARY_DIR) + "/tools/texts_template";
const std::string kTranslate = std::string(PONDO_SOURCE_DIR) + "/tools/make_translation.py";
const std::string kChinese = std::string(PONDO_SOURCE_DIR) + "/installer/texts/zh_CN.txt";

int RunCommand(const std::string& command) {
    const int status = std::system((command + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every key the dialer looks up in the texts file, with its built-in text
// (nullptr: none).
std::map<std::string, const char*> AllKeys() {
    std::map<std::string, const char*> keys;
    int count = 0;
    const NamedText* named = NamedTexts(count);
    for (int i = 0; i < count; ++i)
        keys[named[i].key] = named[i].defaultText;
    for (const CatalogueTable* t :
         {&FindingTable(), &ErrorTable(), &StatusTable(), &RasStateTable()})
        for (int i = 0; i < t->rows; ++i)
            keys[std::to_string(t->base + i)] = t->defaults[i];
    return keys;
}

// The text the shipped file must give a key: its built-in text, or for a key
// without one the catalogue's shipped text.
std::map<std::string, std::string> ShippedTexts() {
    std::map<std::string, std::string> texts;
    for (const auto& [key, text] : AllKeys())
        texts[key] = text != nullptr ? text : "";
    int count = 0;
    const NamedText* named = NamedTexts(count);
    for (int i = 0; i < count; ++i)
        if (named[i].defaultText == nullptr && named[i].shippedText != nullptr)
            texts[named[i].key] = named[i].shippedText;
    return texts;
}

// The keys of the lines that are not comments or empty, in file order.
std::vector<std::string> KeyLines(const std::string& file) {
    std::vector<std::string> keys;
    std::istringstream in(ReadFile(file));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        keys.push_back(line.substr(0, line.find(" = ")));
    }
    return keys;
}

class TextsTemplate : public InScratchDir {};

TEST_F(TextsTemplate, FileSaysWhatTheProgramSaysWithoutIt) {
    ASSERT_EQ(RunCommand(kTool + " " + kTextsFile), 0);
    // Every key, the one without a built-in text too: the shipped file gives every
    // caption the dialer shows.
    for (const auto& [key, text] : ShippedTexts()) {
        char value[kMaxSettingLine + 1];
        ASSERT_TRUE(ReadSettingValue(key.c_str(), kTextsFile, value, sizeof value))
            << key << " is missing from the template";
        EXPECT_STREQ(value, text.c_str()) << key;
    }
    EXPECT_EQ(ShippedTexts().at("Disconnect"), "Disconnect");
    // The lookups the dialer makes, through the file, give the defaults.
    for (int i = 0; i < FindingTable().rows; ++i)
        EXPECT_EQ(GetFindingText(i), FindingTable().defaults[i]);
    for (int i = 0; i < ErrorTable().rows; ++i)
        EXPECT_EQ(GetErrorText(i), ErrorTable().defaults[i]);
    for (int i = 0; i < StatusTable().rows; ++i)
        EXPECT_EQ(GetStatusText(i), StatusTable().defaults[i]);
    for (int i = 0; i < RasStateTable().rows; ++i)
        EXPECT_EQ(GetRasStateText(i), RasStateTable().defaults[i]);
    // Nothing else, and nothing twice.
    const auto keys = AllKeys();
    std::map<std::string, int> seen;
    for (const std::string& key : KeyLines(kTextsFile)) {
        EXPECT_TRUE(keys.count(key)) << "unknown key " << key;
        EXPECT_EQ(++seen[key], 1) << key;
    }
    EXPECT_EQ(seen.size(), keys.size());
}

TEST_F(TextsTemplate, StandardOutputMatchesTheFile) {
    ASSERT_EQ(RunCommand(kTool + " a.ini"), 0);
    ASSERT_EQ(RunCommand(kTool + " > b.ini"), 0);
    EXPECT_EQ(ReadFile("a.ini"), ReadFile("b.ini"));
    EXPECT_NE(ReadFile("a.ini").find("\r\n"), std::string::npos);
    EXPECT_NE(RunCommand(kTool + " a.ini extra"), 0);
    EXPECT_NE(RunCommand(kTool + " no/such/dir/x.ini"), 0);
}

std::string ToCp936(const std::string& utf8) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == iconv_t(-1))
        return "<no CP936 converter>";
    std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t srcLeft = in.size(), dstLeft = out.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == size_t(-1))
        return "<not convertible>";
    out.resize(out.size() - dstLeft);
    return out;
}

std::map<std::string, std::string> ReadTranslation(const std::string& path) {
    std::map<std::string, std::string> texts;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos)
            texts[line.substr(0, eq)] = line.substr(eq + 3);
    }
    return texts;
}

TEST_F(TextsTemplate, ChineseFileHasEveryKeyInCodePage936) {
    ASSERT_EQ(RunCommand(kTool + " template.ini"), 0);
    ASSERT_EQ(RunCommand("python3 " + kTranslate + " template.ini " + kChinese + " " + kTextsFile),
              0);
    const auto translation = ReadTranslation(kChinese);
    const auto keys = AllKeys();
    for (const auto& [key, text] : keys) {
        auto it = translation.find(key);
        ASSERT_NE(it, translation.end()) << key << " untranslated";
        char value[kMaxSettingLine + 1];
        ASSERT_TRUE(ReadSettingValue(key.c_str(), kTextsFile, value, sizeof value)) << key;
        EXPECT_EQ(std::string(value), ToCp936(it->second)) << key;
    }
    EXPECT_EQ(GetErrorText(2), ToCp936("客户端程序已损坏，请退出。"));
    EXPECT_EQ(GetStatusText(3), ToCp936("正在连接，请稍候……"));
    EXPECT_EQ(KeyLines(kTextsFile).size(), keys.size());
}

struct BadTranslation {
    const char* name;
    const char* key;    // the translation's line for this key is replaced...
    std::string line;   // ...by this (empty: the line is dropped)
    const char* reason; // what the refusal says
};
void PrintTo(const BadTranslation& c, std::ostream* os) {
    *os << c.name;
}

class RefusedTranslation : public InScratchDir,
                           public ::testing::WithParamInterface<BadTranslation> {};

TEST_P(RefusedTranslation, WritesNothing) {
    const BadTranslation& c = GetParam();
    ASSERT_EQ(RunCommand(kTool + " template.ini"), 0);
    std::istringstream in(ReadFile(kChinese));
    std::string text, line;
    bool replaced = false;
    while (std::getline(in, line)) {
        if (line.rfind(std::string(c.key) + " = ", 0) == 0) {
            replaced = true;
            if (!c.line.empty())
                text += c.line + "\n";
        } else {
            text += line + "\n";
        }
    }
    ASSERT_TRUE(replaced) << c.key;
    WriteFile("bad.txt", text);
    const int status =
        std::system(("python3 " + kTranslate + " template.ini bad.txt out.ini 2>err.txt").c_str());
    EXPECT_NE(status, 0);
    EXPECT_FALSE(FileExists("out.ini"));
    EXPECT_NE(ReadFile("err.txt").find(c.reason), std::string::npos) << ReadFile("err.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedTranslation,
    ::testing::Values(
        BadTranslation{"MissingKey", "305", "", "no translation for 305"},
        BadTranslation{"UnknownKey", "Exit", "Exit = 退出\nExitt = 退出", "does not have: Exitt"},
        BadTranslation{"KeyTwice", "Exit", "Exit = 退出\nExit = 离开", "given twice"},
        BadTranslation{"HashInText", "Exit", "Exit = 退#出", "cannot hold '#'"},
        BadTranslation{"NotInCodePage", "Exit", "Exit = 退出 \xF0\x9F\x98\x80", "no cp936 code"},
        BadTranslation{"LineTooLong", "Exit", "Exit = " + std::string(193, 'x'), "at most 199"},
        BadTranslation{"NoEquals", "Exit", "Exit", "not a 'key = text' line"}),
    [](const ::testing::TestParamInfo<BadTranslation>& info) { return info.param.name; });

} // namespace
