// The image window's assembly against img2pdf on the same photos, in one run: the window is
// driven as a user drives it (photos dropped, Create PDF Now pressed) with the real page-writing
// library and pdftk, while a 1 ms timer records the longest gap between two of the window's
// ticks. Then img2pdf makes the same PDF. Printed per photo count: both times and their ratio,
// both sizes, the peak memory of our side (the window's process and the largest pdftk) and of
// img2pdf, and the window's longest pause.
#include "images2pdf/frm_printing.h"

#include "platform/app_folders.h"

#include "photo_pages.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct Measured {
    double seconds = -1;
    long peakKiB = 0;
    qint64 bytes = 0;
    qint64 longestGapMs = 0;
};

// img2pdf on `photos` into `pdf`, with its own time and peak memory (wait4 reports the child's).
Measured runImg2pdf(const QStringList& photos, const QString& pdf) {
    Measured m;
    std::vector<QByteArray> args{"img2pdf"};
    for (const QString& p : photos) {
        args.push_back(QFile::encodeName(p));
    }
    args.push_back("-o");
    args.push_back(QFile::encodeName(pdf));
    std::vector<char*> argv;
    for (QByteArray& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "img2pdf", nullptr, nullptr, argv.data(), environ) != 0) {
        return m;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        m.seconds = double(clock.nsecsElapsed()) / 1e9;
        m.peakKiB = usage.ru_maxrss;
        m.bytes = QFileInfo(pdf).size();
    }
    return m;
}

Measured runWindow(const QStringList& photos, const QString& folder) {
    Measured m;
    images2pdf::frmPrinting::Services services;
    services.openUrl = [](const QUrl&) { return true; };
    services.beep = [] {};
    QTemporaryDir settings;
    services.settingsFolder = settings.path();
    images2pdf::frmPrinting window(services);
    window.show();
    QList<QUrl> urls;
    for (const QString& p : photos) {
        urls << QUrl::fromLocalFile(p);
    }
    QMimeData dropped;
    dropped.setUrls(urls);
    window.List1_OLEDragDrop(&dropped);
    window.findChild<QLineEdit*>("txtTitle")->setText("Photos");
    window.findChild<QLineEdit*>("txtPath")->setText(folder);
    QApplication::processEvents();

    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { m.longestGapMs = std::max(m.longestGapMs, sinceTick.restart()); });
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start();
    window.findChild<QPushButton*>("Command3")->click();
    ticker.stop();
    if (window.lastResult().written()) {
        m.seconds = double(clock.nsecsElapsed()) / 1e9;
        m.bytes = QFileInfo(window.lastResult().output).size();
    }
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    m.peakKiB = std::max(self.ru_maxrss, children.ru_maxrss);
    return m;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: assembly_bench APPFOLDER COUNT...\n");
        return 2;
    }
    platform::SetAppFolder(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath());
    QList<int> counts;
    for (int i = 2; i < argc; ++i) {
        counts << std::max(1, std::atoi(argv[i]));
    }
    const int most = *std::max_element(counts.begin(), counts.end());

    QTemporaryDir dir;
    QStringList photos;
    qint64 photoBytes = 0;
    for (int i = 0; i < most; ++i) {
        const std::string jpeg = photo_pages::noisyJpeg(2400, 1800, unsigned(i + 1));
        photos << dir.filePath(QStringLiteral("photo%1.jpg").arg(i + 1));
        QFile f(photos.last());
        f.open(QIODevice::WriteOnly);
        f.write(jpeg.data(), qint64(jpeg.size()));
        photoBytes += qint64(jpeg.size());
    }
    std::printf("2400 x 1800 photos of %lld kB on average\n",
                static_cast<long long>(photoBytes / most / 1000));
    std::printf("%6s %9s %9s %7s %11s %11s %7s %10s %10s %9s\n", "photos", "ours (s)", "img2pdf",
                "ratio", "ours (kB)", "img2pdf", "size", "ours (MiB)", "img2pdf", "pause ms");
    // All of ours first: the peak of our children is then pdftk's alone.
    QList<Measured> ours;
    for (const int n : counts) {
        const QString folder = dir.filePath(QStringLiteral("ours%1").arg(n));
        ours << runWindow(photos.mid(0, n), folder);
        QDir(folder).removeRecursively();
    }
    for (qsizetype i = 0; i < counts.size(); ++i) {
        const int n = counts[i];
        const Measured& our = ours[i];
        const QString peerPdf = dir.filePath(QStringLiteral("peer%1.pdf").arg(n));
        const Measured peer = runImg2pdf(photos.mid(0, n), peerPdf);
        QFile::remove(peerPdf);
        if (our.seconds < 0) {
            std::printf("%6d ours failed\n", n);
            continue;
        }
        if (peer.seconds < 0) {
            std::printf("%6d %9.2f img2pdf not available (apt-get install img2pdf)\n", n,
                        our.seconds);
            continue;
        }
        std::printf(
            "%6d %9.2f %9.2f %6.2fx %11lld %11lld %+6.2f%% %10.1f %10.1f %9lld\n", n, our.seconds,
            peer.seconds, our.seconds / peer.seconds, static_cast<long long>(our.bytes / 1000),
            static_cast<long long>(peer.bytes / 1000),
            100.0 * double(our.bytes - peer.bytes) / double(peer.bytes), double(our.peakKiB) / 1024,
            double(peer.peakKiB) / 1024, static_cast<long long>(our.longestGapMs));
    }
    return 0;
}
