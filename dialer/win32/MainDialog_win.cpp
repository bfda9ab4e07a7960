#include "MainDialog_win.h"

#include "AboutDlg_win.h"
#include "AppShell.h"
#include "AdapterSources_win.h"
#include "CodePage_win.h"
#include "DialReports_win.h"
#include "DialogBase_win.h"
#include "MessageKind_win.h"
#include "PondoDlg.h"
#include "RasService_win.h"
#include "ScopedHandles_win.h"
#include "TrayIcon_win.h"
#include "resource.h"

#include <windows.h>

#include <memory>

namespace {

constexpr UINT kDpiChangedMessage = 0x02E0; // WM_DPICHANGED

class MainDialog : public DialogBase, public DialogWindow {
  public:
    MainDialog(MainDialogStart& start, RasService& ras, CaptureAdapterNames& capture,
               AdapterRegistry& registry, IpAdapterTable& ipTable)
        : DialogBase(IDD_PONDO_DIALOG),
          m_logic(DialerPorts{*this, ras, capture, registry, ipTable, start.log}, start.title,
                  std::move(start.companion), start.userFile) {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        m_hIdleIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_IDLE));
        m_hConnectedIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_CONNECTED));
        // Loaded unshared at the small size, so it is ours to destroy (LoadIcon's
        // shared icons are the system's).
        m_hSmallIcon.Reset(static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_IDLE),
                                                         IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                         GetSystemMetrics(SM_CYSMICON), 0)));
        Bind();
    }
    ~MainDialog() override { SetDialReportWindow(nullptr); }

    PondoDlg& Logic() { return m_logic; }

    // DialogWindow
    void SetItemText(int id, const std::string& text) override {
        SetDlgItemTextA(Handle(), id, text.c_str());
    }
    std::string GetItemText(int id) override { return ControlText(GetDlgItem(Handle(), id)); }
    void SetCheck(int id, bool checked) override {
        CheckDlgButton(Handle(), id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    bool GetCheck(int id) override { return IsDlgButtonChecked(Handle(), id) == BST_CHECKED; }
    void EnableItem(int id, bool enable) override {
        EnableWindow(GetDlgItem(Handle(), id), enable ? TRUE : FALSE);
    }
    void ComboReset(int id) override { SendDlgItemMessageA(Handle(), id, CB_RESETCONTENT, 0, 0); }
    void ComboAdd(int id, const std::string& text) override {
        SendDlgItemMessageA(Handle(), id, CB_ADDSTRING, 0, LPARAM(text.c_str()));
    }
    int ComboCount(int id) override {
        return int(SendDlgItemMessageA(Handle(), id, CB_GETCOUNT, 0, 0));
    }
    void ComboSelect(int id, int index) override {
        SendDlgItemMessageA(Handle(), id, CB_SETCURSEL, WPARAM(index), 0);
    }
    void SetTitle(const std::string& title) override { SetWindowTextA(Handle(), title.c_str()); }
    void SetIdleWindowIcon() override {
        SendMessageA(Handle(), WM_SETICON, ICON_BIG, LPARAM(m_hIdleIcon));
        SendMessageA(Handle(), WM_SETICON, ICON_SMALL,
                     LPARAM(m_hSmallIcon ? m_hSmallIcon.Get() : m_hIdleIcon));
    }
    bool HasSystemMenu() override { return GetSystemMenu(Handle(), FALSE) != nullptr; }
    void AppendAboutItem(const std::string& text) override {
        HMENU menu = GetSystemMenu(Handle(), FALSE);
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, kAboutCommand, text.c_str());
    }
    unsigned SetTimer(unsigned id, unsigned periodMs) override {
        return unsigned(::SetTimer(Handle(), id, periodMs, nullptr));
    }
    void KillTimer(unsigned id) override { ::KillTimer(Handle(), id); }
    void Hide() override { ShowWindow(Handle(), SW_HIDE); }
    void ShowAndRaise() override {
        ShowWindow(Handle(), SW_SHOW);
        SetForegroundWindow(Handle());
    }
    bool IsVisible() override { return IsWindowVisible(Handle()) != FALSE; }
    // The shell knows the icon by the window it was added with, so that window is
    // kept for the later calls: the icon goes also when the window is gone first.
    void AddTrayIcon(TrayIcon icon, const std::string& tip) override {
        m_hTrayOwner = Handle();
        PassTray(NIM_ADD, IconOf(icon), tip);
    }
    void SetTrayIcon(TrayIcon icon, const std::string& tip) override {
        if (m_hTrayOwner != nullptr)
            PassTray(NIM_MODIFY, IconOf(icon), tip);
    }
    void RemoveTrayIcon() override {
        if (m_hTrayOwner == nullptr)
            return;
        PassTray(NIM_DELETE, nullptr, "");
        m_hTrayOwner = nullptr;
    }
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageKind kind) override {
        MessageBoxA(Handle(), text.c_str(), caption.c_str(), MessageBoxStyle(kind));
    }
    void RunAboutBox() override {
        AboutDlg about;
        about.DoModal(Handle());
    }
    void EndDialog(int result) override {
        SetDialReportWindow(nullptr);
        DialogBase::EndDialog(result);
    }
    void Pause(unsigned ms) override { Sleep(ms); }

  private:
    HICON IconOf(TrayIcon icon) const {
        return icon == TrayIcon::Connected ? m_hConnectedIcon : m_hIdleIcon;
    }
    void PassTray(DWORD action, HICON icon, const std::string& tip) {
        PassTrayRecord(action, BuildTrayRecord(reinterpret_cast<uintptr_t>(m_hTrayOwner),
                                               reinterpret_cast<uintptr_t>(icon), tip, m_codePage));
    }

    void OnInitDialog() override {
        SetDialReportWindow(Handle());
        ScaleBanner(WindowDpi(Handle()));
        m_logic.OnInitDialog();
    }

    // The dialog may end without its own exit (a WM_QUIT ends the message loop):
    // what its close handling does is done here, while the window still exists.
    void OnEnding() override { m_logic.OnEnding(); }

    // The dialog's texts and controls grow with the screen's DPI (they are laid
    // out in dialog units); a picture does not. Above 96 DPI the banner is drawn
    // at the same share of the dialog from its double-size picture, so it stays
    // sharp instead of being shown small or stretched by the system.
    void ScaleBanner(UINT dpi) {
        HWND banner = nullptr;
        for (HWND c = GetWindow(Handle(), GW_CHILD); c && !banner; c = GetWindow(c, GW_HWNDNEXT))
            if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
                banner = c;
        if (banner == nullptr || (dpi <= 96 && !m_hScaledBanner))
            return;
        HINSTANCE instance = GetModuleHandleA(nullptr);
        ScopedBitmap source(static_cast<HBITMAP>(
            LoadImageA(instance, MAKEINTRESOURCEA(IDB_BANNER_2X), IMAGE_BITMAP, 0, 0, 0)));
        if (!source)
            return;
        BITMAP size{};
        GetObjectA(source.Get(), sizeof size, &size);
        const int width = MulDiv(size.bmWidth / 2, int(dpi), 96);
        const int height = MulDiv(size.bmHeight / 2, int(dpi), 96);
        HDC screen = GetDC(Handle());
        {
            ScopedMemoryDc from(CreateCompatibleDC(screen));
            ScopedMemoryDc to(CreateCompatibleDC(screen));
            ScopedBitmap scaled(CreateCompatibleBitmap(screen, width, height));
            if (from && to && scaled) {
                HGDIOBJ oldFrom = SelectObject(from.Get(), source.Get());
                HGDIOBJ oldTo = SelectObject(to.Get(), scaled.Get());
                SetStretchBltMode(to.Get(), HALFTONE);
                SetBrushOrgEx(to.Get(), 0, 0, nullptr);
                StretchBlt(to.Get(), 0, 0, width, height, from.Get(), 0, 0, size.bmWidth,
                           size.bmHeight, SRCCOPY);
                SelectObject(from.Get(), oldFrom);
                SelectObject(to.Get(), oldTo);
                SendMessageA(banner, STM_SETIMAGE, IMAGE_BITMAP, LPARAM(scaled.Get()));
                // The control keeps its template picture's handle for itself; ours go
                // when they are replaced.
                m_hScaledBanner = std::move(scaled);
            }
        }
        ReleaseDC(Handle(), screen);
    }

    // GetDpiForWindow (Windows 10 1607 on) follows the window's screen; before,
    // the system DPI is the only one.
    static UINT WindowDpi(HWND window) {
        using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
        static const auto forWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
        if (forWindow)
            return forWindow(window);
        HDC dc = GetDC(window);
        const UINT dpi = UINT(GetDeviceCaps(dc, LOGPIXELSY));
        ReleaseDC(window, dc);
        return dpi;
    }

    bool PreTranslateMessage(const MSG& msg) override {
        // Neither key may end the dialog or press a button, whatever has the focus.
        return msg.message == WM_KEYDOWN && PondoDlg::IsSwallowedKey(unsigned(msg.wParam));
    }

    void Bind() {
        OnCommand(IDC_CONNECT, [this] { m_logic.OnConnect(); });
        OnCommand(IDC_EXIT, [this] { m_logic.OnExit(); });
        OnCommand(IDOK, [this] { m_logic.OnExit(); });
        OnCommand(IDCANCEL, [this] { m_logic.OnClose(); });
        OnCommand(
            IDC_ADAPTERS,
            [this] {
                m_logic.OnAdapterSelChange(
                    int(SendDlgItemMessageA(Handle(), IDC_ADAPTERS, CB_GETCURSEL, 0, 0)));
            },
            CBN_SELCHANGE);
        OnMessage(WM_CLOSE, [this](WPARAM, LPARAM, bool&) -> LRESULT {
            m_logic.OnClose();
            return 0;
        });
        OnMessage(WM_TIMER, [this](WPARAM id, LPARAM, bool& handled) -> LRESULT {
            handled = id == kLinkWatchTimer || id == kFindingsTimer;
            if (handled)
                m_logic.OnTimer(unsigned(id));
            return 0;
        });
        OnMessage(WM_SYSCOMMAND, [this](WPARAM command, LPARAM, bool& handled) -> LRESULT {
            handled = m_logic.OnSysCommand(unsigned(command));
            return 0;
        });
        OnMessage(kTrayCallbackMessage, [this](WPARAM id, LPARAM mouse, bool&) -> LRESULT {
            return m_logic.OnTrayNotify(unsigned(id), unsigned(mouse));
        });
        OnMessage(kDialNotifyMessage, [this](WPARAM, LPARAM, bool&) -> LRESULT {
            // Every report queued so far, in order; a report may end the dialog's
            // dialing, and the ones after it are then dropped by the logic.
            DialReport report;
            while (TakeDialReport(report))
                m_logic.OnDialNotification(report.connection, report.state, report.error);
            return 0;
        });
        // Moved to a screen of another DPI (per-monitor aware): the dialog manager
        // rescales the controls and fonts; the banner follows here.
        OnMessage(kDpiChangedMessage, [this](WPARAM dpi, LPARAM, bool& handled) -> LRESULT {
            ScaleBanner(LOWORD(dpi));
            handled = false;
            return 0;
        });
        OnMessage(WM_QUERYDRAGICON,
                  [this](WPARAM, LPARAM, bool&) -> LRESULT { return LRESULT(m_hIdleIcon); });
        OnMessage(WM_LBUTTONDOWN, [this](WPARAM, LPARAM lParam, bool& handled) -> LRESULT {
            // Drag the window by any free point of its client area.
            SendMessageA(Handle(), WM_NCLBUTTONDOWN, HTCAPTION, lParam);
            handled = false;
            return 0;
        });
        OnMessage(WM_PAINT, [this](WPARAM, LPARAM, bool& handled) -> LRESULT {
            handled = IsIconic(Handle()) != FALSE;
            if (!handled)
                return 0;
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(Handle(), &ps);
            SendMessageA(Handle(), WM_ICONERASEBKGND, WPARAM(dc), 0);
            RECT rect;
            GetClientRect(Handle(), &rect);
            const int x = (rect.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
            const int y = (rect.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
            DrawIcon(dc, x, y, m_hIdleIcon);
            EndPaint(Handle(), &ps);
            return 0;
        });
    }

    Win32CodePage m_codePage;
    PondoDlg m_logic;
    HWND m_hTrayOwner = nullptr; // the window the icon was added with
    HICON m_hIdleIcon = nullptr;
    HICON m_hConnectedIcon = nullptr;
    ScopedIcon m_hSmallIcon;
    ScopedBitmap m_hScaledBanner;
};

} // namespace

void RunPondoDialog(MainDialogStart& start) {
    Win32RasService ras;
    Win32CaptureAdapterNames capture;
    Win32AdapterRegistry registry;
    Win32IpAdapterTable ipTable;
    MainDialog dialog(start, ras, capture, registry, ipTable);
    dialog.DoModal(nullptr);
    // Should the window not even have opened, the library and the entry go all the same.
    dialog.Logic().Finish();
}
