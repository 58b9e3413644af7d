#include "ui/tools/ConfigSnapshotDialog.h"

#include "core/ConfigManager.h"
#include "support/TempHome.h"
#include "ui/tools/ProcessRestart.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>

namespace {

// Answers every prompt from queues and records what was asked.
struct FakePrompts {
    std::deque<std::optional<QString>> texts;
    std::deque<bool> answers;
    QString folder;
    QStringList asked;     // "title|text" of every question and text prompt
    QStringList criticals; // "title|message"

    ConfigSnapshotPrompts prompts()
    {
        ConfigSnapshotPrompts p;
        p.askText = [this](QWidget*, const QString& title, const QString& label, const QString& text) {
            asked.append(title + QLatin1Char('|') + label + QLatin1Char('|') + text);
            std::optional<QString> answer = texts.empty() ? std::nullopt : texts.front();
            if (!texts.empty())
                texts.pop_front();
            return answer;
        };
        p.askYesNo = [this](QWidget*, const QString& title, const QString& question) {
            asked.append(title + QLatin1Char('|') + question);
            const bool answer = !answers.empty() && answers.front();
            if (!answers.empty())
                answers.pop_front();
            return answer;
        };
        p.showCritical = [this](QWidget*, const QString& title, const QString& message) {
            criticals.append(title + QLatin1Char('|') + message);
        };
        p.chooseFolder = [this](QWidget*, const QString& title, const QString&) {
            asked.append(title);
            return folder;
        };
        return p;
    }
};

class ConfigSnapshotDialogTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        snapshots_ = home_.path() + QStringLiteral("/snaps");
        config()->setString("snapshots.directory", snapshots_.toStdString());
        config()->setString("fader.1", "-6.0");
        ASSERT_TRUE(config()->saveConfig(""));
    }
    static ConfigManager* config() { return ConfigManager::getInstance(); }
    static QString configPath() { return QString::fromStdString(ConfigManager::getInstance()->getConfigPath()); }
    static QByteArray bytesOf(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    std::unique_ptr<ConfigSnapshotDialog> makeDialog()
    {
        auto dialog = std::make_unique<ConfigSnapshotDialog>(nullptr, nullptr);
        dialog->setPrompts(fake_.prompts());
        dialog->setRestart([this] { ++restarts_; });
        return dialog;
    }
    static QListWidget* list(ConfigSnapshotDialog& d) { return d.findChild<QListWidget*>(); }
    static QPushButton* button(ConfigSnapshotDialog& d, const QString& text)
    {
        for (QPushButton* b : d.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }
    static QLabel* info(ConfigSnapshotDialog& d)
    {
        for (QLabel* label : d.findChildren<QLabel*>())
            if (label->wordWrap())
                return label;
        return nullptr;
    }
    static QStringList rows(ConfigSnapshotDialog& d)
    {
        QStringList result;
        for (int i = 0; i < list(d)->count(); ++i)
            result.append(list(d)->item(i)->text());
        return result;
    }
    void save(ConfigSnapshotDialog& dialog, const QString& name)
    {
        fake_.texts.push_back(name);
        button(dialog, QStringLiteral("Save Current Configuration..."))->click();
    }
    void select(ConfigSnapshotDialog& dialog, const QString& name)
    {
        const QList<QListWidgetItem*> items = list(dialog)->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        list(dialog)->setCurrentItem(items.first());
    }

    QString snapshots_;
    FakePrompts fake_;
    int restarts_ = 0;
};

TEST_F(ConfigSnapshotDialogTest, SavedSnapshotsAreByteCopiesUnderSanitisedNames)
{
    auto dialog = makeDialog();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Save/Load Configuration Snapshot"));
    EXPECT_FALSE(button(*dialog, QStringLiteral("Load Selected Configuration"))->isEnabled());
    config()->setString("unsaved.change", "yes"); // the save writes the store first

    const struct {
        QString typed;
        QString file;
        QString row;
        bool current;
    } cases[] = {
        {QStringLiteral("a/b:c?"), QStringLiteral("a_b_c_.config"), QStringLiteral("a_b_c_"), true},
        {QStringLiteral("Show \"1\" <*|\\>"), QStringLiteral("Show _1_ _____.config"), QStringLiteral("Show _1_ _____"), true},
        // A dot inside a name is part of it: only ".config" comes off.
        {QStringLiteral("day.final"), QStringLiteral("day.final.config"), QStringLiteral("day.final"), true},
        {QStringLiteral("_.hidden"), QStringLiteral("_.hidden.config"), QStringLiteral("_.hidden"), true},
        // Path steps and leading dots would give a hidden file outside the list.
        {QStringLiteral("../../evil/name"), QStringLiteral("____evil_name.config"), QStringLiteral("____evil_name"), true},
        {QStringLiteral(".hidden"), QStringLiteral("hidden.config"), QStringLiteral("hidden"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        save(*dialog, c.typed);
        EXPECT_EQ(bytesOf(snapshots_ + QLatin1Char('/') + c.file), bytesOf(configPath()));
        EXPECT_TRUE(bytesOf(configPath()).contains("unsaved.change=yes"));
        EXPECT_TRUE(rows(*dialog).contains(c.row));
        EXPECT_EQ(list(*dialog)->currentItem() != nullptr && list(*dialog)->currentItem()->text() == c.row, c.current);
        EXPECT_EQ(info(*dialog)->text(), QStringLiteral("✓ Configuration saved: ") + c.file.chopped(7));
        EXPECT_TRUE(info(*dialog)->styleSheet().contains(QStringLiteral("green")));
    }
    ASSERT_FALSE(fake_.asked.isEmpty());
    EXPECT_TRUE(fake_.asked.first().startsWith(QStringLiteral("Save Configuration Snapshot|Enter a name for this configuration:|Config_")));

    EXPECT_EQ(QDir(snapshots_).entryList(QDir::Files | QDir::Hidden).size(), list(*dialog)->count())
        << "every snapshot file is listed";
    EXPECT_FALSE(QFileInfo::exists(home_.path() + QStringLiteral("/evil")));
    EXPECT_TRUE(fake_.criticals.isEmpty());

    // A name of dots only leaves nothing to name a file: refused, not saved.
    const int listed = list(*dialog)->count();
    save(*dialog, QStringLiteral("."));
    EXPECT_EQ(fake_.criticals, QStringList{QStringLiteral("Save Failed|Failed to save configuration snapshot.")});
    EXPECT_EQ(info(*dialog)->text(), QStringLiteral("✗ Failed to save configuration: ."));
    EXPECT_EQ(QDir(snapshots_).entryList(QDir::Files | QDir::Hidden).size(), listed);
    fake_.criticals.clear();

    // Cancelled or empty: nothing saved, nothing asked beyond the name.
    const int files = QDir(snapshots_).entryList(QDir::Files).size();
    fake_.texts = {std::nullopt, QString()};
    button(*dialog, QStringLiteral("Save Current Configuration..."))->click();
    button(*dialog, QStringLiteral("Save Current Configuration..."))->click();
    EXPECT_EQ(QDir(snapshots_).entryList(QDir::Files).size(), files);
    EXPECT_TRUE(fake_.criticals.isEmpty());
}

TEST_F(ConfigSnapshotDialogTest, OverwriteAsksAndNoKeepsTheOldSnapshot)
{
    auto dialog = makeDialog();
    save(*dialog, QStringLiteral("show"));
    const QString file = snapshots_ + QStringLiteral("/show.config");
    const QByteArray first = bytesOf(file);
    config()->setString("fader.1", "-12.0");

    fake_.answers = {false};
    save(*dialog, QStringLiteral("show"));
    EXPECT_EQ(fake_.asked.last(), QStringLiteral("Overwrite Configuration?|A configuration named 'show' already exists. Overwrite it?"));
    EXPECT_EQ(bytesOf(file), first);

    fake_.answers = {true};
    save(*dialog, QStringLiteral("show"));
    EXPECT_TRUE(bytesOf(file).contains("fader.1=-12.0"));
    EXPECT_EQ(rows(*dialog), QStringList{QStringLiteral("show")});
}

TEST_F(ConfigSnapshotDialogTest, ListShowsOldestFirstFromTheChosenFolder)
{
    const QString other = home_.path() + QStringLiteral("/other");
    QDir().mkpath(other);
    const QDateTime now = QDateTime::currentDateTime();
    const struct {
        const char* name;
        int ageSeconds;
    } files[] = {{"newest", 10}, {"oldest", 3000}, {"middle", 500}};
    for (const auto& f : files) {
        QFile file(other + QLatin1Char('/') + QLatin1String(f.name) + QStringLiteral(".config"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x=1\n");
        file.flush(); // a later flush would set the time to now again
        ASSERT_TRUE(file.setFileTime(now.addSecs(-f.ageSeconds), QFileDevice::FileModificationTime));
    }
    QFile(other + QStringLiteral("/ignored.txt")).open(QIODevice::WriteOnly);
    auto dialog = makeDialog();
    fake_.folder = other;
    button(*dialog, QStringLiteral("Browse..."))->click();
    EXPECT_EQ(fake_.asked.last(), QStringLiteral("Select Snapshot Storage Location"));
    EXPECT_EQ(rows(*dialog), (QStringList{QStringLiteral("oldest"), QStringLiteral("middle"), QStringLiteral("newest")}));
    EXPECT_EQ(info(*dialog)->text(), QStringLiteral("Snapshot location changed to: ") + other);
    EXPECT_EQ(ConfigManager::getInstance()->getString("snapshots.directory", ""), other.toStdString());
    EXPECT_TRUE(bytesOf(configPath()).contains(("snapshots.directory=" + other).toUtf8()));

    auto reopened = makeDialog();
    EXPECT_EQ(info(*reopened)->text(), QStringLiteral("Found 3 saved configuration(s) in: ") + other);
}

TEST_F(ConfigSnapshotDialogTest, EmptyFolderKeyUsesDocumentsAndStaysEmpty)
{
    config()->setString("snapshots.directory", "");
    auto dialog = makeDialog();
    const QString expected = home_.path() + QStringLiteral("/Documents/Tonvale/Snapshots");
    EXPECT_EQ(dialog->getSnapshotsDirectory(), expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
    EXPECT_EQ(config()->getString("snapshots.directory", "?"), "");
}

TEST_F(ConfigSnapshotDialogTest, LoadAsksReplacesTheFileSealsTheStoreAndRestartsOnce)
{
    auto dialog = makeDialog();
    save(*dialog, QStringLiteral("day.one"));
    const QByteArray snapshot = bytesOf(snapshots_ + QStringLiteral("/day.one.config"));
    config()->setString("fader.1", "0.0");
    config()->setString("only.now", "kept");
    ASSERT_TRUE(config()->saveConfig(""));
    const QByteArray before = bytesOf(configPath());

    select(*dialog, QStringLiteral("day.one"));
    EXPECT_TRUE(button(*dialog, QStringLiteral("Load Selected Configuration"))->isEnabled());
    fake_.answers = {false};
    button(*dialog, QStringLiteral("Load Selected Configuration"))->click();
    EXPECT_TRUE(fake_.asked.last().startsWith(QStringLiteral("Load Configuration?|Load configuration 'day.one'?\n\nThis will replace ALL")));
    EXPECT_EQ(bytesOf(configPath()), before);
    EXPECT_EQ(restarts_, 0);

    fake_.answers = {true};
    dialog->show();
    button(*dialog, QStringLiteral("Load Selected Configuration"))->click();
    EXPECT_EQ(restarts_, 1);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(bytesOf(configPath()), snapshot);
    EXPECT_EQ(bytesOf(configPath() + QStringLiteral(".backup")), before);
    EXPECT_EQ(config()->getString("fader.1", ""), "-6.0");
    EXPECT_EQ(config()->getString("only.now", ""), "kept") << "the store merges the file into what it holds";
    // Whatever this process still does before it ends leaves the file alone.
    EXPECT_TRUE(config()->isSealedForRestart());
    config()->setString("fader.1", "3.0");
    config()->saveConfig("");
    EXPECT_EQ(bytesOf(configPath()), snapshot);
    EXPECT_TRUE(fake_.criticals.isEmpty());
}

// A snapshot brings back a setup, not a moment: the project, roll, scene,
// take, last take and file counter stay where the recordist is now.
TEST_F(ConfigSnapshotDialogTest, LoadKeepsTheLiveProjectRollSceneAndTake)
{
    const std::pair<const char*, const char*> older[] = {
        {"metadata.project", "Old"},        {"metadata.soundroll", "001"},        {"metadata.scene", "3"},
        {"metadata.take", "01"},            {"lastRecording.take", "07"},         {"lastRecording.scene", "2"},
        {"lastRecording.soundRoll", "001"}, {"lastRecording.folderPath", "/old"}, {"recording.fileNumber", "5"}};
    const std::pair<const char*, const char*> live[] = {
        {"metadata.project", "Feature"},    {"metadata.soundroll", "003"},        {"metadata.scene", "12A"},
        {"metadata.take", "03"},            {"lastRecording.take", "02"},         {"lastRecording.scene", "12A"},
        {"lastRecording.soundRoll", "003"}, {"lastRecording.folderPath", "/rec/Feature/003"},
        {"recording.fileNumber", "120"}};
    for (const auto& [key, value] : older)
        config()->setString(key, value);
    auto dialog = makeDialog();
    save(*dialog, QStringLiteral("old"));
    for (const auto& [key, value] : live)
        config()->setString(key, value);
    config()->setString("fader.1", "0.0");
    ASSERT_TRUE(config()->saveConfig(""));

    ASSERT_TRUE(dialog->loadSnapshotFromFile(snapshots_ + QStringLiteral("/old.config")));
    EXPECT_EQ(config()->getString("fader.1", ""), "-6.0") << "the setup comes from the snapshot";
    ASSERT_TRUE(config()->loadConfig(""));
    for (const auto& [key, value] : live) {
        SCOPED_TRACE(key);
        EXPECT_EQ(config()->getString(key, ""), value);
        EXPECT_TRUE(bytesOf(configPath()).contains(QByteArray(key) + "=" + value));
    }
}

TEST_F(ConfigSnapshotDialogTest, FailedLoadsLeaveTheConfigurationAsItWas)
{
    auto dialog = makeDialog();
    save(*dialog, QStringLiteral("gone"));
    save(*dialog, QStringLiteral("kept"));
    const QByteArray before = bytesOf(configPath());
    const QString backup = configPath() + QStringLiteral(".backup");

    // Vanished after the list was built.
    QFile::remove(snapshots_ + QStringLiteral("/gone.config"));
    select(*dialog, QStringLiteral("gone"));
    fake_.answers = {true};
    button(*dialog, QStringLiteral("Load Selected Configuration"))->click();
    EXPECT_EQ(fake_.criticals, QStringList{QStringLiteral("Load Failed|Failed to load configuration snapshot.")});
    EXPECT_EQ(info(*dialog)->text(), QStringLiteral("✗ Failed to load configuration: gone"));
    EXPECT_TRUE(info(*dialog)->styleSheet().contains(QStringLiteral("red")));
    EXPECT_EQ(bytesOf(configPath()), before);
    EXPECT_EQ(bytesOf(backup), before) << "the backup was rewritten";

    // No backup can be made (its path is taken by a folder): refused before
    // the configuration is touched.
    QFile::remove(backup);
    ASSERT_TRUE(QDir().mkpath(backup + QStringLiteral("/blocker")));
    select(*dialog, QStringLiteral("kept"));
    fake_.answers = {true};
    button(*dialog, QStringLiteral("Load Selected Configuration"))->click();
    EXPECT_EQ(fake_.criticals.size(), 2);
    EXPECT_EQ(bytesOf(configPath()), before);
    QDir(backup).removeRecursively();

    // The snapshot cannot be copied (a folder by that name): the file stays.
    const QString unreadable = snapshots_ + QStringLiteral("/folder.config");
    ASSERT_TRUE(QDir().mkpath(unreadable));
    EXPECT_FALSE(dialog->loadSnapshotFromFile(unreadable));
    EXPECT_EQ(bytesOf(configPath()), before);
    EXPECT_EQ(restarts_, 0);
    EXPECT_FALSE(config()->isSealedForRestart());
}

TEST_F(ConfigSnapshotDialogTest, DeleteAsksAndReportsEachOutcome)
{
    auto dialog = makeDialog();
    save(*dialog, QStringLiteral("one"));
    save(*dialog, QStringLiteral("two"));
    select(*dialog, QStringLiteral("one"));
    fake_.answers = {false};
    button(*dialog, QStringLiteral("Delete Selected"))->click();
    EXPECT_EQ(fake_.asked.last(), QStringLiteral("Delete Configuration?|Permanently delete configuration 'one'?"));
    EXPECT_EQ(rows(*dialog).size(), 2);

    fake_.answers = {true};
    button(*dialog, QStringLiteral("Delete Selected"))->click();
    EXPECT_EQ(rows(*dialog), QStringList{QStringLiteral("two")});
    EXPECT_EQ(info(*dialog)->text(), QStringLiteral("✓ Configuration deleted: one"));

    select(*dialog, QStringLiteral("two"));
    QFile::remove(snapshots_ + QStringLiteral("/two.config"));
    fake_.answers = {true};
    button(*dialog, QStringLiteral("Delete Selected"))->click();
    EXPECT_EQ(fake_.criticals, QStringList{QStringLiteral("Delete Failed|Failed to delete configuration snapshot.")});
    EXPECT_EQ(info(*dialog)->text(), QStringLiteral("✗ Failed to delete configuration: two"));
}

TEST(ProcessRestartTest, TheNewProcessStartsOnlyAfterTheOldOneEnded)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString marker = folder.path() + QStringLiteral("/started");
    QProcess old;
    old.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(old.waitForStarted());
    const qint64 oldPid = old.processId();
    ASSERT_TRUE(startAfterProcessExits(oldPid, QStringLiteral("/bin/sh"),
                                       {QStringLiteral("-c"), QStringLiteral("echo \"$0|$TONVALE_REPLACES_PID\" > \"$1\""),
                                        QStringLiteral("arg one"), marker}));
    QTest::qWait(400);
    EXPECT_FALSE(QFileInfo::exists(marker)) << "started while the old process still ran";
    old.kill();
    old.waitForFinished();
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(marker) && clock.elapsed() < 5000)
        QTest::qWait(20);
    QTest::qWait(50);
    QFile file(marker);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the new process never started";
    // Arguments with blanks arrive whole; the new process learns whom it replaces.
    EXPECT_EQ(file.readAll(), "arg one|" + QByteArray::number(oldPid) + "\n");
}

TEST(ProcessRestartTest, TheReplacedProcessIsTakenOnceFromTheEnvironment)
{
    struct Case {
        const char* value;
        qint64 expected;
    };
    for (const Case& c : {Case{"4242", 4242}, Case{"", 0}, Case{"12x", 0}, Case{"-5", 0}, Case{nullptr, 0}}) {
        SCOPED_TRACE(c.value ? c.value : "<unset>");
        if (c.value)
            qputenv(kReplacedProcessVariable, c.value);
        else
            qunsetenv(kReplacedProcessVariable);
        EXPECT_EQ(takeReplacedProcessId(), c.expected);
        // Gone, so nothing this process starts inherits it.
        EXPECT_FALSE(qEnvironmentVariableIsSet(kReplacedProcessVariable));
        EXPECT_EQ(takeReplacedProcessId(), 0);
    }
}

TEST(SnapshotRestartTest, TheRestartedProgramRunsOnTheSnapshotAfterTheOldOneEnded)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), folder.path());
    environment.insert(QStringLiteral("TMPDIR"), folder.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(SNAPSHOT_RESTART_PROBE), {folder.path()});
    ASSERT_TRUE(first.waitForFinished(20000)) << "the first process must end by itself after the overlay's 3 s";
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    const QString report = folder.path() + QStringLiteral("/second.txt");
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(report) && clock.elapsed() < 15000)
        QTest::qWait(50);
    QTest::qWait(100);
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the program was not started again";
    EXPECT_EQ(file.readAll(), "fader=-6.0 first-gone");
}

} // namespace
