#pragma once

#include "command_lines.h"
#include "conversion_queue.h"
#include "conversion_settings.h"
#include "export_library.h"
#include "output_format.h"

#include "platform/conventions.h"
#include "platform/processes.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

namespace convert {

/// What a conversion run shows and does outside itself: the progress display of the
/// converter window (or a terminal), the request buttons, and the finishing touches.
class ConversionHost {
public:
    virtual ~ConversionHost() = default;

    virtual void setStatus(const QString& text) = 0;    ///< the status label
    virtual void setProgress(int percent) = 0;          ///< the progress bar, 0 to 100
    virtual void setProgressWidth(int twips) = 0;       ///< the bar picture, full at 5415
    virtual void setAnimation(bool running) = 0;        ///< the waiting animation
    virtual void setRequestsEnabled(bool enabled) = 0;  ///< buttons that start work
    virtual void openFolder(const QString& folder) = 0; ///< show the output folder
    virtual void playSound(const QString& wavFile) = 0; ///< returns when the sound is over
    virtual void showExportFinished() = 0;              ///< the "pro" window

    /// How one queued file ended, as its back-end really returned it, for hosts that report
    /// per file.
    struct FileReport {
        enum class Outcome {
            Written, ///< the output exists, whole
            Failed,  ///< the back-end ran and wrote nothing usable; `reason` says why
            Skipped, ///< nothing was tried: cannot be opened, no password, no format
        };
        QString path;
        Outcome outcome = Outcome::Skipped;
        QString reason; ///< for Failed and Skipped: "the disk is full", ...
        std::optional<OutputFormat> format;
        QString output; ///< the file or folder the back-end was told to write
        /// Why `output` is not named after the file: an earlier file of the run took the name.
        QString note;
        bool outputIsFolder = false;
        int pagesWritten = -1; ///< image exports: the image files written
    };
    virtual void fileDone(const FileReport&) {}
};

/// Starts the "Export finished" window of the application folder, detached, with a normal
/// activated window. Returns false when it cannot be started.
bool StartExportFinishedWindow(const platform::Conventions& conv, const QString& appFolder,
                               platform::Processes& processes = platform::Processes::system());

/// The full width of the progress picture, in twips.
constexpr int ProgressWidthTwips = 5415;

/// Works off the queue head by head into the chosen format: probe, password, the decrypted
/// copy of a protected file, the back-end of the format (the export library for Word, RTF and
/// images; a command-line tool for text, HTML and Flash), then the next file; at the end the
/// output folder is opened and the finishing sound played. Runs on the calling thread and keeps
/// its events flowing at every step, so the window stays usable and the queue may grow. The file
/// in work is held by identity: when its row is removed meanwhile, the run removes no other row.
class ConversionRun {
public:
    struct Setup {
        platform::Conventions conventions;
        QString appFolder;
        std::function<QString()> outputFolderText; ///< the output folder box, read at start and end
        QString defaultOutputFolder;               ///< used when the box is empty
        bool finishSoundOff = false;
        /// Asked before each file; true ends the run early (a terminal's Ctrl-C, a window that
        /// is closed).
        std::function<bool()> stopRequested;
        /// How programs are started, waited for and ended; null means the host's.
        platform::Processes* processes = nullptr;
        /// Whether the Word, RTF and HTML back-ends read the words of scanned pages: the export
        /// library is told before each export, the HTML tool through its environment.
        bool textRecognition = true;
    };

    ConversionRun(Setup setup, ConversionQueue& queue, ConversionSettings& settings,
                  ConversionHost& host, ExportLibrary& library);

    /// Converts every queued file; returns when the queue is empty or a stop was requested.
    void RunConversion();

    /// True while RunConversion works (its events are pumped meanwhile, so a window can ask).
    bool isRunning() const { return m_running; }
    /// The path of the queued file in work, empty between files.
    QString fileInWork() const { return m_entry.path; }

    /// What became of every file of the last run, in the order they were taken.
    const QVector<ConversionHost::FileReport>& reports() const { return m_reports; }
    /// The reports of the files of the last run that gave no output.
    QVector<ConversionHost::FileReport> notWritten() const;
    /// True when the last run wrote the output of every file it took.
    bool allWritten() const { return notWritten().isEmpty(); }

    /// The export library's progress call: percent shown below 100, "Exporting File..." and
    /// the finished window at 100. Returns 1.
    int ExportProgress(int firstPage, int lastPage, int pagesDone);
    /// The progress routine the export library calls, on the thread the export runs on.
    int progressFromExport(int firstPage, int lastPage, int pagesDone);

    /// The page range for a document of `pages` pages from the settings rows 1 and 2: values at
    /// or above the page count give the page count, others are made whole; no lower bound.
    static std::pair<int, int> pageRange(const QString& row1, const QString& row2, int pages);

private:
    void processHead();
    void endFinishedWindow();
    void addNote(const QString& note);
    static QString tooComplex(int pages);
    int probe(const QString& path, const QString& password);
    QString askPasswords(const QString& path, int* probeResult);
    void finishEntry();
    void dispatch(const QString& queuedPath, const QString& source, const QString& password);
    void exportWithLibrary(OutputFormat format, const QString& queuedPath, const QString& password,
                           const QString& stem);
    void showProgress(int firstPage, int lastPage, int pagesDone, bool pumpEvents);
    void runTool(const QString& commandLine, const QStringList& environment);
    void judgeLibraryResult(int result, bool images, long long pagesInRange);
    QString decrypt(const QString& queuedPath, const QString& password);
    RowValues rowValues() const;
    void pump();

    Setup m_setup;
    ConversionQueue& m_queue;
    ConversionSettings& m_settings;
    ConversionHost& m_host;
    ExportLibrary& m_library;
    platform::Processes& m_processes;
    QString m_outputFolder;
    QSet<QString> m_claimed; ///< the outputs of this run's files so far
    QString m_commandLine;
    QString m_toolExe;
    QStringList m_toolEnvironment; ///< what the tool of this file gets in its environment
    QString m_madeFolder;          ///< the HTML output folder this file's dispatch made, if it did
    bool m_decryptionFailed = false;
    bool m_running = false;
    QObject* m_progressRelay = nullptr; ///< set while an export runs on its own thread
    ConversionQueue::Entry m_entry;     ///< the file in work, by identity
    ConversionHost::FileReport m_report;
    QVector<ConversionHost::FileReport> m_reports;
};

} // namespace convert
