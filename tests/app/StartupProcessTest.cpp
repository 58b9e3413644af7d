// The start-up sequence, run as the real program in child processes with their
// own HOME and temporary folder, on the offscreen platform.

#include "UnclosedTakeFixture.h"
#include "support/TempHome.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

#include <csignal>

namespace {

class StartupProcessTest : public TempHomeTest {
protected:
    void startProgram(QProcess& process)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home_.path());
        env.insert("TMPDIR", home_.path() + "/tmp");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProgram(TONVALE_BINARY);
        process.setReadChannel(QProcess::StandardError);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // Waits (without sleeping) until the program's standard error carries
    // the log line; standard error gets "[LOG] " + every log line.
    static bool waitForLogLine(QProcess& process, QByteArray& seen, const QByteArray& line, int timeoutMs = 30000)
    {
        const QByteArray wanted = "[LOG] " + line + "\n";
        while (!seen.contains(wanted)) {
            if (!process.waitForReadyRead(timeoutMs))
                return false;
            seen += process.readAllStandardError();
        }
        return true;
    }

    static int stopWithSignal(QProcess& process)
    {
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        return process.exitCode();
    }

    void writeConfig(const QString& saveLocation)
    {
        QDir(home_.path()).mkpath(".config/Tonvale");
        QFile config(home_.path() + "/.config/Tonvale/config.ini");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(("media.saveLocation=" + saveLocation + "\n").toUtf8());
    }

    QStringList logLines() const
    {
        return QString::fromStdString(home_.logText()).split('\n', Qt::SkipEmptyParts);
    }
};

TEST_F(StartupProcessTest, StartsLogsInOrderAndExitsWithTheLoopCode)
{
    QProcess program;
    startProgram(program);
    QByteArray seen;
    ASSERT_TRUE(waitForLogLine(program, seen, "Entering event loop")) << seen.toStdString();
    EXPECT_EQ(stopWithSignal(program), 0);

    const QStringList expected = {
        "Application starting",
        "Loading configuration",
        "Scanning for incomplete recordings",
        "Save location not set or does not exist, skipping RF64 scan",
        "Creating MainWindow",
        "Entering event loop",
        "Application exiting with code: 0",
    };
    QStringList startupLines;
    for (const QString& line : logLines()) {
        if (expected.contains(line))
            startupLines << line;
    }
    EXPECT_EQ(startupLines, expected) << home_.logText();
}

TEST_F(StartupProcessTest, SaveLocationCasesForTheScan)
{
    QDir(home_.path()).mkpath("takes");
    QFile file(home_.path() + "/a-file");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    struct Case {
        QString saveLocation;
        const char* expectedLine;
    };
    const Case cases[] = {
        {"", "Save location not set or does not exist, skipping RF64 scan"},
        {home_.path() + "/a-file", "Save location not set or does not exist, skipping RF64 scan"},
        {home_.path() + "/missing", "Save location not set or does not exist, skipping RF64 scan"},
        {home_.path() + "/takes", "No incomplete recordings found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.saveLocation.toStdString());
        QDir(home_.path()).mkpath(".config/Tonvale");
        QFile config(home_.path() + "/.config/Tonvale/config.ini");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(("media.saveLocation=" + c.saveLocation + "\n").toUtf8());
        config.close();

        QProcess program;
        startProgram(program);
        QByteArray seen;
        ASSERT_TRUE(waitForLogLine(program, seen, "Entering event loop")) << seen.toStdString();
        EXPECT_EQ(stopWithSignal(program), 0);
        EXPECT_TRUE(seen.contains(QByteArray("[LOG] ") + c.expectedLine + "\n")) << seen.toStdString();
    }
}

// An unclosed take in a sub-folder of the save location is offered in the
// repair dialog before the main window is built; a quit signal while the
// dialog is open ends the program instead of going on to the main window.
TEST_F(StartupProcessTest, UnclosedTakeIsOfferedBeforeTheMainWindow)
{
    QDir(home_.path()).mkpath("takes/day1");
    ASSERT_TRUE(writeUnclosedTake((home_.path() + "/takes/day1/A001T01.wav").toStdString(), TakeLayout(), 4800, 2));
    writeConfig(home_.path() + "/takes");

    QProcess program;
    startProgram(program);
    QByteArray seen;
    ASSERT_TRUE(waitForLogLine(program, seen, "Found 1 incomplete recording(s)")) << seen.toStdString();
    ASSERT_TRUE(waitForLogLine(program, seen, "RepairDialog: listing 1 recording(s)")) << seen.toStdString();
    EXPECT_FALSE(seen.contains("Creating MainWindow")) << seen.toStdString();
    EXPECT_EQ(stopWithSignal(program), 0);
    seen += program.readAllStandardError();
    EXPECT_FALSE(seen.contains("Creating MainWindow")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("[LOG] Application exiting with code: 0\n")) << seen.toStdString();
}

// A quit signal while the main window is built or settling, before any event
// loop runs, still ends the program (and normally, so the lock is released).
TEST_F(StartupProcessTest, QuitSignalWhileTheWindowIsBuiltEndsStartUp)
{
    QProcess program;
    startProgram(program);
    QByteArray seen;
    ASSERT_TRUE(waitForLogLine(program, seen, "Creating MainWindow")) << seen.toStdString();
    EXPECT_EQ(stopWithSignal(program), 0);
    seen += program.readAllStandardError();
    EXPECT_TRUE(seen.contains("[LOG] Application exiting with code: 0\n")) << seen.toStdString();
}

TEST_F(StartupProcessTest, SecondInstanceIsRefusedAndTheFirstRunsOn)
{
    QProcess first;
    startProgram(first);
    QByteArray firstSeen;
    ASSERT_TRUE(waitForLogLine(first, firstSeen, "Entering event loop")) << firstSeen.toStdString();

    QProcess second;
    startProgram(second);
    QByteArray secondSeen;
    ASSERT_TRUE(waitForLogLine(second, secondSeen, "Another instance of Tonvale is already running"))
        << secondSeen.toStdString();
    // The refusal box is open now; the signal closes it through its event loop.
    EXPECT_EQ(stopWithSignal(second), 1);

    // The refused start adds its two lines and nothing else: no configuration
    // load, no scan, no window.
    const QStringList lines = logLines();
    EXPECT_EQ(lines.count("Application starting"), 2) << home_.logText();
    EXPECT_EQ(lines.count("Another instance of Tonvale is already running"), 1);
    EXPECT_EQ(lines.count("Loading configuration"), 1);
    EXPECT_EQ(lines.count("Creating MainWindow"), 1);
    EXPECT_EQ(QString::fromUtf8(secondSeen).count("[LOG] "), 2) << secondSeen.toStdString();

    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(stopWithSignal(first), 0);
}

} // namespace
