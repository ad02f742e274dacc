#pragma once
// Windows only: the core keeps text in UTF-8; the system's wide calls take UTF-16
// (wchar_t). Both directions go through serial/Utf8Text's codec.

#include <string>

namespace fwup {

// UTF-8 to UTF-16; each byte that does not start a valid sequence becomes U+FFFD.
std::wstring WideFromUtf8(const std::string& strText);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8FromWide(const std::wstring& strText);

} // namespace fwup
