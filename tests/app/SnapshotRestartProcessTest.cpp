// The restart of a configuration snapshot load, with the real program in
// child processes that have their own HOME and TMPDIR.
//
// End to end: the program on an X server of the test's own (Xvfb), driven by
// xdotool through "Save/Load Configuration..." in its Routing menu, once idle
// and once while a take runs on the virtual audio devices. The old process
// must end by itself, exactly one new process must come up, never refused by
// the old one's lock, and it must run on the snapshot's fader positions and
// window geometry, not on what the old instance held. Without Xvfb or
// xdotool those cases skip visibly.

#include "ProgramHomeTest.h"

#include "media/BwfMetadataReader.h"
#include "support/ExternalTool.h"
#include "support/XvfbServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <map>

namespace {

constexpr int kStepTimeoutMs = 30000;

// One configuration as the program writes it: sorted key=value lines.
QByteArray configText(const std::map<QString, QString>& values)
{
    QByteArray text = "# Tonvale Configuration\n\n";
    for (const auto& [key, value] : values)
        text += (key + '=' + value + '\n').toUtf8();
    return text;
}

std::map<QString, QString> readConfig(const QString& path)
{
    std::map<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && !line.startsWith('#'))
            values[QString::fromUtf8(line.left(equals))] = QString::fromUtf8(line.mid(equals + 1));
    }
    return values;
}

// The values a restart must carry over, and the keys the old window would
// write on its way out.
struct Values {
    QString marker;
    QString fader0, fader1;
    QString x, y, width, height;
};

