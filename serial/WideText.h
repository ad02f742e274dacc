#pragma once
// Windows only: the core keeps text in UTF-8; the system's wide calls take UTF-16.

#include <string>

namespace fwup {

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring WideFromUtf8(const std::string& strText);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8FromWide(const std::wstring& strText);

} // namespace fwup
