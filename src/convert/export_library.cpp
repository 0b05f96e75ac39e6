#include "export_library.h"

#include <QFile>

namespace convert {

ExportLibrary::ExportLibrary(QString path) : m_library(std::move(path)) {}

bool ExportLibrary::load() {
    if (!m_tried) {
        m_tried = true;
        if (m_library.load()) {
            m_open = reinterpret_cast<decltype(m_open)>(m_library.resolve("OpenPDF"));
            m_pages = reinterpret_cast<decltype(m_pages)>(m_library.resolve("GetPageNum"));
            m_rtf = reinterpret_cast<decltype(m_rtf)>(m_library.resolve("ExportRTF"));
            m_img = reinterpret_cast<decltype(m_img)>(m_library.resolve("ExportIMG"));
            m_close = reinterpret_cast<decltype(m_close)>(m_library.resolve("ClosePDF"));
            m_stop = reinterpret_cast<decltype(m_stop)>(m_library.resolve("StopExports"));
        }
    }
    return m_library.isLoaded();
}

bool ExportLibrary::isLoaded() {
    return load();
}

int ExportLibrary::OpenPDF(const QString& path, const QString& password) {
    if (!load() || !m_open) {
        return -1;
    }
    return m_open(QFile::encodeName(path).constData(), password.toUtf8().constData());
}

int ExportLibrary::GetPageNum(int handle) {
    return load() && m_pages ? m_pages(handle) : 0;
}

int ExportLibrary::ExportRTF(int handle, const QString& outputPath, int first, int last,
                             ProgressFn progress) {
    if (!load() || !m_rtf) {
        return -1;
    }
    return m_rtf(handle, QFile::encodeName(outputPath).constData(), first, last, progress);
}

int ExportLibrary::ExportIMG(int handle, const QString& folder, const QString& text,
                             int imageTypeCode, int resolution, int colorDepth, int first, int last,
                             ProgressFn progress) {
    if (!load() || !m_img) {
        return -1;
    }
    return m_img(handle, QFile::encodeName(folder).constData(), text.toUtf8().constData(),
                 imageTypeCode, resolution, colorDepth, first, last, progress);
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
