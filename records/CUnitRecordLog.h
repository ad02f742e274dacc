#pragma once
// CUnitRecordLog: the front ends' unit records. --record STORE picks the store by
// its form (see StoreKindOf); one writer thread per log sends the records, so the
// flash never waits on a store and parallel readers never wait on each other's
// records. A record the store cannot take goes to the local spool (CRecordSpool)
// and is sent before that store's next record; one that can be neither stored
// nor spooled is counted as lost. Notices (spooled, sent, lost) go to the sink,
// on the writer thread.

#include "device/CAttemptCounter.h"
#include "records/CRecordSpool.h"
#include "records/IRecordSink.h"
#include "records/IRecordStore.h"
#include "records/ISqlConnection.h"
#include "records/UnitRecord.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fwup {

class CUnitRecordLog : public IRecordSink {
public:
    // After a store failed, its next records go straight to the spool for this
    // long, so a store that is down costs one connect time-out, not one per unit.
    static constexpr std::chrono::seconds kRetryAfter{10};

    CUnitRecordLog();           // station: the host name
    ~CUnitRecordLog() override; // Close()
    CUnitRecordLog(const CUnitRecordLog&) = delete;
    CUnitRecordLog& operator=(const CUnitRecordLog&) = delete;

    // Opens the store strStore names and starts the writer. A path that is not a
    // regular file, a database with a newer schema or a store this build cannot
    // write is refused here, before any job. A PostgreSQL server is first reached
    // by the first record (a server that is down must not stop the bench).
    // A database's every statement ends within deadline (kStoreDeadline); one
    // that misses it sends its record to the spool. False with strError
    // (password hidden).
    bool Open(const std::string& strStore, std::string& strError,
              std::chrono::milliseconds deadline = kStoreDeadline);
    bool IsOpen() const { return m_bOpen; }
    const std::string& StoreName() const override { return m_strName; } // password hidden
    void SetStation(const std::string& strStation) { m_strStation = strStation; }
    // The signed version and signer of the image every record of this run is
    // about (none: unsigned or unchecked). Before the first record.
    void SetImageSignature(const std::optional<std::string>& optVersion,
                           const std::optional<std::string>& optSigner) {
        m_optImageVersion = optVersion;
        m_optImageSigner = optSigner;
    }
    void SetNoticeSink(NoticeSink sink) override; // before the first record

    // The sink: the job on unit has started (its record's seconds count from
    // here), and it has ended: queue its record. Any thread; never waits on the
    // store. Units are told apart by their COM number (their listed name when it
    // has none). The record's slot is the unit's label (default its connector);
    // its attempt counts the jobs on that serial in this run, and a retried
    // unit's (unit.nAttempt >= 2) follows its previous record's: 1, 2, ... for a
    // unit seen first. False when no store is open.
    void JobStarted(const DeviceUnit& unit) override;
    bool JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                  const UpdateRequest& request) override;
    // Queues a whole record (station and attempt as given). Any thread.
    void Enqueue(UnitRecord record);

    // Waits until every queued record is stored, spooled or lost, and ends the
    // writer; what happened to them. Bounded by the stores' own time-outs.
    RecordTally Close() override;

    // What a SyncSpool did.
    struct SpoolSync {
        int nSent = 0;  // records the store added
        int nThere = 0; // records it had already (another sync sent them)
        // Records left in the spool that the store refused (or that do not read
        // back), each "record ID (unit ...): why".
        std::vector<std::string> notSent;
    };
    // For a program that must end now (the last Ctrl-C): every record not yet
    // stored, queued or in the writer's hands, goes to the spool from the calling
    // thread, without waiting on the store; one the spool cannot take is told as
    // lost. The writer may still store the one in its hands: the store and a
    // later sync keep its id once. The records' tally so far, these included.
    // Any thread; the log takes no record afterwards.
    RecordTally SpoolPendingNow();

    // Sends the records spooled for strKey to store, removing each that arrived
    // or was there already. A record the store refuses for its content stays
    // spooled and is named in sync.notSent; the others still go. False with
    // strError when the store itself failed: the rest stay for later.
    static bool SyncSpool(CRecordSpool& spool, IRecordStore& store, const std::string& strKey,
                          SpoolSync& sync, std::string& strError);

private:
    void WriterLoop();
    void Write(const UnitRecord& record);
    // Spools record, or tells it lost; counts it. Any thread with its own spool.
    void Spool(CRecordSpool* pSpool, const UnitRecord& record, const std::string& strReason,
               const std::string& strSpoolError);
    void SendSpooled();
    void Notice(const std::string& strText);

    std::atomic<bool> m_bOpen{false};
    std::unique_ptr<IRecordStore> m_pStore; // used by the writer thread only
    std::unique_ptr<CRecordSpool> m_pSpool; // writer thread; opened when first needed
    std::string m_strName;                  // the store, password hidden
    std::string m_strKey;                   // the store's key in the spool
    std::string m_strStation;
    std::optional<std::string> m_optImageVersion;
    std::optional<std::string> m_optImageSigner;
    NoticeSink m_sink;
    std::chrono::steady_clock::time_point m_tpRetryAfter{}; // writer thread
    std::string m_strLastError;                             // writer thread

    // The queue, m_optInFlight, m_starts, m_attempts, m_tally, m_bClosing,
    // m_bAbandoned.
    std::mutex m_mutex;
    std::condition_variable m_cvQueue;
    std::deque<UnitRecord> m_queue;
    std::optional<UnitRecord> m_optInFlight; // the record the writer is storing
    bool m_bClosing = false;
    bool m_bAbandoned = false; // SpoolPendingNow ran
    RecordTally m_tally;
    std::map<std::string, std::chrono::steady_clock::time_point> m_starts;
    CAttemptCounter m_attempts; // the records' attempt numbers in this run
    std::thread m_writer;
};

} // namespace fwup
