// Names of the two take layouts on a backup drive and the drive that a
// failed job's destination belongs to.
#include "backup/BackupLayoutNames.h"
#include "backup/BackupPartialFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(BackupLayoutNamesTest, MonoStemsGiveTakeKeyBaseNameAndTrackField)
{
    struct Case {
        const char* stem;
        bool valid;
        const char* key;
        const char* base;
        int track;
    };
    const Case cases[] = {
        {"A001_S12_T3_01_Boom", true, "_S12_T3", "A001_S12_T3", 1},
        {"A001_S12_T3_00_MIX", true, "_S12_T3", "A001_S12_T3", 0},
        {"ABC0001_Project_001_12A_T3_17_Lav", true, "_Project_001_12A_T3", "ABC0001_Project_001_12A_T3", 17},
        {"A_Take_01_x", true, "_Take", "A_Take", 1},
        {"A001_01_Boom", false, "", "", -1},  // no "_T"
        {"A_T3_1_X", false, "", "", -1},      // one digit
        {"A_T3_01", false, "", "", -1},       // no "_" after the digits
        {"A001_T01", false, "", "", -1},      // the converter's own mono names
        {"NoUnderscore", false, "", "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        const MonoTakeName name = parseMonoTakeName(c.stem);
        EXPECT_EQ(name.valid, c.valid);
        EXPECT_EQ(name.takeKey, c.key);
        EXPECT_EQ(name.baseName, c.base);
        EXPECT_EQ(name.trackField, c.track);
    }
    EXPECT_FALSE(findMonoTrackSeparator("A_T3_01_x", 100).has_value());
}

TEST(BackupLayoutNamesTest, MonoSuffixesNumberTracksFromT01)
{
    EXPECT_EQ(monoChannelSuffix(0, true), "MIX");
    EXPECT_EQ(monoChannelSuffix(1, true), "T01");
    EXPECT_EQ(monoChannelSuffix(10, true), "T10");
    EXPECT_EQ(monoChannelSuffix(11, true), "T11");
    // Without a mix channel 0 is the first track, never a MIX file.
    EXPECT_EQ(monoChannelSuffix(0, false), "T01");
    EXPECT_EQ(monoChannelSuffix(9, false), "T10");
}

TEST(BackupLayoutNamesTest, FailedJobMarksTheDriveWhoseRootHoldsItsFolder)
{
    struct Case {
        std::vector<std::string> roots;
        const char* destination;
        int drive;
    };
    const Case cases[] = {
        // A prefix of the text is not a parent folder: /Volumes/A does not hold /Volumes/AB.
        {{"/Volumes/A", "/Volumes/AB"}, "/Volumes/AB/Tonvale/P/001", 1},
        {{"/mnt/Backup", "/mnt/Backup2"}, "/mnt/Backup2/Tonvale/P/001", 1},
        {{"/mnt/Backup2", "/mnt/Backup"}, "/mnt/Backup/Tonvale/P/001", 1},
        {{"/mnt/Backup/"}, "/mnt/Backup/Tonvale/P/001", 0},
        // Nested roots: the longest wins.
        {{"/mnt", "/mnt/Backup"}, "/mnt/Backup/Tonvale/P/001", 1},
        {{"", "/mnt/B"}, "/mnt/B/Tonvale", 1},
        {{"", ""}, "/mnt/B/Tonvale", -1},
        {{"/mnt/C"}, "/mnt/B/Tonvale", -1},
        {{"/a", "/b", "/c", "/d", "/e", "/f", "/g", "/h", "/mnt/B"}, "/mnt/B/Tonvale", -1},  // beyond the eighth
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination);
        EXPECT_EQ(backupDriveForDestination(c.roots, c.destination), c.drive);
    }
}

TEST(BackupLayoutNamesTest, MetadataCarriedIntoTheConvertedRecord)
{
    BwfMetadata metadata;
    metadata.originator = "Tonvale";
    metadata.originationDate = "2026-12-10";
    metadata.originationTime = "18:00:01";
    metadata.timeReference = 123456789;
    metadata.bextVersion = 0;
    metadata.project = "Film";
    metadata.circled = true;
    metadata.tracks = {{1, "MIX", ""}};
    const BwfFileWriter::BextChunk chunk = bextFromMetadata(metadata);
    EXPECT_EQ(chunk.originationDate, "2026-12-10");
    EXPECT_EQ(chunk.originationTime, "18:00:01");
    EXPECT_EQ(chunk.timeReference, 123456789u);
    EXPECT_EQ(chunk.version, 1);
    EXPECT_EQ(chunk.project, "Film");
    EXPECT_TRUE(chunk.circled);
    EXPECT_TRUE(chunk.trackNames.empty());
}

TEST(BackupLayoutNamesTest, PartialNamesNeverCollide)
{
    const std::string first = makePartialPath("/drive/A.wav");
    const std::string second = makePartialPath("/drive/A.wav");
    EXPECT_NE(first, second);
    for (const std::string& partial : {first, second}) {
        EXPECT_EQ(partial.rfind("/drive/A.wav.", 0), 0u) << partial;
        EXPECT_EQ(partial.substr(partial.size() - 16), ".tonvale.partial");
    }
}

