#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <thread>

namespace platform {

/// Runs `work` on a thread of its own while the calling thread keeps handling its events, and
/// returns its result: a large file to open, a page that takes long to draw or a large folder
/// to search never stalls a window. What the work posts to the calling thread before it ends is
/// handled before this returns. Without an application object the work runs in place.
template <class Work> auto RunBesideEvents(Work work) -> decltype(work()) {
    if (!QCoreApplication::instance()) {
        return work();
    }
    decltype(work()) result{};
    QObject relay;
    QEventLoop loop;
    std::thread worker([&] {
        result = work();
        QMetaObject::invokeMethod(
            &relay, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return result;
}

} // namespace platform
