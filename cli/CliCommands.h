#pragma once
// The sub-commands of fwupgrader-cli. Each returns the process exit code.

#include "records/CUnitRecordLog.h"
#include "serial/CComPort.h"

#include <memory>
#include <string>
#include <vector>

namespace fwup::cli {

// Exit codes of the front end itself; a job's own code comes from its outcome
// (OutcomeExitCode: 0 and 10..14, one per failure text, so scripts can act on it).
enum ExitCode : int {
    kExitOk = 0,
    kExitDoctorFound = 1, // doctor: something blocks a reader
    kExitUsage = 2,       // bad command line
    kExitStoreFailed = 3, // records: the store could not answer
    kExitSomeFailed = 15, // auto: at least one device failed
    kExitRecordLost = 16, // flashed, but its record could be neither stored nor spooled
};

// The exit code table as printed by --help.
std::string ExitCodeHelp();

struct JobOptions {
    std::string strPort; // update: listed name, "COMn" or device node
    std::string strFile; // firmware image
    bool bJson = false;
    bool bTrace = false;
    bool bHelp = false;
    int nCount = 0;         // auto: stop after this many devices (0 = until Ctrl-C)
    bool bParallel = false; // auto: every plugged reader at once
    std::string strRecord;  // the record store (see StoreKindOf); empty: no records
    std::string strStation; // --station: the records' station; empty: the host name
    int nRetries = 0;       // --retries: further attempts after a retryable failure
    std::string strSlots;   // auto --parallel --slots: the slots file; empty: by first sight
    std::string
        strProfile; // --profile: the station profile; empty: DefaultProfilePath() if present
    bool bRetriesGiven = false;    // --retries was on the command line
    // --expect-version (or the profile's expect_version): the version the image
    // brings; empty: any version passes and every reader is flashed.
    std::string strExpectVersion;
    bool bVerify = true; // false: --no-verify, nothing is sent after the finish reply
    std::string strApprovedSha256; // set by ApplyStationProfile under a profile (UpdateRequest's)
};

// Parses the options of update and auto; false with strError on a bad line.
// --file may be left to the station profile (see ApplyStationProfile).
bool ParseJobOptions(const std::vector<std::string>& args, bool bAuto, JobOptions& options,
                     std::string& strError);

// Turns --port into the device name a port object is made from: a listed name
// as it stands, "COMn" or a device node to the listed name of that port, or
// "(COMn)" for a number that is not listed yet (the job then waits for it).
// Empty when the text names no port.
std::string ResolvePortName(const std::string& strPort);

// The port a listed name names: opened through its record when present, else a
// port object that waits for the name's number.
std::unique_ptr<CComPort> OpenPort(const std::string& strName);

class CConsoleReporter;
// Opens --record's store into records (its notices printed through reporter) and
// says where records go. False with a message on stderr: the command exits 2.
bool OpenRecords(const JobOptions& options, const char* pszCommand, CConsoleReporter& reporter,
                 CUnitRecordLog& records);
// What update and auto record through: records when --record opened a store, else null.
IRecordSink* RecordSinkOf(CUnitRecordLog& records);
// The exit code once every record is written (closes records, which waits for
// them within the store's deadline): 16 instead of 0 or 130 when a record was
// lost, neither stored nor spooled.
int ExitAfterRecords(int nExitCode, CUnitRecordLog& records);
// The same rule for a tally already taken.
int ExitWithRecords(int nExitCode, const RecordTally& tally);
// Ends the process now (the last Ctrl-C): records not yet stored are spooled
// first, and one the spool cannot take is a "lost" line; exit 130, or 16.
[[noreturn]] void EndNowWithRecords(CUnitRecordLog& records);

// Routes the debug channel to stderr.
void EnableTrace();

// update and auto check the image before they touch a port: false, with the
// reason on stderr ("invalid firmware file", then "cause: ..."), when the job would refuse it.
bool CheckFirmwareFile(const char* pszCommand, const std::string& strFile);

// update and auto: reads the station profile (--profile, else the default place
// when a file is there), fills the options it sets and the command line left
// open (a locked profile refuses contradicting ones), then checks the image: its
// size rules, then the profile's verdict. -1 to go on, with the verdict's signed
// version and signer in records; else the exit code, the reason on stderr: 2 for
// the profile or a missing --file (with strHelp), 12 for a refused image
// ("invalid firmware file", then "cause: ...").
int ApplyStationProfile(const char* pszCommand, bool bAuto, const char* pszHelp,
                        JobOptions& options, CUnitRecordLog& records);

int RunList(const std::vector<std::string>& args);
int RunIdentify(const std::vector<std::string>& args);
int RunUpdate(const std::vector<std::string>& args);
int RunAuto(const std::vector<std::string>& args);
int RunDoctor(const std::vector<std::string>& args);
int RunRecords(const std::vector<std::string>& args);
int RunImage(const std::vector<std::string>& args);

} // namespace fwup::cli
