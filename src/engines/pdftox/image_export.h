#pragma once

#include "../pdftox.h"
#include "image_writers.h"
#include "page_pipeline.h"

#include <functional>
#include <string>

namespace pdftox {

struct ImageJob {
    std::string folder; ///< ends in '/'
    std::string prefix; ///< file names: prefix + zero-padded page number + extension
    ImageType type = ImageType::Png;
    int dpi = 120;
    bool paletted = false;
    int pageCount = 0; ///< pages of the document: decides the width of the page numbers
};

/// The file name of `page` in `job` ("page-0007.png").
std::string imageFileName(const ImageJob& job, int page);

/// Why an image export ended early: the export library's result codes (negative, unlike a
/// count of files), so that ExportIMG hands them on as they are.
enum class ImageExportFailure {
    WriteFailed = PDFTOX_WRITE_FAILED,
    DiskFull = PDFTOX_DISK_FULL,
    Stopped = PDFTOX_STOPPED
};

/// Renders and writes the pages first..last (inside the document), calling `pageDone` on the
/// calling thread after each page in order. Returns the number of files written, or the code of
/// an ImageExportFailure when writing failed (the run stops then, keeping the whole files written)
/// or requestStop() was called.
int exportImages(const DocumentSource& source, const ImageJob& job, int first, int last,
                 const std::function<void()>& pageDone);

} // namespace pdftox
