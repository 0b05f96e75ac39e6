#include "engine_test_support.h"

#include "platform/command_line.h"
#include "platform/process.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace engine_tests {

std::string corpus(const std::string& name) {
    return std::string(LUMADOC_CORPUS) + "/" + name;
}

std::string q(const std::string& s) {
    return platform::QuoteArg(QString::fromStdString(s)).toStdString();
}

long long startTool(const std::string& commandLine, const std::string& log) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    platform::StandardStreams streams;
    streams.error = fd;
    streams.output = fd;
    const qint64 pid = platform::StartProgram(
        platform::SplitCommandLine(QString::fromStdString(commandLine)), streams);
    ::close(fd);
    return pid;
}

ToolResult runTool(const std::string& commandLine, const std::string& log) {
    ToolResult r;
    r.status = platform::WaitForProcessEnd(startTool(commandLine, log));
    r.errors = readFile(log);
    return r;
}

bool haveCorpus() {
    return access(corpus("tracemonkey.pdf").c_str(), R_OK) == 0;
}

int run(const std::string& commandLine) {
    const int status = std::system(commandLine.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string output(const std::string& commandLine) {
    std::string out;
    FILE* p = popen(commandLine.c_str(), "r");
    if (!p) {
        return out;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) {
        out.append(buffer, n);
    }
    pclose(p);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                names.emplace_back(e->d_name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Decoded decodePng(const std::string& path) {
    Decoded d;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return d;
    }
    d.width = int(image.width);
    d.height = int(image.height);
    d.bitsPerPixel =
        (image.format & PNG_FORMAT_FLAG_COLORMAP) ? 8 : int(PNG_IMAGE_PIXEL_SIZE(image.format) * 8);
    d.paletteSize = int(image.colormap_entries);
    image.format = PNG_FORMAT_RGB;
    d.rgb.resize(PNG_IMAGE_SIZE(image));
    d.ok = png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr) != 0;
    // The resolution, from the pHYs chunk.
    const std::string bytes = readFile(path);
    const size_t at = bytes.find("pHYs");
    if (at != std::string::npos && at + 13 <= bytes.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at + 4);
        const uint32_t ppm =
            (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        d.dpi = ppm * 0.0254;
    }
    return d;
}

Decoded decodeJpeg(const std::string& path) {
    Decoded d;
    const std::string bytes = readFile(path);
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (tjDecompressHeader3(tj, data, bytes.size(), &w, &h, &sub, &cs) == 0) {
        d.width = w;
        d.height = h;
        d.bitsPerPixel = cs == TJCS_GRAY ? 8 : 24;
        d.rgb.resize(size_t(w) * size_t(h) * 3);
        d.ok = tjDecompress2(tj, data, bytes.size(), d.rgb.data(), w, 0, h, TJPF_RGB, 0) == 0;
        if (bytes.size() > 18 && bytes[13] == 1) {
            d.dpi = (uint8_t(bytes[14]) << 8) | uint8_t(bytes[15]);
        }
    }
    tjDestroy(tj);
    return d;
}

Decoded decodeTiff(const std::string& path) {
    Decoded d;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        return d;
    }
    uint32_t w = 0, h = 0;
    uint16_t spp = 0, bps = 0, photometric = 0;
    float xres = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    d.width = int(w);
    d.height = int(h);
    d.bitsPerPixel = spp * bps;
    d.dpi = xres;
    d.paletteSize = photometric == PHOTOMETRIC_PALETTE ? 256 : 0;
    std::vector<uint32_t> raster(size_t(w) * size_t(h));
    d.ok = TIFFReadRGBAImageOriented(t, w, h, raster.data(), ORIENTATION_TOPLEFT, 0) != 0;
    d.rgb.resize(size_t(w) * size_t(h) * 3);
    for (size_t i = 0; i < raster.size(); ++i) {
        d.rgb[3 * i] = uint8_t(TIFFGetR(raster[i]));
        d.rgb[3 * i + 1] = uint8_t(TIFFGetG(raster[i]));
        d.rgb[3 * i + 2] = uint8_t(TIFFGetB(raster[i]));
    }
    TIFFClose(t);
    return d;
}

Decoded decodeGif(const std::string& path) {
    Decoded d;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif) {
        return d;
    }
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map =
            image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        d.width = gif->SWidth;
        d.height = gif->SHeight;
        d.bitsPerPixel = 8;
        d.paletteSize = map ? map->ColorCount : 0;
        d.rgb.resize(size_t(d.width) * size_t(d.height) * 3);
        for (size_t i = 0; map && i < size_t(d.width) * size_t(d.height); ++i) {
            const GifColorType c = map->Colors[image.RasterBits[i]];
            d.rgb[3 * i] = c.Red;
            d.rgb[3 * i + 1] = c.Green;
            d.rgb[3 * i + 2] = c.Blue;
        }
        d.ok = map != nullptr;
    }
    DGifCloseFile(gif, &error);
    return d;
}

