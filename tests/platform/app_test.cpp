#include "platform/app_folders.h"
#include "platform/conventions.h"
#include "platform/single_instance.h"
#include "platform/work_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "qt_printers.h"
#include <gtest/gtest.h>

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
