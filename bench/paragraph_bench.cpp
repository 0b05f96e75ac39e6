// Measures how the RTF export rebuilds paragraphs on the corpus's prose:
//   paragraph_bench CORPUS_DIR LIBPDFTOX [--list]
// For each document it exports every page with the library, reads the RTF back with the tests'
// RTF reader and prints:
//  - the paragraphs of more than 40 characters (code points, blanks at the ends trimmed) that
//    are prose: letters make up at least half of their visible characters, and they are not
//    headings (all bold, or set larger than the page's body text, the size most of its
//    characters have) or program text (all in a monospace font);
//  - the share of them that end mid-sentence: after closing quotes and brackets (and footnote
//    marks, digits or asterisks, that follow one of these or a punctuation mark) are set
//    aside, the last character is none of . ! ? : ; … . The same share is printed once more
//    without the last of these paragraphs on each page, which in a book usually runs on to the
//    next page (the export keeps pages apart, so that one cannot be joined);
//  - word recall: the share of the words of `pdftotext`'s text of the same pages (cropped to
//    each page's crop box, as the library reads it) that our text holds too, counted as
//    multisets. A word is a run of letters and digits, in lower case; a hyphen at the end of a
//    line of pdftotext's text followed by a lower-case letter joins the two halves, as the
//    export joins them.
// --list prints the paragraphs found to end mid-sentence, with their page.
// Pages measured: freeculture.pdf pages 12-312, the book's text from the preface to the end (its
// title pages, contents, notes and index are lists, not prose); tracemonkey.pdf and
// TAMReview.pdf whole.
// Only pages with real text are measured: those where letters make up at least half of the
// visible characters of pdftotext's text. Fonts without a usable Unicode map (TAMReview.pdf
// from page 2 on) give symbols there, and those pages are left out and counted.
#include "bench_util.h"
#include "rtf_reader.h"
#include "utf8.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace bench;

namespace {

std::string capture(const std::string& commandLine) {
    std::string out;
    if (FILE* pipe = popen(commandLine.c_str(), "r")) {
        char buffer[1 << 16];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        pclose(pipe);
    }
    return out;
}

struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool operator==(const Box&) const = default;
};

// The media and crop boxes of every page, from pdfinfo.
std::vector<std::pair<Box, Box>> pageBoxes(const std::string& pdf, int pages) {
    std::vector<std::pair<Box, Box>> boxes(static_cast<size_t>(pages));
    std::istringstream in(capture("pdfinfo -box -f 1 -l " + std::to_string(pages) + " " +
                                  quoted(pdf) + " 2>/dev/null"));
    std::string line;
    while (std::getline(in, line)) {
        int page = 0;
        char kind[16] = "";
        Box b;
        if (std::sscanf(line.c_str(), "Page %d %15[A-Za-z]: %lf %lf %lf %lf", &page, kind, &b.x0,
                        &b.y0, &b.x1, &b.y1) == 6 &&
            page >= 1 && page <= pages) {
            if (std::string(kind) == "MediaBox") {
                boxes[size_t(page - 1)].first = b;
            } else if (std::string(kind) == "CropBox") {
                boxes[size_t(page - 1)].second = b;
            }
        }
    }
    return boxes;
}

// pdftotext's text of each page, cropped to the page's crop box. Pages of equal boxes go
// through one run.
std::vector<std::string> referenceTexts(const std::string& pdf, int pages) {
    const auto boxes = pageBoxes(pdf, pages);
    std::vector<std::string> texts(static_cast<size_t>(pages));
    int first = 1;
    while (first <= pages) {
        int last = first;
        while (last < pages && boxes[size_t(last)] == boxes[size_t(first - 1)]) {
            ++last;
        }
        const auto& [media, crop] = boxes[size_t(first - 1)];
        char area[160];
        std::snprintf(area, sizeof area, "-r 72 -x %d -y %d -W %d -H %d", int(crop.x0 - media.x0),
                      int(media.y1 - crop.y1), int(crop.x1 - crop.x0 + 1),
                      int(crop.y1 - crop.y0 + 1));
        const std::string all = capture("pdftotext -q -enc UTF-8 " + std::string(area) + " -f " +
                                        std::to_string(first) + " -l " + std::to_string(last) +
                                        " " + quoted(pdf) + " -");
        size_t start = 0;
        for (int p = first; p <= last; ++p) {
            const size_t ff = all.find('\f', start);
            texts[size_t(p - 1)] = all.substr(start, ff == std::string::npos ? ff : ff - start);
            start = ff == std::string::npos ? all.size() : ff + 1;
        }
        first = last + 1;
    }
    return texts;
}

