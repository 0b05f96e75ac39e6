#pragma once

#include "document_info.h"
#include "page_writer.h"

#include "platform/conventions.h"
#include "platform/processes.h"

#include <QSize>
#include <QString>
#include <QStringList>

namespace images2pdf {

/// What an assembly shows and does outside itself: the image window's progress bar and label,
/// its buttons, its output folder box and the finishing touches (or a terminal's).
class AssemblyHost {
public:
    virtual ~AssemblyHost() = default;

    virtual void setStatus(const QString& text) = 0;   ///< the label beside the bar
    virtual void setProgress(int percent) = 0;         ///< the bar, 0 to 100
    virtual void setRequestsEnabled(bool enabled) = 0; ///< "Create PDF Now" and the toolbar
    /// The output folder box, when the run takes a trailing separator off its text.
    virtual void setOutputFolderText(const QString& text) = 0;
    virtual void openFolder(const QString& folder) = 0;
    virtual void beep() = 0;
};

/// The page size, in tenths of a millimetre, of an image `pixels` in size: each side divided by
/// 0.376 and rounded half to even (800 x 600 gives 2128 x 1596). A side that would not fit in 16
/// bits (above 32767) scales both down, keeping the aspect ratio.
QSize PageSizeOf(QSize pixels);

/// One PDF from a list of images, one page per image in list order, with the document
/// information: each page written as a one-page PDF by the page-writing library in the private
/// "jpgtmp" folder, the pages joined one by one by the application folder's pdftk into the
/// private "tmp" folder, the information added, the result copied to the output folder as
/// title + ".pdf", the work folders removed, the folder opened. The work that takes time runs
/// beside the calling thread's events, so a window stays alive throughout.
///
/// Nothing of the user's is deleted: the work folders are the process's own. A result that
/// exists is whole: it is copied under a temporary name in the output folder and renamed.
class ImageAssembly {
public:
    struct Setup {
        platform::Conventions conventions;
        QString appFolder;
        QString settingsPath;        ///< "quillsetting.dll", saved at the start of each run
        QString defaultOutputFolder; ///< used when the output folder text is empty
        long ownerWindow = 0;        ///< handed to CreateBox
        /// How pdftk is started and waited for; null means the host's.
        platform::Processes* processes = nullptr;
    };

    /// How the run ended.
    struct Result {
        enum class Outcome {
            Written,    ///< `output` exists, whole
            NoImages,   ///< the list was empty; nothing was done
            PageFailed, ///< the page-writing library failed; `reason` is its message
            NotWritten  ///< the PDF could not be made or copied; `reason` says why
        };
        Outcome outcome = Outcome::NotWritten;
        QString output; ///< the file the PDF was (to be) copied to
        QString reason;
        bool written() const { return outcome == Outcome::Written; }
    };

    ImageAssembly(Setup setup, AssemblyHost& host, PageWriter& writer);

    /// Makes one PDF of `images` in the folder `outputFolderText` with `info`. The run works on
    /// its own copies: a list that changes meanwhile (drops arrive while events are handled)
    /// does not change this PDF. Messages: the
    /// empty list's warning ("Please add a file", "Add File"), a library failure titled "PDF",
    /// and when no PDF was written one message saying why. Returns what became of the run.
    Result Run(QStringList images, QString outputFolderText, DocumentInfo info);

    /// True while Run works (events are handled meanwhile, so a window can ask).
    bool isRunning() const { return m_running; }

    /// The command line that joins page `k` onto the running file of pages 1 … k.
    static QString JoinCommandLine(const platform::Conventions& conv, const QString& appFolder,
                                   int k);
    /// The command line that adds the information file to the running file of `n` pages.
    static QString InfoCommandLine(const platform::Conventions& conv, const QString& appFolder,
                                   int n);

private:
    bool writePage(int i, QString image, QSize* lastPixels, QString* failure);
    bool runTool(const QString& commandLine, const QString& expectedOutput, QString* failure,
                 const QStringList& environment = {});
    void finish(const QString& status);

    Setup m_setup;
    AssemblyHost& m_host;
    PageWriter& m_writer;
    platform::Processes& m_processes;
    bool m_running = false;
};

} // namespace images2pdf
