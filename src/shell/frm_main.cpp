#include "frm_main.h"

#include "platform/process_list.h"
#include "platform/prompts.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace shell {

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(platform::applicationTitle());
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(tr("PDF conversion and creation"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(420, 300);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // The window that an export shows when it finishes must not outlive the application.
    platform::EndProcessByName(QStringLiteral("pro"));
    event->accept();
}

} // namespace shell
