#pragma once
// Which device a report is about: the port its session runs on. Every report of
// a workflow carries one, so a front end that runs several devices at once can
// tell their reports apart.

#include <string>

namespace fwup {

class CComPort;
struct PortRecord;

struct DeviceUnit {
    std::string strPortName;   // listed name, "AT91 USB to Serial Converter (COM3)"
    int nPort = 0;             // the COM number; 0 when none is known
    std::string strConnector;  // USB device path plus interface; empty when not listed
    std::string strDeviceNode; // the node the port was opened on; empty before an open
    std::string strSlot;       // the bench slot's label (CSlotMap); empty when none
    int nAttempt = 1;          // 1, then 2, ... for the same reader run again (--retries)
};

// The unit of a discovered port.
DeviceUnit UnitOfRecord(const PortRecord& record);
// The unit of a port object; its connector is looked up among the listed ports.
DeviceUnit UnitOfPort(const CComPort& port);
// A unit made while its port was not listed (a reader still restarting: a name
// like "(COM1)", no connector) takes the listed name and connector of its port
// number once that port is listed; its slot and attempt stay. Scans the ports
// once; true when the unit has its connector afterwards.
bool CompleteUnitFromListing(DeviceUnit& unit);
// True while some listed port is the unit's (by COM number; by name when the
// number is unknown). Scans the ports once.
bool IsUnitListed(const DeviceUnit& unit);

} // namespace fwup
