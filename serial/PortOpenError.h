#pragma once
// Why a port did not open, kept by CComPort after a failed open, and the one-line
// text with cause and fix that the front ends show under "check connection".

#include "serial/PortAccess.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fwup {

enum class PortOpenProblem {
    None,
    NotListed,        // no present port carries the number
    Vanished,         // the node went away between the scan and the open
    PermissionDenied, // this user may not open the node
    Busy,             // another process (or another port object here) holds it
    Other,            // any other error
};

struct PortOpenError {
    PortOpenProblem eProblem = PortOpenProblem::None;
    int nErrno = 0;      // the platform's error number (errno; GetLastError on Windows)
    std::string strNode; // the device node tried; empty for NotListed
    int nPort = 0;       // the COM number asked for
    // Busy: the programs that had the port open before us, found right after our
    // own open succeeded (they would read the reader's replies); empty otherwise.
    std::vector<PortHolder> earlierHolders;
};

// The problem a failed open's error number stands for.
PortOpenError MakeOpenError(uint32_t dwError, const std::string& strNode, int nPort);

// One line: what is wrong and what to do. Reads the live system for the facts
// (owner, group and mode of the node; processes that hold it). "" for None.
std::string DescribeOpenError(const PortOpenError& error);

} // namespace fwup
