// Firmware files through the Windows calls: UTF-16 paths, no sharing, UTC dates.
#include "device/FilePlatform.h"
#include "device/FirmwareFile.h"
#include "serial/WideText.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

// A folder of its own below the temporary folder, removed with its files.
class CTempFolder {
public:
    CTempFolder() {
        wchar_t szBase[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, szBase);
        m_path = std::filesystem::path(szBase) /
                 (L"fwup-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(::GetTickCount64()));
        std::filesystem::create_directories(m_path);
    }
    ~CTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    // Writes nSize bytes and returns the path in UTF-8.
    std::string WriteFile(const std::wstring& strName, size_t nSize) const {
        std::ofstream file(m_path / strName, std::ios::binary);
        for (size_t i = 0; i < nSize; ++i) {
            file.put(static_cast<char>(i * 7));
        }
        return fwup::Utf8FromWide((m_path / strName).wstring());
    }
    std::string Path() const { return fwup::Utf8FromWide(m_path.wstring()); }

private:
    std::filesystem::path m_path;
};

// Another program's open of the file, with the sharing it allows.
class COpenElsewhere {
public:
    COpenElsewhere(const std::string& strPath, DWORD dwShare)
        : m_hFile(::CreateFileW(fwup::WideFromUtf8(strPath).c_str(), GENERIC_READ, dwShare, nullptr,
                                OPEN_EXISTING, 0, nullptr)) {}
    ~COpenElsewhere() {
        if (m_hFile != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_hFile);
        }
    }
    COpenElsewhere(const COpenElsewhere&) = delete;
    COpenElsewhere& operator=(const COpenElsewhere&) = delete;
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_hFile;
};

