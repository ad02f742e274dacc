#pragma once
// Text from outside (the reader's serial number, version and ready text, USB
// product texts, process names, paths) made safe for output. Pure functions.

#include <optional>
#include <string>

namespace fwup {

// Escapes a text for a JSON string literal (quotes not included). The result is
// always valid UTF-8 (in fact ASCII wherever the input was not valid UTF-8):
// quote, backslash and C0 controls as JSON escapes, DEL and C1 controls as
// \u007f / \u0080..\u009f, and each byte that is not part of valid UTF-8 as the
// lone surrogate \udc80..\udcff (byte 0x80..0xff), the "surrogateescape"
// convention: Python's json.loads(...).encode("utf-8", "surrogateescape") gives
// the exact bytes back.
std::string JsonEscape(const std::string& strText);
// A quoted JSON string, or null.
std::string JsonStringOrNull(const std::optional<std::string>& optText);

// For a terminal or a log line: C0 controls (LF and ESC included), DEL, C1
// controls and bytes that are not valid UTF-8 shown as \xHH, each byte of them;
// everything else unchanged. One input is always one line that moves no cursor.
std::string DisplayText(const std::string& strText);

// Length of the valid UTF-8 sequence at strText[nAt] (1..4), or 0 when the
// bytes there are not one (overlong forms, surrogates and values past U+10FFFF
// count as invalid).
size_t Utf8SequenceLength(const std::string& strText, size_t nAt);

} // namespace fwup
