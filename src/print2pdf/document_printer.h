#pragma once

#include "platform/spooler.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace print2pdf {

/// The virtual printer that turns every document it is given into a PDF.
inline const QString PdfPrinter = QStringLiteral("vxPDF");

/// Prints a document on a chosen printer by making it the default printer and handing the
/// document to the program that prints its type. Once every program it started has returned,
/// the default printer the user had is given back. It never waits: the print programs run while
/// the event loop goes on, and their ends are handled there.
class DocumentPrinter : public QObject {
    Q_OBJECT
public:
    /// Starts the program that prints `documentPath` on the default printer and returns at once;
    /// `returned` is to be called from the event loop when that program has ended. Returns
    /// false, without calling `returned`, when the document's type has no print action.
    using PrintStart =
        std::function<bool(const QString& documentPath, std::function<void()> returned)>;

    /// `startPrint` empty: the shell's "print" verb (platform::ShellPrint).
    explicit DocumentPrinter(platform::Spooler& spooler = platform::Spooler::host(),
                             PrintStart startPrint = {});
    /// Waits for pending hand-overs like waitForHandOver(), so none is cut short.
    ~DocumentPrinter() override;

    /// Makes `szPrinter` the default printer unless it is already (names compared exactly) and
    /// hands `szDocumentPath` to the program that prints it. When the printer cannot be made the
    /// default (not installed), the document is not printed: it would come out on another
    /// printer. When the type has no print action, nothing is printed and the default is given
    /// back at once.
    void PrintDocumentUsingShellExecute(const QString& szPrinter, const QString& szDocumentPath);

    /// Whether a print program started here has not returned yet.
    bool isHandingOver() const { return m_pending > 0; }
    /// Returns once no hand-over is pending and the previous default printer is back, or after
    /// `limitMs` (negative: no limit), handling events meanwhile (at shutdown, so a pending
    /// print is not cut short). True when no hand-over is pending.
    bool waitForHandOver(int limitMs = -1);
    /// Gives the previous default printer back now, whether or not the print programs have
    /// returned (at shutdown, after waiting for one in vain); their ends are then ignored.
    void giveDefaultBackNow();

signals:
    /// Every pending hand-over has finished and the previous default printer was given back.
    void handedOver();

private:
    QString defaultPrinter();
    void printReturned();
    void finishIfIdle();

    platform::Spooler& m_spooler;
    PrintStart m_startPrint;
    int m_pending = 0;
    /// The default the user had before the first switch of the pending hand-overs.
    std::optional<QString> m_previous;
    /// The printer the last switch made the default.
    QString m_switchedTo;
};

} // namespace print2pdf
