#pragma once

// Photos and one-page PDFs as the image assembly joins them, for the join tests and the join
// benchmark: a noisy colour picture stored as a JPEG, and a page that shows that JPEG with its
// bytes passed through unchanged.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <turbojpeg.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace photo_pages {

/// A JPEG of `width` x `height` pixels: soft colour gradients with grain over them, so that it
/// compresses like a photo (about 750 kB at 2400 x 1800). `seed` makes each picture its own.
inline std::string noisyJpeg(int width, int height, unsigned seed, int grain = 16,
                             int quality = 81) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-grain, grain);
    const int tint = static_cast<int>(seed * 37 % 160);
    size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int base[3] = {tint + x * 80 / width, 60 + y * 120 / height,
                                 200 - (x + y) * 100 / (width + height)};
            for (const int b : base) {
                const int v = b + noise(random);
                pixels[i++] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle, pixels.data(), width, 0, height, TJPF_RGB, &jpeg, &size,
                               TJSAMP_420, quality, TJFLAG_FASTDCT);
    std::string bytes;
    if (rc == 0) {
        bytes.assign(reinterpret_cast<char*>(jpeg), size);
    }
    tjFree(jpeg);
    tjDestroy(handle);
    if (rc != 0) {
        throw std::runtime_error("cannot make a JPEG");
    }
    return bytes;
}

/// Writes `pdf`: one page of the JPEG's size in points showing `jpeg` (an RGB baseline JPEG of
/// `width` x `height`), the JPEG stored unchanged.
inline void writeJpegPage(const std::string& jpeg, int width, int height, const std::string& pdf) {
    QPDF doc;
    doc.emptyPDF();
    QPDFObjectHandle image = doc.newStream(jpeg);
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceRGB"));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    dict.replaceKey("/Filter", QPDFObjectHandle::newName("/DCTDecode"));
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    QPDFObjectHandle content = doc.newStream("q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n");
    QPDFObjectHandle page = doc.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Page /MediaBox [0 0 " + w + " " + h + "] /Resources << /XObject << >> >> >>"));
    page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
    page.replaceKey("/Contents", content);
    QPDFPageDocumentHelper(doc).addPage(QPDFPageObjectHelper(page), false);
    QPDFWriter writer(doc, pdf.c_str());
    writer.setStaticID(false);
    writer.write();
}

} // namespace photo_pages
