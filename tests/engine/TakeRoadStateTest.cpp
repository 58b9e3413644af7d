// The writer state machine and the take's edges on the stepped device:
// refused starts, post-roll cut short, stop during pre-roll, a stop at ring
// position 0, takes longer than the ring, a writer a whole ring behind,
// empty takes, armed tracks beyond the take, and renaming at close.

#include "TakeRoadSupport.h"

#include "core/ConfigManager.h"
#include "engine/take/TakeRename.h"
#include "media/BwfMetadataReader.h"
#include "support/ExternalTool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;

class TakeRoadStateTest : public TakeRoadTest {
protected:
    // Checks that a single-file take holds ring positions [from, from + frames)
    // of track `track` (the file's channel `channel`), faded at its end.
    void expectTrackFile(const std::string& path, int channel, int channels, int track, uint64_t from, int64_t frames)
    {
        const AudioFile file = readWithSndfile(path);
        ASSERT_TRUE(file.ok) << path;
        ASSERT_EQ(file.channels, channels);
        ASSERT_EQ(file.frames, frames);
        int64_t mismatches = 0;
        for (int64_t k = 0; k < frames; ++k)
            mismatches += file.at(k, channel) != expectedTrack(track, from + static_cast<uint64_t>(k)) * fadeGain(k, frames);
        EXPECT_EQ(mismatches, 0) << path;
    }
};

TEST_F(TakeRoadStateTest, StartIsRefusedUnlessIdleAndAStartDuringPostrollCutsItShort)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    engine_->setPostrollDuration(5);
    armTracks({1});
    step(kSecond / 4);
    const uint64_t start = writePosition();
    ASSERT_TRUE(engine_->startRecording());
    EXPECT_FALSE(engine_->isWriterDraining());

    // Recording: refused without a word.
    const int startLines = logCount("CoreAudio: Starting recording");
    EXPECT_FALSE(engine_->startRecording());
    EXPECT_EQ(logCount("CoreAudio: Starting recording"), startLines);
    EXPECT_EQ(engine_->getTakeStartRefusal(), "A take is already recording.");

    step(kSecond / 2);
    ASSERT_TRUE(engine_->stopRecording());
    const uint64_t stop = writePosition();
    EXPECT_TRUE(logHas("CoreAudio: Post-roll: 5s (240000 samples), endPos=" + std::to_string(stop + 5 * kSecond)));
    EXPECT_TRUE(engine_->isWriterDraining());
    EXPECT_FALSE(engine_->stopRecording()) << "no take runs any more";

    // Draining: refused, and the post-roll ends where the ring is now.
    step(kSecond / 4);
    const uint64_t cut = writePosition();
    EXPECT_FALSE(engine_->startRecording());
    EXPECT_TRUE(logHas("CoreAudio: Cancelled pending post-roll, endPos set to now (" + std::to_string(cut) + ")"));
    EXPECT_NE(engine_->getTakeStartRefusal().find("previous take"), std::string::npos);
    ASSERT_TRUE(waitUntilIdle());
    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 1u);
    expectTrackFile(files[0], 1, 2, 1, start, static_cast<int64_t>(cut - start));

    // The caller's retry succeeds once Idle.
    EXPECT_TRUE(engine_->startRecording());
    EXPECT_EQ(engine_->getTakeStartRefusal(), "");
    EXPECT_TRUE(engine_->stopRecording());
    engine_->cancelPendingPostroll();
    ASSERT_TRUE(waitUntilIdle());
}

TEST_F(TakeRoadStateTest, StopDuringPrerollEndsAtTheStopPositionWithTheFade)
{
    setUpTakeRoad(8, kFileFormatMono);
    engine_->setPrerollDuration(1);
    armTracks({0});
    step(2 * kSecond);
    engine_->holdRingWriterForTest(true);
    ASSERT_TRUE(engine_->startRecording());
    const uint64_t stop = writePosition();
    ASSERT_TRUE(engine_->stopRecording());
    EXPECT_TRUE(logHas("CoreAudio: No post-roll, endPos=" + std::to_string(stop)));
    engine_->holdRingWriterForTest(false);
    ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(10)));
    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 2u); // mix and track 1
    expectTrackFile(files[1], 0, 1, 0, stop - kSecond, static_cast<int64_t>(kSecond));
}

// Ring position 0 is a real end: a take started and stopped before any audio
// must end, not wait for an end that "0" would have meant never came.
TEST_F(TakeRoadStateTest, StopAtRingPositionZeroEndsTheTake)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    armTracks({0});
    ASSERT_EQ(writePosition(), 0u);
    ASSERT_TRUE(engine_->startRecording());
    ASSERT_TRUE(engine_->stopRecording());
    EXPECT_TRUE(logHas("CoreAudio: No post-roll, endPos=0"));
    ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(10)));
    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readWithSndfile(files[0]).frames, 0);
}

