#pragma once

// A small RTF reader for tests: the text of each page (pages split at \page and \sect), the
// runs with their character formatting, and the pictures met.
#include <string>
#include <vector>

namespace testing_support {

struct RtfRun {
    std::string text; ///< UTF-8
    bool bold = false;
    bool italic = false;
    int halfPoints = 24;
    std::string font;
    int red = 0, green = 0, blue = 0;
};

struct RtfPage {
    std::vector<RtfRun> runs;
    std::string text; ///< all runs, paragraphs separated by '\n', "[picture]" where one stands
    int pictures = 0;
};

struct RtfDocument {
    bool valid = false; ///< starts with {\rtf1 and its groups balance
    std::vector<RtfPage> pages;
    std::vector<std::string> fonts;
};

RtfDocument readRtf(const std::string& rtf);

} // namespace testing_support
