#include "pdf_fixture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace testing_support {

std::string textLine(const char* font, double size, double x, double y, const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    std::ostringstream out;
    out << "BT /" << font << ' ' << size << " Tf " << x << ' ' << y << " Td (" << escaped
        << ") Tj ET\n";
    return out.str();
}

FixturePicture checkerPicture(const std::string& name, int w, int h) {
    FixturePicture pic;
    pic.name = name;
    pic.width = w;
    pic.height = h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool dark = ((x / 2) + (y / 2)) % 2 == 0;
            pic.rgb += char(dark ? 0x20 : 0xE0);
            pic.rgb += char(dark ? 0x40 : 0x90);
            pic.rgb += char(dark ? 0xC0 : 0x30);
        }
    }
    return pic;
}

std::string assemblePdf(const std::vector<std::string>& objects, const std::string& trailer) {
    std::string pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const size_t off : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " " + trailer +
           " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string formBombPdf(int levels) {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << "
        "/XObject << /F 5 0 R >> >> >>"};
    const std::string page = "q /F Do Q";
    objects.push_back("<< /Length " + std::to_string(page.size()) + " >>\nstream\n" + page +
                      "\nendstream");
    for (int level = 0; level <= levels; ++level) {
        std::string content;
        std::string resources;
        if (level == levels) {
            content = "0 0 1 1 re f";
        } else {
            for (int i = 0; i < 10; ++i) {
                content += "q /F Do Q ";
            }
            resources = "/Resources << /XObject << /F " + std::to_string(objects.size() + 2) +
                        " 0 R >> >> ";
        }
        objects.push_back("<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] " + resources +
                          "/Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                          "\nendstream");
    }
    return assemblePdf(objects, "/Root 1 0 R");
}

bool writeFixturePdf(const std::string& path, const std::vector<FixturePage>& pages,
                     const std::string& title) {
    std::vector<std::string> objects; // object i+1
    auto add = [&objects](const std::string& body) {
        objects.push_back(body);
        return int(objects.size());
    };
    const int catalog = add("");
    const int pageTree = add("");
    const char* fontNames[] = {"Helvetica", "Helvetica-Bold", "Times-Roman", "Times-Italic",
                               "Courier"};
    std::string fontDict = "<<";
    for (int i = 0; i < 5; ++i) {
        const int font = add(std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") +
                             fontNames[i] + " /Encoding /WinAnsiEncoding >>");
        fontDict += " /F" + std::to_string(i + 1) + " " + std::to_string(font) + " 0 R";
    }
    fontDict += " >>";

    std::string kids;
    for (const FixturePage& page : pages) {
        std::string xobjects;
        for (const FixturePicture& pic : page.pictures) {
            const int image =
                add("<< /Type /XObject /Subtype /Image /Width " + std::to_string(pic.width) +
                    " /Height " + std::to_string(pic.height) +
                    " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length " +
                    std::to_string(pic.rgb.size()) + " >>\nstream\n" + pic.rgb + "\nendstream");
            xobjects += " /" + pic.name + " " + std::to_string(image) + " 0 R";
        }
        const int content = add("<< /Length " + std::to_string(page.content.size()) +
                                " >>\nstream\n" + page.content + "\nendstream");
        std::ostringstream dict;
        dict << "<< /Type /Page /Parent " << pageTree << " 0 R /MediaBox [0 0 " << page.width << ' '
             << page.height << "] /Rotate " << page.rotate << " /Contents " << content
             << " 0 R /Resources << /Font " << fontDict;
        if (!xobjects.empty()) {
            dict << " /XObject <<" << xobjects << " >>";
        }
        dict << " >> >>";
        kids += std::to_string(add(dict.str())) + " 0 R ";
    }
    objects[size_t(catalog - 1)] =
        "<< /Type /Catalog /Pages " + std::to_string(pageTree) + " 0 R >>";
    objects[size_t(pageTree - 1)] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    const int info = add("<< /Title (" + title + ") /Producer (Lumadoc tests) >>");

    const std::string pdf = assemblePdf(objects, "/Root " + std::to_string(catalog) +
                                                     " 0 R /Info " + std::to_string(info) + " 0 R");
    std::ofstream file(path, std::ios::binary);
    file << pdf;
    return bool(file);
}

} // namespace testing_support
