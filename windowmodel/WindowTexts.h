#pragma once
// The texts both windows show that are not a model's message: captions, labels,
// menu entries, cue banners, button captions, column titles, names for screen
// readers and the file dialog's filters. The Qt and Win32 views take them from
// here, so the two windows cannot drift apart; a view holds layout and drawing only.
// All texts are UTF-8; '&' marks a mnemonic where a view shows one.

#include "device/ImageSignature.h"
#include "windowmodel/IBenchView.h"
#include "windowmodel/IWindowView.h"

#include <string>

namespace fwup {

// The product's name: the main window's caption, the About box.
inline constexpr const char* kTextProductName = "VelgoFWUp";
// The program's name: the caption of every message box, the application's name.
inline constexpr const char* kTextProgramName = "fwupgraderVelmora";
// The main window's caption: the product's name, " v" and the window's version.
std::string MainWindowCaption();

// --- The main window ---------------------------------------------------------------
inline constexpr const char* kTextSerialLabel = "SN"; // the label before the serial number
inline constexpr const char* kTextPortCue = "select comport";
inline constexpr const char* kTextAreaCue = "select area";
// The window menu's entries (Win32 system menu, Qt context menu), after a separator.
inline constexpr const char* kTextBenchEntry = "Bench...";
inline constexpr const char* kTextAboutEntry = "About VelgoFWUp(&A)...";
// The Win32 window's answer to "Bench..." while it holds a reader.
inline constexpr const char* kTextBenchRefused =
    "Disconnect and switch auto mode off before opening the bench.";
// The log's line when the bench's process could not be started.
inline constexpr const char* kTextBenchNotStarted = "The bench window could not be started\n";
// The name a screen reader gives a control without a visible text; null for the others.
const char* AccessibleName(Control eControl);

// --- Under a station profile (both windows) --------------------------------------------
// The line added below a verified image's file lines: "signature : version V, key
// KEYID" (without the version when its signature names none); empty when the image's
// signature was not verified.
std::string SignatureLineText(const SignatureCheck& check);
// The log's line under a locked profile: why "Load Binary File" stays off.
std::string ImageLockedText(const std::string& strProfilePath);

// --- The About box -------------------------------------------------------------------
inline constexpr const char* kTextAboutName = "VelgoFWUp, version 1.0"; // its first line
// Its second line, with the build's version: "Version 2.0.0.1, (C) 2026".
std::string AboutVersionLine(const std::string& strVersion);
inline constexpr const char* kTextOk = "OK";

// --- The firmware file's open dialog, the filter chosen first --------------------------
struct FileFilter {
    const char* pszLabel;
    const char* pszPattern;
};
inline constexpr FileFilter kFirmwareFilters[] = {{"Binary (*.bin)", "*.bin"},
                                                  {"All (*.*)", "*.*"}};

// --- The bench window -------------------------------------------------------------------
// The label before a field ("Passed:"); every view shows the labels it has room for.
const char* BenchFieldLabel(BenchField eField);
// The label's text without its colon: the field's name for screen readers.
std::string BenchFieldName(BenchField eField);
const char* BenchColumnTitle(BenchColumn eColumn);
const char* BenchButtonText(BenchButton eButton);
inline constexpr const char* kTextBenchTableName = "Slots"; // the table, for screen readers
inline constexpr const char* kTextLogName = "Log";          // either window's log
inline constexpr const char* kTextBoardName = "Board";      // the slots' tiles, for screen readers
// The bench's menu (Win32 system menu, Qt context menu); after '\t' the key.
inline constexpr const char* kTextBoardOrTable = "Board or table\tF2";
inline constexpr const char* kTextLarger = "Larger\tCtrl++";
inline constexpr const char* kTextSmaller = "Smaller\tCtrl+-";
inline constexpr const char* kTextNormalSize = "Normal size\tCtrl+0";
inline constexpr const char* kTextSoundOnFailure = "Sound on failure";

} // namespace fwup
