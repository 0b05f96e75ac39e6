#include "pdftk_tool.h"

#include "atomic_file.h"
#include "block_input_source.h"
#include "saslprep.h"
#include "utf8.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFSystemError.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <malloc.h>
#include <memory>
#include <set>

namespace tools {
namespace {

// Windows-1252 characters 0x80-0x9F.
const char16_t cp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string decodeValue(const std::string& raw) {
    std::string text;
    for (size_t i = 0; i < raw.size();) {
        const size_t len = pdftox::utf8SequenceLength(raw, i);
        if (len > 0) {
            text.append(raw, i, len);
            i += len;
            continue;
        }
        const auto c = static_cast<unsigned char>(raw[i++]);
        pdftox::appendUtf8(text,
                           c >= 0x80 && c < 0xA0 ? char32_t(cp1252High[c - 0x80]) : char32_t(c));
    }
    // XML character references, as pdftk writes non-ASCII letters.
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "&#") == 0) {
            const size_t end = text.find(';', i);
            if (end != std::string::npos && end - i <= 10) {
                const bool hex = i + 2 < end && (text[i + 2] == 'x' || text[i + 2] == 'X');
                const std::string digits = text.substr(i + (hex ? 3 : 2), end - i - (hex ? 3 : 2));
                char* stop = nullptr;
                const unsigned long value = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
                if (!digits.empty() && stop && *stop == '\0' && value > 0 && value <= 0x10FFFF) {
                    pdftox::appendUtf8(out, char32_t(value));
                    i = end + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

std::string shortMessage(const std::exception& e) {
    std::string message = e.what();
    const size_t newline = message.find('\n');
    return newline == std::string::npos ? message : message.substr(0, newline);
}

/// A document with the bytes it was read from, which must outlive it (none for a document
/// read from its file).
struct Loaded {
    std::string bytes;
    bool fromFile = false;
    std::unique_ptr<QPDF> pdf;
};

/// Files up to this size are parsed from memory; larger ones (the running file of a long
/// image assembly) through blocks of the file, so that memory does not grow with the file.
constexpr std::uintmax_t inMemoryLimit = 4u << 20;

int revisionOf(QPDF& pdf) {
    int revision = 0;
    int permissions = 0;
    try {
        pdf.isEncrypted(revision, permissions);
    } catch (const std::exception&) {
        return 0;
    }
    return revision;
}

// Parses `doc`'s bytes with `password`, which the user typed as UTF-8. qpdf takes a password
// as bytes, and files want other bytes: AES-256 files (revisions 5 and 6) the SASLprep form
// (ISO 32000-2), tried with the truncated typed bytes; older revisions PDFDocEncoding, in which
// qpdf and MuPDF themselves store a UTF-8 password (the export library maps it likewise, so
// both open the same files). The typed bytes go first: a wrong try is what tells the file's
// revision (qpdf has read the encryption dictionary by then), and which of two working forms
// opens the file makes no difference to a decryption. Throws QPDFExc (qpdf_e_password when
// nothing fits).
void processWithPassword(Loaded& doc, const std::string& path, const std::string& password) {
    const auto attempt = [&](const std::string& bytes) {
        doc.pdf = std::make_unique<QPDF>();
        doc.pdf->setSuppressWarnings(true);
        const char* pw = bytes.empty() ? nullptr : bytes.c_str();
        if (doc.fromFile) {
            doc.pdf->processInputSource(std::make_shared<BlockInputSource>(path), pw);
        } else {
            doc.pdf->processMemoryFile(path.c_str(), doc.bytes.data(), doc.bytes.size(), pw);
        }
    };
    try {
        attempt(password);
        return;
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() != qpdf_e_password) {
            throw;
        }
    }
    std::vector<std::string> others;
    const int revision = revisionOf(*doc.pdf);
    if (revision >= 5) {
        others = pdftox::aes256Passwords(password);
    } else if (std::string pdfDoc; revision > 0 && QUtil::utf8_to_pdf_doc(password, pdfDoc)) {
        others.push_back(pdfDoc);
    }
    for (const std::string& bytes : others) {
        if (bytes == password) {
            continue;
        }
        try {
            attempt(bytes);
            return;
        } catch (const QPDFExc& e) {
            if (e.getErrorCode() != qpdf_e_password) {
                throw;
            }
        }
    }
    throw QPDFExc(qpdf_e_password, path, "", 0, "invalid password");
}

// A file of ordinary size is read at once: parsing from memory spares the thousands of seeks
// that reading a PDF from a file costs, which is most of the time of a join.
std::unique_ptr<Loaded> open(const std::string& path, const std::string& password) {
    auto doc = std::make_unique<Loaded>();
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    doc->fromFile = !error && size > inMemoryLimit;
    if (!doc->fromFile) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            throw std::runtime_error(path + ": cannot read the PDF: " + std::strerror(errno));
        }
        doc->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            throw std::runtime_error(path + ": cannot read the PDF");
        }
    }
    try {
        processWithPassword(*doc, path, password);
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password) {
            throw std::runtime_error(path + ": the password is not right");
        }
        throw std::runtime_error(path + ": cannot read the PDF: " + shortMessage(e));
    } catch (const std::exception& e) {
        throw std::runtime_error(path + ": cannot read the PDF: " + shortMessage(e));
    }
    return doc;
}

