#pragma once

#include <QString>

enum class MessageIcon { None, Information, Question, Critical };
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

struct Message {
    Message(QString text, QString title, MessageIcon icon = MessageIcon::None,
            MessageButtons buttons = MessageButtons::Ok, QString detail = QString())
        : text(std::move(text))
        , title(std::move(title))
        , icon(icon)
        , buttons(buttons)
        , detail(std::move(detail)) {}
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    QString detail; // optional detailed text
};

// Modal message boxes. Tests answer them through this seam instead of a real box.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual MessageAnswer showMessage(const Message& message) = 0;
    // A box with an OK button that does not wait for it: for what is said while a session
    // runs, which must not stand still under the box.
    virtual void showNotice(const Message& message) { showMessage(message); }
};

// The title of a box that has none of its own.
inline const QString& applicationTitle() {
    static const QString title = QStringLiteral("Kestrune_Update_Utility");
    return title;
}
