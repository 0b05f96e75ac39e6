#pragma once

// Decoded pictures on their way into the page: the decoders hand rows of 8-bit samples (or
// packed bits of a bilevel picture) to a RasterEncoder, which stores them as the box's settings
// say, streaming into the spool so that no more than one picture is ever held.
#include "image.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pdfctl {

enum class ColorSpace { Gray, Rgb, Cmyk, Indexed };

struct RasterFormat {
    int width = 0;
    int height = 0;
    ColorSpace space = ColorSpace::Rgb;
    std::string palette;       ///< Indexed: RGB triplets, 1 to 256 of them
    int bits = 8;              ///< 8, or 1 for a packed bilevel Gray picture
    bool alpha = false;        ///< every row comes with a row of alpha values
    bool invertedCmyk = false; ///< Cmyk samples stored inverted (Adobe's JPEG convention)
};

/// The receiver of decoded rows, top row first.
class RasterTarget {
public:
    virtual ~RasterTarget() = default;
    /// Called once, before the rows.
    virtual void begin(const RasterFormat& format) = 0;
    /// One row: `color` holds the samples (one byte per pixel for Indexed, packed bits for a
    /// 1-bit picture), `alpha` one byte per pixel when the format has alpha, else null.
    virtual void row(const uint8_t* color, const uint8_t* alpha) = 0;
};

/// Encodes rows into `spool` as an image XObject and its soft mask. An alpha channel that is
/// opaque everywhere gives no soft mask.
class RasterEncoder : public RasterTarget {
public:
    RasterEncoder(const StoreSettings& settings, Spool& spool);
    ~RasterEncoder() override;
    void begin(const RasterFormat& format) override;
    void row(const uint8_t* color, const uint8_t* alpha) override;
    /// Completes the streams and puts them into `image` (its size, image and mask).
    void finish(StoredImage& image);

private:
    struct State;
    std::unique_ptr<State> m_state;
    const StoreSettings m_settings;
    Spool& m_spool;
};

/// The decoders: each reads the first picture of the file open as `fd` into `target` and
/// returns its EXIF orientation (1 when the format has none). Throw ImageError.
int decodePng(int fd, RasterTarget& target);
int decodeGif(int fd, RasterTarget& target);
int decodeTiff(const std::string& path, RasterTarget& target);
int decodeBmp(int fd, RasterTarget& target);
/// A JPEG that cannot be copied as it is (arithmetic coding): decoded with libjpeg.
void decodeJpeg(int fd, RasterTarget& target);

/// What a JPEG file's markers before its scan say.
struct JpegHeader {
    int width = 0;
    int height = 0;
    int components = 0;
    int precision = 8;
    int frameType = 0;   ///< the SOF marker's second byte: 0xc0 baseline, 0xc2 progressive
    bool adobe = false;  ///< an APP14 Adobe marker (CMYK then stored inverted)
    bool rgbIds = false; ///< three components named 'R', 'G', 'B' (RGB without transform)
    int orientation = 1;
};
/// Reads the markers up to the first scan; throws ImageError when they are not a JPEG's.
JpegHeader readJpegHeader(int fd);

/// The orientation in an EXIF block (a TIFF structure, after "Exif\0\0"); 1 when absent or
/// invalid.
int exifOrientation(const uint8_t* tiff, size_t size);

/// A PNG file stored as it is when `settings` allow it: its IDAT bytes with their predictors
/// become the image's Flate stream. Returns false when the file has to be decoded instead.
bool storePngAsIs(int fd, const StoreSettings& settings, StoredImage& image);

/// The headers only: size and orientation. Throw ImageError.
ImageSize measurePng(int fd);
ImageSize measureGif(int fd);
ImageSize measureTiff(const std::string& path);
ImageSize measureBmp(int fd);

} // namespace pdfctl
