#pragma once

#include "Prompts.h"

class QWidget;

// Message boxes shown with QMessageBox.
class MessageBoxPrompts : public Prompts {
public:
    explicit MessageBoxPrompts(QWidget* parent)
        : parent(parent) {}
    MessageAnswer showMessage(const Message& message) override;

private:
    QWidget* parent;
};
