#pragma once
// Internal: the file-system calls the firmware file needs, one platform per source.

#include <cstdint>
#include <cstdio>
#include <string>

namespace fwup {

// Opens an existing regular file for reading with no sharing (here: an exclusive
// non-blocking flock; a file another holder has locked counts as held) and gives
// its size in bytes and its last-write time in seconds since 1970 (UTC). False
// when it cannot be opened that way. The file is closed again before returning.
bool StatFileExclusive(const std::string& strPath, int64_t& nSize, int64_t& nWriteTime);

// Breaks seconds since 1970 into UTC calendar fields; false when out of range.
bool UtcCalendar(int64_t nSeconds, int& nYear, int& nMonth, int& nDay, int& nHour, int& nMinute,
                 int& nSecond);

// True when the path names a regular file now. Checked before opening, because
// opening a FIFO for reading blocks until some writer comes.
bool IsRegularPath(const std::string& strPath);

// True when the open stream is a regular file (no directory, pipe or device).
bool IsRegularFile(std::FILE* pFile);

// Opens an existing regular file for binary reading (UTF-8 path) in one open that
// never blocks, checked on the open descriptor or handle: nullptr when it cannot,
// or when the path names a FIFO, a directory or a device (also one swapped in
// after an earlier check).
std::FILE* OpenForReading(const std::string& strPath);

// The characters that end a folder name in a path ('/'; also '\' and ':' on Windows).
const char* PathSeparators();

} // namespace fwup
