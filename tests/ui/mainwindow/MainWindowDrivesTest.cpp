// The drive display on virtual volumes: the time left on INT, EXT1 and EXT2
// with its colour and icon, the tooltips, a backup drive left unset, the
// format entry, the backup-drive alarms with their blink and acknowledgement,
// and the copy flicker. This binary has the drawn icons beside it.
#include "MainWindowDrivesTestSupport.h"

#include "platform/volumes/RecordingDrive.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QAction>
#include <QCheckBox>
#include <QMouseEvent>
#include <QTest>

namespace {

constexpr uint64_t kGiB = 1ULL << 30;
constexpr uint64_t kChannelMinute = 8'640'000;

TEST_F(MainWindowDrivesTest, TimeLeftColourIconAndTooltipPerFreeSpaceAndArmedTracks)
{
    const std::string folder = internal("int", 0);
    seed({{"recording.directory", folder}, {"track.count", 8}});
    MainWindow& window = makeWindow();
    ASSERT_EQ(window.trackRows().size(), 8u);
    struct Case {
        uint64_t bytes;
        int armed;
        const char* text;
        const char* colour;
        const char* icon;
    };
    const Case cases[] = {
        {518'400'000, 0, "1h0m", "#34C759", "int-grn.png"},
        {518'399'999, 0, "59m", "#ff3333", "int-red.png"},
        {kChannelMinute, 0, "1m", "#ff3333", "int-red.png"},
        {0, 0, "--", "#ff3333", "int-red.png"},  // an empty drive is there, and full
        {100 * kGiB, 4, "41h25m", "#34C759", "int-grn.png"},
        {6000 * kChannelMinute, 0, "100h", "#34C759", "int-grn.png"},
        {125 * kChannelMinute, 0, "2h5m", "#34C759", "int-grn.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        volumes_->find(folder)->availableBytes = c.bytes;
        for (int track = 0; track < 8; ++track)
            window.trackRows()[static_cast<size_t>(track)].armButton->setChecked(track < c.armed);
        EXPECT_EQ(window.getRecordingChannelCount(), c.armed + 1);
        window.updateDriveStatus();
        EXPECT_EQ(time("INT")->text(), c.text);
        EXPECT_EQ(timeColour("INT"), c.colour);
        EXPECT_TRUE(shows("INT", c.icon));
    }
    EXPECT_EQ(indicator("INT")->toolTip(), QString("Internal: %1\n%2 GB free\nTime remaining: 2h5m")
                                               .arg(QString::fromStdString(folder),
                                                    QString::number(125.0 * kChannelMinute / kGiB, 'f', 1)));

    // A hidden row is not recorded as far as the time left goes.
    volumes_->find(folder)->availableBytes = 100 * kGiB;
    for (int track = 0; track < 5; ++track)
        window.trackRows()[static_cast<size_t>(track)].armButton->setChecked(true);
    window.trackRows()[4].rowWidget->hide();
    window.updateDriveStatus();
    EXPECT_EQ(window.getRecordingChannelCount(), 5);
    EXPECT_EQ(time("INT")->text(), "41h25m");

    // Gone: grey "--" with the green icon, and no figures in the tooltip.
    volumes_->remove(folder);
    volumes_->find("/")->ready = false;
    window.updateDriveStatus();
    EXPECT_EQ(time("INT")->text(), "--");
    EXPECT_EQ(timeColour("INT"), "#999999");
    EXPECT_TRUE(shows("INT", "int-grn.png"));
    EXPECT_EQ(indicator("INT")->toolTip(),
              QString("Internal: %1\nN/A GB free\nTime remaining: --").arg(QString::fromStdString(folder)));
    EXPECT_DOUBLE_EQ(window.getDriveFreeSpaceGB(QString::fromStdString(folder)), -1.0);
}

TEST_F(MainWindowDrivesTest, IntFollowsTheCurrentFolderAndAnUnsetBackupDriveIsHidden)
{
    volumes_->addVolume(QDir::currentPath().toStdString(), "work", 500 * kGiB, 2 * 60 * kChannelMinute);
    const std::string cardA = card("CARD_A", 30 * kChannelMinute);
    seed({{"recording.directory", std::string()}, {"recording.external1", cardA}, {"recording.external2", std::string()}});
    MainWindow& window = makeWindow();
    window.show();
    window.updateDriveStatus();
    EXPECT_EQ(time("INT")->text(), "2h0m");
    EXPECT_TRUE(indicator("INT")->toolTip().startsWith("Internal: " + QDir::currentPath() + "\n"));

    EXPECT_EQ(time("EXT1")->text(), "30m");
    EXPECT_EQ(timeColour("EXT1"), "#ff3333");
    EXPECT_TRUE(shows("EXT1", "ext1-red.png"));
    EXPECT_EQ(indicator("EXT1")->toolTip(),
              QString("External 1: %1\n%2 GB free\nTime remaining: 30m")
                  .arg(QString::fromStdString(cardA), QString::number(30.0 * kChannelMinute / kGiB, 'f', 1)));

    // EXT2 keeps its place with nothing in it.
    EXPECT_TRUE(indicator("EXT2")->isVisible());
    for (QWidget* child : indicator("EXT2")->findChildren<QWidget*>())
        EXPECT_FALSE(child->isVisible()) << child->objectName().toStdString();
    EXPECT_TRUE(indicator("EXT2")->toolTip().isEmpty());
    EXPECT_FALSE(window.isBackupDriveAlarmRaised(1));

    // Set, it shows again; emptied, it hides again and its alarm goes.
    ConfigManager::getInstance()->setString("recording.external2", root_.toStdString() + "/MISSING");
    window.updateDriveStatus();
    EXPECT_TRUE(image("EXT2")->isVisible());
    EXPECT_TRUE(window.isBackupDriveAlarmRaised(1));
    ConfigManager::getInstance()->setString("recording.external2", "");
    window.updateDriveStatus();
    EXPECT_FALSE(image("EXT2")->isVisible());
    EXPECT_FALSE(window.isBackupDriveAlarmRaised(1));
    EXPECT_FALSE(window.driveErrorBlinkTimer()->isActive());
}

// A take starts only where a card of its own is mounted: a plain folder left
// where a card should be, or a card being formatted, refuses it with the box
// and shows INT as missing (not the system disk's time); a mounted card and a
// folder outside the volumes roots record.
TEST_F(MainWindowDrivesTest, ATakeStartsOnlyOnAMountedRecordingDrive)
{
    const std::string mounted = card("REC", 10 * kGiB);
    const std::string formatting = card("FMT", 10 * kGiB);
    const std::string pulled = root_.toStdString() + "/PULLED";
    QDir().mkpath(QString::fromStdString(pulled));
    const std::string inHome = internal("int", 10 * kGiB);
    struct Case {
        const char* what;
        std::string folder;
        std::string refusal;
    };
    const Case cases[] = {
        {"plain folder under the volumes root", pulled, "The recording drive " + pulled + " is not mounted."},
        {"mounted card", mounted, ""},
        {"folder outside the volumes roots", inHome, ""},
        {"card being formatted", formatting, "The recording drive " + formatting + " is being formatted."},
    };
    MainWindow& window = makeWindow();
    window.show();
    const VolumeFormattingMark formatMark(formatting);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConfigManager::getInstance()->setString("media.saveLocation", c.folder);
        ConfigManager::getInstance()->setString("recording.directory", c.folder);
        engine().calls.clear();
        ModalBoxAnswerer boxes;
        window.onRecordClicked();
        if (c.refusal.empty()) {
            EXPECT_TRUE(window.isRecording());
            EXPECT_EQ(boxes.count(), 0);
            window.updateDriveStatus();
            EXPECT_EQ(time("INT")->text(), "20h42m");  // 10 GiB on one channel
            window.onStopClicked();
            continue;
        }
        EXPECT_FALSE(window.isRecording());
        EXPECT_TRUE(engine().callsOf({"startRecording"}).empty());
        ASSERT_EQ(boxes.count(), 1);
        EXPECT_EQ(boxes.boxes()[0].title, "Recording Not Started");
        EXPECT_EQ(boxes.boxes()[0].text, QString::fromStdString("The take was not started:\n\n" + c.refusal +
                                                                "\n\nCheck the project, roll, scene and take "
                                                                "fields and the recording drive."));
        EXPECT_TRUE(logHas("onRecordClicked: take not started: " + c.refusal));
        EXPECT_EQ(time("INT")->text(), "--");
        EXPECT_EQ(timeColour("INT"), "#999999");
        EXPECT_TRUE(indicator("INT")->toolTip().contains("N/A GB free"));
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(c.folder + "/Project")));
    }
}