void SetWriteTime(const std::string& strPath, const SYSTEMTIME& utc) {
    FILETIME when{};
    ASSERT_TRUE(::SystemTimeToFileTime(&utc, &when));
    const HANDLE hFile = ::CreateFileW(fwup::WideFromUtf8(strPath).c_str(), FILE_WRITE_ATTRIBUTES,
                                       0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(::SetFileTime(hFile, nullptr, nullptr, &when));
    ::CloseHandle(hFile);
}

// A name no ANSI code page holds.
const wchar_t* const kWideName = L"fw-\u00fc\u20ac\u4e2d.bin";
const char* const kWideNamePart = "fw-\xc3\xbc\xe2\x82\xac\xe4\xb8\xad";

TEST(FileFactsWin, Utf16PathSizeAndUtcDate) {
    CTempFolder folder;
    const std::string strPath = folder.WriteFile(kWideName, 10);
    SYSTEMTIME utc{};
    utc.wYear = 2014;
    utc.wMonth = 3;
    utc.wDay = 5;
    utc.wHour = 9;
    utc.wMinute = 7;
    utc.wSecond = 3;
    SetWriteTime(strPath, utc);
    fwup::FileFacts facts;
    ASSERT_TRUE(fwup::ReadFileFacts(strPath, facts));
    EXPECT_EQ(facts.nSize, 10);
    EXPECT_EQ(facts.strDate, "2014.03.05 09:07:03");
}

TEST(FileFactsWin, NameIsTheLastElementOfAWindowsPath) {
    CTempFolder folder;
    fwup::FileFacts facts;
    ASSERT_TRUE(fwup::ReadFileFacts(folder.WriteFile(kWideName, 10), facts));
    EXPECT_EQ(facts.strName, kWideNamePart);
    EXPECT_EQ(facts.strExtension, ".bin");
}

TEST(FileFactsWin, FileOpenElsewhereOrNoFileCannotBeOpened) {
    CTempFolder folder;
    const std::string strPath = folder.WriteFile(L"held.bin", 100);
    fwup::FileFacts facts;
    for (DWORD dwShare :
         {DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        COpenElsewhere other(strPath, dwShare);
        ASSERT_TRUE(other.IsOpen());
        EXPECT_FALSE(fwup::ReadFileFacts(strPath, facts)) << "share mode " << dwShare;
        fwup::UpdateRequest request;
        uint32_t dwAreaFlags = 0;
        EXPECT_EQ(fwup::LoadFirmware(request, strPath, dwAreaFlags), fwup::kBadFirmwareFile);
    }
    EXPECT_TRUE(fwup::ReadFileFacts(strPath, facts)); // released again
    EXPECT_TRUE(fwup::ReadFileFacts(strPath, facts)); // and our own open left nothing behind
    EXPECT_FALSE(fwup::ReadFileFacts(folder.Path(), facts));
    EXPECT_FALSE(fwup::ReadFileFacts(folder.Path() + "\\missing.bin", facts));
    EXPECT_FALSE(fwup::IsRegularPath(folder.Path()));
    EXPECT_TRUE(fwup::IsRegularPath(strPath));
}

// A bench loads one image for every reader at once: no session's open may shut
// out another's, however the threads interleave.
TEST(LoadFirmwareWin, SessionsLoadingOneImageAtOnceAllSucceed) {
    CTempFolder folder;
    const std::string strPath = folder.WriteFile(L"FW.bin", 176128);
    constexpr int kThreads = 8;
    constexpr int kLoads = 20;
    std::atomic<int> nFailed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kLoads; ++i) {
                fwup::UpdateRequest request;
                uint32_t dwAreaFlags = 0;
                if (fwup::LoadFirmware(request, strPath, dwAreaFlags) != 0 || !request.pSegments ||
                    request.pSegments->nLength != 176128) {
                    ++nFailed;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(nFailed.load(), 0) << "of " << kThreads * kLoads << " loads";
}

TEST(LoadFirmwareWin, LengthLimitOnWindowsFiles) {
    CTempFolder folder;
    const std::pair<size_t, int32_t> cases[] = {{176128, 0}, {176129, fwup::kBadFirmwareFile}};
    for (const auto& [nSize, nResult] : cases) {
        const std::string strPath =
            folder.WriteFile(L"fw" + std::to_wstring(nSize) + L".bin", nSize);
        fwup::UpdateRequest request;
        uint32_t dwAreaFlags = 0;
        EXPECT_EQ(fwup::LoadFirmware(request, strPath, dwAreaFlags), nResult) << nSize;
        if (nResult == 0) {
            ASSERT_NE(request.pSegments, nullptr);
            EXPECT_EQ(request.pSegments->nLength, static_cast<int32_t>(nSize));
            EXPECT_EQ(request.pSegments->pData[176127], static_cast<uint8_t>(176127 * 7));
        }
    }
}

TEST(LoadFirmwareWin, PathOutsideTheAnsiCodePage) {
    CTempFolder folder;
    const std::string strPath = folder.WriteFile(kWideName, 1000);
    fwup::UpdateRequest request;
    uint32_t dwAreaFlags = 0;
    ASSERT_EQ(fwup::LoadFirmware(request, strPath, dwAreaFlags), 0);
    ASSERT_NE(request.pSegments, nullptr);
    EXPECT_EQ(request.pSegments->nLength, 1000);
}

TEST(UtcCalendarWin, SecondsSince1970AsUtcFields) {
    struct Case {
        int64_t nSeconds;
        bool bValid;
        int nYear, nMonth, nDay, nHour, nMinute, nSecond;
    };
    const Case cases[] = {
        {0, true, 1970, 1, 1, 0, 0, 0},
        {951782400, true, 2000, 2, 29, 0, 0, 0},
        {-1, true, 1969, 12, 31, 23, 59, 59},
        {4102444799, true, 2099, 12, 31, 23, 59, 59},
        {-11644473600, true, 1601, 1, 1, 0, 0, 0},
        {-11644473601, false, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        int nYear = 0, nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0;
        ASSERT_EQ(fwup::UtcCalendar(c.nSeconds, nYear, nMonth, nDay, nHour, nMinute, nSecond),
                  c.bValid)
            << c.nSeconds;
        if (c.bValid) {
            EXPECT_EQ(std::vector<int>({nYear, nMonth, nDay, nHour, nMinute, nSecond}),
                      std::vector<int>({c.nYear, c.nMonth, c.nDay, c.nHour, c.nMinute, c.nSecond}))
                << c.nSeconds;
        }
    }
}

} // namespace
