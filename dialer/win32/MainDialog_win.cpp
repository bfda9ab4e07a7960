#include "MainDialog_win.h"

#include "Pondo.h"
#include "resource.h"

#include <windows.h>

// Until the connection workflow lands this is the bare dialog with the title and
// an Exit button.
namespace {

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextA(hwnd, reinterpret_cast<PondoApp*>(lParam)->Title().c_str());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) EndDialog(hwnd, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void RunPondoDialog(PondoApp& app) {
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PONDO_DIALOG), nullptr,
                    DialogProc, reinterpret_cast<LPARAM>(&app));
    app.TakeCompanion().reset();
}
