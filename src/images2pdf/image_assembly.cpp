#include "image_assembly.h"

#include "platform/beside_events.h"
#include "platform/command_line.h"
#include "platform/paths.h"
#include "platform/prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

namespace images2pdf {
namespace {

using platform::Conventions;

const QString Product = QStringLiteral("Lumadoc");

QString pdftk(const Conventions& conv, const QString& appFolder) {
    return platform::QuoteIfNeeded(conv.join(appFolder, conv.exe(QStringLiteral("pdftk"))));
}

QString runningFile(const Conventions& conv, int k) {
    return conv.join(conv.tmpFolder, QStringLiteral("tmp%1.pdf").arg(k));
}

QString pageFile(const Conventions& conv, int i) {
    return conv.join(conv.jpgTmpFolder, QStringLiteral("%1.pdf").arg(i));
}

int halfToEven(double value) {
    return int(std::nearbyint(value)); // the default rounding mode rounds halves to even
}

void pump() {
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents();
    }
}

// Copies `from` to `to` so that `to` appears only when whole, replacing a file of that name.
// Empty text on success, else why not.
QString copyWhole(const QString& from, const QString& to) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        return QStringLiteral("the joined document is missing");
    }
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        return target.errorString();
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = source.read(buffer.data(), buffer.size());
        if (got < 0) {
            target.cancelWriting();
            return source.errorString();
        }
        if (got == 0) {
            break;
        }
        if (target.write(buffer.constData(), got) != got) {
            const QString why = target.errorString();
            target.cancelWriting();
            return why;
        }
    }
    return target.commit() ? QString() : target.errorString();
}

// Why `folder` cannot take a PDF named after `title`, or empty text when it can.
QString outputProblem(const QString& folder, const QString& title) {
    if (title.contains(QChar('/')) || title.contains(QChar(0))) {
        return QStringLiteral("the title \"%1\" cannot name a file: it holds a %2")
            .arg(title, title.contains(QChar(0)) ? QStringLiteral("NUL") : QStringLiteral("/"));
    }
    if (!QFileInfo(folder).isDir()) {
        return QStringLiteral("the output folder %1 could not be made").arg(folder);
    }
    return {};
}

} // namespace

QSize PageSizeOf(QSize pixels) {
    double w = pixels.width() / 0.376;
    double h = pixels.height() / 0.376;
    const double largest = std::max(w, h);
    if (halfToEven(largest) > 32767) {
        const double scale = 32767.0 / largest;
        w *= scale;
        h *= scale;
    }
    return {std::max(1, std::min(32767, halfToEven(w))),
            std::max(1, std::min(32767, halfToEven(h)))};
}

QString ImageAssembly::JoinCommandLine(const Conventions& conv, const QString& appFolder, int k) {
    return pdftk(conv, appFolder) + QChar(' ') + platform::QuoteIfNeeded(runningFile(conv, k)) +
           QChar(' ') + platform::QuoteIfNeeded(pageFile(conv, k)) +
           QStringLiteral(" cat output ") + platform::QuoteIfNeeded(runningFile(conv, k + 1)) +
           QStringLiteral(" dont_ask");
}

QString ImageAssembly::InfoCommandLine(const Conventions& conv, const QString& appFolder, int n) {
    return pdftk(conv, appFolder) + QChar(' ') + platform::QuoteIfNeeded(runningFile(conv, n)) +
           QStringLiteral(" update_info ") +
           platform::QuoteIfNeeded(conv.join(conv.tmpFolder, QStringLiteral("info.txt"))) +
           QStringLiteral(" output ") +
           platform::QuoteIfNeeded(conv.join(conv.tmpFolder, QStringLiteral("tmpx.pdf"))) +
           QStringLiteral(" dont_ask");
}

ImageAssembly::ImageAssembly(Setup setup, AssemblyHost& host, PageWriter& writer)
    : m_setup(std::move(setup)), m_host(host), m_writer(writer),
      m_processes(m_setup.processes ? *m_setup.processes : platform::Processes::system()) {}

