#pragma once

#include "AddFile.h"

// The add-file command's file-open dialog, titled "Add Bin-File".
class FileDialogPrompts : public AddFilePrompts {
public:
    explicit FileDialogPrompts(QWidget* parent)
        : parent(parent) {}
    QString openBinFile() override;
    void setParentWindow(QWidget* window) { parent = window; }

private:
    QWidget* parent;
};