// A 3 s take through a 1 s ring: the writer keeps up, nothing is lost.
TEST_F(TakeRoadStateTest, TakeLongerThanTheRingIsComplete)
{
    setUpTakeRoad(1, kFileFormatPolyphonic);
    armTracks({3});
    step(kSecond / 8);
    const uint64_t start = writePosition();
    ASSERT_TRUE(engine_->startRecording());
    for (int i = 0; i < 24; ++i) {
        step(kSecond / 8);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (engine_->getRingWriterReadPosition() + 64 < writePosition() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    const uint64_t stop = writePosition();
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(10)));
    EXPECT_EQ(engine_->getDroppedSamples(), 0);
    EXPECT_GT(stop - start, 3 * kSecond - 1);
    expectTrackFile(engine_->getLastClosedTakeFiles().at(0), 1, 2, 3, start, static_cast<int64_t>(stop - start));
}

// A writer held back gives up the oldest frames once the device could be
// overwriting what it copies: a whole ring behind, or nearly (within a chunk
// and two of the largest blocks). It resumes half a ring behind and counts
// the loss in frames, one per lost frame position whatever the layout.
TEST_F(TakeRoadStateTest, WriterARingBehindSkipsAheadAndCountsTheLoss)
{
    const struct {
        const char* name;
        int fileFormat;
        uint64_t heldFrames;
        size_t trackFourFile;
        int trackFourChannel;
        int channels;
    } cases[] = {
        {"polyphonic, 2.5 rings behind", kFileFormatPolyphonic, 5 * kSecond / 2, 0, 2, 3}, // mix and two tracks
        {"polyphonic, 0.8 ring behind", kFileFormatPolyphonic, 4 * kSecond / 5, 0, 2, 3},
        {"mono, 2.5 rings behind", kFileFormatMono, 5 * kSecond / 2, 2, 0, 1}, // mix, track 0, track 4
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setUpTakeRoad(1, c.fileFormat);
        armTracks({0, 4});
        engine_->holdRingWriterForTest(true);
        const uint64_t start = writePosition();
        ASSERT_TRUE(engine_->startRecording());
        step(c.heldFrames);
        const uint64_t stop = writePosition();
        ASSERT_TRUE(engine_->stopRecording());
        engine_->holdRingWriterForTest(false);
        ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(10)));
        const uint64_t lost = stop - kSecond / 2 - start;
        EXPECT_TRUE(logHas("CoreAudio: WARNING - Ring writer fell behind! Skipping ahead. Lost " + std::to_string(lost)
                           + " frames"));
        EXPECT_EQ(engine_->getDroppedSamples(), static_cast<int64_t>(lost));
        expectTrackFile(engine_->getLastClosedTakeFiles().at(c.trackFourFile), c.trackFourChannel, c.channels, 4,
                        stop - kSecond / 2, static_cast<int64_t>(kSecond / 2));
    }
}

// Takes that would record nothing are refused with a reason; nothing runs.
TEST_F(TakeRoadStateTest, EmptyTakesAreRefused)
{
    for (const int format : {kFileFormatPolyphonic, kFileFormatMono}) {
        SCOPED_TRACE(format);
        setUpTakeRoad(1, format);
        engine_->setBitbucketForTest(true);
        EXPECT_FALSE(engine_->startRecording());
        EXPECT_FALSE(engine_->isRecording());
        EXPECT_EQ(engine_->getWriterState(), WriterState::Idle);
        EXPECT_TRUE(logHas(format == kFileFormatPolyphonic ? "Refusing polyphonic take without channels"
                                                           : "Refusing mono take without files"));
        EXPECT_EQ(engine_->getTakeStartRefusal().rfind("Refusing", 0), 0u) << engine_->getTakeStartRefusal();
    }
}

