#include "pdfctl_fixtures.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pdfctl_tests {

Picture quadrants(int width, int height, const Rgb (&colors)[4]) {
    Picture p{width, height, 3, std::vector<uint8_t>(size_t(width) * size_t(height) * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = colors[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            uint8_t* px = p.at(x, y);
            px[0] = c.r;
            px[1] = c.g;
            px[2] = c.b;
        }
    }
    return p;
}

Picture solid(int width, int height, const std::vector<uint8_t>& value) {
    Picture p{width, height, int(value.size()), {}};
    for (int i = 0; i < width * height; ++i) {
        p.pixels.insert(p.pixels.end(), value.begin(), value.end());
    }
    return p;
}

Picture storedFor(const Picture& upright, int orientation) {
    const bool turned = orientation >= 5 && orientation <= 8;
    Picture s{turned ? upright.height : upright.width, turned ? upright.width : upright.height,
              upright.channels, upright.pixels};
    const int W = upright.width; // the visual size
    const int H = upright.height;
    for (int r = 0; r < s.height; ++r) {
        for (int c = 0; c < s.width; ++c) {
            // Where stored column c, row r is seen, by the EXIF definitions of each value.
            int x = c;
            int y = r;
            switch (orientation) {
            case 2:
                x = W - 1 - c;
                break;
            case 3:
                x = W - 1 - c;
                y = H - 1 - r;
                break;
            case 4:
                y = H - 1 - r;
                break;
            case 5:
                x = r;
                y = c;
                break;
            case 6:
                x = W - 1 - r;
                y = c;
                break;
            case 7:
                x = W - 1 - r;
                y = H - 1 - c;
                break;
            case 8:
                x = r;
                y = H - 1 - c;
                break;
            default:
                break;
            }
            std::memcpy(
                s.at(c, r),
                &upright.pixels[(size_t(y) * size_t(W) + size_t(x)) * size_t(upright.channels)],
                size_t(upright.channels));
        }
    }
    return s;
}

namespace {

// A big-endian TIFF block holding only the orientation tag.
std::string exifBlock(int orientation) {
    const char block[] = {'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
                          0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, char(orientation),
                          0,    0,    0, 0,  0, 0};
    return std::string(block, sizeof block);
}

} // namespace

void writeJpeg(const std::string& path, const Picture& picture, const JpegOptions& options) {
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    jpeg_stdio_dest(&c, file);
    c.image_width = JDIMENSION(picture.width);
    c.image_height = JDIMENSION(picture.height);
    c.input_components = picture.channels;
    c.in_color_space = picture.channels == 1   ? JCS_GRAYSCALE
                       : picture.channels == 3 ? JCS_RGB
                                               : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, options.quality, TRUE);
    for (int i = 0; i < c.num_components; ++i) {
        c.comp_info[i].h_samp_factor = 1; // full-size colour, so block colours stay exact
        c.comp_info[i].v_samp_factor = 1;
    }
    if (options.progressive) {
        jpeg_simple_progression(&c);
    }
    jpeg_start_compress(&c, TRUE);
    if (options.orientation) {
        const std::string exif = "Exif" + std::string(2, '\0') + exifBlock(options.orientation);
        jpeg_write_marker(&c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.data()),
                          unsigned(exif.size()));
    }
    const size_t stride = size_t(picture.width) * size_t(picture.channels);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&picture.pixels[c.next_scanline * stride]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