// qpdf's writer gathers each stream in a buffer that grows by reallocation; a large
// reallocation gets fresh pages from the system by default, and faulting them in costs more
// than the copy itself (four fifths of a rewrite of photo pages). Freed memory kept in the
// process is reused instead: at most a few times the largest stream, however long the file.
void keepFreedMemory() {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

void write(QPDF& pdf, const std::string& output) {
    pdftox::AtomicFile file(output);
    try {
        QPDFWriter writer(pdf, file.tempPath().c_str());
        writer.setPreserveEncryption(false);
        writer.write();
    } catch (const QPDFSystemError& e) {
        throw pdftox::WriteError(output + ": cannot write: " + shortMessage(e), e.getErrno());
    } catch (const std::exception& e) {
        throw std::runtime_error(output + ": cannot write: " + shortMessage(e));
    }
    file.commit();
}

} // namespace

std::vector<std::pair<std::string, std::string>> readInfoFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error(path + ": cannot read the information file");
    }
    std::vector<std::pair<std::string, std::string>> entries;
    std::string line;
    std::string key;
    bool haveKey = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("InfoKey:", 0) == 0) {
            key = decodeValue(line.substr(line.size() > 8 && line[8] == ' ' ? 9 : 8));
            haveKey = true;
        } else if (line.rfind("InfoValue:", 0) == 0 && haveKey) {
            entries.emplace_back(
                key, decodeValue(line.substr(line.size() > 10 && line[10] == ' ' ? 11 : 10)));
            haveKey = false;
        }
    }
    return entries;
}

void runPdftk(const PdftkCommand& command) {
    keepFreedMemory();
    auto passwordOf = [&command](size_t input) {
        return input < command.passwords.size() ? command.passwords[input] : std::string();
    };
    switch (command.operation) {
    case PdftkCommand::Operation::Copy: {
        auto doc = open(command.inputs[0], passwordOf(0));
        write(*doc->pdf, command.output);
        return;
    }
    case PdftkCommand::Operation::Cat: {
        QPDF out;
        out.emptyPDF();
        QPDFPageDocumentHelper outPages(out);
        std::vector<std::unique_ptr<Loaded>> sources;
        for (size_t i = 0; i < command.inputs.size(); ++i) {
            sources.push_back(open(command.inputs[i], passwordOf(i)));
            for (QPDFPageObjectHelper& page :
                 QPDFPageDocumentHelper(*sources.back()->pdf).getAllPages()) {
                outPages.addPage(page, false);
            }
        }
        write(out, command.output);
        return;
    }
    case PdftkCommand::Operation::UpdateInfo: {
        const auto entries = readInfoFile(command.infoFile);
        auto doc = open(command.inputs[0], passwordOf(0));
        QPDF* pdf = doc->pdf.get();
        QPDFObjectHandle trailer = pdf->getTrailer();
        QPDFObjectHandle info = trailer.getKey("/Info");
        if (!info.isDictionary()) {
            info = pdf->makeIndirectObject(QPDFObjectHandle::newDictionary());
            trailer.replaceKey("/Info", info);
        }
        for (const auto& [key, value] : entries) {
            if (key.empty()) {
                continue;
            }
            if (value.empty()) {
                info.removeKey("/" + key);
            } else {
                info.replaceKey("/" + key, QPDFObjectHandle::newUnicodeString(value));
            }
        }
        // XMP metadata would contradict the new information: it is dropped.
        pdf->getRoot().removeKey("/Metadata");
        write(*pdf, command.output);
        return;
    }
    }
}

} // namespace tools
