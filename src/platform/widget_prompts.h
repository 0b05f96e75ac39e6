#pragma once

#include "prompts.h"

class QWidget;

namespace platform {

/// Prompts shown as Qt message boxes and input dialogs, modal to the active window.
class WidgetPrompts : public Prompts {
public:
    void showMessage(const QString& text, MessageIcon icon, const QString& title) override;
    QString askPassword(const QString& prompt, const QString& title) override;
};

} // namespace platform
