// Port notices on Windows: device-change notices (every interface class) to a
// message-only window of the watcher's thread, and an event to wake the wait.
// Windows tells arrivals and removals, not which port: the watcher rescans.
#include "serial/PortNotices.h"

#include <windows.h>

#include <dbt.h>

namespace fwup {

namespace {

constexpr wchar_t kClassName[] = L"FwupPortNotices";

class CDeviceNotices final : public IPortNotices {
public:
    CDeviceNotices() : m_hWake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~CDeviceNotices() override {
        if (m_hWake != nullptr) {
            ::CloseHandle(m_hWake);
        }
    }
    CDeviceNotices(const CDeviceNotices&) = delete;
    CDeviceNotices& operator=(const CDeviceNotices&) = delete;

    bool Wait(uint32_t dwTimeoutMs, std::vector<std::string>& /*goneNodes*/) override {
        if (m_hWnd == nullptr && !m_bTried) {
            Listen(); // on the waiting thread: its messages come to this thread's queue
        }
        m_bNotice = false;
        if (m_hWake == nullptr) {
            ::Sleep(dwTimeoutMs);
            return false;
        }
        ::MsgWaitForMultipleObjects(1, &m_hWake, FALSE, dwTimeoutMs, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageW(&msg);
        }
        return m_bNotice;
    }

    void Wake() override {
        if (m_hWake != nullptr) {
            ::SetEvent(m_hWake);
        }
    }

    void Finish() override {
        // A window ends on the thread that made it.
        if (m_hNotify != nullptr) {
            ::UnregisterDeviceNotification(m_hNotify);
            m_hNotify = nullptr;
        }
        if (m_hWnd != nullptr) {
            ::DestroyWindow(m_hWnd);
            m_hWnd = nullptr;
        }
    }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
        if (nMsg == WM_NCCREATE) {
            const auto* pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(hWnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
        }
        if (nMsg == WM_DEVICECHANGE) {
            if (auto* pSelf =
                    reinterpret_cast<CDeviceNotices*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA))) {
                pSelf->m_bNotice = true;
            }
            return TRUE;
        }
        return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    }

    void Listen() {
        m_bTried = true;
        const HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        if (!::GetClassInfoExW(hInstance, kClassName, &wc)) {
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = WindowProc;
            wc.hInstance = hInstance;
            wc.lpszClassName = kClassName;
            ::RegisterClassExW(&wc);
        }
        m_hWnd = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   hInstance, this);
        if (m_hWnd == nullptr) {
            return; // the periodic scan alone
        }
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        m_hNotify = ::RegisterDeviceNotificationW(
            m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    }

    HANDLE m_hWake;
    HWND m_hWnd = nullptr;
    HDEVNOTIFY m_hNotify = nullptr;
    bool m_bTried = false;
    bool m_bNotice = false;
};

} // namespace

std::unique_ptr<IPortNotices> MakePortNotices(const std::string& /*strRoot*/) {
    return std::make_unique<CDeviceNotices>();
}

uint32_t PortScanIntervalMs() {
    // Shorter than on Linux: a port the system's serial map lists (as under Wine)
    // sends no notice.
    return 250;
}

} // namespace fwup
