#include "workflows/ConverterSearch.h"

namespace fwup {

bool DescriptionMatches(const std::string& strPortName, const std::string& strWanted) {
    std::string strDescription = PortDescriptionFromName(strPortName);
    while (!strDescription.empty() && strDescription.back() == ' ') {
        strDescription.pop_back();
    }
    return strDescription == strWanted;
}

std::optional<PortRecord> FindConverter(const std::vector<PortRecord>& ports) {
    for (const PortRecord& record : ports) {
        if (DescriptionMatches(record.strName, kConverterDescription)) {
            return record;
        }
    }
    return std::nullopt;
}

} // namespace fwup
