// pdftotext: poppler's pdftotext with the same arguments, its output whole or absent.
//
// poppler's program exits 0 when writing its output fails (a full disk leaves a truncated text
// file behind). Here it writes to a pipe instead, and this program writes what it reads under
// a temporary name, checking every write, and names the file only when poppler ended well.
#include "../tool_status.h"
#include "atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <set>
#include <string>
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
const std::set<std::string> htmlOptions = {"-htmlmeta", "-bbox", "-bbox-layout"};

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
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            if (optionsWithValue.count(arg)) {
                ++i;
            }
            html = html || htmlOptions.count(arg) != 0;
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

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "pdftotext: %s\n", std::strerror(errno));
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "pdftotext: %s\n", std::strerror(errno));
        return 1;
    }
    if (child == 0) {
        // Poppler's program ends with this one, whichever way this one ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (pipeEnds[1] == STDOUT_FILENO) {
            fcntl(STDOUT_FILENO, F_SETFD, 0); // dup2 onto itself would keep close-on-exec
        } else {
            dup2(pipeEnds[1], STDOUT_FILENO);
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

    int writeError = 0;
    std::vector<char> buffer(1 << 16);
    while (true) {
        const ssize_t n = read(pipeEnds[0], buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        for (ssize_t done = 0; done < n && writeError == 0;) {
            const ssize_t w = write(out, buffer.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                writeError = w < 0 ? errno : ENOSPC;
                break;
            }
            done += w;
        }
        if (writeError != 0) {
            // The rest of the text has nowhere to go.
            kill(child, SIGTERM);
            break;
        }
    }
    close(pipeEnds[0]);
    if (close(out) != 0 && writeError == 0) {
        writeError = errno;
    }
    int status = 0;
    pid_t waited = -1;
    while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited != child) {
        std::fprintf(stderr, "pdftotext: the status of poppler's pdftotext is unknown\n");
        return TOOL_FAILED;
    }
    if (writeError != 0) {
        return writeFailed(output, writeError);
    }
    const int exit = exitStatusOf(status);
    if (exit != 0) {
        return exit; // poppler said why on standard error; no output stays
    }
    try {
        file->commit();
    } catch (const pdftox::WriteError& e) {
        return writeFailed(output, e.error());
    }
    return 0;
}
