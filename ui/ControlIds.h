#pragma once
// Ids of the main window's controls (dialog template 102) and of the About box
// (template 100). The auto-mode button and its progress bar are not in the
// template; they are placed by the window itself.

namespace fwup {

enum ControlId : int {
    IDOK = 1,
    IDC_UPLOAD = 1000,        // push button "UPLOAD"
    IDC_AREA = 1001,          // flash area combo box, hidden
    IDC_PORT = 1002,          // port combo box
    IDC_LOAD = 1003,          // push button "Load Binary File"
    IDC_FILE_INFO = 1004,     // file description box, drop target
    IDC_FILE_PATH = 1005,     // file path box, drop target
    IDC_AREA_TEXT = 1006,     // area box, hidden
    IDC_LOG = 1007,           // the log
    IDC_PROGRESS = 1008,      // download progress
    IDC_DEVICE_STATE = 1011,  // "no device", boot or firmware version
    IDC_CONNECT = 1014,       // "Connect" / "disconnect"
    IDC_STATUS = 1016,        // status line
    IDC_AUTO_MODE = 1017,     // "auto mode" / "cancel auto mode"
    IDC_SERIAL = 1034,        // serial number
    IDC_AUTO_PROGRESS = 1039, // auto mode's search bar / marquee
    IDM_ABOUTBOX = 16,        // the About entry of the window's menu
    IDM_BENCH = 32,           // the window menu's "Bench..." entry
};

} // namespace fwup
