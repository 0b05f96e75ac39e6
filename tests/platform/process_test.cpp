#include "platform/command_line.h"
#include "platform/dos_outputs.h"
#include "platform/process.h"
#include "platform/process_list.h"
#include "platform/waitable_timer.h"
#include "recording_prompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace platform;
using testing_support::RecordingPrompts;

namespace {

QString childPath() {
    return QStringLiteral(LUMADOC_TEST_CHILD);
}

// How often the calling thread has given up the processor of its own accord: once each time it
// went to sleep.
long sleepsOfThisThread() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

TEST(WaitForProcessEnd, SleepsWhileTheChildRunsAndKeepsEventsFlowing) {
    // The child would sleep for a day: only an event handled inside the wait ends it.
    const qint64 pid = StartProgram({childPath(), "sleep", "86400000"});
    ASSERT_GT(pid, 0);
    constexpr int ticksToEnd = 5;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (++ticks == ticksToEnd) {
            kill(pid_t(pid), SIGTERM);
        }
    });
    ticker.start(20);

    const long sleepsBefore = sleepsOfThisThread();
    const int code = WaitForProcessEnd(pid);
    const long sleeps = sleepsOfThisThread() - sleepsBefore;

    EXPECT_EQ(code, 128 + SIGTERM) << "the wait returns once the child has ended, with its status";
    EXPECT_GE(ticks, ticksToEnd) << "timer events must be handled during the wait";
    // A wait that spins handles the ticks without ever sleeping in between.
    EXPECT_GE(sleeps, ticksToEnd) << "the wait must sleep between events, not spin a processor";
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

// The waits are checked by the order of events: a timer due before the end of a wait fires
// inside it, and a wait that is still running when a later timer fires has not ended early.
TEST(clsWaitableTimer, WaitsTheTimeAskedAndHandlesInputMeanwhile) {
    clsWaitableTimer timer;
    bool firedInside = false;
    QTimer::singleShot(std::chrono::milliseconds(45), Qt::PreciseTimer,
                       [&] { firedInside = timer.isWaiting(); });
    timer.Wait(50);
    EXPECT_TRUE(firedInside) << "a timer due before the end of the wait fires inside it";
    EXPECT_FALSE(timer.isWaiting());

    // Without a time: the pending events are handled once, and the call returns.
    int handled = 0;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ++handled; }, Qt::QueuedConnection);
    timer.Wait(0);
    EXPECT_EQ(handled, 1);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ++handled; }, Qt::QueuedConnection);
    timer.Wait(-5);
    EXPECT_EQ(handled, 2);

    // Two waits nested in each other each last their own time: the outer one's end, due
    // during the inner one, neither cuts the inner one short nor returns before it.
    clsWaitableTimer inner;
    bool innerWasWaiting = false;
    bool innerEnded = false;
    QTimer::singleShot(std::chrono::milliseconds(10), Qt::PreciseTimer, [&] {
        inner.Wait(150);
        innerEnded = true;
    });
    QTimer::singleShot(std::chrono::milliseconds(100), Qt::PreciseTimer,
                       [&] { innerWasWaiting = inner.isWaiting() && timer.isWaiting(); });
    timer.Wait(40);
    EXPECT_TRUE(innerWasWaiting) << "the inner wait still ran after the outer one's time";
    EXPECT_TRUE(innerEnded);
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

// A program of the same name elsewhere (the user's own "Pro") survives; the one file asked
// for ends, under whichever name it was started.
TEST_F(NamedHelpers, EndProgramEndsOnlyThatFile) {
    QTemporaryDir other;
    ASSERT_TRUE(QFile::copy(childPath(), other.path() + '/' + shortName));
    QFile::setPermissions(other.path() + '/' + shortName,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const qint64 ours = start(shortName);
    const qint64 theirs = StartProgram({other.path() + '/' + shortName, "sleep", "20000"});
    ASSERT_GT(ours, 0);
    ASSERT_GT(theirs, 0);
    EndProgram(dir.path() + "/./" + shortName);
    EXPECT_EQ(WaitForProcessEnd(ours), 128 + SIGKILL);
    EXPECT_EQ(kill(pid_t(theirs), 0), 0) << "the same name in another folder is left alone";
    EndProgram(dir.path() + "/no-such-program");
    kill(pid_t(theirs), SIGKILL);
    WaitForProcessEnd(theirs);
}

TEST_F(NamedHelpers, EndProcessByNameEndsExactNamesIgnoringCase) {
    const qint64 a = start(shortName);
    const qint64 b = start(shortName);
    const qint64 longer = start(shortName + "-long");
    const qint64 bak = start(shortName + ".bak");
    ASSERT_GT(a, 0);
    ASSERT_GT(longer, 0);
    // StartProgram returns once the program has been loaded: it is in the list under its name.

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
    // A copy under a name of its own, so that the test can see it still running afterwards.
    QTemporaryDir dir;
    const QString name = QString("lumaunwatched%1").arg(getpid());
    ASSERT_TRUE(QFile::copy(childPath(), dir.path() + '/' + name));
    QFile::setPermissions(dir.path() + '/' + name,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    RunningToolExe.clear();
    dos.ExecuteCommand(dir.path() + '/' + name + " sleep 86400000");
    EXPECT_EQ(over, 1);
    EXPECT_TRUE(IsProcessRunning(name)) << "the run returned without waiting for its command";
    EndProcessByName(name);
}

} // namespace
