// The native window's pure rules: the multi-line boxes' text rules (the same
// rows as the Linux window's, so the two windows keep the same log) and the
// command line.

#include "winui/WinText.h"
#include "winui/WindowOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fwup {
namespace {

TEST(WinTextTest, NormalizeLineBreaks) {
    const struct {
        const wchar_t* pszIn;
        const wchar_t* pszOut;
    } rows[] = {
        {L"", L""},         {L"a\nb", L"a\r\nb"}, {L"a\r\nb", L"a\r\nb"}, {L"\n", L"\r\n"},
        {L"\nx", L"\r\nx"}, {L"a\rb", L"a\rb"},   {L"\r\r\n", L"\r\r\n"}, {L"a\n\n", L"a\r\n\r\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(NormalizeLineBreaks(row.pszIn), row.pszOut)
            << "input: " << testing::PrintToString(std::wstring(row.pszIn));
    }
}

TEST(WinTextTest, CharsToDrop) {
    // Lines "aaa\r\n" are 5 characters each.
    const std::wstring three = L"aaa\r\nbbb\r\nccc\r\n";
    const struct {
        const char* pszName;
        std::wstring strBox;
        size_t nAdd;
        size_t nCap;
        size_t nDrop;
    } rows[] = {
        {"fits exactly", three, 5, 20, 0},
        {"one over: first line", three, 6, 20, 5},
        {"k on first line's LF", three, 10, 20, 5},
        {"k on second line's first char", three, 11, 20, 10},
        {"last line without break", L"aaa\r\nbbb", 5, 10, 5},
        {"k in unfinished last line", L"aaa\r\nbbb", 9, 10, 8},
        {"text alone too long", three, 25, 20, 15},
        {"empty box", L"", 30, 20, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CharsToDrop(row.strBox, row.nAdd, row.nCap), row.nDrop) << row.pszName;
    }
}

TEST(WinTextTest, KeepNewestAndCaret) {
    EXPECT_EQ(KeepNewest(L"abc", 5), L"abc");
    // Cut inside "line1": the kept part starts at the next whole line.
    EXPECT_EQ(KeepNewest(L"line1\r\nline2\r\nend", 12), L"line2\r\nend");
    // Cut right after a line break: nothing more is lost.
    EXPECT_EQ(KeepNewest(L"ab\r\ncd", 2), L"cd");
    // One line longer than everything: its newest characters.
    EXPECT_EQ(KeepNewest(L"0123456789", 4), L"6789");

    // The caret stays on the last line that holds text.
    EXPECT_EQ(CaretAfterAppend(L"connected.\r\n"), 10u);
    EXPECT_EQ(CaretAfterAppend(L"file date : 2014.05.02 09:07:03"), 31u);
    EXPECT_EQ(CaretAfterAppend(L""), 0u);
}

TEST(WindowOptionsTest, CommandLines) {
    const struct {
        std::vector<std::string> args;
        bool bValid;
        const char* pszRecord;
        bool bHook;
    } rows[] = {
        {{}, true, "", false},
        {{"--record", "C:\\units.jsonl"}, true, "C:\\units.jsonl", false},
        {{"--test-port", "COM9", "--test-file", "Z:\\fw.bin"}, true, "", true},
        {{"--test-port", "COM9", "--test-file", "fw.bin", "--test-report", "r.txt"},
         true,
         "",
         true},
        {{"--record"}, false, "", false},            // no value
        {{"--record", ""}, false, "", false},        // an empty value
        {{"--test-port", "COM9"}, false, "", false}, // a hook without its file
        {{"--test-report", "r.txt"}, false, "", false},
        {{"--test-port", "COM9", "--test-file", "fw.bin", "--test-auto"}, false, "", false},
        {{"-platform", "offscreen"}, false, "", false}, // the Qt window's options are not ours
    };
    for (const auto& row : rows) {
        WindowOptions options;
        std::string strError;
        const bool bValid = ParseWindowOptions(row.args, options, strError);
        const std::string strArgs = testing::PrintToString(row.args);
        EXPECT_EQ(bValid, row.bValid) << strArgs << ": " << strError;
        if (bValid) {
            EXPECT_EQ(options.strRecordPath, row.pszRecord) << strArgs;
            EXPECT_EQ(options.TestHookOn(), row.bHook) << strArgs;
        } else {
            EXPECT_FALSE(strError.empty()) << strArgs;
        }
    }
}

} // namespace
} // namespace fwup
