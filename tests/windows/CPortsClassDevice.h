#pragma once
// A device of the ports setup class registered in the system's device tree for
// a test, as a USB serial converter's driver would list it (hardware id, friendly
// name, port name), and removed again on destruction. Wine lists such a device
// as present until it is removed.

#include <string>

namespace fwtest {

class CPortsClassDevice {
public:
    // strPortName "COM9"; an empty strHardwareId leaves that property out.
    CPortsClassDevice(const std::string& strInstance, const std::string& strFriendlyName,
                      const std::string& strPortName,
                      const std::string& strHardwareId = "USB\\VID_03EB&PID_6124");
    ~CPortsClassDevice();
    CPortsClassDevice(const CPortsClassDevice&) = delete;
    CPortsClassDevice& operator=(const CPortsClassDevice&) = delete;

    // False when the system refused one of the steps.
    bool Registered() const { return m_bRegistered; }
    // Leaves the device registered after destruction (for a tool that outlives it).
    void Keep() { m_bKeep = true; }

    // Removes the device registered as strInstance (as a reader unplugged); how many.
    static int Remove(const std::string& strInstance);
    // Removes every device this class ever registered (left over by a crashed run).
    static int RemoveAll();

private:
    std::string m_strInstanceId;
    bool m_bRegistered = false;
    bool m_bKeep = false;
};

} // namespace fwtest
