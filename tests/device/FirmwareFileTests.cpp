// The firmware file: area table, name and date facts, the exclusive open,
// segment lists and the loaders' length rules.

#include "device/FilePlatform.h"
#include "device/FirmwareFile.h"
#include "sim/CSimDevice.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fwup;
using fwtest::CTempRoot;

namespace {

std::vector<uint8_t> ReadAll(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::unique_ptr<ImageSegment> Segment(uint32_t dwAddress, int32_t nTag) {
    auto p = std::make_unique<ImageSegment>();
    p->dwAddress = dwAddress;
    p->nLength = nTag;
    return p;
}

std::vector<std::pair<uint32_t, int32_t>> Contents(const ImageList& list) {
    std::vector<std::pair<uint32_t, int32_t>> items;
    for (const ImageSegment* p = list.get(); p != nullptr; p = p->pNext.get()) {
        items.emplace_back(p->dwAddress, p->nLength);
    }
    return items;
}

// Holds an flock on a file through its own descriptor, as another program would.
class CLockedElsewhere {
public:
    explicit CLockedElsewhere(const std::string& strPath)
        : m_hFile(::open(strPath.c_str(), O_RDONLY)) {
        EXPECT_GE(m_hFile, 0);
        EXPECT_EQ(::flock(m_hFile, LOCK_EX | LOCK_NB), 0);
    }
    ~CLockedElsewhere() { ::close(m_hFile); }

private:
    int m_hFile;
};

} // namespace

TEST(FirmwareArea, TableAndTexts) {
    struct Case {
        const char* pszName;
        uint32_t dwStart, dwSize, dwFlags;
        const char* pszText;
    };
    const Case cases[] = {
        {"CODE", 0x8000, 176128, 0x5C3E0000, "0x008000(176128)"},
        {"OEM", 0x3CC00, 13312, 0, "0x03cc00(13312)"},
        {"PARAMETER", 0x3C000, 3072, 0, "0x03c000(3072)"},
        {"BOOT", 0, 32768, 0, "0x000000(32768)"},
        {"CUSTOM", 0, 0, 0, "0x000000(0)"},
    };
    for (const Case& c : cases) {
        const FirmwareArea* pArea = FindFirmwareArea(c.pszName);
        ASSERT_NE(pArea, nullptr) << c.pszName;
        EXPECT_EQ(pArea->dwStart, c.dwStart);
        EXPECT_EQ(pArea->dwSize, c.dwSize);
        EXPECT_EQ(pArea->dwFlags, c.dwFlags);
        EXPECT_EQ(FormatAreaText(pArea->dwStart, pArea->dwSize), c.pszText);
    }
    EXPECT_EQ(FindFirmwareArea("code"), nullptr);
    EXPECT_EQ(FindFirmwareArea(""), nullptr);
    // The simulated device, written apart from the product, agrees where CODE lies
    // (device address 0x100000 + start) and that every area fits its flash.
    EXPECT_EQ(fwsim::kFlashBase + FindFirmwareArea("CODE")->dwStart, fwsim::kCodeAddress);
    for (const Case& c : cases) {
        EXPECT_LE(c.dwStart + c.dwSize, fwsim::kFlashSize) << c.pszName;
    }
}

TEST(FileName, SplitsAndCuts) {
    struct Case {
        std::string strPath, strName, strExtension;
    };
    const std::string strLong(60, 'n');
    std::string strWide; // 60 two-byte characters
    for (int i = 0; i < 60; ++i) {
        strWide += "\xC3\xA9";
    }
    const Case cases[] = {
        {"/tmp/fw/reader.rel.bin", "reader.rel", ".bin"},
        {"/tmp/fw/README", "README", ""},
        {"reader.bin", "reader", ".bin"},
        {"/tmp/a.b/file", "file", ""}, // the dot of a folder does not count
        {"/tmp/fw/.hidden", "", ".hidden"},
        {"/tmp/" + strLong + ".bin", strLong.substr(0, 53), ".bin"},
        {"/tmp/x.abcdefghijkl", "x", ".abcdefgh"},                    // 9 characters, dot included
        {"/tmp/" + strWide + ".bin", strWide.substr(0, 106), ".bin"}, // never half a character
    };
    for (const Case& c : cases) {
        std::string strName = "old", strExtension = "old";
        SplitFileName(c.strPath, strName, strExtension);
        EXPECT_EQ(strName, c.strName) << c.strPath;
        EXPECT_EQ(strExtension, c.strExtension) << c.strPath;
    }
}

TEST(FileFacts, DateIsUtcWhateverTheLocalZone) {
    CTempRoot dir(false);
    const std::string strPath = dir.WriteFile("reader.rel.bin", 10);
    struct tm fields {};
    fields.tm_year = 2014 - 1900;
    fields.tm_mon = 2;
    fields.tm_mday = 5;
    fields.tm_hour = 9;
    fields.tm_min = 7;
    fields.tm_sec = 3;
    const time_t tWhen = ::timegm(&fields);
    const timespec times[2] = {{tWhen, 0}, {tWhen, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, strPath.c_str(), times, 0), 0);
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    FileFacts facts;
    const bool bRead = ReadFileFacts(strPath, facts);
    ::unsetenv("TZ");
    ::tzset();
    ASSERT_TRUE(bRead);
    EXPECT_EQ(facts.strDate, "2014.03.05 09:07:03");
    EXPECT_EQ(facts.nSize, 10);
    EXPECT_EQ(facts.strName, "reader.rel");
    EXPECT_EQ(facts.strExtension, ".bin");
    EXPECT_EQ(FormatFileDate(0), "1970.01.01 00:00:00");
}

TEST(FileFacts, LockedMissingOrDirectoryCannotBeOpened) {
    CTempRoot dir(false);
    const std::string strPath = dir.WriteFile("fw.bin", 5);
    FileFacts facts;
    facts.strName = "keep";
    {
        CLockedElsewhere lock(strPath);
        EXPECT_FALSE(ReadFileFacts(strPath, facts));
        EXPECT_EQ(facts.strName, "keep");
        EXPECT_EQ(facts.nSize, -1);
    }
    EXPECT_TRUE(ReadFileFacts(strPath, facts)); // released again afterwards
    EXPECT_TRUE(ReadFileFacts(strPath, facts)); // and our own open left no lock behind
    EXPECT_FALSE(ReadFileFacts(dir.Path() + "/missing.bin", facts));
    EXPECT_FALSE(ReadFileFacts(dir.Path(), facts));
    EXPECT_FALSE(ReadFileFacts("", facts));
}

TEST(ImageList, AddSegmentKeepsOnePerAddressAtTheEnd) {
    ImageList list;
    AddSegment(list, Segment(0x108000, 1));
    AddSegment(list, Segment(0x13C000, 2));
    AddSegment(list, Segment(0x13CC00, 3));
    using Items = std::vector<std::pair<uint32_t, int32_t>>;
    EXPECT_EQ(Contents(list), (Items{{0x108000, 1}, {0x13C000, 2}, {0x13CC00, 3}}));
    AddSegment(list, Segment(0x108000, 4)); // replaces the head, moves to the end
    EXPECT_EQ(Contents(list), (Items{{0x13C000, 2}, {0x13CC00, 3}, {0x108000, 4}}));
    AddSegment(list, Segment(0x13CC00, 5)); // replaces one in the middle
    EXPECT_EQ(Contents(list), (Items{{0x13C000, 2}, {0x108000, 4}, {0x13CC00, 5}}));
    auto pStray = Segment(0x100000, 6);
    pStray->pNext = Segment(0x200000, 7); // a stale link must not come along
    AddSegment(list, std::move(pStray));
    EXPECT_EQ(Contents(list), (Items{{0x13C000, 2}, {0x108000, 4}, {0x13CC00, 5}, {0x100000, 6}}));
}

TEST(ImageSegmentRead, WrongLengthShowsMessageOnlyWhenGiven) {
    CTempRoot dir(false);
    const std::string strPath = dir.WriteFile("param.bin", 3071);
    ImageList list;
    AddSegment(list, Segment(0x108000, 9));
    std::vector<std::string> messages;
    EXPECT_EQ(ReadImageSegment(list, strPath, 0x13C000, 3072,
                               [&](const std::string& s) { messages.push_back(s); }),
              nullptr);
    EXPECT_EQ(messages, std::vector<std::string>{"Wrong Block Size"});
    EXPECT_EQ(ReadImageSegment(list, strPath, 0x13C000, 3072), nullptr);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(Contents(list).size(), 1u); // the list is untouched

    ImageSegment* pSegment = ReadImageSegment(list, strPath, 0x13C000, 3071);
    ASSERT_NE(pSegment, nullptr);
    EXPECT_EQ(pSegment->nLength, 3071);
    EXPECT_EQ(pSegment->pData, ReadAll(strPath));
    EXPECT_EQ(Contents(list).back().first, 0x13C000u);
    EXPECT_NE(ReadImageSegment(list, strPath, 0x13C000, 0), nullptr); // 0 accepts any length
    EXPECT_EQ(Contents(list).size(), 2u);
    EXPECT_EQ(ReadImageSegment(list, dir.Path() + "/none.bin", 0x13C000, 0), nullptr);
    EXPECT_EQ(ReadImageSegment(list, dir.Path(), 0x13C000, 0), nullptr); // a folder
}

TEST(LoadFirmware, LengthRules) {
    CTempRoot dir(false);
    struct Case {
        size_t nSize;
        int32_t nResult;
    };
    // An empty file is refused: it would "succeed" without writing a byte.
    const Case cases[] = {{176128, 0}, {176129, -3}, {1, 0}, {0, -3}, {4097, 0}};
    for (const Case& c : cases) {
        const std::string strPath = dir.WriteFile("fw" + std::to_string(c.nSize) + ".bin", c.nSize);
        UpdateRequest request;
        AddSegment(request.pSegments, Segment(0x1234, 77)); // an earlier image
        uint32_t dwAreaFlags = 0;
        EXPECT_EQ(LoadFirmware(request, strPath, dwAreaFlags), c.nResult) << c.nSize;
        EXPECT_EQ(dwAreaFlags, 0x5C3E0000u) << c.nSize;
        if (c.nSize == 0) {
            EXPECT_EQ(request.pSegments, nullptr); // no image to send
            continue;
        }
        ASSERT_NE(request.pSegments, nullptr) << c.nSize;
        EXPECT_EQ(request.pSegments->pNext, nullptr) << c.nSize;
        if (c.nResult == 0) {
            EXPECT_EQ(request.pSegments->dwAddress, 0x108000u);
            EXPECT_EQ(request.pSegments->nLength, static_cast<int32_t>(c.nSize));
            EXPECT_EQ(request.pSegments->pData, ReadAll(strPath));
        } else {
            EXPECT_EQ(request.pSegments->dwAddress, 0x1234u); // left untouched
            EXPECT_EQ(request.pSegments->nLength, 77);
        }
        EXPECT_EQ(request.status.nFileSize, static_cast<int32_t>(c.nSize));
        EXPECT_EQ(request.status.strFileName, "fw" + std::to_string(c.nSize) + ".bin");
        EXPECT_EQ(request.status.strFileDate.size(), 19u);
    }
}

TEST(LoadFirmware, MissingHeldOrNoPathFails) {
    CTempRoot dir(false);
    UpdateRequest request;
    request.status.strFileName = "before.bin";
    request.status.strFileDate = "2000.01.01 00:00:00";
    request.status.nFileSize = 42;
    AddSegment(request.pSegments, Segment(0x108000, 5));
    uint32_t dwAreaFlags = 0;
    EXPECT_EQ(LoadFirmware(request, dir.Path() + "/missing.bin", dwAreaFlags), -3);
    EXPECT_EQ(dwAreaFlags, 0x5C3E0000u);
    EXPECT_EQ(request.pSegments, nullptr);
    EXPECT_EQ(request.status.strFileName, "before.bin");
    EXPECT_EQ(request.status.strFileDate, "2000.01.01 00:00:00");
    EXPECT_EQ(request.status.nFileSize, 42);

    const std::string strPath = dir.WriteFile("held.bin", 100);
    {
        CLockedElsewhere lock(strPath);
        dwAreaFlags = 0;
        EXPECT_EQ(LoadFirmware(request, strPath, dwAreaFlags), -3);
        EXPECT_EQ(dwAreaFlags, 0x5C3E0000u);
        EXPECT_EQ(request.pSegments, nullptr);
    }
    EXPECT_EQ(LoadFirmware(request, strPath, dwAreaFlags), 0);
    dwAreaFlags = 0;
    EXPECT_EQ(LoadFirmware(request, "", dwAreaFlags), -3);
    EXPECT_EQ(dwAreaFlags, 0x5C3E0000u);
}

TEST(LoadFirmware, PipeIsRefusedWithoutWaitingForAWriter) {
    CTempRoot dir(false);
    const std::string strPath = dir.Path() + "/fifo.bin";
    ASSERT_EQ(::mkfifo(strPath.c_str(), 0600), 0);
    UpdateRequest request;
    uint32_t dwAreaFlags = 0;
    EXPECT_EQ(LoadFirmware(request, strPath, dwAreaFlags), -3);
    EXPECT_EQ(ReadImageSegment(request.pSegments, strPath, 0x108000, 0), nullptr);
    EXPECT_EQ(request.pSegments, nullptr);
    // The one open decides, on its descriptor: a FIFO, a directory or a device
    // (whatever a checked path was swapped for) is refused at once.
    for (const std::string& strOdd : {strPath, dir.Path(), std::string("/dev/null")}) {
        EXPECT_EQ(OpenForReading(strOdd), nullptr) << strOdd;
    }
}