Decoded decodeBmp(const std::string& path) {
    Decoded d;
    const std::string b = readFile(path);
    auto u16 = [&b](size_t at) {
        return uint32_t(uint8_t(b[at])) | (uint32_t(uint8_t(b[at + 1])) << 8);
    };
    auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
        return d;
    }
    const uint32_t offset = u32(10);
    d.width = int(u32(18));
    d.height = int(int32_t(u32(22)));
    d.bitsPerPixel = int(u16(28));
    d.dpi = u32(38) * 0.0254;
    const size_t rowBytes = (size_t(d.width) * size_t(d.bitsPerPixel / 8) + 3) & ~size_t(3);
    if (d.bitsPerPixel != 24 || b.size() < offset + rowBytes * size_t(d.height)) {
        return d;
    }
    d.rgb.resize(size_t(d.width) * size_t(d.height) * 3);
    for (int y = 0; y < d.height; ++y) {
        const char* row = b.data() + offset + rowBytes * size_t(d.height - 1 - y);
        for (int x = 0; x < d.width; ++x) {
            uint8_t* out = d.rgb.data() + (size_t(y) * size_t(d.width) + size_t(x)) * 3;
            out[0] = uint8_t(row[3 * x + 2]);
            out[1] = uint8_t(row[3 * x + 1]);
            out[2] = uint8_t(row[3 * x]);
        }
    }
    d.ok = true;
    return d;
}

Decoded decodeAny(const std::string& path) {
    const std::string ext = path.substr(path.rfind('.'));
    if (ext == ".png") {
        return decodePng(path);
    }
    if (ext == ".jpg") {
        return decodeJpeg(path);
    }
    if (ext == ".tif") {
        return decodeTiff(path);
    }
    if (ext == ".gif") {
        return decodeGif(path);
    }
    return decodeBmp(path);
}

double meanDifference(const Decoded& a, const Decoded& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() ||
        a.rgb.empty()) {
        return 255;
    }
    uint64_t sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        sum += uint64_t(std::abs(int(a.rgb[i]) - int(b.rgb[i])));
    }
    return double(sum) / double(a.rgb.size());
}

TempFolder::TempFolder() {
    char pattern[] = "/tmp/pdftox-test-XXXXXX";
    m_path = mkdtemp(pattern);
}

TempFolder::~TempFolder() {
    run("rm -rf '" + m_path + "'");
}

std::vector<FixturePage> styledPages() {
    FixturePage first;
    first.content = textLine("F2", 20, 72, 700, "Heading Bold") +
                    textLine("F3", 12, 72, 660, "Plain body text in Times.") +
                    textLine("F4", 12, 72, 640, "Italic words here") +
                    textLine("F3", 12, 72, 620,
                             "Caf\xe9 na\xefve fa\xe7"
                             "ade \x80 5") +
                    "1 0 0 rg\n" + textLine("F1", 14, 72, 590, "Red warning") + "0 g\n" +
                    "q 100 0 0 100 72 400 cm /Im1 Do Q\n" +
                    textLine("F5", 10, 72, 360, "After the picture");
    first.pictures.push_back(checkerPicture("Im1", 16, 16));

    FixturePage landscape;
    landscape.width = 792;
    landscape.height = 612;
    landscape.content = textLine("F1", 14, 72, 500, "Second page text");

    FixturePage rotated;
    rotated.rotate = 90;
    rotated.content = textLine("F1", 14, 72, 700, "Rotated page words");
    return {first, landscape, rotated};
}

} // namespace engine_tests
