// winctl: drives real windows for the Wine tests. Finds top-level windows (and
// message boxes) by title, reads their controls, clicks, types and selects.
// Texts are printed as UTF-8 converted from the system's 8-bit code page.
//
//   winctl [--msgbox | --main] [--pid N] <command> <title> [args]
//   commands:
//     wait <title> [ms]          wait for a visible window; prints its handle
//     waithidden <title> [ms]    wait until no visible window has the title
//     gone <title> [ms]          wait until no window at all has the title
//     texts <title>              window text, owner title, then one line per control:
//                                id<TAB>class<TAB>visible<TAB>enabled<TAB>checked<TAB>text
//                                (text with \\, \n and \t escaped)
//     alltexts <title>           as texts, for every descendant (pages inside pages)
//     items <title> <id>         the entries of a combo or list box, one per line
//     click <title> <id|text>    posts a click to a button (does not wait for it)
//     settext <title> <id> <text>
//     check <title> <id> <0|1>
//     select <title> <id> <index>   combo box selection with the change notification
//     state <title>              "visible" or "hidden", "iconic" when minimised
//     show <title>               restores a hidden window (as the tray icon does)
//     close <title>              posts WM_CLOSE
//     quit <title>               posts WM_QUIT to the window's thread (its message
//                                loop ends without the window's own exit)
//     syscommand <title> <id>    posts WM_SYSCOMMAND with the id
//     key <title> <vk>           posts WM_KEYDOWN/WM_KEYUP of a virtual key to the focus
//     listview <title> <id>      a list view's first column: "column W" (its width) and
//                                "client W", then per item the width its text needs
//                                (as the list view measures it) <TAB> the text
//     list                       every top-level window: handle, pid, visible, title
//     holdmutex <name> <ms>      creates and holds a named mutex for ms
//     fit <title> <face> <points> <charset>
//                                what each visible control's text needs, measured in
//                                the dialog's font (rebuilt from the template's face,
//                                size and character set at the screen's DPI, since
//                                another process's font handle cannot be used here):
//                                "dpi N", "base X Y" (the font's dialog base units),
//                                "check N" (a check box's box), then per control
//                                id<TAB>class<TAB>style<TAB>window w h<TAB>client w h
//                                <TAB>text w h (wrapped in the client width where the
//                                control wraps), sizes in pixels
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Kind { Any, MsgBox, Main };
Kind g_kind = Kind::Any;
DWORD g_pid = 0;

void Out(const std::string& ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), int(ansi.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), int(ansi.size()), &wide[0], n);
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), n, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(m), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), n, &utf8[0], m, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::string FromUtf8(const char* utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], n);
    int m = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(size_t(m), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], m, nullptr, nullptr);
    if (!ansi.empty() && ansi.back() == '\0')
        ansi.pop_back();
    return ansi;
}

std::string Text(HWND hwnd) {
    char buf[4096] = {};
    // WM_GETTEXT works across processes for standard controls.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf - 1, reinterpret_cast<LPARAM>(buf),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

// A top-level window's title without sending it a message, so a hung or crashed
// program cannot hang the driver.
std::string Title(HWND hwnd) {
    wchar_t wide[1024] = {};
    InternalGetWindowText(hwnd, wide, 1023);
    int m = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(size_t(m), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &ansi[0], m, nullptr, nullptr);
    if (!ansi.empty() && ansi.back() == '\0')
        ansi.pop_back();
    return ansi;
}

bool IsMessageBox(HWND hwnd) {
    return GetDlgItem(hwnd, 0xFFFF) != nullptr;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM all) {
    reinterpret_cast<std::vector<HWND>*>(all)->push_back(child);
    return TRUE;
}

struct Search {
    std::string title;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM lp) {
    Search* s = reinterpret_cast<Search*>(lp);
    if (s->visibleOnly && !IsWindowVisible(hwnd))
        return TRUE;
    if (g_pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != g_pid)
            return TRUE;
    }
    if (s->title != Title(hwnd))
        return TRUE;
    if (g_kind == Kind::MsgBox && !IsMessageBox(hwnd))
        return TRUE;
    if (g_kind == Kind::Main && IsMessageBox(hwnd))
        return TRUE;
    s->found.push_back(hwnd);
    return TRUE;
}

