#pragma once
// The port choice (1002): a combo box that tells the window when its list is
// about to drop down and when it gains the focus from another control, so the
// window can refill the list from the ports present at that moment.

#include <QComboBox>

namespace fwup {

class CPortComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CPortComboBox(QWidget* pParent = nullptr);

    void showPopup() override;

signals:
    void dropDown();    // before the list opens
    void focusGained(); // focus came from another control (not back from the list)

protected:
    void focusInEvent(QFocusEvent* pEvent) override;
};

} // namespace fwup
