// The media handlers: media settings stored and pushed to the engine, the
// write-access test of backup drives, recovery of unclosed takes and the
// exFAT format with stand-in programs.
#include "MainWindowDrivesTestSupport.h"

#include "media/RF64Repairer.h"
#include "platform/volumes/FormatPlacement.h"
#include "platform/volumes/VolumeSystem.h"
#include "support/GuiLatenessProbe.h"
#include "support/StandInPrograms.h"
#include "ui/tools/MediaSettingsDialog.h"
#include "ui/tools/ModalBoxAnswerer.h"
#include "ui/tools/RepairDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

// A stereo 24-bit 48 kHz take of `frames` frames whose ds64 sizes are still zero.
bool writeUnclosedStereoTake(const std::string& path, long long frames);

namespace {

constexpr uint64_t kGiB = 1ULL << 30;

QPushButton* button(QWidget& dialog, const QString& text)
{
    for (QPushButton* candidate : dialog.findChildren<QPushButton*>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

QCheckBox* driveCheck(MediaSettingsDialog& dialog, int row)
{
    auto* list = dialog.findChild<QListWidget*>();
    return list->itemWidget(list->item(row))->findChild<QCheckBox*>();
}

QComboBox* driveLayout(MediaSettingsDialog& dialog, int row)
{
    auto* list = dialog.findChild<QListWidget*>();
    return list->itemWidget(list->item(row))->findChild<QComboBox*>();
}

// The dialog's combo boxes in their order: file format, then bit depth.
QComboBox* topCombo(MediaSettingsDialog& dialog, int index)
{
    return dialog.findChildren<QComboBox*>(Qt::FindDirectChildrenOnly).value(index);
}

class MainWindowMediaTest : public MainWindowDrivesTest {
protected:
    std::string key(const std::string& name) const { return ConfigManager::getInstance()->getString(name, "<unset>"); }
    static bool exists(const std::string& path) { return QFileInfo::exists(QString::fromStdString(path)); }
};

TEST_F(MainWindowMediaTest, MediaSettingsAreRefusedDuringATakeAndItsPostRoll)
{
    MainWindow& window = makeWindow();
    OnShow<MediaSettingsDialog> opened([](MediaSettingsDialog& dialog) { dialog.reject(); });
    for (const char* phase : {"recording", "post-roll"}) {
        SCOPED_TRACE(phase);
        if (std::string(phase) == "recording") {
            window.onRecordClicked();
            ASSERT_TRUE(window.isRecording());
        } else {
            window.onStopClicked();
            engine().draining = true;
        }
        ModalBoxAnswerer boxes;
        action("&Media", "Media Settings")->trigger();
        ASSERT_EQ(boxes.count(), 1);
        EXPECT_EQ(boxes.boxes()[0].title, "Recording Active");
        EXPECT_EQ(boxes.boxes()[0].text,
                  "Media and live-backup settings can be changed after the current take finishes.");
    }
    EXPECT_EQ(opened.times(), 0);
}

TEST_F(MainWindowMediaTest, AcceptedSettingsAreStoredPushedAndTheChosenDrivesTested)
{
    const std::string cardA = card("CARD_A", 8 * kGiB);
    const std::string cardB = card("CARD_B", 8 * kGiB);
    const std::string cardC = card("CARD_C", 8 * kGiB);
    const std::string takes = home_.pathStd() + "/takes";
    seed({{"media.externalPaths", cardA + "|" + cardB}, {"media.externalFormats", std::string("1")},
          {"media.fileFormat", 5}, {"media.bitDepth", 24}});
    MainWindow& window = makeWindow();
    engine().backupLists.clear();

    OnShow<MediaSettingsDialog> answer([&](MediaSettingsDialog& dialog) {
        EXPECT_EQ(topCombo(dialog, 0)->currentIndex(), 0) << "a stored layout of 5 opens as polyphonic";
        keepPicture(dialog, "media-settings-from-window");
        topCombo(dialog, 0)->setCurrentIndex(1);
        topCombo(dialog, 1)->setCurrentText("32-bit float");
        const QList<QSpinBox*> spins = dialog.findChildren<QSpinBox*>();
        spins.value(0)->setValue(5);
        spins.value(1)->setValue(7);
        dialog.findChild<QLineEdit*>()->setText(QString::fromStdString(takes));
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
            if (box->text() == "Live backup active take")
                box->setChecked(true);
        driveCheck(dialog, 2)->setChecked(true);  // CARD_C, mounted and not configured
        driveLayout(dialog, 2)->setCurrentIndex(1);
        button(dialog, "OK")->click();
    });
    ModalBoxAnswerer boxes;
    action("&Media", "Media Settings")->trigger();
    ASSERT_EQ(answer.times(), 1);
    EXPECT_EQ(boxes.count(), 0) << (boxes.count() > 0 ? boxes.boxes()[0].text.toStdString() : "");

    const std::pair<const char*, std::string> keys[] = {
        {"media.saveLocation", takes},
        {"recording.directory", takes},
        {"media.fileFormat", "1"},
        {"media.bitDepth", "32"},
        {"media.prerollSeconds", "5"},
        {"media.postrollSeconds", "7"},
        {"media.externalEnabled", "true"},
        {"media.liveBackupActiveTake", "true"},
        {"media.externalPaths", cardA + "|" + cardB + "|" + cardC},
        {"media.externalFormats", "1,0,1"},
        {"recording.external1", cardA},
        {"recording.external2", cardB},
    };
    for (const auto& [name, value] : keys)
        EXPECT_EQ(home_.savedKey(name), value) << name << " saved at once";
    EXPECT_TRUE(QFileInfo(QString::fromStdString(takes)).isDir()) << "the dialog makes the folder";

    EXPECT_EQ(engine().getFileFormat(), 1);
    EXPECT_EQ(engine().getBitDepth(), 32);
    EXPECT_EQ(engine().getSampleFormat(), BwfFileWriter::Float32);
    EXPECT_EQ(engine().getPrerollDuration(), 5);
    EXPECT_EQ(engine().getPostrollDuration(), 7);
    EXPECT_TRUE(engine().liveBackup);
    ASSERT_EQ(engine().backupLists.size(), 1u);
    EXPECT_TRUE(engine().backupLists[0].first);
    const auto& drives = engine().backupLists[0].second;
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[2].path, cardC);
    EXPECT_EQ(drives[0].format, 1);
    EXPECT_EQ(drives[1].format, 0);
    EXPECT_EQ(drives[2].format, 1);

    // Each chosen drive was written to and cleaned, in order.
    for (const std::string& drive : {cardA, cardB, cardC}) {
        EXPECT_TRUE(QFileInfo(QString::fromStdString(drive + "/Tonvale")).isDir()) << drive;
        EXPECT_FALSE(exists(drive + "/Tonvale/.tonvale_access_test")) << drive;
        EXPECT_EQ(logCount("Drive access granted: " + drive), 1u) << drive;
    }

    // The third drive is backed up to but has no indicator.
    window.updateDriveStatus();
    EXPECT_TRUE(indicator("EXT2")->toolTip().startsWith(QString::fromStdString("External 2: " + cardB)));
}

TEST_F(MainWindowMediaTest, NoDriveChosenOrCancelLeavesNothingToTest)
{
    const std::string cardA = card("CARD_A", 8 * kGiB);
    seed({{"media.externalPaths", cardA}, {"media.externalFormats", std::string("0")},
          {"media.externalEnabled", true}, {"recording.external1", cardA}, {"recording.external2", cardA}});
    makeWindow();
    ASSERT_EQ(logCount("Drive access granted: "), 1u) << "the saved drive is tested at start-up";
    QDir(QString::fromStdString(cardA + "/Tonvale")).removeRecursively();
    engine().backupLists.clear();
    {
        OnShow<MediaSettingsDialog> cancel([](MediaSettingsDialog& dialog) {
            driveCheck(dialog, 0)->setChecked(false);
            button(dialog, "Cancel")->click();
        });
        action("&Media", "Media Settings")->trigger();
        ASSERT_EQ(cancel.times(), 1);
    }
    EXPECT_EQ(key("media.externalPaths"), cardA) << "cancel changes nothing";
    EXPECT_TRUE(engine().backupLists.empty());

    OnShow<MediaSettingsDialog> none([](MediaSettingsDialog& dialog) {
        driveCheck(dialog, 0)->setChecked(false);
        button(dialog, "OK")->click();
    });
    action("&Media", "Media Settings")->trigger();
    ASSERT_EQ(none.times(), 1);
    EXPECT_EQ(home_.savedKey("media.externalPaths"), "");
    EXPECT_EQ(home_.savedKey("media.externalFormats"), "");
    EXPECT_EQ(home_.savedKey("media.externalEnabled"), "false");
    EXPECT_EQ(home_.savedKey("recording.external1"), "");
    EXPECT_EQ(home_.savedKey("recording.external2"), "");
    ASSERT_EQ(engine().backupLists.size(), 1u);
    EXPECT_FALSE(engine().backupLists[0].first);
    EXPECT_TRUE(engine().backupLists[0].second.empty());
    EXPECT_EQ(logCount("Drive access granted: "), 1u) << "none after the dialog";
    EXPECT_FALSE(exists(cardA + "/Tonvale"));
}

TEST_F(MainWindowMediaTest, StoredDriveListsReachTheDialogAsStored)
{
    struct Case {
        const char* paths;
        const char* formats;
        std::vector<std::pair<std::string, int>> drives;  // disconnected rows, in order
    };
    const Case cases[] = {
        {"/m/A||/m/B", "1", {{"/m/A", 1}, {"/m/B", 0}}},
        {"/m/A|/m/B|/m/C", "x,,1", {{"/m/A", 0}, {"/m/B", 0}, {"/m/C", 1}}},
        {"|/m/A|", "1,1", {{"/m/A", 1}}},
        {"", "1", {}},
    };
    makeWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.paths);
        seed({{"media.externalPaths", std::string(c.paths)}, {"media.externalFormats", std::string(c.formats)}});
        std::vector<std::pair<std::string, int>> seen;
        OnShow<MediaSettingsDialog> look([&](MediaSettingsDialog& dialog) {
            for (const MediaSettingsDialog::DriveInfo& drive : dialog.drives())
                seen.emplace_back(drive.path, drive.format);
            dialog.reject();
        });
        action("&Media", "Media Settings")->trigger();
        ASSERT_EQ(look.times(), 1);
        EXPECT_EQ(seen, c.drives);
    }
}

