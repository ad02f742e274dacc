// POSIX signals through a self-pipe: the handler writes one byte, the watcher
// thread reads it and calls back.
#include "cli/CInterruptWatch.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace fwup::cli {

namespace {

// What the handler may touch: lock-free atomics and a pipe descriptor (the
// platform gives a signal handler no other way to reach the program).
std::atomic<int> g_nSignals{0};
std::atomic<int> g_nWakeFd{-1};

constexpr char kQuit = 'q'; // from the destructor: stop watching

void OnSignal(int) {
    const int nSaved = errno;
    g_nSignals.fetch_add(1);
    const char c = 's';
    const int fd = g_nWakeFd.load();
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(fd, &c, 1);
    }
    errno = nSaved;
}

// A lost terminal asks for the orderly stop, never for more: only as the first signal.
void OnHangup(int) {
    if (g_nSignals.load() == 0) {
        OnSignal(SIGHUP);
    }
}

void SetHandler(void (*pfnHandler)(int), void (*pfnHangup)(int)) {
    struct sigaction action {};
    action.sa_handler = pfnHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // blocking reads and writes carry on
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = pfnHangup;
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace

CInterruptWatch::CInterruptWatch(std::function<void(int nCount)> onSignal)
    : m_onSignal(std::move(onSignal)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return; // no watch: the signals keep their default action
    }
    m_nWakeRead = fds[0];
    m_nWakeWrite = fds[1];
    g_nSignals.store(0);
    g_nWakeFd.store(m_nWakeWrite);
    // The watcher starts with the signals blocked, so their handler never runs on
    // the thread that waits for its byte: a sanitizer holds a signal back until
    // the thread it landed on leaves its system call, and this read would
    // restart for ever.
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGHUP);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &watched, &previous);
    m_watcher = std::thread([this] {
        int nSeen = 0;
        for (;;) {
            char c = 0;
            const ssize_t n = ::read(m_nWakeRead, &c, 1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0 || c == kQuit) {
                return;
            }
            m_onSignal(++nSeen);
        }
    });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    SetHandler(&OnSignal, &OnHangup);
}

CInterruptWatch::~CInterruptWatch() {
    if (m_nWakeWrite < 0) {
        return;
    }
    SetHandler(SIG_DFL, SIG_DFL);
    g_nWakeFd.store(-1);
    const char c = kQuit;
    [[maybe_unused]] const ssize_t n = ::write(m_nWakeWrite, &c, 1);
    if (m_watcher.joinable()) {
        m_watcher.join();
    }
    ::close(m_nWakeRead);
    ::close(m_nWakeWrite);
}

int CInterruptWatch::Count() const {
    return g_nSignals.load();
}

} // namespace fwup::cli