HWND Find(const std::string& title, bool visibleOnly) {
    Search s{title, visibleOnly, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

HWND Require(const std::string& title) {
    HWND hwnd = Find(title, false);
    if (!hwnd) {
        std::fprintf(stderr, "winctl: no window titled \"%s\"\n", title.c_str());
        std::exit(2);
    }
    return hwnd;
}

HWND Control(HWND dialog, const char* idOrText) {
    char* end = nullptr;
    long id = std::strtol(idOrText, &end, 0);
    if (end && *end == '\0') {
        if (HWND direct = GetDlgItem(dialog, int(id)))
            return direct;
        // A control of a page inside the window (a setup's pages are dialogs in
        // its dialog).
        std::vector<HWND> all;
        EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&all));
        for (HWND c : all)
            if (GetDlgCtrlID(c) == int(id))
                return c;
        return nullptr;
    }
    const std::string wanted = FromUtf8(idOrText);
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (Text(c) == wanted)
            return c;
    return nullptr;
}

HWND RequireControl(HWND dialog, const char* idOrText) {
    HWND c = Control(dialog, idOrText);
    if (!c) {
        std::fprintf(stderr, "winctl: no control %s\n", idOrText);
        std::exit(3);
    }
    return c;
}

int Wait(const std::string& title, DWORD ms, bool wantPresent, bool visibleOnly) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = Find(title, visibleOnly);
        if (wantPresent && hwnd) {
            std::printf("%p\n", static_cast<void*>(hwnd));
            return 0;
        }
        if (!wantPresent && !hwnd)
            return 0;
        if (GetTickCount() - start > ms)
            return 1;
        Sleep(50);
    }
}

BOOL CALLBACK ListOne(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    const std::string title = Title(hwnd);
    if (title.empty())
        return TRUE;
    std::printf("%p\t%lu\t%d\t", static_cast<void*>(hwnd), pid, IsWindowVisible(hwnd) ? 1 : 0);
    Out(title);
    std::printf("\n");
    return TRUE;
}

// Dialog base units of a font as the dialog manager computes them: the average
// width of the 52 Latin letters, rounded, and the character height.
SIZE BaseUnits(HDC dc) {
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SIZE size{};
    const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32A(dc, letters, 52, &size);
    return SIZE{(size.cx / 26 + 1) / 2, tm.tmHeight};
}

int Fit(HWND dialog, const char* face, int points, int charset) {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    HFONT font = CreateFontA(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DWORD(charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    HGDIOBJ old = SelectObject(dc, font);
    const SIZE base = BaseUnits(dc);
    std::printf("dpi %d\nbase %ld %ld\ncheck %d\n", dpi, base.cx, base.cy,
                GetSystemMetrics(SM_CXMENUCHECK));
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c))
            continue;
        char cls[64] = {};
        GetClassNameA(c, cls, sizeof cls);
        const LONG style = GetWindowLongA(c, GWL_STYLE);
        RECT window{}, client{};
        GetWindowRect(c, &window);
        GetClientRect(c, &client);
        const std::string text = Text(c);
        RECT need{0, 0, client.right, 0};
        UINT format = DT_CALCRECT;
        const bool isStatic = _stricmp(cls, "Static") == 0;
        const LONG type = style & SS_TYPEMASK;
        if (isStatic && (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT))
            format |= DT_WORDBREAK; // these wrap at word breaks
        else
            format |= DT_SINGLELINE;
        if (isStatic && (style & SS_NOPREFIX))
            format |= DT_NOPREFIX;
        if (!text.empty())
            DrawTextA(dc, text.c_str(), -1, &need, format);
        else
            need = RECT{0, 0, 0, 0};
        std::printf("%d\t%s\t0x%08lx\t%ld %ld\t%ld %ld\t%ld %ld\n", GetDlgCtrlID(c), cls,
                    static_cast<unsigned long>(style), window.right - window.left,
                    window.bottom - window.top, client.right, client.bottom, need.right - need.left,
                    need.bottom - need.top);
    }
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return 0;
}

