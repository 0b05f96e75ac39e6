#pragma once

#include <QLibrary>
#include <QString>

namespace convert {

/// The export library, loaded on first use from the application folder. A library or
/// function that cannot be found makes the call fail (OpenPDF gives -1, exports do nothing),
/// so a conversion skips the step instead of the program failing to start.
class ExportLibrary {
public:
    using ProgressFn = int (*)(int, int, int);
    using StopFn = void (*)();

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

private:
    bool load();

    QLibrary m_library;
    bool m_tried = false;
    int (*m_open)(const char*, const char*) = nullptr;
    int (*m_pages)(int) = nullptr;
    int (*m_rtf)(int, const char*, int, int, ProgressFn) = nullptr;
    int (*m_img)(int, const char*, const char*, int, int, int, int, int, ProgressFn) = nullptr;
    void (*m_close)(int) = nullptr;
    StopFn m_stop = nullptr;
};

} // namespace convert
