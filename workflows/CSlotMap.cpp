#include "workflows/CSlotMap.h"

#include "device/FilePlatform.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

namespace fwup {

namespace {

const char* const kBlanks = " \t\r";

std::string Trimmed(const std::string& strText) {
    const size_t nStart = strText.find_first_not_of(kBlanks);
    if (nStart == std::string::npos) {
        return {};
    }
    return strText.substr(nStart, strText.find_last_not_of(kBlanks) - nStart + 1);
}

bool HasControl(const std::string& strText) {
    for (const char c : strText) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            return true;
        }
    }
    return false;
}

} // namespace

bool CSlotMap::ParseSlots(const std::string& strText, const std::string& strSource,
                          std::vector<SlotEntry>& entries, std::string& strError) {
    entries.clear();
    std::map<std::string, int> connectors; // -> line number
    std::map<std::string, int> labels;
    std::istringstream lines(strText);
    std::string strRaw;
    int nLine = 0;
    const auto fail = [&](const std::string& strWhy) {
        strError = strSource + ":" + std::to_string(nLine) + ": " + strWhy;
        entries.clear();
        return false;
    };
    while (std::getline(lines, strRaw)) {
        ++nLine;
        const std::string strLine = Trimmed(strRaw);
        if (strLine.empty() || strLine[0] == '#') {
            continue;
        }
        const size_t nGap = strLine.find_first_of(kBlanks);
        if (nGap == std::string::npos) {
            return fail("'" + strLine +
                        "' has no label: write CONNECTOR LABEL, as in "
                        "'1-1.3:1.0 Slot 3'");
        }
        SlotEntry entry{strLine.substr(0, nGap), Trimmed(strLine.substr(nGap))};
        if (HasControl(entry.strConnector) || HasControl(entry.strLabel)) {
            return fail("a control character in the line");
        }
        if (const auto it = connectors.find(entry.strConnector); it != connectors.end()) {
            return fail("connector " + entry.strConnector + " is named on line " +
                        std::to_string(it->second) + " already");
        }
        if (const auto it = labels.find(entry.strLabel); it != labels.end()) {
            return fail("label '" + entry.strLabel + "' is given on line " +
                        std::to_string(it->second) + " already");
        }
        connectors[entry.strConnector] = nLine;
        labels[entry.strLabel] = nLine;
        entries.push_back(std::move(entry));
    }
    return true;
}

bool CSlotMap::LoadFile(const std::string& strPath, std::string& strError) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> pFile(OpenForReading(strPath),
                                                                std::fclose);
    if (!pFile) {
        std::error_code ec;
        const bool bThere = std::filesystem::symlink_status(strPath, ec).type() !=
                            std::filesystem::file_type::not_found;
        strError = strPath + (bThere && !ec && !IsRegularPath(strPath) ? ": not a regular file"
                                                                       : ": cannot be read");
        return false;
    }
    std::string strText;
    char szBuffer[65536];
    for (size_t nRead = 0; (nRead = std::fread(szBuffer, 1, sizeof szBuffer, pFile.get())) > 0;) {
        strText.append(szBuffer, nRead);
        if (strText.size() > kMaxFileBytes) {
            strError = strPath + ": larger than 1 MB, not a slots file";
            return false;
        }
    }
    if (std::ferror(pFile.get()) != 0) {
        strError = strPath + ": cannot be read";
        return false;
    }
    return LoadText(strText, strPath, strError);
}

bool CSlotMap::LoadText(const std::string& strText, const std::string& strSource,
                        std::string& strError) {
    std::vector<SlotEntry> entries;
    if (!ParseSlots(strText, strSource, entries, strError)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    m_fileLabels.clear();
    m_fileLabelSet.clear();
    for (const SlotEntry& entry : entries) {
        m_fileLabels[entry.strConnector] = entry.strLabel;
        m_fileLabelSet.insert(entry.strLabel);
    }
    return true;
}

std::string CSlotMap::LabelOf(const std::string& strConnector) {
    if (strConnector.empty()) {
        return {};
    }
    const std::lock_guard lock(m_mutex);
    if (const auto it = m_fileLabels.find(strConnector); it != m_fileLabels.end()) {
        return it->second;
    }
    if (const auto it = m_seenLabels.find(strConnector); it != m_seenLabels.end()) {
        return it->second;
    }
    std::string strLabel;
    do {
        strLabel = "Slot " + std::to_string(m_nNextSeen++);
    } while (m_fileLabelSet.count(strLabel) != 0);
    m_seenLabels[strConnector] = strLabel;
    return strLabel;
}

size_t CSlotMap::FileSlots() const {
    const std::lock_guard lock(m_mutex);
    return m_fileLabels.size();
}

} // namespace fwup
