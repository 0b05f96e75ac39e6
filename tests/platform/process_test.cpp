#include "platform/command_line.h"
#include "platform/dos_outputs.h"
#include "platform/process.h"
#include "platform/process_list.h"
#include "platform/waitable_timer.h"
#include "recording_prompts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <cerrno>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace platform;
using testing_support::RecordingPrompts;

namespace {

QString childPath() {
    return QStringLiteral(LUMADOC_TEST_CHILD);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(WaitForProcessEnd, SleepsWhileTheChildRunsAndKeepsEventsFlowing) {
    const qint64 pid = StartProgram({childPath(), "sleep", "1000"});
    ASSERT_GT(pid, 0);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);

    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    const int code = WaitForProcessEnd(pid);
    const double cpuUsed = cpuSeconds() - cpuBefore;

    EXPECT_EQ(code, 0);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LT(cpuUsed, 0.25) << "the wait must not spin a processor";
    EXPECT_GE(ticks, 20) << "timer events must be handled during the wait";
    EXPECT_NE(kill(pid_t(pid), 0), 0) << "the child must be reaped";
}

TEST(WaitForProcessEnd, ReportsExitCodesAndGoneProcesses) {
    const qint64 pid = StartProgram({childPath(), "unknown-mode"});
    EXPECT_EQ(WaitForProcessEnd(pid), 3);
    EXPECT_EQ(WaitForProcessEnd(pid), -1); // already gone
    EXPECT_EQ(WaitForProcessEnd(-1), -1);
}

TEST(StartHidden, ArgumentsArriveUnchangedAndMissingProgramsFail) {
    QTemporaryDir dir;
    const QString out = dir.path() + "/out file \"é\".txt";
    const QStringList values{
        "plain", "with space", "a \"quoted\" word", "trailing\\", "tab\there", "名前 ✓", ""};
    QString line = childPath() + " args " + QuoteArg(out);
    for (const QString& v : values) {
        line += ' ' + QuoteArg(v);
    }
    EXPECT_EQ(WaitForProcessEnd(StartHidden(line)), 0);
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    EXPECT_EQ(lines.mid(0, values.size()), values);

    int error = 0;
    EXPECT_EQ(StartHidden(dir.path() + "/no-such-program -x", &error), -1);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(StartHidden("", &error), -1);
}

TEST(clsWaitableTimer, WaitsAtLeastTheTimeAskedAndHandlesInputMeanwhile) {
    clsWaitableTimer timer;
    QElapsedTimer clock;
    clock.start();
    timer.Wait(50);
    EXPECT_GE(clock.elapsed(), 50);

    clock.restart();
    timer.Wait(0);
    timer.Wait(-5);
    EXPECT_LT(clock.elapsed(), 50);

    // Events posted before and during the wait are handled before it returns.
    qint64 handledAt = -1;
    QTimer::singleShot(30, [&] { handledAt = clock.elapsed(); });
    clock.restart();
    timer.Wait(200);
    EXPECT_GE(handledAt, 25);
    EXPECT_LE(handledAt, clock.elapsed()) << "handled inside the wait";
    EXPECT_GE(clock.elapsed(), 200);

    // Two waits nested in each other each last their own time.
    clsWaitableTimer inner;
    qint64 innerEnd = -1;
    QTimer::singleShot(10, [&] {
        inner.Wait(150);
        innerEnd = clock.elapsed();
    });
    clock.restart();
    timer.Wait(40);
    EXPECT_GE(innerEnd, 160);
    EXPECT_FALSE(timer.isWaiting());
}

TEST(clsWaitableTimer, FailuresCarryTheDescriptionPrefix) {
    const WaitError e("timer failed");
    EXPECT_STREQ(e.what(), "[clsWaitableTimer.Wait]timer failed");
}

class NamedHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Names unique to this run, so no other process can match them.
        shortName = QString("lumahelper%1").arg(getpid());
        for (const QString& name : {shortName, shortName + "-long", shortName + ".bak"}) {
            ASSERT_TRUE(QFile::copy(childPath(), dir.path() + '/' + name));
            QFile::setPermissions(dir.path() + '/' + name,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
    qint64 start(const QString& name) {
        return StartProgram({dir.path() + '/' + name, "sleep", "20000"});
    }

    QTemporaryDir dir;
    QString shortName;
};

TEST_F(NamedHelpers, EndProcessByNameEndsExactNamesIgnoringCase) {
    const qint64 a = start(shortName);
    const qint64 b = start(shortName);
    const qint64 longer = start(shortName + "-long");
    const qint64 bak = start(shortName + ".bak");
    ASSERT_GT(a, 0);
    ASSERT_GT(longer, 0);
    QThread::msleep(100);

    EXPECT_TRUE(IsProcessRunning(shortName.toUpper()));
    EXPECT_FALSE(IsProcessRunning(shortName.left(6)));

    EndProcessByName("nothing-has-this-name");
    EndProcessByName(shortName.toUpper());
    EXPECT_EQ(WaitForProcessEnd(a), 128 + SIGKILL);
    EXPECT_EQ(WaitForProcessEnd(b), 128 + SIGKILL);
    EXPECT_EQ(kill(pid_t(longer), 0), 0) << "a longer name must be left alone";
    EXPECT_EQ(kill(pid_t(bak), 0), 0);
    EXPECT_FALSE(IsProcessRunning(shortName));

    kill(pid_t(longer), SIGKILL);
    kill(pid_t(bak), SIGKILL);
    WaitForProcessEnd(longer);
    WaitForProcessEnd(bak);
}

class DOSOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&dos, &DOSOutputs::ReceiveOutputs,
                         [this](const QString& block) { blocks << block; });
        QObject::connect(&dos, &DOSOutputs::CommandOver, [this] { ++over; });
        RunningToolExe = "test_child";
    }
    void TearDown() override { RunningToolExe.clear(); }

    RecordingPrompts prompts;
    DOSOutputs dos;
    QStringList blocks;
    int over = 0;
};

