#pragma once
// The firmware image file (raw bytes of one flash area, no header), the table of
// flash areas, the in-memory image and the loaders.

#include "device/ImageSegment.h"
#include "device/UpdateRequest.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace fwup {

inline constexpr uint32_t kFlashAreaBase = 0x100000; // device address of offset 0
inline constexpr uint32_t kCodeAreaAddress = 0x108000;
inline constexpr int32_t kMaxFirmwareSize = 176128; // CODE area, bytes
inline constexpr int32_t kBadFirmwareFile = -3;     // LoadFirmware's failure
inline constexpr size_t kMaxNamePart = 53;          // name part, characters
inline constexpr size_t kMaxExtension = 9;          // extension incl. the dot
inline constexpr const char* kTextWrongBlockSize = "Wrong Block Size";
// A file held by another program is asked again this often, this many ms apart
// (a copy or a virus scanner holds it for a moment). This process's own sessions
// open an image one at a time and never hold it from each other.
inline constexpr int kHeldFileTries = 20;
inline constexpr int kHeldFilePauseMs = 10;

struct FirmwareArea {
    const char* pszName;
    uint32_t dwStart; // offset from kFlashAreaBase
    uint32_t dwSize;  // bytes
    uint32_t dwFlags; // dwAreaFlags of an image for this area
};

// CODE, OEM, PARAMETER, BOOT, CUSTOM; nullptr for any other name (case-sensitive).
const FirmwareArea* FindFirmwareArea(const std::string& strName);
// "0x%06x(%i)": 0x008000(176128).
std::string FormatAreaText(uint32_t dwStart, uint32_t dwSize);

struct FileFacts {
    int32_t nSize = -1;
    std::string strName;      // name part, at most 53 characters
    std::string strExtension; // from the last dot of the last path element, at most 9
    std::string strDate;      // last write, UTC, "YYYY.MM.DD hh:mm:ss"
};
// Opens the file exclusively (open + flock(LOCK_EX|LOCK_NB): a file another
// program holds locked for more than kHeldFileTries x kHeldFilePauseMs counts as
// held) and reads its facts. False when it cannot be opened that way; facts then
// unchanged. Safe from several threads at once (see kHeldFileTries).
bool ReadFileFacts(const std::string& strPath, FileFacts& facts);
// Pure helpers of ReadFileFacts.
void SplitFileName(const std::string& strPath, std::string& strName, std::string& strExtension);
std::string FormatFileDate(int64_t nUnixSeconds);

// Appends pSegment at the tail, after releasing a segment with the same address.
void AddSegment(ImageList& list, std::unique_ptr<ImageSegment> pSegment);

// Reads the whole file (shared read) into a new segment at dwAddress and adds it.
// nExpected 0 accepts any length, otherwise the exact length required; on a
// mismatch pfnShowMessage (when given) gets "Wrong Block Size". nullptr on failure;
// the returned segment is owned by the list.
ImageSegment* ReadImageSegment(ImageList& list, const std::string& strPath, uint32_t dwAddress,
                               int32_t nExpected,
                               const std::function<void(const std::string&)>& pfnShowMessage = {});

// The file's size, with nFileSize, strFileName and strFileDate set; -1 when it
// cannot be opened exclusively (nothing changed).
int32_t ReadFirmwareInfo(const std::string& strPath, UpdateRequest& request);

// Loads the file into request.pSegments (one segment at 0x108000). 0, or -3 when
// the path is empty, the file is missing, held, empty (no image to send), longer
// than 176128 bytes (image left untouched) or changed length between the reads
// (image left empty).
// dwAreaFlags is 0x5C3E0000 on every return.
int32_t LoadFirmware(UpdateRequest& request, const std::string& strPath, uint32_t& dwAreaFlags);
// Lower-case hex SHA-256 of the segments' bytes in list order.
std::string ImageSha256(const ImageList& list);
// Why LoadFirmware refused strPath, as one line for the operator.
std::string DescribeFirmwareProblem(const std::string& strPath);

} // namespace fwup
