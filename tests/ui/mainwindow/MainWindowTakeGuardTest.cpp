// What guards a take from the window's side: the recording-error box counts
// each take on its own and names only what happened; a snapshot load is
// refused while a take records or closes; a quit during a take keeps it as
// the last take for the next start.

#include "MainWindowRecordTestSupport.h"

#include "ui/tools/ConfigSnapshotDialog.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

QString errorText(const QString& lines)
{
    return "RECORDING ERROR DETECTED!\n\n" + lines +
           "\nRecording may be corrupted or incomplete!\nStop recording and check drives.";
}

QStringList texts(const ModalBoxAnswerer& boxes)
{
    QStringList shown;
    for (const ModalBoxAnswerer::Box& box : boxes.boxes())
        shown << box.title + "|" + box.text;
    return shown;
}

// Dropouts before the take, after it and in an earlier take are not this
// take's: a box comes once per new error of the running or last take, with
// only the causes that grew.
TEST_F(MainWindowRecordTest, RecordingErrorsAreCountedPerTakeAndQuietBetweenTakes)
{
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    std::pair<int64_t, int64_t> counts{0, 31406};  // the server's dropouts before any take
    window.setTakeErrorCountsSourceForTest([&counts] { return counts; });
    render(1.2);
    ModalBoxAnswerer boxes(QMessageBox::Ok);
    clickHalf(true);
    ASSERT_TRUE(window.isRecording());
    window.onTakeClockTick();
    EXPECT_TRUE(boxes.boxes().empty()) << "nothing happened in this take";

    counts = {0, 31500};
    window.onTakeClockTick();
    window.onTakeClockTick();
    EXPECT_EQ(texts(boxes), QStringList({"Recording Error|" + errorText("Dropped Samples: 94 (buffer overflow)\n")}));

    render(0.3);
    clickHalf(false);
    render(0.2);
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
    window.onTakeClockTick();  // finds the take closed: its counts are settled
    // The audio server stops after the take: dropouts and a failing write
    // that belong to no take.
    counts = {1, 90000};
    for (int tick = 0; tick < 3; ++tick)
        window.onTakeClockTick();
    EXPECT_EQ(boxes.count(), 1) << texts(boxes).join(" / ").toStdString();

    // The next take starts from nothing again.
    clickHalf(true);
    ASSERT_TRUE(window.isRecording());
    window.onTakeClockTick();
    counts = {2, 90000};
    window.onTakeClockTick();
    ASSERT_EQ(boxes.count(), 2);
    EXPECT_EQ(texts(boxes).last(), "Recording Error|" + errorText("Write Errors: 1 (disk write failing)\n"));
    clickHalf(false);
}

// A take that fails while it is being closed is still reported after the stop.
TEST_F(MainWindowRecordTest, AnErrorWhileTheTakeIsClosedIsStillReported)
{
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic, 2);
    std::pair<int64_t, int64_t> counts{0, 0};
    window.setTakeErrorCountsSourceForTest([&counts] { return counts; });
    render(1.2);
    ModalBoxAnswerer boxes(QMessageBox::Ok);
    clickHalf(true);
    render(0.3);
    clickHalf(false);
    ASSERT_TRUE(coreEngine()->isWriterDraining()) << "the post-roll is still to be written";
    counts = {1, 0};
    window.onTakeClockTick();
    EXPECT_EQ(texts(boxes), QStringList({"Recording Error|" + errorText("Write Errors: 1 (disk write failing)\n")}));
    coreEngine()->cancelPendingPostroll();
    render(0.2);
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
}

