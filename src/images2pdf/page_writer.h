#pragma once

#include "engines/pdfctl.h"
#include "platform/shared_library.h"

#include <QString>

namespace images2pdf {

/// The page-writing library, loaded on first use. When the library or one of its functions
/// cannot be found, every call that returns a status gives PDFCTL_FAILED and GetErrorMsg says
/// which library is missing, so the assembly stops with a message instead of the program
/// failing to start. The calls may be made from any one thread at a time per box.
class PageWriter {
public:
    explicit PageWriter(QString path);

    /// The library in the application folder.
    static QString defaultPath();

    /// Loads the library unless that was tried; true when it is loaded. Call it on the thread
    /// that loads, before calls from other threads.
    bool load();

    int CreateBox(long ownerWindow, int reserved);
    int SetNumProp(int box, int id, int value);
    int SetStrProp(int box, int id, const QString& text);
    int BeginDoc(int box);
    int StretchDrawFromFile(int box, int x, int y, int width, int height, const QString& path);
    int EndDoc(int box);
    void FreeBox(int box);
    /// The library's message of the calling thread's last failure (at most 254 bytes, as the
    /// library's buffer holds), or why the library could not be loaded.
    QString GetErrorMsg();
    /// The upright size of an image file in pixels; false when it cannot be measured.
    bool MeasureImage(const QString& path, int* width, int* height);

private:
    platform::SharedLibrary m_library;
    QString m_path;
    bool m_resolved = false;
    decltype(&::CreateBox) m_createBox = nullptr;
    decltype(&::SetNumProp) m_setNum = nullptr;
    decltype(&::SetStrProp) m_setStr = nullptr;
    decltype(&::BeginDoc) m_begin = nullptr;
    decltype(&::StretchDrawFromFile) m_draw = nullptr;
    decltype(&::EndDoc) m_end = nullptr;
    decltype(&::FreeBox) m_free = nullptr;
    decltype(&::GetErrorMsg) m_error = nullptr;
    decltype(&::MeasureImage) m_measure = nullptr;
};

} // namespace images2pdf
