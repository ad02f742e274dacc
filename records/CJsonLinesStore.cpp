#include "records/CJsonLinesStore.h"

#include "records/RecordPlatform.h"

namespace fwup {

CJsonLinesStore::~CJsonLinesStore() {
    if (m_nHandle != kNoRecordFile) {
        CloseRecordFile(m_nHandle);
    }
}

bool CJsonLinesStore::Open(const std::string& strPath, std::string& strError) {
    const std::lock_guard lock(m_mutex);
    if (m_nHandle != kNoRecordFile) {
        CloseRecordFile(m_nHandle);
    }
    bool bOk = false;
    m_nHandle = OpenRecordFile(strPath, true, bOk, strError);
    return bOk;
}

bool CJsonLinesStore::Put(const UnitRecord& record, std::string& strError) {
    const std::string strLine = FormatUnitRecord(record);
    const std::lock_guard lock(m_mutex);
    if (m_nHandle == kNoRecordFile) {
        strError = "the record file is not open";
        return false;
    }
    return WriteLineDurably(m_nHandle, strLine, strError);
}

} // namespace fwup
