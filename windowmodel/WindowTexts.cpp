#include "windowmodel/WindowTexts.h"

namespace fwup {

namespace {

// The version the main window's caption carries.
constexpr const char* kWindowVersion = "1.1";

} // namespace

std::string MainWindowCaption() {
    return std::string(kTextProductName) + " v" + kWindowVersion;
}

const char* AccessibleName(Control eControl) {
    switch (eControl) {
    case Control::Area:
        return "Flash area";
    case Control::Port:
        return "Serial port";
    case Control::FileInfo:
        return "Firmware file description";
    case Control::FilePath:
        return "Firmware file path";
    case Control::AreaText:
        return "Flash area range";
    case Control::Log:
        return kTextLogName;
    case Control::Progress:
        return "Download progress";
    case Control::DeviceState:
        return "Device";
    case Control::Serial:
        return "Serial number";
    case Control::Status:
        return "Status";
    case Control::AutoProgress:
        return "Auto mode search progress";
    case Control::Upload:
    case Control::Load:
    case Control::Connect:
    case Control::AutoMode:
        break; // their captions name them
    }
    return nullptr;
}

std::string AboutVersionLine(const std::string& strVersion) {
    return "Version " + strVersion + ", (C) 2026";
}

const char* BenchFieldLabel(BenchField eField) {
    switch (eField) {
    case BenchField::ImageName:
        return "Image:";
    case BenchField::ImageSize:
        return "Size:";
    case BenchField::ImageDate:
        return "Date:";
    case BenchField::ImageHash:
        return "SHA-256:";
    case BenchField::Store:
        return "Records:";
    case BenchField::Station:
        return "Station:";
    case BenchField::Passed:
        return "Passed:";
    case BenchField::Failed:
        return "Failed:";
    case BenchField::Yield:
        return "First-pass yield:";
    case BenchField::UnitsPerHour:
        return "Units per hour:";
    case BenchField::Elapsed:
        return "Elapsed:";
    case BenchField::Status:
        return "Bench:";
    }
    return "";
}

std::string BenchFieldName(BenchField eField) {
    std::string strName = BenchFieldLabel(eField);
    if (!strName.empty() && strName.back() == ':') {
        strName.pop_back();
    }
    return strName;
}

const char* BenchColumnTitle(BenchColumn eColumn) {
    switch (eColumn) {
    case BenchColumn::Slot:
        return "Slot";
    case BenchColumn::Port:
        return "Port";
    case BenchColumn::Serial:
        return "Serial";
    case BenchColumn::Version:
        return "Version";
    case BenchColumn::Stage:
        return "Stage";
    case BenchColumn::Progress:
        return "Progress";
    case BenchColumn::Result:
        return "Result";
    case BenchColumn::Seconds:
        return "Seconds";
    case BenchColumn::Attempt:
        return "Attempt";
    }
    return "";
}

const char* BenchButtonText(BenchButton eButton) {
    switch (eButton) {
    case BenchButton::Load:
        return "Load Binary File";
    case BenchButton::Start:
        return "&Start";
    case BenchButton::Stop:
        return "S&top";
    case BenchButton::StopNow:
        return "Stop &now";
    }
    return "";
}

} // namespace fwup
