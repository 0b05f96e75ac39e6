#pragma once

// A picture read from a file and made ready to be a PDF image XObject: its dictionary, where
// the bytes of its stream are, its soft mask and how it is turned to be upright.
#include "files.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pdfctl {

/// A file that is not a picture this library reads; the message says why, without the path
/// (the C interface puts the path in front).
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// How pictures other than JPEG files are stored (the values of PDFCTL_IMAGE_CODING).
enum class Coding { None = 0, Jpeg = 1, Flate = 2 };
/// What becomes of transparency (the values of PDFCTL_TRANSPARENCY).
enum class Transparency { Drop = 0, White = 1, SoftMask = 2 };

struct StoreSettings {
    Coding coding = Coding::Flate;
    Transparency transparency = Transparency::SoftMask;
    int jpegQuality = 90;
};

/// The bytes of a stream: ranges of the source file (copied as they are) or of the spool.
struct StreamBytes {
    bool inSource = false; ///< ranges of the drawn file, otherwise of the box's spool
    std::vector<std::pair<int64_t, int64_t>> ranges; ///< offset, length
    int64_t length() const;
};

/// One image XObject ready to be written.
struct StoredStream {
    std::string dictionary; ///< the entries besides /Length and /SMask, e.g. "/Type /XObject ..."
    StreamBytes bytes;
};

/// A drawn picture: its image, its optional soft mask, and the file it came from.
struct StoredImage {
    std::string path;
    FileIdentity source; ///< checked again before bytes of the source are copied
    int width = 0;       ///< pixels as stored
    int height = 0;
    int orientation = 1; ///< EXIF orientation 1..8
    StoredStream image;
    std::optional<StoredStream> mask;
};

/// The EXIF orientation values, 1 (as stored) to 8; anything else counts as 1.
int validOrientation(long value);

/// The size of a `width` x `height` picture shown upright under `orientation`.
inline void uprightSize(int orientation, int width, int height, int* w, int* h) {
    const bool turned = orientation >= 5;
    *w = turned ? height : width;
    *h = turned ? width : height;
}

/// The size and orientation of the picture in `path`, read from its header where the format
/// allows. Throws ImageError.
struct ImageSize {
    int width = 0;
    int height = 0;
    int orientation = 1;
};
ImageSize measureImage(const std::string& path);

class Spool;

/// Reads the picture in `path` and stores it as `settings` say: JPEG files and suitable PNG
/// files by reference to their bytes, everything else decoded and encoded into `spool`.
/// Throws ImageError for a file that is no readable picture, pdftox::WriteError when the spool
/// cannot be written.
StoredImage storeImage(const std::string& path, const StoreSettings& settings, Spool& spool);

} // namespace pdfctl
