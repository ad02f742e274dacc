#include "device/DeviceUnit.h"

#include "serial/CComPort.h"
#include "serial/PortDiscovery.h"

namespace fwup {

namespace {

bool IsUnitsRecord(const DeviceUnit& unit, const PortRecord& record) {
    return unit.nPort != 0 ? record.nPort == unit.nPort : record.strName == unit.strPortName;
}

} // namespace

DeviceUnit UnitOfRecord(const PortRecord& record) {
    return DeviceUnit{record.strName,       record.nPort, record.strConnector,
                      record.strDeviceNode, {},           1};
}

DeviceUnit UnitOfPort(const CComPort& port) {
    DeviceUnit unit{port.GetDeviceName(), port.GetPortNumber(), {}, port.GetDeviceNode(), {}, 1};
    for (const PortRecord& record : ScanPorts()) {
        if (IsUnitsRecord(unit, record)) {
            // The listed name too: a port object made before its port was
            // listed is named "(COMn)" only.
            unit.strPortName = record.strName;
            unit.strConnector = record.strConnector;
            break;
        }
    }
    return unit;
}

bool CompleteUnitFromListing(DeviceUnit& unit) {
    if (!unit.strConnector.empty() || unit.nPort == 0) {
        return !unit.strConnector.empty();
    }
    for (const PortRecord& record : ScanPorts()) {
        if (record.nPort == unit.nPort) {
            unit.strPortName = record.strName;
            unit.strConnector = record.strConnector;
            return true;
        }
    }
    return false;
}

bool IsUnitListed(const DeviceUnit& unit) {
    for (const PortRecord& record : ScanPorts()) {
        if (IsUnitsRecord(unit, record)) {
            return true;
        }
    }
    return false;
}

} // namespace fwup
