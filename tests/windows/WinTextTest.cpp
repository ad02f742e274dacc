// The native window's pure rules: the multi-line boxes' text rules (the same
// rows as the Linux window's, so the two windows keep the same log) and the
// command line, and the arguments it registers for a restart.

#include "winui/WinText.h"
#include "winui/RestartRegistration.h"
#include "winui/WindowOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fwup {
namespace {

TEST(WindowOptionsTest, CommandLines) {
    const struct {
        std::vector<std::string> args;
        bool bValid;
        const char* pszRecord;
        bool bBench;
        const char* pszFile;
        int nRetries;
    } rows[] = {
        {{}, true, "", false, "", 0},
        {{"--record", "C:\\units.jsonl"}, true, "C:\\units.jsonl", false, "", 0},
        {{"--record"}, false, "", false, "", 0},            // no value
        {{"--record", ""}, false, "", false, "", 0},        // an empty value
        {{"--test-port", "COM9"}, false, "", false, "", 0}, // the test hook is not in the product
        {{"-platform", "offscreen"}, false, "", false, "", 0}, // the Qt window's options are not
                                                               // ours
        // What the Start-menu shortcut "VelgoFWUp bench" passes, and a full bench line.
        {{"--bench"}, true, "", true, "", 0},
        {{"--bench", "--file", "C:\\FW.bin", "--record", "u.jsonl", "--station", "B2", "--slots",
          "s.txt", "--retries", "2"},
         true,
         "u.jsonl",
         true,
         "C:\\FW.bin",
         2},
        {{"--file", "C:\\FW.bin"}, false, "", false, "", 0},      // a bench option without --bench
        {{"--bench", "--retries", "x"}, false, "", false, "", 0}, // not a count
        {{"--bench", "--slots"}, false, "", false, "", 0},        // no value
        {{"--bench", "--test-readers", "2"}, false, "", false, "", 0}, // the test hook again
    };
    for (const auto& row : rows) {
        WindowOptions options;
        std::string strError;
        const bool bValid = ParseWindowOptions(row.args, options, strError);
        const std::string strArgs = testing::PrintToString(row.args);
        EXPECT_EQ(bValid, row.bValid) << strArgs << ": " << strError;
        if (bValid) {
            EXPECT_EQ(options.bench.strRecordStore, row.pszRecord) << strArgs;
            EXPECT_EQ(options.bench.bBench, row.bBench) << strArgs;
            EXPECT_EQ(options.bench.strFirmwarePath, row.pszFile) << strArgs;
            EXPECT_EQ(options.bench.nRetries, row.nRetries) << strArgs;
        } else {
            EXPECT_FALSE(strError.empty()) << strArgs;
        }
    }
}

// What the restart manager is given: the command line without the program's name.
TEST(RestartRegistrationTest, ArgumentsAfterProgramName) {
    const struct {
        const wchar_t* pszCommandLine;
        const wchar_t* pszArguments;
    } rows[] = {
        {L"fwupgraderVelmora.exe", L""},
        {L"fwupgraderVelmora.exe --record u.jsonl", L"--record u.jsonl"},
        {L"\"C:\\Program Files\\fwupgrader\\fwupgraderVelmora.exe\" --bench", L"--bench"},
        {L"\"C:\\Program Files\\fwupgrader\\fwupgraderVelmora.exe\"", L""},
        {L"C:\\fw\\fwupgraderVelmora.exe \t --bench --file \"C:\\a b\\FW.bin\"",
         L"--bench --file \"C:\\a b\\FW.bin\""},
        {L"\"C:\\odd name.exe\"--bench", L"--bench"}, // the quote ends the name
        {L"\"C:\\never closed --bench", L""},
        {L"", L""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(std::wstring(ArgumentsAfterProgramName(row.pszCommandLine)), row.pszArguments)
            << testing::PrintToString(std::wstring(row.pszCommandLine));
    }
}

} // namespace
} // namespace fwup
