#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace platform {

/// Translates a filter list "label|pattern|label|pattern..." into Qt name filters, one per
/// pair, in order: "PDF Files(*.pdf)|*.pdf" gives "PDF Files(*.pdf) (*.pdf)". A pattern may
/// hold several globs separated by ';' ("*.jpg;*.jpeg"); "*.*" means every file and becomes
/// "*", which also matches names without a dot. A pair without a pattern is dropped, a pair
/// without a label is labelled with its pattern. Empty text gives an empty list.
QStringList NameFiltersFromPipeList(const QString& pipeList);

/// The folder the next open dialog of CCommonDialogs starts in: the folder of the file last
/// confirmed in a file dialog of this process, or the process's current folder before the
/// first one (or when that folder has gone). The process's current folder itself is never
/// changed.
QString OpenDialogFolder();

/// The standard dialogs with properties going in and coming out. Each Show operation goes
/// through DialogBackend::current(), is owned by the window given to Init, returns true when
/// the user confirmed the dialog and false when it was cancelled or failed, and on false
/// changes no property. No operation shows a message.
///
/// All properties start empty, zero or false. Title, Path, FileTitle and FileName read back
/// the stored text up to its first NUL character; every other property reads back unchanged.
class CCommonDialogs {
public:
    /// Binds the dialogs to `ownerForm` (not owned; a destroyed owner leaves them unowned).
    void Init(QWidget* ownerForm);
    QWidget* owner() const { return m_owner; }

    /// File name without its folder, set by a confirmed open or save dialog.
    QString FileTitle() const;
    void setFileTitle(const QString& value) { m_fileTitle = value; }
    /// Folder of the last chosen file, without a trailing separator ("/" for a file in the
    /// root), or the folder chosen in the folder dialog; the save dialog starts there.
    QString Path() const;
    void setPath(const QString& value) { m_path = value; }
    /// "label|pattern|label|pattern..." (see NameFiltersFromPipeList); the first pair is
    /// preselected.
    QString Filter() const { return m_filter; }
    void setFilter(const QString& value) { m_filter = value; }
    /// Full path: the initial file name of the open dialog, the chosen file afterwards.
    QString FileName() const;
    void setFileName(const QString& value) { m_fileName = value; }
    /// Colour as 0x00BBGGRR (low byte red): the initial and the chosen colour.
    quint32 Color() const { return m_color; }
    void setColor(quint32 value) { m_color = value; }
    /// Title of the open and folder dialogs.
    QString Title() const;
    void setTitle(const QString& value) { m_title = value; }
    /// Extension (with or without its dot) given to a typed file name that has none.
    QString DefExt() const { return m_defExt; }
    void setDefExt(const QString& value) { m_defExt = value; }
    QString FontName() const { return m_fontName; }
    void setFontName(const QString& value) { m_fontName = value; }
    /// Font size in points; 0 leaves the size to the font dialog.
    qint16 FontSize() const { return m_fontSize; }
    void setFontSize(qint16 value) { m_fontSize = value; }
    bool FontBold() const { return m_fontBold; }
    void setFontBold(bool value) { m_fontBold = value; }
    bool FontItalic() const { return m_fontItalic; }
    void setFontItalic(bool value) { m_fontItalic = value; }
    bool FontUnderline() const { return m_fontUnderline; }
    void setFontUnderline(bool value) { m_fontUnderline = value; }

    /// Open dialog for one existing file: starts in OpenDialogFolder() with FileName filled
    /// in, titled Title, filtered by Filter (every file when empty), DefExt as the default
    /// extension. On confirmation sets FileName (full path), FileTitle and Path, and the
    /// chosen folder becomes the start of the next open dialog.
    bool ShowOpen();
    /// Save dialog titled "Save": starts in Path, or in AppFolder() when Path is empty or no
    /// existing folder; no initial name; an empty Filter means every file. On confirmation as
    /// ShowOpen.
    bool ShowSave();
    /// Folder dialog titled Title, starting in the home folder. On confirmation Path becomes
    /// the chosen folder and FileName and FileTitle become empty.
    bool ShowFolder();
    /// Colour dialog starting from Color; on confirmation Color becomes the chosen colour.
    bool ShowColor(bool FullOpen);
    /// Font dialog starting from FontName, FontSize, FontBold, FontItalic and FontUnderline.
    /// On confirmation FontName, FontBold, FontItalic and FontSize (whole points, fractions
    /// cut) take the chosen font's values.
    bool ShowFont();
    /// Print dialog without selection, page range or print-to-file; stores nothing.
    bool ShowPrinter();
    /// Settings sheet of the default printer; true when there is one and its sheet was
    /// shown. Stores nothing.
    bool ShowPrinterProperties();

private:
    void storeChosenFile(const QString& path, const QString& startFolder);

    QString m_fileTitle;
    QString m_path;
    QString m_filter;
    QString m_fileName;
    quint32 m_color = 0;
    QString m_title;
    QPointer<QWidget> m_owner;
    QString m_defExt;
    QString m_fontName;
    qint16 m_fontSize = 0;
    bool m_fontBold = false;
    bool m_fontItalic = false;
    bool m_fontUnderline = false;
};

/// The application-wide dialog object. Before any window made one, an unbound instance.
/// The reference is valid until the next ReplaceSharedDialogs.
CCommonDialogs& SharedDialogs();

/// Replaces the application-wide dialog object with a fresh one bound to `owner` (each
/// window does so when it loads, so no property carries over) and returns it.
CCommonDialogs& ReplaceSharedDialogs(QWidget* owner);

/// Flags of GetOpenFilePath that change what it does; others are accepted and ignored.
inline constexpr quint32 OfnNoChangeDir = 0x8;      ///< the choice does not move OpenDialogFolder
inline constexpr quint32 OfnFileMustExist = 0x1000; ///< only an existing file is accepted

/// A stand-alone open dialog owned by `owner` and titled `title`. It starts in `startFolder`
/// with a separator appended, or in AppFolder() when the text is blank or names no existing
/// folder; `startFolder` receives the folder used, also when the user cancels. An empty
/// `filter` means every file. Returns the chosen full path, or empty text on cancel.
QString GetOpenFilePath(QWidget* owner, const QString& title, QString& startFolder,
                        const QString& filter = {}, quint32 flags = 0);

} // namespace platform
