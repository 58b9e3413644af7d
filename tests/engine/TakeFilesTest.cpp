#include "engine/take/TakeFiles.h"

#include "core/ConfigManager.h"
#include "core/settings/MediaKeys.h"
#include "engine/take/TakeNaming.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::array<bool, kMaxTracks> armed(std::initializer_list<int> trackIndices)
{
    std::array<bool, kMaxTracks> flags{};
    for (int i : trackIndices)
        flags[i] = true;
    return flags;
}

std::array<std::string, kMaxTracks> defaultNames()
{
    std::array<std::string, kMaxTracks> names;
    for (int i = 0; i < kMaxTracks; ++i)
        names[i] = "Track_" + std::to_string(i + 1);
    return names;
}

TakeMetadata featureMetadata()
{
    TakeMetadata m;
    m.project = "Feature";
    m.soundRoll = "003";
    m.scene = "12A";
    m.take = "4";
    m.notes = "plane overhead";
    m.trackNames = {"Boom", "", "Lav Anna"};
    return m;
}

// Draws names the way the take start does: one per file, right before it.
std::vector<std::string> filePaths(const std::vector<TakeFilePlan>& plan, const std::string& folder,
                                   const TakeMetadata& metadata, int firstFileNumber, std::string* takeName = nullptr)
{
    std::vector<std::string> paths;
    int fileNumber = firstFileNumber;
    for (const TakeFilePlan& file : plan) {
        const std::string own = formatTakeName("ABC", fileNumber++);
        if (takeName && takeName->empty())
            *takeName = own;
        paths.push_back(takeFilePath(folder, own, metadata, file));
    }
    return paths;
}

TEST(TakeFilesTest, PolyphonicTakeOfTheExample)
{
    const TakeMetadata m = featureMetadata();
    const auto names = trackNameList(m.trackNames, defaultNames());
    const auto plan = planTakeFiles(TakeLayout::Polyphonic, names, armed({0, 2}), 8, false);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].role, TakeFileRole::Polyphonic);
    EXPECT_EQ(plan[0].channelCount, 3);
    EXPECT_EQ(plan[0].bextTrackNames, (std::vector<std::string>{"MIX", "Boom", "Lav Anna"}));
    const std::string folder = takeFolderPath("/rec", m.project, m.soundRoll);
    EXPECT_EQ(folder, "/rec/Feature/003");
    EXPECT_EQ(filePaths(plan, folder, m, 42), (std::vector<std::string>{"/rec/Feature/003/ABC0042_Feature_003_12A_T4.wav"}));
    EXPECT_EQ(takeBaseName("ABC0042", m), "ABC0042_Feature_003_12A_T4");
}

TEST(TakeFilesTest, MonoTakeOfTheExampleDrawsANamePerFile)
{
    const TakeMetadata m = featureMetadata();
    const auto names = trackNameList(m.trackNames, defaultNames());
    const auto plan = planTakeFiles(TakeLayout::Mono, names, armed({0, 2}), 8, false);
    std::string takeName;
    EXPECT_EQ(filePaths(plan, "/rec/Feature/003", m, 42, &takeName),
              (std::vector<std::string>{"/rec/Feature/003/ABC0042_Feature_003_12A_T4_00_MIX.wav",
                                        "/rec/Feature/003/ABC0043_Feature_003_12A_T4_01_Boom.wav",
                                        "/rec/Feature/003/ABC0044_Feature_003_12A_T4_03_Lav_Anna.wav"}));
    EXPECT_EQ(takeName, "ABC0042");
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0].role, TakeFileRole::MonoMix);
    EXPECT_EQ(plan[1].role, TakeFileRole::MonoTrack);
    // bext keeps the name as typed; only the file name is sanitised.
    EXPECT_EQ(plan[2].bextTrackNames, (std::vector<std::string>{"Lav Anna"}));
    for (const TakeFilePlan& f : plan)
        EXPECT_EQ(f.channelCount, 1);
}

