// The exFAT format run: the programs it starts and with what, how a failure,
// a hang and a missing kernel driver end, and, as root with loop devices, a
// real card image checked by exfatprogs' own tools.

#include "platform/volumes/ExfatFormatter.h"
#include "platform/volumes/VirtualVolumeSystem.h"
#include "support/ExternalTool.h"
#include "support/StandInPrograms.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>
#include <vector>

namespace {

class ExfatFormatterFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        root_ = dir_.path() + "/volumes";
        QDir().mkpath(root_ + "/CARD");
        setVolumesRoots({root_.toStdString()});
    }
    void TearDown() override { setVolumesRoots(defaultVolumesRoots()); }

    MountedVolume card() const
    {
        MountedVolume volume;
        volume.rootPath = (root_ + "/CARD").toStdString();
        volume.name = "CARD";
        volume.device = "/dev/sdz1";
        return volume;
    }

    QTemporaryDir dir_;
    StandInPrograms fakes_{dir_.path()};
    QString root_;
};

TEST_F(ExfatFormatterFake, UnmountsErasesWithTheLabelAndMountsBesideIt)
{
    ExfatFormatter formatter(
        {fakes_.make("umount", 0), fakes_.make("mkfs", 0), fakes_.make("mount", 0), fakes_.make("fuse", 0)});
    const ExfatFormatter::Result result = formatter.format(card());
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(result.mountedPath, (root_ + "/Tonvale").toStdString());
    EXPECT_TRUE(QDir(root_ + "/Tonvale").exists());
    const QString card = root_ + "/CARD";
    EXPECT_EQ(fakes_.calls(), (QStringList{"umount " + card, "mkfs -L Tonvale /dev/sdz1",
                                    "mount -t exfat /dev/sdz1 " + root_ + "/Tonvale"}));
}

TEST_F(ExfatFormatterFake, FailuresStopTheRunAndSayWhy)
{
    struct Case {
        const char* what;
        int umountExit, mkfsExit, mountExit, fuseExit;
        bool ok, erased;
        int callCount;
        const char* reasonPart;
        int stepsEntered;  // the steps the observer was told of: unmount, erase, mount
    };
    const Case cases[] = {
        {"busy card", 32, 0, 0, 0, false, false, 1, "exit code 32", 1},
        {"mkfs fails", 0, 1, 0, 0, false, true, 2, "exit code 1", 2},
        {"no kernel exfat: FUSE mounts", 0, 0, 32, 0, true, true, 4, "", 3},
        {"neither mount works", 0, 0, 32, 1, false, true, 4, "could not be mounted", 3},
    };
    using Step = ExfatFormatter::Step;
    const std::vector<Step> allSteps = {Step::Unmount, Step::Erase, Step::Mount};
    for (const Case& c : cases) {
        QFile::remove(fakes_.callLog());
        ExfatFormatter formatter({fakes_.make("umount", c.umountExit), fakes_.make("mkfs", c.mkfsExit),
                                  fakes_.make("mount", c.mountExit), fakes_.make("fuse", c.fuseExit)});
        std::vector<Step> entered;
        formatter.setStepObserver([&](Step step) {
            // Told before the step's program runs, never after.
            EXPECT_EQ(fakes_.calls().size(), static_cast<qsizetype>(entered.size())) << c.what;
            entered.push_back(step);
        });
        const ExfatFormatter::Result result = formatter.format(card());
        EXPECT_EQ(entered, std::vector<Step>(allSteps.begin(), allSteps.begin() + c.stepsEntered)) << c.what;
        EXPECT_EQ(result.ok, c.ok) << c.what << ": " << result.reason;
        EXPECT_EQ(result.erased, c.erased) << c.what;
        EXPECT_EQ(fakes_.calls().size(), c.callCount)
            << c.what << ": " << fakes_.calls().join(" | ").toStdString();
        EXPECT_NE(result.reason.find(c.reasonPart), std::string::npos) << c.what << ": " << result.reason;
        if (!c.ok) {
            EXPECT_EQ(ExfatFormatter::failureText("/m/CARD", result.reason),
                      "Failed to format /m/CARD.\n\nThe volume may be in use, or Tonvale may lack the rights to "
                      "unmount and format it.\n\n" + result.reason) << c.what;
        }
    }
}

TEST_F(ExfatFormatterFake, AHungStepIsKilledAndFails)
{
    ExfatFormatter formatter(
        {fakes_.make("umount", 0), fakes_.make("mkfs", 0, true), fakes_.make("mount", 0), fakes_.make("fuse", 0)});
    formatter.setTimeouts(300, 500);
    QElapsedTimer clock;
    clock.start();
    const ExfatFormatter::Result result = formatter.format(card());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.reason.find("still running after 500 ms"), std::string::npos) << result.reason;
    EXPECT_LT(clock.elapsed(), 10'000);  // not the fake's 30 s
    EXPECT_EQ(fakes_.calls().size(), 2);

    ExfatFormatter missing({(dir_.path() + "/no-such-program").toStdString(), "", "", ""});
    const ExfatFormatter::Result notStarted = missing.format(card());
    EXPECT_FALSE(notStarted.ok);
    EXPECT_NE(notStarted.reason.find("could not be started"), std::string::npos) << notStarted.reason;
}

