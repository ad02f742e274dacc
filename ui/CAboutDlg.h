#pragma once
// The About box (dialog template 100): icon, two lines of text and OK.

#include <QDialog>

namespace fwup {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
};

} // namespace fwup
