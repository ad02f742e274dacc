#include "ui/QtDialogs.h"

#include "windowmodel/WindowTexts.h"

#include <QFile>
#include <QFileDialog>
#include <QString>
#include <QStringList>

namespace fwup {

std::optional<std::string> AskFirmwareFile(QWidget* pParent) {
    QFileDialog dialog(pParent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QStringList filters;
    for (const FileFilter& filter : kFirmwareFilters) {
        filters << QString::fromUtf8(filter.pszLabel);
    }
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.constFirst());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() ||
        dialog.selectedFiles().constFirst().isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
}

std::string TextFromDevice(const std::string& strBytes) {
    return QString::fromLocal8Bit(strBytes.c_str()).toStdString();
}

} // namespace fwup
