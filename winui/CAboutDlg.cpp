#include "winui/CAboutDlg.h"

#include "serial/WideText.h"
#include "windowmodel/ControlIds.h"
#include "windowmodel/WindowTexts.h"

#include "ProductVersion.h"

#include <string>

namespace fwup {

void CAboutDlg::DoModal(HINSTANCE hInstance, HWND hOwner) {
    ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), hOwner, DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM) {
    switch (nMsg) {
    case WM_INITDIALOG: {
        // The template holds the layout; the texts come from the window model, the
        // build's version on the second line.
        ::SetWindowTextW(hWnd, WideFromUtf8(kTextProductName).c_str());
        ::SetDlgItemTextW(hWnd, IDC_ABOUT_NAME, WideFromUtf8(kTextAboutName).c_str());
        ::SetDlgItemTextW(hWnd, IDC_ABOUT_VERSION,
                          WideFromUtf8(AboutVersionLine(kProductVersion)).c_str());
        ::SetDlgItemTextW(hWnd, IDOK, WideFromUtf8(kTextOk).c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(hWnd, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace fwup
