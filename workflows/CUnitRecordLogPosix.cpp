// Unit records on POSIX: O_APPEND makes each write land whole at the end, also
// with other processes appending; fdatasync makes it survive a crash.
#include "workflows/CUnitRecordLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace fwup {

intptr_t CUnitRecordLog::OpenAppend(const std::string& strPath, std::string& strError) {
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        strError = "cannot open the record file " + strPath + ": " + std::strerror(errno);
        return kNoFile;
    }
    return fd;
}

bool CUnitRecordLog::WriteLineDurably(intptr_t nHandle, const std::string& strLine) {
    const int fd = static_cast<int>(nHandle);
    ssize_t n = -1;
    do {
        n = ::write(fd, strLine.data(), strLine.size());
    } while (n < 0 && errno == EINTR);
    // A short append would leave half a line: count it as a failure.
    return n == static_cast<ssize_t>(strLine.size()) && ::fdatasync(fd) == 0;
}

void CUnitRecordLog::CloseFile(intptr_t nHandle) {
    ::close(static_cast<int>(nHandle));
}

} // namespace fwup
