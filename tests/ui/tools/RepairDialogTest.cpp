// The repair dialog on the offscreen platform, over takes of a recorder that
// was killed mid-take: what each row says, which rows start selected, repair
// judged by outside readers, and delete only after a yes.

#include "KilledRecorder.h"
#include "ModalBoxAnswerer.h"
#include "UnclosedTakeFixture.h"
#include "support/ExternalTool.h"
#include "support/WidgetLegibility.h"
#include "support/GuiLatenessProbe.h"
#include "support/TempHome.h"
#include "ui/tools/RepairDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

// Stops `probe` when the first message box is about to show.
class StopAtFirstBox : public QObject {
public:
    explicit StopAtFirstBox(GuiLatenessProbe& probe) : probe_(probe) { qApp->installEventFilter(this); }
    ~StopAtFirstBox() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(watched) != nullptr)
            probe_.stop();
        return false;
    }

private:
    GuiLatenessProbe& probe_;
};

class RepairDialogTest : public TempHomeTest {
protected:
    QString folder() const { return home_.path() + "/takes"; }

    // Two takes of the real writer killed mid-take (stereo 24-bit, mono float)
    // and one that cannot be repaired (no whole frame), sorted by name.
    std::vector<RF64Repairer::CorruptedFile> scanKilledTakes()
    {
        QDir().mkpath(folder());
        const struct {
            const char* name;
            int channels;
            int format;
            int frames;
        } takes[] = {{"a_stereo.wav", 2, 1, 50'000}, {"b_mono.wav", 1, 3, 40'000}};
        for (const auto& take : takes) {
            const int64_t onDisk =
                recordAndKill(TONVALE_REAL_TAKE_WRITER, {folder() + "/" + take.name, QString::number(take.channels),
                                                         QString::number(take.format), QString::number(take.frames)});
            EXPECT_GT(onDisk, 0);
        }
        EXPECT_TRUE(writeUnclosedTake((folder() + "/c_empty.wav").toStdString(), TakeLayout{}, 0, 3));
        return scan();
    }
    std::vector<RF64Repairer::CorruptedFile> scan()
    {
        RF64Repairer repairer;
        auto found = repairer.scanDirectory(folder().toStdString(), false);
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.fileName < b.fileName; });
        return found;
    }

    // `count` unclosed stereo takes of `seconds` each, named t00.wav ...
    std::vector<RF64Repairer::CorruptedFile> writeTakes(int count, int seconds)
    {
        QDir().mkpath(folder());
        for (int i = 0; i < count; ++i) {
            const QString name = QString("t%1.wav").arg(i, 3, 10, QChar('0'));
            EXPECT_TRUE(writeUnclosedTake((folder() + "/" + name).toStdString(), TakeLayout{}, 48000LL * seconds, 0));
        }
        return scan();
    }

    // Calls `whileWorking` once, from the event loop the dialog waits in,
    // as soon as the dialog shows a run under way.
    static void onceWorking(RepairDialog& dialog, std::function<void()> whileWorking)
    {
        auto* poll = new QTimer(&dialog);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, &dialog, whileWorking] {
            QPushButton* cancel = button(dialog, "Cancel");
            if (cancel == nullptr || !cancel->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            whileWorking();
        });
        poll->start(0);
    }

    static QListWidget* list(RepairDialog& dialog) { return dialog.findChild<QListWidget*>(); }
    static QPushButton* button(RepairDialog& dialog, const QString& text)
    {
        for (QPushButton* candidate : dialog.findChildren<QPushButton*>())
            if (candidate->text() == text)
                return candidate;
        return nullptr;
    }
    static std::vector<bool> selection(RepairDialog& dialog)
    {
        std::vector<bool> selected;
        for (int row = 0; row < list(dialog)->count(); ++row)
            selected.push_back(list(dialog)->item(row)->isSelected());
        return selected;
    }
};

