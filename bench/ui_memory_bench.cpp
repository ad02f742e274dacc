// Peak resident memory (VmHWM) of the updater window through one manual update
// of a full 176128-byte image, offscreen. The simulated device runs in this
// process too; its share is printed apart (its flash image is 256 KiB). Figures
// only: nothing here passes or fails.

#include "bench/BenchRoot.h"
#include "bench/EventLoopWait.h"
#include "serial/PortDiscovery.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"
#include "ui/CFwUpgraderApp.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "windowmodel/ControlIds.h"

#include <QLabel>
#include <QPushButton>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr size_t kImageSize = 176128;

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); -1 when missing.
long StatusKiB(const char* pszField) {
    std::ifstream file("/proc/self/status");
    const std::string strPrefix = std::string(pszField) + ":";
    for (std::string strLine; std::getline(file, strLine);) {
        if (strLine.rfind(strPrefix, 0) == 0) {
            return std::strtol(strLine.c_str() + strPrefix.size(), nullptr, 10);
        }
    }
    return -1;
}

long g_nPreviousHwm = 0;

void Report(const char* pszWhen) {
    const long nHwm = StatusKiB("VmHWM");
    std::printf("%-44s VmHWM %7ld KiB (%+6ld)  VmRSS %7ld KiB\n", pszWhen, nHwm,
                g_nPreviousHwm > 0 ? nHwm - g_nPreviousHwm : 0, StatusKiB("VmRSS"));
    g_nPreviousHwm = nHwm;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const fwtest::CSimRig rig; // the private root (FWUP_SYSROOT), removed on the way out
    const std::string& strRoot = rig.Root();
    const std::vector<char> image = fwbench::BenchImage(kImageSize);
    const std::string strFile = fwbench::WriteBenchImage(strRoot, image);

    Report("start of main");
    int nResult = 2;
    {
        fwup::CFwUpgraderApp app(argc, argv);
        // Any message box (a failed connection) is answered, so the bench never hangs.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (QWidget* pModal = QApplication::activeModalWidget()) {
                std::printf("message box: %s\n", qPrintable(pModal->windowTitle()));
                pModal->close();
            }
        });
        answer.start(50);
        Report("application object, before the window");

        auto pDlg = std::make_unique<fwup::CFwUpgraderVelmoraDlg>();
        pDlg->show();
        fwbench::RunUntil([&] { return pDlg->isVisible(); }, 2000);
        QEventLoop settle;
        QTimer::singleShot(200, &settle, &QEventLoop::quit);
        settle.exec();
        Report("window shown");

        fwsim::SimDeviceConfig config;
        config.strRoot = strRoot;
        config.eStart = fwsim::Personality::Application;
        fwsim::CSimDevice device(config);
        if (!device.Start()) {
            std::fprintf(stderr, "simulated device did not start\n");
            return 1;
        }
        Report("simulated device started (same process)");

        // The operator: choose the port, Connect, drop the file on the file box, UPLOAD.
        const auto id = [](int nId) { return QString::number(nId); };
        pDlg->Model().RefreshPortList();
        auto* pCombo = pDlg->findChild<QComboBox*>(id(IDC_PORT));
        if (pCombo->count() == 0) {
            std::fprintf(stderr, "no port listed\n");
            return 1;
        }
        pCombo->setCurrentIndex(0);
        pDlg->Model().OnPortSelChange(pCombo->currentText().toStdString());
        pDlg->Model().OnConnect();
        fwbench::RunUntil([&] { return !pDlg->Model().IsConnecting(); }, 30000);
        std::printf("device state after Connect: %s\n",
                    qPrintable(pDlg->findChild<QLabel*>(id(IDC_DEVICE_STATE))->text()));
        Report("connected");
        const QPoint ptDrop = pDlg->findChild<QWidget*>(id(IDC_FILE_INFO))->geometry().center();
        if (!pDlg->OnDropFiles(ptDrop, {QString::fromStdString(strFile)})) {
            std::fprintf(stderr, "the window did not take the file\n");
            return 1;
        }
        Report("image loaded");

        QElapsedTimer clock;
        clock.start();
        pDlg->Model().OnUpload();
        const bool bEnded =
            fwbench::RunUntil([&] { return !pDlg->Model().IsManualRunActive(); }, 120000);
        const double dSeconds = clock.elapsed() / 1000.0;
        Report("after the update");
        const bool bFlashed = device.FlashAt(fwsim::kCodeAddress, kImageSize) ==
                              std::vector<uint8_t>(image.begin(), image.end());
        std::printf("update: %s in %.1f s, job state %d, flash matches file: %s\n",
                    bEnded ? "ended" : "STILL RUNNING", dSeconds, pDlg->Model().JobState(),
                    bFlashed ? "yes" : "NO");
        std::printf("simulator's share: flash image %u KiB, plus its thread's stack and "
                    "buffers; included in every figure from 'simulated device started' on\n",
                    fwsim::kFlashSize / 1024);
        nResult = bEnded && pDlg->Model().JobState() == 0 && bFlashed ? 0 : 2;
        pDlg.reset();
    }
    return nResult;
}
