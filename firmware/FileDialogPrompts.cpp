// The Add File command's file-open dialog.
#include "FileDialogPrompts.h"

#include <QFileDialog>

QString FileDialogPrompts::openBinFile() {
    QFileDialog dialog(parent, QStringLiteral("Add Bin-File"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("Bin-File (*.bin)"));
    dialog.selectFile(QStringLiteral("*.bin"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}
