#include "page_writer.h"

#include "platform/app_folders.h"

#include <QFile>

namespace images2pdf {

PageWriter::PageWriter(QString path) : m_library(path), m_path(std::move(path)) {}

QString PageWriter::defaultPath() {
    return platform::AppFolder() + QStringLiteral("/libpdfctl.so");
}

bool PageWriter::load() {
    if (!m_resolved && m_library.load()) {
        m_resolved = true;
        m_createBox = m_library.resolve<decltype(m_createBox)>("CreateBox");
        m_setNum = m_library.resolve<decltype(m_setNum)>("SetNumProp");
        m_setStr = m_library.resolve<decltype(m_setStr)>("SetStrProp");
        m_begin = m_library.resolve<decltype(m_begin)>("BeginDoc");
        m_draw = m_library.resolve<decltype(m_draw)>("StretchDrawFromFile");
        m_end = m_library.resolve<decltype(m_end)>("EndDoc");
        m_free = m_library.resolve<decltype(m_free)>("FreeBox");
        m_error = m_library.resolve<decltype(m_error)>("GetErrorMsg");
        m_measure = m_library.resolve<decltype(m_measure)>("MeasureImage");
    }
    return m_resolved;
}

int PageWriter::CreateBox(long ownerWindow, int reserved) {
    return load() && m_createBox ? m_createBox(ownerWindow, reserved) : PDFCTL_FAILED;
}

int PageWriter::SetNumProp(int box, int id, int value) {
    return load() && m_setNum ? m_setNum(box, id, value) : PDFCTL_FAILED;
}

int PageWriter::SetStrProp(int box, int id, const QString& text) {
    // The output file is a path: the file system's encoding; other texts are UTF-8.
    const QByteArray bytes = id == PDFCTL_OUTPUT_FILE ? QFile::encodeName(text) : text.toUtf8();
    return load() && m_setStr ? m_setStr(box, id, bytes.constData()) : PDFCTL_FAILED;
}

int PageWriter::BeginDoc(int box) {
    return load() && m_begin ? m_begin(box) : PDFCTL_FAILED;
}

int PageWriter::StretchDrawFromFile(int box, int x, int y, int width, int height,
                                    const QString& path) {
    return load() && m_draw ? m_draw(box, x, y, width, height, QFile::encodeName(path).constData())
                            : PDFCTL_FAILED;
}

int PageWriter::EndDoc(int box) {
    return load() && m_end ? m_end(box) : PDFCTL_FAILED;
}

void PageWriter::FreeBox(int box) {
    if (load() && m_free) {
        m_free(box);
    }
}

QString PageWriter::GetErrorMsg() {
    if (!load()) {
        return QStringLiteral("The page-writing library %1 cannot be loaded: %2")
            .arg(m_path, m_library.errorString());
    }
    if (!m_error) {
        return QStringLiteral("The page-writing library %1 is incomplete.").arg(m_path);
    }
    char buffer[255] = {};
    m_error(buffer, int(sizeof buffer));
    return QString::fromUtf8(buffer);
}

bool PageWriter::MeasureImage(const QString& path, int* width, int* height) {
    return load() && m_measure &&
           m_measure(QFile::encodeName(path).constData(), width, height) != PDFCTL_FAILED;
}

} // namespace images2pdf