// Another process's list view keeps its items in its own memory: the item record
// and the text buffer go there, and the text is read back from there.
int ListView(HWND list) {
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr) {
        std::fprintf(stderr, "winctl: cannot open the list view's process\n");
        return 4;
    }
    constexpr int kChars = 2048;
    const SIZE_T size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
    char* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (remote == nullptr) {
        CloseHandle(process);
        std::fprintf(stderr, "winctl: no memory in the list view's process\n");
        return 4;
    }
    wchar_t* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    RECT client{};
    GetClientRect(list, &client);
    std::printf("column %ld\nclient %ld\n", long(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0)),
                client.right);
    const LRESULT count = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT k = 0; k < count; ++k) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = int(k);
        item.pszText = remoteText;
        item.cchTextMax = kChars;
        wchar_t text[kChars] = {};
        WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
        SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(k), reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process, remoteText, text, sizeof text - sizeof(wchar_t), nullptr);
        const LRESULT width =
            SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(remoteText));
        char ansi[kChars * 2] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi - 1, nullptr, nullptr);
        std::printf("%ld\t", long(width));
        Out(ansi);
        std::printf("\n");
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return 0;
}

} // namespace

int main(int, char**) {
    // The arguments as UTF-8, whatever the code page: the 8-bit argv that Wine
    // hands over is already in the code page, which would garble titles in
    // another script (a Chinese caption under a Chinese locale).
    int argc = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> utf8Args;
    std::vector<char*> argvStore;
    for (int k = 0; k < argc; ++k) {
        const int m = WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, nullptr, 0, nullptr, nullptr);
        std::string a(size_t(m > 0 ? m : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, &a[0], m, nullptr, nullptr);
        utf8Args.push_back(a.c_str());
    }
    LocalFree(wide);
    for (std::string& a : utf8Args)
        argvStore.push_back(&a[0]);
    char** argv = argvStore.data();
    int i = 1;
    for (; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--msgbox"))
            g_kind = Kind::MsgBox;
        else if (!std::strcmp(argv[i], "--main"))
            g_kind = Kind::Main;
        else if (!std::strcmp(argv[i], "--pid") && i + 1 < argc)
            g_pid = DWORD(std::atol(argv[++i]));
        else
            break;
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: winctl [--msgbox|--main] [--pid N] command ...\n");
        return 64;
    }
    const std::string cmd = argv[i++];
    auto arg = [&](int k) -> const char* { return i + k < argc ? argv[i + k] : nullptr; };
    auto need = [&](int k) -> const char* {
        if (!arg(k)) {
            std::fprintf(stderr, "winctl: %s needs more arguments\n", cmd.c_str());
            std::exit(64);
        }
        return arg(k);
    };

    if (cmd == "list") {
        EnumWindows(ListOne, 0);
        return 0;
    }
    if (cmd == "holdmutex") {
        HANDLE m = CreateMutexA(nullptr, TRUE, FromUtf8(need(0)).c_str());
        std::printf("holding\n");
        std::fflush(stdout);
        Sleep(DWORD(std::atol(need(1))));
        CloseHandle(m);
        return 0;
    }
    // Sizes in the screen's own pixels, whatever the DPI.
    if (cmd == "fit")
        SetProcessDPIAware();
    const std::string title = FromUtf8(need(0));
    if (cmd == "wait")
        return Wait(title, arg(1) ? DWORD(std::atol(arg(1))) : 10000, true, true);
    if (cmd == "waithidden")
        return Wait(title, arg(1) ? DWORD(std::atol(arg(1))) : 10000, false, true);
    if (cmd == "gone")
        return Wait(title, arg(1) ? DWORD(std::atol(arg(1))) : 10000, false, false);

    HWND hwnd = Require(title);
    if (cmd == "texts" || cmd == "alltexts") {
        Out(Text(hwnd));
        std::printf("\n");
        HWND owner = GetWindow(hwnd, GW_OWNER);
        Out(owner ? Text(owner) : std::string());
        std::printf("\n");
        std::vector<HWND> controls;
        if (cmd == "texts") {
            for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                controls.push_back(c);
        } else {
            EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&controls));
        }
        for (HWND c : controls) {
            char cls[256] = {};
            GetClassNameA(c, cls, sizeof cls);
            LRESULT checked = 0;
            SendMessageTimeoutA(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000,
                                reinterpret_cast<PDWORD_PTR>(&checked));
            if (_stricmp(cls, "Button") != 0)
                checked = 0;
            std::printf("%d\t%s\t%d\t%d\t%d\t", GetDlgCtrlID(c), cls, IsWindowVisible(c) ? 1 : 0,
                        IsWindowEnabled(c) ? 1 : 0, int(checked));
            // One line per control: escape the characters that would break it.
            std::string t;
            for (char ch : Text(c)) {
                if (ch == '\\')
                    t += "\\\\";
                else if (ch == '\n')
                    t += "\\n";
                else if (ch == '\t')
                    t += "\\t";
                else if (ch != '\r')
                    t += ch;
            }
            Out(t);
            std::printf("\n");
        }
        return 0;
    }
    if (cmd == "items") {
        HWND c = RequireControl(hwnd, need(1));
        char cls[64] = {};
        GetClassNameA(c, cls, sizeof cls);
        const bool combo = _stricmp(cls, "ComboBox") == 0;
        LRESULT n = SendMessageA(c, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
        for (LRESULT k = 0; k < n; ++k) {
            // Wide across processes: Wine hands the ANSI form of this message to
            // another process as a wide string, which would read as one character.
            wchar_t wide[1024] = {};
            SendMessageW(c, combo ? CB_GETLBTEXT : LB_GETTEXT, WPARAM(k),
                         reinterpret_cast<LPARAM>(wide));
            char item[2048] = {};
            WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof item - 1, nullptr, nullptr);
            Out(item);
            std::printf("\n");
        }
        LRESULT sel = SendMessageA(c, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
        std::printf("selected\t%ld\n", long(sel));
        return 0;
    }
    if (cmd == "click") {
        HWND c = RequireControl(hwnd, need(1));
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED),
                     reinterpret_cast<LPARAM>(c));
        return 0;
    }
    if (cmd == "settext") {
        HWND c = RequireControl(hwnd, need(1));
        const std::string text = FromUtf8(need(2));
        SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return 0;
    }
    if (cmd == "check") {
        HWND c = RequireControl(hwnd, need(1));
        SendMessageA(c, BM_SETCHECK, std::atoi(need(2)) ? BST_CHECKED : BST_UNCHECKED, 0);
        return 0;
    }
    if (cmd == "select") {
        HWND c = RequireControl(hwnd, need(1));
        SendMessageA(c, CB_SETCURSEL, WPARAM(std::atoi(need(2))), 0);
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(c));
        return 0;
    }
    if (cmd == "state") {
        std::printf("%s%s\n", IsWindowVisible(hwnd) ? "visible" : "hidden",
                    IsIconic(hwnd) ? " iconic" : "");
        return 0;
    }
    if (cmd == "show") {
        ShowWindow(hwnd, SW_SHOW);
        return 0;
    }
    if (cmd == "close") {
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    }
    if (cmd == "quit") {
        const DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
        return PostThreadMessageA(thread, WM_QUIT, 0, 0) ? 0 : 4;
    }
    if (cmd == "syscommand") {
        PostMessageA(hwnd, WM_SYSCOMMAND, WPARAM(std::strtoul(need(1), nullptr, 0)), 0);
        return 0;
    }
    if (cmd == "key") {
        const WPARAM vk = WPARAM(std::strtoul(need(1), nullptr, 0));
        HWND target = hwnd;
        DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus)
            target = info.hwndFocus;
        PostMessageA(target, WM_KEYDOWN, vk, 1);
        PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
        return 0;
    }
    if (cmd == "listview")
        return ListView(RequireControl(hwnd, need(1)));
    if (cmd == "fit")
        return Fit(hwnd, FromUtf8(need(1)).c_str(), std::atoi(need(2)),
                   int(std::strtol(need(3), nullptr, 0)));
    std::fprintf(stderr, "winctl: unknown command %s\n", cmd.c_str());
    return 64;
}