// A drive that is not mounted, a read-only mount and a writable drive, in
// one run: one box each for the first two, the third still tested.
TEST_F(MainWindowMediaTest, AccessTestReportsEachBadDriveAndGoesOn)
{
    const std::string missing = root_.toStdString() + "/UNPLUGGED";
    QDir().mkpath(QString::fromStdString(missing));  // its leftover mount point on the system disk
    const std::string readOnly = card("LOCKED", kGiB);
    const std::string writable = card("GOOD", kGiB);
    volumes_->find(readOnly)->readOnly = true;
    bool mounted = false;
    if (geteuid() == 0) {
        // Root ignores file modes: only a read-only mount refuses it.
        if (::mount("tonvale-ro", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=1m") != 0)
            GTEST_SKIP() << "SKIPPED: cannot mount a read-only tmpfs here (" << std::strerror(errno) << ")";
        mounted = true;
    } else {
        QFile::setPermissions(QString::fromStdString(readOnly), QFile::ReadOwner | QFile::ExeOwner);
    }
    MainWindow& window = makeWindow();
    ModalBoxAnswerer boxes;
    window.requestDriveAccessPermissions({missing, "", readOnly, writable});
    if (mounted)
        ::umount(readOnly.c_str());
    else
        QFile::setPermissions(QString::fromStdString(readOnly), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_EQ(boxes.count(), 2);
    for (const auto& box : boxes.boxes())
        EXPECT_EQ(box.title, "Drive Access Required");
    EXPECT_TRUE(boxes.boxes()[0].text.startsWith(QString::fromStdString("Cannot access external drive:\n" + missing)));
    EXPECT_TRUE(boxes.boxes()[0].text.contains("not mounted"));
    EXPECT_FALSE(exists(missing + "/Tonvale")) << "nothing made on the system disk";
    EXPECT_TRUE(boxes.boxes()[1].text.startsWith(QString::fromStdString("Cannot access external drive:\n" + readOnly)));
    EXPECT_FALSE(boxes.boxes()[1].text.contains("macOS"));
    EXPECT_TRUE(logHas("WARNING: Drive not mounted: " + missing));
    EXPECT_TRUE(logHas("WARNING: Cannot write to drive (permission denied): " + readOnly));
    EXPECT_TRUE(logHas("Drive access granted: " + writable));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(writable + "/Tonvale")).isDir());
    EXPECT_FALSE(exists(writable + "/Tonvale/.tonvale_access_test"));
}

// The saved backup drives are tested while the window restores them: a
// writable card passes quietly, an unplugged one is reported once and the
// window still comes up on its running engine.
TEST_F(MainWindowMediaTest, SavedBackupDrivesAreTestedAtStartUp)
{
    struct Case {
        const char* name;
        bool mounted;
        int boxes;
        const char* log;
    };
    const Case cases[] = {
        {"CARD_OK", true, 0, "Drive access granted: "},
        {"CARD_GONE", false, 1, "WARNING: Drive not mounted: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetConfig();
        std::string drive = root_.toStdString() + "/" + c.name;
        if (c.mounted)
            drive = card(c.name, 8 * kGiB);
        else
            QDir().mkpath(QString::fromStdString(drive));  // its leftover mount point on the system disk
        seed({{"audio.device", std::string("Virtual Interface")},
              {"media.externalEnabled", true},
              {"media.externalPaths", "|" + drive + "|"},
              {"media.externalFormats", std::string("1")}});
        ModalBoxAnswerer boxes;
        MainWindow& window = makeWindow();

        ASSERT_NE(window.engine(), nullptr);
        EXPECT_TRUE(window.engine()->isRunning());
        EXPECT_TRUE(logHas("Saved settings restored")) << "the restore goes on after the box";
        ASSERT_EQ(boxes.count(), c.boxes);
        if (c.boxes > 0) {
            EXPECT_EQ(boxes.boxes()[0].title, QString("Drive Access Required"));
            EXPECT_TRUE(
                boxes.boxes()[0].text.startsWith(QString::fromStdString("Cannot access external drive:\n" + drive)));
        }
        EXPECT_EQ(logCount(c.log + drive), 1u);
        EXPECT_EQ(QFileInfo(QString::fromStdString(drive + "/Tonvale")).isDir(), c.mounted)
            << "nothing made on the system disk";
        EXPECT_FALSE(exists(drive + "/Tonvale/.tonvale_access_test"));
        window_.reset();
    }
}

// Without a saved backup drive, or with backup off, nothing is tested.
TEST_F(MainWindowMediaTest, NoDriveTestAtStartUpWithoutEnabledDrives)
{
    const std::string drive = card("CARD_OFF", 8 * kGiB);
    const std::pair<bool, std::string> cases[] = {{false, drive}, {true, "||"}};
    for (const auto& [enabled, paths] : cases) {
        SCOPED_TRACE(paths);
        resetConfig();
        seed({{"media.externalEnabled", enabled}, {"media.externalPaths", paths}});
        ModalBoxAnswerer boxes;
        makeWindow();
        EXPECT_EQ(boxes.count(), 0);
        EXPECT_FALSE(logHas("Drive access granted: "));
        EXPECT_FALSE(exists(drive + "/Tonvale"));
        window_.reset();
    }
}

TEST_F(MainWindowMediaTest, RecoveryReportsWhatItCannotScanAndWhatItFound)
{
    const QString takes = home_.path() + "/takes";
    QDir().mkpath(takes + "/roll1");
    // A take that was closed properly: written unclosed, then repaired.
    const std::string closed = (takes + "/roll1/closed.wav").toStdString();
    ASSERT_TRUE(writeUnclosedStereoTake(closed, 4800));
    ASSERT_TRUE(RF64Repairer().repairFile(closed));

    MainWindow& window = makeWindow();
    enum Take { Idle, Recording, PostRoll };
    struct Case {
        const char* what;
        std::string saveLocation;
        Take take;
        const char* title;
        QString text;
    };
    const Case cases[] = {
        {"unset", "", Idle, "No Save Location",
         "No save location is configured.\n\nPlease set a save location in the Media settings before scanning for "
         "incomplete recordings."},
        {"missing", home_.pathStd() + "/gone", Idle, "Folder Not Found",
         "The configured save location does not exist:\n\n" + home_.path() +
             "/gone\n\nPlease check your Media settings."},
        {"only closed takes", takes.toStdString(), Idle, "No Issues Found",
         QString::fromUtf8("✓ All recordings in the save location are valid.\n\nNo incomplete recordings were found "
                           "that need repair.")},
        {"during a take", takes.toStdString(), Recording, "Recording Active",
         "Incomplete recordings can be recovered after the current take finishes."},
        {"during its post-roll", takes.toStdString(), PostRoll, "Recording Active",
         "Incomplete recordings can be recovered after the current take finishes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        seed({{"media.saveLocation", c.saveLocation}});
        if (c.take == Recording) {
            window.onRecordClicked();
        } else if (c.take == PostRoll) {
            window.onStopClicked();
            engine().draining = true;
        }
        ModalBoxAnswerer boxes;
        action("&Help", "Recover Recordings...")->trigger();
        ASSERT_EQ(boxes.count(), 1);
        EXPECT_EQ(boxes.boxes()[0].title, c.title);
        EXPECT_EQ(boxes.boxes()[0].text, c.text);
    }
    EXPECT_EQ(logCount("Manual RF64 recovery scan requested"), 5u);
    EXPECT_EQ(logCount("RF64 scan complete: No corrupted files found"), 1u);

    // The take being written is never offered: refused above. Finished, an
    // unclosed take in a sub-folder is offered in the repair dialog.
    engine().draining = false;
    const std::string open = (takes + "/roll1/crashed.wav").toStdString();
    ASSERT_TRUE(writeUnclosedStereoTake(open, 48'000));
    QStringList rows;
    OnShow<RepairDialog> repair([&](RepairDialog& dialog) {
        auto* list = dialog.findChild<QListWidget*>();
        for (int row = 0; row < list->count(); ++row)
            rows << list->item(row)->text();
        keepPicture(dialog, "repair-from-window");
        button(dialog, "Skip")->click();
    });
    ModalBoxAnswerer boxes;
    action("&Help", "Recover Recordings...")->trigger();
    ASSERT_EQ(repair.times(), 1);
    EXPECT_EQ(boxes.count(), 0);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(rows[0].startsWith(QString::fromUtf8("crashed.wav  —  1s  (2 ch, 48000 Hz, "))) << rows[0].toStdString();
    EXPECT_TRUE(logHas("Found 1 incomplete recording(s)"));
    EXPECT_TRUE(RF64Repairer().needsRepair(open)) << "skip leaves it as it was";
}

// Volumes that follow the stand-in mount program: the formatted card shows
// up as "Tonvale" once its mount folder exists, as the system would mount it.
class MountFollowingVolumes : public VolumeSystem {
public:
    MountFollowingVolumes(std::shared_ptr<VirtualVolumeSystem> base, std::string mountPath)
        : base_(std::move(base)), mountPath_(std::move(mountPath))
    {
    }
    std::vector<MountedVolume> mountedVolumes() const override
    {
        std::vector<MountedVolume> volumes = base_->mountedVolumes();
        if (QFileInfo(QString::fromStdString(mountPath_)).isDir()) {
            MountedVolume tonvale;
            tonvale.rootPath = mountPath_;
            tonvale.name = "Tonvale";
            tonvale.device = "/dev/sdz1";
            tonvale.totalBytes = tonvale.availableBytes = 32 * kGiB;
            volumes.push_back(tonvale);
        }
        return volumes;
    }

private:
    std::shared_ptr<VirtualVolumeSystem> base_;
    std::string mountPath_;
};

// Notes the text of every toast the window shows.
class ToastWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == "driveToast")
            if (auto* label = qobject_cast<QLabel*>(watched))
                shown << label->text();
        return false;
    }
    QStringList shown;
};

class MainWindowFormatTest : public MainWindowMediaTest {
protected:
    void TearDown() override
    {
        qApp->removeEventFilter(&toasts_);
        MainWindowMediaTest::TearDown();
    }
    void SetUp() override
    {
        MainWindowMediaTest::SetUp();
        qApp->installEventFilter(&toasts_);
        mountPath_ = root_.toStdString() + "/Tonvale";
        MainWindow::setVolumeSystemForWindows(std::make_shared<MountFollowingVolumes>(volumes_, mountPath_));
        setPrograms(0);
    }

    // Stand-ins for the system's programs: each appends "<name> <arguments>"
    // to the call log and exits with 0, the erase with `mkfsExit`.
    void setPrograms(int mkfsExit)
    {
        ExfatFormatter::Programs programs;
        programs.unmount = fakes_.make("umount", 0);
        programs.mkfs = fakes_.make("mkfs.exfat", mkfsExit);
        programs.mount = fakes_.make("mount", 0);
        programs.fuseMount = fakes_.make("mount.exfat-fuse", 0);
        ExfatFormatter::setDefaultPrograms(programs);
    }

    // Runs the format, choosing the row of `rootPath` (empty: cancels the
    // choice); returns the rows offered.
    QStringList formatChoosing(const std::string& rootPath)
    {
        QStringList offered;
        OnShow<QInputDialog> choose([&](QInputDialog& dialog) {
            offered = dialog.comboBoxItems();
            EXPECT_EQ(dialog.windowTitle(), "Format External Drive");
            EXPECT_EQ(dialog.labelText(), "Select volume to format as exFAT:");
            EXPECT_EQ(dialog.textValue(), offered.value(0)) << "the first row preselected";
            keepPicture(dialog, "format-choice");
            for (const QString& row : offered) {
                if (!rootPath.empty() && row.contains(QString::fromStdString(" - " + rootPath + " ("))) {
                    dialog.setTextValue(row);
                    dialog.accept();
                    return;
                }
            }
            dialog.reject();
        });
        window_->onFormatExternalDrive();
        return offered;
    }

    std::string mountPath_;
    ToastWatch toasts_;
    StandInPrograms fakes_{home_.path() + "/bin"};
};

TEST_F(MainWindowFormatTest, NoExternalVolumeShowsTheBoxAndAsksNothing)
{
    internal("int", kGiB);
    card("BUSY", kGiB);
    volumes_->find(root_.toStdString() + "/BUSY")->ready = false;
    makeWindow();
    ModalBoxAnswerer boxes;
    OnShow<QInputDialog> choice([](QInputDialog& dialog) { dialog.reject(); });
    window_->onFormatExternalDrive();
    EXPECT_EQ(choice.times(), 0);
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.boxes()[0].title, "No External Drives");
    EXPECT_EQ(boxes.boxes()[0].text, "No external volumes detected.\n\nInsert an SD card or USB drive and try again.");
}

TEST_F(MainWindowFormatTest, CandidatesAreListedAndEitherCancelChangesNothing)
{
    const std::string named = card("CARD", 8 * kGiB, 32 * kGiB, "CARD");
    const std::string unnamed = card("NONAME", 8 * kGiB, 16 * kGiB + 100 * (1ULL << 20));
    internal("int", kGiB);
    seed({{"media.externalPaths", std::string("/m/A")}, {"recording.external1", std::string("/m/A")}});
    makeWindow();
    engine().backupLists.clear();
    ModalBoxAnswerer boxes(QMessageBox::Cancel);
    const QStringList offered = formatChoosing("");
    EXPECT_EQ(offered, QStringList({QString::fromStdString("CARD - " + named + " (32.0 GB)"),
                                    QString::fromStdString("NONAME - " + unnamed + " (16.1 GB)")}));
    EXPECT_EQ(boxes.count(), 0);

    formatChoosing(unnamed);
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.boxes()[0].title, "Format Drive");
    EXPECT_EQ(boxes.boxes()[0].text,
              QString::fromStdString("WARNING: All data on " + unnamed +
                                     " will be erased!\n\nVolume will be formatted as exFAT with label: "
                                     "Tonvale\n\nAre you sure you want to continue?"));
    EXPECT_TRUE(fakes_.calls().isEmpty());
    EXPECT_EQ(key("media.externalPaths"), "/m/A");
    EXPECT_TRUE(engine().backupLists.empty());
}

