#pragma once
// CProgressDelegate: draws a table cell as a progress bar. The bar's position,
// 0..100, is the cell's kProgressRole; its text (the percentage) is the cell's
// display text, so the value is never shown by the bar alone. GUI thread only.

#include <QStyledItemDelegate>

namespace fwup {

class CProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kProgressRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* pPainter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace fwup
