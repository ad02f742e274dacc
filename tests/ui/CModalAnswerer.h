#pragma once
// Answers the window's modal dialogs in place of an operator: every few ms it
// looks for the active modal widget, records what it showed, runs an optional
// hook (e.g. unplug the device before confirming), and closes it with OK. A
// file dialog is answered with the path set in strFileToChoose (empty: cancel).

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>

namespace fwtest {

struct SeenDialog {
    QString strKind; // "message", "file", "dialog"
    QString strTitle;
    QString strText; // message text; for other dialogs empty
    QMessageBox::Icon eIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

class CModalAnswerer : public QObject {
    Q_OBJECT
public:
    CModalAnswerer();

    // Called with each message box before it is closed.
    std::function<void(const SeenDialog&)> pfnBeforeClose;
    QString strFileToChoose;

    const QVector<SeenDialog>& Seen() const { return m_seen; }
    int Count(const QString& strText) const;
    int Messages() const;
    void Clear() { m_seen.clear(); }

private:
    void Poll();

    QTimer m_timer;
    QVector<SeenDialog> m_seen;
    bool m_bBusy = false;
};

} // namespace fwtest
