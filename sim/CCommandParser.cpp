#include "sim/CCommandParser.h"

namespace fwsim {

void CCommandParser::Reset() {
    m_strCommand.clear();
    m_bInCommand = false;
    m_bSawCr = false;
}

std::optional<std::string> CCommandParser::Feed(uint8_t byValue) {
    if (byValue == '~') {
        Reset();
        m_bInCommand = true;
        m_strCommand.push_back('~');
        return std::nullopt;
    }
    if (!m_bInCommand) {
        return std::nullopt;
    }
    if (m_bSawCr) {
        if (byValue == '\n') {
            std::string strCommand = std::move(m_strCommand);
            Reset();
            return strCommand;
        }
        Reset();
        return std::nullopt;
    }
    if (byValue == '\r') {
        m_bSawCr = true;
        return std::nullopt;
    }
    if (byValue < 0x20 || byValue > 0x7E || m_strCommand.size() >= kMaxCommand) {
        Reset();
        return std::nullopt;
    }
    m_strCommand.push_back(static_cast<char>(byValue));
    return std::nullopt;
}

} // namespace fwsim
