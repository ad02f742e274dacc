#pragma once
// JSON text pieces shared by the front ends' machine-readable output.

#include <optional>
#include <string>

namespace fwup {

// Escapes a text for a JSON string literal (quotes not included).
std::string JsonEscape(const std::string& strText);
// A quoted JSON string, or null.
std::string JsonStringOrNull(const std::optional<std::string>& optText);

} // namespace fwup
