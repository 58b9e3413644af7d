// The volume layer: time left, the volumes-root test, the format candidates
// and placement, mountinfo parsing and the drive write-access test.

#include "platform/volumes/BackupDriveAlarm.h"
#include "platform/volumes/DriveAccessTest.h"
#include "platform/volumes/DriveStatus.h"
#include "platform/volumes/FormatPlacement.h"
#include "platform/volumes/LinuxVolumeSystem.h"
#include "platform/volumes/RecordingDrive.h"
#include "platform/volumes/VirtualVolumeSystem.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(DriveStatus, TimeLeftFiguresAndColourThreshold)
{
    struct Case {
        double bytes;
        int channels;
        const char* text;
        bool low;
    };
    const Case cases[] = {
        {518'400'000.0, 1, "1h0m", false},
        {518'399'999.0, 1, "59m", true},
        {8'640'000.0, 1, "1m", true},
        {0.0, 1, "--", true},
        {-5.0, 3, "--", true},
        {107'374'182'400.0, 5, "41h25m", false},
        {6000.0 * 8'640'000.0, 1, "100h", false},
        {125.0 * 8'640'000.0, 1, "2h5m", false},
        {518'400'000.0, 0, "1h0m", false},  // no rows still counts the mix
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatRecordingTimeRemaining(c.bytes, c.channels), c.text) << c.bytes << " / " << c.channels;
        EXPECT_EQ(isRecordingTimeLow(c.bytes, c.channels), c.low) << c.bytes << " / " << c.channels;
    }
}

TEST(MountedVolume, UnderAVolumesRootAndLastComponent)
{
    setVolumesRoots(defaultVolumesRoots());
    const std::pair<const char*, bool> roots[] = {
        {"/media/user/CARD", true}, {"/run/media/u/X", true}, {"/mnt/usb", true}, {"/Volumes/A", true},
        {"/media/", false},         {"/", false},             {"/home/user", false}, {"/Media/x", false},
        {"/mediax/a", false},
    };
    for (const auto& [path, under] : roots)
        EXPECT_EQ(isUnderVolumesRoot(path), under) << path;

    setVolumesRoots({"/tmp/roots"});
    EXPECT_TRUE(isUnderVolumesRoot("/tmp/roots/CARD"));
    EXPECT_FALSE(isUnderVolumesRoot("/media/user/CARD"));
    setVolumesRoots(defaultVolumesRoots());

    EXPECT_EQ(lastPathComponent("/media/user/CARD/"), "CARD");
    EXPECT_EQ(lastPathComponent("D:\\cards\\B"), "B");
    EXPECT_EQ(lastPathComponent("///"), "///");
}

TEST(VirtualVolumes, PathsFindTheirVolumeAndADriveCanVanish)
{
    VirtualVolumeSystem volumes;
    volumes.addVolume("/media/u/CARD", "CARD", 64ULL << 30, 3ULL << 30);
    volumes.addVolume("/media/u/CARD2", "", 32ULL << 30, 1ULL << 30);

    EXPECT_EQ(volumes.volumeForPath("/media/u/CARD/Tonvale")->rootPath, "/media/u/CARD");
    EXPECT_EQ(volumes.volumeForPath("/media/u/CARD2")->rootPath, "/media/u/CARD2");
    EXPECT_TRUE(volumes.volumeForPath("/media/u/CARD3")->systemRoot);  // only "/" holds it
    EXPECT_DOUBLE_EQ(driveFreeSpaceGB(volumes.mountedVolumes(), "/media/u/CARD"), 3.0);
    EXPECT_DOUBLE_EQ(externalDriveFreeSpaceGB(volumes.mountedVolumes(), "/media/u/CARD"), 3.0);
    EXPECT_DOUBLE_EQ(driveFreeSpaceGB(volumes.mountedVolumes(), ""), -1.0);
    EXPECT_DOUBLE_EQ(driveFreeSpaceGB(volumes.mountedVolumes(), "/media/u/CARD/no-such-folder"), -1.0);
    EXPECT_DOUBLE_EQ(driveFreeSpaceGB(volumes.mountedVolumes(), "/tmp"), 100.0);  // the system root's
    EXPECT_DOUBLE_EQ(externalDriveFreeSpaceGB(volumes.mountedVolumes(), "/tmp"), -1.0);

    volumes.find("/media/u/CARD")->ready = false;
    EXPECT_TRUE(volumes.volumeForPath("/media/u/CARD/x")->systemRoot);
    ASSERT_TRUE(volumes.remove("/media/u/CARD"));
    EXPECT_TRUE(volumes.volumeForPath("/media/u/CARD")->systemRoot);
    volumes.remove("/");
    EXPECT_FALSE(volumes.volumeForPath("/media/u/CARD").has_value());
    EXPECT_DOUBLE_EQ(driveFreeSpaceGB(volumes.mountedVolumes(), "/media/u/CARD"), -1.0);
}

