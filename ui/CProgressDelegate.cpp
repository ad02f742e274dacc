#include "ui/CProgressDelegate.h"

#include <QApplication>
#include <QStyle>
#include <QStyleOptionProgressBar>

namespace fwup {

void CProgressDelegate::paint(QPainter* pPainter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    if (index.data(kProgressRole).toInt() < 0) {
        // Finished without passing: the outcome in words, not a bar stopped part way.
        QStyledItemDelegate::paint(pPainter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = index.data(kProgressRole).toInt();
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    QStyle* pStyle = option.widget != nullptr ? option.widget->style() : QApplication::style();
    pStyle->drawControl(QStyle::CE_ProgressBar, &bar, pPainter, option.widget);
}

} // namespace fwup
