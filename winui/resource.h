// Resource ids of fwupgraderVelmora.exe: the main window (template 102) keeps
// the Linux window's control ids (ui/ControlIds.h); the About box is template 100.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDM_ABOUTBOX 0x0010 // the About entry of the system menu
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101 // "About VelgoFWUp(&A)..."
#define IDD_FWUPGRADERVELMORA_DIALOG 102
#define IDR_MAINFRAME 128      // the application icon
#define IDC_ABOUT_VERSION 1040 // the About box's second line: the build's version

#define IDC_UPLOAD 1000        // push button "UPLOAD"
#define IDC_AREA 1001          // flash area combo box, hidden
#define IDC_PORT 1002          // port combo box
#define IDC_LOAD 1003          // push button "Load Binary File"
#define IDC_FILE_INFO 1004     // file description box, drop target
#define IDC_FILE_PATH 1005     // file path box, drop target
#define IDC_AREA_TEXT 1006     // area box, hidden
#define IDC_LOG 1007           // the log
#define IDC_PROGRESS 1008      // download progress
#define IDC_DEVICE_STATE 1011  // "no device", boot or firmware version
#define IDC_CONNECT 1014       // "Connect" / "disconnect"
#define IDC_STATUS 1016        // status line
#define IDC_AUTO_MODE 1017     // "auto mode" / "cancel auto mode"
#define IDC_SERIAL 1034        // serial number
#define IDC_AUTO_PROGRESS 1039 // auto mode's marquee
