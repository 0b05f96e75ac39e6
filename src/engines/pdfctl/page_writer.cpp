#include "page_writer.h"

#include "atomic_file.h"
#include "pdf_text.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace pdfctl {
namespace {

/// The creation time as a PDF date with the machine's offset from UTC.
std::string pdfDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, "D:%Y%m%d%H%M%S", &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char zone[32];
    std::snprintf(zone, sizeof zone, "%c%02ld'%02ld'", offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return std::string(text) + (offset == 0 ? std::string("Z") : std::string(zone));
}

std::string fileId() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::string bytes(16, '\0');
    for (size_t i = 0; i < bytes.size(); i += 8) {
        const uint64_t r = generator();
        std::memcpy(bytes.data() + i, &r, 8);
    }
    return hexString(bytes);
}

std::string deflated(const std::string& text) {
    uLongf size = compressBound(uLong(text.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(text.data()), uLong(text.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        throw std::bad_alloc();
    }
    out.resize(size);
    return out;
}

/// The objects of the file as they are written, their offsets kept for the cross-reference
/// table.
class ObjectWriter {
public:
    explicit ObjectWriter(OutputStream& out) : m_out(out) {}

    void object(int number, const std::string& body) {
        begin(number);
        m_out.write(body);
        m_out.write("\nendobj\n");
    }
    void begin(int number) {
        if (m_offsets.size() < size_t(number)) {
            m_offsets.resize(size_t(number), 0);
        }
        m_offsets[size_t(number) - 1] = m_out.offset();
        m_out.write(std::to_string(number) + " 0 obj\n");
    }
    void end() { m_out.write("\nendobj\n"); }

    void finish(const std::string& trailer) {
        const int64_t xref = m_out.offset();
        std::string table =
            "xref\n0 " + std::to_string(m_offsets.size() + 1) + "\n0000000000 65535 f \n";
        for (const int64_t offset : m_offsets) {
            char entry[24];
            std::snprintf(entry, sizeof entry, "%010lld 00000 n \n",
                          static_cast<long long>(offset));
            table += entry;
        }
        table += "trailer\n<< /Size " + std::to_string(m_offsets.size() + 1) + " " + trailer +
                 " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        m_out.write(table);
    }

private:
    OutputStream& m_out;
    std::vector<int64_t> m_offsets;
};

/// Writes one stream whose bytes come from a drawn file or the spool.
void writeStream(ObjectWriter& objects, OutputStream& out, int number, const StoredStream& stream,
                 int maskNumber, const StoredImage& image, Spool& spool) {
    Fd source;
    if (stream.bytes.inSource) {
        FileIdentity now;
        try {
            source = openForReading(image.path, &now);
        } catch (const ImageError& e) {
            throw ImageError("Cannot read the image file " + image.path + ": " + e.what());
        }
        if (!(now == image.source)) {
            throw ImageError("Cannot read the image file " + image.path +
                             ": it changed after it was drawn");
        }
    }
    objects.begin(number);
    std::string dict = "<< " + stream.dictionary;
    if (maskNumber > 0) {
        dict += " /SMask " + std::to_string(maskNumber) + " 0 R";
    }
    dict += " /Length " + std::to_string(stream.bytes.length()) + " >>\nstream\n";
    out.write(dict);
    for (const auto& [offset, length] : stream.bytes.ranges) {
        try {
            out.copy(stream.bytes.inSource ? source.get() : spool.fd(), offset, length);
        } catch (const ImageError& e) {
            throw ImageError("Cannot read the image file " + image.path + ": " + e.what());
        }
    }
    out.write("\nendstream");
    objects.end();
}

} // namespace

Matrix placementMatrix(int orientation, double x, double y, double width, double height) {
    // The upright picture's unit coordinates (s, t) from the stored image's (u, v), v running
    // up from the last stored row: s = su*u + sv*v + s0, t = tu*u + tv*v + t0. Each EXIF
    // orientation names where the stored first row and first column are seen.
    struct Map {
        int su, sv, s0, tu, tv, t0;
    };
    static const Map maps[9] = {
        {1, 0, 0, 0, 1, 0},   // (invalid: as 1)
        {1, 0, 0, 0, 1, 0},   // 1 as stored
        {-1, 0, 1, 0, 1, 0},  // 2 mirrored left to right
        {-1, 0, 1, 0, -1, 1}, // 3 turned half round
        {1, 0, 0, 0, -1, 1},  // 4 mirrored top to bottom
        {0, -1, 1, -1, 0, 1}, // 5 mirrored along the main diagonal
        {0, 1, 0, -1, 0, 1},  // 6 stored turned a quarter anticlockwise
        {0, 1, 0, 1, 0, 0},   // 7 mirrored along the other diagonal
        {0, -1, 1, 1, 0, 0},  // 8 stored turned a quarter clockwise
    };
    const Map& m = maps[validOrientation(orientation)];
    return {width * m.su,  height * m.tu,    width * m.sv,
            height * m.tv, x + width * m.s0, y + height * m.t0};
}

void writePage(const std::string& path, const PageSetup& setup,
               const std::vector<Placement>& placements, Spool& spool) {
    pdftox::AtomicFile file(path);
    Fd fd(::open(file.tempPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd) {
        throw pdftox::WriteError("cannot write " + path + ": " + std::strerror(errno), errno);
    }
    spool.flush();
    OutputStream out(fd.get());
    ObjectWriter objects(out);
    out.write("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");

    constexpr int FirstImage = 6;
    std::string resources;
    std::string content;
    int next = FirstImage;
    std::vector<std::pair<int, int>> numbers; // image, mask (0 for none)
    for (size_t i = 0; i < placements.size(); ++i) {
        const Placement& p = placements[i];
        const int image = next++;
        const int mask = p.image.mask ? next++ : 0;
        numbers.emplace_back(image, mask);
        const std::string name = "/Im" + std::to_string(i + 1);
        resources += name + " " + std::to_string(image) + " 0 R ";
        const Matrix m = placementMatrix(p.image.orientation, p.x, p.y, p.width, p.height);
        content += "q " + number(m.a) + " " + number(m.b) + " " + number(m.c) + " " + number(m.d) +
                   " " + number(m.e) + " " + number(m.f) + " cm " + name + " Do Q\n";
    }

    objects.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    objects.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    objects.object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(setup.width) + " " +
                          number(setup.height) + "] /Resources << /XObject << " + resources +
                          ">> >> /Contents 4 0 R >>");
    const std::string stream = setup.compressContent ? deflated(content) : content;
    objects.object(4, "<< /Length " + std::to_string(stream.size()) +
                          (setup.compressContent ? " /Filter /FlateDecode" : "") + " >>\nstream\n" +
                          stream + "\nendstream");
    std::string info = "<< ";
    if (!setup.creator.empty()) {
        const std::string creator = textString(setup.creator);
        info += "/Creator " + creator + " /Producer " + creator + " ";
    }
    info += "/CreationDate (" + pdfDate() + ") >>";
    objects.object(5, info);

    for (size_t i = 0; i < placements.size(); ++i) {
        const StoredImage& image = placements[i].image;
        writeStream(objects, out, numbers[i].first, image.image, numbers[i].second, image, spool);
        if (image.mask) {
            writeStream(objects, out, numbers[i].second, *image.mask, 0, image, spool);
        }
    }
    const std::string id = fileId();
    objects.finish("/Root 1 0 R /Info 5 0 R /ID [" + id + " " + id + "]");
    out.flush();
    if (::close(fd.release()) != 0) {
        throw pdftox::WriteError("cannot write " + path + ": " + std::strerror(errno), errno);
    }
    file.commit();
}

} // namespace pdfctl
