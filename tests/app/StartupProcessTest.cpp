// The start-up sequence, run as the real program in child processes with their
// own HOME and temporary folder, on the offscreen platform.

#include "ProgramHomeTest.h"
#include "UnclosedTakeFixture.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

#include <csignal>

namespace {

// One run of the real program and everything it has written to standard
// error so far (each log line also goes there, after "[LOG] ").
struct Program {
    QProcess process;
    QByteArray standardError;
    std::string seen() const { return standardError.toStdString(); }
};

class StartupProcessTest : public ProgramHomeTest {
protected:
    bool start(Program& program)
    {
        program.process.setProcessEnvironment(programEnvironment());
        program.process.setProgram(TONVALE_BINARY);
        program.process.setReadChannel(QProcess::StandardError);
        program.process.start();
        return program.process.waitForStarted(10000);
    }

    // Waits (without sleeping) until the program has logged the line.
    static bool waitForLogLine(Program& program, const QByteArray& line, int timeoutMs = 30000)
    {
        const QByteArray wanted = "[LOG] " + line + "\n";
        while (!program.standardError.contains(wanted)) {
            if (!program.process.waitForReadyRead(timeoutMs))
                return false;
            program.standardError += program.process.readAllStandardError();
        }
        return true;
    }

    // Sends SIGTERM, waits for the end and keeps the rest of the output.
    static int stopWithSignal(Program& program)
    {
        ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
        EXPECT_TRUE(program.process.waitForFinished(30000));
        EXPECT_EQ(program.process.exitStatus(), QProcess::NormalExit);
        program.standardError += program.process.readAllStandardError();
        return program.process.exitCode();
    }

    void writeConfig(const QString& saveLocation)
    {
        QDir(home_.path()).mkpath(".config/Tonvale");
        QFile config(home_.path() + "/.config/Tonvale/config.ini");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(("media.saveLocation=" + saveLocation + "\n").toUtf8());
    }
};

TEST_F(StartupProcessTest, StartsLogsInOrderAndExitsWithTheLoopCode)
{
    Program program;
    ASSERT_TRUE(start(program));
    ASSERT_TRUE(waitForLogLine(program, "Entering event loop")) << program.seen();
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
        ASSERT_NO_FATAL_FAILURE(writeConfig(c.saveLocation));

        Program program;
        ASSERT_TRUE(start(program));
        ASSERT_TRUE(waitForLogLine(program, "Entering event loop")) << program.seen();
        EXPECT_EQ(stopWithSignal(program), 0);
        EXPECT_TRUE(program.standardError.contains(QByteArray("[LOG] ") + c.expectedLine + "\n")) << program.seen();
    }
}

// An unclosed take in a sub-folder of the save location is offered in the
// repair dialog before the main window is built; a quit signal while the
// dialog is open ends the program instead of going on to the main window.
TEST_F(StartupProcessTest, UnclosedTakeIsOfferedBeforeTheMainWindow)
{
    QDir(home_.path()).mkpath("takes/day1");
    ASSERT_TRUE(writeUnclosedTake((home_.path() + "/takes/day1/A001T01.wav").toStdString(), TakeLayout(), 4800, 2));
    ASSERT_NO_FATAL_FAILURE(writeConfig(home_.path() + "/takes"));

    Program program;
    ASSERT_TRUE(start(program));
    ASSERT_TRUE(waitForLogLine(program, "Found 1 incomplete recording(s)")) << program.seen();
    ASSERT_TRUE(waitForLogLine(program, "RepairDialog: listing 1 recording(s)")) << program.seen();
    EXPECT_FALSE(program.standardError.contains("Creating MainWindow")) << program.seen();
    EXPECT_EQ(stopWithSignal(program), 0);
    EXPECT_FALSE(program.standardError.contains("Creating MainWindow")) << program.seen();
    EXPECT_TRUE(program.standardError.contains("[LOG] Application exiting with code: 0\n")) << program.seen();
}

// A quit signal while the main window is built or settling, before any event
// loop runs, still ends the program (and normally, so the lock is released).
TEST_F(StartupProcessTest, QuitSignalWhileTheWindowIsBuiltEndsStartUp)
{
    Program program;
    ASSERT_TRUE(start(program));
    ASSERT_TRUE(waitForLogLine(program, "Creating MainWindow")) << program.seen();
    EXPECT_EQ(stopWithSignal(program), 0);
    EXPECT_TRUE(program.standardError.contains("[LOG] Application exiting with code: 0\n")) << program.seen();
}

TEST_F(StartupProcessTest, SecondInstanceIsRefusedAndTheFirstRunsOn)
{
    Program first;
    ASSERT_TRUE(start(first));
    ASSERT_TRUE(waitForLogLine(first, "Entering event loop")) << first.seen();

    Program second;
    ASSERT_TRUE(start(second));
    ASSERT_TRUE(waitForLogLine(second, "Another instance of Tonvale is already running")) << second.seen();
    // The refusal box is open now; the signal closes it through its event loop.
    EXPECT_EQ(stopWithSignal(second), 1);

    // The refused start adds its two lines and nothing else: no configuration
    // load, no scan, no window.
    const QStringList lines = logLines();
    EXPECT_EQ(lines.count("Application starting"), 2) << home_.logText();
    EXPECT_EQ(lines.count("Another instance of Tonvale is already running"), 1);
    EXPECT_EQ(lines.count("Loading configuration"), 1);
    EXPECT_EQ(lines.count("Creating MainWindow"), 1);
    EXPECT_EQ(QString::fromUtf8(second.standardError).count("[LOG] "), 2) << second.seen();

    EXPECT_EQ(first.process.state(), QProcess::Running);
    EXPECT_EQ(stopWithSignal(first), 0);
}

} // namespace
