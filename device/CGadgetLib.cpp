#include "device/CGadgetLib.h"

#include "device/CommandProtocol.h"

namespace fwup {

CGadgetLib::~CGadgetLib() = default;

std::string CGadgetLib::SetChannel(GadgetChannel* pChannel) {
    m_pChannel = pChannel;
    return m_pChannel != nullptr ? WaitReady() : std::string();
}

std::string CGadgetLib::WaitReady() {
    std::string strReply;
    // An empty command only listens for the ready line.
    const int nResult = ExchangeText(m_pChannel, std::string(), strReply);
    return ParseReadyLine(strReply, nResult < 0);
}

} // namespace fwup
