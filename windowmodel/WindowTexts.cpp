#include "windowmodel/WindowTexts.h"

#include <iterator>

namespace fwup {

namespace {

// The version the main window's caption carries.
constexpr const char* kWindowVersion = "1.1";

} // namespace

std::string MainWindowCaption() {
    return std::string(kTextProductName) + " v" + kWindowVersion;
}

const char* AccessibleName(Control eControl) {
    // The controls whose captions do not name them already.
    struct Name {
        Control eControl;
        const char* pszName;
    };
    static constexpr Name kNames[] = {
        {Control::Area, "Flash area"},
        {Control::Port, "Serial port"},
        {Control::FileInfo, "Firmware file description"},
        {Control::FilePath, "Firmware file path"},
        {Control::AreaText, "Flash area range"},
        {Control::Log, kTextLogName},
        {Control::Progress, "Download progress"},
        {Control::DeviceState, "Device"},
        {Control::Serial, "Serial number"},
        {Control::Status, "Status"},
        {Control::AutoProgress, "Auto mode search progress"},
    };
    for (const Name& name : kNames) {
        if (name.eControl == eControl) {
            return name.pszName;
        }
    }
    return nullptr;
}

std::string AboutVersionLine(const std::string& strVersion) {
    return "Version " + strVersion + ", (C) 2026";
}

const char* BenchFieldLabel(BenchField eField) {
    // In BenchField's order.
    static constexpr const char* kLabels[] = {
        "Image:",   "Size:",   "Date:",   "SHA-256:",          "Records:",
        "Station:", "Passed:", "Failed:", "First-pass yield:", "Units per hour:",
        "Elapsed:", "Bench:"};
    static_assert(std::size(kLabels) == static_cast<size_t>(BenchField::Status) + 1);
    return kLabels[static_cast<size_t>(eField)];
}

std::string BenchFieldName(BenchField eField) {
    std::string strName = BenchFieldLabel(eField);
    if (!strName.empty() && strName.back() == ':') {
        strName.pop_back();
    }
    return strName;
}

const char* BenchColumnTitle(BenchColumn eColumn) {
    // In BenchColumn's order.
    static constexpr const char* kTitles[kBenchColumnCount] = {
        "Slot", "Port", "Serial", "Version", "Stage", "Progress", "Result", "Seconds", "Attempt"};
    return kTitles[static_cast<size_t>(eColumn)];
}

const char* BenchButtonText(BenchButton eButton) {
    // In BenchButton's order.
    static constexpr const char* kTexts[] = {"Load Binary File", "&Start", "S&top", "Stop &now",
                                             "&Reset counters"};
    static_assert(std::size(kTexts) == static_cast<size_t>(BenchButton::ResetCounters) + 1);
    return kTexts[static_cast<size_t>(eButton)];
}

std::string SignatureLineText(const SignatureCheck& check) {
    if (check.eStatus != SignatureStatus::Verified) {
        return std::string();
    }
    std::string strLine = "signature : ";
    if (!check.strVersion.empty()) {
        strLine += "version " + check.strVersion + ", ";
    }
    return strLine + "key " + check.strKeyId;
}

std::string ImageLockedText(const std::string& strProfilePath) {
    return "The station profile " + strProfilePath +
           " is locked: the image is its own, \"Load Binary File\" and dropped files are off";
}

} // namespace fwup
