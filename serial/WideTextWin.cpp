#include "serial/WideText.h"

#include "serial/Utf8Text.h"

namespace fwup {

// wchar_t is a UTF-16 unit on Windows: the product's one codec does the work, so
// the wide calls see the same text as the Linux window's boxes.
std::wstring WideFromUtf8(const std::string& strText) {
    const std::u16string strUtf16 = Utf16FromUtf8(strText);
    return std::wstring(strUtf16.begin(), strUtf16.end());
}

std::string Utf8FromWide(const std::wstring& strText) {
    return Utf8FromUtf16(std::u16string(strText.begin(), strText.end()));
}

} // namespace fwup
