#include "workflows/CUnitRecordLog.h"

namespace fwup {

CUnitRecordLog::~CUnitRecordLog() {
    if (m_nHandle != kNoFile) {
        CloseFile(m_nHandle);
    }
}

bool CUnitRecordLog::Open(const std::string& strPath, std::string& strError) {
    const std::lock_guard lock(m_mutex);
    if (m_nHandle != kNoFile) {
        CloseFile(m_nHandle);
    }
    m_nHandle = OpenAppend(strPath, strError);
    return m_nHandle != kNoFile;
}

bool CUnitRecordLog::Append(const UnitRecord& record) {
    const std::string strLine = FormatUnitRecord(record);
    const std::lock_guard lock(m_mutex);
    return m_nHandle != kNoFile && WriteLineDurably(m_nHandle, strLine);
}

void CUnitRecordLog::JobStarted(const DeviceUnit& unit) {
    const std::lock_guard lock(m_mutex);
    m_starts[unit.strPortName] = std::chrono::steady_clock::now();
}

bool CUnitRecordLog::JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                              const UpdateRequest& request) {
    const auto tpNow = std::chrono::steady_clock::now();
    double dSeconds = 0;
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_starts.find(unit.strPortName);
        if (it != m_starts.end()) {
            dSeconds = std::chrono::duration<double>(tpNow - it->second).count();
            m_starts.erase(it);
        }
    }
    return Append(MakeUnitRecord(unit, outcome, request, std::time(nullptr), dSeconds));
}

} // namespace fwup
