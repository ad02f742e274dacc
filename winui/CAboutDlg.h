#pragma once
// The About box (dialog template 100), shown from the system menu's entry.

#include <windows.h>

namespace fwup {

class CAboutDlg {
public:
    // Shows the box modally over hOwner; returns when it is closed.
    static void DoModal(HINSTANCE hInstance, HWND hOwner);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
};

} // namespace fwup
