#include "ui/CPortComboBox.h"

#include <QFocusEvent>

namespace fwup {

CPortComboBox::CPortComboBox(QWidget* pParent) : QComboBox(pParent) {}

void CPortComboBox::showPopup() {
    emit dropDown();
    QComboBox::showPopup();
}

void CPortComboBox::focusInEvent(QFocusEvent* pEvent) {
    QComboBox::focusInEvent(pEvent);
    // Focus that returns from the closing list or from another window is no new
    // visit: refilling then would drop the choice just made.
    if (pEvent->reason() != Qt::PopupFocusReason &&
        pEvent->reason() != Qt::ActiveWindowFocusReason) {
        emit focusGained();
    }
}

} // namespace fwup
