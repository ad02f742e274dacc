// The updater window against the simulated device, offscreen (or under Xvfb),
// with the tests' shortened protocol timings: layout, log, files, connection
// panel, the manual run and auto mode, driven as an operator would.

#include "CWindowRig.h"

#include "records/CUnitRecordLog.h"
#include "ui/CAboutDlg.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/CLogBox.h"
#include "ui/DialogUnits.h"
#include "windowmodel/BoxText.h"
#include "windowmodel/ControlIds.h"

#include "ProductVersion.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/file.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

using namespace fwup;
using fwsim::Personality;

namespace {

constexpr int kRunTimeoutMs = 30000; // one update job at the tests' timings, with margin

QByteArray Pattern(int nSize, int nSeed) {
    QByteArray data(nSize, '\0');
    for (int i = 0; i < nSize; ++i) {
        data[i] = static_cast<char>((i * 131 + nSeed * 7 + (i >> 8)) & 0xFF);
    }
    return data;
}

bool FlashHolds(const fwsim::CSimDevice& device, const QByteArray& image) {
    const std::vector<uint8_t> flash =
        device.FlashAt(fwsim::kCodeAddress, static_cast<size_t>(image.size()));
    return std::equal(flash.begin(), flash.end(),
                      reinterpret_cast<const uint8_t*>(image.constData()));
}

} // namespace

// One control of dialog 102 as the resource file states it.
struct RcControl {
    int nId = -1; // IDC_STATIC: -1
    QString strText;
    QRect rcDlu;
    bool bVisible = true;
    bool bEnabled = true;
};

// The ids of windowmodel/ControlIds.h and the controls of dialog 102 in fwupgraderVelmora.rc:
// each statement (continued on the next line after a trailing comma) gives its
// text (quoted), its id, its four numbers and its styles.
std::vector<RcControl> ReadTemplate102() {
    std::map<QString, int> ids = {{QStringLiteral("IDC_STATIC"), -1}};
    QFile header(QStringLiteral(FWUP_CONTROL_IDS_H));
    if (header.open(QIODevice::ReadOnly)) {
        const QRegularExpression define(QStringLiteral("^#define (IDC_\\w+) (\\d+)"));
        for (const QString& strLine : QString::fromUtf8(header.readAll()).split(u'\n')) {
            if (const QRegularExpressionMatch m = define.match(strLine); m.hasMatch()) {
                ids[m.captured(1)] = m.captured(2).toInt();
            }
        }
    }
    std::vector<RcControl> controls;
    QFile rc(QStringLiteral(FWUP_RC_PATH));
    if (!rc.open(QIODevice::ReadOnly)) {
        return controls;
    }
    const QString strAll = QString::fromUtf8(rc.readAll());
    const qsizetype nStart =
        strAll.indexOf(QStringLiteral("BEGIN"),
                       strAll.indexOf(QStringLiteral("IDD_FWUPGRADERVELMORA_DIALOG DIALOGEX")));
    const qsizetype nEnd = strAll.indexOf(QStringLiteral("\nEND"), nStart);
    QStringList statements;
    for (const QString& strLine : strAll.mid(nStart + 5, nEnd - nStart - 5).split(u'\n')) {
        const QString strTrim = strLine.trimmed();
        if (strTrim.isEmpty()) {
            continue;
        }
        if (!statements.isEmpty() && statements.last().endsWith(u',')) {
            statements.last() += u' ' + strTrim;
        } else {
            statements << strTrim;
        }
    }
    for (const QString& strStatement : statements) {
        RcControl control;
        QString strRest = strStatement.section(u' ', 1).trimmed();
        if (strRest.startsWith(u'"')) {
            const qsizetype nQuote = strRest.indexOf(u'"', 1);
            control.strText = strRest.mid(1, nQuote - 1);
            strRest = strRest.mid(nQuote + 1);
        }
        QStringList fields;
        for (const QString& strField : strRest.split(u',')) {
            if (!strField.trimmed().isEmpty()) {
                fields << strField.trimmed();
            }
        }
        control.nId = ids.count(fields.value(0)) ? ids[fields.value(0)] : -2;
        // CONTROL names its class and styles before the rectangle.
        const int nRect = strStatement.startsWith(QStringLiteral("CONTROL")) ? 3 : 1;
        control.rcDlu = QRect(fields.value(nRect).toInt(), fields.value(nRect + 1).toInt(),
                              fields.value(nRect + 2).toInt(), fields.value(nRect + 3).toInt());
        control.bVisible = !strStatement.contains(QStringLiteral("NOT WS_VISIBLE"));
        control.bEnabled = !strStatement.contains(QStringLiteral("WS_DISABLED"));
        controls.push_back(control);
    }
    return controls;
}

