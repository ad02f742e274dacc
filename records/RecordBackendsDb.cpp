// The Linux build's databases: SQLite (also for the spool) and PostgreSQL.
#include "records/CPgConnection.h"
#include "records/CSqliteConnection.h"
#include "records/RecordBackends.h"
#include "records/RecordPlatform.h"
#include "records/RecordStoreText.h"

#include <libpq-fe.h>

#include <filesystem>

namespace fwup {

std::unique_ptr<ISqlConnection> OpenSqlConnection(const std::string& strStore,
                                                  std::string& strError,
                                                  std::chrono::milliseconds deadline,
                                                  bool bReadOnly) {
    if (StoreKindOf(strStore) == StoreKind::Postgres) {
        return std::make_unique<CPgConnection>(strStore, deadline, bReadOnly);
    }
    auto pSqlite = std::make_unique<CSqliteConnection>();
    if (!pSqlite->Open(strStore, strError, bReadOnly)) {
        return nullptr;
    }
    return pSqlite;
}

bool ParseStoreSecrets(const std::string& strStore, std::vector<std::string>& secrets,
                       std::string& strError) {
    char* pszError = nullptr;
    PQconninfoOption* pOptions = PQconninfoParse(strStore.c_str(), &pszError);
    if (pOptions == nullptr) {
        strError = pszError != nullptr ? pszError : "out of memory";
        PQfreemem(pszError);
        return false;
    }
    for (const PQconninfoOption* p = pOptions; p->keyword != nullptr; ++p) {
        const std::string strKey = p->keyword;
        if ((strKey == "password" || strKey == "sslpassword") && p->val != nullptr) {
            secrets.emplace_back(p->val);
        }
    }
    PQconninfoFree(pOptions);
    return true;
}

std::unique_ptr<CRecordSpool> OpenSpool(bool bCreate, std::string& strError) {
    strError.clear();
    const std::string strFolder = StateFolder();
    if (strFolder.empty()) {
        strError = "no folder for the spool (neither XDG_STATE_HOME nor HOME is set)";
        return nullptr;
    }
    const std::string strPath = Utf8FromPath(PathFromUtf8(strFolder) / "spool.db");
    std::error_code ec;
    if (!bCreate && !std::filesystem::exists(PathFromUtf8(strPath), ec)) {
        return nullptr;
    }
    auto pSqlite = std::make_unique<CSqliteConnection>();
    if (!MakeFolders(strFolder, strError) || !pSqlite->Open(strPath, strError)) {
        strError = "no spool: " + strError;
        return nullptr;
    }
    return std::make_unique<CRecordSpool>(std::move(pSqlite), strPath);
}

} // namespace fwup
