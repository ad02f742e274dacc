#include "tests/support/CPgServer.h"

#include "tests/support/CChildProcess.h"

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace fwtest {

namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";
constexpr uid_t kNobody = 65534;

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    int nPort = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength) == 0) {
        nPort = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return nPort;
}

// Splits on spaces; the arguments here never hold one.
std::vector<std::string> Words(const std::string& strText) {
    std::vector<std::string> words;
    size_t nAt = 0;
    while (nAt < strText.size()) {
        const size_t nEnd = strText.find(' ', nAt);
        words.push_back(strText.substr(nAt, nEnd - nAt));
        nAt = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    }
    return words;
}

} // namespace

bool CPgServer::Available() {
    return ::access((kBin + "initdb").c_str(), X_OK) == 0 &&
           ::access((kBin + "pg_ctl").c_str(), X_OK) == 0;
}

CPgServer::~CPgServer() {
    Stop();
    if (!m_strFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_strFolder, ec);
    }
}

bool CPgServer::Run(const std::string& strProgram, const std::string& strArgs,
                    std::string& strOutput) {
    std::vector<std::string> args = Words(strArgs);
    std::string strPath = kBin + strProgram;
    if (::geteuid() == 0) {
        args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", strPath});
        strPath = "/usr/bin/setpriv";
    }
    CChildProcess child(strPath, args, {"LC_ALL=C", "HOME=" + m_strFolder});
    const int nCode = child.Wait(60000);
    strOutput = child.Output();
    return nCode == 0;
}

bool CPgServer::Start(std::string& strError, bool bDurable) {
    std::string strTemplate = (std::filesystem::temp_directory_path() / "fwpg.XXXXXX").string();
    if (::mkdtemp(strTemplate.data()) == nullptr) {
        strError = "mkdtemp failed";
        return false;
    }
    m_strFolder = strTemplate;
    std::ofstream(m_strFolder + "/pw") << kPassword << "\n";
    if (::geteuid() == 0 && (::chown(m_strFolder.c_str(), kNobody, kNobody) != 0 ||
                             ::chown((m_strFolder + "/pw").c_str(), kNobody, kNobody) != 0)) {
        strError = "cannot hand " + m_strFolder + " to nobody";
        return false;
    }
    m_nPort = FreePort();
    std::string strOutput;
    if (!Run("initdb",
             "-D " + m_strFolder + "/data -U " + kUser + " --pwfile=" + m_strFolder +
                 "/pw --auth-host=scram-sha-256 --auth-local=trust -E UTF8 "
                 "--locale=C --no-sync",
             strOutput)) {
        strError = "initdb failed: " + strOutput;
        return false;
    }
    // The server's own settings: this port, only 127.0.0.1, its socket in the folder.
    std::ofstream(m_strFolder + "/data/postgresql.conf", std::ios::app)
        << "port = " << m_nPort << "\nlisten_addresses = '127.0.0.1'\n"
        << "unix_socket_directories = '" << m_strFolder << "'\n"
        << (bDurable ? "" : "fsync = off\n");
    if (!Restart()) {
        std::ifstream log(m_strFolder + "/log");
        strError = "pg_ctl start failed: " + std::string(std::istreambuf_iterator<char>(log),
                                                         std::istreambuf_iterator<char>());
        return false;
    }
    return true;
}

bool CPgServer::Restart() {
    std::string strOutput;
    m_bRunning =
        Run("pg_ctl", "-D " + m_strFolder + "/data -l " + m_strFolder + "/log -w -t 60 start",
            strOutput);
    return m_bRunning;
}

bool CPgServer::Stop() {
    if (!m_bRunning) {
        return true;
    }
    std::string strOutput;
    m_bRunning = !Run("pg_ctl", "-D " + m_strFolder + "/data -m fast -w -t 60 stop", strOutput);
    return !m_bRunning;
}

std::string CPgServer::Uri() const {
    return std::string("postgresql://") + kUser + ":" + kPassword +
           "@127.0.0.1:" + std::to_string(m_nPort) + "/postgres";
}

} // namespace fwtest
