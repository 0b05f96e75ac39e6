#pragma once

#include <QString>

#include <optional>

namespace convert {

/// What "setup.ini" carries from one start of the program to the next.
struct SetupFields {
    std::optional<QString> outputFolder; ///< field 4, when it could be read
    std::optional<int> formatIndex;      ///< field 5, when it could be read as an integer
};

/// Reads the five quoted fields of `path` (fields 1 to 3 are ignored). A missing file or
/// field leaves the member empty.
SetupFields readSetupIni(const QString& path);

/// Writes "setup.ini": three empty fields, the output folder and the format index, each
/// between double quotes on a line ending in CR LF. Returns false when it cannot be written.
bool writeSetupIni(const QString& path, const QString& outputFolder, int formatIndex);

/// The end-of-run sound switch from "options.ini": its first field read as a number, made
/// whole (halves to even) and kept when it fits in 16 bits. 0 when the file is missing or the
/// field is not such a number.
int readFinishSoundOff(const QString& path);

/// Sets the end-of-run sound switch in "options.ini" to `value` (1 turns the sound off): the
/// first line is replaced, the lines after it are kept. Returns false when it cannot be written.
bool writeFinishSoundOff(const QString& path, int value);

/// The text recognition switch from "options.ini": the line "TextRecognition=N" after the
/// first line (which belongs to the sound switch). N read as a whole number: 0 turns recognition
/// off, any other number leaves it on. On when the file, the line or a readable number is missing,
/// so files of versions that knew no such line keep recognition on.
bool readTextRecognition(const QString& path);

/// Sets the text recognition switch in "options.ini": the "TextRecognition=" line is replaced
/// (or added after the others); the first line, the sound switch, is kept byte for byte, and
/// written as "0" (the sound on, as a missing file means) when the file has none. Returns false
/// when it cannot be written.
bool writeTextRecognition(const QString& path, bool on);

/// What the converter window starts with.
struct ConverterSettingsState {
    QString outputFolder;
    std::optional<int> formatIndex; ///< a selection to make; -1 clears it; empty: keep the first
    int finishSoundOff = 0;
    bool textRecognition = true;
};

/// The loading steps of the converter window: the default output folder, then "setup.ini"
/// (field 4 the folder, field 5 the format, an index beyond the list ignored), the default
/// again when the folder came out empty, then "options.ini" (the sound and recognition switches).
ConverterSettingsState LoadSettings(const QString& setupPath, const QString& optionsPath,
                                    const QString& defaultOutputFolder, int formatCount);

/// The fields of a file in the quoted-field form: fields separated by commas or line ends, a
/// field in double quotes taken between them (commas included), others trimmed.
QStringList readQuotedFields(const QByteArray& content);

} // namespace convert
