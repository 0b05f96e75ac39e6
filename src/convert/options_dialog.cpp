#include "options_dialog.h"

#include "settings_files.h"

#include "platform/prompts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QVBoxLayout>

namespace convert {

OptionsDialog::OptionsDialog(QString optionsPath, int finishSoundOff, bool textRecognition,
                             QWidget* parent)
    : QDialog(parent), m_path(std::move(optionsPath)), m_finishSoundOff(finishSoundOff),
      m_textRecognition(textRecognition) {
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(tr("Settings"));
    auto* layout = new QVBoxLayout(this);
    m_sound = new QCheckBox(tr("&Play a sound when a conversion ends"), this);
    m_sound->setObjectName(QStringLiteral("chkSound"));
    m_sound->setChecked(finishSoundOff == 0);
    layout->addWidget(m_sound);
    m_recognition = new QCheckBox(tr("&Recognise text in scanned pages"), this);
    m_recognition->setObjectName(QStringLiteral("chkTextRecognition"));
    m_recognition->setChecked(textRecognition);
    layout->addWidget(m_recognition);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
}

void OptionsDialog::accept() {
    bool saved = true;
    const int chosen = m_sound->isChecked() ? 0 : 1;
    if ((chosen == 0) != (m_finishSoundOff == 0)) {
        saved = writeFinishSoundOff(m_path, chosen);
        m_finishSoundOff = chosen;
    }
    const bool recognition = m_recognition->isChecked();
    if (recognition != m_textRecognition) {
        saved = writeTextRecognition(m_path, recognition) && saved;
        m_textRecognition = recognition;
    }
    // The choices hold for this session either way; only their next start is lost.
    if (!saved) {
        platform::MsgBox(tr("The settings could not be saved in %1.").arg(m_path),
                         platform::MessageIcon::Exclamation);
    }
    QDialog::accept();
}

} // namespace convert