bool isWordChar(char32_t c) {
    if (c < 0x80) {
        return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
    }
    // Letters of the Latin, Greek, Cyrillic and other scripts; not punctuation, symbols or
    // spaces.
    return c >= 0xC0 && c != 0xD7 && c != 0xF7 && !(c >= 0x2000 && c <= 0x2BFF) &&
           !(c >= 0x3000 && c <= 0x303F) && c != 0xFEFF && c != 0xFFFD &&
           !(c >= 0xE000 && c < 0xF900);
}

std::vector<std::u32string> words(const std::u32string& text) {
    std::vector<std::u32string> out;
    std::u32string word;
    for (const char32_t c : text) {
        if (isWordChar(c)) {
            word.push_back(c >= U'A' && c <= U'Z' ? c + 32 : c);
        } else if (!word.empty()) {
            out.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) {
        out.push_back(std::move(word));
    }
    return out;
}

// pdftotext's text with a hyphen at a line's end joining the halves of a word.
std::u32string joinHyphenated(const std::u32string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((text[i] == U'-' || text[i] == 0xAD) && i + 2 < text.size() && text[i + 1] == U'\n' &&
            text[i + 2] >= U'a' && text[i + 2] <= U'z' && i > 0 && isWordChar(text[i - 1])) {
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

bool realText(const std::u32string& text) {
    int visible = 0;
    int letters = 0;
    for (const char32_t c : text) {
        if (c > U' ') {
            ++visible;
            letters += isWordChar(c) && !(c >= U'0' && c <= U'9') ? 1 : 0;
        }
    }
    return visible > 0 && 2 * letters >= visible;
}

bool isClosing(char32_t c) {
    return c == U')' || c == U']' || c == U'}' || c == U'"' || c == U'\'' || c == 0x201D ||
           c == 0x2019 || c == 0xBB || c == 0x203A;
}

bool isTerminal(char32_t c) {
    return c == U'.' || c == U'!' || c == U'?' || c == U':' || c == U';' || c == 0x2026;
}

bool endsMidSentence(std::u32string s) {
    auto isMark = [](char32_t c) {
        return (c >= U'0' && c <= U'9') || c == U'*' || c == 0x2217 || c == 0x2020 || c == 0x2021;
    };
    size_t end = s.size();
    size_t marks = end;
    while (marks > 0 && isMark(s[marks - 1])) {
        --marks;
    }
    if (marks < end && marks > 0 && (isClosing(s[marks - 1]) || isTerminal(s[marks - 1]))) {
        end = marks;
    }
    while (end > 0 && isClosing(s[end - 1])) {
        --end;
    }
    return end == 0 || !isTerminal(s[end - 1]);
}

std::u32string trimmed(const std::u32string& s) {
    const size_t a = s.find_first_not_of(U" \t\u00a0");
    if (a == std::u32string::npos) {
        return {};
    }
    return s.substr(a, s.find_last_not_of(U" \t\u00a0") - a + 1);
}

struct Figures {
    int measuredPages = 0;
    int skippedPages = 0;
    int longParagraphs = 0;
    int midSentence = 0;
    int longNotLast = 0;
    int midNotLast = 0;
    long referenceWords = 0;
    long foundWords = 0;
};

Figures measure(const testing_support::RtfDocument& doc, const std::vector<std::string>& refs,
                int first, int last, bool list) {
    Figures f;
    for (size_t p = size_t(first - 1); p < refs.size() && p < size_t(last); ++p) {
        const std::u32string ref = pdftox::decodeUtf8(refs[p]);
        if (!realText(ref)) {
            ++f.skippedPages;
            continue;
        }
        ++f.measuredPages;
        const std::u32string ours =
            p < doc.pages.size() ? pdftox::decodeUtf8(doc.pages[p].text) : std::u32string();

        // The page's body size: the size most of its characters have.
        std::map<int, size_t> sizes;
        for (const testing_support::RtfRun& run : doc.pages[p].runs) {
            sizes[run.halfPoints] += run.text.size();
        }
        int body = 0;
        size_t most = 0;
        for (const auto& [halfPoints, count] : sizes) {
            if (count > most) {
                most = count;
                body = halfPoints;
            }
        }
        std::vector<std::u32string> paragraphs;
        for (const testing_support::RtfParagraph& para : doc.pages[p].paragraphs) {
            const std::u32string t = trimmed(pdftox::decodeUtf8(para.text));
            // Prose only: headings (all bold, or larger than the body), program text (all
            // monospace) and rows of ornaments or symbols are no sentences.
            if (t.size() > 40 && realText(t) && !para.allBold && para.halfPoints <= body &&
                !para.allMonospace) {
                paragraphs.push_back(t);
            }
        }
        for (size_t i = 0; i < paragraphs.size(); ++i) {
            const bool mid = endsMidSentence(paragraphs[i]);
            ++f.longParagraphs;
            f.midSentence += mid;
            if (mid && list) {
                std::string text;
                for (const char32_t c : paragraphs[i]) {
                    pdftox::appendUtf8(text, c);
                }
                std::printf("  p%zu: %s\n", p + 1, text.c_str());
            }
            if (i + 1 < paragraphs.size()) {
                ++f.longNotLast;
                f.midNotLast += mid;
            }
        }

        std::map<std::u32string, int> have;
        for (auto& w : words(ours)) {
            ++have[w];
        }
        for (const auto& w : words(joinHyphenated(ref))) {
            ++f.referenceWords;
            if (auto it = have.find(w); it != have.end() && it->second > 0) {
                --it->second;
                ++f.foundWords;
            }
        }
    }
    return f;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: paragraph_bench CORPUS_DIR LIBPDFTOX [--list]\n");
        return 2;
    }
    const std::string corpus = argv[1];
    const bool list = argc > 3 && std::string(argv[3]) == "--list";
    Library lib;
    if (!loadLibrary(argv[2], &lib)) {
        return 1;
    }
    const fs::path work =
        fs::temp_directory_path() / ("lumadoc-parabench-" + std::to_string(getpid()));
    fs::create_directories(work);

    std::printf("RTF paragraphs on prose: paragraphs over 40 characters, the share ending "
                "mid-sentence (all; without each page's last), word recall against pdftotext\n");
    int status = 0;
    struct Document {
        const char* file;
        int first;
        int last; // 0: to the end
    };
    for (const auto& [file, first, last] :
         {Document{"freeculture.pdf", 12, 312}, Document{"tracemonkey.pdf", 1, 0},
          Document{"TAMReview.pdf", 1, 0}}) {
        const std::string pdf = corpus + "/" + file;
        const int h = lib.open(pdf.c_str(), "");
        if (h <= 0) {
            std::printf("%-16s cannot open\n", file);
            status = 1;
            continue;
        }
        const int pages = lib.pages(h);
        const fs::path out = work / (std::string(file) + ".rtf");
        const int written = lib.rtf(h, out.c_str(), 1, pages, nullptr);
        lib.close(h);
        if (written != pages) {
            std::printf("%-16s export failed (%d)\n", file, written);
            status = 1;
            continue;
        }
        std::ifstream in(out, std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        const testing_support::RtfDocument doc = testing_support::readRtf(raw);
        const Figures f =
            measure(doc, referenceTexts(pdf, pages), first, last > 0 ? last : pages, list);
        std::printf("%-16s %3d pages (%d without real text left out)  %5d paragraphs > 40  "
                    "mid-sentence %5.1f %%  (%5.1f %% without each page's last)  "
                    "word recall %.3f%s\n",
                    file, f.measuredPages, f.skippedPages, f.longParagraphs,
                    f.longParagraphs ? 100.0 * f.midSentence / f.longParagraphs : 0.0,
                    f.longNotLast ? 100.0 * f.midNotLast / f.longNotLast : 0.0,
                    f.referenceWords ? double(f.foundWords) / double(f.referenceWords) : 1.0,
                    doc.valid ? "" : "  (the RTF does not parse)");
    }
    fs::remove_all(work);
    return status;
}
