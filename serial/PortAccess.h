#pragma once
// Why a serial port cannot be opened, in terms an operator can act on: who holds
// a busy port, what stands between this user and the node, and one-line texts
// naming cause and fix (shared by the CLI, the window and `doctor`).
// Everything here reads the live system (/proc, the node's inode); nothing blocks.

#include <string>
#include <vector>

namespace fwup {

struct PortHolder {
    int nPid = 0;
    std::string strCommand; // from /proc/<pid>/comm, "" when unreadable
};

// Processes that have the character device behind strNode open, in pid order, this
// process included. Links are followed and descriptors matched by device number,
// not by path (a simulated port's node is a link to a pty). /proc entries this user
// may not read are skipped, so other users' processes may be missing. Empty when
// strNode is not a character device.
std::vector<PortHolder> FindPortHolders(const std::string& strNode);

// True when process nPid holds the master of the pseudo-terminal whose slave strNode
// is (after links): the terminal's other end, such as a simulated reader, rather
// than a program competing for the port. False for every real serial port.
bool ServesPseudoTerminal(int nPid, const std::string& strNode);

// FindPortHolders without a pseudo-terminal's own other end (a simulated reader
// is no competitor); this process is always kept, as another of its ports may
// hold the node.
std::vector<PortHolder> FindCompetingHolders(const std::string& strNode);

// FindCompetingHolders without this process: the programs that had the node open
// when we opened it. One scan of /proc (a few ms); empty on Windows, where an open
// port is never shared.
std::vector<PortHolder> FindEarlierHolders(const std::string& strNode);

struct NodeAccess {
    bool bExists = false;           // the node (after links) exists
    std::string strOwner, strGroup; // names; numbers as text when unknown
    unsigned nMode = 0;             // permission bits, e.g. 0660
    bool bMayReadWrite = false;     // access(R_OK|W_OK) for this process's user
    bool bUserInGroup = false;      // the node's group is among this process's groups
    bool bHasAcl = false;           // a system.posix_acl_access attribute is present
    // The node (after links) is a character device of a tty driver; false for a
    // regular file, a directory, a FIFO or another kind of device, none of which
    // is a reader's port (and whose group is no fix to suggest).
    bool bSerialDevice = false;
    std::string strKind; // what the node is, for a text: "regular file", "character device (mem)"
};

NodeAccess InspectNodeAccess(const std::string& strNode);

// Names of this process's groups: the primary group first, then getgroups(), no repeats.
std::vector<std::string> CurrentUserGroups();

// True when some process's command is "ModemManager".
bool IsModemManagerRunning();

// One line each: the cause with its facts, then what to do about it.
std::string ExplainPermissionDenied(const std::string& strNode, const NodeAccess& access);
std::string ExplainBusy(const std::string& strNode, const std::vector<PortHolder>& holders);
std::string ExplainVanished(const std::string& strNode);
std::string ExplainNotSerial(const std::string& strNode, const NodeAccess& access);

} // namespace fwup
