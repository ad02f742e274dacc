#include "records/UnitRecord.h"
#include "records/UnitRecordFields.h"

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
    record.optVersionAfter = request.optVersionAfter;
    record.optVerified = VerifyStateText(request.eVerified);
    if (!outcome.strCause.empty()) {
        record.optCause = outcome.strCause;
    }
    record.optOutcome = OutcomeCode(outcome.eKind);
    return record;
}

std::string FormatUnitRecord(const UnitRecord& r) {
    std::string strLine = "{";
    for (const UnitRecordField& field : kUnitRecordFields) {
        const std::optional<std::string> optText = FieldText(r, field);
        if (!optText && (field.dwFlags & kFieldOmittedWhenNone) != 0) {
            continue;
        }
        if (strLine.size() > 1) {
            strLine += ',';
        }
        strLine += '"';
        strLine += field.pszJsonKey;
        strLine += "\":";
        strLine += IsNumberField(field) ? *optText : JsonStringOrNull(optText);
    }
    strLine += "}\n";
    return strLine;
}
} // namespace fwup
