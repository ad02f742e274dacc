#pragma once
// CWindowRecords: the unit records a window keeps when its options ask for them
// (--record STORE, --station NAME). The windows' one way to open a store, so no
// view knows one; the window models record through its sink.

#include "records/CUnitRecordLog.h"
#include "records/IRecordSink.h"
#include "windowmodel/BenchOptions.h"

#include <string>

namespace fwup {

class CWindowRecords {
public:
    // Opens the store options.strRecordStore names; nothing when it is empty. The
    // records name options.strStation, this computer when that is empty. False
    // with strError (a password hidden): the window must not start.
    bool Open(const BenchOptions& options, std::string& strError);
    // What a window model records through (SetRecordSink); null when no store is
    // open. Owned here: the window ends before this does.
    IRecordSink* Sink() { return m_log.IsOpen() ? &m_log : nullptr; }

private:
    CUnitRecordLog m_log; // closed (its records written) when this goes
};

// The window's log line for a unit's record that sink did not take.
std::string RecordNotTakenText(const IRecordSink& sink);

} // namespace fwup
