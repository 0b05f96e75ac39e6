#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
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

/// One step of a glyph's outline, in a font's em square of 1024 units with y growing downwards
/// from the baseline: a move starting a contour, a line or a quadratic curve through (cx, cy).
struct SwfOutlineStep {
    enum class Kind { Move, Line, Curve };
    Kind kind = Kind::Move;
    int32_t x = 0, y = 0;
    int32_t cx = 0, cy = 0; ///< Curve: the control point
};

/// A glyph's outline as a font of the movie stores it (a SHAPE of one fill style). Contours
/// that do not end where they began are closed with a line.
std::string swfGlyphShape(const std::vector<SwfOutlineStep>& steps);

/// A glyph of a movie's font: its outline (swfGlyphShape) and the character it stands for.
struct SwfFontGlyph {
    std::string shape;
    uint16_t code = 0;
};

/// One glyph of a text: the movie's font and the glyph's place in it, and the x of its origin.
struct SwfPlacedGlyph {
    uint16_t font = 0;
    uint16_t index = 0;
    int32_t x = 0;
};

/// Glyphs on one baseline in one size and colour, in the order they are drawn.
struct SwfTextRun {
    uint16_t height = 0;  ///< the em's size, in the text's units
    uint32_t rgba = 0xFF; ///< 0xRRGGBBAA
    int32_t y = 0;        ///< the baseline
    std::vector<SwfPlacedGlyph> glyphs;
};

/// Text over a page's picture. Its units are `unitsPerPixel` to a pixel of the picture
/// vertically and `unitsPerPixel / xScale` horizontally, so that glyphs stretched sideways
/// (xScale other than 1) keep their shape; all coordinates fit in 16 bits signed.
struct SwfText {
    double unitsPerPixel = 10;
    double xScale = 1;
    int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0; ///< where the glyphs' ink lies
    std::vector<SwfTextRun> runs;
};

/// A frame's content: the page's picture (none for a blank page) of `width` × `height` pixels,
/// and the texts drawn over it, in order.
struct SwfPage {
    std::optional<SwfBitmap> picture;
    int width = 0;
    int height = 0;
    std::vector<SwfText> texts;
};

/// The parts of a SWF file that a slide show of pages needs: a header, a bitmap and texts
/// filling the stage one frame each, fonts of glyph outlines for the texts, and an optional
/// viewer (stop on the first frame, buttons to play, go back and go on). Frames are written to
/// a temporary body as they come, so memory does not grow with the page count.
class SwfMovie {
public:
    /// `stageWidth` and `stageHeight` in pixels; `frameRate` in frames per second (> 0).
    SwfMovie(int stageWidth, int stageHeight, double frameRate, bool viewer);
    ~SwfMovie();
    SwfMovie(const SwfMovie&) = delete;
    SwfMovie& operator=(const SwfMovie&) = delete;

    /// Adds a frame showing `bitmap`, scaled to fit the stage and centred.
    void addFrame(const SwfBitmap& bitmap);

    /// Adds a frame showing the page's picture and its texts, scaled to fit the stage and
    /// centred. The fonts the texts use must be defined.
    void addFrame(const SwfPage& page);

    /// Defines a font of `glyphs` (at most 65535), for the texts of this and later frames;
    /// returns its id.
    uint16_t defineFont(const std::string& name, const std::vector<SwfFontGlyph>& glyphs);

    /// Writes the movie to `path` (through a temporary name): zlib-compressed ("CWS") when
    /// `compress`, otherwise plain ("FWS"). Throws std::runtime_error on failure.
    void finish(const std::string& path, bool compress);

    /// The SWF version written.
    static constexpr int Version = 8;

private:
    void tag(int code, const std::vector<uint8_t>& data);
    void defineViewer();
    uint16_t newId();

    int m_width;
    int m_height;
    uint16_t m_rate;
    bool m_viewer;
    std::FILE* m_body;
    int m_frames = 0;
    uint16_t m_nextId = 1;
    int m_nextDepth = ViewerDepth;
    int m_pageDepths = 0; ///< depths 1.. that the current frame's page fills
    bool m_pendingShow = false;
    // The viewer's buttons lie above all that a page places.
    static constexpr int ViewerDepth = 16000;
};

/// `frameRate` as SWF's 8.8 fixed-point number (0.5 gives 0x0080); 0 when out of range.
uint16_t swfFrameRate(double frameRate);

} // namespace tools
