#include "windowmodel/CWindowRecords.h"

namespace fwup {

bool CWindowRecords::Open(const BenchOptions& options, std::string& strError) {
    if (!options.strStation.empty()) {
        m_log.SetStation(options.strStation);
    }
    return options.strRecordStore.empty() || m_log.Open(options.strRecordStore, strError);
}

std::string RecordNotTakenText(const IRecordSink& sink) {
    return "the unit's record could not be written to " + sink.StoreName();
}

} // namespace fwup
