#pragma once

#include <QString>

namespace platform {

enum class MessageIcon { None, Critical, Question, Exclamation, Information };

/// The modal questions and messages of the program. The program installs the window
/// implementation; tests install one that answers and records.
class Prompts {
public:
    virtual ~Prompts() = default;

    /// A message box with `text`, `icon` and `title` and an OK button.
    virtual void showMessage(const QString& text, MessageIcon icon, const QString& title) = 0;

    /// Asks for a password; returns the text entered, or empty text when the user gives up.
    virtual QString askPassword(const QString& prompt, const QString& title) = 0;

    /// The installed implementation; without one, messages go to standard error and password
    /// questions are answered with empty text.
    static Prompts& current();
    /// Installs `prompts` (not owned) as the current implementation; nullptr restores the
    /// default.
    static void install(Prompts* prompts);
};

/// The application's title, the title of every message that has none of its own.
inline QString applicationTitle() {
    return QStringLiteral("Lumadoc");
}

/// Shows `text` through the current Prompts.
void MsgBox(const QString& text, MessageIcon icon, const QString& title = applicationTitle());

} // namespace platform