class UiTests : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<fwtest::CWindowRig> m_pRig;
    CFwUpgraderVelmoraDlg* m_pDlg = nullptr;

    template <class T> T* Ctl(int nId) { return m_pRig->Ctl<T>(nId); }
    QString Text(int nId) { return m_pRig->Text(nId); }
    bool Enabled(int nId) { return m_pRig->Enabled(nId); }
    fwtest::CModalAnswerer& Answerer() { return m_pRig->Answerer(); }

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
        QVERIFY(!m_pDlg->Model().IsConnected());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(m_pDlg->Model().IsWaitCursor(), false);
    }

private slots:
    void init() {
        m_pRig = std::make_unique<fwtest::CWindowRig>(fwtest::TestTimings());
        m_pDlg = &m_pRig->Dlg();
    }

    void cleanup() {
        m_pRig.reset();
        m_pDlg = nullptr;
    }

    // --- Pure rules ----------------------------------------------------------

    void testDialogUnits() {
        QCOMPARE(MulDivRound(7, 6, 4), 11);    // 10.5 rounds up
        QCOMPARE(MulDivRound(302, 7, 4), 529); // 528.5
        QCOMPARE(MulDivRound(5, 15, 8), 9);    // 9.375
        QCOMPARE(DluToPixels(QRect(4, 8, 8, 16), DialogBaseUnits{6, 13}), QRect(6, 13, 12, 26));
    }

    // --- Window --------------------------------------------------------------

    void testLayout() {
        QCOMPARE(m_pDlg->windowTitle(), QStringLiteral("VelgoFWUp v1.1"));
        QVERIFY(!m_pDlg->windowIcon().isNull());
        const DialogBaseUnits units = BaseUnitsOf(m_pDlg->font());
        QCOMPARE(m_pDlg->size(), DluToPixels(QRect(0, 0, 316, 188), units).size());

        // Both windows are dialog 102 of the Windows resource file: the texts,
        // positions and styles come from there, read as the resource compiler does.
        const std::vector<RcControl> rows = ReadTemplate102();
        QCOMPARE(rows.size(), size_t(16)); // 15 controls with ids and the "SN" label
        // The Qt class of each kind of control.
        const std::map<int, const char*> classes = {
            {1000, "QPushButton"}, {1001, "QComboBox"},     {1002, "fwup::CPortComboBox"},
            {1003, "QPushButton"}, {1004, "fwup::CLogBox"}, {1005, "QLineEdit"},
            {1006, "QLineEdit"},   {1007, "fwup::CLogBox"}, {1008, "QProgressBar"},
            {1011, "QLabel"},      {1014, "QPushButton"},   {1034, "QLabel"},
            {1016, "QLineEdit"},   {1017, "QPushButton"},   {1039, "QProgressBar"}};
        for (const RcControl& row : rows) {
            QWidget* p = row.nId >= 0 ? Ctl<QWidget>(row.nId)
                                      : m_pDlg->findChild<QLabel*>(QStringLiteral("sn_label"));
            QVERIFY2(p != nullptr, qPrintable(QString::number(row.nId)));
            if (row.nId >= 0) {
                QCOMPARE(QString::fromUtf8(p->metaObject()->className()),
                         QString::fromUtf8(classes.at(row.nId)));
            }
            if (row.nId == IDC_AREA_TEXT) {
                QCOMPARE(Text(row.nId), QStringLiteral("0x008000(176128)")); // the CODE area
            } else if (row.nId != IDC_AREA) {
                QCOMPARE(row.nId >= 0 ? Text(row.nId) : static_cast<QLabel*>(p)->text(),
                         row.strText);
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
            // UPLOAD is out of use from the start until a device and a file are there.
            QCOMPARE(p->isEnabled(), row.bEnabled && row.nId != IDC_UPLOAD);
        }
        // Controls without a visible text are named for screen readers, each its own.
        QSet<QString> names;
        for (const int nId : {IDC_PORT, IDC_FILE_INFO, IDC_FILE_PATH, IDC_LOG, IDC_PROGRESS,
                              IDC_STATUS, IDC_AUTO_PROGRESS}) {
            const QString strName = Ctl<QWidget>(nId)->accessibleName();
            QVERIFY2(!strName.isEmpty(), qPrintable(QString::number(nId)));
            names.insert(strName);
        }
        QCOMPARE(names.size(), 7);
        QCOMPARE(Ctl<QComboBox>(IDC_AREA)->currentText(), QStringLiteral("CODE"));
        QCOMPARE(m_pDlg->Model().AreaStart(), 0x8000u);
        QCOMPARE(m_pDlg->Model().AreaSize(), 176128u);
        QCOMPARE(Ctl<QComboBox>(IDC_PORT)->placeholderText(), QStringLiteral("select comport"));
        QCOMPARE(Ctl<QComboBox>(IDC_PORT)->count(), 0); // no ports below the empty root
        QCOMPARE(Ctl<QProgressBar>(IDC_PROGRESS)->value(), 0);
        QVERIFY(m_pDlg->Model().IsAutoStopped());
        QVERIFY(!m_pDlg->Model().IsAutoMode());
        SaveShot(QStringLiteral("window-start"));

        // "Bench..." and the About entry sit after a separator in the window's menu (right click).
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_pDlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_pDlg, &event);
        QMenu* pMenu = m_pDlg->SystemMenu();
        QTRY_VERIFY(pMenu->isVisible());
        const QList<QAction*> actions = pMenu->actions();
        QCOMPARE(actions.size(), 3);
        QVERIFY(actions[0]->isSeparator());
        QCOMPARE(actions[1]->text(), QStringLiteral("Bench..."));
        QCOMPARE(actions[2]->text(), QStringLiteral("About VelgoFWUp(&A)..."));
        pMenu->hide();
        actions[2]->trigger(); // shows the About box modally; the answerer closes it
        QCOMPARE(Answerer().Seen().size(), 1);
        QCOMPARE(Answerer().Seen()[0].strKind, QStringLiteral("dialog"));
        QCOMPARE(Answerer().Seen()[0].strTitle, QStringLiteral("VelgoFWUp"));
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
        QTRY_VERIFY(Enabled(IDC_AUTO_MODE));
        m_pRig->Click(IDC_AUTO_MODE);
        QTRY_VERIFY(m_pDlg->Model().IsAutoStopped());
        Ctl<QWidget>(IDC_LOG)->setFocus();
        m_pDlg->setFocus();
        QTest::keyClick(m_pDlg, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
    }

    void testLogLinesAndTrimming() {
        auto* pLog = Ctl<CLogBox>(IDC_LOG);
        m_pDlg->Model().AddLog("connected.\n");
        QCOMPARE(pLog->Text(), QStringLiteral("connected.\r\n"));
        m_pDlg->Model().AddLog("piece one ");
        m_pDlg->Model().AddLog("and %s %i\n", "piece", 2);
        m_pDlg->Model().AddLog("x\ny");
        QCOMPARE(pLog->Text(), QStringLiteral("connected.\r\npiece one and piece 2\r\nx\r\ny"));
        QCOMPARE(pLog->toPlainText(), QStringLiteral("connected.\npiece one and piece 2\nx\ny"));

        // Fill past the capacity: whole lines go from the top, the newest stays.
        m_pDlg->Model().AddLog("\n");
        for (int i = 0; i < 2500; ++i) {
            m_pDlg->Model().AddLog("log line number %05d\n", i); // 22 characters with CR LF
        }
        const QString strBox = pLog->Text();
        QVERIFY(size_t(strBox.size()) <= kTextBoxCapacity);
        QVERIFY(size_t(strBox.size()) > kTextBoxCapacity - 22);
        QVERIFY(strBox.startsWith(QStringLiteral("log line number ")));
        QVERIFY(strBox.endsWith(QStringLiteral("log line number 02499\r\n")));
        QCOMPARE(pLog->toPlainText(),
                 QString(strBox).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        // The newest line is in view (at the bottom, above the caret's empty line).
        const QTextBlock last = pLog->document()->lastBlock().previous();
        QCOMPARE(last.text(), QStringLiteral("log line number 02499"));
        QVERIFY(pLog->viewport()->rect().contains(pLog->cursorRect(QTextCursor(last))));
        QVERIFY(pLog->verticalScrollBar()->value() > 0);

        m_pDlg->Model().SetStatusText("first");
        m_pDlg->Model().SetStatusText("second text");
        QCOMPARE(Text(IDC_STATUS), QStringLiteral("second text"));
    }

    void testLoadFiles() {
        const QString strFull = m_pRig->WriteFile(QStringLiteral("fw.bin"), Pattern(176128, 1));
        const QString strBig = m_pRig->WriteFile(QStringLiteral("big.bin"), Pattern(176129, 2));
        // 2 May 2014 09:07:03 UTC.
        struct utimbuf times {
            1399021623, 1399021623
        };
        QCOMPARE(::utime(QFile::encodeName(strFull).constData(), &times), 0);

        m_pRig->LoadByDialog(strFull);
        QCOMPARE(Answerer().Seen().size(), 1);
        QCOMPARE(Answerer().Seen()[0].strKind, QStringLiteral("file"));
        QCOMPARE(Answerer().Seen()[0].strText, QStringLiteral("Binary (*.bin);;All (*.*)"));
        QVERIFY(m_pDlg->Model().HasImage());
        QCOMPARE(Text(IDC_FILE_PATH), strFull);
        QCOMPARE(Text(IDC_FILE_INFO), QStringLiteral("file name : fw.bin\r\nfile size : 176128\r\n"
                                                     "file date : 2014.05.02 09:07:03\r\n"));
        QCOMPARE(QString::fromStdString(m_pDlg->Model().Request().strFirmwarePath), strFull);
        QVERIFY(!Enabled(IDC_UPLOAD)); // not connected

        Answerer().Clear();
        m_pRig->LoadByDialog(strBig);
        QCOMPARE(Answerer().Messages(), 1);
        QCOMPARE(Answerer().Count(QStringLiteral("Incompatible File")), 1);
        QCOMPARE(Answerer().Seen()[1].eIcon, QMessageBox::Information);
        QCOMPARE(Answerer().Seen()[1].strTitle, QStringLiteral("fwupgraderVelmora"));
        QVERIFY(Text(IDC_FILE_INFO).contains(QStringLiteral("file size : 176129")));
        QVERIFY(m_pDlg->Model().HasImage()); // the earlier segment stays
        QCOMPARE(QString::fromStdString(m_pDlg->Model().Request().strFirmwarePath), strBig);

        // A drop on the log or a button does nothing; on 1005 it loads the first file.
        Answerer().Clear();
        m_pRig->Drop(IDC_LOG, {strFull});
        m_pRig->Drop(IDC_UPLOAD, {strFull});
        QCOMPARE(Text(IDC_FILE_PATH), strBig);
        m_pRig->Drop(IDC_FILE_PATH, {strFull, strBig});
        QCOMPARE(Text(IDC_FILE_PATH), strFull);
        QCOMPARE(QString::fromStdString(m_pDlg->Model().Request().strFirmwarePath), strFull);
        QCOMPARE(Answerer().Messages(), 0);

        // A path that is gone: the path shows, the description stays, one message.
        const QString strGone = m_pRig->FilePath(QStringLiteral("gone.bin"));
        const QString strInfoBefore = Text(IDC_FILE_INFO);
        m_pRig->Drop(IDC_FILE_INFO, {strGone});
        QCOMPARE(Text(IDC_FILE_PATH), strGone);
        QCOMPARE(Text(IDC_FILE_INFO), strInfoBefore);
        QCOMPARE(Answerer().Count(QStringLiteral("Firmware File Not Found")), 1);
        QCOMPARE(Answerer().Messages(), 1);

        // A file another program holds locked: "Wrong Block Size" (no icon), then not found.
        Answerer().Clear();
        const QString strHeld = m_pRig->WriteFile(QStringLiteral("held.bin"), Pattern(1000, 3));
        const int fd = ::open(QFile::encodeName(strHeld).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        m_pRig->Drop(IDC_FILE_INFO, {strHeld});
        ::close(fd);
        QCOMPARE(Answerer().Messages(), 2);
        QCOMPARE(Answerer().Seen()[0].strText, QStringLiteral("Wrong Block Size"));
        QCOMPARE(Answerer().Seen()[0].eIcon, QMessageBox::NoIcon);
        QCOMPARE(Answerer().Seen()[1].strText, QStringLiteral("Firmware File Not Found"));

        // Cancelling the dialog changes nothing.
        Answerer().Clear();
        m_pRig->LoadByDialog(QString());
        QCOMPARE(Text(IDC_FILE_PATH), strHeld);
        QCOMPARE(Answerer().Messages(), 0);
    }

    // --- Connection panel ------------------------------------------------------

    // A locked station profile: its image is loaded at the start, and after Connect
    // neither "Load Binary File" nor a drop can change it.
    void testLockedProfileFixesTheImage() {
        const QString strImage =
            m_pRig->WriteFile(QStringLiteral("locked.bin"), QByteArray(4096, 'L'));
        const QString strOther =
            m_pRig->WriteFile(QStringLiteral("other.bin"), QByteArray(4096, 'O'));
        BenchOptions options;
        options.strFirmwarePath = strImage.toStdString();
        std::string strError;
        const std::string strProfile =
            m_pRig->FilePath(QStringLiteral("station.toml")).toStdString();
        QVERIFY2(ParseStationProfile("locked = true\n", strProfile, options.optProfile.emplace(),
                                     strError),
                 strError.c_str());
        m_pDlg->SetStartOptions(options);
        QCOMPARE(Text(IDC_FILE_PATH), strImage);
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::Application);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QVERIFY(!Enabled(IDC_LOAD));
        QVERIFY(Enabled(IDC_UPLOAD));
        m_pRig->Drop(IDC_FILE_PATH, {strOther});
        QCOMPARE(Text(IDC_FILE_PATH), strImage);
        QVERIFY(Text(IDC_LOG).contains(
            QString::fromStdString("The station profile " + strProfile + " is locked")));
        SaveShot(QStringLiteral("window-locked"));
        QCOMPARE(Answerer().Messages(), 0);
    }

    void testConnectApplication() {
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::Application);
        const QString strName = m_pRig->PortNameOf(device);
        QVERIFY(!strName.isEmpty());
        QVERIFY(!Enabled(IDC_CONNECT));
        QVERIFY(m_pRig->ChoosePort(strName));
        QVERIFY(Enabled(IDC_CONNECT));
        QVERIFY(Ctl<QComboBox>(IDC_PORT)->toolTip().contains(
            QString::fromStdString(device.DevicePath()).section('/', -1)));

        m_pRig->ClickConnectAndWait();
        QCOMPARE(Answerer().Messages(), 0);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("2.0.0.1"));
        QCOMPARE(Text(IDC_SERIAL), QStringLiteral("SN-1-1"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QCOMPARE(Text(IDC_LOG), QStringLiteral("connected.\r\n"));
        QVERIFY(!Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_CONNECT));
        QVERIFY(Enabled(IDC_AUTO_MODE));
        QVERIFY(Enabled(IDC_LOAD));
        QVERIFY(!Enabled(IDC_UPLOAD)); // no file yet
        QCOMPARE(m_pDlg->Model().BootInfo(), -1);
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        m_pRig->Click(IDC_CONNECT);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_SERIAL), QStringLiteral("SN-1-1")); // the last serial stays
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(!Enabled(IDC_LOAD));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // The window goes on processing events while Connect asks the device (two
    // unanswered status queries, then "~rv" and "~rS"), and the update that follows
    // completes.
    void testConnectKeepsTheWindowResponsiveThenUploadCompletes() {
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::Application);
        const QByteArray image = Pattern(30000, 11);
        const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), image);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));

        // A 10 ms timer on the GUI thread: how often it fired while Connect ran, and
        // its largest gap (printed; a figure, not a check).
        int nTicksWhileConnecting = 0;
        qint64 nLargestGapMs = 0;
        QElapsedTimer sinceTick;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, [&] {
            if (m_pDlg->Model().IsConnecting()) {
                ++nTicksWhileConnecting;
                nLargestGapMs = std::max(nLargestGapMs, sinceTick.elapsed());
            }
            sinceTick.restart();
        });
        sinceTick.start();
        timer.start(10);

        m_pRig->Click(IDC_CONNECT);
        // The click has returned while the device is still being asked.
        QVERIFY(m_pDlg->Model().IsConnecting());
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        for (const int nId : {IDC_PORT, IDC_CONNECT, IDC_AUTO_MODE}) {
            QVERIFY2(!Enabled(nId), qPrintable(QString::number(nId)));
        }
        QVERIFY(fwtest::WaitUntil([&] { return !m_pDlg->Model().IsConnecting(); }, kRunTimeoutMs));
        timer.stop();
        qInfo("timer ticks while connecting: %d, largest gap %lld ms", nTicksWhileConnecting,
              static_cast<long long>(nLargestGapMs));
        // Two status queries time out alone take 2 x nCommandMs (600 ms here): a
        // window that blocked would have seen no tick at all.
        QVERIFY2(nTicksWhileConnecting >= 10, qPrintable(QString::number(nTicksWhileConnecting)));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("2.0.0.1"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        m_pRig->LoadByDialog(strFile);
        QVERIFY(Enabled(IDC_UPLOAD));
        m_pRig->Click(IDC_UPLOAD);
        QVERIFY(
            fwtest::WaitUntil([&] { return !m_pDlg->Model().IsManualRunActive(); }, kRunTimeoutMs));
        QVERIFY2(Text(IDC_LOG).contains(QStringLiteral("FW Update Successful!")),
                 qPrintable(Text(IDC_LOG)));
        QVERIFY(FlashHolds(device, image));
    }

    void testScreenshotConnected() {
        // Boot loader device; a file loaded before connecting enables UPLOAD.
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::BootLoader);
        const QString strFile =
            m_pRig->WriteFile(QStringLiteral("reader.rel.bin"), Pattern(4096, 4));
        m_pRig->LoadByDialog(strFile);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        QCOMPARE(Answerer().Messages(), 0);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("boot v10.11.12.13"));
        QCOMPARE(m_pDlg->Model().BootInfo(), 0x1A2B3C4D);
        QCOMPARE(Text(IDC_SERIAL), QString()); // untouched by a boot loader
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QVERIFY(Enabled(IDC_UPLOAD));
        QVERIFY(!Enabled(IDC_LOAD));
        QVERIFY(Text(IDC_FILE_INFO).startsWith("file name : reader.rel.bin\r\n"));
        // The first of the three lines stays in view.
        auto* pInfo = Ctl<QPlainTextEdit>(IDC_FILE_INFO);
        QCOMPARE(pInfo->cursorForPosition(QPoint(2, 2)).block().text(),
                 QStringLiteral("file name : reader.rel.bin"));
        SaveShot(QStringLiteral("window-connected"));

        // A file too large for CODE dropped while connected: refused, the loaded
        // image stays and UPLOAD stays on, but the request now names the new file,
        // so a run would report it as invalid rather than send the old one.
        const QString strBig = m_pRig->WriteFile(QStringLiteral("big.bin"), Pattern(176129, 8));
        m_pRig->Drop(IDC_FILE_PATH, {strBig});
        QCOMPARE(Answerer().Count(QStringLiteral("Incompatible File")), 1);
        QVERIFY(m_pDlg->Model().HasImage());
        QVERIFY(Enabled(IDC_UPLOAD));
        QCOMPARE(QString::fromStdString(m_pDlg->Model().Request().strFirmwarePath), strBig);
    }

    void testConnectSilentDevice() {
        fwsim::SimDeviceConfig config = m_pRig->DeviceConfig(Personality::Application);
        config.faults.bNoVersionReply = true;
        fwsim::CSimDevice& device = m_pRig->AddDevice(config);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        QCOMPARE(Answerer().Messages(), 1);
        QCOMPARE(Answerer().Seen()[0].strText,
                 QStringLiteral("The comport is wrong or the device is off. \n"));
        QCOMPARE(Answerer().Seen()[0].eIcon, QMessageBox::Information);
        QCOMPARE(Answerer().Seen()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_CONNECT));
        QCOMPARE(Text(IDC_LOG), QString());
        QVERIFY(!m_pDlg->Model().IsConnected());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void testCloseWhileConnectingClosesAtOnce() {
        fwsim::SimDeviceConfig config = m_pRig->DeviceConfig(Personality::Application);
        config.faults.bNoVersionReply = true; // three unanswered queries
        fwsim::CSimDevice& device = m_pRig->AddDevice(config);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        m_pRig->Click(IDC_CONNECT);
        QVERIFY(m_pDlg->Model().IsConnecting());
        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!m_pDlg->isVisible());
        // The step's answer still arrives (the window joins it when it goes).
        QVERIFY(fwtest::WaitUntil([&] { return !m_pDlg->Model().IsConnecting(); }, kRunTimeoutMs));
    }

    void testManualRunSuccess() {
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::BootLoader);
        const QByteArray image = Pattern(176128, 5);
        const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), image);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        m_pRig->LoadByDialog(strFile);
        QVERIFY(Enabled(IDC_UPLOAD));
        fwup::CUnitRecordLog records; // as --record FILE gives it
        std::string strError;
        const QString strRecords = m_pRig->WriteFile(QStringLiteral("records.jsonl"), {});
        QVERIFY(records.Open(strRecords.toStdString(), strError));
        m_pDlg->SetRecordSink(&records);

        m_pRig->Click(IDC_UPLOAD);
        // Out of use at once, with the wait cursor, while the job runs on its thread.
        QVERIFY(m_pDlg->Model().IsManualRunActive());
        for (const int nId : {IDC_UPLOAD, IDC_LOAD, IDC_CONNECT, IDC_AUTO_MODE}) {
            QVERIFY2(!Enabled(nId), qPrintable(QString::number(nId)));
        }
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(
            fwtest::WaitUntil([&] { return !m_pDlg->Model().IsManualRunActive(); }, kRunTimeoutMs));

        const QString strLog = Text(IDC_LOG);
        QVERIFY2(strLog.contains(QStringLiteral("Records go to ") + strRecords + "\r\n"),
                 qPrintable(strLog));
        QVERIFY2(strLog.contains(QStringLiteral("updating device[unknown] ...\r\n")),
                 qPrintable(strLog));
        QVERIFY2(strLog.endsWith(QStringLiteral(
                     "FW Update Successful!\r\nPlease disconnect the USB cable and turn your "
                     "Tarnic's power off & on before use.\r\n")),
                 qPrintable(strLog));
        QCOMPARE(Ctl<QProgressBar>(IDC_PROGRESS)->value(), 100);
        QCOMPARE(m_pDlg->Model().JobState(), 0);
        const QString strInfo = Text(IDC_FILE_INFO);
        QVERIFY2(strInfo.startsWith(QStringLiteral("file name : fw.bin\r\nfile size : 176128\r\n"
                                                   "file date : ")),
                 qPrintable(strInfo));
        QCOMPARE(strInfo.count(QStringLiteral("\r\n")), 2); // the date line has no line end
        VerifyDisconnectedAfterRun();
        QVERIFY(Enabled(IDC_AUTO_MODE));
        QCOMPARE(device.DownloadsFinished(), 1);
        QVERIFY(FlashHolds(device, image));
        m_pDlg->SetRecordSink(nullptr);
        records.Close(); // the record is written by its own thread: wait for it
        QFile recordFile(strRecords);
        QVERIFY(recordFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = recordFile.readAll().split('\n');
        QCOMPARE(lines.size(), 2); // one record and the end of its line
        QVERIFY2(lines[0].contains("\"file\":\"fw.bin\",\"size\":176128,\"sha256\":\""),
                 lines[0].constData());
        QVERIFY2(lines[0].contains("\"exit_code\":0,"), lines[0].constData());
    }

    void testAutoModeTwoDevices() {
        const QByteArray image = Pattern(30000, 7);
        const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), image);
        m_pRig->Drop(IDC_FILE_INFO, {strFile});
        QVERIFY(m_pDlg->Model().HasImage());
        fwsim::CSimDevice& first = m_pRig->AddDevice(Personality::Application);

        // At each "Remove the device" the operator unplugs the device just updated;
        // after the first, the second device is plugged in.
        int nBoxes = 0;
        Answerer().pfnBeforeClose = [&](const fwtest::SeenDialog& seen) {
            if (seen.strText != QStringLiteral("Remove the device")) {
                return;
            }
            ++nBoxes;
            // Updating: the button is out of use and the search bar is a marquee.
            QVERIFY(!Enabled(IDC_AUTO_MODE));
            QCOMPARE(Ctl<QProgressBar>(IDC_AUTO_PROGRESS)->maximum(), 0);
            QCOMPARE(Text(IDC_STATUS), QStringLiteral("updating device ..."));
            if (nBoxes == 1) {
                QCOMPARE(first.DownloadsFinished(), 1);
                first.Unplug();
                m_pRig->AddDevice(Personality::Application, "1-2");
            } else {
                m_pRig->Devices().back()->Unplug();
            }
        };

        auto* pButton = Ctl<QPushButton>(IDC_AUTO_MODE);
        m_pRig->Click(IDC_AUTO_MODE);
        QCOMPARE(pButton->text(), QStringLiteral("cancel auto mode"));
        QVERIFY(!m_pDlg->Model().IsAutoStopped());
        for (const int nId : {IDC_UPLOAD, IDC_LOAD, IDC_CONNECT, IDC_PORT}) {
            QVERIFY2(!Enabled(nId), qPrintable(QString::number(nId)));
        }
        QVERIFY(fwtest::WaitUntil([&] { return nBoxes == 2; }, 2 * kRunTimeoutMs));
        QTRY_COMPARE(Text(IDC_STATUS), QStringLiteral("detecting device ..."));
        QTRY_VERIFY(pButton->isEnabled());

        m_pRig->Click(IDC_AUTO_MODE);
        QCOMPARE(pButton->text(), QStringLiteral("auto mode"));
        QTRY_VERIFY_WITH_TIMEOUT(m_pDlg->Model().IsAutoStopped(), 5000);
        QTRY_VERIFY(pButton->isEnabled());
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_LOAD)); // as before auto mode

        QCOMPARE(Answerer().Count(QStringLiteral("Remove the device")), 2);
        for (const fwtest::SeenDialog& seen : Answerer().Seen()) {
            QCOMPARE(seen.eIcon, QMessageBox::NoIcon);
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(m_pRig->Devices().size(), size_t(2));
        for (const auto& pDevice : m_pRig->Devices()) {
            QCOMPARE(pDevice->DownloadsFinished(), 1);
            QVERIFY(FlashHolds(*pDevice, image));
        }
        const QString strLog = Text(IDC_LOG);
        QCOMPARE(strLog.count(QStringLiteral("FW Update Successful!")), 2);
        QVERIFY(strLog.contains(QStringLiteral("updating device[SN-1-1] ...")));
        QVERIFY(strLog.contains(QStringLiteral("updating device[SN-1-2] ...")));
        QCOMPARE(m_pDlg->Model().JobState(), 0);
    }

    void testCloseDuringAutoMode() {
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        auto* pButton = Ctl<QPushButton>(IDC_AUTO_MODE);
        m_pRig->Click(IDC_AUTO_MODE);
        QTRY_COMPARE(Text(IDC_STATUS), QStringLiteral("detecting device ..."));
        // Searching: the bar steps 0, 10, ... one step a cycle.
        auto* pBar = Ctl<QProgressBar>(IDC_AUTO_PROGRESS);
        QTRY_VERIFY(pBar->value() >= 20);
        QCOMPARE(pBar->maximum(), 100);

        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QVERIFY(!pButton->isEnabled());
        QCOMPARE(pButton->text(), QStringLiteral("cancel auto mode"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QVERIFY(m_pDlg->Model().IsAutoStopped());
        QVERIFY(!m_pDlg->isVisible());
    }
};

QTEST_MAIN(UiTests)
#include "UiTests.moc"