TEST_F(DOSOutputsTest, LongOutputArrivesInBlocksThatJoinToTheWhole) {
    const QString result = dos.ExecuteCommand(childPath() + " print 5000 400");
    EXPECT_GE(result.toUtf8().size(), 5000);
    EXPECT_GE(blocks.size(), 5);
    for (const QString& block : blocks) {
        EXPECT_LE(block.toUtf8().size(), 1024 + 3);
    }
    EXPECT_EQ(blocks.join(QString()), result);
    EXPECT_EQ(dos.Outputs(), result);
    EXPECT_EQ(over, 1);
    // Multi-byte letters split across blocks survive.
    EXPECT_TRUE(result.startsWith("line 0 été ✓\n"));
    EXPECT_EQ(result.count("✓"), result.count('\n'));
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(dos.CommandLine(), childPath() + " print 5000 400");
}

TEST_F(DOSOutputsTest, OutputOfAToolThatEndedAtOnceIsNotLost) {
    const QString result = dos.ExecuteCommand(childPath() + " print 3000");
    EXPECT_GE(result.toUtf8().size(), 3000);
    EXPECT_EQ(blocks.join(QString()), result);
}

TEST_F(DOSOutputsTest, StoredCommandLineRunsAgainAndSilentCommandsGiveNothing) {
    dos.setCommandLine(childPath() + " sleep 100");
    EXPECT_EQ(dos.ExecuteCommand(), QString());
    EXPECT_TRUE(blocks.isEmpty());
    EXPECT_EQ(over, 1);
}

TEST_F(DOSOutputsTest, FailuresShowTheirMessageAndRaiseNoEvent) {
    EXPECT_EQ(dos.ExecuteCommand(), QString());
    dos.ExecuteCommand("/nonexistent/tool -q");
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_EQ(prompts.messages[0].text, "Command Line empty");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(prompts.messages[0].title, "Lumadoc");
    EXPECT_EQ(prompts.messages[1].text, "File or command not found");
    EXPECT_EQ(prompts.messages[1].icon, MessageIcon::Critical);
    EXPECT_EQ(over, 0);
    EXPECT_TRUE(blocks.isEmpty());
    EXPECT_EQ(dos.CommandLine(), "/nonexistent/tool -q");
}

TEST_F(DOSOutputsTest, AnUnwatchedCommandEndsAfterTheFirstPass) {
    RunningToolExe.clear();
    QElapsedTimer clock;
    clock.start();
    dos.ExecuteCommand(childPath() + " sleep 3000");
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(over, 1);
}

} // namespace
