#include "options_dialog.h"

#include "settings_files.h"

#include "platform/prompts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QVBoxLayout>

namespace convert {

OptionsDialog::OptionsDialog(QString optionsPath, int finishSoundOff, QWidget* parent)
    : QDialog(parent), m_path(std::move(optionsPath)), m_finishSoundOff(finishSoundOff) {
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(tr("Settings"));
    auto* layout = new QVBoxLayout(this);
    m_sound = new QCheckBox(tr("&Play a sound when a conversion ends"), this);
    m_sound->setObjectName(QStringLiteral("chkSound"));
    m_sound->setChecked(finishSoundOff == 0);
    layout->addWidget(m_sound);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
}

void OptionsDialog::accept() {
    const int chosen = m_sound->isChecked() ? 0 : 1;
    if ((chosen == 0) != (m_finishSoundOff == 0)) {
        if (!writeFinishSoundOff(m_path, chosen)) {
            platform::MsgBox(tr("The settings could not be saved in %1.").arg(m_path),
                             platform::MessageIcon::Exclamation);
        }
        m_finishSoundOff = chosen;
    }
    QDialog::accept();
}

} // namespace convert
