#pragma once

// Writing the one-page PDF of a box: the page, its pictures and the document information.
#include "image.h"

#include <string>
#include <vector>

namespace pdfctl {

/// A picture drawn on the page.
struct Placement {
    StoredImage image;
    /// The rectangle it fills upright, in points from the page's bottom-left corner.
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

struct PageSetup {
    double width = 0; ///< points
    double height = 0;
    std::string creator; ///< Creator and Producer; none when empty
    bool compressContent = true;
};

/// The content-stream matrix that maps the unit square of an image stored as `orientation`
/// says onto the rectangle, upright: a b c d e f of "cm".
struct Matrix {
    double a, b, c, d, e, f;
};
Matrix placementMatrix(int orientation, double x, double y, double width, double height);

/// Writes the page to `path` under a temporary name and renames it when whole; an existing
/// file is replaced. The bytes of the pictures come from their files (which must be unchanged
/// since they were drawn) or from `spool`. Throws pdftox::WriteError when the file cannot be
/// written, ImageError (its message naming the picture's file) when a drawn file changed.
void writePage(const std::string& path, const PageSetup& setup,
               const std::vector<Placement>& placements, Spool& spool);

} // namespace pdfctl
