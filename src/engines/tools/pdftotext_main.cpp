// pdftotext: poppler's pdftotext with the same arguments, its output whole or absent.
//
// poppler's program exits 0 when writing its output fails (a full disk leaves a truncated text
// file behind). Here it writes to a pipe instead, and this program writes what it reads under
// a temporary name, checking every write, and names the file only when poppler ended well.
#include "../tool_status.h"
#include "atomic_file.h"
#include "page_budget.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// poppler's options that take a value: the words after them are not file names.
const std::set<std::string> optionsWithValue = {"-f",   "-l",   "-r",         "-x",   "-y",
                                                "-W",   "-H",   "-fixed",     "-enc", "-eol",
                                                "-opw", "-upw", "-colspacing"};
// Outputs without form feeds between pages, which are therefore not watched page by page.
const std::set<std::string> htmlOptions = {"-htmlmeta", "-bbox", "-bbox-layout", "-tsv"};

bool isExecutable(const std::string& path) {
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The system's pdftotext: the one found at build time, else the first on PATH that is not
// this program.
std::string systemPdftotext() {
    if (isExecutable(LUMADOC_SYSTEM_PDFTOTEXT) &&
        realPath(LUMADOC_SYSTEM_PDFTOTEXT) != realPath("/proc/self/exe")) {
        return LUMADOC_SYSTEM_PDFTOTEXT;
    }
    const char* path = std::getenv("PATH");
    const std::string self = realPath("/proc/self/exe");
    std::string list = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        const std::string candidate = list.substr(start, end - start) + "/pdftotext";
        if (isExecutable(candidate) && realPath(candidate) != self) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

int exitStatusOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

int writeFailed(const std::string& output, int error) {
    std::fprintf(stderr, "pdftotext: cannot write %s: %s\n", output.c_str(), std::strerror(error));
    return pdftox::exitStatusFor(pdftox::WriteError(output, error));
}

// coreutils' library that sets a program's output buffering from the environment: with it,
// poppler writes each page as it ends instead of in blocks, so its form feeds tell which page
// it is working on.
std::string stdbufLibrary() {
    for (const char* path :
         {"/usr/libexec/coreutils/libstdbuf.so", "/usr/lib/coreutils/libstdbuf.so",
          "/usr/lib64/coreutils/libstdbuf.so"}) {
        if (access(path, R_OK) == 0) {
            return path;
        }
    }
    return {};
}

// The value of option `name` (the word after it), if given.
std::optional<int> optionValue(const std::vector<std::string>& args, const char* name) {
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == name) {
            return int(std::strtol(args[i + 1].c_str(), nullptr, 10));
        }
        if (optionsWithValue.count(args[i])) {
            ++i;
        }
    }
    return std::nullopt;
}

int firstPage(const std::vector<std::string>& args) {
    return std::max(1, optionValue(args, "-f").value_or(1));
}

std::optional<int> lastPage(const std::vector<std::string>& args) {
    return optionValue(args, "-l");
}

// The arguments with -f set to `first`.
std::vector<std::string> withFirstPage(std::vector<std::string> args, int first) {
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "-f") {
            args[i + 1] = std::to_string(first);
            return args;
        }
        if (optionsWithValue.count(args[i])) {
            ++i;
        }
    }
    args.insert(args.begin() + 1, {"-f", std::to_string(first)});
    return args;
}

int writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t w = write(fd, data, size);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return w < 0 ? errno : ENOSPC;
        }
        data += w;
        size -= size_t(w);
    }
    return 0;
}

// Where poppler's text goes. Watched, whole pages are written at once, the text of the page in
// work is held until its form feed comes and dropped when that page is skipped, and form feeds
// are left out when no page breaks are wanted; otherwise the text passes as it comes.
class TextSink {
public:
    TextSink(int fd, bool watched, bool pageBreaks)
        : m_fd(fd), m_watched(watched), m_pageBreaks(pageBreaks || !watched) {}

    /// Takes text; gives the number of pages it ended.
    int take(const char* data, size_t size) {
        if (!m_watched) {
            put(std::string(data, size));
            return 0;
        }
        m_pending.append(data, size);
        const size_t end = m_pending.rfind('\f');
        if (end == std::string::npos) {
            return 0;
        }
        const int pages =
            int(std::count(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(end) + 1, '\f'));
        put(m_pending.substr(0, end + 1));
        m_pending.erase(0, end + 1);
        return pages;
    }
    /// The text that came after the last form feed belongs to no skipped page: it is kept.
    void endOfText() {
        put(m_pending);
        m_pending.clear();
    }
    /// The page in work was skipped: its text so far goes, its page break stays.
    void skipPage() {
        m_pending.clear();
        put(std::string(1, '\f'));
    }
    int error() const { return m_error; }

private:
    void put(std::string text) {
        if (!m_pageBreaks) {
            text.erase(std::remove(text.begin(), text.end(), '\f'), text.end());
        }
        if (m_error == 0 && !text.empty()) {
            m_error = writeAll(m_fd, text.data(), text.size());
        }
    }