// A take's copies on a drive of either layout, found from the recording's
// file names. Each file draws its own leading name, so a take that shares
// project, roll, scene and take number with another (DCC0001 and DCC0002,
// both T3) is still told apart, and so is a neighbour (T3 beside T30).
TEST(BackupLayoutNamesTest, CopiesOfATakeAreFoundInEitherLayout)
{
    const std::string key = "_Day1_ Unit_R07_12_T3";
    EXPECT_EQ(takeStemsOfFile("DCC0001" + key + ".wav"), std::vector<std::string>{"DCC0001" + key});
    EXPECT_EQ(takeStemsOfFile("DCC0003" + key + "_01_Boom.WAV"),
              (std::vector<std::string>{"DCC0003" + key + "_01_Boom", "DCC0003" + key}));
    EXPECT_TRUE(takeStemsOfFile("notes.txt").empty());

    const std::vector<std::string> polyTake = takeStemsOfFile("DCC0001" + key + ".wav");
    std::vector<std::string> monoTake;
    for (const std::string& file : {"DCC0002" + key + "_00_MIX.wav", "DCC0003" + key + "_01_Boom.wav"}) {
        for (const std::string& stem : takeStemsOfFile(file))
            monoTake.push_back(stem);
    }
    struct Case {
        std::string name;
        bool ofPolyTake;
        bool ofMonoTake;
    };
    const Case cases[] = {
        {"DCC0001" + key + ".wav", true, false},          // the polyphonic file
        {"DCC0001" + key + ".WAV", true, false},
        {"DCC0001" + key + "_MIX.wav", true, false},      // split after the take
        {"DCC0001" + key + "_T12.wav", true, false},
        {"DCC0001" + key + "_02_Lav.wav", true, false},   // split live
        {"DCC0002" + key + "_00_MIX.wav", false, true},   // mono as recorded
        {"DCC0003" + key + "_01_Boom.wav", false, true},
        {"DCC0002" + key + ".wav", false, true},          // joined after the take
        {"DCC0004" + key + ".wav", false, false},         // another take, same number
        {"DCC0004" + key + "_01_Boom.wav", false, false},
        {"DCC0001" + key + "0.wav", false, false},        // take 30
        {"DCC0001" + key + "_Tape.wav", false, false},
        {"DCC0001" + key + "_T.wav", false, false},
        {"DCC0001" + key + ".wav.1.2.tonvale.partial", false, false},
        {"DCC0001" + key, false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isFileOfTake(c.name, polyTake), c.ofPolyTake);
        EXPECT_EQ(isFileOfTake(c.name, monoTake), c.ofMonoTake);
    }
    EXPECT_FALSE(isFileOfTake("DCC0001" + key + ".wav", {}));
}

TEST(BackupLayoutNamesTest, PartialNamesGiveBackTheirFinalName)
{
    struct Case {
        std::string name;
        const char* finalName;
    };
    const Case cases[] = {
        {std::filesystem::path(makePartialPath("/drive/A_T3.wav")).filename().string(), "A_T3.wav"},
        {"A_T3_01_Boom.wav.88123.4.tonvale.partial", "A_T3_01_Boom.wav"},
        {"A.b.wav.1.2.tonvale.partial", "A.b.wav"},
        {"A.wav.1.tonvale.partial", ""},       // one number field
        {"A.wav.x.2.tonvale.partial", ""},
        {"A.wav.1..tonvale.partial", ""},
        {"A.wav.tonvale.partial", ""},
        {".tonvale.partial", ""},
        {"A.wav", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(finalNameOfPartial(c.name), c.finalName);
    }
}

TEST(BackupLayoutNamesTest, BackupFolderMirrorsTheFolderBelowTheRecordingRoot)
{
    struct Case {
        const char* root;
        const char* folder;
        const char* drive;
        const char* expected;
    };
    const Case cases[] = {
        {"/rec", "/rec/Day1_ Unit/R07", "/media/B1", "/media/B1/Tonvale/Day1_ Unit/R07"},
        {"/rec/", "/rec/P/R07/", "/media/B1/", "/media/B1/Tonvale/P/R07"},
        {"/rec", "/rec/P/R07/FALSETAKES", "/media/B1", "/media/B1/Tonvale/P/R07/FALSETAKES"},
        {"/rec", "/rec/./P/../P/R07", "/media/B1", "/media/B1/Tonvale/P/R07"},
        {"/rec", "/rec", "/media/B1", "/media/B1/Tonvale"},
        {"/rec", "/record/P/R07", "/media/B1", ""},  // a name prefix is no parent folder
        {"/rec", "/other/P/R07", "/media/B1", ""},
        {"/rec", "/rec/../etc", "/media/B1", ""},
        {"", "/rec/P", "/media/B1", ""},
        {"/rec", "/rec/P", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.root) + " | " + c.folder);
        EXPECT_EQ(backupFolderFor(c.root, c.folder, c.drive), c.expected);
    }
}
