#pragma once
// A program run by a test: arguments without a shell, stdout and stderr captured
// together, a hard time limit after which it is killed (so a hang fails the test
// instead of stalling the suite).

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fwtest {

class CChildProcess {
public:
    // env: "NAME=value" entries set in the child on top of this process's environment.
    CChildProcess(const std::string& strProgram, const std::vector<std::string>& args,
                  const std::vector<std::string>& env = {});
    ~CChildProcess(); // kills a child that still runs
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Collects output until the child exits or dwLimitMs passed (then SIGKILL).
    // Returns the exit code, 128 + signal, or -1 when the limit was hit.
    int Wait(uint32_t dwLimitMs);
    // Reads available output for up to dwMs; true once strNeedle has appeared.
    bool WaitForOutput(const std::string& strNeedle, uint32_t dwMs);
    void Signal(int nSignal);

    const std::string& Output() const { return m_strOutput; }
    double Seconds() const { return m_dSeconds; } // from start to exit

private:
    bool Pump(int nTimeoutMs);

    pid_t m_pid = -1;
    int m_fdOut = -1;
    std::string m_strOutput;
    double m_dSeconds = 0;
    int64_t m_nStartNs = 0;
};

} // namespace fwtest