// One page: the box's properties in their order, the image measured upright, drawn over the
// whole page. Runs beside the events; the library's message is read on the thread that failed.
bool ImageAssembly::writePage(int i, QString image, QSize* lastPixels, QString* failure) {
    const Conventions& conv = m_setup.conventions;
    const long owner = m_setup.ownerWindow;
    return platform::RunBesideEvents([&, i]() -> bool {
        PageWriter& w = m_writer;
        const int box = w.CreateBox(owner, 0);
        if (box == PDFCTL_FAILED) {
            *failure = w.GetErrorMsg();
            return false;
        }
        int width = 0;
        int height = 0;
        bool ok = w.SetNumProp(box, 44, 1) != PDFCTL_FAILED &&
                  w.SetStrProp(box, PDFCTL_OUTPUT_FILE, pageFile(conv, i)) != PDFCTL_FAILED &&
                  w.SetNumProp(box, 44, 0) != PDFCTL_FAILED;
        if (ok) {
            // An image that cannot be measured cannot be drawn either: say so now, naming it.
            if (w.MeasureImage(image, &width, &height)) {
                *lastPixels = QSize(width, height);
            } else {
                *failure = w.GetErrorMsg();
                w.FreeBox(box);
                return false;
            }
        }
        const QSize page = PageSizeOf(*lastPixels);
        ok =
            ok && w.SetStrProp(box, PDFCTL_CREATOR, Product) != PDFCTL_FAILED &&
            w.SetNumProp(box, PDFCTL_PAGE_WIDTH, page.width()) != PDFCTL_FAILED &&
            w.SetNumProp(box, PDFCTL_PAGE_HEIGHT, page.height()) != PDFCTL_FAILED &&
            w.SetNumProp(box, PDFCTL_UNIT, PDFCTL_UNIT_TENTH_MM) != PDFCTL_FAILED &&
            w.SetNumProp(box, PDFCTL_JPEG_QUALITY, 100) != PDFCTL_FAILED &&
            w.SetNumProp(box, PDFCTL_IMAGE_CODING, PDFCTL_CODING_FLATE) != PDFCTL_FAILED &&
            w.SetNumProp(box, PDFCTL_TRANSPARENCY, PDFCTL_ALPHA_SOFT_MASK) != PDFCTL_FAILED &&
            w.BeginDoc(box) != PDFCTL_FAILED &&
            w.StretchDrawFromFile(box, 0, 0, page.width(), page.height(), image) != PDFCTL_FAILED &&
            w.EndDoc(box) != PDFCTL_FAILED;
        if (!ok) {
            *failure = w.GetErrorMsg();
        }
        w.FreeBox(box);
        return ok;
    });
}

// Starts a pdftk command line and waits for it with the events flowing. The tool writes its
// output under a temporary name and renames it when whole, so an output that exists after a
// clean exit is the tool's whole result.
bool ImageAssembly::runTool(const QString& commandLine, const QString& expectedOutput,
                            QString* failure, const QStringList& environment) {
    platform::StartOptions options;
    options.environment = environment;
    const qint64 pid = m_processes.startHidden(commandLine, options);
    if (pid <= 0) {
        *failure = QStringLiteral("pdftk cannot be started from %1").arg(m_setup.appFolder);
        return false;
    }
    const int status = m_processes.waitForEnd(pid);
    pump();
    if (status != 0 || !QFileInfo::exists(expectedOutput)) {
        *failure = status > 0 && status < 128
                       ? QStringLiteral("pdftk failed (exit status %1)").arg(status)
                       : QStringLiteral("pdftk wrote no document");
        return false;
    }
    return true;
}

void ImageAssembly::finish(const QString& status) {
    const Conventions& conv = m_setup.conventions;
    m_host.setProgress(0);
    m_host.setStatus(QStringLiteral("Removing Temporary Files..."));
    pump();
    platform::RunBesideEvents([&conv] {
        platform::DeleteFolderTree(conv.tmpFolder);
        platform::DeleteFolderTree(conv.jpgTmpFolder);
        return true;
    });
    m_host.setStatus(status);
    m_host.setRequestsEnabled(true);
    m_running = false;
}

