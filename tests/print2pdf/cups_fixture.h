#pragma once

// The real print system for tests that print: whether the PDF printer is ready, a second queue
// made the user's default for a test, waiting for the PDF of a job, and reading the PDF back
// with independent tools (qpdf, poppler). The waits keep the event loop running, so the program
// under test goes on handling its events. Needs libcups (Cups::Cups).
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <cups/cups.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace testing_support {

/// Runs `program` without a shell, in the C locale, and returns its standard output; the exit
/// code goes to `*exitCode` (-1 when it could not be started).
inline QString runProgram(const QString& program, const QStringList& arguments,
                          int* exitCode = nullptr) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    const bool ran = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit;
    if (exitCode) {
        *exitCode = ran ? process.exitCode() : -1;
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

/// Lets the event loop run for `ms` milliseconds.
inline void runEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

/// A cups-pdf queue ("vxPDF" unless told) and the PDFs it writes for this user.
class CupsPdfPrinter {
public:
    explicit CupsPdfPrinter(QString queue = QStringLiteral("vxPDF")) : m_queue(std::move(queue)) {}

    const QString& queue() const { return m_queue; }

    /// Empty when the scheduler answers and the queue exists, enabled and accepting jobs;
    /// otherwise what is missing.
    QString whatIsMissing() const {
        if (!runProgram("lpstat", {"-r"}).contains("scheduler is running")) {
            return "the CUPS scheduler is not running";
        }
        int code = 0;
        const QString state = runProgram("lpstat", {"-p", m_queue}, &code);
        if (code != 0) {
            return "there is no print queue " + m_queue;
        }
        if (!state.contains("enabled")) {
            return "the print queue " + m_queue + " is disabled";
        }
        if (!runProgram("lpstat", {"-a", m_queue}).contains("accepting requests")) {
            return "the print queue " + m_queue + " rejects jobs";
        }
        return {};
    }

    /// The folder cups-pdf writes this user's PDFs to: "Out" of its configuration (the
    /// queue's own one first), ${HOME}/PDF unless set.
    QString outputFolder() const {
        QString out = QStringLiteral("${HOME}/PDF");
        for (const QString& conf : {"/etc/cups/cups-pdf-" + m_queue + ".conf",
                                    QStringLiteral("/etc/cups/cups-pdf.conf")}) {
            QFile file(conf);
            if (!file.open(QIODevice::ReadOnly)) {
                continue;
            }
            for (const QByteArray& line : file.readAll().split('\n')) {
                const QByteArray trimmed = line.trimmed();
                if (trimmed.startsWith("Out ") || trimmed.startsWith("Out\t")) {
                    out = QString::fromLocal8Bit(trimmed.mid(4).trimmed());
                }
            }
            break;
        }
        // cups-pdf takes the home folder from the user's account, not from the environment.
        const passwd* account = getpwuid(geteuid());
        const QString home = account ? QString::fromLocal8Bit(account->pw_dir) : QDir::homePath();
        const QString user = account ? QString::fromLocal8Bit(account->pw_name) : QString();
        return out.replace("${HOME}", home).replace("${USER}", user);
    }

    /// The highest job id given so far on any queue (ids are shared by all queues).
    static int lastJobId() {
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
        int last = 0;
        for (int i = 0; i < count; ++i) {
            last = std::max(last, jobs[i].id);
        }
        cupsFreeJobs(count, jobs);
        return last;
    }

    /// Waits until the first job on the queue after `afterJob` is completed and cups-pdf's PDF
    /// of it exists, and returns that PDF's path. Empty, with the reason in `*failure`, when
    /// the job ended otherwise or none came within `limitMs` (a limit that only ends a wait
    /// gone wrong).
    QString waitForPdf(int afterJob, QString* failure, int limitMs = 60000) const {
        const QDeadlineTimer deadline(limitMs);
        int job = 0;
        QString lastState = QStringLiteral("no job");
        while (!deadline.hasExpired()) {
            cups_job_t* jobs = nullptr;
            const QByteArray queue = m_queue.toLocal8Bit();
            const int count =
                cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.constData(), 0, CUPS_WHICHJOBS_ALL);
            ipp_jstate_t state = IPP_JSTATE_PENDING;
            for (int i = 0; i < count; ++i) {
                if (jobs[i].id > afterJob && (job == 0 || jobs[i].id <= job)) {
                    job = jobs[i].id;
                    state = jobs[i].state;
                }
            }
            cupsFreeJobs(count, jobs);
            if (job != 0) {
                lastState = QString("job %1 in state %2").arg(job).arg(int(state));
                if (state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED) {
                    *failure = QString("%1 ended without a PDF (cancelled or aborted)").arg(job);
                    return {};
                }
                if (state == IPP_JSTATE_COMPLETED) {
                    const QStringList found =
                        QDir(outputFolder())
                            .entryList({QString("*-job_%1.pdf").arg(job)}, QDir::Files);
                    if (!found.isEmpty()) {
                        return QDir(outputFolder()).filePath(found.front());
                    }
                }
            }
            runEventsFor(50);
        }
        *failure = QString("no PDF on %1 after job %2 (%3) in %4")
                       .arg(m_queue)
                       .arg(afterJob)
                       .arg(lastState, outputFolder());
        return {};
    }

private:
    QString m_queue;
};

/// The user's default printer as `lpstat -d` tells it; empty when there is none.
inline QString lpstatDefault() {
    const QString answer = runProgram("lpstat", {"-d"}).trimmed();
    const QString prefix = QStringLiteral("system default destination: ");
    return answer.startsWith(prefix) ? answer.mid(prefix.size()) : QString();
}

/// A second cups-pdf queue, disabled and rejecting jobs so that a job sent to it by mistake
/// never becomes a PDF, made the user's default (`lpoptions -d`, as a user does) for the
/// object's lifetime. At the end the queue is removed and the user's lpoptions file is put
/// back as it was. Needs root.
class OtherDefaultQueue {
public:
    explicit OtherDefaultQueue(QString name = QStringLiteral("LumadocTestOther"))
        : m_name(std::move(name)), m_options(QDir::homePath() + "/.cups/lpoptions") {
        QFile options(m_options);
        m_hadOptions = options.open(QIODevice::ReadOnly);
        if (m_hadOptions) {
            m_savedOptions = options.readAll();
        }
        QStringList create{"-p", m_name, "-v", "cups-pdf:/", "-o", "printer-is-shared=false"};
        const QString ppd = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";
        if (QFileInfo::exists(ppd)) {
            create << "-P" << ppd;
        }
        int code = 0;
        runProgram("lpadmin", create, &code);
        runProgram("cupsdisable", {m_name});
        runProgram("cupsreject", {m_name});
        int defaultCode = 0;
        runProgram("lpoptions", {"-d", m_name}, &defaultCode);
        m_ready = code == 0 && defaultCode == 0;
    }
    ~OtherDefaultQueue() {
        runProgram("lpadmin", {"-x", m_name});
        if (m_hadOptions) {
            QFile options(m_options);
            if (options.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                options.write(m_savedOptions);
            }
        } else {
            QFile::remove(m_options);
        }
    }
    OtherDefaultQueue(const OtherDefaultQueue&) = delete;
    OtherDefaultQueue& operator=(const OtherDefaultQueue&) = delete;

    bool ready() const { return m_ready; }
    const QString& name() const { return m_name; }

private:
    QString m_name;
    QString m_options;
    bool m_hadOptions = false;
    QByteArray m_savedOptions;
    bool m_ready = false;
};

/// The page count of a PDF (qpdf), -1 when it cannot be read.
inline int pdfPageCount(const QString& pdf) {
    int code = 0;
    const QString pages = runProgram("qpdf", {"--show-npages", pdf}, &code).trimmed();
    return code == 0 ? pages.toInt() : -1;
}

/// The text of a PDF (poppler's pdftotext).
inline QString pdfText(const QString& pdf) {
    return runProgram("pdftotext", {"-enc", "UTF-8", pdf, "-"});
}

/// Whether page `page` (from 1) of a PDF, rendered in grey (poppler's pdftoppm), has dark
/// pixels.
inline bool pdfPageHasInk(const QString& pdf, int page) {
    QTemporaryDir dir;
    const QString root = dir.filePath("page");
    const QString number = QString::number(page);
    runProgram("pdftoppm",
               {"-r", "40", "-gray", "-f", number, "-l", number, "-singlefile", pdf, root});
    const QImage image(root + ".pgm");
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                return true;
            }
        }
    }
    return false;
}

} // namespace testing_support
