#pragma once
// CSlotMap: the bench's slot labels by connector (USB device path plus
// interface, as `fwupgrader-cli list` shows it). A slots file names them, one
// `CONNECTOR LABEL` a line (`1-1.3:1.0 Slot 3`: the label is the rest of the
// line, trimmed, and may hold blanks); `#` starts a comment line; blank lines
// are skipped. A connector the file does not name is labelled "Slot N", N
// counting such connectors 1, 2, ... in the order they are first asked for and
// skipping every N whose "Slot N" the file already gives to another connector,
// so that no two connectors ever share a label.

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace fwup {

struct SlotEntry {
    std::string strConnector;
    std::string strLabel;
};

class CSlotMap {
public:
    // Parses a slots file's text. strSource names it in errors ("slots.txt:4: ...").
    // False with strError at the first malformed line (a connector without a label,
    // a control character in a label) or the first connector or label given twice.
    static bool ParseSlots(const std::string& strText, const std::string& strSource,
                           std::vector<SlotEntry>& entries, std::string& strError);

    // A slots file is a few lines; more than this is no slots file.
    static constexpr size_t kMaxFileBytes = 1024 * 1024;

    // Replaces the file's labels with those of strPath; call it before the first
    // LabelOf, so that no label by first sight meets the file's. The file is
    // opened as the firmware file is, never blocking: a FIFO, a directory or a
    // device is refused ("PATH: not a regular file"), as is a file larger than
    // kMaxFileBytes. False with strError (path and line number) when the file
    // cannot be read or is malformed: the map is then unchanged.
    bool LoadFile(const std::string& strPath, std::string& strError);
    // The same from text already read (strSource names it in errors).
    bool LoadText(const std::string& strText, const std::string& strSource, std::string& strError);

    // The label of strConnector: the file's, else "Slot N" by first sight. Any
    // thread. An empty connector (a port that is not listed) gets an empty label.
    std::string LabelOf(const std::string& strConnector);

    // The number of slots the file names.
    size_t FileSlots() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_fileLabels; // connector -> label
    std::set<std::string> m_fileLabelSet;
    std::map<std::string, std::string> m_seenLabels; // first sight: connector -> "Slot N"
    int m_nNextSeen = 1;
};

} // namespace fwup