TEST_F(MainWindowDrivesTest, IconsAreDecodedOnceAndServedFromTheCache)
{
    const std::string folder = internal("int", 100 * kGiB);
    seed({{"recording.directory", folder}});
    MainWindow& window = makeWindow();
    window.updateDriveStatus();
    const qint64 first = image("INT")->pixmap().cacheKey();
    ASSERT_NE(first, 0);
    window.updateDriveStatus();
    window.updateDriveStatus();
    EXPECT_EQ(image("INT")->pixmap().cacheKey(), first);
    EXPECT_EQ(image("INT")->text(), "");
    EXPECT_EQ(image("INT")->size(), QSize(50, 50));
    EXPECT_EQ(indicator("INT")->width(), 60);
}

TEST_F(MainWindowDrivesTest, FormatEntryNeedsAVolumeUnderTheRootAndNoTake)
{
    MainWindow& window = makeWindow();
    QAction* entry = action("&Media", "Format External Drive (exFAT)...");
    ASSERT_NE(entry, nullptr);
    window.updateDriveStatus();
    EXPECT_FALSE(entry->isEnabled()) << "the system root only";
    internal("int", kGiB);
    window.updateDriveStatus();
    EXPECT_FALSE(entry->isEnabled()) << "a volume outside the volumes root";
    const std::string cardA = card("CARD_A", kGiB);
    volumes_->find(cardA)->ready = false;
    window.updateDriveStatus();
    EXPECT_FALSE(entry->isEnabled()) << "a card that is not ready";
    volumes_->find(cardA)->ready = true;
    window.updateDriveStatus();
    EXPECT_TRUE(entry->isEnabled());

    window.onRecordClicked();
    ASSERT_TRUE(window.isRecording());
    window.updateDriveStatus();
    EXPECT_FALSE(entry->isEnabled()) << "recording";
    window.onStopClicked();
    engine().draining = true;
    window.updateDriveStatus();
    EXPECT_FALSE(entry->isEnabled()) << "post-roll still being written";
    engine().draining = false;
    window.updateDriveStatus();
    EXPECT_TRUE(entry->isEnabled());
}

