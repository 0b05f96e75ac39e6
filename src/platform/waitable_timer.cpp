#include "waitable_timer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <thread>

namespace platform {

void clsWaitableTimer::Wait(int MilliSeconds) {
    struct Flag {
        bool& f;
        explicit Flag(bool& flag) : f(flag) { f = true; }
        ~Flag() { f = false; }
    } flag(m_waiting);

    try {
        if (!QCoreApplication::instance()) {
            // No event loop to serve: a plain sleep.
            if (MilliSeconds > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(MilliSeconds));
            }
            return;
        }
        if (MilliSeconds <= 0) {
            QCoreApplication::processEvents();
            return;
        }
        QElapsedTimer clock;
        clock.start();
        const qint64 total = MilliSeconds;
        // A timer may fire a little early; wait again for whatever remains.
        for (qint64 left = total; left > 0; left = total - clock.elapsed()) {
            QEventLoop loop;
            QTimer timer;
            timer.setSingleShot(true);
            timer.setTimerType(Qt::PreciseTimer);
            QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
            timer.start(std::chrono::milliseconds(left));
            loop.exec();
        }
    } catch (const WaitError&) {
        throw;
    } catch (const std::exception& e) {
        throw WaitError(e.what());
    }
}

} // namespace platform
