#pragma once

#include "platform/prompts.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace testing_support {

/// Prompts that record every message and answer password questions from a script.
/// Installs itself for its lifetime.
class RecordingPrompts : public platform::Prompts {
public:
    struct Message {
        QString text;
        platform::MessageIcon icon;
        QString title;
    };

    RecordingPrompts() { platform::Prompts::install(this); }
    ~RecordingPrompts() override { platform::Prompts::install(nullptr); }

    void showMessage(const QString& text, platform::MessageIcon icon,
                     const QString& title) override {
        messages.append({text, icon, title});
    }
    QString askPassword(const QString& prompt, const QString&) override {
        passwordPrompts.append(prompt);
        return passwords.isEmpty() ? QString() : passwords.takeFirst();
    }

    QList<Message> messages;
    QStringList passwords; ///< answers, in order; empty text once they run out
    QStringList passwordPrompts;
};

} // namespace testing_support
