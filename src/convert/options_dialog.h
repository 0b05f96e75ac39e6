#pragma once

#include <QDialog>

class QCheckBox;

namespace convert {

/// The converter's settings dialog: whether a sound is played when a conversion ends. OK
/// writes "options.ini" only when the choice changed.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(QString optionsPath, int finishSoundOff, QWidget* parent = nullptr);

    /// The switch after the dialog: 0 plays the sound.
    int finishSoundOff() const { return m_finishSoundOff; }

    void accept() override;

private:
    QString m_path;
    int m_finishSoundOff;
    QCheckBox* m_sound = nullptr;
};

} // namespace convert