TEST_F(MainWindowDrivesTest, BackupDrivePulledDuringATakeBlinksUntilTheTakeStoppedAndTheEngineIsClear)
{
    const std::string cardA = card("CARD_A", 10 * kGiB);
    seed({{"recording.external1", cardA}});
    MainWindow& window = makeWindow();
    window.show();
    window.updateDriveStatus();
    EXPECT_FALSE(window.isBackupDriveAlarmRaised(0));
    window.onRecordClicked();
    ASSERT_TRUE(window.isRecording());

    volumes_->remove(cardA);
    for (int refresh = 0; refresh < 3; ++refresh)
        window.updateDriveStatus();
    EXPECT_TRUE(window.isBackupDriveAlarmRaised(0));
    EXPECT_EQ(logCount("External drive 1 not accessible: " + cardA), 1u);
    ASSERT_TRUE(window.driveErrorBlinkTimer()->isActive());
    EXPECT_EQ(window.driveErrorBlinkTimer()->interval(), 500);

    // The icon blinks red and the "--" alternates between red and grey.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isDriveBlinkPhaseOn(); }, 2000)) << "the blink never went on";
    EXPECT_TRUE(shows("EXT1", "ext1-red.png"));
    EXPECT_EQ(time("EXT1")->text(), "--");
    EXPECT_EQ(timeColour("EXT1"), "#ff3333");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isDriveBlinkPhaseOn(); }, 2000)) << "the blink never went off";
    EXPECT_TRUE(image("EXT1")->pixmap().isNull());
    EXPECT_EQ(timeColour("EXT1"), "#999999");

    // Back in its slot: the alarm stays while the take runs, and after it
    // while the engine still reports the drive.
    card("CARD_A", 10 * kGiB);
    window.updateDriveStatus();
    EXPECT_TRUE(window.isBackupDriveAlarmRaised(0)) << "take still running";
    window.onStopClicked();
    engine().draining = true;
    window.updateDriveStatus();
    EXPECT_TRUE(window.isBackupDriveAlarmRaised(0)) << "post-roll still being written";
    engine().draining = false;
    engine().driveError[0] = true;
    window.updateDriveStatus();
    EXPECT_TRUE(window.isBackupDriveAlarmRaised(0)) << "engine still reports the drive";
    engine().driveError[0] = false;
    window.updateDriveStatus();
    EXPECT_FALSE(window.isBackupDriveAlarmRaised(0));
    EXPECT_FALSE(window.driveErrorBlinkTimer()->isActive());
    EXPECT_FALSE(window.isDriveBlinkPhaseOn());
    EXPECT_TRUE(shows("EXT1", "ext1-grn.png"));
    EXPECT_EQ(time("EXT1")->text(), "20h42m");  // 10 GiB on one channel
    EXPECT_EQ(logCount("External drive 1 not accessible: "), 1u);
    EXPECT_EQ(logCount("External drive 1 error detected"), 0u) << "raised already when the engine reported";
}