void writePng(const std::string& path, const Picture& picture, const PngOptions& options) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    int type = PNG_COLOR_TYPE_RGB;
    if (!options.palette.empty()) {
        type = PNG_COLOR_TYPE_PALETTE;
    } else if (picture.channels == 1) {
        type = PNG_COLOR_TYPE_GRAY;
    } else if (picture.channels == 2) {
        type = PNG_COLOR_TYPE_GRAY_ALPHA;
    } else if (picture.channels == 4) {
        type = PNG_COLOR_TYPE_RGB_ALPHA;
    }
    png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height),
                 options.bitDepth, type,
                 options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!options.palette.empty()) {
        std::vector<png_color> entries;
        for (const Rgb& c : options.palette) {
            entries.push_back({c.r, c.g, c.b});
        }
        png_set_PLTE(png, info, entries.data(), int(entries.size()));
        if (!options.paletteAlpha.empty()) {
            png_set_tRNS(png, info, options.paletteAlpha.data(), int(options.paletteAlpha.size()),
                         nullptr);
        }
    }
    std::string exif;
    if (options.orientation) {
        exif = exifBlock(options.orientation);
        png_set_eXIf_1(png, info, png_uint_32(exif.size()),
                       reinterpret_cast<png_bytep>(exif.data()));
    }
    png_write_info(png, info);
    if (options.bitDepth < 8) {
        png_set_packing(png); // rows hold one sample per byte
    }
    const int passes = png_set_interlace_handling(png);
    const size_t samples = size_t(picture.width) * size_t(picture.channels);
    std::vector<uint8_t> row(samples * 2);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < picture.height; ++y) {
            const uint8_t* in = &picture.pixels[size_t(y) * samples];
            if (options.bitDepth == 16) {
                for (size_t i = 0; i < samples; ++i) {
                    row[2 * i] = in[i];
                    row[2 * i + 1] = in[i];
                }
            } else {
                std::memcpy(row.data(), in, samples);
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

void writeTiff(const std::string& path, const std::vector<Picture>& pages, int orientation) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + path);
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        const Picture& p = pages[i];
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(i == 0 ? orientation : 1));
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(8));
        for (int y = 0; y < p.height; ++y) {
            TIFFWriteScanline(tif, const_cast<uint8_t*>(&p.pixels[size_t(y) * size_t(p.width) * 3]),
                              uint32_t(y), 0);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

void writeBilevelTiff(const std::string& path, const Picture& grey) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + path);
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(grey.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(grey.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(grey.height));
    std::vector<uint8_t> row(size_t(grey.width + 7) / 8);
    for (int y = 0; y < grey.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < grey.width; ++x) {
            if (grey.pixels[size_t(y) * size_t(grey.width) + size_t(x)] < 128) {
                row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8)); // black is 1 here
            }
        }
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
}

void writeGif(const std::string& path, const std::vector<Picture>& frames,
              const std::vector<Rgb>& palette, int transparent) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) {
        throw std::runtime_error("cannot write " + path);
    }
    EGifSetGifVersion(gif, true);
    std::vector<GifColorType> colors(256);
    for (size_t i = 0; i < palette.size(); ++i) {
        colors[i] = {palette[i].r, palette[i].g, palette[i].b};
    }
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifPutScreenDesc(gif, frames[0].width, frames[0].height, 8, 0, map);
    for (const Picture& frame : frames) {
        GraphicsControlBlock gcb{};
        gcb.DelayTime = 10;
        gcb.TransparentColor = transparent >= 0 ? transparent : NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&gcb, extension);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension);
        EGifPutImageDesc(gif, 0, 0, frame.width, frame.height, false, nullptr);
        for (int y = 0; y < frame.height; ++y) {
            EGifPutLine(gif,
                        const_cast<GifPixelType*>(&frame.pixels[size_t(y) * size_t(frame.width)]),
                        frame.width);
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
}

void writeBmp(const std::string& path, const Picture& rgb) {
    const uint32_t stride = (uint32_t(rgb.width) * 3 + 3) & ~3u;
    const uint32_t dataSize = stride * uint32_t(rgb.height);
    std::string out;
    auto u16 = [&out](uint32_t v) {
        out += char(v & 0xff);
        out += char(v >> 8);
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xffff);
        u16(v >> 16);
    };
    out += "BM";
    u32(54 + dataSize);
    u32(0);
    u32(54);
    u32(40);
    u32(uint32_t(rgb.width));
    u32(uint32_t(rgb.height));
    u16(1);
    u16(24);
    u32(0);
    u32(dataSize);
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    for (int y = rgb.height - 1; y >= 0; --y) {
        std::string row(stride, '\0');
        for (int x = 0; x < rgb.width; ++x) {
            const uint8_t* p = &rgb.pixels[(size_t(y) * size_t(rgb.width) + size_t(x)) * 3];
            row[size_t(x) * 3] = char(p[2]);
            row[size_t(x) * 3 + 1] = char(p[1]);
            row[size_t(x) * 3 + 2] = char(p[0]);
        }
        out += row;
    }
    writeFile(path, out);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string idatBytes(const std::string& png) {
    std::string data;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const auto* p = reinterpret_cast<const uint8_t*>(png.data() + at);
        const uint32_t length =
            uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        if (png.compare(at + 4, 4, "IDAT") == 0) {
            data += png.substr(at + 8, length);
        }
        at += 12 + length;
    }
    return data;
}

} // namespace pdfctl_tests
