// Measures the export library against the peer tools on the same files in one run:
//   export_bench CORPUS_DIR LIBPDFTOX [--quick | --scans]
// For each file: pages per second of PDF to images at 120 dpi (PNG, JPEG, TIFF) against
// poppler's pdftoppm and MuPDF's mutool draw, with output sizes; RTF export of 100 text pages;
// peak memory of exporting a 500-page document. Prints one line per measurement with ratios;
// each figure is the fastest of three runs. The peers run as programs; the library runs in this
// process, as in the application (the 500-page run goes to a child for its peak memory).
// --quick leaves out the 500-page run; --scans runs only the scanned pages in every format.
#include "bench_util.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace bench;

namespace {

struct Row {
    std::string what;
    int pages;
    Measure ours;
    uintmax_t ourBytes;
    std::string peer;
    Measure theirs;
    uintmax_t peerBytes;
};

void print(const Row& r) {
    const double ourRate = r.pages / r.ours.seconds;
    const double peerRate = r.pages / r.theirs.seconds;
    std::printf("%-34s %4d p  ours %7.1f p/s %8.1f MB | %-26s %7.1f p/s %8.1f MB | speed x%5.2f  "
                "size x%4.2f%s\n",
                r.what.c_str(), r.pages, ourRate, r.ourBytes / 1e6, r.peer.c_str(), peerRate,
                r.peerBytes / 1e6, ourRate / peerRate,
                r.peerBytes ? double(r.ourBytes) / double(r.peerBytes) : 0.0,
                r.ours.ok && r.theirs.ok ? "" : "  (a run failed)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: export_bench CORPUS_DIR LIBPDFTOX [--quick | --scans]\n");
        return 2;
    }
    const std::string corpus = argv[1];
    const std::string option = argc > 3 ? argv[3] : "";
    const bool scansOnly = option == "--scans";
    const bool quick = option == "--quick" || scansOnly;
    const int runs = 3;
    const int scanRuns = 5;
    Library lib;
    if (!loadLibrary(argv[2], &lib)) {
        return 1;
    }
    const fs::path work = fs::temp_directory_path() / ("lumadoc-bench-" + std::to_string(getpid()));
    fs::create_directories(work);

    struct Input {
        const char* file;
        const char* kind;
    };
    const std::vector<Input> inputs = {
        {"tracemonkey.pdf", "text"},     {"TAMReview.pdf", "text"},
        {"issue7229.pdf", "image"},      {"cmykjpeg.pdf", "image"},
        {"personwithdog.pdf", "vector"}, {"bug1721218_reduced.pdf", "vector"}};
    struct Format {
        int code;
        const char* name;
        const char* popplerFlag;
    };
    const Format formats[] = {{PDFTOX_PNG, "PNG", "-png"},
                              {PDFTOX_JPEG, "JPEG", "-jpeg"},
                              {PDFTOX_TIFF, "TIFF", "-tiff"}};

    // Peak memory over a long document, first, while this process holds nothing that the
    // child would inherit.
    if (!quick) {
        const fs::path big = work / "big.pdf";
        const std::string fc = quoted(corpus + "/freeculture.pdf");
        if (command("qpdf --empty --pages " + fc + " " + fc + " 1-148 -- " + quoted(big.string()))
                .ok) {
            const fs::path out = work / "big";
            fresh(out);
            const Measure m = inChild([&] {
                const int h = lib.open(big.c_str(), "");
                const bool ok = lib.img(h, (out.string() + "/").c_str(), "", PDFTOX_PNG, 120, 24, 1,
                                        500, nullptr) == 500;
                lib.close(h);
                return ok;
            });
            fresh(out);
            const Measure mu =
                command("mutool draw -q -r 120 -o " + quoted((out / "p%d.png").string()) + " " +
                        quoted(big.string()));
            std::printf("500-page PNG export: ours %.1f s, peak %.0f MiB | mutool draw %.1f s, "
                        "peak %.0f MiB | "
                        "speed x%.2f%s\n\n",
                        m.seconds, m.peakKiB / 1024.0, mu.seconds, mu.peakKiB / 1024.0,
                        mu.seconds / m.seconds, m.ok ? "" : "  (our run failed)");
        }
    }

