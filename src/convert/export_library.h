#pragma once

#include "engines/pdftox.h"
#include "platform/shared_library.h"

#include <QString>

namespace convert {

/// The export library, loaded on first use from the application folder. A library or
/// function that cannot be found makes the call fail (OpenPDF gives PDFTOX_CANNOT_OPEN,
/// exports do nothing and give -1), so a conversion skips the step instead of the program
/// failing to start. The functions have the types of the library's own header.
class ExportLibrary {
public:
    using ProgressFn = ::ExportProgressFn;
    using StopFn = decltype(&::StopExports);

    explicit ExportLibrary(QString path);

    bool isLoaded();

    int OpenPDF(const QString& path, const QString& password);
    int GetPageNum(int handle);
    int ExportRTF(int handle, const QString& outputPath, int first, int last, ProgressFn progress);
    int ExportIMG(int handle, const QString& folder, const QString& text, int imageTypeCode,
                  int resolution, int colorDepth, int first, int last, ProgressFn progress);
    void ClosePDF(int handle);
    /// The library's StopExports (safe to call from a signal handler), or null.
    StopFn stopFunction();
    /// The pages of the last export that ran out of time and were cut short (0 when the
    /// library cannot tell).
    int PagesCutShort();
    /// The library's SetTextRecognition: 1 turns text recognition on, 0 off, for the ExportRTF
    /// calls started afterwards. Gives the previous setting, or -1 when the library has no
    /// such function (an older one), in which case nothing changes.
    int SetTextRecognition(int on);

private:
    bool load();

    platform::SharedLibrary m_library;
    bool m_resolved = false;
    decltype(&::OpenPDF) m_open = nullptr;
    decltype(&::GetPageNum) m_pages = nullptr;
    decltype(&::ExportRTF) m_rtf = nullptr;
    decltype(&::ExportIMG) m_img = nullptr;
    decltype(&::ClosePDF) m_close = nullptr;
    StopFn m_stop = nullptr;
    decltype(&::PagesCutShort) m_cutShort = nullptr;
    decltype(&::SetTextRecognition) m_recognition = nullptr;
};

} // namespace convert