TEST(TakeFilesTest, ChannelsAndSourcesPerLayout)
{
    struct Case {
        const char* what;
        TakeLayout layout;
        std::array<bool, kMaxTracks> armedTracks;
        int trackCount;
        bool noMix;
        std::vector<int> sources;        // trackIndex of each file
        std::vector<std::string> suffixes;
        std::vector<std::string> polyChannelNames;
    };
    const Case cases[] = {
        {"mono, tracks 2 and 5", TakeLayout::Mono, armed({1, 4}), 8, false, {-1, 1, 4},
         {"_00_MIX.wav", "_02_Track_2.wav", "_05_Track_5.wav"}, {}},
        {"mono, tracks 2 and 5, no mix", TakeLayout::Mono, armed({1, 4}), 8, true, {1, 4},
         {"_02_Track_2.wav", "_05_Track_5.wav"}, {}},
        {"mono, track 10", TakeLayout::Mono, armed({9}), 16, false, {-1, 9}, {"_00_MIX.wav", "_10_Track_10.wav"}, {}},
        {"mono, armed beyond the track count", TakeLayout::Mono, armed({1, 6}), 4, false, {-1, 1},
         {"_00_MIX.wav", "_02_Track_2.wav"}, {}},
        {"mono, no mix, nothing armed", TakeLayout::Mono, armed({}), 8, true, {}, {}, {}},
        {"polyphonic, no mix", TakeLayout::Polyphonic, armed({0, 31}), 32, true, {-1}, {".wav"},
         {"Track_1", "Track_32"}},
        {"polyphonic, mix only", TakeLayout::Polyphonic, armed({}), 8, false, {-1}, {".wav"}, {"MIX"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto plan = planTakeFiles(c.layout, defaultNames(), c.armedTracks, c.trackCount, c.noMix);
        std::vector<int> sources;
        std::vector<std::string> suffixes;
        for (const TakeFilePlan& f : plan) {
            sources.push_back(f.trackIndex);
            suffixes.push_back(f.suffix);
        }
        EXPECT_EQ(sources, c.sources);
        EXPECT_EQ(suffixes, c.suffixes);
        if (c.layout == TakeLayout::Polyphonic) {
            EXPECT_EQ(plan[0].bextTrackNames, c.polyChannelNames);
            EXPECT_EQ(plan[0].channelCount, static_cast<int>(c.polyChannelNames.size()));
        }
    }
}

TEST(TakeFilesTest, TrackNameSanitising)
{
    struct Case {
        const char* name;
        const char* safe;
    };
    const Case cases[] = {
        {"Lav Anna", "Lav_Anna"},
        {"Boom/Left?", "Boom_Left_"},
        {"a\"b*c/d:e<f>g?h\\i|j", "a_b_c_d_e_f_g_h_i_j"},
        {"M\xc3\xb6ller", "M\xc3\xb6ller"}, // non-ASCII bytes stay
        {"Plant-2.R", "Plant-2.R"},
        {"Tab\there", "Tab_here"},
        {"Lav.", "Lav_"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sanitizeTrackName(c.name), c.safe);
    }

    // The mono file name uses the sanitised name, the bext the name as typed.
    std::array<std::string, kMaxTracks> names = defaultNames();
    names[2] = "Boom/Left?";
    const auto plan = planTakeFiles(TakeLayout::Mono, names, armed({2}), 8, false);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[1].suffix, "_03_Boom_Left_.wav");
    EXPECT_EQ(plan[1].bextTrackNames, (std::vector<std::string>{"Boom/Left?"}));
}

TEST(TakeFilesTest, FolderNamesCannotEscapeTheirRoot)
{
    struct Case {
        const char* name;
        const char* safe;
    };
    const Case cases[] = {
        {"Feature", "Feature"},
        {"My Film: Part 2", "My Film_ Part 2"},
        {"a*b?c\"d<e>f|g", "a_b_c_d_e_f_g"},
        {"Caf\xc3\xa9", "Caf\xc3\xa9"},
        {"...", "___"},
        {"Day 2.", "Day 2_"},
        {"Day 2 ", "Day 2_"},
        {"v1.2", "v1.2"},
        {"..", "__"},
        {".", "_"},
        {"", "_"},
        {"../x", ".._x"},
        {"../../etc", ".._.._etc"},
        {"/etc", "_etc"},
        {"a/b", "a_b"},
        {"a\\b", "a_b"},
        {"line\nbreak", "line_break"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sanitizePathComponent(c.name), c.safe);
        const fs::path folder = fs::path(takeFolderPath("/rec", c.name, c.name)).lexically_normal();
        // Always exactly two levels below the root.
        EXPECT_EQ(folder.parent_path().parent_path(), fs::path("/rec"));
    }
}

TEST(TakeFilesTest, FileNamePartsStayInsideTheTakeFolder)
{
    TakeMetadata m;
    m.project = "../up";
    m.soundRoll = "a/b";
    m.scene = "1/2";
    m.take = "..";
    const TakeFilePlan poly = planTakeFiles(TakeLayout::Polyphonic, defaultNames(), armed({}), 8, false)[0];
    const fs::path path = takeFilePath("/rec/x/y", "ABC0001", m, poly);
    EXPECT_EQ(path.parent_path(), fs::path("/rec/x/y"));
    EXPECT_EQ(path.filename(), "ABC0001_.._up_a_b_1_2_T__.wav");
}

// Every lead byte is followed by as many continuation bytes as it announces.
bool wholeUtf8Characters(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

// A take file's name, and the backup side's partial name for it, stay within
// what a drive holds per name however long the fields are; the cut falls on a
// whole character and the bext keeps the text as typed.
TEST(TakeFilesTest, LongFieldsGiveNamesWithinTheNameLimit)
{
    const std::string euro = "\xe2\x82\xac"; // three bytes
    std::string longScene;
    for (int i = 0; i < 300; ++i)
        longScene += euro;
    struct Case {
        std::string project, soundRoll, scene, take, track;
    };
    const Case cases[] = {
        {"Feature", "003", std::string(300, 'S'), "4", "Boom"},
        {"Feature", "003", longScene, "4", longScene},
        {std::string(400, 'P'), std::string(300, 'R'), longScene, std::string(300, '7'), std::string(300, 'B')},
        {"Feature", "003", std::string(200, 'S'), "4", "Boom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene.size());
        TakeMetadata m;
        m.project = c.project;
        m.soundRoll = c.soundRoll;
        m.scene = c.scene;
        m.take = c.take;
        std::array<std::string, kMaxTracks> names = defaultNames();
        names[0] = c.track;
        for (TakeLayout layout : {TakeLayout::Polyphonic, TakeLayout::Mono}) {
            for (const TakeFilePlan& plan : planTakeFiles(layout, names, armed({0}), 8, false)) {
                const std::string name = fs::path(takeFilePath("/rec", "ABC0001", m, plan)).filename().string();
                EXPECT_LE(name.size() + kPartialSuffixRoomBytes, kMaxFileNameBytes) << name;
                EXPECT_EQ(name.rfind("ABC0001_", 0), 0u);
                EXPECT_NE(name.find("_T"), std::string::npos);
                EXPECT_TRUE(wholeUtf8Characters(name)) << name;
            }
        }
        const fs::path folder = takeFolderPath("/rec", c.project, c.soundRoll);
        EXPECT_LE(folder.filename().string().size(), kMaxFileNameBytes);
        EXPECT_LE(folder.parent_path().filename().string().size(), kMaxFileNameBytes);
        EXPECT_EQ(makeTakeBext(m, StartTimecodeResult{}, {}).scene, c.scene);
    }
    // A name that fits is not touched.
    TakeMetadata shortFields;
    shortFields.project = "Feature";
    shortFields.soundRoll = "003";
    shortFields.scene = std::string(100, 'S');
    shortFields.take = "4";
    EXPECT_EQ(takeBaseName("ABC0001", shortFields), "ABC0001_Feature_003_" + std::string(100, 'S') + "_T4");
}

TEST(TakeFilesTest, EmptySceneAndDefaults)
{
    const TakeMetadata m = withTakeDefaults(TakeMetadata{});
    EXPECT_EQ(m.project, "Project");
    EXPECT_EQ(m.soundRoll, "001");
    EXPECT_EQ(m.take, "01");
    EXPECT_EQ(m.scene, "");
    EXPECT_EQ(takeBaseName("ABC0001", m), "ABC0001_Project_001_T01");

    const std::string base = baseRecordingFolder("", std::string("/Users/x"));
    EXPECT_EQ(takeFolderPath(base, m.project, m.soundRoll), "/Users/x/Music/Tonvale Recordings/Project/001");
    EXPECT_EQ(baseRecordingFolder("", std::nullopt), "/tmp/Tonvale Recordings");
    EXPECT_EQ(baseRecordingFolder("", std::string()), "/tmp/Tonvale Recordings");
    EXPECT_EQ(baseRecordingFolder("/Volumes/Rec", std::string("/Users/x")), "/Volumes/Rec");

    const BwfFileWriter::BextChunk fields = makeTakeBext(m, StartTimecodeResult{}, {"MIX"});
    EXPECT_EQ(fields.originatorReference, "01");
}

TEST(TakeFilesTest, BextFieldsOfATake)
{
    const TakeMetadata m = featureMetadata();
    StartTimecodeResult tc;
    tc.takeOriginationDate = "2024-03-07";
    tc.takeOriginationTime = "10:00:01";
    tc.takeTimeReference = 1'728'048'000;
    tc.takeFrameRate = 29.97;
    tc.takeDropFrame = true;
    tc.takeTimestampSampleRate = 48048;
    const BwfFileWriter::BextChunk f = makeTakeBext(m, tc, {"MIX", "Boom"});
    EXPECT_EQ(f.description, "");
    EXPECT_EQ(f.originator, "Feature");
    EXPECT_EQ(f.originatorReference, "12A_4");
    EXPECT_EQ(f.originationDate, "2024-03-07");
    EXPECT_EQ(f.originationTime, "10:00:01");
    EXPECT_EQ(f.timeReference, 1'728'048'000u);
    EXPECT_EQ(f.version, 1);
    EXPECT_EQ(f.codingHistory, "");
    EXPECT_EQ(f.project, "Feature");
    EXPECT_EQ(f.scene, "12A");
    EXPECT_EQ(f.take, "4");
    EXPECT_EQ(f.tape, "003");
    EXPECT_EQ(f.note, "plane overhead");
    EXPECT_FALSE(f.circled);
    EXPECT_DOUBLE_EQ(f.frameRate, 29.97);
    EXPECT_TRUE(f.dropFrame);
    EXPECT_EQ(f.timestampSampleRate, 48048u);
    EXPECT_EQ(f.trackNames, (std::vector<std::string>{"MIX", "Boom"}));
}

TEST(TakeFilesTest, SettingsNormalised)
{
    struct Case {
        int fileFormat;
        int normalised;
        TakeLayout layout;
    };
    const Case cases[] = {
        {0, 0, TakeLayout::Polyphonic},
        {1, 1, TakeLayout::Mono},
        {2, 1, TakeLayout::Mono},
        {-1, 1, TakeLayout::Mono},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileFormat);
        EXPECT_EQ(normalizeFileFormat(c.fileFormat), c.normalised);
        EXPECT_EQ(takeLayoutForFileFormat(c.fileFormat), c.layout);
    }
    EXPECT_EQ(clampRollSeconds(45), 30);
    EXPECT_EQ(clampRollSeconds(-3), 0);
    EXPECT_EQ(clampRollSeconds(12), 12);
}

class TakeFoldersTest : public TempHomeTest {};

// The highest take of a scene in the roll folder, from every kind of take
// file name; other scenes, other projects and look-alikes do not count.
TEST_F(TakeFoldersTest, HighestRecordedTakeOfTheSceneInTheFolder)
{
    const fs::path folder = home_.pathStd() + "/Feature/003";
    fs::create_directories(folder);
    for (const char* name : {"ABC0001_Feature_003_12A_T01.wav", "ABC0002_Feature_003_12A_T02.wav",
                             "ABC0003_Feature_003_12A_T05_00_MIX.wav", "ABC0004_Feature_003_12A_T05_01_Boom.wav",
                             "ABC0005_Feature_003_12B_T09.wav", "ABC0006_Other_003_12A_T30.wav",
                             "ABC0007_Feature_003_12A_T07X.wav", "ABC0008_Feature_003_12A_T08.txt",
                             "ABC0009_Feature_003_T11.wav", "ABC0010_My Film_ Part 2_003_1_T04.wav"})
        std::ofstream(folder / name) << "x";
    struct Case {
        const char* project;
        const char* scene;
        int highest;
    };
    const Case cases[] = {
        {"Feature", "12A", 5}, {"Feature", "12B", 9}, {"Feature", "", 11}, {"Feature", "99", 0},
        {"Other", "12A", 30},  {"My Film: Part 2", "1", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.project) + "/" + c.scene);
        const TakeMetadata m{c.project, "003", c.scene, "02", "", {}};
        EXPECT_EQ(highestRecordedTake(folder.string(), m), c.highest);
    }
    EXPECT_EQ(highestRecordedTake((folder / "missing").string(), TakeMetadata{"Feature", "003", "12A", "1", "", {}}), 0);
}

TEST_F(TakeFoldersTest, TrackNamesFallBackToConfiguredNames)
{
    ConfigManager::getInstance()->setString("track.name.9", "Cello");
    const auto configured = configuredTrackNames();
    EXPECT_EQ(configured[0], "Track_1");
    EXPECT_EQ(configured[9], "Cello");
    EXPECT_EQ(configured[31], "Track_32");

    std::vector<std::string> fromMetadata(12);
    fromMetadata[0] = "Boom";
    fromMetadata[11] = "Plant";
    const auto names = trackNameList(fromMetadata, configured);
    EXPECT_EQ(names[0], "Boom");
    EXPECT_EQ(names[1], "Track_2");  // empty in the metadata
    EXPECT_EQ(names[9], "Cello");
    EXPECT_EQ(names[11], "Plant");
    EXPECT_EQ(names[20], "Track_21"); // beyond the metadata's list
}

TEST_F(TakeFoldersTest, BaseFolderFromConfigurationAndHome)
{
    EXPECT_EQ(baseRecordingFolder(), home_.pathStd() + "/Music/Tonvale Recordings");
    ConfigManager::getInstance()->setString(MediaKeys::kSaveLocation, home_.pathStd() + "/rec");
    EXPECT_EQ(baseRecordingFolder(), home_.pathStd() + "/rec");
}

TEST_F(TakeFoldersTest, CreatesFoldersAndReportsWhatIsInTheWay)
{
    const std::string base = home_.pathStd() + "/rec";
    const std::string folder = takeFolderPath(base, "../escape", "003");
    std::string logLine;
    ASSERT_TRUE(createTakeFolders(base, folder, logLine)) << logLine;
    EXPECT_TRUE(fs::is_directory(base + "/.._escape/003"));
    EXPECT_FALSE(fs::exists(home_.pathStd() + "/escape"));
    // An existing folder is no error.
    EXPECT_TRUE(createTakeFolders(base, folder, logLine));

    const std::string blockedBase = home_.pathStd() + "/file";
    std::ofstream(blockedBase) << "x";
    EXPECT_FALSE(createTakeFolders(blockedBase, blockedBase + "/P/001", logLine));
    EXPECT_EQ(logLine.rfind("CoreAudio: Failed to create recording directory: ", 0), 0u) << logLine;

    std::ofstream(base + "/Blocked") << "x";
    EXPECT_FALSE(createTakeFolders(base, takeFolderPath(base, "Blocked", "001"), logLine));
    EXPECT_EQ(logLine.rfind("CoreAudio: Failed to create project directory: ", 0), 0u) << logLine;
}

TEST_F(TakeFoldersTest, MonoTakeDrawsConsecutiveNamesFromTheCounter)
{
    const TakeMetadata m = featureMetadata();
    const auto plan = planTakeFiles(TakeLayout::Mono, trackNameList(m.trackNames, defaultNames()), armed({0, 2}), 8,
                                    false);
    std::vector<std::string> fileNames;
    for (const TakeFilePlan& file : plan)
        fileNames.push_back(fs::path(takeFilePath("/rec", generateTakeName("ABC"), m, file)).filename());
    EXPECT_EQ(fileNames, (std::vector<std::string>{"ABC0001_Feature_003_12A_T4_00_MIX.wav",
                                                   "ABC0002_Feature_003_12A_T4_01_Boom.wav",
                                                   "ABC0003_Feature_003_12A_T4_03_Lav_Anna.wav"}));
    EXPECT_EQ(ConfigManager::getInstance()->getInt(MediaKeys::kFileNumber, 0), 4);
}

} // namespace
