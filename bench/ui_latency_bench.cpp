// Event-loop latency of the updater window: the largest delay of a 10 ms timer
// on the GUI thread while the window connects to a reader in its application
// firmware, and while it runs a full update of 176128 bytes, against the
// simulated device with the product's own protocol timings, offscreen. The
// operator's clicks go through the buttons' signals, as a mouse click would.
// Figures only: nothing here passes or fails (the exit code says whether the
// update itself worked).

#include "bench/BenchRoot.h"
#include "bench/CTickWatch.h"
#include "bench/EventLoopWait.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"
#include "ui/CFwUpgraderApp.h"
#include "ui/CFwUpgraderVelmoraDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kImageSize = 176128;

template <class T> T* Child(QWidget* pDlg, int nId) {
    return pDlg->findChild<T*>(QString::number(nId));
}

// Clicks a button from inside the running event loop, as the operator would.
void ClickLater(QPushButton* pButton) {
    QTimer::singleShot(0, pButton, [pButton] { pButton->click(); });
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

        fwsim::SimDeviceConfig config;
        config.strRoot = strRoot;
        config.eStart = fwsim::Personality::Application;
        fwsim::CSimDevice device(config);
        if (!device.Start() || rig.WaitPortName(2000).empty()) {
            std::fprintf(stderr, "simulated device did not start\n");
            return 1;
        }

        auto pDlg = std::make_unique<fwup::CFwUpgraderVelmoraDlg>();
        pDlg->show();
        fwbench::RunUntil([&] { return pDlg->isVisible(); }, 2000);
        fwbench::CTickWatch watch;

        // Idle, for reference.
        watch.Reset();
        fwbench::RunUntil([] { return false; }, 1000);
        const double dIdleMs = watch.MaxLateMs();

        auto* pPort = Child<QComboBox>(pDlg.get(), 1002);
        auto* pConnect = Child<QPushButton>(pDlg.get(), 1014);
        auto* pState = Child<QLabel>(pDlg.get(), 1011);
        pPort->showPopup(); // refills the list
        pPort->hidePopup();
        if (pPort->count() == 0) {
            std::fprintf(stderr, "no port listed\n");
            return 1;
        }
        pPort->setCurrentIndex(0);
        emit pPort->activated(0);

        QElapsedTimer clock;
        watch.Reset();
        clock.start();
        ClickLater(pConnect);
        const bool bConnected = fwbench::RunUntil(
            [&] { return pConnect->text() == QStringLiteral("disconnect"); }, 30000);
        const double dConnectS = clock.elapsed() / 1000.0;
        const double dConnectMs = watch.MaxLateMs();
        const long nConnectTicks = watch.Ticks();
        std::printf("device state after Connect: %s\n", qPrintable(pState->text()));

        const QPoint ptDrop = Child<QWidget>(pDlg.get(), 1004)->geometry().center();
        if (!bConnected || !pDlg->OnDropFiles(ptDrop, {QString::fromStdString(strFile)})) {
            std::fprintf(stderr, "not connected, or the window did not take the file\n");
            return 1;
        }
        auto* pUpload = Child<QPushButton>(pDlg.get(), 1000);
        watch.Reset();
        clock.start();
        ClickLater(pUpload);
        fwbench::RunUntil([&] { return pDlg->Model().IsManualRunActive(); }, 5000);
        const bool bEnded =
            fwbench::RunUntil([&] { return !pDlg->Model().IsManualRunActive(); }, 120000);
        const double dUpdateS = clock.elapsed() / 1000.0;
        const double dUpdateMs = watch.MaxLateMs();
        const long nUpdateTicks = watch.Ticks();
        const bool bFlashed = device.FlashAt(fwsim::kCodeAddress, kImageSize) ==
                              std::vector<uint8_t>(image.begin(), image.end());

        std::printf("\nlargest delay of a %d ms timer on the GUI thread (target: 50 ms or less)\n",
                    fwbench::kTickMs);
        std::printf("%-42s %9s %9s %7s\n", "phase", "delay ms", "length s", "ticks");
        std::printf("%-42s %9.1f %9.1f %7s\n", "idle", dIdleMs, 1.0, "");
        std::printf("%-42s %9.1f %9.1f %7ld\n", "Connect, application firmware", dConnectMs,
                    dConnectS, nConnectTicks);
        std::printf("%-42s %9.1f %9.1f %7ld\n", "UPLOAD, full image (176128 bytes)", dUpdateMs,
                    dUpdateS, nUpdateTicks);
        std::printf("update %s, flash matches file: %s\n", bEnded ? "ended" : "STILL RUNNING",
                    bFlashed ? "yes" : "NO");
        nResult = bEnded && bFlashed ? 0 : 2;
        pDlg.reset();
    }
    return nResult;
}
