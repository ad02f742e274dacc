// Fuzzes the firmware file loaders with real files: the input becomes a file (its
// bytes, or a file padded to just below or above the 176128-byte limit, or a
// directory, or a file another descriptor holds locked) under a name and a
// modification time taken from the input, and LoadFirmware, ReadImageSegment and
// ReadFileFacts read it. Checks: a load succeeds exactly for a readable file of at
// most 176128 bytes and then holds exactly the file's bytes at 0x108000; a refused
// long file leaves the image in hand alone; ReadImageSegment takes exactly the
// expected lengths and keeps one segment per address; the name part has at most 53
// characters and the extension at most 9; the date is the file's UTC mtime.
// SplitFileName also gets the raw input as a path, FindFirmwareArea as an area name.
//
// Input: a byte of flags (bits 0-1 file kind: plain, near the limit, directory,
// locked; bits 2-3 which length ReadImageSegment expects), a signed byte for the
// distance from the limit, a 32-bit mtime, a byte for the segment address, a name
// (length byte, bytes), then the file's bytes.
#include "device/FirmwareFile.h"
#include "device/Packets.h"
#include "device/UpdateRequest.h"
#include "fuzz/CFuzzInput.h"
#include "fuzz/FuzzCheck.h"
#include "tests/support/CTempRoot.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using fwtest::CTempRoot;
using fwup::fuzz::CFuzzInput;

enum FileKind { Plain = 0, NearLimit = 1, Directory = 2, Locked = 3 };

