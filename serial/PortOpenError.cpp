#include "serial/PortOpenError.h"

#include "serial/PortAccess.h"
#include "serial/SerialPlatform.h"

#include <cerrno>

namespace fwup {

PortOpenError MakeOpenError(uint32_t dwError, const std::string& strNode, int nPort) {
    PortOpenProblem eProblem = PortOpenProblem::Other;
    switch (ClassifyOpenError(dwError)) {
    case SerialOpenFault::kNone:
        eProblem = PortOpenProblem::None;
        break;
    case SerialOpenFault::kNoSuchPort:
        eProblem = PortOpenProblem::Vanished;
        break;
    case SerialOpenFault::kHeldElsewhere:
        eProblem = PortOpenProblem::Busy;
        break;
    case SerialOpenFault::kPermissionDenied:
        eProblem = PortOpenProblem::PermissionDenied;
        break;
    case SerialOpenFault::kOther:
        break;
    }
    return PortOpenError{eProblem, static_cast<int>(dwError), strNode, nPort, {}};
}

std::string DescribeOpenError(const PortOpenError& error) {
    switch (error.eProblem) {
    case PortOpenProblem::None:
        return {};
    case PortOpenProblem::NotListed:
        return "no USB serial port COM" + std::to_string(error.nPort) +
               " is present: plug in the reader and check its cable ('fwupgrader-cli list' "
               "shows the ports)";
    case PortOpenProblem::Vanished:
        return ExplainVanished(error.strNode);
    case PortOpenProblem::PermissionDenied:
        return ExplainPermissionDenied(error.strNode, InspectNodeAccess(error.strNode));
    case PortOpenProblem::Busy:
        return ExplainBusy(error.strNode, error.earlierHolders.empty()
                                              ? FindCompetingHolders(error.strNode)
                                              : error.earlierHolders);
    case PortOpenProblem::Other:
        break;
    }
    return "cannot open " + error.strNode + ": " +
           SerialErrorText(static_cast<uint32_t>(error.nErrno)) +
           "; check that this is the reader's serial port";
}

} // namespace fwup
