#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace platform {

/// What a file dialog is asked to show.
struct FileDialogRequest {
    QString title;           ///< window title; empty gives the toolkit's own ("Open", "Save As")
    QString startFolder;     ///< folder shown first
    QStringList nameFilters; ///< Qt name filters ("Label (*.a *.b)"); empty shows every file
    QString selectedFilter;  ///< the entry of nameFilters preselected
    QString initialName;     ///< file name (or full path) filled in; empty for none
    QString defaultSuffix;   ///< appended, without its dot, to a typed name that has none
    bool mustExist = true;   ///< an open dialog accepts only an existing file
};

/// The platform's standard dialogs, one virtual per dialog. Every call is modal to `owner`
/// (nullptr: application-modal, no parent) and answers the user's choice, or nothing when
/// the dialog was cancelled or could not be shown. No call shows a message of its own.
/// The program uses QtDialogBackend; tests install one that answers and records.
class DialogBackend {
public:
    virtual ~DialogBackend() = default;

    /// Lets the user pick a file to open; returns its absolute path.
    virtual std::optional<QString> openFile(QWidget* owner, const FileDialogRequest& request) = 0;

    /// Lets the user name a file to save; returns its absolute path. `mustExist` is ignored.
    /// Naming an existing file asks the user before it is accepted, so that confirming the
    /// dialog never replaces a file unawares.
    virtual std::optional<QString> saveFile(QWidget* owner, const FileDialogRequest& request) = 0;

    /// Lets the user pick a folder, starting at `startFolder`; returns its absolute path.
    virtual std::optional<QString> folder(QWidget* owner, const QString& title,
                                          const QString& startFolder) = 0;

    /// Lets the user pick a colour, starting from `initial`. `fullOpen` asks for the custom
    /// colour part to be open from the start where the dialog has such a part.
    virtual std::optional<QColor> color(QWidget* owner, const QColor& initial, bool fullOpen) = 0;

    /// Lets the user pick an installed font, starting from `initial`.
    virtual std::optional<QFont> font(QWidget* owner, const QFont& initial) = 0;

    /// The print dialog, without selection, page range and print-to-file choices. True when
    /// the user confirmed it.
    virtual bool printer(QWidget* owner) = 0;

    /// The settings sheet of the default printer. True when there is a printer and its sheet
    /// was shown, however the user closed it.
    virtual bool printerProperties(QWidget* owner) = 0;

    /// The installed backend; without one, a QtDialogBackend.
    static DialogBackend& current();
    /// Installs `backend` (not owned) as the current one; nullptr restores the Qt dialogs.
    static void install(DialogBackend* backend);
};

/// The Qt dialogs. File and folder dialogs are Qt's own widgets, not the desktop's native
/// ones, so that keyboard users and accessibility tools can drive them like any window of
/// the program; their filter lists show the labels only.
class QtDialogBackend : public DialogBackend {
public:
    std::optional<QString> openFile(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<QString> saveFile(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<QString> folder(QWidget* owner, const QString& title,
                                  const QString& startFolder) override;
    std::optional<QColor> color(QWidget* owner, const QColor& initial, bool fullOpen) override;
    std::optional<QFont> font(QWidget* owner, const QFont& initial) override;
    bool printer(QWidget* owner) override;
    bool printerProperties(QWidget* owner) override;
};

} // namespace platform
