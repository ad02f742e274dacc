// bench_shots: the Qt bench window against simulated readers, photographed as
// an operator sees it. Not a test and never shipped: scripts/bench-shots.sh runs
// it under Xvfb at each screen size and someone looks at the pictures.
//
//   bench_shots --readers N --size WxH --out DIR
//
// Reader 1 is flaky (its first download fails at block 2, the retry passes);
// reader 2 fails every download and is re-seated after each failure until its
// slot asks for the fixture to be checked; reader 3 already runs the expected
// version and is left alone ("current"); the rest pass and are read back. PNGs: DIR/bench-N-WxH-
// {waiting,during,after}-{board,table}.png.

#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"
#include "ui/CBenchWindow.h"
#include "windowmodel/BenchTile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

bool WaitFor(const std::function<bool()>& pred, int nTimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > nTimeoutMs) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int nReaders = 6;
    int nWidth = 1366;
    int nHeight = 768;
    QString strOut = QStringLiteral(".");
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--readers")) {
            nReaders = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--size")) {
            nWidth = args[i + 1].section(QLatin1Char('x'), 0, 0).toInt();
            nHeight = args[i + 1].section(QLatin1Char('x'), 1, 1).toInt();
        } else if (args[i] == QLatin1String("--out")) {
            strOut = args[i + 1];
        }
    }
    if (nReaders < 2 || nReaders > 64 || nWidth < 640 || nHeight < 480) {
        std::fprintf(stderr, "usage: bench_shots --readers 2..64 --size WxH --out DIR\n");
        return 2;
    }
    QDir().mkpath(strOut);

    fwtest::CSimRig rig;
    std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
    for (int n = 1; n <= nReaders; ++n) {
        fwsim::SimDeviceConfig config =
            rig.DeviceConfig(fwsim::Personality::Application, "1-" + std::to_string(n));
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(n - 1);
        config.strSerial = "SN" + std::to_string(70001200 + n);
        config.faults.dwReplyDelayMs = 3; // a run long enough to be seen under way
        config.strFlashedVersion = "2.1.0.0";
        if (n == 3) {
            config.strVersion = "2.1.0.0"; // already current: left alone
        } else if (n == 1) {
            config.faults.nFailBlock = 2;
            config.faults.nFailTimes = 1;
        } else if (n == 2) {
            config.faults.nFailBlock = 3;
        }
        devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        if (!devices.back()->Start()) {
            std::fprintf(stderr, "bench_shots: simulated reader %d did not start\n", n);
            return 1;
        }
    }

    fwup::BenchOptions options;
    options.bBench = true;
    options.strFirmwarePath = rig.WriteFirmware("tarnic-2.1.0.0.bin", 60000, 5);
    options.strStation = "Line 4";
    options.nRetries = 1;
    options.strExpectVersion = "2.1.0.0";
    fwup::CBenchWindow window;
    window.Model().SetProtocolTimings(fwtest::TestTimings());
    std::string strError;
    if (!window.Init(options, strError)) {
        std::fprintf(stderr, "bench_shots: %s\n", strError.c_str());
        return 1;
    }
    window.Model().RestoreScale(100);
    window.setGeometry(0, 0, nWidth, nHeight);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        return 1;
    }
    const QString strPrefix =
        QStringLiteral("%1/bench-%2-%3x%4-").arg(strOut).arg(nReaders).arg(nWidth).arg(nHeight);
    const auto shoot = [&](const char* pszMoment) {
        for (const char* pszView : {"board", "table"}) {
            QTest::qWait(150); // a tick's repaint
            window.grab().save(strPrefix + pszMoment + "-" + pszView + ".png");
            window.Model().OnToggleBoard();
        }
    };
    const fwup::CBenchWindowModel& model = window.Model();
    if (!WaitFor([&] { return model.RowCount() == nReaders; }, 10000)) {
        std::fprintf(stderr, "bench_shots: not every reader was seen seated\n");
        return 1;
    }
    shoot("waiting");
    window.Model().OnStart();
    WaitFor(
        [&] {
            int nUnderWay = 0;
            for (int i = 0; i < model.RowCount(); ++i) {
                nUnderWay += model.Row(i).tile.nProgress >= 30 ? 1 : 0;
            }
            return nUnderWay >= nReaders / 2;
        },
        30000);
    shoot("during");
    // Reader 2 fails every unit: re-seated after each until its slot asks for the fixture.
    for (int nFailed = 1; nFailed <= fwup::kFailureStreak; ++nFailed) {
        if (!WaitFor([&] { return model.Failed() >= nFailed; }, 180000)) {
            std::fprintf(stderr, "bench_shots: the failing reader did not fail; the log:\n");
            for (const std::string& strLine : model.LogLines()) {
                std::fprintf(stderr, "  %s\n", strLine.c_str());
            }
            return 1;
        }
        if (nFailed < fwup::kFailureStreak) {
            // As an operator would: a moment to see it, then off for longer than
            // the loop's wait for a restarting reader, so it counts as removed.
            QTest::qWait(500);
            devices[1]->Unplug();
            QTest::qWait(2000);
            devices[1]->Replug();
        }
    }
    if (!WaitFor([&] { return model.Passed() + model.Failed() + model.Current() >= nReaders + 2; },
                 120000)) {
        std::fprintf(stderr, "bench_shots: the run did not end\n");
        return 1;
    }
    shoot("after");
    window.Model().OnStop();
    WaitFor([&] { return !model.IsRunning(); }, 30000);
    std::printf("bench_shots: %s*.png\n", qPrintable(strPrefix));
    window.Model().OnStopNow();
    window.hide();
    return 0;
}
