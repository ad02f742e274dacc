#include "records/UnitRecord.h"

#include "device/BootLoaderVersion.h"
#include "device/FilePlatform.h"
#include "device/Sha256.h"
#include "serial/Utf8Text.h"

#include <cstdio>

namespace fwup {

std::string IsoUtcTime(std::time_t nTime) {
    int nYear = 1970, nMonth = 1, nDay = 1, nHour = 0, nMinute = 0, nSecond = 0;
    UtcCalendar(static_cast<int64_t>(nTime), nYear, nMonth, nDay, nHour, nMinute, nSecond);
    char szText[32];
    std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02dZ", nYear, nMonth, nDay,
                  nHour, nMinute, nSecond);
    return szText;
}

UnitRecord MakeUnitRecord(const DeviceUnit& unit, const UpdateOutcome& outcome,
                          const UpdateRequest& request, std::time_t nEndTime, double dSeconds) {
    UnitRecord record;
    record.strTime = IsoUtcTime(nEndTime);
    record.strPort = unit.strPortName;
    record.strConnector = unit.strConnector;
    record.optSerial = request.status.optSerial;
    record.optVersion = request.optVersion;
    if (request.nBootInfo != -1) {
        record.optBoot = BootLoaderVersion(request.nBootInfo);
    }
    record.strFile = request.status.strFileName;
    record.nSize = request.status.nFileSize;
    if (request.pSegments) {
        CSha256 sha;
        for (const ImageSegment* p = request.pSegments.get(); p != nullptr; p = p->pNext.get()) {
            sha.Update(p->pData.data(), p->pData.size());
        }
        const auto digest = sha.Final();
        record.optSha256 = HexText(digest.data(), digest.size());
    }
    record.strResult = OutcomeText(outcome.eKind);
    record.nExitCode = OutcomeExitCode(outcome.eKind);
    record.dSeconds = dSeconds;
    record.strId = NewRecordId();
    record.strSlot = unit.strSlot.empty() ? unit.strConnector : unit.strSlot;
    record.nAttempt = unit.nAttempt;
    return record;
}

std::string FormatUnitRecord(const UnitRecord& r) {
    char szSeconds[32];
    std::snprintf(szSeconds, sizeof szSeconds, "%.3f", r.dSeconds);
    return "{\"time\":\"" + JsonEscape(r.strTime) + "\",\"port\":\"" + JsonEscape(r.strPort) +
           "\",\"connector\":\"" + JsonEscape(r.strConnector) +
           "\",\"serial\":" + JsonStringOrNull(r.optSerial) +
           ",\"version\":" + JsonStringOrNull(r.optVersion) +
           ",\"boot\":" + JsonStringOrNull(r.optBoot) + ",\"file\":\"" + JsonEscape(r.strFile) +
           "\",\"size\":" + std::to_string(r.nSize) +
           ",\"sha256\":" + JsonStringOrNull(r.optSha256) + ",\"result\":\"" +
           JsonEscape(r.strResult) + "\",\"exit_code\":" + std::to_string(r.nExitCode) +
           ",\"seconds\":" + szSeconds + ",\"id\":\"" + JsonEscape(r.strId) + "\",\"station\":\"" +
           JsonEscape(r.strStation) + "\",\"slot\":\"" + JsonEscape(r.strSlot) +
           "\",\"attempt\":" + std::to_string(r.nAttempt) + "}\n";
}
} // namespace fwup
