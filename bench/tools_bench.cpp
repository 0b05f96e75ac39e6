// Measures the outside programs against their peers on the same files in one run:
//   tools_bench CORPUS_DIR APP_DIR
// - 100 joins in the image assembly's pattern and a decryption: our pdftk-compatible tool
//   against pdftk-java (when installed);
// - pdf2htm against poppler's pdftohtml -s -i -noframes: time and output size;
// - pdf2swf: pages per second.
// Each figure of ours is the fastest of three runs.
#include "bench_util.h"
#include "pdf_fixture.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace bench;

namespace {

const int runs = 3;

bool havePdftkJava() {
    return std::system("pdftk --version 2>/dev/null | grep -qi 'pdftk port to java'") == 0;
}

/// The assembly's chain: tmp1.pdf is page 0; tmpK.pdf + K.pdf -> tmpK+1.pdf, the previous
/// running file deleted each time.
Measure joinChain(const std::string& tool, const fs::path& pages, const fs::path& work, int joins,
                  int tries) {
    return best(
        tries,
        [&] {
            fresh(work);
            fs::copy_file(pages / "0.pdf", work / "tmp1.pdf");
        },
        [&] {
            return inChild([&] {
                for (int k = 1; k <= joins; ++k) {
                    const std::string line =
                        tool + " " +
                        quoted((work / ("tmp" + std::to_string(k) + ".pdf")).string()) + " " +
                        quoted((pages / (std::to_string(k) + ".pdf")).string()) + " cat output " +
                        quoted((work / ("tmp" + std::to_string(k + 1) + ".pdf")).string()) +
                        " dont_ask >/dev/null 2>&1";
                    if (std::system(line.c_str()) != 0) {
                        return false;
                    }
                    fs::remove(work / ("tmp" + std::to_string(k) + ".pdf"));
                }
                return true;
            });
        });
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: tools_bench CORPUS_DIR APP_DIR\n");
        return 2;
    }
    const std::string corpus = argv[1];
    const std::string app = argv[2];
    const fs::path work =
        fs::temp_directory_path() / ("lumadoc-tools-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string ours = app + "/pdftk";
    const bool peer = havePdftkJava();

    // One-page files to join, as the image assembly makes them: a page showing one picture
    // (here 160 x 160 pixels, 77 kB), so the running file grows to about 8 MB.
    const fs::path pages = work / "pages";
    fresh(pages);
    for (int i = 0; i <= 100; ++i) {
        testing_support::FixturePage page;
        page.pictures.push_back(testing_support::checkerPicture("Im1", 160, 160));
        page.content = "q 500 0 0 500 56 146 cm /Im1 Do Q\n";
        testing_support::writeFixturePdf((pages / (std::to_string(i) + ".pdf")).string(), {page});
    }
    const Measure chain = joinChain(ours, pages, work / "chain", 100, runs);
    std::printf("100 joins (assembly pattern): ours %.2f s (%.1f ms a join)", chain.seconds,
                chain.seconds * 10);
    if (peer) {
        // One run of the peer: it takes minutes.
        const Measure java = joinChain("pdftk", pages, work / "chain", 100, 1);
        std::printf(" | pdftk-java %.2f s | speed x%.1f%s\n", java.seconds,
                    java.seconds / chain.seconds, chain.ok && java.ok ? "" : "  (a run failed)");
    } else {
        std::printf(" | pdftk-java not installed (apt-get install pdftk-java)\n");
    }

    // Decryption of a 352-page book (AES-128: pdftk-java cannot open AES-256 files at all).
    const std::string locked = (work / "locked.pdf").string();
    command("qpdf --encrypt user owner 128 --use-aes=y -- " + quoted(corpus + "/freeculture.pdf") +
            " " + quoted(locked));
    const std::string out = (work / "open.pdf").string();
    const Measure mine = best(
        runs, [] {},
        [&] {
            return command(app + "/data/pdftk " + quoted(locked) + " input_pw user output " +
                           quoted(out) + " dont_ask");
        });
    std::printf("decrypting 352 pages: ours %.2f s", mine.seconds);
    if (peer) {
        const Measure java = best(
            runs, [] {},
            [&] {
                return command("pdftk " + quoted(locked) + " input_pw user output " + quoted(out) +
                               " dont_ask");
            });
        std::printf(" | pdftk-java %.2f s | speed x%.1f\n", java.seconds,
                    java.seconds / mine.seconds);
    } else {
        std::printf("\n");
    }

    std::printf("\nPDF to HTML: ours (text + background pictures) against pdftohtml -s -i "
                "-noframes (text only)\n");
    struct Input {
        const char* file;
        int pages;
    };
    const std::vector<Input> inputs = {{"tracemonkey.pdf", 14},    {"TAMReview.pdf", 23},
                                       {"freeculture.pdf", 352},   {"issue16063.pdf", 1},
                                       {"prefilled_f1040.pdf", 2}, {"personwithdog.pdf", 1}};
    for (const Input& in : inputs) {
        const std::string pdf = corpus + "/" + in.file;
        const fs::path ourFolder = work / "html-ours";
        const fs::path peerFolder = work / "html-peer";
        const Measure h = best(
            runs, [&] { fresh(ourFolder); },
            [&] {
                return command(app + "/data/pdf2htm -f 1 " + quoted(pdf) + " " +
                               quoted((ourFolder / "out.html").string()));
            });
        const Measure p = best(
            runs, [&] { fresh(peerFolder); },
            [&] {
                return command("pdftohtml -q -s -i -noframes " + quoted(pdf) + " " +
                               quoted((peerFolder / "out.html").string()));
            });
        std::printf(
            "%-24s %4d p  ours %6.2f s %7.2f MB | pdftohtml %6.2f s %7.2f MB | speed x%5.2f\n",
            in.file, in.pages, h.seconds, folderSize(ourFolder) / 1e6, p.seconds,
            folderSize(peerFolder) / 1e6, p.seconds / h.seconds);
    }

    std::printf(
        "\nPDF to SWF (text as the movie's own text, the rest of each page drawn at 144 dpi; "
        "compressed movie; its size against the PDF's)\n");
    for (const Input& in : inputs) {
        const std::string pdf = corpus + "/" + in.file;
        const std::string swf = (work / "out.swf").string();
        const Measure s = best(
            runs, [] {},
            [&] {
                return command(app + "/data/pdf2swf -s framerate=0.5 -q -z " + quoted(pdf) +
                               " -o " + quoted(swf));
            });
        std::printf("%-24s %4d p  %6.2f s  %6.1f pages/s  %7.2f MB  x%5.2f the PDF%s\n", in.file,
                    in.pages, s.seconds, in.pages / s.seconds, fs::file_size(swf) / 1e6,
                    double(fs::file_size(swf)) / double(fs::file_size(pdf)),
                    s.ok ? "" : "  (failed)");
    }
    fs::remove_all(work);
    return 0;
}
