#include "winui/CAboutDlg.h"

#include "serial/WideText.h"
#include "winui/resource.h"

#include "ProductVersion.h"

#include <string>

namespace fwup {

void CAboutDlg::DoModal(HINSTANCE hInstance, HWND hOwner) {
    ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), hOwner, DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM) {
    switch (nMsg) {
    case WM_INITDIALOG: {
        // The first line is the template's fixed text; the build's version goes on the second.
        const std::wstring strSecond = L"Version " + WideFromUtf8(kProductVersion) + L", (C) 2026";
        ::SetDlgItemTextW(hWnd, IDC_ABOUT_VERSION, strSecond.c_str());
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
