#include "winui/RestartRegistration.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace fwup {

std::wstring_view ArgumentsAfterProgramName(std::wstring_view strCommandLine) {
    size_t nEnd = 0;
    if (!strCommandLine.empty() && strCommandLine.front() == L'"') {
        const size_t nQuote = strCommandLine.find(L'"', 1);
        nEnd = nQuote == std::wstring_view::npos ? strCommandLine.size() : nQuote + 1;
    } else {
        nEnd = std::min(strCommandLine.find_first_of(L" \t"), strCommandLine.size());
    }
    const size_t nArgs = strCommandLine.find_first_not_of(L" \t", nEnd);
    return nArgs == std::wstring_view::npos ? std::wstring_view() : strCommandLine.substr(nArgs);
}

bool RegisterForRestart() {
    // The platform adds the program's name itself.
    const std::wstring strArgs(ArgumentsAfterProgramName(::GetCommandLineW()));
    return SUCCEEDED(::RegisterApplicationRestart(strArgs.c_str(), 0));
}

} // namespace fwup
