#pragma once

#include "../pdftox.h"

#include <cstdint>
#include <string>

namespace pdftox {

/// Rows of 8-bit pixels: 1 channel (grey) or 3 (RGB), top row first.
struct Bitmap {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::ptrdiff_t stride = 0;
    const uint8_t* pixels = nullptr;
    int dpi = 72;

    const uint8_t* row(int y) const { return pixels + stride * y; }
};

/// The image types, numbered by their codes in the C interface (ExportIMG converts one into
/// the other).
enum class ImageType {
    Bmp = PDFTOX_BMP,
    Jpeg = PDFTOX_JPEG,
    Tiff = PDFTOX_TIFF,
    Png = PDFTOX_PNG,
    Gif = PDFTOX_GIF
};

/// The file extension of a type, with its dot.
const char* extensionOf(ImageType type);

/// Writes `bitmap` to `path` in `type`. `paletted` asks for a 256-colour palette made for the
/// image (GIF always has one; JPEG then writes grey). Throws std::runtime_error on failure.
void writeImage(const Bitmap& bitmap, ImageType type, bool paletted, const std::string& path);

/// The bitmap as PNG file bytes (true colour or grey). Throws std::runtime_error on failure.
std::string encodePng(const Bitmap& bitmap);

/// The bitmap as JPEG file bytes at `quality` (1-100). Throws std::runtime_error on failure.
std::string encodeJpeg(const Bitmap& bitmap, int quality);

/// True when the bitmap is more like a photograph than like rendered text and line art
/// (prediction shrinks it noticeably): such pictures are better stored as JPEG.
bool looksPhotographic(const Bitmap& bitmap);

} // namespace pdftox