// A take may only go where a card of its own is mounted: a pulled or
// unmounted card leaves its mount point as a plain folder on the system disk.
TEST(RecordingDrive, FoldersUnderAVolumesRootNeedTheirOwnVolume)
{
    setVolumesRoots({"/vol"});
    VirtualVolumeSystem volumes;  // the system root only
    volumes.addVolume("/vol/CARD", "CARD", 64ULL << 30, 3ULL << 30);
    volumes.addVolume("/home/u/ext", "ext", 64ULL << 30, 3ULL << 30);
    volumes.addVolume("/vol", "above the cards", 64ULL << 30, 3ULL << 30);
    struct Case {
        const char* folder;
        const char* problem;
    };
    const Case cases[] = {
        {"/vol/CARD", ""},
        {"/vol/CARD/", ""},
        {"/vol/CARD/Tonvale/Day 1", ""},
        {"/home/u/Recordings", ""},  // outside the volumes roots: recorded as always
        {"/home/u/ext/takes", ""},
        {"/vol/GONE", "The recording drive /vol/GONE is not mounted."},
        {"/vol/GONE/takes/", "The recording drive /vol/GONE/takes is not mounted."},
        {"/vol/CARDX", "The recording drive /vol/CARDX is not mounted."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recordingDriveProblem(c.folder, volumes), c.problem) << c.folder;
        EXPECT_EQ(recordingDriveProblem(c.folder, volumes.mountedVolumes()), c.problem) << c.folder;
    }

    // Pulled: its mount point is held by the volume above the roots, then by "/".
    volumes.find("/vol/CARD")->ready = false;
    EXPECT_EQ(recordingDriveProblem("/vol/CARD/x", volumes), "The recording drive /vol/CARD/x is not mounted.");
    volumes.remove("/vol");
    EXPECT_EQ(recordingDriveProblem("/vol/CARD/x", volumes), "The recording drive /vol/CARD/x is not mounted.");
    volumes.find("/vol/CARD")->ready = true;

    // While a format runs, its volume takes no take, mounted or not; marks count.
    {
        const VolumeFormattingMark formatting("/vol/CARD/");
        markVolumeFormatting("/vol/CARD");
        for (const char* folder : {"/vol/CARD", "/vol/CARD/Tonvale"})
            EXPECT_EQ(recordingDriveProblem(folder, volumes), "The recording drive /vol/CARD is being formatted.");
        EXPECT_EQ(formattingVolumeHolding("/vol/CARD/Tonvale"), "/vol/CARD");
        EXPECT_EQ(formattingVolumeHolding("/vol/CARDX"), "");
        EXPECT_EQ(recordingDriveProblem("/home/u/Recordings", volumes), "");
        clearVolumeFormatting("/vol/CARD");
        EXPECT_EQ(formattingVolumeHolding("/vol/CARD"), "/vol/CARD") << "one mark is still held";
    }
    EXPECT_EQ(formattingVolumeHolding("/vol/CARD"), "");
    EXPECT_EQ(recordingDriveProblem("/vol/CARD", volumes), "");
    setVolumesRoots(defaultVolumesRoots());
}

