#include "tests/support/CChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fwtest {

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CChildProcess::CChildProcess(const std::string& strProgram, const std::vector<std::string>& args,
                             const std::vector<std::string>& env) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> argv{strProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pArgs;
    for (std::string& s : argv) {
        pArgs.push_back(s.data());
    }
    pArgs.push_back(nullptr);
    // The child's environment is made here: between fork and exec only
    // async-signal-safe calls, since another thread of this process (a worker,
    // a simulated device) may hold the allocator's lock at the fork, and putenv
    // may allocate: the child would hang before it runs.
    std::vector<std::string> environment;
    for (char** ppEntry = environ; *ppEntry != nullptr; ++ppEntry) {
        const std::string strEntry = *ppEntry;
        const std::string strName = strEntry.substr(0, strEntry.find('=') + 1);
        const bool bOverridden = std::any_of(env.begin(), env.end(), [&](const std::string& s) {
            return s.compare(0, strName.size(), strName) == 0;
        });
        if (!bOverridden) {
            environment.push_back(strEntry);
        }
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> pEnvironment;
    for (std::string& s : environment) {
        pEnvironment.push_back(s.data());
    }
    pEnvironment.push_back(nullptr);
    m_nStartNs = NowNs();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::execve(strProgram.c_str(), pArgs.data(), pEnvironment.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_fdOut = fds[0];
}

CChildProcess::~CChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_fdOut >= 0) {
        ::close(m_fdOut);
    }
}

bool CChildProcess::Pump(int nTimeoutMs) {
    pollfd pfd{m_fdOut, POLLIN, 0};
    if (m_fdOut < 0 || ::poll(&pfd, 1, nTimeoutMs) <= 0) {
        return false;
    }
    char szBuffer[4096];
    const ssize_t n = ::read(m_fdOut, szBuffer, sizeof szBuffer);
    if (n <= 0) {
        ::close(m_fdOut);
        m_fdOut = -1;
        return false;
    }
    m_strOutput.append(szBuffer, static_cast<size_t>(n));
    return true;
}

bool CChildProcess::WaitForOutput(const std::string& strNeedle, uint32_t dwMs) {
    const int64_t nEnd = NowNs() + static_cast<int64_t>(dwMs) * 1000000;
    while (m_strOutput.find(strNeedle) == std::string::npos) {
        const int64_t nLeft = (nEnd - NowNs()) / 1000000;
        if (nLeft <= 0 || m_fdOut < 0) {
            return m_strOutput.find(strNeedle) != std::string::npos;
        }
        Pump(static_cast<int>(nLeft));
    }
    return true;
}

int CChildProcess::Wait(uint32_t dwLimitMs) {
    const int64_t nEnd = NowNs() + static_cast<int64_t>(dwLimitMs) * 1000000;
    while (m_fdOut >= 0 && NowNs() < nEnd) {
        Pump(static_cast<int>((nEnd - NowNs()) / 1000000) + 1);
    }
    int nStatus = 0;
    pid_t done = ::waitpid(m_pid, &nStatus, WNOHANG);
    while (done == 0 && NowNs() < nEnd) {
        ::usleep(5000);
        done = ::waitpid(m_pid, &nStatus, WNOHANG);
    }
    if (done == 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        m_dSeconds = static_cast<double>(NowNs() - m_nStartNs) / 1e9;
        return -1;
    }
    m_pid = -1;
    m_dSeconds = static_cast<double>(NowNs() - m_nStartNs) / 1e9;
    while (Pump(0)) {
    }
    if (WIFEXITED(nStatus)) {
        return WEXITSTATUS(nStatus);
    }
    return WIFSIGNALED(nStatus) ? 128 + WTERMSIG(nStatus) : -1;
}

void CChildProcess::Signal(int nSignal) {
    if (m_pid > 0) {
        ::kill(m_pid, nSignal);
    }
}

} // namespace fwtest
