// Marking a take false: which files are the last take's, and moving them into
// FALSETAKES without losing or changing a byte of any file.

#include "engine/take/FalseTakeMove.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FalseTakeMoveTest : public TempHomeTest {
protected:
    std::string folder() const { return home_.pathStd() + "/Feature/003"; }
    std::string falseFolder() const { return folder() + "/FALSETAKES"; }
    std::string inFolder(const std::string& name) const { return folder() + "/" + name; }

    void SetUp() override { fs::create_directories(folder()); }
    void TearDown() override
    {
        if (mounted_)
            ::umount(falseFolder().c_str());
        std::error_code ignored;
        fs::permissions(falseFolder(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }

    // A file of the take with its own bytes, last written `age` before `now`.
    std::string takeFile(const std::string& name, fs::file_time_type::duration age = 0s)
    {
        const std::string path = inFolder(name);
        writeFile(path, "RIFF bytes of " + name);
        fs::last_write_time(path, now_ - age);
        return path;
    }

    // A tmpfs over FALSETAKES: another file system, read-only or not. Only
    // root may mount; false (and the test skips) where it cannot.
    bool mountFalseFolder(bool readOnly)
    {
        if (::geteuid() != 0)
            return false;
        fs::create_directories(falseFolder());
        mounted_ = ::mount("tonvale-falsetakes", falseFolder().c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
                           "size=1m") == 0;
        return mounted_;
    }

    const fs::file_time_type now_ = fs::file_time_type::clock::now();
    bool mounted_ = false;
};

// Which files a false take moves: the engine's own list while it still
// names files of this folder; else the newest file and the others of the
// minute before it (never hidden files, other extensions or folders).
TEST_F(FalseTakeMoveTest, TheLastTakesFilesAreTheEnginesOrTheNewestOfTheFolder)
{
    const std::string boom = takeFile("ABC0005_Feature_003_T05_Boom.wav", 2s);
    const std::string mix = takeFile("ABC0005_Feature_003_T05_MIX.wav", 2s);
    const std::string upper = takeFile("ABC0004_Feature_003_T04.WAV", 50s);
    takeFile("ABC0003_Feature_003_T03.wav", 60s);
    takeFile(".ABC0006_Feature_003_T06.wav", 1s);
    takeFile("notes.txt", 1s);
    fs::create_directories(inFolder("folder.wav"));
    fs::create_directories(falseFolder());
    const std::string moved = falseFolder() + "/F-ABC0002_Feature_003_T02.wav";
    writeFile(moved, "x");

    struct Case {
        const char* name;
        std::vector<std::string> closed;
        fs::file_time_type::duration later;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> minute = {boom, mix, upper};
    const Case cases[] = {
        {"the engine's files, in its order", {mix, boom}, 0s, {mix, boom}},
        {"one of them gone", {mix, inFolder("gone.wav")}, 0s, minute},
        {"one of them already moved", {boom, moved}, 0s, minute},
        {"no list from the engine", {}, 0s, minute},
        {"only old files: the newest alone", {}, 10min, {boom}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lastTakeFiles(folder(), c.closed, now_ + c.later), c.expected) << c.name;
}

// Each case moves a take of two tracks and a mix; every file ends in exactly
// one place with the bytes it was recorded with.
TEST_F(FalseTakeMoveTest, MovesEachFileOrLeavesItWhereItWas)
{
    enum class Setup { Plain, SourceGone, NameTaken, DestinationReadOnly, DestinationOtherFileSystem };
    struct Case {
        const char* name;
        Setup setup;
        int expectedMoved;
    };
    const Case cases[] = {
        {"tracks and mix", Setup::Plain, 3},
        {"a file gone before the move", Setup::SourceGone, 2},
        {"a name already in FALSETAKES", Setup::NameTaken, 2},
        {"FALSETAKES cannot be written", Setup::DestinationReadOnly, 0},
        {"FALSETAKES on another file system", Setup::DestinationOtherFileSystem, 3},
    };
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        fs::create_directories(folder());
        const std::vector<std::string> files = {takeFile("ABC0007_Feature_003_T07_Boom.wav"),
                                                takeFile("ABC0007_Feature_003_T07_Lav.wav"),
                                                takeFile("ABC0007_Feature_003_T07_MIX.wav")};
        std::vector<std::string> bytes;
        for (const std::string& file : files)
            bytes.push_back(readFile(file));
        const std::string takenTarget = falseFolder() + "/F-ABC0007_Feature_003_T07_Boom.wav";
        switch (c.setup) {
        case Setup::Plain:
            break;
        case Setup::SourceGone:
            fs::remove(files[1]);
            break;
        case Setup::NameTaken:
            fs::create_directories(falseFolder());
            writeFile(takenTarget, "an earlier false take");
            break;
        case Setup::DestinationReadOnly:
            if (::geteuid() == 0) {
                // Root ignores file modes: only a read-only mount refuses it.
                if (!mountFalseFolder(true)) {
                    skipped += std::string(c.name) + " (no read-only tmpfs: " + std::strerror(errno) + ") ";
                    continue;
                }
            } else {
                fs::create_directories(falseFolder());
                fs::permissions(falseFolder(), fs::perms::owner_read | fs::perms::owner_exec);
            }
            break;
        case Setup::DestinationOtherFileSystem:
            if (!mountFalseFolder(false)) {
                skipped += std::string(c.name) + " (no tmpfs: "
                           + (::geteuid() == 0 ? std::strerror(errno) : "only root may mount") + ") ";
                continue;
            }
            break;
        }

        const FalseTakeMoveResult result = moveToFalseTakes(folder(), files);

        EXPECT_EQ(result.movedCount(), c.expectedMoved);
        ASSERT_EQ(result.files.size(), files.size());
        const std::string log = home_.logText();
        for (size_t i = 0; i < files.size(); ++i) {
            const FalseTakeFileMove& move = result.files[i];
            EXPECT_EQ(move.sourcePath, files[i]);
            EXPECT_EQ(move.targetPath, falseFolder() + "/F-" + fs::path(files[i]).filename().string());
            const bool gone = c.setup == Setup::SourceGone && i == 1;
            if (move.moved) {
                EXPECT_FALSE(fs::exists(files[i])) << files[i];
                EXPECT_EQ(readFile(move.targetPath), bytes[i]) << move.targetPath;
                EXPECT_TRUE(move.error.empty());
                EXPECT_NE(log.find("Moved false take: " + files[i] + " -> " + move.targetPath), std::string::npos);
            } else {
                EXPECT_FALSE(move.error.empty()) << files[i];
                if (!gone) {
                    EXPECT_EQ(readFile(files[i]), bytes[i]) << files[i];
                }
                if (move.targetPath != takenTarget) {
                    EXPECT_FALSE(fs::exists(move.targetPath)) << "no partial copy";
                }
                EXPECT_NE(log.find("Failed to move false take: " + files[i]), std::string::npos);
            }
        }
        if (c.setup == Setup::NameTaken) {
            EXPECT_FALSE(result.files[0].moved);
            EXPECT_EQ(readFile(takenTarget), "an earlier false take");
        }
        if (mounted_) {
            ::umount(falseFolder().c_str());
            mounted_ = false;
        }
        std::error_code ignored;
        fs::permissions(falseFolder(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    if (!skipped.empty())
        GTEST_SKIP() << "SKIPPED: " << skipped;
}

// The folder is made even when nothing is left to move, as the window has
// always done.
TEST_F(FalseTakeMoveTest, MakesTheFolderEvenWithNothingToMove)
{
    fs::remove_all(folder());
    EXPECT_EQ(moveToFalseTakes(folder(), {}).movedCount(), 0);
    EXPECT_TRUE(fs::is_directory(falseFolder()));
}

} // namespace