    std::printf(
        "PDF to images at 120 dpi: pages per second and output size, ours against the peer\n");
    for (const Input& in : scansOnly ? std::vector<Input>{} : inputs) {
        const std::string pdf = corpus + "/" + in.file;
        const int h = lib.open(pdf.c_str(), "");
        if (h <= 0) {
            std::printf("%s: cannot open\n", in.file);
            continue;
        }
        const int pages = lib.pages(h);
        for (const Format& f : formats) {
            const fs::path ours = work / "ours";
            const fs::path peer = work / "peer";
            // In the program the library stays loaded: ours runs in this process, on a freshly
            // opened document each time, so nothing decoded by an earlier run is reused.
            const Measure m = best(
                runs, [&] { fresh(ours); },
                [&] {
                    return inProcess([&] {
                        const int doc = lib.open(pdf.c_str(), "");
                        const bool ok = lib.img(doc, (ours.string() + "/").c_str(), "", f.code, 120,
                                                24, 1, pages, nullptr) == pages;
                        lib.close(doc);
                        return ok;
                    });
                });
            const uintmax_t ourBytes = folderSize(ours);

            const Measure p = best(
                runs, [&] { fresh(peer); },
                [&] {
                    return command("pdftoppm -r 120 " + std::string(f.popplerFlag) + " " +
                                   quoted(pdf) + " " + quoted((peer / "p").string()));
                });
            print({std::string(in.kind) + " " + in.file + " " + f.name, pages, m, ourBytes,
                   "pdftoppm", p, folderSize(peer)});
            if (f.code == PDFTOX_PNG) {
                const Measure mu = best(
                    runs, [&] { fresh(peer); },
                    [&] {
                        return command("mutool draw -q -r 120 -o " +
                                       quoted((peer / "p%d.png").string()) + " " + quoted(pdf));
                    });
                print({std::string(in.kind) + " " + in.file + " " + f.name, pages, m, ourBytes,
                       "mutool draw", mu, folderSize(peer)});
            }
        }
        lib.close(h);
    }

    // Scanned pages (one JPEG picture per page) in every image format, as the converter asks
    // for them: 120 dpi, 24 bits, GIF with 8. pdftoppm writes neither BMP nor GIF: BMP is set
    // against its uncompressed PPM, GIF against its PNG, its nearest outputs.
    std::printf("\nScanned pages at 120 dpi, every image format, ours and pdftoppm taking turns "
                "(best of %d)\n",
                scanRuns);
    const std::string scan = corpus + "/issue7229.pdf";
    const fs::path manyScans = work / "scan40.pdf";
    std::string pages40;
    for (int i = 0; i < 20; ++i) {
        pages40 += " " + quoted(scan) + " 1-2";
    }
    const bool haveMany =
        command("qpdf --empty --pages" + pages40 + " -- " + quoted(manyScans.string())).ok ||
        fs::exists(manyScans);
    struct ScanFormat {
        int code;
        int depth;
        const char* name;
        const char* popplerFlags;
    };
    const ScanFormat scanFormats[] = {{PDFTOX_JPEG, 24, "JPEG", "-jpeg"},
                                      {PDFTOX_BMP, 24, "BMP", ""},
                                      {PDFTOX_GIF, 8, "GIF", "-png"},
                                      {PDFTOX_PNG, 24, "PNG", "-png"},
                                      {PDFTOX_TIFF, 24, "TIFF", "-tiff -tiffcompression lzw"}};
    std::vector<std::string> scanFiles{scan};
    if (haveMany) {
        scanFiles.push_back(manyScans.string());
    }
    for (const std::string& pdf : scanFiles) {
        const int h = lib.open(pdf.c_str(), "");
        const int pages = h > 0 ? lib.pages(h) : 0;
        lib.close(h);
        if (pages <= 0) {
            std::printf("%s: cannot open\n", pdf.c_str());
            continue;
        }
        for (const ScanFormat& f : scanFormats) {
            const fs::path ours = work / "ours";
            const fs::path peer = work / "peer";
            const auto [m, p] = bestOfTurns(
                scanRuns, [&] { fresh(ours); },
                [&] {
                    return inProcess([&] {
                        const int doc = lib.open(pdf.c_str(), "");
                        const bool ok = lib.img(doc, (ours.string() + "/").c_str(), "", f.code, 120,
                                                f.depth, 1, pages, nullptr) == pages;
                        lib.close(doc);
                        return ok;
                    });
                },
                [&] { fresh(peer); },
                [&] {
                    return command("pdftoppm -r 120 " + std::string(f.popplerFlags) + " " +
                                   quoted(pdf) + " " + quoted((peer / "p").string()));
                });
            print({"scan " + fs::path(pdf).filename().string() + " " + f.name, pages, m,
                   folderSize(ours), std::string("pdftoppm ") + f.popplerFlags, p,
                   folderSize(peer)});
        }
    }

    // RTF export of 100 pages of a text book.
    const fs::path hundred = work / "hundred.pdf";
    if (!scansOnly && command("qpdf --empty --pages " + quoted(corpus + "/freeculture.pdf") +
                              " 1-100 -- " + quoted(hundred.string()))
                          .ok) {
        const Measure m = best(
            runs, [] {},
            [&] {
                return inProcess([&] {
                    const int doc = lib.open(hundred.c_str(), "");
                    const bool ok =
                        lib.rtf(doc, (work / "hundred.rtf").c_str(), 1, 100, nullptr) == 100;
                    lib.close(doc);
                    return ok;
                });
            });
        const Measure t = best(
            runs, [] {},
            [&] {
                return command("pdftotext " + quoted(hundred.string()) + " " +
                               quoted((work / "h.txt").string()));
            });
        std::printf("\nRTF export of 100 text pages: %.2f s (%.0f pages/s), %.1f MB; pdftotext on "
                    "the same: %.2f s\n",
                    m.seconds, 100 / m.seconds, fs::file_size(work / "hundred.rtf") / 1e6,
                    t.seconds);
    }

    fs::remove_all(work);
    return 0;
}