TEST_F(MainWindowFormatTest, AFailedOrRefusedEraseLeavesTheConfigurationAlone)
{
    const std::string target = card("CARD", 8 * kGiB);
    const std::string device = volumes_->find(target)->device;
    seed({{"media.externalPaths", std::string("/m/A|/m/B")}, {"media.externalFormats", std::string("0,1")},
          {"recording.external1", std::string("/m/A")}, {"recording.external2", std::string("/m/B")}});
    makeWindow().show();
    engine().backupLists.clear();
    const std::string configBefore = home_.savedKey("media.externalPaths") + home_.savedKey("media.externalFormats");

    setPrograms(1);
    {
        ModalBoxAnswerer boxes(QMessageBox::Ok);
        formatChoosing(target);
        ASSERT_EQ(boxes.count(), 2);
        EXPECT_EQ(boxes.boxes()[1].title, "Format Failed");
        EXPECT_TRUE(boxes.boxes()[1].text.startsWith(QString::fromStdString("Failed to format " + target + ".")));
        EXPECT_TRUE(boxes.boxes()[1].text.contains("exit code 1")) << boxes.boxes()[1].text.toStdString();
    }
    EXPECT_EQ(fakes_.calls(), QStringList({QString::fromStdString("umount " + target),
                                    QString::fromStdString("mkfs.exfat -L Tonvale " + device)}));
    // The erase toast was up while the programs ran, and is gone.
    EXPECT_EQ(toasts_.shown, QStringList({"Formatting volume..."}));
    for (QLabel* label : window_->findChildren<QLabel*>("driveToast"))
        EXPECT_TRUE(label->isHidden());

    // A take started while the boxes were open: nothing is run at all.
    QFile::remove(fakes_.callLog());
    setPrograms(0);
    engine().draining = true;
    {
        ModalBoxAnswerer boxes(QMessageBox::Ok);
        formatChoosing(target);
        ASSERT_EQ(boxes.count(), 2);
        EXPECT_EQ(boxes.boxes()[1].title, "Format Failed");
        EXPECT_TRUE(boxes.boxes()[1].text.contains("A take is recording")) << boxes.boxes()[1].text.toStdString();
    }
    EXPECT_TRUE(fakes_.calls().isEmpty());

    EXPECT_EQ(home_.savedKey("media.externalPaths") + home_.savedKey("media.externalFormats"), configBefore);
    EXPECT_EQ(key("recording.external1"), "/m/A");
    EXPECT_EQ(key("recording.external2"), "/m/B");
    EXPECT_TRUE(engine().backupLists.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(mountPath_)));
}

