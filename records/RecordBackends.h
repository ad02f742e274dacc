#pragma once
// The database stores this build can open: SQLite and PostgreSQL (on Windows
// with the libraries scripts/build-windows.sh cross-builds). A Windows build
// configured without them writes JSON lines only, and says so when asked for a
// database.

#include "records/CRecordSpool.h"
#include "records/ISqlConnection.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace fwup {

// The connection of a SQLite or PostgreSQL store (see StoreKindOf). A SQLite file
// is opened (refusing anything but a regular file); a PostgreSQL connection is
// made by its first statement; each of its statements, with any connect it
// needs, ends within deadline (see kStoreDeadline). Null with strError
// (password hidden). bReadOnly: the connection can change nothing (a SQLite file
// must exist and is opened read-only; PostgreSQL's transactions are read-only).
std::unique_ptr<ISqlConnection>
OpenSqlConnection(const std::string& strStore, std::string& strError,
                  std::chrono::milliseconds deadline = kStoreDeadline, bool bReadOnly = false);
// Parses a PostgreSQL connection string (a URI or key=value pairs) with libpq's
// own parser: true with secrets holding the values it gives password and
// sslpassword (decoded); false with strError (libpq's words, which may repeat
// the string: scrub them) when it does not parse or this build has no libpq.
bool ParseStoreSecrets(const std::string& strStore, std::vector<std::string>& secrets,
                       std::string& strError);
// The spool file: StateFolder()/spool.db. With bCreate false an absent spool
// gives null and an empty strError (nothing is waiting).
std::unique_ptr<CRecordSpool> OpenSpool(bool bCreate, std::string& strError);

} // namespace fwup
