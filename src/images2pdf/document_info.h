#pragma once

#include <QDateTime>
#include <QString>

namespace images2pdf {

/// The document information of the image window: what the PDF made from the images receives.
/// The title also names that PDF (title + ".pdf"). No field is validated.
struct DocumentInfo {
    QString title = QStringLiteral("New Title");
    QString author = QStringLiteral("Author Name");
    QString subject = QStringLiteral("New Subject");
    QString keywords = QStringLiteral("Quillfox");
    QString creationDate; ///< PDF date text, or whatever the user typed
    QString modifyDate;   ///< the same
};

/// The PDF date text of `when` in its own time zone: "D:" + YYYYMMDDHHmmSS + the offset from
/// UTC as +HH'mm or -HH'mm ("D:20100105090307+01'00"; UTC gives "+00'00").
QString PdfDate(const QDateTime& when);
/// PdfDate of the current local time.
QString PdfDateNow();

/// "quillsetting.dll" in the settings folder: the four fields kept from one use of the image
/// window to the next (a plain text file despite its name).
QString DocumentSettingsPath();

/// Reads the four records of a settings file into title, author, subject and keywords, in
/// that order. A record is the text between the first double quote of its line and the next
/// one (the rest of the line when there is no second); a line without a double quote is
/// taken up to its first comma, trimmed. A record the file does not have leaves its field as
/// it was; a missing or unreadable file changes nothing.
void ReadDocumentSettings(const QString& path, DocumentInfo& info);

/// Writes the four records, each between double quotes on a line ending in CR LF (quotes in a
/// value are written as they are). The file is replaced only when it was written whole.
/// False when it could not be written.
bool SaveDocumentSettings(const QString& path, const DocumentInfo& info);

/// The window's load of the fields: the settings file when there is one, then the modify date
/// and the creation date from the clock, read in that order.
void LoadDocumentInfo(const QString& settingsPath, DocumentInfo& info);

/// The sixteen lines of "info.txt" that the PDF toolkit adds to the document: an InfoKey line
/// and an InfoValue line for Title, Author, CreationDate, ModDate, Subject, Keywords, Creator
/// and Producer (both "Lumadoc"), each ending in CR LF; values exactly as typed.
QByteArray InfoFileText(const DocumentInfo& info);
/// Writes InfoFileText to `path`. False when it could not be written.
bool WriteInfoFile(const QString& path, const DocumentInfo& info);

} // namespace images2pdf