TEST_F(MainWindowFormatTest, TheFormattedCardTakesItsPlaceInTheBackupList)
{
    const std::string target = card("CARD", 8 * kGiB);
    const std::string a = card("A", 8 * kGiB);
    const std::string b = card("B", 8 * kGiB);
    const std::string x = card("X", 8 * kGiB);
    const std::string t = mountPath_;
    struct Case {
        const char* what;
        std::string paths, formats, external1, external2, formatted;
        std::string wantPaths, wantFormats, wantExternal1, wantExternal2;
    };
    const Case cases[] = {
        {"none configured", "", "", "", "", target, t, "1", t, ""},
        {"A and B, an unconfigured card", a + "|" + b, "0,0", a, b, target, t + "|" + b, "1,0", t, b},
        {"A and B, B itself formatted", a + "|" + b, "0,0", a, b, b, a + "|" + t, "0,1", a, t},
        {"one drive, EXT1 elsewhere", x, "0", "/m/Y", "", target, x + "|" + t, "0,1", x, t},
    };
    makeWindow().resize(1300, 850);
    window_->show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(QString::fromStdString(t)).removeRecursively();
        QFile::remove(fakes_.callLog());
        seed({{"media.externalEnabled", false}, {"media.fileFormat", 1}, {"media.externalPaths", c.paths},
              {"media.externalFormats", c.formats}, {"recording.external1", c.external1},
              {"recording.external2", c.external2}});
        engine().backupLists.clear();
        ModalBoxAnswerer boxes(QMessageBox::Ok);
        formatChoosing(c.formatted);
        ASSERT_EQ(boxes.count(), 1) << boxes.boxes().back().text.toStdString();
        const std::string device = volumes_->find(c.formatted)->device;
        EXPECT_EQ(fakes_.calls(), QStringList({QString::fromStdString("umount " + c.formatted),
                                        QString::fromStdString("mkfs.exfat -L Tonvale " + device),
                                        QString::fromStdString("mount -t exfat " + device + " " + t)}));
        EXPECT_EQ(home_.savedKey("media.externalEnabled"), "true");
        EXPECT_EQ(home_.savedKey("media.externalPaths"), c.wantPaths);
        EXPECT_EQ(home_.savedKey("media.externalFormats"), c.wantFormats);
        EXPECT_EQ(home_.savedKey("recording.external1"), c.wantExternal1);
        EXPECT_EQ(home_.savedKey("recording.external2"), c.wantExternal2);
        ASSERT_EQ(engine().backupLists.size(), 1u);
        EXPECT_TRUE(engine().backupLists[0].first);
        std::string engineText;
        for (const auto& drive : engine().backupLists[0].second)
            engineText += drive.path + ":" + std::to_string(drive.format) + ";";
        std::string wantEngine;
        const std::vector<std::string> wantPaths = splitDrivePaths(c.wantPaths);
        const std::vector<int> wantFormats = splitDriveFormats(c.wantFormats);
        for (size_t i = 0; i < wantPaths.size(); ++i)
            wantEngine += wantPaths[i] + ":" + std::to_string(wantFormats[i]) + ";";
        EXPECT_EQ(engineText, wantEngine);
        EXPECT_EQ(toasts_.shown, QStringList({"Formatting volume...", "Volume formatted successfully as Tonvale"}));
        toasts_.shown.clear();
        // The new drive was written to and cleaned.
        EXPECT_TRUE(logHas("Drive access granted: " + t));
        EXPECT_FALSE(exists(t + "/Tonvale/.tonvale_access_test"));
    }

    // The success toast, gone after three seconds; the indicators refreshed meanwhile.
    QLabel* toast = nullptr;
    for (QLabel* label : window_->findChildren<QLabel*>("driveToast"))
        if (label->isVisible())
            toast = label;
    ASSERT_NE(toast, nullptr);
    EXPECT_EQ(toast->text(), "Volume formatted successfully as Tonvale");
    EXPECT_EQ(toast->y(), 100);
    EXPECT_EQ(toast->x(), (window_->width() - toast->width()) / 2);
    keepPicture(*window_, "format-success-toast");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return indicator("EXT2")->toolTip().startsWith(QString::fromStdString("External 2: " + t)); }, 2000))
        << "EXT2 tooltip: " << indicator("EXT2")->toolTip().toStdString();
    QPointer<QLabel> watched(toast);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 5000)) << "the toast was not removed";
}