TEST_F(RepairDialogTest, RowsShowEachTakeAndUnrepairableOnesStartGreyAndUnselected)
{
    QDir().mkpath(folder());
    TakeLayout layout;  // 2 channels, 24-bit, 48 kHz
    ASSERT_TRUE(writeUnclosedTake((folder() + "/a.wav").toStdString(), layout, 48000 * 61, 0));
    ASSERT_TRUE(writeUnclosedTake((folder() + "/b.wav").toStdString(), layout, 0, 3));
    const auto found = scan();
    ASSERT_EQ(found.size(), 2u);
    RepairDialog dialog(found);
    EXPECT_EQ(dialog.windowTitle(), "Recover Incomplete Recordings");
    ASSERT_EQ(list(dialog)->count(), 2);
    const QString size = QString::fromStdString(dialog.formatFileSize(QFileInfo(folder() + "/a.wav").size()));
    EXPECT_EQ(list(dialog)->item(0)->text(), QString::fromUtf8("a.wav  —  1m 1s  (2 ch, 48000 Hz, ") + size + ")");
    EXPECT_TRUE(list(dialog)->item(1)->text().endsWith(
        QString::fromStdString("  [Cannot repair: " + found[1].error + "]")))
        << list(dialog)->item(1)->text().toStdString();
    EXPECT_EQ(list(dialog)->item(1)->foreground().color(), QColor("#888"));
    EXPECT_EQ(selection(dialog), (std::vector<bool>{true, false}));

    const std::pair<double, const char*> durations[] = {
        {0, "0s"}, {59.9, "59s"}, {60, "1m 0s"}, {3600, "1h 0m 0s"}, {3725.9, "1h 2m 5s"}};
    for (const auto& [seconds, text] : durations)
        EXPECT_EQ(dialog.formatDuration(seconds), text) << seconds;
    const std::pair<long long, const char*> sizes[] = {
        {512, "512.0 B"}, {1536, "1.5 KB"}, {-1, "-1.0 B"}, {5LL << 40, "5.0 TB"}, {3LL << 50, "3072.0 TB"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(dialog.formatFileSize(bytes), text) << bytes;

    dialog.show();
    EXPECT_NE(home_.logText().find("RepairDialog: listing 2 recording(s)\n"), std::string::npos);
}

TEST_F(RepairDialogTest, RepairLeavesKilledTakesReadAtFullLengthAndCloses)
{
    const auto found = scanKilledTakes();
    ASSERT_EQ(found.size(), 3u);
    ASSERT_TRUE(found[0].canRepair && found[1].canRepair && !found[2].canRepair);
    RepairDialog dialog(found);
    button(dialog, "Select All")->click();  // the unrepairable row too: repair skips it
    EXPECT_EQ(dialog.getAllSelectedFiles().size(), 3u);
    EXPECT_EQ(dialog.getSelectedFiles().size(), 2u);
    ModalBoxAnswerer answerer;
    answerer.recordBackgrounds();
    button(dialog, "Repair Selected")->click();
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.boxes()[0].title, "Repair Complete");
    EXPECT_EQ(answerer.boxes()[0].text, QString::fromUtf8("Repair complete:\n\n✓ Successfully repaired: 2 file(s)\n"));
    EXPECT_LT(answerer.boxes()[0].background.lightness(), 80) << "a dark box, as the dark window around it";
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    // The mended takes, and only those, go on to the backup drives.
    EXPECT_EQ(dialog.repairedPaths(), (std::vector<std::string>{found[0].path, found[1].path}));

    const std::string log = home_.logText();
    for (const auto& file : found) {
        SCOPED_TRACE(file.fileName);
        if (!file.canRepair) {
            EXPECT_EQ(log.find("Attempting to repair: " + file.path), std::string::npos);
            continue;
        }
        EXPECT_NE(log.find("Successfully repaired: " + file.path), std::string::npos);
        const QString path = QString::fromStdString(file.path);
        if (!findTool("ffprobe").isEmpty()) {
            const ToolResult probe = runTool(findTool("ffprobe"), {"-v", "error", "-select_streams", "a:0",
                                                                   "-show_entries", "stream=duration_ts", "-of",
                                                                   "default=noprint_wrappers=1:nokey=1", path});
            EXPECT_EQ(probe.standardOutput.trimmed().toLongLong(), file.sampleFrames) << probe.standardError.toStdString();
        }
        if (!findTool("sndfile-info").isEmpty()) {
            const ToolResult info = runTool(findTool("sndfile-info"), {path});
            EXPECT_TRUE(info.standardOutput.contains(QString("Frames      : %1\n").arg(file.sampleFrames)))
                << info.standardOutput.toStdString();
        }
        EXPECT_GT(file.sampleFrames, 0);
    }
    if (findTool("ffprobe").isEmpty() && findTool("sndfile-info").isEmpty())
        GTEST_SKIP() << "SKIPPED: neither ffprobe nor sndfile-info is installed; the outside length check did not run";
}

TEST_F(RepairDialogTest, NothingRepairableSelectedWarnsAndStaysOpen)
{
    const auto found = scanKilledTakes();
    RepairDialog dialog(found);
    list(dialog)->clearSelection();
    list(dialog)->item(2)->setSelected(true);
    dialog.show();
    ModalBoxAnswerer answerer;
    button(dialog, "Repair Selected")->click();
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.boxes()[0].title, "No Files Selected");
    EXPECT_EQ(answerer.boxes()[0].text, "Please select at least one file to repair.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(button(dialog, "Repair Selected")->isEnabled());
    RF64Repairer repairer;
    EXPECT_TRUE(repairer.needsRepair(found[0].path));

    list(dialog)->clearSelection();
    button(dialog, "Delete Selected")->click();
    ASSERT_EQ(answerer.count(), 2);
    EXPECT_EQ(answerer.boxes()[1].text, "Please select at least one file to delete.");

    button(dialog, "Skip")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(RepairDialogTest, DeleteAfterConfirmationKeepsOtherRowsAndAVanishedFile)
{
    QDir().mkpath(folder());
    for (const char* name : {"r0.wav", "r1.wav", "r2.wav", "r3.wav"})
        ASSERT_TRUE(writeUnclosedTake((folder() + "/" + name).toStdString(), TakeLayout{}, 4800, 0));
    const auto found = scan();
    ASSERT_EQ(found.size(), 4u);
    RepairDialog dialog(found);
    dialog.show();
    const QString row0 = list(dialog)->item(0)->text();
    const QString row2 = list(dialog)->item(2)->text();

    list(dialog)->clearSelection();
    list(dialog)->item(1)->setSelected(true);
    list(dialog)->item(3)->setSelected(true);
    ModalBoxAnswerer answerer(QMessageBox::No);
    button(dialog, "Delete Selected")->click();
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.boxes()[0].title, "Confirm Deletion");
    EXPECT_TRUE(answerer.boxes()[0].text.startsWith("Are you sure you want to permanently delete 2 file(s)?"));
    EXPECT_EQ(list(dialog)->count(), 4);
    EXPECT_TRUE(QFile::exists(folder() + "/r1.wav"));

    answerer.setAnswer(QMessageBox::Yes);
    button(dialog, "Delete Selected")->click();
    ASSERT_EQ(answerer.count(), 3);
    EXPECT_EQ(answerer.boxes()[2].title, "Deletion Complete");
    EXPECT_EQ(answerer.boxes()[2].text, QString::fromUtf8("Deletion complete:\n\n✓ Successfully deleted: 2 file(s)\n"));
    EXPECT_FALSE(QFile::exists(folder() + "/r1.wav"));
    EXPECT_FALSE(QFile::exists(folder() + "/r3.wav"));
    ASSERT_EQ(list(dialog)->count(), 2);
    EXPECT_EQ(list(dialog)->item(0)->text(), row0);
    EXPECT_EQ(list(dialog)->item(1)->text(), row2);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.isEnabled());

    // r0 vanished since the scan: a failure, and its row stays.
    ASSERT_TRUE(QFile::remove(folder() + "/r0.wav"));
    button(dialog, "Select All")->click();
    button(dialog, "Delete Selected")->click();
    ASSERT_EQ(answerer.count(), 5);
    EXPECT_EQ(answerer.boxes()[4].text, QString::fromUtf8("Deletion complete:\n\n✓ Successfully deleted: 1 file(s)\n"
                                                          "✗ Failed to delete: 1 file(s)"));
    ASSERT_EQ(list(dialog)->count(), 1);
    EXPECT_EQ(list(dialog)->item(0)->text(), row0);
    EXPECT_NE(home_.logText().find("Failed to delete: " + found[0].path + " - file not found"), std::string::npos);
    EXPECT_TRUE(dialog.isVisible());

    // Writing it again and deleting the last row closes the dialog.
    ASSERT_TRUE(writeUnclosedTake(found[0].path, TakeLayout{}, 4800, 0));
    button(dialog, "Select All")->click();
    button(dialog, "Delete Selected")->click();
    EXPECT_EQ(list(dialog)->count(), 0);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(RepairDialogTest, RepairOfTwentyTakesLeavesTheGuiThreadOnTimeAndShowsItsProgress)
{
    const auto found = writeTakes(20, 4);
    ASSERT_EQ(found.size(), 20u);
    RepairDialog dialog(found);
    dialog.show();
    bool controlsLockedWhileWorking = false;
    onceWorking(dialog, [&] {
        controlsLockedWhileWorking = !button(dialog, "Repair Selected")->isEnabled() &&
                                     !button(dialog, "Delete Selected")->isEnabled() &&
                                     !list(dialog)->isEnabled() && dialog.findChild<QProgressBar*>()->isVisible();
        // A second click while the run goes on must not start another.
        button(dialog, "Repair Selected")->click();
    });
    GuiLatenessProbe probe;
    // Measured while the run goes on: the summary box that follows is the
    // handler's own GUI work, not the run's.
    StopAtFirstBox stopAtBox(probe);
    QApplication::processEvents();  // the dialog's first paint is not the run's either
    probe.start();
    ModalBoxAnswerer answerer;
    button(dialog, "Repair Selected")->click();
    probe.stop();

    EXPECT_TRUE(controlsLockedWhileWorking);
    EXPECT_GT(probe.ticks(), 0);
    EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.boxes()[0].text, QString::fromUtf8("Repair complete:\n\n✓ Successfully repaired: 20 file(s)\n"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const std::string log = home_.logText();
    RF64Repairer repairer;
    for (const auto& file : found) {
        EXPECT_FALSE(repairer.needsRepair(file.path)) << file.path;
        const size_t attempts = log.find("Attempting to repair: " + file.path);
        EXPECT_NE(attempts, std::string::npos) << file.path;
        EXPECT_EQ(log.find("Attempting to repair: " + file.path, attempts + 1), std::string::npos)
            << "repaired twice: " << file.path;
    }
}

// A run stopped half-way, by Cancel, by closing, or by the dialog going
// away: it ends after the file under way, the treated rows go, the rest
// stay on offer untouched.
TEST_F(RepairDialogTest, ARunStoppedHalfWayEndsAfterTheFileUnderWay)
{
    enum class Stop { CancelButton, CloseKey, DialogDeleted };
    const struct {
        const char* what;
        Stop stop;
    } cases[] = {{"Cancel", Stop::CancelButton}, {"Escape", Stop::CloseKey}, {"dialog deleted", Stop::DialogDeleted}};
    constexpr int kTakes = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(folder()).removeRecursively();
        // Many short takes: the stop lands long before the last one.
        const auto found = writeTakes(kTakes, 1);
        ASSERT_EQ(found.size(), static_cast<size_t>(kTakes));
        QPointer<RepairDialog> dialog = new RepairDialog(found);
        dialog->show();
        onceWorking(*dialog, [&] {
            if (c.stop == Stop::CancelButton) {
                button(*dialog, "Cancel")->click();
                // The run ends on the worker, but the dialog learns it only
                // from this loop: it still shows the run under way. For a look.
                for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
                    dialog->resize(size);
                    EXPECT_TRUE(keepPicture(
                        *dialog, QString("repair-working-%1x%2").arg(size.width()).arg(size.height())));
                }
            }
            else if (c.stop == Stop::CloseKey)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                delete dialog;
        });
        ModalBoxAnswerer answerer;
        button(*dialog, "Repair Selected")->click();

        RF64Repairer repairer;
        int repaired = 0;
        for (const auto& file : found)
            repaired += repairer.needsRepair(file.path) ? 0 : 1;
        EXPECT_LT(repaired, kTakes);
        if (c.stop == Stop::DialogDeleted) {
            EXPECT_TRUE(dialog.isNull());
            EXPECT_EQ(answerer.count(), 0);
            continue;
        }
        ASSERT_FALSE(dialog.isNull());
        ASSERT_EQ(answerer.count(), 1);
        EXPECT_EQ(answerer.boxes()[0].text,
                  QString::fromUtf8("Repair complete:\n\n✓ Successfully repaired: %1 file(s)\n").arg(repaired));
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(list(*dialog)->count(), kTakes - repaired);
        for (int row = 0; row < list(*dialog)->count(); ++row)
            EXPECT_TRUE(list(*dialog)->item(row)->text().startsWith(
                QString::fromStdString(found[static_cast<size_t>(repaired + row)].fileName)));
        EXPECT_TRUE(button(*dialog, "Repair Selected")->isEnabled());
        EXPECT_FALSE(button(*dialog, "Cancel")->isVisible());
        delete dialog;
    }
}

} // namespace

namespace {

// A repairable and an unrepairable row, drawn for a look
// (TONVALE_SCREENSHOT_DIR keeps the picture).
TEST_F(RepairDialogTest, GrabShowsBothKindsOfRow)
{
    QDir().mkpath(folder());
    ASSERT_TRUE(writeUnclosedTake((folder() + "/Scene42_T07.wav").toStdString(), TakeLayout{}, 48000 * 75, 0));
    ASSERT_TRUE(writeUnclosedTake((folder() + "/Scene42_T08.wav").toStdString(), TakeLayout{}, 0, 3));
    RepairDialog dialog(scan());
    dialog.show();
    QApplication::processEvents();
    const QPixmap picture = dialog.grab();
    EXPECT_EQ(picture.size(), dialog.size() * picture.devicePixelRatio());
    for (QPushButton* each : dialog.findChildren<QPushButton*>())
        EXPECT_GE(each->width(), each->sizeHint().width()) << each->text().toStdString();
    const QByteArray folderName = qgetenv("TONVALE_SCREENSHOT_DIR");
    if (!folderName.isEmpty()) {
        EXPECT_TRUE(picture.save(QDir(QString::fromLocal8Bit(folderName)).filePath("RepairDialog.png")));
    }
}

} // namespace