size_t CountChars(const std::string& strUtf8) {
    return static_cast<size_t>(std::count_if(strUtf8.begin(), strUtf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// strCut is strWhole cut to at most nMax characters, at a character boundary.
void CheckCut(const std::string& strCut, const std::string& strWhole, size_t nMax,
              const char* pszWhat) {
    FUZZ_CHECK(strWhole.compare(0, strCut.size(), strCut) == 0, pszWhat);
    FUZZ_CHECK(CountChars(strCut) <= nMax, pszWhat);
    if (strCut.size() < strWhole.size()) {
        FUZZ_CHECK(CountChars(strCut) == nMax, pszWhat);
        FUZZ_CHECK(!IsContinuation(strWhole[strCut.size()]), pszWhat);
    }
}

void CheckSplit(const std::string& strPath) {
    std::string strName = "x", strExtension = "x";
    fwup::SplitFileName(strPath, strName, strExtension);
    const size_t nSlash = strPath.find_last_of('/');
    const std::string strElement =
        nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    const size_t nDot = strElement.find_last_of('.');
    if (nDot == std::string::npos) {
        FUZZ_CHECK(strExtension.empty(), "extension without a dot");
        CheckCut(strName, strElement, fwup::kMaxNamePart, "name part");
    } else {
        FUZZ_CHECK(!strExtension.empty() && strExtension[0] == '.', "extension starts at the dot");
        CheckCut(strName, strElement.substr(0, nDot), fwup::kMaxNamePart, "name part");
        CheckCut(strExtension, strElement.substr(nDot), fwup::kMaxExtension, "extension");
    }
}

std::string ExpectedDate(time_t nTime) {
    tm parts{};
    if (::gmtime_r(&nTime, &parts) == nullptr) {
        return {};
    }
    char szDate[64];
    std::snprintf(szDate, sizeof szDate, "%04d.%02d.%02d %02d:%02d:%02d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return szDate;
}

std::string FileName(CFuzzInput& input) {
    std::string strName = input.Bytes(input.Byte());
    std::replace(strName.begin(), strName.end(), '/', '_');
    std::replace(strName.begin(), strName.end(), '\0', '_');
    if (strName.empty() || strName == "." || strName == "..") {
        strName = "image.bin";
    }
    return strName;
}

std::unique_ptr<fwup::ImageSegment> MakeSegment(uint32_t dwAddress, std::vector<uint8_t> data) {
    auto pSegment = std::make_unique<fwup::ImageSegment>();
    pSegment->dwAddress = dwAddress;
    pSegment->nLength = static_cast<int32_t>(data.size());
    pSegment->pData = std::move(data);
    return pSegment;
}

std::vector<const fwup::ImageSegment*> Segments(const fwup::ImageList& list) {
    std::vector<const fwup::ImageSegment*> segments;
    for (const fwup::ImageSegment* p = list.get(); p != nullptr; p = p->pNext.get()) {
        segments.push_back(p);
    }
    return segments;
}

// A lock held on another open file description for as long as the object lives.
class CHeldLock {
public:
    explicit CHeldLock(const std::string& strPath)
        : m_hFile(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC)) {
        FUZZ_CHECK(m_hFile >= 0 && ::flock(m_hFile, LOCK_EX | LOCK_NB) == 0, "cannot lock");
    }
    ~CHeldLock() { ::close(m_hFile); }
    CHeldLock(const CHeldLock&) = delete;
    CHeldLock& operator=(const CHeldLock&) = delete;

private:
    int m_hFile;
};

void CheckLoad(const std::string& strPath, FileKind eKind, const std::string& strContent) {
    fwup::UpdateRequest request;
    request.pSegments = MakeSegment(0x200000, {1, 2, 3}); // an image already in hand
    uint32_t dwAreaFlags = 0;
    const int32_t nResult = fwup::LoadFirmware(request, strPath, dwAreaFlags);
    FUZZ_CHECK(dwAreaFlags == fwup::kCodeAreaFlags, "area flags");
    const bool bReadable = eKind == Plain || eKind == NearLimit;
    const bool bFits = strContent.size() <= static_cast<size_t>(fwup::kMaxFirmwareSize);
    // An empty file is refused: it would flash nothing and report success.
    const bool bEmpty = strContent.empty();
    FUZZ_CHECK((nResult == 0) == (bReadable && bFits && !bEmpty),
               "load succeeds iff readable, not empty and fits");
    FUZZ_CHECK(nResult == 0 || nResult == fwup::kBadFirmwareFile, "load result");
    const auto segments = Segments(request.pSegments);
    if (nResult == 0) {
        FUZZ_CHECK(segments.size() == 1, "one segment after a load");
        FUZZ_CHECK(segments[0]->dwAddress == fwup::kCodeAreaAddress, "segment address");
        FUZZ_CHECK(segments[0]->nLength == static_cast<int32_t>(strContent.size()),
                   "segment length");
        FUZZ_CHECK(segments[0]->pData.size() == strContent.size() &&
                       std::equal(strContent.begin(), strContent.end(), segments[0]->pData.begin(),
                                  [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }),
                   "segment bytes differ from the file");
        FUZZ_CHECK(request.status.nFileSize == static_cast<int32_t>(strContent.size()),
                   "file size");
    } else if (bReadable && bEmpty) {
        FUZZ_CHECK(segments.empty(), "an empty file left an image to send");
    } else if (bReadable) {
        // Too long: refused before anything was read; the old image stays.
        FUZZ_CHECK(segments.size() == 1 && segments[0]->dwAddress == 0x200000 &&
                       segments[0]->pData == std::vector<uint8_t>({1, 2, 3}),
                   "a refused long file touched the image");
        FUZZ_CHECK(request.status.nFileSize == static_cast<int32_t>(strContent.size()),
                   "file size of a long file");
    }
}

void CheckSegment(const std::string& strPath, FileKind eKind, const std::string& strContent,
                  uint8_t nPick, int32_t nExpected) {
    static const uint32_t kAddresses[] = {0x108000, 0x110000, 0x120000};
    const uint32_t dwAddress = kAddresses[nPick % 3];
    fwup::ImageList list;
    fwup::AddSegment(list, MakeSegment(0x108000, {9}));
    fwup::AddSegment(list, MakeSegment(0x110000, {8, 8}));
    const auto before = Segments(list);
    int nMessages = 0;
    std::string strMessage;
    fwup::ImageSegment* pSegment = fwup::ReadImageSegment(list, strPath, dwAddress, nExpected,
                                                          [&](const std::string& strText) {
                                                              ++nMessages;
                                                              strMessage = strText;
                                                          });
    const bool bReadable = eKind != Directory; // the shared read ignores the lock
    const bool bLengthOk = nExpected == 0 || static_cast<int64_t>(nExpected) ==
                                                 static_cast<int64_t>(strContent.size());
    FUZZ_CHECK((pSegment != nullptr) == (bReadable && bLengthOk), "segment read iff length ok");
    FUZZ_CHECK(nMessages == ((bReadable && !bLengthOk) ? 1 : 0), "Wrong Block Size shown");
    FUZZ_CHECK(nMessages == 0 || strMessage == fwup::kTextWrongBlockSize, "message text");
    const auto after = Segments(list);
    std::set<uint32_t> addresses;
    for (const fwup::ImageSegment* p : after) {
        FUZZ_CHECK(addresses.insert(p->dwAddress).second, "two segments at one address");
    }
    if (pSegment == nullptr) {
        FUZZ_CHECK(after == before, "a failed read changed the list");
        return;
    }
    FUZZ_CHECK(after.back() == pSegment, "new segment not at the tail");
    FUZZ_CHECK(after.size() == before.size() + (dwAddress == 0x120000 ? 1 : 0), "segment count");
    FUZZ_CHECK(pSegment->dwAddress == dwAddress, "segment address");
    FUZZ_CHECK(pSegment->nLength == static_cast<int32_t>(strContent.size()) &&
                   std::string(pSegment->pData.begin(), pSegment->pData.end()) == strContent,
               "segment bytes differ from the file");
}

void CheckFacts(const std::string& strPath, FileKind eKind, const std::string& strContent,
                time_t nTime) {
    fwup::FileFacts facts;
    const bool bOk = fwup::ReadFileFacts(strPath, facts);
    FUZZ_CHECK(bOk == (eKind == Plain || eKind == NearLimit), "facts iff openable exclusively");
    if (!bOk) {
        FUZZ_CHECK(facts.nSize == -1 && facts.strName.empty() && facts.strDate.empty(),
                   "facts changed on failure");
        return;
    }
    FUZZ_CHECK(facts.nSize == static_cast<int32_t>(strContent.size()), "size");
    FUZZ_CHECK(CountChars(facts.strName) <= fwup::kMaxNamePart, "name part too long");
    FUZZ_CHECK(CountChars(facts.strExtension) <= fwup::kMaxExtension, "extension too long");
    std::string strName, strExtension;
    fwup::SplitFileName(strPath, strName, strExtension);
    FUZZ_CHECK(facts.strName == strName && facts.strExtension == strExtension, "name split");
    FUZZ_CHECK(facts.strDate == ExpectedDate(nTime), "date is not the UTC mtime");
}

CTempRoot& ScratchDir() {
    static CTempRoot dir(false, "fwup-fuzz-firmware");
    return dir;
}

} // namespace

// Scratch space and devices are made before fuzzing starts: libFuzzer then does not
// learn their paths from comparisons, and a fixed seed gives the same runs.
extern "C" int LLVMFuzzerInitialize(int* /*pArgc*/, char*** /*pArgv*/) {
    ScratchDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CTempRoot& dir = ScratchDir();
    const std::string strRaw(reinterpret_cast<const char*>(pData), nSize);
    CheckSplit(strRaw);
    // The area table knows exactly its five names, case-sensitive.
    const fwup::FirmwareArea* pArea = fwup::FindFirmwareArea(strRaw);
    const bool bKnown = strRaw == "CODE" || strRaw == "OEM" || strRaw == "PARAMETER" ||
                        strRaw == "BOOT" || strRaw == "CUSTOM";
    FUZZ_CHECK((pArea != nullptr) == bKnown && (!pArea || strRaw == pArea->pszName), "area name");

    CFuzzInput input(pData, nSize);
    const uint8_t nFlags = input.Byte();
    const auto eKind = static_cast<FileKind>(nFlags & 3);
    const auto nDistance = static_cast<int8_t>(input.Byte());
    const time_t nTime = static_cast<int32_t>(input.Dword());
    const uint8_t nPick = input.Byte();
    const std::string strPath = dir.Path() + "/" + FileName(input);
    std::string strContent = input.Rest();
    if (eKind == NearLimit) {
        const size_t nLength = static_cast<size_t>(fwup::kMaxFirmwareSize + nDistance);
        std::string strFill = strContent.empty() ? std::string(1, '\x5a') : strContent;
        strContent.clear();
        while (strContent.size() < nLength) {
            strContent += strFill;
        }
        strContent.resize(nLength);
    }
    const int32_t nExpectedBy[] = {0, static_cast<int32_t>(strContent.size()),
                                   static_cast<int32_t>(strContent.size()) + 1,
                                   static_cast<int32_t>(strContent.size()) - 1};
    const int32_t nExpected = nExpectedBy[(nFlags >> 2) & 3];

    std::error_code ec;
    std::filesystem::remove_all(strPath, ec);
    if (eKind == Directory) {
        std::filesystem::create_directory(strPath, ec);
    } else {
        std::ofstream(strPath, std::ios::binary) << strContent;
    }
    const timespec times[2] = {{nTime, 0}, {nTime, 0}};
    FUZZ_CHECK(::utimensat(AT_FDCWD, strPath.c_str(), times, 0) == 0, "cannot set the mtime");
    {
        std::unique_ptr<CHeldLock> pLock;
        if (eKind == Locked) {
            pLock = std::make_unique<CHeldLock>(strPath);
        }
        CheckFacts(strPath, eKind, strContent, nTime);
        CheckLoad(strPath, eKind, strContent);
        CheckSegment(strPath, eKind, strContent, nPick, nExpected);
    }
    std::filesystem::remove_all(strPath, ec);
    return 0;
}