// A card whose programs answer slowly: the window keeps time, records and
// stops meanwhile, names the step under way, and ignores a second format.
// Formatting the card the takes go to: the confirmation says so, a take
// pressed while the card is erased is refused with the box, and so is a take
// afterwards, when the card has come back elsewhere and only its old mount
// point is left.
TEST_F(MainWindowFormatTest, FormattingTheRecordingCardRefusesTakesOnIt)
{
    const std::string target = card("CARD", 8 * kGiB);
    const std::string takes = target + "/takes";
    seed({{"media.saveLocation", takes}, {"recording.directory", takes}});
    makeWindow().resize(1300, 850);
    window_->show();
    ExfatFormatter::Programs programs;
    programs.unmount = fakes_.make("umount", 0);
    programs.mkfs = fakes_.makeSlow("mkfs.exfat", 0.6);
    programs.mount = fakes_.make("mount", 0);
    programs.fuseMount = fakes_.make("mount.exfat-fuse", 0);
    ExfatFormatter::setDefaultPrograms(programs);

    bool pressed = false;
    bool recordedDuringErase = true;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QLabel* label : window_->findChildren<QLabel*>("driveToast")) {
            if (!pressed && label->isVisible() && label->text().contains("Step 2 of 3")) {
                pressed = true;
                window_->onRecordClicked();
                recordedDuringErase = window_->isRecording();
            }
        }
    });
    watch.start(5);
    ModalBoxAnswerer boxes(QMessageBox::Ok);
    formatChoosing(target);
    watch.stop();

    ASSERT_TRUE(pressed);
    EXPECT_FALSE(recordedDuringErase);
    const QString checkFields = "\n\nCheck the project, roll, scene and take fields and the recording drive.";
    ASSERT_EQ(boxes.count(), 2);
    EXPECT_EQ(boxes.boxes()[0].title, "Format Drive");
    EXPECT_EQ(boxes.boxes()[0].text,
              QString::fromStdString("WARNING: All data on " + target +
                                     " will be erased!\n\nVolume will be formatted as exFAT with label: Tonvale\n\n"
                                     "This is the recording drive: takes cannot be recorded until a drive is chosen "
                                     "again.\n\nAre you sure you want to continue?"));
    EXPECT_EQ(boxes.boxes()[1].title, "Recording Not Started");
    EXPECT_EQ(boxes.boxes()[1].text, QString::fromStdString("The take was not started:\n\nThe recording drive " +
                                                            target + " is being formatted.") +
                                         checkFields);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(takes + "/Project")));

    // The card is mounted as Tonvale now; its old mount point is a plain folder.
    volumes_->remove(target);
    window_->onRecordClicked();
    EXPECT_FALSE(window_->isRecording());
    ASSERT_EQ(boxes.count(), 3);
    EXPECT_EQ(boxes.boxes()[2].text, QString::fromStdString("The take was not started:\n\nThe recording drive " +
                                                            takes + " is not mounted.") +
                                         checkFields);
}

