// The updater window against the simulated device, offscreen (or under Xvfb).

#include "CModalAnswerer.h"

#include "serial/PortDiscovery.h"
#include "sim/CSimDevice.h"
#include "tests/support/CTempRoot.h"
#include "ui/CAboutDlg.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"
#include "ui/LogText.h"

#include "ProductVersion.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QUrl>

#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/file.h>
#include <unistd.h>
#include <utime.h>

using namespace fwup;

namespace {

constexpr int kRunTimeoutMs = 90000; // one update job: fixed protocol waits of ~10 s

QByteArray Pattern(int nSize, int nSeed) {
    QByteArray data(nSize, '\0');
    for (int i = 0; i < nSize; ++i) {
        data[i] = static_cast<char>((i * 131 + nSeed * 7 + (i >> 8)) & 0xFF);
    }
    return data;
}

} // namespace

class UiTests : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<fwtest::CTempRoot> m_pRoot;
    std::unique_ptr<QTemporaryDir> m_pFiles;
    std::unique_ptr<fwtest::CModalAnswerer> m_pAnswerer;
    std::vector<std::unique_ptr<fwsim::CSimDevice>> m_devices;
    CFwUpgraderVelmoraDlg* m_pDlg = nullptr;

    template <class T> T* Ctl(int nId) { return qobject_cast<T*>(m_pDlg->Control(nId)); }
    QString Text(int nId) { return m_pDlg->ControlText(nId); }
    bool Enabled(int nId) { return m_pDlg->Control(nId)->isEnabled(); }

    fwsim::CSimDevice& AddDevice(const std::string& strUsbPath, fwsim::Personality eStart,
                                 const fwsim::SimFaults& faults = {}) {
        fwsim::SimDeviceConfig config;
        config.strRoot = m_pRoot->Path();
        config.strUsbPath = strUsbPath;
        config.eStart = eStart;
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(m_devices.size());
        config.strSerial = "SN-" + strUsbPath;
        config.dwBootStatus = 0x1A2B3C4D;
        config.faults = faults;
        m_devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        if (!m_devices.back()->Start()) {
            qFatal("simulated device did not start");
        }
        return *m_devices.back();
    }

    QString PortNameOf(const fwsim::CSimDevice& device) {
        const auto node = std::filesystem::path(device.DevicePath()).lexically_normal();
        for (const PortRecord& entry : ScanPorts()) {
            if (std::filesystem::path(entry.strDeviceNode).lexically_normal() == node) {
                return QString::fromStdString(entry.strName);
            }
        }
        return QString();
    }

    // The operator opens the list (which refills it) and picks strName.
    bool ChoosePort(const QString& strName) {
        auto* pCombo = Ctl<QComboBox>(IDC_PORT);
        pCombo->showPopup();
        pCombo->hidePopup();
        const int nIndex = pCombo->findText(strName);
        if (nIndex < 0) {
            return false;
        }
        pCombo->setCurrentIndex(nIndex);
        emit pCombo->activated(nIndex);
        return true;
    }

    QString WriteFile(const QString& strName, const QByteArray& data) {
        const QString strPath = m_pFiles->filePath(strName);
        QFile file(strPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
            qFatal("cannot write test file");
        }
        return strPath;
    }

    void LoadByDialog(const QString& strPath) {
        m_pAnswerer->strFileToChoose = strPath;
        QTest::mouseClick(Ctl<QPushButton>(IDC_LOAD), Qt::LeftButton);
        m_pAnswerer->strFileToChoose.clear();
    }

    void Drop(int nTargetId, const QStringList& paths) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& strPath : paths) {
            urls << QUrl::fromLocalFile(strPath);
        }
        mime.setUrls(urls);
        const QPointF pt = m_pDlg->Control(nTargetId)->geometry().center();
        // As a drag arrives: enter, move over the target, drop.
        QDragEnterEvent enter(pt.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_pDlg, &enter);
        QDragMoveEvent move(pt.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_pDlg, &move);
        QDropEvent event(pt, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_pDlg, &event);
    }

    void SaveShot(const QString& strName) {
        const QString strPath = QStringLiteral(FWUP_UI_SHOT_DIR "/%1-%2.png")
                                    .arg(strName, QGuiApplication::platformName());
        QVERIFY(m_pDlg->grab().save(strPath));
    }

    void VerifyDisconnectedAfterRun() {
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(!Enabled(IDC_UPLOAD));
        QVERIFY(!Enabled(IDC_LOAD));
        QVERIFY(!Enabled(IDC_CONNECT));
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(!m_pDlg->IsConnected());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(g_nBusyCount.load(), 0);
    }

