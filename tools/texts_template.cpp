// Writes the interface texts file "KELSupplicant.ini" as shipped: every named text
// and every numbered message with the dialer's own built-in English text, grouped
// under comment lines. It takes the texts from the dialer's tables, so the shipped
// file can never say something the program would not say without it; the one text
// without a built-in default ("Disconnect") gets the catalogue's shipped text, so
// the shipped file gives every caption the dialer shows.
//
// Usage: texts_template [output-file]   (standard output when none is given)
// Lines end with CR LF, as the file is edited on Windows.
#include "catalogue.h"
#include "settings.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Group {
    const char* comment;
    const CatalogueTable& (*table)();
};

const Group kGroups[] = {
    {"Findings of the sharing checks (107, 108 and 110 end the connection, followed by 302)",
     &FindingTable},
    {"Errors and refusals", &ErrorTable},
    {"Status line", &StatusTable},
    {"Dial progress, by the state the remote-access service reports (400: any other state)",
     &RasStateTable},
};

const char* const kHeader[] = {
    "KELSupplicant.ini: the texts of the dialer. A line \"key = text\" replaces the",
    "built-in text of that key; without the line (or with \"#\" in front of it) the",
    "built-in text is used. An empty text is shown empty. A line holds at most 199",
    "bytes in the system's code page; a text cannot contain \"#\" (the rest of the",
    "line is a comment), and blanks around it are dropped. Keys are case-sensitive",
    "and start in the first column. MainDlgTitle also names the running program:",
    "two copies with different titles both run.",
};

// A text the format cannot carry back unchanged would make the file differ from
// the program's own defaults.
bool Representable(const std::string& key, const char* text, std::string& why) {
    const size_t n = std::strlen(text);
    if (std::strpbrk(text, "#\r\n") != nullptr)
        why = "holds \"#\" or a line end";
    else if (n > 0 && (text[0] == ' ' || text[n - 1] == ' '))
        why = "begins or ends with a blank";
    else if (key.size() + 3 + n > kMaxSettingLine)
        why = "makes a line longer than 199 bytes";
    else
        return true;
    return false;
}

class Writer {
  public:
    explicit Writer(std::FILE* out) : out_(out) {}
    void Line(const std::string& text) { text_ += text + "\r\n"; }
    void Comment(const std::string& text) { Line("# " + text); }
    bool Entry(const std::string& key, const char* text) {
        std::string why;
        if (!Representable(key, text, why)) {
            std::fprintf(stderr, "texts_template: the text of %s %s\n", key.c_str(), why.c_str());
            return false;
        }
        Line(key + " = " + text);
        return true;
    }
    bool Flush() {
        return std::fwrite(text_.data(), 1, text_.size(), out_) == text_.size() &&
               std::fflush(out_) == 0;
    }

  private:
    std::FILE* out_;
    std::string text_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: texts_template [output-file]\n");
        return 2;
    }
    std::FILE* out = argc == 2 ? std::fopen(argv[1], "wb") : stdout;
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    Writer w(out);
    bool ok = true;
    for (const char* line : kHeader)
        w.Comment(line);
    w.Line("");
    w.Comment("Window titles, labels and buttons");
    int count = 0;
    const NamedText* named = NamedTexts(count);
    for (int i = 0; i < count; ++i) {
        const char* text = named[i].defaultText;
        if (text == nullptr) {
            // No built-in text: without this line the program shows nothing of its
            // own here, so the file says what the shipped dialer shows.
            w.Comment(std::string(named[i].key) +
                      " has no built-in text: without this line the connect button keeps");
            w.Comment("its idle caption while connecting and connected.");
            text = named[i].shippedText;
        }
        if (text == nullptr) {
            std::fprintf(stderr, "texts_template: %s has no text to ship\n", named[i].key);
            ok = false;
            continue;
        }
        ok &= w.Entry(named[i].key, text);
    }
    for (const Group& group : kGroups) {
        const CatalogueTable& table = group.table();
        w.Line("");
        w.Comment(group.comment);
        for (int i = 0; i < table.rows; ++i)
            ok &= w.Entry(std::to_string(table.base + i), table.defaults[i]);
    }
    ok &= w.Flush();
    if (argc == 2)
        ok &= std::fclose(out) == 0;
    return ok ? 0 : 1;
}
