#include "rtf_reader.h"

#include "utf8.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace testing_support {
namespace {

using pdftox::appendUtf8;

enum class Dest { Text, FontTable, ColorTable, Picture, Skip };

struct State {
    bool bold = false;
    bool italic = false;
    int halfPoints = 24;
    int font = 0;
    int color = 0;
    int ucSkip = 1;
    Dest dest = Dest::Text;
};

struct Color {
    int r = 0, g = 0, b = 0;
};

} // namespace

RtfDocument readRtf(const std::string& rtf) {
    RtfDocument doc;
    if (rtf.rfind("{\\rtf1", 0) != 0) {
        return doc;
    }
    std::vector<State> stack;
    State st;
    std::map<int, std::string> fonts;
    std::map<int, std::string> fontClasses;
    RtfParagraph para;
    bool paraHasVisible = false;
    std::vector<Color> colors;
    Color pendingColor;
    int currentFontEntry = -1;
    std::string fontName;
    doc.pages.emplace_back();
    char16_t highSurrogate = 0;
    int skipChars = 0;

    auto emit = [&](char32_t c) {
        if (skipChars > 0) {
            --skipChars;
            return;
        }
        if (st.dest == Dest::FontTable) {
            if (c == U';') {
                if (currentFontEntry >= 0) {
                    fonts[currentFontEntry] = fontName;
                }
                fontName.clear();
            } else {
                appendUtf8(fontName, c);
            }
            return;
        }
        if (st.dest == Dest::ColorTable) {
            if (c == U';') {
                colors.push_back(pendingColor);
                pendingColor = Color();
            }
            return;
        }
        if (st.dest != Dest::Text) {
            return;
        }
        RtfPage& page = doc.pages.back();
        const Color col =
            st.color > 0 && size_t(st.color) < colors.size() ? colors[size_t(st.color)] : Color();
        const std::string font = fonts.count(st.font) ? fonts[st.font] : std::string();
        if (page.runs.empty() || page.runs.back().bold != st.bold ||
            page.runs.back().italic != st.italic || page.runs.back().halfPoints != st.halfPoints ||
            page.runs.back().font != font || page.runs.back().red != col.r ||
            page.runs.back().green != col.g || page.runs.back().blue != col.b) {
            page.runs.push_back({"", st.bold, st.italic, st.halfPoints, font, col.r, col.g, col.b});
        }
        appendUtf8(page.runs.back().text, c);
        appendUtf8(page.text, c);
        appendUtf8(para.text, c);
        if (c > U' ' && c != 0xA0) {
            const bool mono = fontClasses.count(st.font) && fontClasses[st.font] == "modern";
            para.allBold = (paraHasVisible ? para.allBold : true) && st.bold;
            para.allMonospace = (paraHasVisible ? para.allMonospace : true) && mono;
            para.halfPoints = std::max(para.halfPoints, st.halfPoints);
            paraHasVisible = true;
        }
    };
    auto endParagraph = [&] {
        doc.pages.back().paragraphs.push_back(para);
        para.text.clear();
        para.allBold = false;
        para.allMonospace = false;
        para.halfPoints = 0;
        para.picture = false;
        paraHasVisible = false;
    };

    size_t i = 0;
    int depth = 0;
    while (i < rtf.size()) {
        const char c = rtf[i];
        if (c == '{') {
            stack.push_back(st);
            ++depth;
            ++i;
            skipChars = 0;
            continue;
        }
        if (c == '}') {
            if (st.dest == Dest::FontTable && !stack.empty() &&
                stack.back().dest == Dest::FontTable) {
                currentFontEntry = -1;
            }
            if (stack.empty()) {
                return doc;
            }
            st = stack.back();
            stack.pop_back();
            --depth;
            ++i;
            skipChars = 0;
            if (depth == 0) {
                doc.valid = true;
                break;
            }
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            emit(char32_t(static_cast<unsigned char>(c)));
            ++i;
            continue;
        }
        // A control symbol or word.
        ++i;
        if (i >= rtf.size()) {
            break;
        }
        const char s = rtf[i];
        if (!std::isalpha(static_cast<unsigned char>(s))) {
            ++i;
            if (s == '\\' || s == '{' || s == '}') {
                emit(char32_t(s));
            } else if (s == '~') {
                emit(0xA0);
            } else if (s == '*') {
                if (st.dest == Dest::Text) {
                    st.dest = Dest::Skip;
                }
            } else if (s == '\'' && i + 2 <= rtf.size()) {
                emit(char32_t(std::stoi(rtf.substr(i, 2), nullptr, 16)));
                i += 2;
            }
            continue;
        }
        std::string word;
        while (i < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[i]))) {
            word += rtf[i++];
        }
        bool hasNumber = false;
        int number = 0;
        bool negative = false;
        if (i < rtf.size() && rtf[i] == '-') {
            negative = true;
            ++i;
        }
        while (i < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[i]))) {
            hasNumber = true;
            number = number * 10 + (rtf[i++] - '0');
        }
        if (negative) {
            number = -number;
        }
        if (i < rtf.size() && rtf[i] == ' ') {
            ++i;
        }
        if (word == "fonttbl") {
            st.dest = Dest::FontTable;
        } else if (word == "colortbl") {
            st.dest = Dest::ColorTable;
        } else if (word == "pict") {
            if (st.dest == Dest::Text) {
                doc.pages.back().pictures++;
                doc.pages.back().text += "[picture]";
                para.picture = true;
            }
            st.dest = Dest::Picture;
        } else if (word == "info" || word == "stylesheet" || word == "falt") {
            st.dest = Dest::Skip;
        } else if (word == "f") {
            if (st.dest == Dest::FontTable) {
                currentFontEntry = number;
                fontName.clear();
            } else {
                st.font = number;
            }
        } else if (word == "red") {
            pendingColor.r = number;
        } else if (word == "green") {
            pendingColor.g = number;
        } else if (word == "blue") {
            pendingColor.b = number;
        } else if (word == "b") {
            st.bold = !hasNumber || number != 0;
        } else if (word == "i") {
            st.italic = !hasNumber || number != 0;
        } else if (word == "fs") {
            st.halfPoints = number;
        } else if (word == "cf") {
            st.color = number;
        } else if (word == "plain") {
            st.bold = st.italic = false;
            st.halfPoints = 24;
            st.font = 0;
            st.color = 0;
        } else if (word == "uc") {
            st.ucSkip = number;
        } else if (word == "u") {
            const char32_t v = char32_t(number < 0 ? number + 65536 : number);
            if (v >= 0xD800 && v < 0xDC00) {
                highSurrogate = char16_t(v);
            } else if (v >= 0xDC00 && v < 0xE000 && highSurrogate) {
                emit(0x10000 + ((char32_t(highSurrogate) - 0xD800) << 10) + (v - 0xDC00));
                highSurrogate = 0;
            } else {
                emit(v);
            }
            skipChars = st.ucSkip;
        } else if (word == "par" || word == "line") {
            if (st.dest == Dest::Text) {
                doc.pages.back().text += '\n';
                if (word == "par") {
                    endParagraph();
                } else {
                    para.text += '\n';
                }
            }
        } else if (word == "pard") {
            para.alignment = 'l';
            para.firstIndent = para.leftIndent = para.spaceAfter = 0;
        } else if (word.size() == 2 && word[0] == 'q' &&
                   std::string("lrcj").find(word[1]) != std::string::npos) {
            para.alignment = word[1];
        } else if (word == "fi") {
            para.firstIndent = number;
        } else if (word == "li") {
            para.leftIndent = number;
        } else if (word == "sa") {
            para.spaceAfter = number;
        } else if (st.dest == Dest::FontTable && currentFontEntry >= 0 && word.size() > 1 &&
                   word[0] == 'f' &&
                   (word == "froman" || word == "fswiss" || word == "fmodern" ||
                    word == "fscript" || word == "fdecor" || word == "ftech" || word == "fnil" ||
                    word == "fbidi")) {
            fontClasses[currentFontEntry] = word.substr(1);
        } else if (word == "tab") {
            emit(U'\t');
        } else if (word == "page" || word == "sect") {
            if (st.dest == Dest::Text) {
                doc.pages.emplace_back();
            }
        } else if (word == "sbknone" && doc.pages.size() > 1 && doc.pages.back().text.empty() &&
                   doc.pages.back().runs.empty()) {
            doc.pages.pop_back(); // a section that goes on on the same page
        }
    }
    for (const auto& [index, name] : fonts) {
        if (size_t(index) >= doc.fonts.size()) {
            doc.fonts.resize(size_t(index) + 1);
            doc.fontClasses.resize(size_t(index) + 1);
        }
        doc.fonts[size_t(index)] = name;
        doc.fontClasses[size_t(index)] = fontClasses.count(index) ? fontClasses[index] : "";
    }
    return doc;
}

} // namespace testing_support
