#pragma once
// Windows discovery's text rules as pure functions: COM numbers out of the
// system's port names ("COM5") and the ports class's friendly names.

#include <string>

namespace fwup {

// 5 for "COM5" (case as the system writes it, also "com5"); 0 for anything
// else: no digits, a sign, blanks, trailing text, 0, or a number above 99999.
int ComNumberFromPortName(const std::string& strName);

struct FriendlyNameParts {
    std::string strDescription; // trailing blanks removed
    int nPort = 0;              // 0 when the name does not end in "(COMn)"
};

// "AT91 USB to Serial Converter (COM5)" gives the description "AT91 USB to Serial
// Converter" and 5. Only a "(COMn)" at the very end counts, so a product text that
// holds "COM" or parentheses earlier stays in the description. A name without
// that ending is description only.
FriendlyNameParts SplitFriendlyName(const std::string& strName);

} // namespace fwup