    int m_fd;
    bool m_watched;
    bool m_pageBreaks;
    std::string m_pending;
    int m_error = 0;
};

struct PopplerRun {
    int status = 0;        ///< poppler's exit status; -1 when it could not be run
    bool timedOut = false; ///< a page took longer than its budget and poppler was ended
    int pagesDone = 0;     ///< pages ended by a form feed
    std::string errors;    ///< its standard error, when captured
};

// How poppler's work is watched: not at all; by its silence (it writes in blocks, so a pause
// longer than a page's time tells only that some page does not end); or page by page (it writes
// each page as it ends, a little slower).
enum class Watch { None, Silence, Pages };

// Runs poppler with `args` (args[0] is replaced by `program`), its text into `sink`. Watched,
// a page that runs past the page budget ends it. Its standard error is passed through, or
// captured for the caller to judge.
PopplerRun runPoppler(const std::string& program, std::vector<std::string> args, TextSink& sink,
                      Watch watch, bool captureErrors) {
    PopplerRun run;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "pdftotext: %s\n", std::strerror(errno));
        run.status = -1;
        return run;
    }
    const int errorsFile = captureErrors ? memfd_create("poppler-errors", MFD_CLOEXEC) : -1;
    const std::string preload = watch == Watch::Pages ? stdbufLibrary() : std::string();
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "pdftotext: %s\n", std::strerror(errno));
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (errorsFile >= 0) {
            close(errorsFile);
        }
        run.status = -1;
        return run;
    }
    if (child == 0) {
        // Poppler's program ends with this one, whichever way this one ends (also if it ended
        // before the request took hold).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(TOOL_FAILED);
        }
        if (pipeEnds[1] == STDOUT_FILENO) {
            fcntl(STDOUT_FILENO, F_SETFD, 0); // dup2 onto itself would keep close-on-exec
        } else {
            dup2(pipeEnds[1], STDOUT_FILENO);
        }
        if (errorsFile >= 0) {
            dup2(errorsFile, STDERR_FILENO);
        }
        if (!preload.empty()) {
            const char* before = std::getenv("LD_PRELOAD");
            setenv("LD_PRELOAD",
                   before && *before ? (preload + ":" + before).c_str() : preload.c_str(), 1);
            setenv("_STDBUF_O", "0", 1);
        }
        std::vector<char*> childArgs;
        childArgs.push_back(const_cast<char*>(program.c_str()));
        for (size_t i = 1; i < args.size(); ++i) {
            childArgs.push_back(args[i].data());
        }
        childArgs.push_back(nullptr);
        execv(program.c_str(), childArgs.data());
        _exit(TOOL_MISSING_PROGRAM);
    }
    close(pipeEnds[1]);

    using Clock = std::chrono::steady_clock;
    // The first page's time also holds poppler's reading of the file.
    auto deadline = Clock::now() + 2 * pdftox::pageBudget();
    std::vector<char> buffer(1 << 16);
    while (true) {
        pollfd ready{pipeEnds[0], POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int polled =
            poll(&ready, 1, watch != Watch::None ? int(std::max<long long>(0, left.count())) : -1);
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled == 0) {
            run.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        const ssize_t n = read(pipeEnds[0], buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        const int ended = sink.take(buffer.data(), size_t(n));
        run.pagesDone += ended;
        if (ended > 0 || watch == Watch::Silence) {
            deadline = Clock::now() + pdftox::pageBudget();
        }
        if (sink.error() != 0) {
            // The rest of the text has nowhere to go.
            kill(child, SIGTERM);
            break;
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    pid_t waited = -1;
    while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited != child) {
        std::fprintf(stderr, "pdftotext: the status of poppler's pdftotext is unknown\n");
        run.status = -1;
    } else {
        run.status = exitStatusOf(status);
    }
    if (errorsFile >= 0) {
        char text[4096];
        ssize_t n = 0;
        lseek(errorsFile, 0, SEEK_SET);
        while ((n = read(errorsFile, text, sizeof text)) > 0) {
            run.errors.append(text, size_t(n));
        }
        close(errorsFile);
    }
    return run;
}

} // namespace

int main(int argc, char** argv) {
    pdftox::installPartFileCleanup();
    pdftox::endWithParent();
    // Inherited as ignored, SIGCHLD would let the system reap poppler before its status is read.
    signal(SIGCHLD, SIG_DFL);
    const std::string program = systemPdftotext();
    if (program.empty()) {
        std::fprintf(stderr, "pdftotext: poppler's pdftotext is not installed\n");
        return TOOL_MISSING_PROGRAM;
    }

    std::vector<std::string> args(argv, argv + argc);
    std::vector<size_t> files;
    bool html = false;
    bool ucs2 = false; // two bytes a character: a form feed is no longer one byte
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            if (optionsWithValue.count(arg)) {
                ++i;
            }
            html = html || htmlOptions.count(arg) != 0;
            ucs2 = ucs2 || (arg == "-enc" && i < args.size() && args[i].starts_with("UCS-2"));
        } else {
            files.push_back(i);
        }
    }

    // Usage, version, text to standard output or to something that is not a plain file
    // (/dev/null, a pipe): poppler's program as it is.
    struct stat target {};
    const bool special =
        files.size() >= 2 && stat(args[files[1]].c_str(), &target) == 0 && !S_ISREG(target.st_mode);
    if (files.empty() || (files.size() >= 2 && args[files[1]] == "-") || special) {
        argv[0] = const_cast<char*>(program.c_str());
        execv(program.c_str(), argv);
        std::fprintf(stderr, "pdftotext: cannot start %s: %s\n", program.c_str(),
                     std::strerror(errno));
        return TOOL_MISSING_PROGRAM;
    }

    std::string output;
    if (files.size() >= 2) {
        output = args[files[1]];
        args[files[1]].assign(1, '-');
    } else {
        // poppler's own default: the PDF's name with .txt (or .html) for .pdf.
        output = args[files[0]];
        if (output.size() > 4 && (output.ends_with(".pdf") || output.ends_with(".PDF"))) {
            output.resize(output.size() - 4);
        }
        output += html ? ".html" : ".txt";
        args.insert(args.begin() + std::ptrdiff_t(files[0]) + 1, "-");
    }

    if (pdftox::sameFile(args[files[0]], output)) {
        std::fprintf(stderr, "pdftotext: %s: the output would be written over the input\n",
                     output.c_str());
        return TOOL_USAGE;
    }

    std::optional<pdftox::AtomicFile> file;
    int out = -1;
    try {
        file.emplace(output);
        out = open(file->tempPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (out < 0) {
            return writeFailed(output, errno);
        }
    } catch (const pdftox::WriteError& e) {
        return writeFailed(output, e.error());
    }

    // A run that failed, its status for this program; nothing when poppler ended well or was
    // ended for taking too long. `pastTheEnd` excuses the error of a range after a skipped last
    // page.
    const auto failure = [&](const PopplerRun& run, const TextSink& to,
                             bool pastTheEnd) -> std::optional<int> {
        if (run.status < 0) {
            return 1;
        }
        if (to.error() != 0) {
            close(out);
            return writeFailed(output, to.error());
        }
        if (!run.timedOut && run.status != 0 && !pastTheEnd) {
            close(out);
            return run.status; // poppler said why on standard error; no output stays
        }
        return std::nullopt;
    };

    const bool watched = !html && !ucs2 && !stdbufLibrary().empty();
    bool done = false;
    if (watched) {
        // First as poppler runs by itself, which is fastest. Only a silence longer than a page's
        // time tells of a page that does not end; then the text is read again page by page.
        TextSink plain(out, false, true);
        const PopplerRun run = runPoppler(program, args, plain, Watch::Silence, false);
        if (const std::optional<int> status = failure(run, plain, false)) {
            return *status;
        }
        done = !run.timedOut;
        if (!done && (ftruncate(out, 0) != 0 || lseek(out, 0, SEEK_SET) != 0)) {
            return writeFailed(output, errno);
        }
    }

    // Page by page: poppler ends each page with a form feed, and a page that takes longer than
    // its budget (forms that draw one another without end) is skipped by ending poppler and
    // starting it again after that page. -nopgbrk is then applied here, since the form feeds
    // are what tells the pages apart.
    const bool pageBreaks = std::find(args.begin(), args.end(), "-nopgbrk") == args.end();
    if (watched && !pageBreaks) {
        args.erase(std::find(args.begin(), args.end(), "-nopgbrk"));
    }
    TextSink sink(out, watched, pageBreaks);
    std::vector<int> cutShort;
    int start = firstPage(args);
    while (!done) {
        const PopplerRun run = runPoppler(program, withFirstPage(args, start), sink,
                                          watched ? Watch::Pages : Watch::None, !cutShort.empty());
        // After a skipped last page, poppler is asked for a range past the end.
        const bool pastTheEnd = !cutShort.empty() && run.status == 99 &&
                                run.errors.find("Wrong page range") != std::string::npos;
        if (!run.timedOut) {
            std::fputs(pastTheEnd ? "" : run.errors.c_str(), stderr);
        }
        if (const std::optional<int> status = failure(run, sink, pastTheEnd)) {
            return *status;
        }
        if (!run.timedOut) {
            sink.endOfText();
            break;
        }
        const int stuck = start + run.pagesDone;
        cutShort.push_back(stuck);
        sink.skipPage();
        const std::optional<int> last = lastPage(args);
        if (last && stuck >= *last) {
            break;
        }
        start = stuck + 1;
    }
    if (close(out) != 0 || sink.error() != 0) {
        return writeFailed(output, sink.error() != 0 ? sink.error() : errno);
    }
    try {
        file->commit();
    } catch (const pdftox::WriteError& e) {
        return writeFailed(output, e.error());
    }
    for (const int page : cutShort) {
        std::fprintf(stderr, "pdftotext: page %d is too complex: it was cut short after %lld s\n",
                     page, static_cast<long long>(pdftox::pageBudget().count() / 1000));
    }
    return cutShort.empty() ? TOOL_OK : TOOL_CUT_SHORT;
}
