// Why a COM port cannot be opened, on Windows: the system refuses a held port with
// "access denied" and does not say who holds it, so the texts name the likely
// holders instead of a process.
#include "serial/PortAccess.h"

namespace fwup {

std::vector<PortHolder> FindPortHolders(const std::string&) {
    return {};
}

bool ServesPseudoTerminal(int, const std::string&) {
    return false;
}

std::vector<PortHolder> FindCompetingHolders(const std::string&) {
    return {};
}

std::vector<PortHolder> FindEarlierHolders(const std::string&) {
    return {};
}

NodeAccess InspectNodeAccess(const std::string&) {
    // Windows has no owner and mode on a COM port: a refusal means it is held.
    NodeAccess access;
    access.bExists = true;
    access.bMayReadWrite = true;
    access.bSerialDevice = true; // the name came from the ports class
    access.strKind = "serial port";
    return access;
}

std::vector<std::string> CurrentUserGroups() {
    return {};
}

bool IsModemManagerRunning() {
    return false;
}

std::string ExplainPermissionDenied(const std::string& strNode, const NodeAccess&) {
    return ExplainBusy(strNode, {});
}

std::string ExplainNotSerial(const std::string& strNode, const NodeAccess&) {
    return "port " + strNode + " is not a serial device: choose another port";
}

std::string ExplainBusy(const std::string& strNode, const std::vector<PortHolder>&) {
    return "port " + strNode +
           " is open in another program (Windows answers \"access denied\"): close terminal "
           "programs, other updaters or a second copy of this one, or plug the reader in again";
}

std::string ExplainVanished(const std::string& strNode) {
    return "port " + strNode +
           " has gone: the reader was unplugged or restarted; plug it in and choose the port again";
}

} // namespace fwup
