#pragma once

#include "Prompts.h"

class QWidget;

// Message boxes shown with QMessageBox.
class MessageBoxPrompts : public Prompts {
public:
    explicit MessageBoxPrompts(QWidget* parent)
        : parent(parent) {}
    MessageAnswer showMessage(const Message& message) override;
    void showNotice(const Message& message) override;
    void setParentWindow(QWidget* window) { parent = window; }

private:
    QWidget* parent;
};
