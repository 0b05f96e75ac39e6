#include "document_printer.h"

#include "printer_set.h"

#include "platform/shell_print.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace print2pdf {

DocumentPrinter::DocumentPrinter(platform::Spooler& spooler, PrintStart startPrint)
    : m_spooler(spooler), m_startPrint(std::move(startPrint)) {
    if (!m_startPrint) {
        m_startPrint = platform::ShellPrint;
    }
}

DocumentPrinter::~DocumentPrinter() {
    waitForHandOver();
}

QString DocumentPrinter::defaultPrinter() {
    // Asked first for the length, then with a buffer of that length; the name ends at the
    // first NUL.
    quint32 length = 0;
    m_spooler.GetDefaultPrinterA(nullptr, &length);
    QByteArray buffer(qsizetype(length), '\0');
    m_spooler.GetDefaultPrinterA(&buffer, &length);
    const qsizetype end = buffer.indexOf('\0');
    return QString::fromLocal8Bit(end < 0 ? buffer : buffer.left(end));
}

void DocumentPrinter::PrintDocumentUsingShellExecute(const QString& szPrinter,
                                                     const QString& szDocumentPath) {
    const QString current = defaultPrinter();
    if (current != szPrinter) {
        // While a hand-over is pending the default is the printer switched to then, not the
        // user's: the user's stays the one to give back.
        const bool usersDefault = !(m_previous && m_pending > 0 && current == m_switchedTo);
        SetDefaultPrinter(m_spooler, szPrinter);
        if (defaultPrinter() != szPrinter) {
            // The printer is not installed, or a default that wins over the user's (LPDEST)
            // hides it: the document would come out on another printer. A switch that was
            // stored all the same is taken back.
            if (usersDefault) {
                SetDefaultPrinter(m_spooler, current);
            }
            finishIfIdle();
            return;
        }
        if (usersDefault) {
            m_previous = current;
        }
        m_switchedTo = szPrinter;
    }

    ++m_pending;
    auto once = std::make_shared<bool>(false);
    const bool started =
        m_startPrint(szDocumentPath, [self = QPointer<DocumentPrinter>(this), once] {
            if (!*once && self) {
                *once = true;
                self->printReturned();
            }
        });
    if (!started) {
        *once = true;
        --m_pending;
        finishIfIdle();
    }
}

void DocumentPrinter::printReturned() {
    if (m_pending == 0) {
        return; // given back already
    }
    --m_pending;
    finishIfIdle();
}

void DocumentPrinter::giveDefaultBackNow() {
    if (m_pending == 0) {
        return;
    }
    m_pending = 0;
    finishIfIdle();
}

void DocumentPrinter::finishIfIdle() {
    if (m_pending > 0) {
        return;
    }
    if (m_previous) {
        const QString previous = *m_previous;
        m_previous.reset();
        // A default the user chose during the hand-over stays.
        if (defaultPrinter() == m_switchedTo) {
            SetDefaultPrinter(m_spooler, previous);
        }
    }
    emit handedOver();
}

bool DocumentPrinter::waitForHandOver(int limitMs) {
    if (m_pending == 0) {
        return true;
    }
    QEventLoop loop;
    connect(this, &DocumentPrinter::handedOver, &loop, &QEventLoop::quit);
    if (limitMs >= 0) {
        QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    }
    loop.exec();
    return m_pending == 0;
}

} // namespace print2pdf
