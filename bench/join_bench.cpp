// The image assembly's joins against img2pdf on the same photos in one run:
//   join_bench APP_DIR [--work FOLDER] [PHOTOS...]        (default 20 40 80 200)
// The assembly makes one one-page PDF per photo (0.pdf ... n-1.pdf, here with the JPEG stored
// unchanged), copies 0.pdf to tmp1.pdf, runs `pdftk tmpK.pdf K.pdf cat output tmpK+1.pdf
// dont_ask` for K = 1 ... n-1, deleting tmpK.pdf each time, and finally `pdftk tmpN.pdf
// update_info info.txt output tmpx.pdf dont_ask`. That chain is timed against `img2pdf
// 0.jpg ... -o out.pdf` making the same document from the photos; each figure is the fastest
// of the runs, the two taking turns. Peak memory is that of the largest single process.
// A join copies the running file: where the file system shares blocks (XFS, Btrfs) the copy is
// a clone and costs nothing, elsewhere (ext4, tmpfs) the kernel copies the bytes. --work puts
// the files in a folder of the file system to measure (the system's temporary folder by
// default).
#include "bench_util.h"
#include "photo_pages.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace bench;

namespace {

const int width = 2400;
const int height = 1800;

std::string pdfName(const fs::path& folder, const std::string& stem) {
    return (folder / (stem + ".pdf")).string();
}

/// Runs a program with these arguments as the assembly starts it, without a shell; true when
/// it ends with status 0.
bool spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

/// The assembly's chain over the first `photos` pages; true when every step succeeded.
bool assemble(const std::string& pdftk, const fs::path& pages, const fs::path& work, int photos) {
    for (int k = 1; k < photos; ++k) {
        if (!spawn({pdftk, pdfName(work, "tmp" + std::to_string(k)),
                    pdfName(pages, std::to_string(k)), "cat", "output",
                    pdfName(work, "tmp" + std::to_string(k + 1)), "dont_ask"})) {
            return false;
        }
        fs::remove(pdfName(work, "tmp" + std::to_string(k)));
    }
    return spawn({pdftk, pdfName(work, "tmp" + std::to_string(photos)), "update_info",
                  (pages / "info.txt").string(), "output", pdfName(work, "tmpx"), "dont_ask"});
}

/// What the chain costs in copying alone on this file system: each running file copied whole
/// (as a join that leaves its input alone must), the page's bytes appended, the old file
/// deleted, with no process started and no PDF read.
bool copyChain(const fs::path& pages, const fs::path& work, int photos) {
    for (int k = 1; k < photos; ++k) {
        const int in = open(pdfName(work, "tmp" + std::to_string(k)).c_str(), O_RDONLY);
        const int out = open(pdfName(work, "tmp" + std::to_string(k + 1)).c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        struct stat st {};
        if (in < 0 || out < 0 || fstat(in, &st) != 0) {
            return false;
        }
        loff_t from = 0;
        loff_t to = 0;
        while (from < st.st_size) {
            if (copy_file_range(in, &from, out, &to, static_cast<size_t>(st.st_size - from), 0) <=
                0) {
                return false;
            }
        }
        std::ifstream page(pdfName(pages, std::to_string(k)), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(page)),
                                std::istreambuf_iterator<char>());
        if (pwrite(out, bytes.data(), bytes.size(), to) != static_cast<ssize_t>(bytes.size())) {
            return false;
        }
        close(in);
        close(out);
        fs::remove(pdfName(work, "tmp" + std::to_string(k)));
    }
    return true;
}

std::string fileSystem(const fs::path& folder) {
    struct statfs info {};
    if (statfs(folder.c_str(), &info) != 0) {
        return "unknown file system";
    }
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
        return "ext4: copies bytes";
    case 0x58465342:
        return "XFS: clones blocks";
    case 0x9123683E:
        return "Btrfs: clones blocks";
    case 0x01021994:
        return "tmpfs: copies bytes";
    default:
        return "file system 0x" + [&] {
            char hex[32];
            std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(info.f_type));
            return std::string(hex);
        }();
    }
}

