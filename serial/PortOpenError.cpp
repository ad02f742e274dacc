#include "serial/PortOpenError.h"

#include "serial/PortAccess.h"

#include <cerrno>
#include <unistd.h>
#include <system_error>

namespace fwup {

PortOpenError ClassifyOpenError(int nErrno, const std::string& strNode, int nPort) {
    PortOpenProblem eProblem = PortOpenProblem::Other;
    switch (nErrno) {
    case EACCES:
    case EPERM:
        eProblem = PortOpenProblem::PermissionDenied;
        break;
    case EBUSY:
    case EWOULDBLOCK:
        eProblem = PortOpenProblem::Busy;
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        eProblem = PortOpenProblem::Vanished;
        break;
    case EINVAL:
    case ENOTTY:
        eProblem = PortOpenProblem::Settings;
        break;
    default:
        break;
    }
    return PortOpenError{eProblem, nErrno, strNode, nPort};
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
    case PortOpenProblem::Busy: {
        // A pseudo-terminal's other end (a simulated reader) is no competitor;
        // this process is always named, as another of its ports may hold it.
        std::vector<PortHolder> holders;
        for (PortHolder& holder : FindPortHolders(error.strNode)) {
            if (holder.nPid == static_cast<int>(::getpid()) ||
                !ServesPseudoTerminal(holder.nPid, error.strNode)) {
                holders.push_back(std::move(holder));
            }
        }
        return ExplainBusy(error.strNode, holders);
    }
    case PortOpenProblem::Settings:
        return "the line settings (115200 baud, 8N1, raw) do not hold on " + error.strNode +
               ": it is not the reader's serial port";
    case PortOpenProblem::Other:
        break;
    }
    return "cannot open " + error.strNode + ": " + std::generic_category().message(error.nErrno);
}

} // namespace fwup
