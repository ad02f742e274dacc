#pragma once
// What a --record / --db text names, and how it may be shown.

#include <filesystem>
#include <string>

namespace fwup {

enum class StoreKind { JsonLines, Sqlite, Postgres };

// A postgresql:// or postgres:// URI, or key=value pairs (blanks allowed around
// '=') with host, hostaddr, dbname or service: PostgreSQL; a path ending .db,
// .sqlite or .sqlite3: SQLite; any other path: JSON lines.
StoreKind StoreKindOf(const std::string& strStore);
// The store text with every password (password, sslpassword) replaced by ***,
// however it is spelt: a URI's user:password@, a ?password= parameter (also
// with a %-encoded key), a password = value pair (blanks, quotes). The result is
// checked with libpq's own parser; a string that does not parse, or that this
// build cannot parse (no libpq), shows none of its values ("postgresql://***",
// "***"). Every output, log and the spool use this.
std::string MaskedStore(const std::string& strStore);
// strMessage (libpq's own words among them) with every spelling of strStore's
// passwords and strStore itself replaced by their masked forms: safe to show.
std::string ScrubbedStoreMessage(const std::string& strMessage, const std::string& strStore);
// The text a store is known by in the spool: masked (the spool never holds a
// password), a file as an absolute path.
std::string StoreKey(const std::string& strStore);
// A UTF-8 path (as the programs hold every text) as the file system takes it,
// and back: on Windows through UTF-16, never the ANSI code page, so that a user
// or folder name outside it still names the right file.
std::filesystem::path PathFromUtf8(const std::string& strPath);
std::string Utf8FromPath(const std::filesystem::path& path);

} // namespace fwup