// Every start that records nothing leaves a reason the window can show, and
// its log line; fields too long for a file name no longer refuse the take.
TEST_F(TakeRoadStateTest, RefusedStartsGiveTheirReason)
{
    setUpTakeRoad(1, kFileFormatPolyphonic);
    armTracks({0});
    step(kSecond / 4);
    const std::string recordings = home_.pathStd() + "/Recordings";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* reason; // empty: the take starts
        const char* log;
    };
    const Case cases[] = {
        {"save location is a file",
         [&] {
             std::ofstream(home_.pathStd() + "/plainfile") << "x";
             ConfigManager::getInstance()->setString("media.saveLocation", home_.pathStd() + "/plainfile");
         },
         "Failed to create recording directory: ", "CoreAudio: Failed to create recording directory: "},
        {"project folder blocked by a file",
         [&] {
             ConfigManager::getInstance()->setString("media.saveLocation", recordings);
             fs::create_directories(recordings);
             std::ofstream(recordings + "/Blocked") << "x";
             AudioEngineBase::RecordingMetadata m;
             m.project = "Blocked";
             engine_->setRecordingMetadata(m);
         },
         "Failed to create project directory: ", "CoreAudio: Failed to create project directory: "},
        {"300-character scene",
         [&] {
             AudioEngineBase::RecordingMetadata m;
             m.project = "My Film: Part 2";
             m.scene = std::string(300, 'S');
             engine_->setRecordingMetadata(m);
         },
         "", "CoreAudio: Recording started successfully"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        const bool started = engine_->startRecording();
        EXPECT_TRUE(logHas(c.log));
        if (std::string(c.reason).empty()) {
            EXPECT_TRUE(started) << engine_->getTakeStartRefusal();
            EXPECT_EQ(engine_->getTakeStartRefusal(), "");
            step(kSecond / 4);
            ASSERT_TRUE(engine_->stopRecording());
            engine_->cancelPendingPostroll();
            ASSERT_TRUE(waitUntilIdle());
            EXPECT_EQ(engine_->getLastClosedTakeFiles().size(), 1u);
        } else {
            EXPECT_FALSE(started);
            EXPECT_FALSE(engine_->isRecording());
            EXPECT_EQ(engine_->getTakeStartRefusal().rfind(c.reason, 0), 0u) << engine_->getTakeStartRefusal();
        }
    }
}

// Runs a program to its end through fork and exec; its standard output is
// returned when `capture` is set, else it goes to /dev/null like its errors.
// Not runTool: QProcess starts children with clone(CLONE_VM | CLONE_VFORK),
// past ThreadSanitizer's fork handling (it turns vfork into fork for this
// reason), and the child's intercepted calls then run in this process's
// memory as if this thread made them, which garbles the sanitizer's record
// of descriptors and of what happened before what.
struct ForkedRun {
    int exitCode = -1;
    std::string output;
};

