#include "DialogBase_win.h"

#include <vector>

std::string ControlText(HWND control) {
    const int length = GetWindowTextLengthA(control);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(size_t(length) + 1);
    const int got = GetWindowTextA(control, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? size_t(got) : 0);
}

void DialogBase::OnCommand(int id, CommandHandler handler, WORD code) {
    m_commands[MAKELONG(id, code)] = std::move(handler);
}

void DialogBase::OnMessage(UINT message, MessageHandler handler) {
    m_messages[message] = std::move(handler);
}

void DialogBase::DdxText(int id, std::string& field, bool save) {
    if (save)
        field = ControlText(GetDlgItem(m_hWnd, id));
    else
        SetDlgItemTextA(m_hWnd, id, field.c_str());
}

void DialogBase::DdxCheck(int id, int& field, bool save) {
    if (save)
        field = IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED ? 1 : 0;
    else
        CheckDlgButton(m_hWnd, id, field ? BST_CHECKED : BST_UNCHECKED);
}

int DialogBase::DoModal(HWND parent) {
    m_bEnded = false;
    HWND hwnd = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nTemplateId),
                                   parent, &DialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr)
        return -1;
    if (parent)
        EnableWindow(parent, FALSE);
    if (!m_bEnded)
        ShowWindow(hwnd, SW_SHOW);
    MSG msg;
    BOOL got = TRUE;
    while (!m_bEnded && (got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        if (PreTranslateMessage(msg))
            continue;
        if (m_hWnd != nullptr && IsDialogMessageA(m_hWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (m_hWnd != nullptr)
        OnEnding();
    if (parent) {
        EnableWindow(parent, TRUE);
        SetActiveWindow(parent);
    }
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
    // A WM_QUIT taken by a dialog run from another one is meant for the outer run too.
    if (got == 0 && parent)
        PostQuitMessage(int(msg.wParam));
    return m_nResult;
}

void DialogBase::EndDialog(int result) {
    m_nResult = result;
    m_bEnded = true;
    // Wake the loop in DoModal; the window is destroyed there, after the handler
    // that ended the dialog has returned.
    PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogBase* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<DialogBase*>(lParam);
        self->m_hWnd = hwnd;
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<DialogBase*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (self == nullptr)
        return FALSE;
    try {
        const INT_PTR result = self->Dispatch(message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            self->m_hWnd = nullptr;
        }
        return result;
    } catch (...) {
        // Nothing may unwind through the system's window code.
        return FALSE;
    }
}

INT_PTR DialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        OnInitDialog();
        return TRUE;
    }
    if (message == WM_COMMAND) {
        auto it = m_commands.find(DWORD(wParam));
        if (it != m_commands.end()) {
            it->second();
            return TRUE;
        }
        // The framework's default OK and Cancel: end the dialog.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    auto it = m_messages.find(message);
    if (it == m_messages.end())
        return FALSE;
    bool handled = true;
    const LRESULT result = it->second(wParam, lParam, handled);
    if (!handled)
        return FALSE;
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    // Messages whose answer is the return value itself rather than DWLP_MSGRESULT.
    switch (message) {
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
        return INT_PTR(result);
    }
    return TRUE;
}
