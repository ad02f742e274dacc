#pragma once
// What a --record / --db text names, and how it may be shown.

#include <string>

namespace fwup {

enum class StoreKind { JsonLines, Sqlite, Postgres };

// A postgresql:// or postgres:// URI, or key=value pairs with host= or dbname=:
// PostgreSQL; a path ending .db, .sqlite or .sqlite3: SQLite; any other path: JSON lines.
StoreKind StoreKindOf(const std::string& strStore);
// The store text with any password replaced by *** (a URI's user:password@, a
// password= pair or a ?password= parameter). Every output and log uses this.
std::string MaskedStore(const std::string& strStore);
// The text a store is known by in the spool: masked (the spool never holds a
// password), a file as an absolute path.
std::string StoreKey(const std::string& strStore);

} // namespace fwup
