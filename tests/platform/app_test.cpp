#include "platform/app_folders.h"
#include "platform/conventions.h"
#include "platform/single_instance.h"
#include "platform/work_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace platform;

namespace {

TEST(WorkFolders, PrivateToTheProcessAndRemovable) {
    const QString tmp = WorkFolders::tmp();
    const QString jpg = WorkFolders::jpgTmp();
    ASSERT_FALSE(tmp.isEmpty());
    EXPECT_TRUE(QFileInfo(tmp).isDir());
    EXPECT_TRUE(QFileInfo(jpg).isDir());
    EXPECT_EQ(QFileInfo(tmp).path(), WorkFolders::base());
    EXPECT_EQ(QFileInfo(WorkFolders::base()).permissions() & 0x0077, 0)
        << "no access for group and others";
    EXPECT_EQ(Conventions::host().tmpFolder, tmp);

    // An assembly deletes its folders; asking again makes them anew.
    QDir(tmp).removeRecursively();
    EXPECT_TRUE(QFileInfo(WorkFolders::tmp()).isDir());

    const QString base = WorkFolders::base();
    WorkFolders::removeAll();
    EXPECT_FALSE(QFileInfo::exists(base));
}

// A run killed before it could remove its work folder leaves it (with a decrypted copy, maybe):
// the next start removes it. A folder whose process lives, one without the lock file, one of
// another kind and a link stay.
TEST(WorkFolders, FoldersOfEndedProcessesGoAtStart) {
    QTemporaryDir temp;
    const QByteArray previous = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    const auto folder = [&temp](const char* name, bool owned) {
        const QString path = temp.path() + "/" + name;
        QDir().mkpath(path + "/tmp");
        QFile copy(path + "/tmp/tmp.pdf");
        copy.open(QIODevice::WriteOnly);
        copy.write("decrypted");
        if (owned) {
            QFile owner(path + "/.owner");
            owner.open(QIODevice::WriteOnly);
            owner.write("12345\n");
        }
        return path;
    };
    const QString stale = folder("lumadoc-Stale1", true);
    const QString live = folder("lumadoc-Live12", true);
    const QString unmarked = folder("lumadoc-NoLock", false);
    const QString other = folder("lumadocs-other", true);
    ASSERT_TRUE(QFile::link(stale, temp.path() + "/lumadoc-Link12"));
    // The living process's lock: a lock of its own open file, as another process holds it.
    const int held = ::open(QFile::encodeName(live + "/.owner").constData(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);

    WorkFolders::removeStale();
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(live + "/tmp/tmp.pdf"));
    EXPECT_TRUE(QFileInfo::exists(unmarked + "/tmp/tmp.pdf"));
    EXPECT_TRUE(QFileInfo::exists(other + "/tmp/tmp.pdf"));
    EXPECT_TRUE(QFileInfo(temp.path() + "/lumadoc-Link12").isSymLink());
    ::close(held);

    // This process's own folder is locked while it lives and kept.
    const QString own = WorkFolders::base();
    ASSERT_TRUE(own.startsWith(temp.path()));
    WorkFolders::removeStale();
    EXPECT_TRUE(QFileInfo::exists(own + "/.owner"));
    WorkFolders::removeAll();
    if (previous.isNull()) {
        qunsetenv("TMPDIR");
    } else {
        qputenv("TMPDIR", previous);
    }
}

TEST(AppFolders, FollowTheApplicationFolder) {
    QTemporaryDir dir;
    SetAppFolder(dir.path() + "/");
    EXPECT_EQ(AppFolder(), dir.path());
    EXPECT_EQ(SettingsFolder(), dir.path());
    EXPECT_EQ(DefaultOutputFolder(), dir.path() + "/output");
    SetAppFolder(QString());
    EXPECT_EQ(AppFolder(), QCoreApplication::applicationDirPath());
}

TEST(SingleInstance, SecondStartFailsAndCallsTheFirstForward) {
    const QString key = QString("lumadoc-test-%1").arg(getpid());
    SingleInstance first(key);
    ASSERT_TRUE(first.acquire());
    int requests = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++requests; });

    SingleInstance second(key);
    EXPECT_FALSE(second.acquire());
    // The second start has connected before acquire() returned: the first one's server hears of
    // it as soon as events are handled.
    while (requests == 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(requests, 1);
}

} // namespace
