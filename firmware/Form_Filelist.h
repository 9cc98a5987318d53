#pragma once

#include "FirmwareSelection.h"

#include <QDialog>
#include <functional>

class QLabel;
class QListWidget;

// The expert's choice among several matching images. A double-click on an entry is the
// only way to choose; closing the dialog otherwise chooses nothing.
class Form_Filelist : public QDialog {
    Q_OBJECT
public:
    explicit Form_Filelist(const QStringList& names, QWidget* parent = nullptr);

    QString chosenName() const { return chosen; }
    QListWidget* list() const { return List1; }

private:
    void List1_DblClick();

    QLabel* Label1;
    QListWidget* List1;
    QString chosen;
};

// Shows Form_Filelist modally. The session shows the hourglass; while the operator chooses
// the pointer is the normal arrow, and the hourglass comes back when the dialog closes.
class FileListChooser : public ImageChooser {
public:
    using PointerSwitch = std::function<void(bool busy)>;
    FileListChooser(QWidget* parent, PointerSwitch setBusyPointer);
    QString chooseImage(const QStringList& namesNewestFirst) override;
    void attach(QWidget* window, PointerSwitch pointerSwitch) {
        parent = window;
        setBusyPointer = std::move(pointerSwitch);
    }

private:
    QWidget* parent;
    PointerSwitch setBusyPointer;
};
