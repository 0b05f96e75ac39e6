// The C interface of the page-writing library: boxes, their properties, the per-thread error
// message and result codes.
#include "../pdfctl.h"

#include "atomic_file.h"
#include "image.h"
#include "page_writer.h"

#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pdfctl {
namespace {

constexpr double A4Width = 595.2756; // 210 mm in points
constexpr double A4Height = 841.8898;

/// Points per unit of PDFCTL_UNIT.
double pointsPer(int unit) {
    switch (unit) {
    case PDFCTL_UNIT_MM:
        return 72.0 / 25.4;
    case PDFCTL_UNIT_TENTH_MM:
        return 7.2 / 25.4;
    case PDFCTL_UNIT_INCH_100:
        return 0.72;
    default:
        return 1.0;
    }
}

struct Box {
    std::mutex use;
    // Properties.
    int unit = PDFCTL_UNIT_POINT;
    std::optional<int> width;
    std::optional<int> height;
    std::string output;
    std::string creator;
    bool compressContent = true;
    StoreSettings store;
    // The page between BeginDoc and EndDoc.
    bool begun = false;
    double scale = 1;     // points per unit, as at BeginDoc
    double pageWidth = 0; // points
    double pageHeight = 0;
    std::vector<Placement> placements;
    std::unique_ptr<Spool> spool;
};

std::mutex g_registryMutex;
std::map<int, std::shared_ptr<Box>> g_boxes;
int g_nextHandle = 1;

thread_local std::string t_error;

std::shared_ptr<Box> find(int handle) {
    std::lock_guard lock(g_registryMutex);
    auto it = g_boxes.find(handle);
    return it == g_boxes.end() ? nullptr : it->second;
}

int fail(std::string message) {
    t_error = std::move(message);
    return PDFCTL_FAILED;
}

// No exception may leave a function of the C interface. Each body runs inside this; what
// escapes it becomes the failure result with its message.
template <class Body> int atTheBoundary(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return fail("Out of memory");
    } catch (const std::exception& e) {
        return fail(e.what());
    } catch (...) {
        return fail("Unexpected failure");
    }
}

} // namespace
} // namespace pdfctl

using namespace pdfctl;

