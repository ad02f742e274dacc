#include "serial/CPortNumberTable.h"

namespace fwup {

CPortNumberTable& CPortNumberTable::Instance() {
    static CPortNumberTable table;
    return table;
}

int CPortNumberTable::NumberFor(const std::string& strConnector) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto [it, bNew] = m_numbers.emplace(strConnector, m_nNext);
    if (bNew) {
        ++m_nNext;
    }
    return it->second;
}

int CPortNumberTable::PeekNumber(const std::string& strConnector) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_numbers.find(strConnector);
    return it != m_numbers.end() ? it->second : m_nNext;
}

} // namespace fwup
