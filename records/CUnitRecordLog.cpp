#include "records/CUnitRecordLog.h"

#include "records/CJsonLinesStore.h"
#include "records/CRecordDb.h"
#include "records/RecordBackends.h"
#include "records/RecordPlatform.h"
#include "records/RecordStoreText.h"

#include <algorithm>

namespace fwup {

namespace {

// A unit's key among the jobs started: its COM number, which stays while its
// name may be completed during the job (see CompleteUnitFromListing).
std::string StartKey(const DeviceUnit& unit) {
    if (unit.nPort == 0) {
        return unit.strPortName;
    }
    // Appended, not "#" + text: mingw-w64 GCC 12 at -O3 warns falsely (-Wrestrict).
    std::string strKey(1, '#');
    return strKey.append(std::to_string(unit.nPort));
}

std::string UnitName(const UnitRecord& record) {
    return record.optSerial ? "unit " + *record.optSerial + " (" + record.strPort + ")"
                            : "unit on " + record.strPort;
}

} // namespace

CUnitRecordLog::CUnitRecordLog() : m_strStation(HostName()) {}

CUnitRecordLog::~CUnitRecordLog() {
    Close();
}

bool CUnitRecordLog::Open(const std::string& strStore, std::string& strError,
                          std::chrono::milliseconds deadline) {
    Close();
    m_strName = MaskedStore(strStore);
    m_strKey = StoreKey(strStore);
    std::unique_ptr<IRecordStore> pStore;
    if (StoreKindOf(strStore) == StoreKind::JsonLines) {
        auto pFile = std::make_unique<CJsonLinesStore>();
        if (!pFile->Open(strStore, strError, deadline)) {
            return false;
        }
        pStore = std::move(pFile);
    } else {
        std::unique_ptr<ISqlConnection> pConnection =
            OpenSqlConnection(strStore, strError, deadline);
        if (!pConnection) {
            return false;
        }
        const bool bLocal = pConnection->Dialect() == SqlDialect::Sqlite;
        auto pDb = std::make_unique<CRecordDb>(std::move(pConnection), m_strName);
        // A local file answers at once: a newer schema is refused before any unit.
        if (bLocal && !pDb->Prepare(strError)) {
            return false;
        }
        pStore = std::move(pDb);
    }
    m_pStore = std::move(pStore);
    m_bClosing = false;
    m_tally = {};
    m_writer = std::thread(&CUnitRecordLog::WriterLoop, this);
    m_bOpen = true;
    return true;
}

void CUnitRecordLog::SetNoticeSink(NoticeSink sink) {
    const std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
}

void CUnitRecordLog::Notice(const std::string& strText) {
    NoticeSink sink;
    {
        const std::lock_guard lock(m_mutex);
        sink = m_sink;
    }
    if (sink) {
        sink(strText);
    }
}

void CUnitRecordLog::JobStarted(const DeviceUnit& unit) {
    const std::lock_guard lock(m_mutex);
    m_starts[StartKey(unit)] = std::chrono::steady_clock::now();
}

bool CUnitRecordLog::JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                              const UpdateRequest& request) {
    const auto tpNow = std::chrono::steady_clock::now();
    UnitRecord record;
    {
        const std::lock_guard lock(m_mutex);
        double dSeconds = 0;
        const auto it = m_starts.find(StartKey(unit));
        if (it != m_starts.end()) {
            dSeconds = std::chrono::duration<double>(tpNow - it->second).count();
            m_starts.erase(it);
        }
        record = MakeUnitRecord(unit, outcome, request, std::time(nullptr), dSeconds);
        record.strStation = m_strStation;
        // The request's image wins: a window may load another image between jobs.
        const bool bRequestSigned = request.optImageSigner.has_value();
        record.optImageVersion = bRequestSigned ? request.optImageVersion : m_optImageVersion;
        record.optImageSigner = bRequestSigned ? request.optImageSigner : m_optImageSigner;
        record.nAttempt = m_attempts.Next(unit, record.optSerial);
    }
    if (!IsOpen()) {
        return false;
    }
    Enqueue(std::move(record));
    return true;
}

void CUnitRecordLog::Enqueue(UnitRecord record) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_bAbandoned) {
            ++m_tally.nLost; // the program is ending: nothing would write it
            return;
        }
        m_queue.push_back(std::move(record));
    }
    m_cvQueue.notify_one();
}

RecordTally CUnitRecordLog::SpoolPendingNow() {
    std::vector<UnitRecord> pending;
    {
        const std::lock_guard lock(m_mutex);
        if (m_bAbandoned) {
            return m_tally;
        }
        m_bAbandoned = true;
        if (m_optInFlight) {
            pending.push_back(*m_optInFlight);
        }
        pending.insert(pending.end(), m_queue.begin(), m_queue.end());
        m_queue.clear();
    }
    if (!pending.empty()) {
        std::string strSpoolError;
        const std::unique_ptr<CRecordSpool> pSpool = OpenSpool(true, strSpoolError);
        for (const UnitRecord& record : pending) {
            Spool(pSpool.get(), record, "the program was ended before the store took it",
                  strSpoolError);
        }
    }
    const std::lock_guard lock(m_mutex);
    return m_tally;
}

