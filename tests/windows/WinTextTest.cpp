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

TEST(WindowOptionsTest, CommandLines) {
    const struct {
        std::vector<std::string> args;
        bool bValid;
        const char* pszRecord;
    } rows[] = {
        {{}, true, ""},
        {{"--record", "C:\\units.jsonl"}, true, "C:\\units.jsonl"},
        {{"--record"}, false, ""},               // no value
        {{"--record", ""}, false, ""},           // an empty value
        {{"--test-port", "COM9"}, false, ""},    // the test hook is not in the product
        {{"-platform", "offscreen"}, false, ""}, // the Qt window's options are not ours
    };
    for (const auto& row : rows) {
        WindowOptions options;
        std::string strError;
        const bool bValid = ParseWindowOptions(row.args, options, strError);
        const std::string strArgs = testing::PrintToString(row.args);
        EXPECT_EQ(bValid, row.bValid) << strArgs << ": " << strError;
        if (bValid) {
            EXPECT_EQ(options.strRecordPath, row.pszRecord) << strArgs;
        } else {
            EXPECT_FALSE(strError.empty()) << strArgs;
        }
    }
}

} // namespace
} // namespace fwup
