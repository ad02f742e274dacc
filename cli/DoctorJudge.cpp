#include "cli/DoctorJudge.h"

#include <cstdio>

namespace fwup::cli {

namespace {

std::string Join(const std::vector<std::string>& parts) {
    std::string strText;
    for (const std::string& strPart : parts) {
        strText += (strText.empty() ? "" : ", ") + strPart;
    }
    return strText;
}

} // namespace

const char* LevelName(Level e) {
    return e == Level::Ok ? "ok" : e == Level::Warn ? "warn" : "block";
}

std::string ModeText(unsigned nMode) {
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", nMode);
    return szMode;
}

std::vector<Finding> Judge(const Facts& facts) {
    std::vector<Finding> findings;
    findings.push_back({Level::Ok, "user " + facts.strUser + " (uid " + std::to_string(facts.nUid) +
                                       "), groups: " + Join(facts.groups)});
    if (!facts.lateGroups.empty()) {
        findings.push_back({Level::Warn, "your user belongs to " + Join(facts.lateGroups) +
                                             " since after this session began: log out and in "
                                             "again (or run `newgrp " +
                                             facts.lateGroups[0] + "`) to use it"});
    }

    bool bReaderPresent = false;
    bool bReaderProbed = false; // ModemManager would probe a present reader
    for (const PortFacts& port : facts.ports) {
        const std::string strPort = "port " + port.entry.strName + ": ";
        // Trouble with another converter is worth a word, but does not block a reader.
        const Level eTrouble = port.bReader ? Level::Block : Level::Warn;
        bReaderPresent = bReaderPresent || port.bReader;
        if (port.bReader && (port.eMm == PortFacts::MmFlag::Probed ||
                             (port.eMm == PortFacts::MmFlag::Unknown && facts.strRule.empty()))) {
            bReaderProbed = true;
        }
        const NodeAccess& a = port.access;
        if (!a.bExists) {
            findings.push_back({eTrouble, strPort + ExplainVanished(port.entry.strDeviceNode)});
        } else if (!a.bSerialDevice) {
            findings.push_back(
                {Level::Warn, strPort + ExplainNotSerial(port.entry.strDeviceNode, a)});
        } else if (!a.bMayReadWrite) {
            findings.push_back(
                {eTrouble, strPort + ExplainPermissionDenied(port.entry.strDeviceNode, a)});
        } else if (!port.holders.empty()) {
            findings.push_back(
                {eTrouble, strPort + ExplainBusy(port.entry.strDeviceNode, port.holders)});
        } else {
            findings.push_back({Level::Ok, strPort + "you may open " + port.entry.strDeviceNode +
                                               " (owner " + a.strOwner + ", group " + a.strGroup +
                                               ", mode " + ModeText(a.nMode) +
                                               (a.bHasAcl ? ", with an access control list" : "") +
                                               ")"});
        }
    }
    if (facts.ports.empty()) {
        findings.push_back({Level::Warn, "no USB serial port is present: plug the reader in (it "
                                         "lists as \"" +
                                             std::string(kReaderProduct) + " (COMn)\")"});
    } else if (!bReaderPresent) {
        findings.push_back({Level::Warn, "no port lists as a reader (\"" +
                                             std::string(kReaderProduct) +
                                             "\"): plug the reader in"});
    }

    if (!facts.strRule.empty()) {
        findings.push_back({Level::Ok, "udev rule installed: " + facts.strRule});
    } else if (!facts.strMasked.empty()) {
        findings.push_back({Level::Warn, "the fwupgrader udev rule is switched off by " +
                                             facts.strMasked +
                                             ": remove that file and run "
                                             "`sudo udevadm control --reload-rules && sudo "
                                             "udevadm trigger`"});
    } else {
        findings.push_back(
            {Level::Warn, std::string("the fwupgrader udev rule (") + kRuleName +
                              ") is not installed: install the fwupgrader package, or copy the "
                              "rule to /etc/udev/rules.d/ and run `sudo udevadm control "
                              "--reload-rules && sudo udevadm trigger`; until then a reader is "
                              "open only to root and the group dialout"});
    }

    if (!facts.bModemManager) {
        findings.push_back({Level::Ok, "ModemManager is not running"});
    } else if (bReaderProbed || (!bReaderPresent && facts.strRule.empty())) {
        findings.push_back(
            {bReaderProbed ? Level::Block : Level::Warn,
             "ModemManager runs and probes a reader with AT commands for several seconds "
             "whenever it appears (also when it restarts into its boot loader), holding the "
             "port: install the fwupgrader udev rule (ID_MM_DEVICE_IGNORE) and plug the reader "
             "in again, or run `sudo systemctl stop ModemManager`"});
    } else {
        findings.push_back(
            {Level::Ok, "ModemManager runs and leaves the reader alone (ID_MM_DEVICE_IGNORE)"});
    }
    return findings;
}

} // namespace fwup::cli
