#pragma once

#include <QLibrary>
#include <QString>

#include <type_traits>

namespace platform {

/// A shared library opened at run time, on first use. Loading is tried once: a library that
/// is missing or cannot be loaded stays unloaded, and every later call answers from that first
/// outcome without touching the disk again, so a caller can ask for it as often as it likes.
/// The library stays loaded for the life of the process, so resolved functions never dangle.
/// Not thread-safe: one thread loads and resolves; the resolved functions may be called from any.
class SharedLibrary {
public:
    /// `path`: the library's file, as QLibrary takes it (a full path is tried as it stands).
    /// Nothing is loaded yet.
    explicit SharedLibrary(QString path);

    /// Loads the library unless that was tried already. True when it is loaded.
    bool load();

    /// Why loading failed: the loader's message; empty while it is loaded or was not tried.
    QString errorString() const;

    /// The function `name` of the library as the function-pointer type `F` (for a function of
    /// a C header: `resolve<decltype(&::Name)>("Name")`); loads the library first if needed.
    /// Null when the library cannot be loaded or exports no such symbol. The caller vouches that
    /// `F` is the function's real type: nothing checks it.
    template <class F> F resolve(const char* name) {
        static_assert(std::is_pointer_v<F> && std::is_function_v<std::remove_pointer_t<F>>,
                      "resolve<F> takes a function-pointer type");
        return reinterpret_cast<F>(resolveAddress(name));
    }

private:
    QFunctionPointer resolveAddress(const char* name);

    QLibrary m_library;
    bool m_tried = false;
};

} // namespace platform