ForkedRun runForked(const QString& program, const QStringList& arguments, bool capture = false)
{
    std::vector<std::string> args{program.toStdString()};
    for (const QString& argument : arguments)
        args.push_back(argument.toStdString());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        // A daemon the program leaves behind (the FUSE mount) must not hold
        // the pipe, or the read below would never end.
        ::dup2(capture ? out[1] : null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ForkedRun run;
    char buffer[256];
    for (;;) {
        const ssize_t got = pid > 0 ? ::read(out[0], buffer, sizeof buffer) : 0;
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        run.output.append(buffer, static_cast<size_t>(got));
    }
    ::close(out[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid > 0 && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

// An exFAT card image on a loop device through exfat-fuse (the kernel here
// may have no exFAT driver); empty when this machine cannot make one.
//
// A sanitizer that stops the run on a report ends it with _exit, and a
// timeout kills it: no destructor runs then, and the mount and the loop
// device would stay behind for good. So a guard process in a session of its
// own holds the read end of a pipe whose write end only this process has
// (close-on-exec). The destructor cleans up and tells the guard "done"; if
// this process ends any other way, the guard reads the end of the pipe and
// cleans up itself. It detaches the loop device only while that still holds
// our image, so a device number someone else reused is never touched.
struct ExfatCard {
    QString image, device, mountPoint;
    bool mounted = false;
    pid_t guard = -1;
    int guardPipe = -1;  // the write end

    explicit ExfatCard(const QString& folder) : image(folder + "/card.img"), mountPoint(folder + "/CARD")
    {
        if (geteuid() != 0 || findTool("mkfs.exfat").isEmpty() || findTool("mount.exfat-fuse").isEmpty() ||
            findTool("losetup").isEmpty() || !fs::exists("/dev/fuse") || !fs::exists("/dev/loop-control"))
            return;
        fs::create_directories(mountPoint.toStdString());
        std::ofstream(image.toStdString()).close();
        std::error_code error;
        fs::resize_file(image.toStdString(), 64 << 20, error);
        if (error || runForked(findTool("mkfs.exfat"), {image}).exitCode != 0)
            return;
        const ForkedRun attach = runForked(findTool("losetup"), {"--find", "--show", image}, true);
        if (attach.exitCode != 0)
            return;
        device = QString::fromStdString(attach.output).trimmed();
        if (!startGuard()) {
            runForked(findTool("losetup"), {"-d", device});
            device.clear();
            return;
        }
        mounted = runForked(findTool("mount.exfat-fuse"), {device, mountPoint}).exitCode == 0;
    }
    ~ExfatCard()
    {
        if (mounted)
            runForked(findTool("umount"), {mountPoint});
        if (!device.isEmpty())
            runForked(findTool("losetup"), {"-d", device});
        if (guard > 0) {
            const char done[] = "done\n";
            [[maybe_unused]] const ssize_t told = ::write(guardPipe, done, sizeof done - 1);
            ::close(guardPipe);
            int status = 0;
            while (::waitpid(guard, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }

    bool startGuard()
    {
        static const char* const kScript =
            "read answer\n"
            "[ \"$answer\" = done ] && exit 0\n"
            "umount \"$1\" 2>/dev/null || umount -l \"$1\" 2>/dev/null\n"
            "[ \"$(cat \"/sys/block/${2#/dev/}/loop/backing_file\" 2>/dev/null)\" = \"$(realpath \"$3\")\" ] && "
            "losetup -d \"$2\"\n"
            "rm -f \"$3\"\n";
        std::string mount = mountPoint.toStdString();
        std::string loop = device.toStdString();
        std::string file = image.toStdString();
        char shell[] = "/bin/sh";
        char dashC[] = "-c";
        char name[] = "exfat-card-guard";
        std::string script = kScript;
        char* argv[] = {shell, dashC, script.data(), name, mount.data(), loop.data(), file.data(), nullptr};
        int in[2];
        if (::pipe2(in, O_CLOEXEC) != 0)
            return false;
        guard = ::fork();
        if (guard == 0) {
            ::setsid();
            const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execv(shell, argv);
            ::_exit(127);
        }
        ::close(in[0]);
        if (guard < 0) {
            ::close(in[1]);
            return false;
        }
        guardPipe = in[1];
        return true;
    }
};

// Every character exFAT, FAT and NTFS refuse, and a trailing dot or space,
// in the project, roll and scene: the take lands on a real exFAT card and in
// a plain folder, and bext and iXML keep the text as typed.
TEST_F(TakeRoadStateTest, FieldsWithCharactersDrivesRefuseStillRecord)
{
    setUpTakeRoad(1, kFileFormatMono);
    armTracks({0});
    step(kSecond / 4);
    const ExfatCard card(home_.path());
    std::vector<std::string> roots = {home_.pathStd() + "/Virtual"};
    if (card.mounted)
        roots.push_back(card.mountPoint.toStdString());
    else
        std::cout << "[   NOTE   ] no exFAT card image here (needs root, loop devices, FUSE, exfatprogs and "
                     "exfat-fuse): only the plain folder is recorded to\n";
    const std::string refused = "\\/:*?\"<>|";
    for (const std::string& root : roots) {
        for (const char c : refused + "\t") {
            const std::string scene = std::string("1") + c + "A";
            SCOPED_TRACE(root + " scene " + scene);
            ConfigManager::getInstance()->setString("media.saveLocation", root);
            AudioEngineBase::RecordingMetadata m;
            m.project = "My Film: Part 2.";
            m.soundRoll = "R<1>.";
            m.scene = scene;
            m.notes = "note with | and ?";
            engine_->setRecordingMetadata(m);
            ASSERT_TRUE(engine_->startRecording()) << engine_->getTakeStartRefusal();
            step(kSecond / 8);
            ASSERT_TRUE(engine_->stopRecording());
            engine_->cancelPendingPostroll();
            ASSERT_TRUE(waitUntilIdle());
            const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
            ASSERT_EQ(files.size(), 2u);
            for (const std::string& file : files) {
                EXPECT_EQ(fs::path(file).parent_path(), fs::path(root + "/My Film_ Part 2_/R_1__"));
                const std::string name = fs::path(file).filename().string();
                EXPECT_EQ(name.find_first_of(refused + "\t"), std::string::npos) << name;
                const BwfMetadata read = BwfMetadataReader::readMetadata(file);
                EXPECT_EQ(read.project, m.project);
                EXPECT_EQ(read.scene, scene);
                EXPECT_EQ(read.tape, m.soundRoll);
                EXPECT_EQ(read.note, m.notes);
                EXPECT_GT(readWithSndfile(file).frames, 0);
            }
        }
    }
}

// Three routed tracks; track 5 armed as well: the take carries the mix and
// track 0 only, and the file gets exactly its two channels.
TEST_F(TakeRoadStateTest, ArmedTracksBeyondTheTakeAreMasked)
{
    setUpTakeRoad(8, kFileFormatPolyphonic, VirtualAudioSystem::Mode::Stepped, 3);
    armTracks({0, 5});
    const uint64_t start = writePosition();
    ASSERT_TRUE(engine_->startRecording());
    step(kSecond / 2);
    const uint64_t stop = writePosition();
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(10)));
    EXPECT_EQ(engine_->getWriteErrors(), 0);
    expectTrackFile(engine_->getLastClosedTakeFiles().at(0), 1, 2, 0, start, static_cast<int64_t>(stop - start));
}

// --- Renaming at close ---------------------------------------------------------

struct RenameCase {
    const char* what;
    int fileFormat;
    AudioEngineBase::RecordingMetadata atStart;
    AudioEngineBase::RecordingMetadata atStop;
    std::vector<std::string> expectedMiddles; // the name after the take name, per file
};

AudioEngineBase::RecordingMetadata meta(std::string project, std::string roll, std::string scene, std::string take)
{
    AudioEngineBase::RecordingMetadata m;
    m.project = std::move(project);
    m.soundRoll = std::move(roll);
    m.scene = std::move(scene);
    m.take = std::move(take);
    return m;
}

TEST_F(TakeRoadStateTest, FilesAreRenamedAtCloseWhenTheirNameFieldsChanged)
{
    const RenameCase cases[] = {
        {"scene 12 -> 12A", kFileFormatPolyphonic, meta("Project", "001", "12", "3"), meta("Project", "001", "12A", "3"),
         {"_Project_001_12A_T3.wav"}},
        {"take 3 -> 4, mono", kFileFormatMono, meta("Project", "001", "12", "3"), meta("Project", "001", "12", "4"),
         {"_Project_001_12_T4_00_MIX.wav", "_Project_001_12_T4_01_Track_1.wav"}},
        {"scene cleared", kFileFormatPolyphonic, meta("Project", "001", "7", "2"), meta("Project", "001", "", "2"),
         {"_Project_001_T2.wav"}},
        {"nothing changed", kFileFormatPolyphonic, meta("Project", "001", "7", "2"), meta("Project", "001", "7", "2"),
         {"_Project_001_7_T2.wav"}},
        // The token T3 inside the project and scene is not the take number.
        {"token elsewhere", kFileFormatPolyphonic, meta("T3Films", "001", "T3", "3"), meta("T3Films", "002", "T3", "3"),
         {"_T3Films_002_T3_T3.wav"}},
    };
    for (const RenameCase& c : cases) {
        SCOPED_TRACE(c.what);
        const int renamedBefore = logCount("CoreAudio: Renamed (metadata changed during record)");
        setUpTakeRoad(8, c.fileFormat);
        armTracks({0});
        engine_->setRecordingMetadata(c.atStart);
        ASSERT_TRUE(engine_->startRecording());
        step(kSecond / 10);
        engine_->setRecordingMetadata(c.atStop);
        ASSERT_TRUE(engine_->stopRecording());
        ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(10)));
        const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
        ASSERT_EQ(files.size(), c.expectedMiddles.size());
        for (size_t f = 0; f < files.size(); ++f) {
            const std::string name = fs::path(files[f]).filename().string();
            EXPECT_EQ(name.substr(7), c.expectedMiddles[f]);
            EXPECT_TRUE(fs::exists(files[f]));
            EXPECT_EQ(fs::path(files[f]).parent_path().filename().string(), c.atStart.soundRoll);
        }
        const int renamed = logCount("CoreAudio: Renamed (metadata changed during record)") - renamedBefore;
        EXPECT_EQ(renamed, std::string(c.what) == "nothing changed" ? 0 : static_cast<int>(files.size()));
    }
}

TEST(TakeRenameTest, OnlyTheStructuralFieldsAreRewritten)
{
    const TakeMetadata start{"T3", "T3", "T3", "3", "", {}};
    TakeMetadata stop = start;
    stop.take = "4";
    EXPECT_EQ(renamedTakeFileName("ABC0001_T3_T3_T3_T3.wav", start, effectiveStopMetadata(start, stop)),
              "ABC0001_T3_T3_T3_T4.wav");
    EXPECT_EQ(renamedTakeFileName("ABC0001_T3_T3_T3_T35.wav", start, stop), "") << "take 35 is another take";
    EXPECT_EQ(renamedTakeFileName("ABC0001_Other_T3_T3_T3.wav", start, stop), "") << "not this take's structure";
    stop.take.clear();
    EXPECT_EQ(effectiveStopMetadata(start, stop).take, "3");
}

}  // namespace
