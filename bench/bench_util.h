#pragma once

// Measuring helpers shared by the benchmarks: each run happens in a child process, so its
// time and peak memory are its own.
#include "pdftox.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace bench {

namespace fs = std::filesystem;

struct Measure {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

/// The export library's functions, loaded at run time as the application loads it, with the
/// types of its own header.
struct Library {
    decltype(&::OpenPDF) open = nullptr;
    decltype(&::GetPageNum) pages = nullptr;
    decltype(&::ExportIMG) img = nullptr;
    decltype(&::ExportRTF) rtf = nullptr;
    decltype(&::ClosePDF) close = nullptr;
};

/// Loads the library at `path`; false (with the loader's message on standard error) when it
/// or one of its functions is missing.
inline bool loadLibrary(const char* path, Library* lib) {
    void* so = dlopen(path, RTLD_NOW);
    if (!so) {
        std::fprintf(stderr, "%s\n", dlerror());
        return false;
    }
    lib->open = reinterpret_cast<decltype(lib->open)>(dlsym(so, "OpenPDF"));
    lib->pages = reinterpret_cast<decltype(lib->pages)>(dlsym(so, "GetPageNum"));
    lib->img = reinterpret_cast<decltype(lib->img)>(dlsym(so, "ExportIMG"));
    lib->rtf = reinterpret_cast<decltype(lib->rtf)>(dlsym(so, "ExportRTF"));
    lib->close = reinterpret_cast<decltype(lib->close)>(dlsym(so, "ClosePDF"));
    if (!lib->open || !lib->pages || !lib->img || !lib->rtf || !lib->close) {
        std::fprintf(stderr, "%s lacks a function of the export library\n", path);
        return false;
    }
    return true;
}

/// Runs `body` here and returns its time.
template <typename Body> Measure inProcess(Body body) {
    Measure m;
    const auto start = std::chrono::steady_clock::now();
    m.ok = body();
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return m;
}

/// Runs `body` in a child process and returns its time and peak memory.
template <typename Body> Measure inChild(Body body) {
    Measure m;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakKiB = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

inline Measure command(const std::string& line) {
    return inChild([&] { return std::system((line + " >/dev/null 2>&1").c_str()) == 0; });
}

/// The fastest of `runs` runs (after `prepare` each time), against noise from other work.
template <typename Run, typename Prepare> Measure best(int runs, Prepare prepare, Run run) {
    Measure fastest;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const Measure m = run();
        if (i == 0 || m.seconds < fastest.seconds) {
            fastest = m;
        }
    }
    return fastest;
}

/// The fastest of `runs` runs of each of two contenders taking turns (each after its own
/// `prepare`), so that load from other work on the machine falls on both alike.
template <typename PrepareA, typename RunA, typename PrepareB, typename RunB>
std::pair<Measure, Measure> bestOfTurns(int runs, PrepareA prepareA, RunA a, PrepareB prepareB,
                                        RunB b) {
    std::pair<Measure, Measure> fastest;
    for (int i = 0; i < runs; ++i) {
        prepareA();
        const Measure ma = a();
        prepareB();
        const Measure mb = b();
        if (i == 0 || ma.seconds < fastest.first.seconds) {
            fastest.first = ma;
        }
        if (i == 0 || mb.seconds < fastest.second.seconds) {
            fastest.second = mb;
        }
    }
    return fastest;
}

inline uintmax_t folderSize(const fs::path& folder) {
    uintmax_t total = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        total += e.file_size();
    }
    return total;
}

inline void fresh(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

inline std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

} // namespace bench
