#include "device/FirmwareFile.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "device/FilePlatform.h"
#include "device/Packets.h"
#include "device/Sha256.h"
#include "serial/Utf8Text.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace fwup {

namespace {

constexpr FirmwareArea kAreas[] = {
    {"CODE", 0x8000, 0x2B000, kCodeAreaFlags},
    {"OEM", 0x3CC00, 0x3400, 0},
    {"PARAMETER", 0x3C000, 0xC00, 0},
    {"BOOT", 0, 0x8000, 0},
    {"CUSTOM", 0, 0, 0},
};

// Cuts UTF-8 text to nMax characters without splitting a character.
std::string CutCharacters(const std::string& strText, size_t nMax) {
    size_t nChars = 0;
    for (size_t i = 0; i < strText.size(); ++i) {
        const bool bLeadByte = IsUtf8LeadByte(static_cast<unsigned char>(strText[i]));
        if (bLeadByte && nChars++ == nMax) {
            return strText.substr(0, i);
        }
    }
    return strText;
}

struct FileCloser {
    void operator()(std::FILE* pFile) const { std::fclose(pFile); }
};

// Windows refuses the exclusive open while any handle to the file is open, a
// sibling session's read included. Sessions of this process therefore open an
// image one at a time, so only another program can make it count as held.
std::mutex& ImageOpenMutex() {
    static std::mutex mutex;
    return mutex;
}

bool StatImageExclusive(const std::string& strPath, int64_t& nSize, int64_t& nWriteTime) {
    const std::lock_guard lock(ImageOpenMutex());
    return StatFileExclusive(strPath, nSize, nWriteTime);
}

// The whole file in one open: false when it cannot be read or, with nExpected
// not 0, its length differs (bWrongSize then set).
bool ReadWholeImage(const std::string& strPath, int32_t nExpected, std::vector<uint8_t>& data,
                    bool& bWrongSize) {
    const std::lock_guard lock(ImageOpenMutex());
    // One open that never blocks, checked on the descriptor: no stat-then-open race.
    std::unique_ptr<std::FILE, FileCloser> pFile(OpenForReading(strPath));
    if (!pFile || !IsRegularFile(pFile.get()) || std::fseek(pFile.get(), 0, SEEK_END) != 0) {
        return false;
    }
    const long nLength = std::ftell(pFile.get());
    if (nLength < 0 || nLength > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    if (nExpected != 0 && nLength != nExpected) {
        bWrongSize = true;
        return false;
    }
    data.resize(static_cast<size_t>(nLength));
    std::rewind(pFile.get());
    const size_t nRead = nLength > 0 ? std::fread(data.data(), 1, data.size(), pFile.get()) : 0;
    data.resize(nRead);
    return true;
}

} // namespace

const FirmwareArea* FindFirmwareArea(const std::string& strName) {
    for (const FirmwareArea& area : kAreas) {
        if (strName == area.pszName) {
            return &area;
        }
    }
    return nullptr;
}

std::string FormatAreaText(uint32_t dwStart, uint32_t dwSize) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "0x%06x(%i)", dwStart, static_cast<int>(dwSize));
    return szText;
}

void SplitFileName(const std::string& strPath, std::string& strName, std::string& strExtension) {
    const size_t nSlash = strPath.find_last_of(PathSeparators());
    const std::string strElement =
        nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    const size_t nDot = strElement.find_last_of('.');
    if (nDot == std::string::npos) {
        strName = CutCharacters(strElement, kMaxNamePart);
        strExtension.clear();
    } else {
        strName = CutCharacters(strElement.substr(0, nDot), kMaxNamePart);
        strExtension = CutCharacters(strElement.substr(nDot), kMaxExtension);
    }
}

std::string FormatFileDate(int64_t nUnixSeconds) {
    int nYear = 0, nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0;
    if (!UtcCalendar(nUnixSeconds, nYear, nMonth, nDay, nHour, nMinute, nSecond)) {
        return std::string();
    }
    char szDate[64];
    std::snprintf(szDate, sizeof szDate, "%04d.%02d.%02d %02d:%02d:%02d", nYear, nMonth, nDay,
                  nHour, nMinute, nSecond);
    return szDate;
}

bool ReadFileFacts(const std::string& strPath, FileFacts& facts) {
    int64_t nSize = 0;
    int64_t nWriteTime = 0;
    if (strPath.empty()) {
        return false;
    }
    // Another program may hold the file for a moment (a copy, a virus scanner): a
    // file held that briefly is asked again. One held longer is held.
    bool bOpened = StatImageExclusive(strPath, nSize, nWriteTime);
    for (int nTry = 1; !bOpened && nTry < kHeldFileTries && IsRegularPath(strPath); ++nTry) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kHeldFilePauseMs));
        bOpened = StatImageExclusive(strPath, nSize, nWriteTime);
    }
    if (!bOpened) {
        return false;
    }
    // Sizes beyond the 32-bit field are pinned to its maximum, so they can never
    // pass a length check as a negative number.
    facts.nSize =
        static_cast<int32_t>(std::min<int64_t>(nSize, std::numeric_limits<int32_t>::max()));
    SplitFileName(strPath, facts.strName, facts.strExtension);
    facts.strDate = FormatFileDate(nWriteTime);
    return true;
}

