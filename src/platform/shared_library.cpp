#include "shared_library.h"

namespace platform {

SharedLibrary::SharedLibrary(QString path) : m_library(std::move(path)) {}

bool SharedLibrary::load() {
    if (!m_tried) {
        m_tried = true;
        m_library.load();
    }
    return m_library.isLoaded();
}

QString SharedLibrary::errorString() const {
    return m_tried && !m_library.isLoaded() ? m_library.errorString() : QString();
}

QFunctionPointer SharedLibrary::resolveAddress(const char* name) {
    return load() ? m_library.resolve(name) : nullptr;
}

} // namespace platform
