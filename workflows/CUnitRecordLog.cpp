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

} // namespace fwup