TEST_F(ExfatFormatterFake, RefusesWhatIsNoExternalDriveAndDuringATake)
{
    ExfatFormatter formatter(
        {fakes_.make("umount", 0), fakes_.make("mkfs", 0), fakes_.make("mount", 0), fakes_.make("fuse", 0)});
    MountedVolume system = card();
    system.rootPath = "/";
    system.systemRoot = true;
    MountedVolume outside = card();
    outside.rootPath = dir_.path().toStdString() + "/elsewhere";
    MountedVolume noDevice = card();
    noDevice.device.clear();
    for (const MountedVolume& volume : {system, outside, noDevice}) {
        const ExfatFormatter::Result result = formatter.format(volume);
        EXPECT_FALSE(result.ok) << volume.rootPath;
        EXPECT_FALSE(result.reason.empty());
    }
    EXPECT_TRUE(fakes_.calls().isEmpty());

    bool recording = true;
    formatter.setTakeActiveCheck([&] { return recording; });
    const ExfatFormatter::Result refused = formatter.format(card());
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.reason.find("A take is recording"), std::string::npos) << refused.reason;
    EXPECT_TRUE(fakes_.calls().isEmpty());
    recording = false;
    EXPECT_TRUE(formatter.format(card()).ok);
    EXPECT_EQ(ExfatFormatter::mountPathFor("/media/u/CARD/"), "/media/u/Tonvale");
}

// A real 32 MiB card image on a loop device, mounted under a temporary root.
TEST(ExfatFormatterLoop, FormatsARealImageCheckedByExfatprogs)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root for loop devices and mounts";
    for (const char* tool : {"losetup", "mkfs.exfat", "exfatlabel", "fsck.exfat", "mount.exfat-fuse"})
        TONVALE_REQUIRE_TOOL(tool);
    if (!QFile::exists("/dev/loop-control") || !QFile::exists("/dev/fuse"))
        GTEST_SKIP() << "SKIPPED: no loop devices or no FUSE on this machine";

    QTemporaryDir dir;
    const QString image = dir.path() + "/card.img";
    {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(32 << 20));
    }
    const ToolResult attach = runTool("losetup", {"--find", "--show", image});
    if (attach.exitCode != 0)
        GTEST_SKIP() << "SKIPPED: losetup cannot attach an image here: " << attach.standardError.toStdString();
    const QString device = attach.standardOutput.trimmed();
    const QString root = dir.path() + "/volumes";
    const QString oldMount = root + "/OLDCARD";
    QDir().mkpath(oldMount);
    setVolumesRoots({root.toStdString()});
    // Whatever fails below, no mount or loop device outlives the test.
    struct Cleanup {
        QString root, oldMount, device;
        ~Cleanup()
        {
            runTool("umount", {root + "/Tonvale"});
            runTool("umount", {oldMount});
            runTool("losetup", {"-d", device});
            setVolumesRoots(defaultVolumesRoots());
        }
    } cleanup{root, oldMount, device};

    bool mounted = runTool("mkfs.exfat", {"-L", "OLDCARD", device}).exitCode == 0;
    mounted = mounted && (runTool("mount", {"-t", "exfat", device, oldMount}).exitCode == 0 ||
                          runTool("mount.exfat-fuse", {device, oldMount}).exitCode == 0);
    if (!mounted)
        GTEST_SKIP() << "SKIPPED: the image could not be mounted here (no exfat driver and no FUSE)";
    QFile old(oldMount + "/old-take.wav");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old data");
    old.close();

    MountedVolume volume;
    volume.rootPath = oldMount.toStdString();
    volume.device = device.toStdString();
    const ExfatFormatter::Result result = ExfatFormatter().format(volume);
    EXPECT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(result.mountedPath, (root + "/Tonvale").toStdString());
    EXPECT_FALSE(QFile::exists(root + "/Tonvale/old-take.wav"));

    runTool("umount", {root + "/Tonvale"});
    runTool("umount", {oldMount});
    const ToolResult label = runTool("exfatlabel", {device});
    EXPECT_TRUE(label.standardOutput.contains("Tonvale")) << label.standardOutput.toStdString()
                                                          << label.standardError.toStdString();
    const ToolResult check = runTool("fsck.exfat", {"-n", device});
    EXPECT_EQ(check.exitCode, 0) << check.standardOutput.toStdString() << check.standardError.toStdString();
}

} // namespace
