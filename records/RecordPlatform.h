#pragma once
// The operating system's side of the records layer: the host name, the folder of
// per-user state, and opening a record file without ever blocking on it.

#include <cstdint>
#include <string>

namespace fwup {

// The computer's name; "unknown" when the system tells none.
std::string HostName();
// The folder of this program's per-user state: $XDG_STATE_HOME/fwupgrader
// (default ~/.local/state/fwupgrader, also when XDG_STATE_HOME is relative) or
// %LOCALAPPDATA%\fwupgrader. Empty when no home is known. Not created here.
std::string StateFolder();
// Creates strFolder and its parents; false with strError when that failed.
bool MakeFolders(const std::string& strFolder, std::string& strError);

// A record file's handle (an fd or a HANDLE); kNoRecordFile when none.
constexpr intptr_t kNoRecordFile = -1;
// Opens (creating) strPath without blocking, also when it names a FIFO, and
// checks on the open handle that it is a regular file: a FIFO, a directory or a
// device is refused with strError saying so. bAppend: open for reading and
// appending; else
// only checked and closed again (kNoRecordFile also returned then on success,
// with bOk true).
intptr_t OpenRecordFile(const std::string& strPath, bool bAppend, bool& bOk, std::string& strError);
// Checks a database file's path without opening it: missing (the database
// creates it) or a regular file is fine; a FIFO, a directory or a device is
// refused with strError saying so. Never opens the file: on POSIX, closing any
// descriptor of a file drops every lock this process holds on it, SQLite's too,
// and another writer could then write into a transaction in flight.
bool CheckDatabasePath(const std::string& strPath, std::string& strError);
// The record file's advisory lock (flock on POSIX, LockFileEx on Windows),
// exclusive against every other handle of it, in this process or another;
// LockRecordFile waits for it at most nWaitMs (a writer holds it for one line;
// a program that keeps it longer must not hang the bench), false with strError
// then. Writers that take it append in turn.
bool LockRecordFile(intptr_t nHandle, int64_t nWaitMs, std::string& strError);
void UnlockRecordFile(intptr_t nHandle);
// Reads up to nSize bytes at nOffset of an open record file: the count (0 at
// its end), or -1 with strError.
int64_t ReadRecordFile(intptr_t nHandle, int64_t nOffset, char* pBuffer, int64_t nSize,
                       std::string& strError);
// One whole-line append made durable; false when the write or the sync failed.
bool WriteLineDurably(intptr_t nHandle, const std::string& strLine, std::string& strError);
void CloseRecordFile(intptr_t nHandle);

// Waits at most nWaitMs for the socket nSocket (libpq's PQsocket) to become
// readable, or writable with bWrite: 1 ready (an error or hang-up on it counts
// too: the caller's next libpq call reports it), 0 time-out, -1 interrupted by
// a signal (wait again).
int PollSocket(int nSocket, bool bWrite, int nWaitMs);

} // namespace fwup
