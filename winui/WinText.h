#pragma once
// Pure text rules of the native window. The multi-line boxes (the log 1007 and
// the file description 1004) keep CR LF line breaks and hold at most
// kTextBoxCapacity characters, dropping whole lines from the top for new text;
// the formatting and code-page conversions the window's texts go through.

#include <cstdarg>
#include <cstddef>
#include <string>

namespace fwup {

// Characters a multi-line box holds before its oldest lines go: an edit
// control's default text limit, the same as the Linux window's.
inline constexpr size_t kTextBoxCapacity = 30000;

// Every LF not preceded by CR gets a CR in front; CR LF pairs and lone CRs stay.
std::wstring NormalizeLineBreaks(const std::wstring& strText);

// How many characters to remove from the front of strBox so that nAdd more fit
// into nCapacity: whole lines (with their CR LF), through the line that holds
// the last character that has to go. 0 when the text fits; strBox.size() when
// the box has to be emptied.
size_t CharsToDrop(const std::wstring& strBox, size_t nAdd, size_t nCapacity);

// A single text longer than the whole capacity: its newest part, at most
// nCapacity characters, starting at a line start when the kept part holds one.
std::wstring KeepNewest(const std::wstring& strText, size_t nCapacity);

// Where the caret goes after text was appended to a box of strBox: the end of
// the last line that holds text, not the empty line after a closing CR LF, so
// a box as small as the file description keeps its first line in view.
size_t CaretAfterAppend(const std::wstring& strBox);

// printf-style formatting into UTF-8 (%s takes UTF-8 text).
std::string FormatUtf8V(const char* pszFormat, va_list args);

// Text from the device (version, serial number), in the thread's ANSI code page.
std::wstring WideFromDevice(const std::string& strText);

} // namespace fwup