// The real system: a folder under a volumes root that nothing is mounted on.
TEST(RecordingDrive, APlainFolderIsNoDriveOnTheRealSystem)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/volumes";
    fs::create_directories(root + "/CARD");
    setVolumesRoots({root});
    LinuxVolumeSystem real;
    EXPECT_EQ(recordingDriveProblem(root + "/CARD", real), "The recording drive " + root + "/CARD is not mounted.");
    EXPECT_EQ(recordingDriveProblem(dir.path().toStdString(), real), "");
    setVolumesRoots(defaultVolumesRoots());
}

TEST(DriveStatus, FormatCandidatesAndTheMenuEntry)
{
    setVolumesRoots(defaultVolumesRoots());
    VirtualVolumeSystem volumes;
    EXPECT_FALSE(formatEntryEnabled(volumes.mountedVolumes(), false));  // only the system root

    volumes.addVolume("/home", "home", 1ULL << 40, 1ULL << 30);
    volumes.addVolume("/media/u/CARD", "CARD", 64ULL << 30, 3ULL << 30);
    volumes.addVolume("/media/u/NONAME", "", 3ULL << 29, 0);
    volumes.addVolume("/media/u/BUSY", "BUSY", 1ULL << 30, 0).ready = false;
    const auto rows = formatCandidateRows(volumes.mountedVolumes());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, "CARD - /media/u/CARD (64.0 GB)");
    EXPECT_EQ(rows[1].text, "NONAME - /media/u/NONAME (1.5 GB)");
    EXPECT_EQ(rootPathForRowText(rows, rows[1].text), "/media/u/NONAME");
    EXPECT_EQ(rootPathForRowText(rows, "nothing"), "");

    EXPECT_TRUE(formatEntryEnabled(volumes.mountedVolumes(), false));
    EXPECT_FALSE(formatEntryEnabled(volumes.mountedVolumes(), true));
}

TEST(FormatPlacement, WhereTheFormattedDriveGoes)
{
    const std::string N = "/media/u/Tonvale";
    struct Case {
        const char* what;
        std::vector<std::string> paths;
        std::vector<int> formats;
        std::string e1, e2, formattedRoot;
        std::vector<std::string> wantPaths;
        std::vector<int> wantFormats;
    };
    const Case cases[] = {
        {"none configured", {}, {}, "", "", "/media/u/X", {N}, {1}},
        {"A and B, another volume formatted", {"A", "B"}, {0, 0}, "A", "B", "/media/u/X", {N, "B"}, {1, 0}},
        {"one drive, EXT1 elsewhere, EXT2 empty", {"A"}, {0}, "Z", "", "/media/u/X", {"A", N}, {0, 1}},
        {"EXT1 empty", {"A", "B"}, {0, 0}, "", "B", "/media/u/X", {N, "B"}, {1, 0}},
        {"both set, B second", {"A", "B"}, {0, 0}, "Q", "B", "/media/u/X", {"A", N}, {0, 1}},
        {"formats missing are filled", {"A", "B", "C"}, {}, "Z", "", "/media/u/X", {"A", N, "C"}, {1, 1, 1}},
        // A configured drive that was formatted is the entry replaced; the good EXT1 stays.
        {"the formatted volume was EXT2", {"A", "B"}, {0, 0}, "A", "B", "B", {"A", N}, {0, 1}},
        {"the formatted volume was EXT1", {"A", "B"}, {0, 1}, "A", "B", "A", {N, "B"}, {1, 1}},
    };
    for (const Case& c : cases) {
        const BackupDriveList placed = placeFormattedDrive({c.paths, c.formats}, c.e1, c.e2, 1, c.formattedRoot, N);
        EXPECT_EQ(placed.paths, c.wantPaths) << c.what;
        EXPECT_EQ(placed.formats, c.wantFormats) << c.what;
    }
    EXPECT_EQ(splitDrivePaths("|A||B|"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(splitDriveFormats("1,x,0,2z"), (std::vector<int>{1, 0, 0, 0}));
    EXPECT_TRUE(splitDriveFormats("").empty());
}

TEST(LinuxVolumes, MountInfoLinesAndTheRealSystemRoot)
{
    const std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/u/MY\\040CARD ro,nosuid master:3 - exfat /dev/sdb1 ro\n"
        "41 22 0:5 / /short rw\n";
    const auto mounts = parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].source, "/dev/sda1");
    EXPECT_FALSE(mounts[0].readOnly);
    EXPECT_EQ(mounts[1].mountPoint, "/media/u/MY CARD");
    EXPECT_EQ(mounts[1].fileSystemType, "exfat");
    EXPECT_TRUE(mounts[1].readOnly);

    LinuxVolumeSystem real;
    const auto root = real.volumeForPath("/");
    ASSERT_TRUE(root.has_value());
    EXPECT_TRUE(root->systemRoot);
    EXPECT_GT(root->totalBytes, 0u);
}