extern "C" {

int CreateBox(long ownerWindow, int reserved) {
    (void)ownerWindow;
    return atTheBoundary([&] {
        if (reserved != 0) {
            return fail("CreateBox: the reserved argument must be 0");
        }
        auto box = std::make_shared<Box>();
        std::lock_guard lock(g_registryMutex);
        if (g_nextHandle == INT_MAX) {
            return fail("CreateBox: no more handles");
        }
        const int handle = g_nextHandle++;
        g_boxes.emplace(handle, std::move(box));
        return handle;
    });
}

int SetNumProp(int handle, int id, int value) {
    return atTheBoundary([&] {
        const auto box = find(handle);
        if (!box) {
            return fail("SetNumProp: no box " + std::to_string(handle));
        }
        std::lock_guard lock(box->use);
        auto outOfRange = [&] {
            return fail("SetNumProp: " + std::to_string(value) + " is not a value of property " +
                        std::to_string(id));
        };
        switch (id) {
        case PDFCTL_UNIT:
            if (value < PDFCTL_UNIT_POINT || value > PDFCTL_UNIT_INCH_100) {
                return outOfRange();
            }
            box->unit = value;
            return 0;
        case PDFCTL_PAGE_HEIGHT:
        case PDFCTL_PAGE_WIDTH:
            if (value <= 0) {
                return outOfRange();
            }
            (id == PDFCTL_PAGE_WIDTH ? box->width : box->height) = value;
            return 0;
        case PDFCTL_COMPRESS_CONTENT:
            if (value != 0 && value != 1) {
                return outOfRange();
            }
            box->compressContent = value == 1;
            return 0;
        case PDFCTL_JPEG_QUALITY:
            if (value < 1 || value > 100) {
                return outOfRange();
            }
            box->store.jpegQuality = value;
            return 0;
        case PDFCTL_IMAGE_CODING:
            if (value < PDFCTL_CODING_NONE || value > PDFCTL_CODING_FLATE) {
                return outOfRange();
            }
            box->store.coding = Coding(value);
            return 0;
        case PDFCTL_TRANSPARENCY:
            if (value < PDFCTL_ALPHA_DROP || value > PDFCTL_ALPHA_SOFT_MASK) {
                return outOfRange();
            }
            box->store.transparency = Transparency(value);
            return 0;
        default:
            return fail("SetNumProp: no numeric property " + std::to_string(id));
        }
    });
}

int SetStrProp(int handle, int id, const char* text) {
    return atTheBoundary([&] {
        const auto box = find(handle);
        if (!box) {
            return fail("SetStrProp: no box " + std::to_string(handle));
        }
        std::lock_guard lock(box->use);
        const std::string value = text ? text : "";
        switch (id) {
        case PDFCTL_OUTPUT_FILE:
            box->output = value;
            return 0;
        case PDFCTL_CREATOR:
            box->creator = value;
            return 0;
        default:
            return fail("SetStrProp: no text property " + std::to_string(id));
        }
    });
}

int BeginDoc(int handle) {
    return atTheBoundary([&] {
        const auto box = find(handle);
        if (!box) {
            return fail("BeginDoc: no box " + std::to_string(handle));
        }
        std::lock_guard lock(box->use);
        if (box->output.empty()) {
            return fail("BeginDoc: no output file is set");
        }
        box->scale = pointsPer(box->unit);
        box->pageWidth = box->width ? *box->width * box->scale : A4Width;
        box->pageHeight = box->height ? *box->height * box->scale : A4Height;
        box->placements.clear();
        box->spool = std::make_unique<Spool>();
        box->begun = true;
        return 0;
    });
}

int StretchDrawFromFile(int handle, int x, int y, int width, int height, const char* path) {
    return atTheBoundary([&] {
        const auto box = find(handle);
        if (!box) {
            return fail("StretchDrawFromFile: no box " + std::to_string(handle));
        }
        std::lock_guard lock(box->use);
        if (!box->begun) {
            return fail("StretchDrawFromFile: BeginDoc has not run");
        }
        if (!path || !*path) {
            return fail("StretchDrawFromFile: no image file given");
        }
        if (width <= 0 || height <= 0) {
            return fail("StretchDrawFromFile: an empty rectangle for " + std::string(path));
        }
        Placement placement;
        try {
            placement.image = storeImage(path, box->store, *box->spool);
        } catch (const ImageError& e) {
            return fail("Cannot read the image file " + std::string(path) + ": " + e.what());
        }
        const double s = box->scale;
        placement.x = x * s;
        placement.width = width * s;
        placement.height = height * s;
        // From the top-left corner in the caller's terms to PDF's bottom-left.
        placement.y = box->pageHeight - (double(y) + double(height)) * s;
        box->placements.push_back(std::move(placement));
        return 0;
    });
}

int EndDoc(int handle) {
    return atTheBoundary([&] {
        const auto box = find(handle);
        if (!box) {
            return fail("EndDoc: no box " + std::to_string(handle));
        }
        std::lock_guard lock(box->use);
        if (!box->begun) {
            return fail("EndDoc: BeginDoc has not run");
        }
        if (box->output.empty()) {
            return fail("EndDoc: no output file is set");
        }
        PageSetup setup;
        setup.width = box->pageWidth;
        setup.height = box->pageHeight;
        setup.creator = box->creator;
        setup.compressContent = box->compressContent;
        try {
            writePage(box->output, setup, box->placements, *box->spool);
        } catch (const pdftox::WriteError& e) {
            return fail("Cannot write the PDF file " + box->output + ": " + e.what());
        }
        box->begun = false;
        box->placements.clear();
        box->spool.reset();
        return 0;
    });
}

void FreeBox(int handle) {
    atTheBoundary([&] {
        std::shared_ptr<Box> box;
        {
            std::lock_guard lock(g_registryMutex);
            auto it = g_boxes.find(handle);
            if (it == g_boxes.end()) {
                return 0;
            }
            box = std::move(it->second);
            g_boxes.erase(it);
        }
        // Waits for a call on this box that another thread may be running.
        std::lock_guard lock(box->use);
        return 0;
    });
}

int GetErrorMsg(char* buffer, int size) {
    if (!buffer || size <= 0) {
        return 0;
    }
    size_t n = std::min(t_error.size(), size_t(size - 1));
    // Cut at a character boundary: never inside a UTF-8 sequence.
    while (n > 0 && n < t_error.size() && (static_cast<unsigned char>(t_error[n]) & 0xc0) == 0x80) {
        --n;
    }
    t_error.copy(buffer, n);
    buffer[n] = '\0';
    return int(n);
}

int MeasureImage(const char* path, int* width, int* height) {
    return atTheBoundary([&] {
        if (!path || !*path || !width || !height) {
            return fail("MeasureImage: no image file or no place for its size");
        }
        try {
            const ImageSize size = measureImage(path);
            uprightSize(size.orientation, size.width, size.height, width, height);
        } catch (const ImageError& e) {
            return fail("Cannot read the image file " + std::string(path) + ": " + e.what());
        }
        return 0;
    });
}

} // extern "C"