int pageCount(const std::string& pdf) {
    try {
        QPDF doc;
        doc.processFile(pdf.c_str());
        return static_cast<int>(QPDFPageDocumentHelper(doc).getAllPages().size());
    } catch (const std::exception&) {
        return -1;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        std::fprintf(stderr, "usage: join_bench APP_DIR [PHOTOS...]\n");
        return 2;
    }
    const std::string pdftk = std::string(argv[1]) + "/pdftk";
    std::vector<int> counts;
    fs::path base = fs::temp_directory_path();
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--work" && i + 1 < argc) {
            base = argv[++i];
        } else {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    if (counts.empty()) {
        counts = {20, 40, 80, 200};
    }
    if (std::system("img2pdf --version >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "img2pdf is not installed (apt-get install img2pdf)\n");
        return 2;
    }
    int most = 0;
    for (const int n : counts) {
        most = std::max(most, n);
    }
    const fs::path work = base / ("lumadoc-join-bench-" + std::to_string(getpid()));
    const fs::path pages = work / "pages";
    fresh(pages);

    std::printf("Image assembly joins (%dx%d photos) against img2pdf; fastest of 3 turns\n", width,
                height);
    uintmax_t photoBytes = 0;
    for (int i = 0; i < most; ++i) {
        const std::string jpeg = photo_pages::noisyJpeg(width, height, static_cast<unsigned>(i));
        photoBytes += jpeg.size();
        std::ofstream(pages / (std::to_string(i) + ".jpg"), std::ios::binary) << jpeg;
        photo_pages::writeJpegPage(jpeg, width, height, pdfName(pages, std::to_string(i)));
    }
    std::ofstream(pages / "info.txt", std::ios::binary)
        << "InfoBegin\r\nInfoKey: Title\r\nInfoValue: Holiday photos\r\nInfoBegin\r\n"
           "InfoKey: Creator\r\nInfoValue: Lumadoc\r\nInfoBegin\r\nInfoKey: Producer\r\n"
           "InfoValue: Lumadoc\r\n";
    std::printf("photos: %.0f kB each on average; files in %s (%s)\n\n", photoBytes / 1e3 / most,
                work.c_str(), fileSystem(work).c_str());
    std::printf("%6s | %9s %9s %8s | %9s %9s %8s | %6s %6s | %12s\n", "photos", "ours s", "MB",
                "peak MiB", "img2pdf s", "MB", "peak MiB", "time x", "size x", "copy floor s");

    bool allOk = true;
    for (const int n : counts) {
        const fs::path chain = work / "chain";
        const fs::path peer = work / "peer";
        std::string jpegs;
        for (int i = 0; i < n; ++i) {
            jpegs += " " + quoted((pages / (std::to_string(i) + ".jpg")).string());
        }
        const Measure floor = best(
            3,
            [&] {
                fresh(chain);
                fs::copy_file(pdfName(pages, "0"), pdfName(chain, "tmp1"));
            },
            [&] { return inChild([&] { return copyChain(pages, chain, n); }); });
        const auto [ours, theirs] = bestOfTurns(
            3,
            [&] {
                fresh(chain);
                fs::copy_file(pdfName(pages, "0"), pdfName(chain, "tmp1"));
            },
            [&] { return inChild([&] { return assemble(pdftk, pages, chain, n); }); },
            [&] { fresh(peer); },
            [&] { return command("img2pdf" + jpegs + " -o " + quoted(pdfName(peer, "out"))); });
        const double ourSize = static_cast<double>(fs::file_size(pdfName(chain, "tmpx")));
        const double peerSize = static_cast<double>(fs::file_size(pdfName(peer, "out")));
        const bool ok = ours.ok && theirs.ok && pageCount(pdfName(chain, "tmpx")) == n &&
                        pageCount(pdfName(peer, "out")) == n;
        allOk = allOk && ok;
        std::printf("%6d | %9.2f %9.2f %8.1f | %9.2f %9.2f %8.1f | %6.2f %6.3f | %12.2f%s\n", n,
                    ours.seconds, ourSize / 1e6, ours.peakKiB / 1024.0, theirs.seconds,
                    peerSize / 1e6, theirs.peakKiB / 1024.0, ours.seconds / theirs.seconds,
                    ourSize / peerSize, floor.seconds,
                    ok ? "" : "  (a run failed or a page is missing)");
    }
    std::printf("\ntime x: our chain's time over img2pdf's; size x: our file's size over "
                "img2pdf's;\ncopy floor: copying each running file whole, appending the page "
                "and deleting the old file, nothing else\n");
    fs::remove_all(work);
    return allOk ? 0 : 1;
}
