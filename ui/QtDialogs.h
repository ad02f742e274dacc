#pragma once
// What both Qt windows ask of the toolkit the same way: the firmware file's open
// dialog and the decoding of text a device sent. GUI thread only.

#include <optional>
#include <string>

class QWidget;

namespace fwup {

// The modal open dialog for an image, "Binary (*.bin)" chosen, "All (*.*)" offered.
// parent: borrowed, the dialog's owner. The chosen file's path in the file system's
// encoding; none when the operator cancelled or chose nothing.
std::optional<std::string> AskFirmwareFile(QWidget* pParent);
// A device's bytes (its serial number, its version), read in the local 8-bit
// encoding, as UTF-8.
std::string TextFromDevice(const std::string& strBytes);

} // namespace fwup
