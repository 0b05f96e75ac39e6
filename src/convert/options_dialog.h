#pragma once

#include <QDialog>

class QCheckBox;

namespace convert {

/// The converter's settings dialog: whether a sound is played when a conversion ends, and
/// whether the text of scanned pages is recognised. OK writes to "options.ini" only the
/// switches whose choice changed.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(QString optionsPath, int finishSoundOff, bool textRecognition,
                  QWidget* parent = nullptr);

    /// The switch after the dialog: 0 plays the sound.
    int finishSoundOff() const { return m_finishSoundOff; }
    /// Whether text recognition is on after the dialog.
    bool textRecognition() const { return m_textRecognition; }

    void accept() override;

private:
    QString m_path;
    int m_finishSoundOff;
    bool m_textRecognition;
    QCheckBox* m_sound = nullptr;
    QCheckBox* m_recognition = nullptr;
};

} // namespace convert
