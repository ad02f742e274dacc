#pragma once
// A real PostgreSQL 15 server for tests and benchmarks: a fresh cluster in a
// temporary folder (initdb), started with pg_ctl on a free port of 127.0.0.1,
// with a password-protected user; run as nobody when this process is root
// (PostgreSQL refuses root). Stopped and removed on destruction, also after a
// failed test.

#include <string>

namespace fwtest {

class CPgServer {
public:
    static constexpr const char* kUser = "tester";
    static constexpr const char* kPassword = "pw-7731-secret";

    CPgServer() = default;
    ~CPgServer(); // stops the server, removes the folder
    CPgServer(const CPgServer&) = delete;
    CPgServer& operator=(const CPgServer&) = delete;

    // True when PostgreSQL 15's programs are installed (else tests skip).
    static bool Available();
    // initdb and start; false with strError. Waits for the server to take
    // connections (pg_ctl -w, at most 60 s). bDurable keeps fsync on (benchmarks);
    // tests run without it.
    bool Start(std::string& strError, bool bDurable = false);
    bool Stop();    // fast shutdown, waits until it is down
    bool Restart(); // the same cluster on the same port again

    int Port() const { return m_nPort; }
    // postgresql://tester:<password>@127.0.0.1:<port>/postgres
    std::string Uri() const;

private:
    bool Run(const std::string& strProgram, const std::string& strArgs, std::string& strOutput);

    std::string m_strFolder;
    int m_nPort = 0;
    bool m_bRunning = false;
};

} // namespace fwtest
