#pragma once
// Why a port did not open, kept by CComPort after a failed open, and the one-line
// text with cause and fix that the front ends show under "check connection".

#include <string>

namespace fwup {

enum class PortOpenProblem {
    None,
    NotListed,        // no present port carries the number
    Vanished,         // the node went away between the scan and the open
    PermissionDenied, // this user may not open the node
    Busy,             // another process (or another port object here) holds it
    Settings,         // 115200 8N1 raw did not hold: not a serial port
    Other,            // any other errno
};

struct PortOpenError {
    PortOpenProblem eProblem = PortOpenProblem::None;
    int nErrno = 0;
    std::string strNode; // the device node tried; empty for NotListed
    int nPort = 0;       // the COM number asked for
};

// The problem an open's errno stands for.
PortOpenError ClassifyOpenError(int nErrno, const std::string& strNode, int nPort);

// One line: what is wrong and what to do. Reads the live system for the facts
// (owner, group and mode of the node; processes that hold it). "" for None.
std::string DescribeOpenError(const PortOpenError& error);

} // namespace fwup