// What the mount table says decides what is offered as a drive: only
// writable, real storage of a usable size below a volumes root.
TEST(LinuxVolumes, OnlyWritableRealStorageIsAnExternalDrive)
{
    setVolumesRoots(defaultVolumesRoots());
    struct Case {
        const char* line;
        uint64_t totalBytes;
        bool drive;
    };
    const Case cases[] = {
        {"40 22 8:17 / /media/u/CARD rw,nosuid - exfat /dev/sdb1 rw", 64ULL << 30, true},
        {"41 22 8:33 / /mnt/usb rw - vfat /dev/sdc1 rw", 8ULL << 30, true},
        {"42 22 8:49 / /run/media/u/NTFS rw - fuseblk /dev/sdd1 rw", 1ULL << 40, true},
        {"43 22 8:17 / /media/u/LOCKED ro,nosuid - exfat /dev/sdb2 ro", 64ULL << 30, false},
        {"44 22 0:50 / /mnt/tiny ro,nosuid - tmpfs tmpfs ro,size=4k", 4096, false},
        {"45 22 0:51 / /mnt/scratch rw - tmpfs tmpfs rw,size=8g", 8ULL << 30, false},
        {"46 22 0:52 / /media/u/proc rw - proc proc rw", 0, false},
        {"47 22 0:53 / /mnt/sys rw - sysfs sysfs rw", 0, false},
        {"48 22 0:54 / /mnt/root rw - overlay overlay rw,lowerdir=/a", 100ULL << 30, false},
        {"49 22 7:0 / /media/u/snap ro - squashfs /dev/loop0 ro", 60ULL << 20, false},
        {"50 22 7:1 / /media/u/snapw rw - squashfs /dev/loop1 rw", 60ULL << 20, false},
        {"51 22 8:65 / /media/u/SMALL rw - vfat /dev/sde1 rw", 1ULL << 20, false},
        {"52 22 8:81 / /home rw - ext4 /dev/sdf1 rw", 1ULL << 40, false},
        {"53 22 8:97 / /media/ rw - ext4 /dev/sdg1 rw", 1ULL << 40, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto mounts = parseMountInfo(c.line);
        ASSERT_EQ(mounts.size(), 1u);
        MountedVolume volume;
        volume.rootPath = mounts[0].mountPoint;
        volume.device = mounts[0].source;
        volume.fileSystemType = mounts[0].fileSystemType;
        volume.readOnly = mounts[0].readOnly;
        volume.totalBytes = c.totalBytes;
        volume.availableBytes = c.totalBytes;
        EXPECT_EQ(isExternalDrive(volume), c.drive);
        EXPECT_EQ(formatCandidateRows({volume}).size(), c.drive ? 1u : 0u);
        EXPECT_EQ(formatEntryEnabled({volume}, false), c.drive);
    }
}

class DriveAccess : public ::testing::Test {
protected:
    QTemporaryDir dir_;
    std::string drive() const { return dir_.path().toStdString() + "/CARD"; }
    static bool exists(const std::string& path) { return fs::exists(path); }
};

TEST_F(DriveAccess, WritableDriveKeepsOnlyTheFolder)
{
    fs::create_directory(drive());
    VirtualVolumeSystem volumes;
    volumes.addVolume(drive(), "CARD", 1ULL << 30, 1ULL << 29);
    const DriveAccessResult result = testDriveWriteAccess(drive(), volumes);
    EXPECT_TRUE(result.granted()) << result.reason;
    EXPECT_TRUE(fs::is_directory(drive() + "/Tonvale"));
    EXPECT_FALSE(exists(drive() + "/Tonvale/.tonvale_access_test"));
}

TEST_F(DriveAccess, MissingDriveCreatesNothing)
{
    VirtualVolumeSystem volumes;  // the folder is on the system root only
    fs::create_directory(drive());
    EXPECT_EQ(testDriveWriteAccess(drive(), volumes).status, DriveAccessResult::Status::Missing);
    EXPECT_FALSE(exists(drive() + "/Tonvale"));

    // Mounted, but the drive folder (an unmounted card's mount point) is gone.
    volumes.addVolume(dir_.path().toStdString(), "", 1ULL << 30, 1ULL << 29);
    const std::string unmounted = dir_.path().toStdString() + "/GONE";
    EXPECT_EQ(testDriveWriteAccess(unmounted, volumes).status, DriveAccessResult::Status::Missing);
    EXPECT_FALSE(exists(unmounted));
    EXPECT_NE(driveMissingText(unmounted).find("not mounted"), std::string::npos);
}

TEST_F(DriveAccess, ReadOnlyMountIsRefused)
{
    fs::create_directory(drive());
    if (geteuid() == 0) {
        // Root ignores file modes: only a read-only mount refuses it.
        if (::mount("tonvale-ro", drive().c_str(), "tmpfs", MS_RDONLY, "size=1m") != 0)
            GTEST_SKIP() << "SKIPPED: cannot mount a read-only tmpfs here (" << std::strerror(errno) << ")";
    } else {
        fs::permissions(drive(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    VirtualVolumeSystem volumes;
    volumes.addVolume(drive(), "CARD", 1ULL << 30, 1ULL << 29).readOnly = true;
    const DriveAccessResult result = testDriveWriteAccess(drive(), volumes);
    if (geteuid() == 0)
        ::umount(drive().c_str());
    else
        fs::permissions(drive(), fs::perms::owner_all);
    EXPECT_EQ(result.status, DriveAccessResult::Status::NotWritable) << result.reason;
    EXPECT_FALSE(exists(drive() + "/Tonvale"));
    const std::string advice = driveAccessAdvice(drive(), result.reason);
    EXPECT_NE(advice.find("Cannot access external drive:\n" + drive()), std::string::npos);
    EXPECT_EQ(advice.find("macOS"), std::string::npos);
}

} // namespace

namespace {

TEST(BackupDriveAlarm, RaisedOnceStaysThroughTheTakeAndIsAcknowledged)
{
    using Poll = BackupDriveAlarm::Poll;
    BackupDriveAlarm alarm(1);
    const std::string card = "/media/u/CARD";
    struct Step {
        const char* what;
        Poll poll;
        bool raised;
        const char* log;
    };
    const Step steps[] = {
        {"present", {card, true, true, false, true}, false, ""},
        {"pulled during a take", {card, false, true, false, true}, true, "External drive 1 not accessible: /media/u/CARD"},
        {"still gone: no second line", {card, false, true, true, true}, true, ""},
        {"back, take still running", {card, true, true, false, true}, true, ""},
        {"take stopped, engine still reports", {card, true, true, true, false}, true, ""},
        {"engine clear", {card, true, true, false, false}, false, ""},
        {"engine error on a present drive", {card, true, true, true, false}, true, "External drive 1 error detected"},
        {"path unset clears", {"", false, true, true, false}, false, ""},
        {"no engine, drive missing", {card, false, false, false, false}, true,
         "External drive 1 not accessible: /media/u/CARD"},
        {"no engine, drive back", {card, true, false, false, false}, false, ""},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(alarm.refresh(step.poll), step.log) << step.what;
        EXPECT_EQ(alarm.raised(), step.raised) << step.what;
    }

    BackupDriveAlarm second(2);
    EXPECT_EQ(second.refresh({card, true, true, true, true}), "External drive 2 error detected");
    EXPECT_TRUE(second.acknowledge());
    EXPECT_FALSE(second.raised());
    EXPECT_FALSE(second.acknowledge());
}

} // namespace