// Runs of the program in this test's HOME, their log and their processes.
class ProgramInHomeTest : public ProgramHomeTest {
protected:
    void SetUp() override
    {
        QDir(home_.path()).mkpath("tmp/runtime");
        QFile::setPermissions(home_.path() + "/tmp/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                QFileDevice::ExeOwner);
        QDir(home_.path()).mkpath("snaps");
        QDir(home_.path()).mkpath("takes");
        QDir(home_.path()).mkpath(".config/Tonvale");
    }

    void TearDown() override
    {
        // Nothing started in this HOME may outlive the test, whatever failed:
        // neither the program nor a restart still waiting to start it.
        for (qint64 pid : processesInOurHome(false))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        for (QProcess* process : {&old_, &second_}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    // Starts the program; its output goes to files (a restarted program
    // inherits them and must not meet a closed pipe once this one is reaped).
    bool start(QProcess& process, const QProcessEnvironment& environment, const QString& name)
    {
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(home_.path() + "/" + name + ".stdout.txt");
        process.setStandardErrorFile(home_.path() + "/" + name + ".stderr.txt");
        process.start(TONVALE_BINARY, {});
        return process.waitForStarted(kStepTimeoutMs);
    }

    // Waits for a process to be gone, by its id (a process started detached
    // is no child of ours).
    bool waitUntilGone(qint64 pid)
    {
        QElapsedTimer clock;
        clock.start();
        while (processesInOurHome(true).contains(pid)) {
            if (clock.elapsed() > kStepTimeoutMs)
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    virtual pid_t ignoredPid() const { return 0; }

    QString configPath() const { return home_.path() + "/.config/Tonvale/config.ini"; }

    std::map<QString, QString> configOf(const Values& values) const
    {
        return {{"audio.device", "Virtual Interface"},
                {"media.saveLocation", home_.path() + "/takes"},
                {"snapshots.directory", home_.path() + "/snaps"},
                {"test.marker", values.marker},
                {"fader.0", values.fader0},
                {"fader.1", values.fader1},
                {"window.x", values.x},
                {"window.y", values.y},
                {"window.width", values.width},
                {"window.height", values.height}};
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        file.write(bytes);
    }

    QProcessEnvironment offscreenEnvironment() const
    {
        QProcessEnvironment env = programEnvironment();
        env.insert("XDG_RUNTIME_DIR", home_.path() + "/tmp/runtime");
        env.remove("TONVALE_REPLACES_PID");
        env.remove("JACK_DEFAULT_SERVER");
        return env;
    }

    // Waits until the log holds `count` lines equal to (or, with `prefix`,
    // beginning with) `line`. The log is written by every run in this HOME.
    bool waitForLog(const QString& line, int count = 1, bool prefix = false)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kStepTimeoutMs) {
            int seen = 0;
            for (const QString& logged : logLines())
                seen += (prefix ? logged.startsWith(line) : logged == line) ? 1 : 0;
            if (seen >= count)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    // Live processes started with our HOME (this test process excepted):
    // only the program under test, or any.
    QList<qint64> processesInOurHome(bool programOnly) const
    {
        QList<qint64> found;
        const QString binary = QFileInfo(QStringLiteral(TONVALE_BINARY)).canonicalFilePath();
        const QByteArray home = "HOME=" + home_.path().toLocal8Bit();
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            bool numeric = false;
            const qint64 pid = entry.toLongLong(&numeric);
            if (!numeric || pid == QCoreApplication::applicationPid() || pid == ignoredPid())
                continue;
            // A zombie has no executable link: it no longer runs.
            const QString executable = QFileInfo("/proc/" + entry + "/exe").canonicalFilePath();
            if (executable.isEmpty() || (programOnly && executable != binary))
                continue;
            QFile environ("/proc/" + entry + "/environ");
            if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(home))
                found << pid;
        }
        return found;
    }

    void expectHolds(const std::map<QString, QString>& stored, const Values& values) const
    {
        for (const auto& [key, wanted] : configOf(values)) {
            const auto found = stored.find(key);
            EXPECT_EQ(found == stored.end() ? QString("<missing>") : found->second, wanted) << key.toStdString();
        }
    }

    QProcess old_;
    QProcess second_;
    const Values running_{"running", "-100", "-200", "10", "20", "1100", "800"};
    const Values snapshot_{"snapshot", "-300", "-40", "100", "60", "1300", "850"};
    const Values other_{"other", "-500", "-500", "0", "0", "1024", "768"};
};

// A program started to replace another (as a snapshot load restarts it)
// waits for the old instance's lock instead of refusing to start.
TEST_F(ProgramInHomeTest, ReplacementWaitsForTheOldInstancesLock)
{
    ASSERT_TRUE(start(old_, offscreenEnvironment(), "old"));
    ASSERT_TRUE(waitForLog("Entering event loop")) << home_.logText();

    QProcessEnvironment replacing = offscreenEnvironment();
    replacing.insert("TONVALE_REPLACES_PID", QString::number(old_.processId()));
    ASSERT_TRUE(start(second_, replacing, "second"));
    const QString waiting = "Restarted: waiting for the previous instance (process " +
                            QString::number(old_.processId()) + ") to release its lock";
    ASSERT_TRUE(waitForLog(waiting)) << home_.logText();
    // Well past the ordinary 100 ms the replacement is still waiting, not refused.
    EXPECT_FALSE(second_.waitForFinished(1000)) << home_.logText();

    ::kill(static_cast<pid_t>(old_.processId()), SIGTERM);
    ASSERT_TRUE(old_.waitForFinished(kStepTimeoutMs));
    ASSERT_TRUE(waitForLog("Entering event loop", 2)) << home_.logText();

    const QStringList lines = logLines();
    EXPECT_EQ(lines.count("Another instance of Tonvale is already running"), 0) << home_.logText();
    // The replacement loaded nothing before the old instance had ended.
    const qsizetype oldEnded = lines.indexOf("Application exiting with code: 0");
    ASSERT_GE(oldEnded, 0);
    EXPECT_LT(lines.indexOf(waiting), oldEnded);
    EXPECT_EQ(lines.count("Loading configuration"), 2);
    EXPECT_GT(lines.lastIndexOf("Loading configuration"), oldEnded) << home_.logText();

    ::kill(static_cast<pid_t>(second_.processId()), SIGTERM);
    ASSERT_TRUE(second_.waitForFinished(kStepTimeoutMs));
    EXPECT_EQ(second_.exitCode(), 0);
}

class SnapshotRestartX11Test : public ProgramInHomeTest {
protected:
    void SetUp() override
    {
        xdotool_ = findTool("xdotool");
        if (xdotool_.isEmpty())
            GTEST_SKIP() << "SKIPPED: xdotool is not installed; the restart was not driven";
        std::string error;
        if (!server_.start("1600x1000x24", {}, error))
            GTEST_SKIP() << "SKIPPED: " << error << "; the restart was not driven";
        ProgramInHomeTest::SetUp();
    }

    void TearDown() override
    {
        ProgramInHomeTest::TearDown();
        server_.stop();
    }

    pid_t ignoredPid() const override { return server_.pid(); }

    QProcessEnvironment programEnvironment() const
    {
        QProcessEnvironment env = offscreenEnvironment();
        env.insert("DISPLAY", QString::fromStdString(server_.display()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        return env;
    }

    // Runs xdotool on our display; its standard output, trimmed.
    QString xdotool(const QStringList& arguments, int timeoutMs = 10000)
    {
        QProcess process;
        process.setProcessEnvironment(programEnvironment());
        process.start(xdotool_, arguments);
        EXPECT_TRUE(process.waitForStarted(timeoutMs));
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "xdotool " << arguments.join(' ').toStdString() << " timed out";
            return {};
        }
        EXPECT_EQ(process.exitCode(), 0) << "xdotool " << arguments.join(' ').toStdString() << ": "
                                         << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    // The id of the one mapped window with this exact title, waiting for it.
    QString windowNamed(const QString& title)
    {
        const QString pattern = '^' + QRegularExpression::escape(title) + '$';
        const QStringList ids = xdotool({"search", "--sync", "--onlyvisible", "--name", pattern}, kStepTimeoutMs)
                                    .split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(ids.size(), 1) << title.toStdString();
        return ids.value(0);
    }

    void focus(const QString& window) { xdotool({"windowfocus", "--sync", window}); }

    // The whole road: old instance on `running`, snapshot "show" holding
    // `snapshot`, loaded through the menu, the new process checked and ended.
    void loadThroughTheMenu(bool duringTake);

    XvfbServer server_;
    QString xdotool_;
};

void SnapshotRestartX11Test::loadThroughTheMenu(bool duringTake)
{
    ASSERT_NO_FATAL_FAILURE(writeFile(configPath(), configText(configOf(running_))));
    // Two snapshots, so the test also shows the selected one is loaded: the
    // older first in the list, "show" (the one loaded) last.
    ASSERT_NO_FATAL_FAILURE(writeFile(home_.path() + "/snaps/other.config", configText(configOf(other_))));
    QFile other(home_.path() + "/snaps/other.config");
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));
    ASSERT_TRUE(other.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    other.close();
    const QByteArray snapshotBytes = configText(configOf(snapshot_));
    ASSERT_NO_FATAL_FAILURE(writeFile(home_.path() + "/snaps/show.config", snapshotBytes));

    ASSERT_TRUE(start(old_, programEnvironment(), "old"));
    ASSERT_TRUE(waitForLog("Entering event loop")) << home_.logText();

    const QString mainWindow = windowNamed("Tonvale");
    ASSERT_FALSE(mainWindow.isEmpty());
    // What the old instance holds now differs from its file and the snapshot.
    xdotool({"windowmove", "--sync", mainWindow, "300", "200"});
    focus(mainWindow);

    if (duringTake) {
        // Space held past its 600 ms starts a take on the virtual interface.
        xdotool({"keydown", "space"});
        const bool started = waitForLog("CoreAudio: Recording started successfully", 1, true);
        xdotool({"keyup", "space"});
        ASSERT_TRUE(started) << home_.logText();
    }

    // Routing > Save/Load Configuration... (the fifth entry).
    xdotool({"key", "alt+r", "Down", "Down", "Down", "Down", "Return"});
    const QString dialog = windowNamed("Save/Load Configuration Snapshot");
    ASSERT_FALSE(dialog.isEmpty()) << "the Save/Load Configuration... entry did not open the dialog";
    focus(dialog);
    // The list has the focus: End picks the newest, "show"; two tabs reach
    // "Load Selected Configuration".
    xdotool({"key", "End", "Tab", "Tab", "Return"});
    if (duringTake) {
        // Loading restarts the program, which would end the take: refused.
        const QString refusal = windowNamed("Recording Active");
        ASSERT_FALSE(refusal.isEmpty()) << home_.logText();
        EXPECT_TRUE(waitForLog("Snapshot load refused: a take is recording or being closed")) << home_.logText();
        EXPECT_EQ(old_.state(), QProcess::Running);
        EXPECT_FALSE(logLines().contains("Configuration snapshot loaded: show; restarting"));
        expectHolds(readConfig(configPath()), running_);
        focus(refusal);
        xdotool({"key", "Return"});
        ASSERT_EQ(::kill(static_cast<pid_t>(old_.processId()), SIGTERM), 0);
        ASSERT_TRUE(old_.waitForFinished(kStepTimeoutMs)) << home_.logText();
        return;
    }
    const QString question = windowNamed("Load Configuration?");
    ASSERT_FALSE(question.isEmpty());
    focus(question);
    xdotool({"key", "y"});

    // The old process ends by itself (after the overlay's 3 s and its shutdown).
    ASSERT_TRUE(old_.waitForFinished(kStepTimeoutMs)) << home_.logText();
    EXPECT_EQ(old_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(old_.exitCode(), 0);
    EXPECT_TRUE(logLines().contains("Configuration snapshot loaded: show; restarting")) << home_.logText();
    // Between the load and its end the old process wrote nothing over the snapshot.
    expectHolds(readConfig(configPath()), snapshot_);
    EXPECT_EQ(readConfig(configPath() + ".backup").at("test.marker"), "running");

    ASSERT_TRUE(waitForLog("Entering event loop", 2)) << home_.logText();
    const QList<qint64> running = processesInOurHome(true);
    ASSERT_EQ(running.size(), 1) << "exactly one new process";
    const qint64 newPid = running.first();
    EXPECT_NE(newPid, old_.processId());

    const QStringList lines = logLines();
    EXPECT_EQ(lines.count("Application starting"), 2) << home_.logText();
    EXPECT_EQ(lines.count("Another instance of Tonvale is already running"), 0) << home_.logText();
    // The new process runs on the snapshot: its window where the snapshot
    // put it, not where the old one was moved or started.
    const QString geometry = xdotool({"getwindowgeometry", windowNamed("Tonvale")});
    EXPECT_TRUE(geometry.contains("Position: 100,60")) << geometry.toStdString();
    EXPECT_TRUE(geometry.contains("Geometry: 1300x850")) << geometry.toStdString();

    // Its own shutdown stores what it ran on: the snapshot's faders and geometry.
    ASSERT_EQ(::kill(static_cast<pid_t>(newPid), SIGTERM), 0);
    ASSERT_TRUE(waitUntilGone(newPid)) << "the new process did not end on SIGTERM";
    EXPECT_TRUE(waitForLog("Application exiting with code: 0", 2)) << home_.logText();
    expectHolds(readConfig(configPath()), snapshot_);
}

TEST_F(SnapshotRestartX11Test, LoadRestartsIntoTheSnapshot)
{
    ASSERT_NO_FATAL_FAILURE(loadThroughTheMenu(false));
}

// A load during a take is refused with a box: the program goes on with the
// take and its configuration; a quit still closes the take with its sizes.
TEST_F(SnapshotRestartX11Test, LoadDuringATakeIsRefusedAndTheTakeGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(loadThroughTheMenu(true));
    QStringList takes;
    QDirIterator files(home_.path() + "/takes", {"*.wav"}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        takes << files.next();
    ASSERT_EQ(takes.size(), 1);
    const BwfMetadata take = BwfMetadataReader::readMetadata(takes.first().toStdString());
    EXPECT_GT(take.durationSeconds, 0.0) << "the take was closed with its sizes";
}

} // namespace
