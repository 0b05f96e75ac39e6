#pragma once

// Shared pieces of the export library tests: fixtures on disk, running programs, reading the
// images back with the codec libraries.
#include "pdf_fixture.h"
#include "pdftox.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine_tests {

std::string corpus(const std::string& name);
bool haveCorpus();

/// Runs a shell command line; returns its exit status.
int run(const std::string& commandLine);
/// Runs a command and returns its standard output.
std::string output(const std::string& commandLine);
std::string readFile(const std::string& path);
std::vector<std::string> listFolder(const std::string& folder);

/// A decoded image: size, channels of the file (1 grey, 3 RGB, 1 + palette), pixels as RGB.
struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0; ///< as stored: 24 true colour, 8 palette or grey
    int paletteSize = 0;
    double dpi = 0;
    std::vector<uint8_t> rgb;
};
Decoded decodePng(const std::string& path);
Decoded decodeJpeg(const std::string& path);
Decoded decodeTiff(const std::string& path);
Decoded decodeGif(const std::string& path);
Decoded decodeBmp(const std::string& path);
Decoded decodeAny(const std::string& path);

/// Mean absolute difference of two RGB images of the same size (255 when sizes differ).
double meanDifference(const Decoded& a, const Decoded& b);

/// An argument quoted by the Windows rules, as the conversion run quotes paths.
std::string q(const std::string& s);

/// Starts a command line the way the conversion run does (split by the Windows rules, no
/// shell), its standard output and error into the file `log`. Returns the process id.
long long startTool(const std::string& commandLine, const std::string& log);

struct ToolResult {
    int status = -1;    ///< exit status, 128 + signal when a signal ended it
    std::string errors; ///< what it printed
};

/// startTool, waited for.
ToolResult runTool(const std::string& commandLine, const std::string& log);

/// A temporary folder removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// The three-page fixture: styled text and a picture on a Letter page, a landscape page, a
/// rotated Letter page.
std::vector<testing_support::FixturePage> styledPages();

} // namespace engine_tests