void AddSegment(ImageList& list, std::unique_ptr<ImageSegment> pSegment) {
    if (!pSegment) {
        return;
    }
    // Unlink (and so release) a segment at the same address.
    for (ImageList* pLink = &list; *pLink;) {
        if ((*pLink)->dwAddress == pSegment->dwAddress) {
            *pLink = std::move((*pLink)->pNext);
            break;
        }
        pLink = &(*pLink)->pNext;
    }
    pSegment->pNext.reset();
    ImageList* pTail = &list;
    while (*pTail) {
        pTail = &(*pTail)->pNext;
    }
    *pTail = std::move(pSegment);
}

ImageSegment* ReadImageSegment(ImageList& list, const std::string& strPath, uint32_t dwAddress,
                               int32_t nExpected,
                               const std::function<void(const std::string&)>& pfnShowMessage) {
    if (strPath.empty()) {
        return nullptr;
    }
    auto pSegment = std::make_unique<ImageSegment>();
    bool bWrongSize = false;
    if (!ReadWholeImage(strPath, nExpected, pSegment->pData, bWrongSize)) {
        if (bWrongSize && pfnShowMessage) {
            pfnShowMessage(kTextWrongBlockSize);
        }
        return nullptr;
    }
    pSegment->nLength = static_cast<int32_t>(pSegment->pData.size());
    pSegment->dwAddress = dwAddress;
    ImageSegment* pResult = pSegment.get();
    AddSegment(list, std::move(pSegment));
    return pResult;
}

int32_t ReadFirmwareInfo(const std::string& strPath, UpdateRequest& request) {
    FileFacts facts;
    if (!ReadFileFacts(strPath, facts)) {
        return -1;
    }
    request.status.nFileSize = facts.nSize;
    request.status.strFileName = facts.strName + facts.strExtension;
    request.status.strFileDate = facts.strDate;
    return facts.nSize;
}

int32_t LoadFirmware(UpdateRequest& request, const std::string& strPath, uint32_t& dwAreaFlags) {
    dwAreaFlags = kCodeAreaFlags;
    if (strPath.empty()) {
        return kBadFirmwareFile;
    }
    const int32_t nSize = ReadFirmwareInfo(strPath, request);
    if (nSize > kMaxFirmwareSize) {
        return kBadFirmwareFile; // the image in hand stays as it was
    }
    request.pSegments.reset();
    if (nSize <= 0) {
        // Not opened exclusively (no second open), or empty: an empty image would
        // "succeed" without writing a byte.
        return kBadFirmwareFile;
    }
    // The measured size is the exact length required: a file that changed length
    // in between is refused.
    ImageSegment* pSegment = ReadImageSegment(request.pSegments, strPath, kCodeAreaAddress, nSize);
    if (pSegment == nullptr) {
        return kBadFirmwareFile;
    }
    if (pSegment->nLength != nSize) {
        // A read can come up short: a file that changed meanwhile must not load as
        // a truncated image.
        request.pSegments.reset();
        return kBadFirmwareFile;
    }
    return 0;
}

std::string ImageSha256(const ImageList& list) {
    CSha256 sha;
    for (const ImageSegment* p = list.get(); p != nullptr; p = p->pNext.get()) {
        sha.Update(p->pData.data(), p->pData.size());
    }
    const auto digest = sha.Final();
    return HexText(digest.data(), digest.size());
}

std::string DescribeFirmwareProblem(const std::string& strPath) {
    if (strPath.empty()) {
        return "no firmware file was chosen";
    }
    std::error_code ec;
    const auto status = std::filesystem::status(strPath, ec);
    if (ec || !std::filesystem::exists(status)) {
        return strPath + " does not exist";
    }
    if (!std::filesystem::is_regular_file(status)) {
        return strPath + " is not a regular file";
    }
    const auto nSize = std::filesystem::file_size(strPath, ec);
    if (!ec && nSize == 0) {
        return strPath + " is empty (0 bytes): fetch the image again";
    }
    if (!ec && nSize > static_cast<uintmax_t>(kMaxFirmwareSize)) {
        return strPath + " holds " + std::to_string(nSize) +
               " bytes; the CODE area takes at most " + std::to_string(kMaxFirmwareSize);
    }
    FileFacts facts;
    if (!ReadFileFacts(strPath, facts)) {
        return strPath + " cannot be opened: it is not readable or another program holds it";
    }
    return strPath + " was held by another program or changed while it was read";
}

} // namespace fwup
