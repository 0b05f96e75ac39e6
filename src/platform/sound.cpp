#include "sound.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace platform {

void PlaySoundAndWait(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        return;
    }
    QSoundEffect effect;
    QEventLoop loop;
    auto finishWhenQuiet = [&] {
        if (effect.status() == QSoundEffect::Error ||
            (effect.status() == QSoundEffect::Ready && !effect.isPlaying())) {
            loop.quit();
        }
    };
    QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, [&] {
        if (effect.status() == QSoundEffect::Ready && !effect.isPlaying()) {
            effect.play();
        }
        finishWhenQuiet();
    });
    QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, finishWhenQuiet);
    // An audio back-end that never answers must not hold the run for long.
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    effect.setSource(QUrl::fromLocalFile(path));
    if (effect.status() != QSoundEffect::Error) {
        loop.exec();
    }
}

} // namespace platform