TEST_F(MainWindowDrivesTest, EngineDriveErrorIsAcknowledgedByAClickOnItsIndicatorOnly)
{
    const std::string cardA = card("CARD_A", 10 * kGiB);
    const std::string cardB = card("CARD_B", 10 * kGiB);
    seed({{"recording.external1", cardA}, {"recording.external2", cardB}});
    MainWindow& window = makeWindow();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    engine().driveError[1] = true;
    window.updateDriveStatus();
    window.updateDriveStatus();
    EXPECT_FALSE(window.isBackupDriveAlarmRaised(0));
    EXPECT_TRUE(window.isBackupDriveAlarmRaised(1));
    EXPECT_EQ(logCount("External drive 2 error detected"), 1u);
    EXPECT_TRUE(window.driveErrorBlinkTimer()->isActive());

    // EXT1 is not in alarm: its press goes on unconsumed and changes nothing.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    EXPECT_FALSE(window.eventFilter(indicator("EXT1"), &press));
    QTest::mouseClick(image("EXT1"), Qt::LeftButton);
    EXPECT_TRUE(window.isBackupDriveAlarmRaised(1));
    EXPECT_TRUE(engine().cleared.empty());

    // A click on the EXT2 icon reaches its indicator and acknowledges it.
    QTest::mouseClick(image("EXT2"), Qt::LeftButton);
    EXPECT_FALSE(window.isBackupDriveAlarmRaised(1));
    EXPECT_EQ(engine().cleared, std::vector<int>{1});
    EXPECT_FALSE(window.driveErrorBlinkTimer()->isActive());
    EXPECT_TRUE(shows("EXT2", "ext2-grn.png"));
    EXPECT_FALSE(window.eventFilter(indicator("EXT2"), &press)) << "nothing left to acknowledge";
}

