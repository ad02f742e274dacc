#pragma once
// How auto mode recognises the reader's USB serial converter among the listed
// ports. The one place that knows the converter's description.

#include "serial/PortDiscovery.h"

#include <optional>
#include <string>
#include <vector>

namespace fwup {

// The description the reader's converter is listed under.
inline constexpr const char* kConverterDescription = "AT91 USB to Serial Converter";

// True when the description of a listed port name equals strWanted exactly
// (case-sensitive), blanks at the end of the description ignored: the listed
// name keeps the blank in front of "(COMn)".
bool DescriptionMatches(const std::string& strPortName, const std::string& strWanted);

// The first port of ports, in list order, whose name matches the converter's
// description; none when no port does.
std::optional<PortRecord> FindConverter(const std::vector<PortRecord>& ports);

} // namespace fwup
