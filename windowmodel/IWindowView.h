#pragma once
// IWindowView: what the main window's model asks of a toolkit. A view shows what
// it is told and reports the operator's input to the model (CMainWindowModel);
// it keeps no rules of its own. Every call comes on the GUI thread. Texts are
// UTF-8; the multi-line boxes get UTF-16 with CR LF line breaks.

#include "windowmodel/ControlIds.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace fwup {

// The controls of dialog template 102 (their template ids), then the auto mode's two.
enum class Control : int {
    Upload = IDC_UPLOAD,
    Area = IDC_AREA,
    Port = IDC_PORT,
    Load = IDC_LOAD,
    FileInfo = IDC_FILE_INFO,
    FilePath = IDC_FILE_PATH,
    AreaText = IDC_AREA_TEXT,
    Log = IDC_LOG,
    Progress = IDC_PROGRESS,
    DeviceState = IDC_DEVICE_STATE,
    Connect = IDC_CONNECT,
    Status = IDC_STATUS,
    AutoMode = IDC_AUTO_MODE,
    Serial = IDC_SERIAL,
    AutoProgress = IDC_AUTO_PROGRESS
};

enum class BoxIcon { None, Information };

// A port list entry: the listed name and a hint (the device node; may be empty).
struct PortChoice {
    std::string strName;
    std::string strHint;
};

class IWindowView {
public:
    virtual ~IWindowView() = default;

    virtual void SetControlText(Control eControl, const std::string& strText) = 0;
    virtual void EnableControl(Control eControl, bool bEnable) = 0;
    // A bar's position, 0..100.
    virtual void SetProgress(Control eBar, int nPos) = 0;
    // A bar that runs without a position (auto mode's device in work) or not.
    virtual void SetMarquee(Control eBar, bool bOn) = 0;
    // A multi-line box (log, file description): remove nDropFront characters from
    // its front, append strAppend, put the caret at nCaret (counted in the box's
    // CR LF text after the edit) and scroll it into view.
    virtual void EditBox(Control eBox, size_t nDropFront, const std::u16string& strAppend,
                         size_t nCaret) = 0;
    // Fills a combo box (nothing chosen afterwards) / chooses entry nIndex.
    virtual void SetComboItems(Control eCombo, const std::vector<PortChoice>& items) = 0;
    virtual void ChooseComboItem(Control eCombo, int nIndex) = 0;
    // The chosen port's hint (a tooltip where the toolkit has them); empty: none.
    virtual void SetPortHint(const std::string& strHint) = 0;
    // Opens the port list for the operator.
    virtual void OpenPortList() = 0;
    // A modal box with the program's name as caption, OK only; returns when closed.
    // Reports posted meanwhile may be delivered from inside it.
    virtual void ShowMessage(const std::string& strText, BoxIcon eIcon) = 0;
    virtual void SetWaitCursor(bool bOn) = 0;
    // The open-file dialog (*.bin, then all files); the chosen path in the form the
    // file functions take, none when cancelled.
    virtual std::optional<std::string> AskFirmwareFile() = 0;
    // Ends the window (its close step); the model is idle by then.
    virtual void EndDialog() = 0;
    // Text from the device (version, serial number) as UTF-8, in the platform's
    // code page for device text.
    virtual std::string TextFromDevice(const std::string& strBytes) const = 0;
};

} // namespace fwup