TEST_F(MainWindowDrivesTest, BackupCopyFlickersTheBackupDrivesYellowButNeverInt)
{
    const std::string folder = internal("int", 10 * kGiB);
    const std::string cardA = card("CARD_A", 30 * kChannelMinute);  // under an hour: red when idle
    const std::string cardB = card("CARD_B", 10 * kGiB);
    seed({{"recording.directory", folder}, {"recording.external1", cardA}, {"recording.external2", cardB}});
    MainWindow& window = makeWindow();
    window.updateDriveStatus();
    EXPECT_TRUE(shows("EXT1", "ext1-red.png"));

    engine().copying = true;
    window.updateDriveStatus();
    ASSERT_TRUE(window.driveCopyBlinkTimer()->isActive());
    EXPECT_EQ(window.driveCopyBlinkTimer()->interval(), 100);
    bool seen[2][2] = {{false, false}, {false, false}};  // [drive][yellow]
    bool intYellow = false;
    const auto sample = [&] {
        for (int drive = 0; drive < 2; ++drive) {
            const QString type = drive == 0 ? "EXT1" : "EXT2";
            const QString prefix = drive == 0 ? "ext1" : "ext2";
            if (shows(type, prefix + "-yel.png"))
                seen[drive][1] = true;
            else if (shows(type, prefix + "-grn.png"))
                seen[drive][0] = true;
        }
        intYellow = intYellow || shows("INT", "int-yel.png");
        return seen[0][0] && seen[0][1] && seen[1][0] && seen[1][1];
    };
    ASSERT_TRUE(QTest::qWaitFor(sample, 3000)) << "not every card showed both copy phases";
    EXPECT_FALSE(intYellow);
    EXPECT_TRUE(shows("INT", "int-grn.png"));
    EXPECT_EQ(time("EXT1")->text(), "30m");
    EXPECT_EQ(timeColour("EXT1"), "#ff3333");

    engine().copying = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.driveCopyBlinkTimer()->isActive(); }, 2000))
        << "the copy blink kept running after the copy ended";
    window.updateDriveStatus();
    EXPECT_FALSE(window.isDriveCopyPhaseOn());
    EXPECT_TRUE(shows("EXT1", "ext1-red.png"));
    EXPECT_TRUE(shows("EXT2", "ext2-grn.png"));
}

// The indicators side by side in each kind of state, for a look
// (TONVALE_SCREENSHOT_DIR keeps the picture).
TEST_F(MainWindowDrivesTest, GrabShowsTheDriveAreaUnclipped)
{
    const std::string folder = internal("int", 100 * kGiB);
    const std::string cardA = card("CARD_A", 30 * kChannelMinute);
    seed({{"recording.directory", folder}, {"recording.external1", cardA},
          {"recording.external2", root_.toStdString() + "/GONE"}, {"track.count", 8}});
    MainWindow& window = makeWindow();
    for (int track = 0; track < 4; ++track)
        window.trackRows()[static_cast<size_t>(track)].armButton->setChecked(true);
    window.resize(1400, 900);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.updateDriveStatus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isDriveBlinkPhaseOn(); }, 2000)) << "the blink never went on";
    EXPECT_EQ(time("INT")->text(), "41h25m");
    for (const char* type : {"INT", "EXT1", "EXT2"}) {
        SCOPED_TRACE(type);
        QLabel* label = time(type);
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
        EXPECT_GE(label->height(), label->fontMetrics().height());
        QLabel* typeLabel = indicator(type)->findChild<QLabel*>("typeLabel");
        EXPECT_EQ(typeLabel->text(), type);
        EXPECT_LE(typeLabel->fontMetrics().horizontalAdvance(type), typeLabel->width());
        EXPECT_TRUE(indicator(type)->geometry().intersected(indicator(type)->parentWidget()->rect()) ==
                    indicator(type)->geometry())
            << "inside the control bar";
    }
    EXPECT_LT(indicator("INT")->geometry().right(), indicator("EXT1")->geometry().left());
    EXPECT_LT(indicator("EXT1")->geometry().right(), indicator("EXT2")->geometry().left());
    QWidget* bar = indicator("INT")->parentWidget();
    keepPicture(*bar, "drive-area-bar");
    const QRect area = indicator("INT")->geometry().united(indicator("EXT2")->geometry()).adjusted(-10, -10, 10, 10);
    const QString folderOut = qEnvironmentVariable("TONVALE_SCREENSHOT_DIR");
    if (!folderOut.isEmpty())
        bar->grab(area).scaled(area.size() * 3).save(QDir(folderOut).filePath("drive-area.png"));
}

} // namespace
