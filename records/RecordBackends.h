#pragma once
// The database stores this build can open. The Linux build has SQLite and
// PostgreSQL; the Windows build writes JSON lines only (there is no SQLite or
// libpq for it), and says so when asked for a database.

#include "records/CRecordSpool.h"
#include "records/ISqlConnection.h"

#include <memory>
#include <string>

namespace fwup {

// The connection of a SQLite or PostgreSQL store (see StoreKindOf). A SQLite file
// is opened (refusing anything but a regular file); a PostgreSQL connection is
// made by its first statement. Null with strError (password hidden).
std::unique_ptr<ISqlConnection> OpenSqlConnection(const std::string& strStore,
                                                  std::string& strError);
// The spool file: StateFolder()/spool.db. With bCreate false an absent spool
// gives null and an empty strError (nothing is waiting).
std::unique_ptr<CRecordSpool> OpenSpool(bool bCreate, std::string& strError);

} // namespace fwup
