#include "records/CJsonLinesStore.h"

#include "records/RecordPlatform.h"

#include <cctype>
#include <vector>

namespace fwup {

namespace {

// True when the line ends as the product's lines do, `,"attempt":N}`: inside a
// JSON string every quote is escaped, so that text can only be the last key,
// and a line cut short cannot end with it.
bool IsWholeProductLine(const std::string& strLine) {
    const std::string strKey = ",\"attempt\":";
    if (strLine.empty() || strLine.back() != '}') {
        return false;
    }
    const size_t nEnd = strLine.size() - 1;
    size_t nDigits = nEnd;
    while (nDigits > 0 && std::isdigit(static_cast<unsigned char>(strLine[nDigits - 1])) != 0) {
        --nDigits;
    }
    return nDigits < nEnd && nDigits >= strKey.size() &&
           strLine.compare(nDigits - strKey.size(), strKey.size(), strKey) == 0;
}

// The line's record id; empty for a bad line. A whole line of the product holds
// `,"id":"` before it (that text, too, can only be the key itself); any other
// line is parsed in full (an old line's id is derived from its text), which
// costs some 20 times as much.
std::string LineId(const std::string& strLine) {
    const std::string strKey = ",\"id\":\"";
    const size_t nAt = IsWholeProductLine(strLine) ? strLine.find(strKey) : std::string::npos;
    if (nAt != std::string::npos) {
        const size_t nStart = nAt + strKey.size();
        const size_t nEnd = strLine.find('"', nStart);
        if (nEnd != std::string::npos && strLine.find('\\', nStart) >= nEnd) {
            return strLine.substr(nStart, nEnd - nStart);
        }
    }
    UnitRecord record;
    std::string strBad;
    return ParseUnitRecord(strLine, record, strBad) ? record.strId : std::string();
}

// Holds the record file's advisory lock for one check-and-append.
class CRecordFileLock {
public:
    CRecordFileLock(intptr_t nHandle, int64_t nWaitMs, std::string& strError)
        : m_nHandle(nHandle), m_bHeld(LockRecordFile(nHandle, nWaitMs, strError)) {}
    ~CRecordFileLock() {
        if (m_bHeld) {
            UnlockRecordFile(m_nHandle);
        }
    }
    CRecordFileLock(const CRecordFileLock&) = delete;
    CRecordFileLock& operator=(const CRecordFileLock&) = delete;
    bool Held() const { return m_bHeld; }

private:
    intptr_t m_nHandle;
    bool m_bHeld;
};

} // namespace

CJsonLinesStore::~CJsonLinesStore() {
    if (m_nHandle != kNoRecordFile) {
        CloseRecordFile(m_nHandle);
    }
}

bool CJsonLinesStore::Open(const std::string& strPath, std::string& strError,
                           std::chrono::milliseconds deadline) {
    const std::lock_guard lock(m_mutex);
    m_deadline = deadline;
    if (m_nHandle != kNoRecordFile) {
        CloseRecordFile(m_nHandle);
    }
    m_nScanned = 0;
    m_ids.clear();
    bool bOk = false;
    m_nHandle = OpenRecordFile(strPath, true, bOk, strError);
    return bOk;
}

bool CJsonLinesStore::CatchUp(std::string& strError) {
    std::vector<char> buffer(1 << 16);
    std::string strPartial; // a line not yet ended
    int64_t nOffset = m_nScanned;
    for (;;) {
        const int64_t nRead = ReadRecordFile(m_nHandle, nOffset, buffer.data(),
                                             static_cast<int64_t>(buffer.size()), strError);
        if (nRead < 0) {
            return false;
        }
        if (nRead == 0) {
            break;
        }
        nOffset += nRead;
        strPartial.append(buffer.data(), static_cast<size_t>(nRead));
        size_t nStart = 0;
        for (size_t nEnd = strPartial.find('\n'); nEnd != std::string::npos;
             nEnd = strPartial.find('\n', nStart)) {
            if (const std::string strId = LineId(strPartial.substr(nStart, nEnd - nStart));
                !strId.empty()) {
                m_ids.insert(strId);
            }
            nStart = nEnd + 1;
        }
        strPartial.erase(0, nStart);
    }
    m_nScanned = nOffset - static_cast<int64_t>(strPartial.size());
    // Every writer appends whole lines under the lock: a line without its end
    // now was cut short. Ending it keeps its bytes and the next line whole.
    return strPartial.empty() || WriteLineDurably(m_nHandle, "\n", strError);
}

bool CJsonLinesStore::PutRecord(const UnitRecord& record, PutNote& note, std::string& strError) {
    note = PutNote{};
    const std::string strLine = FormatUnitRecord(record);
    const std::lock_guard lock(m_mutex);
    if (m_nHandle == kNoRecordFile) {
        strError = "the record file is not open";
        return false;
    }
    const CRecordFileLock fileLock(m_nHandle, m_deadline.count(), strError);
    if (!fileLock.Held() || !CatchUp(strError)) {
        return false;
    }
    if (m_ids.count(record.strId) != 0) {
        return true; // there already, from this or another writer
    }
    // m_nScanned stays before this line: a writer without the lock may append
    // meanwhile, and the next catch-up reads both.
    if (!WriteLineDurably(m_nHandle, strLine, strError)) {
        return false;
    }
    m_ids.insert(record.strId);
    note.bAdded = true;
    return true;
}

} // namespace fwup