private slots:
    void init() {
        m_pRoot = std::make_unique<fwtest::CTempRoot>(); // FWUP_SYSROOT before the window
        m_pFiles = std::make_unique<QTemporaryDir>();
        m_pAnswerer = std::make_unique<fwtest::CModalAnswerer>();
        m_pDlg = new CFwUpgraderVelmoraDlg;
        m_pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pDlg));
    }

    void cleanup() {
        // A failed check may leave a worker busy; it must end before the window goes.
        QTRY_VERIFY_WITH_TIMEOUT(!m_pDlg->IsManualRunActive(), kRunTimeoutMs);
        if (!m_pDlg->IsAutoStopped()) {
            m_pAnswerer->pfnBeforeClose = [this](const fwtest::SeenDialog&) {
                for (auto& pDevice : m_devices) {
                    pDevice->Unplug();
                }
            };
            m_pDlg->close();
            QTRY_VERIFY_WITH_TIMEOUT(m_pDlg->IsAutoStopped(), kRunTimeoutMs);
        }
        delete m_pDlg;
        m_pDlg = nullptr;
        m_devices.clear();
        m_pAnswerer.reset();
        m_pFiles.reset();
        m_pRoot.reset();
    }

    // --- Pure rules ----------------------------------------------------------

    void testNormalizeLineBreaks_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("bare LF between words") << "a\nb"
                                               << "a\r\nb";
        QTest::newRow("CR LF unchanged") << "a\r\nb"
                                         << "a\r\nb";
        QTest::newRow("single LF") << "\n"
                                   << "\r\n";
        QTest::newRow("leading LF") << "\nx"
                                    << "\r\nx";
        QTest::newRow("lone CR stays") << "a\rb"
                                       << "a\rb";
        QTest::newRow("CR CR LF") << "\r\r\n"
                                  << "\r\r\n";
        QTest::newRow("LF LF") << "a\n\n"
                               << "a\r\n\r\n";
    }
    void testNormalizeLineBreaks() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(NormalizeLineBreaks(in), out);
    }

    void testCharsToDrop_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("add");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("drop");
        // Lines "aaa\r\n" are 5 characters each.
        const QString three = QStringLiteral("aaa\r\nbbb\r\nccc\r\n");
        QTest::newRow("fits exactly") << three << 5 << 20 << 0;
        QTest::newRow("one over: first line") << three << 6 << 20 << 5;
        QTest::newRow("k on first line's LF") << three << 10 << 20 << 5;
        QTest::newRow("k on second line's first char") << three << 11 << 20 << 10;
        QTest::newRow("last line without break") << QStringLiteral("aaa\r\nbbb") << 5 << 10 << 5;
        QTest::newRow("k in unfinished last line") << QStringLiteral("aaa\r\nbbb") << 9 << 10 << 8;
        QTest::newRow("text alone too long") << three << 25 << 20 << 15;
        QTest::newRow("empty box") << QString() << 30 << 20 << 0;
    }
    void testCharsToDrop() {
        QFETCH(QString, box);
        QFETCH(int, add);
        QFETCH(int, cap);
        QFETCH(int, drop);
        QCOMPARE(CharsToDrop(box, add, cap), qsizetype(drop));
    }

    void testKeepNewest() {
        QCOMPARE(KeepNewest(QStringLiteral("abc"), 5), QStringLiteral("abc"));
        // Cut inside "line1": the kept part starts at the next whole line.
        QCOMPARE(KeepNewest(QStringLiteral("line1\r\nline2\r\nend"), 12),
                 QStringLiteral("line2\r\nend"));
        // Cut right after a line break: nothing more is lost.
        QCOMPARE(KeepNewest(QStringLiteral("ab\r\ncd"), 2), QStringLiteral("cd"));
        // One line longer than everything: its newest characters.
        QCOMPARE(KeepNewest(QStringLiteral("0123456789"), 4), QStringLiteral("6789"));
    }

    void testDialogUnits() {
        QCOMPARE(MulDivRound(7, 6, 4), 11);    // 10.5 rounds up
        QCOMPARE(MulDivRound(302, 7, 4), 529); // 528.5
        QCOMPARE(MulDivRound(5, 15, 8), 9);    // 9.375
        QCOMPARE(DluToPixels(QRect(4, 8, 8, 16), DialogBaseUnits{6, 13}), QRect(6, 13, 12, 26));
    }

    void testDescriptionMatches_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("match");
        QTest::newRow("listed converter") << "AT91 USB to Serial Converter (COM3)" << true;
        QTest::newRow("two blanks") << "AT91 USB to Serial Converter  (COM12)" << true;
        QTest::newRow("other device") << "USB Serial Device (COM4)" << false;
        QTest::newRow("case differs") << "at91 USB to Serial Converter (COM3)" << false;
        QTest::newRow("longer description") << "AT91 USB to Serial Converter 2 (COM5)" << false;
        QTest::newRow("no number") << "AT91 USB to Serial Converter" << false;
    }
    void testDescriptionMatches() {
        QFETCH(QString, name);
        QFETCH(bool, match);
        QCOMPARE(DescriptionMatches(name.toStdString(), kConverterDescription), match);
    }

    // --- Window --------------------------------------------------------------

    void testLayout() {
        QCOMPARE(m_pDlg->windowTitle(), QStringLiteral("VelgoFWUp v1.1"));
        QVERIFY(!m_pDlg->windowIcon().isNull());
        const DialogBaseUnits units = BaseUnitsOf(m_pDlg->font());
        QCOMPARE(m_pDlg->size(), DluToPixels(QRect(0, 0, 316, 188), units).size());

        struct Row {
            int nId;
            const char* pszClass;
            const char* pszText;
            QRect rcDlu;
            bool bVisible;
            bool bEnabled;
        };
        // Template 102 after start-up, then the auto mode's controls.
        const Row rows[] = {
            {1000, "QPushButton", "UPLOAD", {231, 18, 78, 23}, true, false},
            {1001, "QComboBox", "CODE", {232, 59, 77, 54}, false, false},
            {1002, "fwup::CPortComboBox", "", {7, 7, 174, 30}, true, true},
            {1003, "QPushButton", "Load Binary File", {7, 34, 77, 14}, true, true},
            {1004, "QPlainTextEdit", "", {7, 52, 208, 32}, true, false},
            {1005, "QLineEdit", "", {7, 85, 302, 14}, true, false},
            {1006, "QLineEdit", "0x008000(176128)", {232, 71, 77, 13}, false, false},
            {1007, "QPlainTextEdit", "", {7, 114, 302, 67}, true, false},
            {1008, "QProgressBar", "", {232, 44, 77, 7}, true, false},
            {1011, "QLabel", "no device", {231, 7, 78, 9}, true, true},
            {1014, "QPushButton", "Connect", {185, 7, 43, 12}, true, false},
            {1034, "QLabel", "", {25, 21, 60, 10}, true, true},
            {1016, "QLineEdit", "", {7, 100, 302, 14}, true, false},
            {1017, "QPushButton", "auto mode", {232, 55, 77, 14}, true, true},
            {1039, "QProgressBar", "", {232, 72, 77, 7}, true, true},
        };
        for (const Row& row : rows) {
            QWidget* p = m_pDlg->Control(row.nId);
            QVERIFY2(p != nullptr, qPrintable(QString::number(row.nId)));
            QCOMPARE(p->objectName(), QString::number(row.nId));
            QCOMPARE(QString::fromUtf8(p->metaObject()->className()),
                     QString::fromUtf8(row.pszClass));
            if (row.nId != IDC_AREA) {
                QCOMPARE(Text(row.nId), QString::fromUtf8(row.pszText));
            }
            const QRect rcPx = DluToPixels(row.rcDlu, units);
            if (qobject_cast<QComboBox*>(p) != nullptr) {
                // Closed combo boxes are one line high; x, y and width as the template.
                QCOMPARE(p->geometry().topLeft(), rcPx.topLeft());
                QCOMPARE(p->width(), rcPx.width());
            } else {
                QCOMPARE(p->geometry(), rcPx);
            }
            QCOMPARE(!p->isHidden(), row.bVisible);
            QCOMPARE(p->isEnabled(), row.bEnabled);
        }
        auto* pSn = m_pDlg->findChild<QLabel*>(QStringLiteral("sn_label"));
        QVERIFY(pSn != nullptr);
        QCOMPARE(pSn->text(), QStringLiteral("SN"));
        QCOMPARE(pSn->geometry(), DluToPixels(QRect(7, 22, 10, 8), units));
        QCOMPARE(Ctl<QComboBox>(IDC_AREA)->currentText(), QStringLiteral("CODE"));
        QCOMPARE(m_pDlg->AreaStart(), 0x8000u);
        QCOMPARE(m_pDlg->AreaSize(), 176128u);
        QCOMPARE(Ctl<QComboBox>(IDC_PORT)->placeholderText(), QStringLiteral("select comport"));
        QCOMPARE(Ctl<QComboBox>(IDC_PORT)->count(), 0); // no ports below the empty root
        QCOMPARE(Ctl<QProgressBar>(IDC_PROGRESS)->value(), 0);
        QVERIFY(m_pDlg->IsAutoStopped());
        QVERIFY(!m_pDlg->IsAutoMode());
        SaveShot(QStringLiteral("window-start"));

        // The About entry sits after a separator in the window's menu (right click).
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_pDlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_pDlg, &event);
        QMenu* pMenu = m_pDlg->SystemMenu();
        QTRY_VERIFY(pMenu->isVisible());
        const QList<QAction*> actions = pMenu->actions();
        QCOMPARE(actions.size(), 2);
        QVERIFY(actions[0]->isSeparator());
        QCOMPARE(actions[1]->text(), QStringLiteral("About VelgoFWUp(&A)..."));
        pMenu->hide();
        actions[1]->trigger(); // shows the About box modally; the answerer closes it
        QCOMPARE(m_pAnswerer->Seen().size(), 1);
        QCOMPARE(m_pAnswerer->Seen()[0].strKind, QStringLiteral("dialog"));
        QCOMPARE(m_pAnswerer->Seen()[0].strTitle, QStringLiteral("VelgoFWUp"));
        QVERIFY(m_pDlg->isVisible());
        QCOMPARE(m_pDlg->windowTitle(), QStringLiteral("VelgoFWUp v1.1"));
    }

    void testAboutBoxShowsTheBuildsVersion() {
        fwup::CAboutDlg about;
        QStringList texts;
        for (const QLabel* pLabel : about.findChildren<QLabel*>()) {
            texts << pLabel->text();
        }
        QVERIFY2(texts.contains(QStringLiteral("VelgoFWUp, version 1.0")),
                 qPrintable(texts.join('|')));
        QVERIFY2(texts.contains(QStringLiteral("Version %1, (C) 2026")
                                    .arg(QString::fromUtf8(fwup::kProductVersion))),
                 qPrintable(texts.join('|')));
    }

    void testEnterEndsWindowOutsideButtons() {
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        Ctl<QPushButton>(IDC_AUTO_MODE)->setFocus();
        QTest::keyClick(m_pDlg, Qt::Key_Return); // clicks the focused button
        QCOMPARE(Text(IDC_AUTO_MODE), QStringLiteral("cancel auto mode"));
        QCOMPARE(finished.count(), 0);
        QTRY_VERIFY(m_pDlg->Control(IDC_AUTO_MODE)->isEnabled());
        QTest::mouseClick(Ctl<QPushButton>(IDC_AUTO_MODE), Qt::LeftButton);
        QTRY_VERIFY(m_pDlg->IsAutoStopped());
        m_pDlg->Control(IDC_LOG)->setFocus();
        m_pDlg->setFocus();
        QTest::keyClick(m_pDlg, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
    }

    void testEscClosesWhenIdle() {
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!m_pDlg->isVisible());
    }

    void testLogLinesAndTrimming() {
        m_pDlg->AddLog("connected.\n");
        QCOMPARE(m_pDlg->BoxText(IDC_LOG), QStringLiteral("connected.\r\n"));
        m_pDlg->AddLog("piece one ");
        m_pDlg->AddLog("and %s %i\n", "piece", 2);
        m_pDlg->AppendText(IDC_LOG, QStringLiteral("x\ny"));
        QCOMPARE(m_pDlg->BoxText(IDC_LOG),
                 QStringLiteral("connected.\r\npiece one and piece 2\r\nx\r\ny"));
        auto* pLog = Ctl<QPlainTextEdit>(IDC_LOG);
        QCOMPARE(pLog->toPlainText(), QStringLiteral("connected.\npiece one and piece 2\nx\ny"));

        // Fill past the capacity: whole lines go from the top, the newest stays.
        m_pDlg->AppendText(IDC_LOG, QStringLiteral("\n"));
        for (int i = 0; i < 2500; ++i) {
            m_pDlg->AddLog("log line number %05d\n", i); // 22 characters with CR LF
        }
        const QString strBox = m_pDlg->BoxText(IDC_LOG);
        QVERIFY(strBox.size() <= kTextBoxCapacity);
        QVERIFY(strBox.size() > kTextBoxCapacity - 22);
        QVERIFY(strBox.startsWith(QStringLiteral("log line number ")));
        QVERIFY(strBox.endsWith(QStringLiteral("log line number 02499\r\n")));
        QCOMPARE(pLog->toPlainText(), DisplayText(strBox));
        // The newest line is in view (at the bottom, above the caret's empty line).
        const QTextBlock last = pLog->document()->lastBlock().previous();
        QCOMPARE(last.text(), QStringLiteral("log line number 02499"));
        QVERIFY(pLog->viewport()->rect().contains(pLog->cursorRect(QTextCursor(last))));
        QVERIFY(pLog->verticalScrollBar()->value() > 0);

        m_pDlg->SetStatusText("first");
        m_pDlg->SetStatusText("second %s", "text");
        QCOMPARE(Text(IDC_STATUS), QStringLiteral("second text"));
    }

    void testLoadFiles() {
        const QString strFull = WriteFile(QStringLiteral("fw.bin"), Pattern(176128, 1));
        const QString strBig = WriteFile(QStringLiteral("big.bin"), Pattern(176129, 2));
        // 2 May 2014 09:07:03 UTC.
        struct utimbuf times {
            1399021623, 1399021623
        };
        QCOMPARE(::utime(QFile::encodeName(strFull).constData(), &times), 0);

        LoadByDialog(strFull);
        QCOMPARE(m_pAnswerer->Seen().size(), 1);
        QCOMPARE(m_pAnswerer->Seen()[0].strKind, QStringLiteral("file"));
        QCOMPARE(m_pAnswerer->Seen()[0].strText, QStringLiteral("Binary (*.bin);;All (*.*)"));
        QVERIFY(m_pDlg->HasImage());
        QCOMPARE(Text(IDC_FILE_PATH), strFull);
        QCOMPARE(m_pDlg->BoxText(IDC_FILE_INFO),
                 QStringLiteral("file name : fw.bin\r\nfile size : 176128\r\n"
                                "file date : 2014.05.02 09:07:03\r\n"));
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strFull);
        QVERIFY(!Enabled(IDC_UPLOAD)); // not connected

        m_pAnswerer->Clear();
        LoadByDialog(strBig);
        QCOMPARE(m_pAnswerer->Messages(), 1);
        QCOMPARE(m_pAnswerer->Count(QStringLiteral("Incompatible File")), 1);
        QCOMPARE(m_pAnswerer->Seen()[1].eIcon, QMessageBox::Information);
        QCOMPARE(m_pAnswerer->Seen()[1].strTitle, QStringLiteral("fwupgraderVelmora"));
        QVERIFY(m_pDlg->BoxText(IDC_FILE_INFO).contains(QStringLiteral("file size : 176129")));
        QVERIFY(m_pDlg->HasImage()); // the earlier segment stays
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strBig);

        // A drop on the log or a button does nothing; on 1005 it loads the first file.
        m_pAnswerer->Clear();
        Drop(IDC_LOG, {strFull});
        Drop(IDC_UPLOAD, {strFull});
        QCOMPARE(Text(IDC_FILE_PATH), strBig);
        Drop(IDC_FILE_PATH, {strFull, strBig});
        QCOMPARE(Text(IDC_FILE_PATH), strFull);
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strFull);
        QCOMPARE(m_pAnswerer->Messages(), 0);

        // A path that is gone: the path shows, the description stays, one message.
        const QString strGone = m_pFiles->filePath(QStringLiteral("gone.bin"));
        const QString strInfoBefore = m_pDlg->BoxText(IDC_FILE_INFO);
        Drop(IDC_FILE_INFO, {strGone});
        QCOMPARE(Text(IDC_FILE_PATH), strGone);
        QCOMPARE(m_pDlg->BoxText(IDC_FILE_INFO), strInfoBefore);
        QCOMPARE(m_pAnswerer->Count(QStringLiteral("Firmware File Not Found")), 1);
        QCOMPARE(m_pAnswerer->Messages(), 1);

        // A file another program holds locked: "Wrong Block Size" (no icon), then not found.
        m_pAnswerer->Clear();
        const QString strHeld = WriteFile(QStringLiteral("held.bin"), Pattern(1000, 3));
        const int fd = ::open(QFile::encodeName(strHeld).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        Drop(IDC_FILE_INFO, {strHeld});
        ::close(fd);
        QCOMPARE(m_pAnswerer->Messages(), 2);
        QCOMPARE(m_pAnswerer->Seen()[0].strText, QStringLiteral("Wrong Block Size"));
        QCOMPARE(m_pAnswerer->Seen()[0].eIcon, QMessageBox::NoIcon);
        QCOMPARE(m_pAnswerer->Seen()[1].strText, QStringLiteral("Firmware File Not Found"));

        // Cancelling the dialog changes nothing.
        m_pAnswerer->Clear();
        LoadByDialog(QString());
        QCOMPARE(Text(IDC_FILE_PATH), strHeld);
        QCOMPARE(m_pAnswerer->Messages(), 0);
    }

    // --- Connection panel ------------------------------------------------------

    void testConnectApplication() {
        fwsim::CSimDevice& device = AddDevice("1-1", fwsim::Personality::Application);
        const QString strName = PortNameOf(device);
        QVERIFY(!strName.isEmpty());
        QVERIFY(!Enabled(IDC_CONNECT));
        QVERIFY(ChoosePort(strName));
        QVERIFY(Enabled(IDC_CONNECT));
        QVERIFY(Ctl<QComboBox>(IDC_PORT)->toolTip().contains(
            QString::fromStdString(device.DevicePath()).section('/', -1)));

        QTest::mouseClick(Ctl<QPushButton>(IDC_CONNECT), Qt::LeftButton);
        QCOMPARE(m_pAnswerer->Messages(), 0);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("2.0.0.1"));
        QCOMPARE(Text(IDC_SERIAL), QStringLiteral("SN-1-1"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QCOMPARE(m_pDlg->BoxText(IDC_LOG), QStringLiteral("connected.\r\n"));
        QVERIFY(!Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_LOAD));
        QVERIFY(!Enabled(IDC_UPLOAD)); // no file yet
        QCOMPARE(m_pDlg->BootInfo(), -1);

        QTest::mouseClick(Ctl<QPushButton>(IDC_CONNECT), Qt::LeftButton);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_SERIAL), QStringLiteral("SN-1-1")); // the last serial stays
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(!Enabled(IDC_LOAD));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void testScreenshotConnected() {
        // Boot loader device; a file loaded before connecting enables UPLOAD.
        fwsim::CSimDevice& device = AddDevice("1-1", fwsim::Personality::BootLoader);
        const QString strFile = WriteFile(QStringLiteral("reader.rel.bin"), Pattern(4096, 4));
        LoadByDialog(strFile);
        QVERIFY(ChoosePort(PortNameOf(device)));
        QTest::mouseClick(Ctl<QPushButton>(IDC_CONNECT), Qt::LeftButton);
        QCOMPARE(m_pAnswerer->Messages(), 0);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("boot v10.11.12.13"));
        QCOMPARE(m_pDlg->BootInfo(), 0x1A2B3C4D);
        QCOMPARE(Text(IDC_SERIAL), QString()); // untouched by a boot loader
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QVERIFY(Enabled(IDC_UPLOAD));
        QVERIFY(!Enabled(IDC_LOAD));
        QVERIFY(m_pDlg->BoxText(IDC_FILE_INFO).startsWith("file name : reader.rel.bin\r\n"));
        // The first of the three lines stays in view.
        auto* pInfo = Ctl<QPlainTextEdit>(IDC_FILE_INFO);
        QCOMPARE(pInfo->cursorForPosition(QPoint(2, 2)).block().text(),
                 QStringLiteral("file name : reader.rel.bin"));
        SaveShot(QStringLiteral("window-connected"));

        // A file too large for CODE dropped while connected: refused, the loaded
        // image stays and UPLOAD stays on, but the request now names the new file,
        // so a run would report it as invalid rather than send the old one.
        const QString strBig = WriteFile(QStringLiteral("big.bin"), Pattern(176129, 8));
        Drop(IDC_FILE_PATH, {strBig});
        QCOMPARE(m_pAnswerer->Count(QStringLiteral("Incompatible File")), 1);
        QVERIFY(m_pDlg->HasImage());
        QVERIFY(Enabled(IDC_UPLOAD));
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strBig);
    }

    void testConnectSilentDevice() {
        fwsim::SimFaults faults;
        faults.bNoVersionReply = true;
        fwsim::CSimDevice& device = AddDevice("1-1", fwsim::Personality::Application, faults);
        QVERIFY(ChoosePort(PortNameOf(device)));
        QTest::mouseClick(Ctl<QPushButton>(IDC_CONNECT), Qt::LeftButton);
        QCOMPARE(m_pAnswerer->Messages(), 1);
        QCOMPARE(m_pAnswerer->Seen()[0].strText,
                 QStringLiteral("The comport is wrong or the device is off. \n"));
        QCOMPARE(m_pAnswerer->Seen()[0].eIcon, QMessageBox::Information);
        QCOMPARE(m_pAnswerer->Seen()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(Enabled(IDC_PORT));
        QCOMPARE(m_pDlg->BoxText(IDC_LOG), QString());
        QVERIFY(!m_pDlg->IsConnected());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void testVanishedPort() {
        fwsim::CSimDevice& device = AddDevice("1-1", fwsim::Personality::Application);
        const QString strOther = PortNameOf(AddDevice("1-2", fwsim::Personality::Application));
        QVERIFY(ChoosePort(PortNameOf(device)));
        device.Unplug();
        QTest::mouseClick(Ctl<QPushButton>(IDC_CONNECT), Qt::LeftButton);
        auto* pCombo = Ctl<QComboBox>(IDC_PORT);
        QCOMPARE(m_pAnswerer->Messages(), 0);
        QCOMPARE(pCombo->count(), 1); // refreshed: the chosen port is gone
        QCOMPARE(pCombo->itemText(0), strOther);
        QCOMPARE(pCombo->currentIndex(), -1);
        QTRY_VERIFY(pCombo->view()->isVisible()); // and opened for a new choice
        pCombo->hidePopup();
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QVERIFY(!m_pDlg->IsConnected());
    }

    // --- Manual run ------------------------------------------------------------

    void testManualRunSuccess() {
        fwsim::CSimDevice& device = AddDevice("1-1", fwsim::Personality::BootLoader);
        const QByteArray image = Pattern(176128, 5);
        const QString strFile = WriteFile(QStringLiteral("fw.bin"), image);
        QVERIFY(ChoosePort(PortNameOf(device)));
        QTest::mouseClick(Ctl<QPushButton>(IDC_CONNECT), Qt::LeftButton);
        LoadByDialog(strFile);
        QVERIFY(Enabled(IDC_UPLOAD));

        QTest::mouseClick(Ctl<QPushButton>(IDC_UPLOAD), Qt::LeftButton);
        QVERIFY(!Enabled(IDC_UPLOAD)); // before the worker could have done it
        // The wait cursor shows while the run is busy (a job takes seconds here).
        QTRY_VERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(m_pDlg->IsManualRunActive());
        QTRY_VERIFY_WITH_TIMEOUT(!m_pDlg->IsManualRunActive(), kRunTimeoutMs);

        const QString strLog = m_pDlg->BoxText(IDC_LOG);
        QVERIFY2(strLog.contains(QStringLiteral("updating device[unknown] ...\r\n")),
                 qPrintable(strLog));
        QVERIFY2(strLog.endsWith(QStringLiteral(
                     "FW Update Successful!\r\nPlease disconnect the USB cable and turn your "
                     "Tarnic's power off & on before use.\r\n")),
                 qPrintable(strLog));
        QCOMPARE(Ctl<QProgressBar>(IDC_PROGRESS)->value(), 100);
        QCOMPARE(m_pDlg->JobState(), 0);
        const QString strInfo = m_pDlg->BoxText(IDC_FILE_INFO);
        QVERIFY2(strInfo.startsWith(QStringLiteral("file name : fw.bin\r\nfile size : 176128\r\n"
                                                   "file date : ")),
                 qPrintable(strInfo));
        QCOMPARE(strInfo.count(QStringLiteral("\r\n")), 2); // the date line has no line end
        VerifyDisconnectedAfterRun();
        QCOMPARE(device.DownloadsFinished(), 1);
        const std::vector<uint8_t> flash = device.FlashAt(fwsim::kCodeAddress, image.size());
        QVERIFY(std::equal(flash.begin(), flash.end(),
                           reinterpret_cast<const uint8_t*>(image.constData())));
    }

    void testManualRunFailureAndCloseAfterRun() {
        fwsim::SimFaults faults;
        faults.nFailBlock = 2;
        fwsim::CSimDevice& device = AddDevice("1-1", fwsim::Personality::BootLoader, faults);
        const QString strFile = WriteFile(QStringLiteral("fw.bin"), Pattern(20000, 6));
        QVERIFY(ChoosePort(PortNameOf(device)));
        QTest::mouseClick(Ctl<QPushButton>(IDC_CONNECT), Qt::LeftButton);
        LoadByDialog(strFile);
        QSignalSpy finished(m_pDlg, &QDialog::finished);

        QTest::mouseClick(Ctl<QPushButton>(IDC_UPLOAD), Qt::LeftButton);
        QVERIFY(m_pDlg->IsManualRunActive());
        // Closing during a run is refused; the window closes when the run is over.
        m_pDlg->close();
        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QVERIFY(m_pDlg->isVisible());
        QCOMPARE(finished.count(), 0);
        // A drop cannot change the file while the job reads the request.
        Drop(IDC_FILE_INFO, {WriteFile(QStringLiteral("other.bin"), Pattern(10, 9))});
        QCOMPARE(Text(IDC_FILE_PATH), strFile);
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strFile);
        QTRY_VERIFY_WITH_TIMEOUT(!m_pDlg->IsManualRunActive(), kRunTimeoutMs);
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!m_pDlg->isVisible());

        QVERIFY2(m_pDlg->BoxText(IDC_LOG).endsWith(QStringLiteral("Communication Error\r\n")),
                 qPrintable(m_pDlg->BoxText(IDC_LOG)));
        QCOMPARE(m_pDlg->JobState(), -1);
        VerifyDisconnectedAfterRun();
        QCOMPARE(device.DownloadsFinished(), 0);
    }

    // --- Auto mode -------------------------------------------------------------

    void testAutoModeTwoDevices() {
        const QByteArray image = Pattern(30000, 7);
        const QString strFile = WriteFile(QStringLiteral("fw.bin"), image);
        Drop(IDC_FILE_INFO, {strFile});
        QVERIFY(m_pDlg->HasImage());
        fwsim::CSimDevice& first = AddDevice("1-1", fwsim::Personality::Application);

        // At each "Remove the device" the operator unplugs the device just updated;
        // after the first, the second device is plugged in.
        int nBoxes = 0;
        m_pAnswerer->pfnBeforeClose = [&](const fwtest::SeenDialog& seen) {
            if (seen.strText != QStringLiteral("Remove the device")) {
                return;
            }
            ++nBoxes;
            // Updating: the button is out of use and the search bar is a marquee.
            QVERIFY(!m_pDlg->Control(IDC_AUTO_MODE)->isEnabled());
            QCOMPARE(Ctl<QProgressBar>(IDC_AUTO_PROGRESS)->maximum(), 0);
            QCOMPARE(Text(IDC_STATUS), QStringLiteral("updating device ..."));
            if (nBoxes == 1) {
                QCOMPARE(first.DownloadsFinished(), 1);
                first.Unplug();
                AddDevice("1-2", fwsim::Personality::Application);
            } else {
                m_devices.back()->Unplug();
            }
        };

        auto* pButton = Ctl<QPushButton>(IDC_AUTO_MODE);
        QTest::mouseClick(pButton, Qt::LeftButton);
        QCOMPARE(pButton->text(), QStringLiteral("cancel auto mode"));
        QVERIFY(!m_pDlg->IsAutoStopped());
        for (const int nId : {IDC_UPLOAD, IDC_LOAD, IDC_CONNECT, IDC_PORT}) {
            QVERIFY2(!Enabled(nId), qPrintable(QString::number(nId)));
        }
        QTRY_VERIFY_WITH_TIMEOUT(nBoxes == 2, 2 * kRunTimeoutMs);
        QTRY_COMPARE(Text(IDC_STATUS), QStringLiteral("detecting device ..."));
        QTRY_VERIFY(pButton->isEnabled());

        QTest::mouseClick(pButton, Qt::LeftButton);
        QCOMPARE(pButton->text(), QStringLiteral("auto mode"));
        QTRY_VERIFY_WITH_TIMEOUT(m_pDlg->IsAutoStopped(), 5000);
        QTRY_VERIFY(pButton->isEnabled());
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_LOAD)); // as before auto mode

        QCOMPARE(m_pAnswerer->Count(QStringLiteral("Remove the device")), 2);
        for (const fwtest::SeenDialog& seen : m_pAnswerer->Seen()) {
            QCOMPARE(seen.eIcon, QMessageBox::NoIcon);
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(m_devices.size(), size_t(2));
        for (const auto& pDevice : m_devices) {
            QCOMPARE(pDevice->DownloadsFinished(), 1);
            const std::vector<uint8_t> flash = pDevice->FlashAt(fwsim::kCodeAddress, image.size());
            QVERIFY(std::equal(flash.begin(), flash.end(),
                               reinterpret_cast<const uint8_t*>(image.constData())));
        }
        const QString strLog = m_pDlg->BoxText(IDC_LOG);
        QCOMPARE(strLog.count(QStringLiteral("FW Update Successful!")), 2);
        QVERIFY(strLog.contains(QStringLiteral("updating device[SN-1-1] ...")));
        QVERIFY(strLog.contains(QStringLiteral("updating device[SN-1-2] ...")));
        QCOMPARE(m_pDlg->JobState(), 0);
    }

    void testCloseDuringAutoMode() {
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        auto* pButton = Ctl<QPushButton>(IDC_AUTO_MODE);
        QTest::mouseClick(pButton, Qt::LeftButton);
        QTRY_COMPARE(Text(IDC_STATUS), QStringLiteral("detecting device ..."));
        // Searching: the bar steps 0, 10, ... one step a cycle.
        auto* pBar = Ctl<QProgressBar>(IDC_AUTO_PROGRESS);
        QTRY_VERIFY(pBar->value() >= 20);
        QCOMPARE(pBar->maximum(), 100);

        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QVERIFY(!pButton->isEnabled());
        QCOMPARE(pButton->text(), QStringLiteral("cancel auto mode"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QVERIFY(m_pDlg->IsAutoStopped());
        QVERIFY(!m_pDlg->isVisible());
    }
};

QTEST_MAIN(UiTests)
#include "UiTests.moc"