ImageAssembly::Result ImageAssembly::Run(QStringList images, QString outputFolderText,
                                         DocumentInfo info) {
    using platform::MessageIcon;
    using platform::MsgBox;
    Result result;
    if (images.isEmpty()) {
        MsgBox(QStringLiteral("Please add a file"), MessageIcon::Exclamation,
               QStringLiteral("Add File"));
        result.outcome = Result::Outcome::NoImages;
        return result;
    }
    if (m_running) {
        return result;
    }
    m_running = true;
    const Conventions& conv = m_setup.conventions;
    const int n = int(images.size());
    m_host.setRequestsEnabled(false);

    // An empty box means the default output folder, not the root of the file system.
    const QString folderGiven =
        outputFolderText.isEmpty() ? m_setup.defaultOutputFolder : outputFolderText;
    // Beside the events: an output folder on a slow share, or files flushed to disk as they
    // are saved, must not stall the window.
    platform::RunBesideEvents([&] {
        QDir().mkdir(folderGiven);
        QDir().mkdir(conv.tmpFolder);
        QDir().mkdir(conv.jpgTmpFolder);
        QFile::remove(conv.join(conv.jpgTmpFolder, QStringLiteral("jpgtmp.pdf")));
        SaveDocumentSettings(m_setup.settingsPath, info);
        WriteInfoFile(conv.join(conv.tmpFolder, QStringLiteral("info.txt")), info);
        return true;
    });

    // The output folder and the file name are known now: when they cannot take the PDF, say
    // so before the pages are made rather than after.
    QString folder = outputFolderText;
    if (folder.endsWith(conv.separator) && folder.size() > 1) {
        folder.chop(1);
    }
    if (folder.isEmpty()) {
        folder = m_setup.defaultOutputFolder;
    }
    result.output = folder + conv.separator + info.title + QStringLiteral(".pdf");
    QString failure = outputProblem(folder, info.title);

    m_host.setStatus(QStringLiteral("Preparing Files..."));
    m_host.setProgress(0);
    m_writer.load();
    QSize pixels;
    for (int i = 0; i < n && failure.isEmpty(); ++i) {
        QString pageFailure;
        if (!writePage(i, images[i], &pixels, &pageFailure)) {
            MsgBox(pageFailure, MessageIcon::Critical, QStringLiteral("PDF"));
            finish(QStringLiteral("No PDF was written."));
            result.outcome = Result::Outcome::PageFailed;
            result.reason = pageFailure;
            return result;
        }
        if (n > 1) {
            const int p = int(qint64(i) * 100 / (n - 1));
            m_host.setProgress(p);
            m_host.setStatus(QStringLiteral("Preparing Files...%1%").arg(p));
        }
        pump();
    }

    if (failure.isEmpty()) {
        m_host.setProgress(100);
        m_host.setStatus(QStringLiteral("Now Start Creating..."));
        pump();
    }
    // File operations run beside the events: with a few hundred megabytes of pages waiting to
    // be written out, even a small copy can keep the file system busy for a while.
    if (failure.isEmpty() && !platform::RunBesideEvents([&conv] {
            QFile::remove(runningFile(conv, 1));
            return QFile::copy(pageFile(conv, 0), runningFile(conv, 1));
        })) {
        failure = QStringLiteral("the first page could not be copied into the work folder");
    }
    for (int k = 1; k < n && failure.isEmpty(); ++k) {
        // The running file is ours and goes right after the join: pdftk may make it the next
        // one instead of copying it, so a join costs what its page costs at any length.
        if (!runTool(JoinCommandLine(conv, m_setup.appFolder, k), runningFile(conv, k + 1),
                     &failure, {QStringLiteral("LUMADOC_PDFTK_CONSUME_FIRST=1")})) {
            failure = QStringLiteral("page %1 could not be joined: %2").arg(k + 1).arg(failure);
            break;
        }
        platform::RunBesideEvents([&conv, k] { return QFile::remove(runningFile(conv, k)); });
        const int p = int(qint64(k) * 100 / (n - 1));
        m_host.setProgress(p);
        m_host.setStatus(QStringLiteral("Creating...%1%").arg(p));
        pump();
    }
    const QString finished = conv.join(conv.tmpFolder, QStringLiteral("tmpx.pdf"));
    if (failure.isEmpty() &&
        !runTool(InfoCommandLine(conv, m_setup.appFolder, n), finished, &failure)) {
        failure = QStringLiteral("the document information could not be added: %1").arg(failure);
    }

    // The output folder box loses a trailing separator; the PDF goes into that folder.
    if (outputFolderText.endsWith(conv.separator) && outputFolderText.size() > 1) {
        m_host.setOutputFolderText(outputFolderText.chopped(1));
    }
    if (failure.isEmpty()) {
        failure = outputProblem(folder, info.title);
    }
    if (failure.isEmpty()) {
        m_host.setStatus(QStringLiteral("Copying..."));
        const QString why =
            platform::RunBesideEvents([&] { return copyWhole(finished, result.output); });
        if (!why.isEmpty()) {
            failure = QStringLiteral("%1 could not be written: %2").arg(result.output, why);
        }
    }

    finish(failure.isEmpty() ? QStringLiteral("Done.") : QStringLiteral("No PDF was written."));
    if (QFileInfo(folder).isDir()) {
        m_host.openFolder(folder);
    }
    m_host.beep();
    if (failure.isEmpty()) {
        result.outcome = Result::Outcome::Written;
    } else {
        result.reason = failure;
        MsgBox(QStringLiteral("No PDF was written: %1.").arg(failure), MessageIcon::Critical);
    }
    return result;
}

} // namespace images2pdf
