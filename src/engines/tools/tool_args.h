#pragma once

#include "swf_export.h"
#include "usage_error.h"

#include <climits>
#include <string>
#include <vector>

namespace tools {

/// Prints `e` for `program` on standard error: "program: message" when it has one, then the
/// synopsis when it asks for it. Returns the exit status for a usage error (TOOL_USAGE).
int reportUsageError(const char* program, const UsageError& e, const char* synopsis);

/// After a conversion that wrote its output: says on standard error which pages ran out of time
/// and were cut short, and gives the exit status (TOOL_CUT_SHORT when any, else TOOL_OK).
int reportPagesCutShort(const char* program);

/// Throws UsageError when `output` names the file `source` (also through a link): a conversion
/// never writes over its own input.
void refuseOutputOverInput(const std::string& source, const std::string& output);

/// What a pdf2htm command line asks for.
struct HtmlCommand {
    std::string source;
    std::string output;
    int first = 1;
    int last = INT_MAX; ///< no -l: to the end of the document
};

/// The synopsis that pdf2htm prints with a usage error.
extern const char* const pdf2htmSynopsis;

/// Parses the arguments after the program name: [-q] -f FIRST [-l LAST] SOURCE.pdf OUTPUT.html,
/// options and the two files in any order. Page numbers are decimal ints; whether they lie in
/// the document is for the conversion to say. Throws UsageError for an unknown option, a page
/// that is not a number or a count of files other than two.
HtmlCommand parsePdf2htmArgs(const std::vector<std::string>& args);

/// What a pdf2swf command line asks for.
struct SwfCommand {
    std::string source;
    std::string output;
    SwfOptions options;
};

/// The synopsis that pdf2swf prints with a usage error.
extern const char* const pdf2swfSynopsis;

/// Parses the arguments after the program name:
///   [-s simpleviewer] [-s framerate=F] [-q] [-z] [-p A[-B]] SOURCE.pdf -o OUTPUT.swf
/// in any order. -p N is the one page N. Whether the frame rate and pages are usable is for the
/// conversion to say. Throws UsageError for an unknown option or setting, a frame rate or range
/// that is not a number, and a missing or second source or a missing output.
SwfCommand parsePdf2swfArgs(const std::vector<std::string>& args);

} // namespace tools
