#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tools {

/// A page's picture as a movie stores it: a JPEG, or pixels kept exactly through a colour
/// table of at most 256 entries, which suits text and drawings far better.
struct SwfBitmap {
    enum class Kind { Jpeg, Mapped };
    Kind kind = Kind::Jpeg;
    std::string data; ///< the JPEG; or the zlib-compressed colour table (RGB) and rows of
                      ///< indices, each row padded to a multiple of four bytes
    int width = 0;
    int height = 0;
    int colors = 0; ///< Mapped: the entries of the colour table
};

/// The parts of a SWF file that a slide show of page pictures needs: a header, bitmaps
/// filling the stage one frame each, and an optional viewer (stop on the first frame, buttons
/// to play, go back and go on). Frames are written to a temporary body as they come, so
/// memory does not grow with the page count.
class SwfMovie {
public:
    /// `stageWidth` and `stageHeight` in pixels; `frameRate` in frames per second (> 0).
    SwfMovie(int stageWidth, int stageHeight, double frameRate, bool viewer);
    ~SwfMovie();
    SwfMovie(const SwfMovie&) = delete;
    SwfMovie& operator=(const SwfMovie&) = delete;

    /// Adds a frame showing `bitmap`, scaled to fit the stage and centred.
    void addFrame(const SwfBitmap& bitmap);

    /// Writes the movie to `path` (through a temporary name): zlib-compressed ("CWS") when
    /// `compress`, otherwise plain ("FWS"). Throws std::runtime_error on failure.
    void finish(const std::string& path, bool compress);

    /// The SWF version written.
    static constexpr int Version = 8;

private:
    void tag(int code, const std::vector<uint8_t>& data);
    void defineViewer();

    int m_width;
    int m_height;
    uint16_t m_rate;
    bool m_viewer;
    std::FILE* m_body;
    int m_frames = 0;
    uint16_t m_nextId = 1;
    int m_nextDepth = 10;
    bool m_pendingShow = false;
};

/// `frameRate` as SWF's 8.8 fixed-point number (0.5 gives 0x0080); 0 when out of range.
uint16_t swfFrameRate(double frameRate);

} // namespace tools
