#pragma once

// Pictures for the page-writing library's tests, written with the codec libraries at test time.
#include <cstdint>
#include <string>
#include <vector>

namespace pdfctl_tests {

struct Rgb {
    uint8_t r, g, b;
};

/// A picture of whole pixels: `channels` bytes per pixel (1 grey, 2 grey+alpha, 3 RGB,
/// 4 RGBA or CMYK), rows top first.
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<uint8_t> pixels;
    uint8_t* at(int x, int y) {
        return &pixels[(size_t(y) * size_t(width) + size_t(x)) * size_t(channels)];
    }
};

/// A `width` x `height` picture of four coloured quadrants (top-left, top-right, bottom-left,
/// bottom-right), RGB.
Picture quadrants(int width, int height, const Rgb (&colors)[4]);
/// A picture of one colour: `value` holds `channels` bytes.
Picture solid(int width, int height, const std::vector<uint8_t>& value);
/// The picture stored so that, shown under EXIF `orientation`, it looks like `upright`.
Picture storedFor(const Picture& upright, int orientation);

struct JpegOptions {
    bool progressive = false;
    int orientation = 0; ///< an EXIF block with this value when not 0
    int quality = 95;
};
/// Writes a JPEG of `picture` (1, 3 or 4 = CMYK with libjpeg's Adobe marker).
void writeJpeg(const std::string& path, const Picture& picture, const JpegOptions& options = {});

struct PngOptions {
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<Rgb> palette;          ///< a palette picture: pixels hold indices (channels 1)
    std::vector<uint8_t> paletteAlpha; ///< its tRNS entries
    int orientation = 0;               ///< an eXIf chunk when not 0
};
/// Writes a PNG; 16-bit depth repeats each 8-bit sample in both bytes.
void writePng(const std::string& path, const Picture& picture, const PngOptions& options = {});

/// A TIFF with one page per picture (RGB, 8 bits), `orientation` tagged on the first.
void writeTiff(const std::string& path, const std::vector<Picture>& pages, int orientation = 1);
/// A bilevel TIFF (CCITT G4, white is zero) of a grey picture thresholded at 128.
void writeBilevelTiff(const std::string& path, const Picture& grey);
/// An animated GIF of palette pictures (channels 1) over `palette`; `transparent` >= 0 marks
/// that index transparent in every frame.
void writeGif(const std::string& path, const std::vector<Picture>& frames,
              const std::vector<Rgb>& palette, int transparent = -1);
/// A 24-bit BMP, rows stored bottom first as usual.
void writeBmp(const std::string& path, const Picture& rgb);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

/// The concatenated payloads of the IDAT chunks of a PNG file.
std::string idatBytes(const std::string& png);

} // namespace pdfctl_tests