class SnapshotDuringTakeTest : public MainWindowRecordTest {
protected:
    // A dialog on the window's engine with one snapshot "day" listed and
    // selected; every question is answered with `yes`, each critical noted.
    std::unique_ptr<ConfigSnapshotDialog> makeDialog(MainWindow& window)
    {
        ConfigManager* config = ConfigManager::getInstance();
        const QString folder = home_.path() + "/snaps";
        QDir().mkpath(folder);
        config->setString("snapshots.directory", folder.toStdString());
        config->saveConfig("");
        EXPECT_TRUE(QFile::copy(QString::fromStdString(config->getConfigPath()), folder + "/day.config"));
        auto dialog = std::make_unique<ConfigSnapshotDialog>(window.engine(), &window);
        ConfigSnapshotPrompts prompts;
        prompts.askYesNo = [this](QWidget*, const QString& title, const QString&) {
            asked << title;
            if (whileAsked)
                std::exchange(whileAsked, nullptr)();
            return true;
        };
        prompts.showCritical = [this](QWidget*, const QString& title, const QString& message) {
            criticals << title + "|" + message;
        };
        dialog->setPrompts(prompts);
        dialog->setRestart([this] { ++restarts; });
        auto* list = dialog->findChild<QListWidget*>();
        EXPECT_EQ(list->count(), 1);
        list->setCurrentRow(0);
        return dialog;
    }
    static void load(ConfigSnapshotDialog& dialog)
    {
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            if (button->text() == "Load Selected Configuration")
                button->click();
    }

    QStringList asked;
    QStringList criticals;
    std::function<void()> whileAsked;
    int restarts = 0;
};

// Loading restarts the program: while a take records or is being closed the
// load is refused with the reason, before or after the question; once the
// take is closed it goes ahead.
TEST_F(SnapshotDuringTakeTest, LoadIsRefusedWhileATakeRecordsOrCloses)
{
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic, 2);
    render(1.2);
    auto dialog = makeDialog(window);
    const QString refusal = "Recording Active|A configuration can be loaded after the current take finishes.\n\n"
                            "Loading restarts Tonvale, which would end the take.";

    clickHalf(true);
    ASSERT_TRUE(window.isRecording());
    load(*dialog);
    render(0.3);
    clickHalf(false);
    ASSERT_TRUE(coreEngine()->isWriterDraining());
    load(*dialog);
    EXPECT_TRUE(asked.isEmpty()) << "refused before the question";
    EXPECT_EQ(criticals, QStringList({refusal, refusal}));
    EXPECT_EQ(restarts, 0);
    EXPECT_FALSE(ConfigManager::getInstance()->isSealedForRestart());

    coreEngine()->cancelPendingPostroll();
    render(0.2);
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
    // A take started from a controller while the question was open.
    whileAsked = [&] { clickHalf(true); };
    load(*dialog);
    EXPECT_EQ(asked, QStringList({"Load Configuration?"}));
    EXPECT_EQ(criticals.size(), 3);
    EXPECT_EQ(restarts, 0);
    EXPECT_FALSE(ConfigManager::getInstance()->isSealedForRestart());
    ASSERT_TRUE(window.isRecording());
    render(0.3);
    clickHalf(false);
    coreEngine()->cancelPendingPostroll();
    render(0.2);
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));

    load(*dialog);
    EXPECT_EQ(criticals.size(), 3);
    EXPECT_EQ(restarts, 1);
    EXPECT_TRUE(ConfigManager::getInstance()->isSealedForRestart());
    // A take pressed during the restart would be cut off by the quit.
    clickHalf(true);
    EXPECT_FALSE(window.isRecording());
}

// A quit while a take records (a restart, or Confirm Exit answered Yes)
// ends it through the stop road: the next start names it as the last take
// and numbers the next one past it.
TEST_F(MainWindowRecordTest, AQuitDuringATakeKeepsItAsTheLastTake)
{
    makeRecordingWindow(kFileFormatPolyphonic);
    render(1.2);
    recordTake(0.3);
    EXPECT_EQ(window_->lastRecordingText(), "Last: 003 / 12A / T04");
    clickHalf(true);
    ASSERT_TRUE(window_->isRecording());
    render(0.3);
    {
        ModalBoxAnswerer boxes(QMessageBox::Yes);
        EXPECT_TRUE(window_->close());
    }
    EXPECT_FALSE(coreEngine()->isRecording());
    render(0.2);
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
    window_.reset();

    MainWindow& restarted = makeWindow();
    EXPECT_EQ(restarted.lastRecordingText(), "Last: 003 / 12A / T05");
    EXPECT_EQ(restarted.takeField()->text(), "06");
}

} // namespace
