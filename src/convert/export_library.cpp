#include "export_library.h"

#include <QFile>

namespace convert {

namespace {

// What an export gives when the library or the function is missing: none of the library's own
// codes, so the run tells an unloadable library apart from a failed export.
constexpr int kExportUnavailable = -1;

} // namespace

ExportLibrary::ExportLibrary(QString path) : m_library(std::move(path)) {}

bool ExportLibrary::load() {
    if (!m_resolved && m_library.load()) {
        m_resolved = true;
        m_open = m_library.resolve<decltype(m_open)>("OpenPDF");
        m_pages = m_library.resolve<decltype(m_pages)>("GetPageNum");
        m_rtf = m_library.resolve<decltype(m_rtf)>("ExportRTF");
        m_img = m_library.resolve<decltype(m_img)>("ExportIMG");
        m_close = m_library.resolve<decltype(m_close)>("ClosePDF");
        m_stop = m_library.resolve<StopFn>("StopExports");
        m_cutShort = m_library.resolve<decltype(m_cutShort)>("PagesCutShort");
        m_recognition = m_library.resolve<decltype(m_recognition)>("SetTextRecognition");
    }
    return m_resolved;
}

bool ExportLibrary::isLoaded() {
    return load();
}

int ExportLibrary::OpenPDF(const QString& path, const QString& password) {
    if (!load() || !m_open) {
        return PDFTOX_CANNOT_OPEN;
    }
    return m_open(QFile::encodeName(path).constData(), password.toUtf8().constData());
}

int ExportLibrary::GetPageNum(int handle) {
    return load() && m_pages ? m_pages(handle) : 0;
}

int ExportLibrary::ExportRTF(int handle, const QString& outputPath, int first, int last,
                             ProgressFn progress) {
    if (!load() || !m_rtf) {
        return kExportUnavailable;
    }
    return m_rtf(handle, QFile::encodeName(outputPath).constData(), first, last, progress);
}

int ExportLibrary::ExportIMG(int handle, const QString& folder, const QString& text,
                             int imageTypeCode, int resolution, int colorDepth, int first, int last,
                             ProgressFn progress) {
    if (!load() || !m_img) {
        return kExportUnavailable;
    }
    return m_img(handle, QFile::encodeName(folder).constData(), text.toUtf8().constData(),
                 imageTypeCode, resolution, colorDepth, first, last, progress);
}

int ExportLibrary::PagesCutShort() {
    return load() && m_cutShort ? m_cutShort() : 0;
}

int ExportLibrary::SetTextRecognition(int on) {
    return load() && m_recognition ? m_recognition(on) : -1;
}

ExportLibrary::StopFn ExportLibrary::stopFunction() {
    return load() ? m_stop : nullptr;
}

void ExportLibrary::ClosePDF(int handle) {
    if (load() && m_close) {
        m_close(handle);
    }
}

} // namespace convert