RecordTally CUnitRecordLog::Close() {
    {
        const std::lock_guard lock(m_mutex);
        m_bClosing = true;
    }
    m_cvQueue.notify_one();
    m_bOpen = false;
    if (m_writer.joinable()) {
        m_writer.join();
    }
    m_pStore.reset();
    m_pSpool.reset();
    const std::lock_guard lock(m_mutex);
    return m_tally;
}

void CUnitRecordLog::WriterLoop() {
    for (;;) {
        UnitRecord record;
        {
            std::unique_lock lock(m_mutex);
            m_cvQueue.wait(lock, [this] { return m_bClosing || !m_queue.empty(); });
            if (m_queue.empty()) {
                return; // closing, and everything queued is written
            }
            record = std::move(m_queue.front());
            m_queue.pop_front();
            m_optInFlight = record;
        }
        Write(record);
        const std::lock_guard lock(m_mutex);
        m_optInFlight.reset();
    }
}

void CUnitRecordLog::Write(const UnitRecord& record) {
    SendSpooled();
    std::string strReason;
    bool bStored = false;
    if (std::chrono::steady_clock::now() >= m_tpRetryAfter) {
        PutNote note;
        bStored = m_pStore->PutRecord(record, note, strReason);
        if (!bStored && note.bRecordRefused) {
            // The store works: this record alone waits, its neighbours go on.
            strReason = "the store refused this record: " + strReason;
        } else if (!bStored) {
            m_strLastError = strReason;
            m_tpRetryAfter = std::chrono::steady_clock::now() + kRetryAfter;
        }
    } else {
        strReason = m_strLastError + " (a moment ago; retried after " +
                    std::to_string(kRetryAfter.count()) + " s)";
    }
    if (bStored) {
        const std::lock_guard lock(m_mutex);
        ++m_tally.nStored;
        return;
    }
    std::string strSpoolError;
    if (!m_pSpool) {
        m_pSpool = OpenSpool(true, strSpoolError);
    }
    Spool(m_pSpool.get(), record, strReason, strSpoolError);
}

void CUnitRecordLog::Spool(CRecordSpool* pSpool, const UnitRecord& record,
                           const std::string& strReason, const std::string& strSpoolError) {
    std::string strError = strSpoolError;
    if (pSpool != nullptr && pSpool->Put(m_strKey, record, strReason, strError)) {
        {
            const std::lock_guard lock(m_mutex);
            ++m_tally.nSpooled;
        }
        Notice("the record of " + UnitName(record) + " could not be stored in " + m_strName + " (" +
               strReason + "); it is kept in the spool " + pSpool->Path() +
               " and sent with the next record to that store, or by 'fwupgrader-cli records "
               "sync --db STORE'");
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        ++m_tally.nLost;
    }
    Notice("the record of " + UnitName(record) + " was lost: " + m_strName +
           " could not take it (" + strReason + ") and the spool neither (" + strError + ")");
}

void CUnitRecordLog::SendSpooled() {
    if (std::chrono::steady_clock::now() < m_tpRetryAfter) {
        return;
    }
    std::string strError;
    if (!m_pSpool) {
        m_pSpool = OpenSpool(false, strError); // none yet: nothing waits
        if (!m_pSpool) {
            return;
        }
    }
    SpoolSync sync;
    if (!SyncSpool(*m_pSpool, *m_pStore, m_strKey, sync, strError)) {
        m_strLastError = strError;
        m_tpRetryAfter = std::chrono::steady_clock::now() + kRetryAfter;
    }
    if (sync.nSent > 0) {
        {
            const std::lock_guard lock(m_mutex);
            m_tally.nSent += sync.nSent;
        }
        Notice("sent " + std::to_string(sync.nSent) + " spooled record(s) to " + m_strName);
    }
}

bool CUnitRecordLog::SyncSpool(CRecordSpool& spool, IRecordStore& store, const std::string& strKey,
                               SpoolSync& sync, std::string& strError) {
    std::vector<UnitRecord> pending;
    if (!spool.Pending(strKey, pending, strError, &sync.notSent)) {
        return false;
    }
    for (const UnitRecord& record : pending) {
        PutNote note;
        std::string strWhy;
        if (!store.PutRecord(record, note, strWhy)) {
            if (!note.bRecordRefused) {
                strError = strWhy;
                return false;
            }
            sync.notSent.push_back("record " + record.strId + " (" + UnitName(record) +
                                   "): the store refused it: " + strWhy);
            continue;
        }
        if (!spool.Remove(strKey, record.strId, strError)) {
            return false;
        }
        ++(note.bAdded ? sync.nSent : sync.nThere);
    }
    return true;
}

} // namespace fwup