TEST_F(MainWindowFormatTest, ASlowFormatLeavesTheWindowWorkingAndNamesEachStep)
{
    const std::string target = card("CARD", 8 * kGiB);
    makeWindow().resize(1300, 850);
    window_->show();
    ExfatFormatter::Programs programs;
    programs.unmount = fakes_.makeSlow("umount", 0.4);
    programs.mkfs = fakes_.makeSlow("mkfs.exfat", 1.0);
    programs.mount = fakes_.makeSlow("mount", 0.8);
    programs.fuseMount = fakes_.make("mount.exfat-fuse", 0);
    ExfatFormatter::setDefaultPrograms(programs);

    auto toastText = [&] {
        for (QLabel* label : window_->findChildren<QLabel*>("driveToast"))
            if (label->isVisible())
                return label->text();
        return QString();
    };
    GuiLatenessProbe probe;
    QStringList stepsSeen;
    bool recordedDuringErase = false;
    bool stoppedDuringErase = false;
    bool grabbed = false;
    bool stopPending = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // Record and stop are two presses, each with its own turn of the
        // event loop: the 50 ms bound holds for each, not for both at once.
        if (stopPending) {
            stopPending = false;
            window_->onStopClicked();
            stoppedDuringErase = !window_->isRecording();
        }
        const QString text = toastText();
        if (!text.contains("Step") || stepsSeen.contains(text))
            return;
        stepsSeen << text;
        // Measured from the format's first step: the choice before it is the
        // person's own dialog, not the format's work.
        if (stepsSeen.size() == 1)
            probe.start();
        if (text.contains("Step 2 of 3")) {
            window_->onFormatExternalDrive();  // ignored: no second choice is offered
            window_->onRecordClicked();
            recordedDuringErase = window_->isRecording();
            stopPending = true;
        } else if (text.contains("Step 3 of 3")) {
            // Pictures take the GUI thread a while: measured up to here.
            probe.stop();
            for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
                window_->resize(size);
                grabbed = keepPicture(*window_, QString("format-working-%1x%2").arg(size.width()).arg(size.height()));
            }
        }
    });
    watch.start(5);
    ModalBoxAnswerer boxes(QMessageBox::Ok);
    const QStringList offered = formatChoosing(target);
    watch.stop();

    EXPECT_EQ(offered.size(), 1) << "the second format offered no choice";
    EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
    EXPECT_GT(probe.ticks(), 50);
    EXPECT_TRUE(recordedDuringErase);
    EXPECT_TRUE(stoppedDuringErase);
    EXPECT_TRUE(grabbed);
    const QString never = "\nThis cannot be cancelled.";
    // The toast opens as "Formatting volume..." (toasts_), then names each step.
    EXPECT_EQ(stepsSeen, QStringList({"Formatting volume...\nStep 1 of 3: unmounting" + never,
                                      "Formatting volume...\nStep 2 of 3: formatting as exFAT" + never,
                                      "Formatting volume...\nStep 3 of 3: mounting" + never}))
        << stepsSeen.join(" | ").toStdString();
    EXPECT_EQ(toasts_.shown, QStringList({"Formatting volume...", "Volume formatted successfully as Tonvale"}));
    ASSERT_EQ(boxes.count(), 1);
    const std::string device = volumes_->find(target)->device;
    EXPECT_EQ(fakes_.calls(), QStringList({QString::fromStdString("umount " + target),
                                           QString::fromStdString("mkfs.exfat -L Tonvale " + device),
                                           QString::fromStdString("mount -t exfat " + device + " " + mountPath_)}));
    EXPECT_EQ(home_.savedKey("media.externalPaths"), mountPath_);
}

} // namespace
