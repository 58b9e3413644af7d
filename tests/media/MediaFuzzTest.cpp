// Random mutations of real files through the header parsing of the reader,
// the repairer, the metadata reader and the metadata editor: every input is
// either refused with a reason or read within the file, and an edit writes
// only inside a bext or iXML body that lies wholly in the file. Run under the asan preset to catch reads out of bounds.
// Inputs that once crashed are kept in fuzz-regressions/ and replayed.
// For a longer hunt set TONVALE_FUZZ_ROUNDS (and TONVALE_FUZZ_SEED for fresh
// inputs); CI runs the fixed default.

#include "MediaTestFiles.h"
#include "UnclosedTakeFixture.h"
#include "MetadataTestFiles.h"
#include "WavBytes.h"
#include "media/BwfMetadataReader.h"
#include "media/BwfMetadataWriter.h"
#include "media/RF64Repairer.h"
#include "media/WavFileReader.h"
#include "support/ExternalTool.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

constexpr int kMutationRounds = 3000;
constexpr uint32_t kSeed = 20240611;

unsigned long settingFromEnvironment(const char* name, unsigned long fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return (*end == '\0' && value > 0) ? value : fallback;
}

// Opens, reads everything and checks that what was read lies inside the file.
void exercise(const std::string& path, size_t fileSize)
{
    WavFileReader reader;
    if (!reader.open(path)) {
        EXPECT_FALSE(reader.getLastError().empty());
        return;
    }
    const int64_t frameBytes = int64_t{reader.getChannels()} * reader.getBitsPerSample() / 8;
    ASSERT_GT(frameBytes, 0);
    ASSERT_LE(reader.getDataStartOffset() + reader.getTotalFrames() * frameBytes, static_cast<int64_t>(fileSize));
    std::vector<float> block(static_cast<size_t>(reader.getChannels()) * 4096);
    int64_t total = 0;
    for (int got; (got = reader.readFrames(block.data(), 4096, 0)) > 0;)
        total += got;
    EXPECT_EQ(total, reader.getTotalFrames());
}

void repairAndRead(const std::string& folder, const std::string& path, size_t fileSize)
{
    RF64Repairer repairer;
    for (const auto& found : repairer.scanDirectory(folder, false)) {
        if (found.canRepair) {
            EXPECT_TRUE(repairer.repairFile(found.path)) << repairer.getLastError();
            EXPECT_GE(found.sampleFrames, 1);
        } else {
            EXPECT_FALSE(repairer.repairFile(found.path));
            EXPECT_FALSE(repairer.getLastError().empty());
        }
    }
    exercise(path, fileSize);
}

// [first, last) byte ranges an edit may write: bodies of bext and iXML
// chunks that lie wholly in the file, as the chunk walk finds them.
std::vector<std::pair<int64_t, int64_t>> editableBodies(const std::string& path, size_t fileSize)
{
    std::vector<std::pair<int64_t, int64_t>> bodies;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bodies;
    RiffChunkWalker walker(file, static_cast<int64_t>(fileSize));
    const BwfMetadataReader::WaveForm form = BwfMetadataReader::readWaveForm(walker);
    for (const char* id : {"bext", "iXML"}) {
        RiffChunkWalker::Chunk chunk;
        if (form.isWave && BwfMetadataReader::findChunk(walker, form, id, chunk) && walker.bodyFits(chunk))
            bodies.emplace_back(chunk.bodyOffset, chunk.bodyOffset + int64_t{chunk.size});
    }
    std::fclose(file);
    return bodies;
}

// Reads the metadata, then asks for an edit of every kind; whatever the
// result, the bytes that changed lie in an editable body.
void readAndEditMetadata(const std::string& path, const std::vector<uint8_t>& bytes)
{
    BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
    EXPECT_EQ(wanted.fileSize, bytes.size());
    const auto bodies = editableBodies(path, bytes.size());
    wanted.scene = "S";
    wanted.note = "n & <m>";
    wanted.project = "P";
    wanted.circled = !wanted.circled;
    wanted.wildTrack = !wanted.wildTrack;
    wanted.timeReference = 1234567;
    if (!wanted.tracks.empty())
        wanted.tracks[0].name = "T";
    std::string reason;
    if (!BwfMetadataWriter::writeMetadata(path, wanted, reason)) {
        EXPECT_FALSE(reason.empty());
    }
    const std::vector<uint8_t> after = readFileBytes(path);
    ASSERT_EQ(after.size(), bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (after[i] == bytes[i])
            continue;
        const auto offset = static_cast<int64_t>(i);
        const bool inBody = std::any_of(bodies.begin(), bodies.end(),
                                        [offset](const auto& body) { return offset >= body.first && offset < body.second; });
        ASSERT_TRUE(inBody) << "byte " << i << " changed outside a bext or iXML body";
    }
}

std::vector<std::vector<uint8_t>> seedFiles(const QTemporaryDir& dir)
{
    std::vector<std::vector<uint8_t>> seeds;
    TakeLayout take;
    take.noteBytes = 300;
    take.ixmlBytes = 301;
    seeds.push_back(unclosedTakeBytes(take, 50));
    seeds.push_back(WavBytes::form(false).chunk("LIST", "abc").fmt(1, 2, 48000, 16).id("data").u32(40)
                        .raw(std::vector<uint8_t>(40, 0x55)).bytes);
    seeds.push_back(WavBytes::form(true, 48).fmt(3, 3, 44100, 32).id("data").u32(0xFFFFFFFFu)
                        .raw(std::vector<uint8_t>(48, 0x3F)).bytes);
    // Our own take with room after its iXML document, as the editor finds it.
    const std::string ourTake = dir.path().toStdString() + "/take.wav";
    BwfFileWriter::BextChunk record;
    record.scene = "1";
    record.note = "note";
    record.timeReference = 48000;
    record.frameRate = 25.0;
    record.timestampSampleRate = 48000;
    record.trackNames = {"MIX", "Boom"};
    if (writeMetadataTake(ourTake, record, 48000, 2, BwfFileWriter::Int16))
        seeds.push_back(withSpareBytes(readFileBytes(ourTake), "iXML", 64));
    // Tool-made files, cut to their first few kilobytes.
    const QString source = dir.path() + "/source.wav";
    if (runTool("sox", {"-n", "-r", "48000", "-c", "3", "-b", "24", source, "synth", "300s", "whitenoise"}).exitCode == 0) {
        seeds.push_back(readFileBytes(source.toStdString()));
        const QString rf64 = dir.path() + "/source.rf64";
        if (runTool("sndfile-convert", {"-pcm16", source, rf64}).exitCode == 0)
            seeds.push_back(readFileBytes(rf64.toStdString()));
    }
    return seeds;
}

std::vector<uint8_t> mutate(std::vector<uint8_t> bytes, std::mt19937& random)
{
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int edit = 0; edit < edits && !bytes.empty(); ++edit) {
        // Headers live near the start: most edits land in the first 128 bytes.
        const size_t span = (random() % 4 == 0) ? bytes.size() : std::min<size_t>(bytes.size(), 128);
        const size_t at = random() % span;
        switch (random() % 5) {
        case 0: bytes[at] = static_cast<uint8_t>(random()); break;
        case 1: bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
        case 2: {  // an extreme 32-bit value, as a chunk size would be
            const uint32_t extremes[] = {0, 1, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu, 15, 17};
            const uint32_t value = extremes[random() % std::size(extremes)];
            for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
                bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
            break;
        }
        case 3: bytes.resize(random() % (bytes.size() + 1)); break;
        default: bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), static_cast<uint8_t>(random())); break;
        }
    }
    return bytes;
}

TEST(MediaFuzzTest, MutatedHeadersAreRefusedOrReadInsideTheFile)
{
    QTemporaryDir dir;
    const std::vector<std::vector<uint8_t>> seeds = seedFiles(dir);
    const auto seed = static_cast<uint32_t>(settingFromEnvironment("TONVALE_FUZZ_SEED", kSeed));
    const auto rounds = static_cast<int>(settingFromEnvironment("TONVALE_FUZZ_ROUNDS", kMutationRounds));
    std::mt19937 random(seed);
    const std::string folder = dir.path().toStdString() + "/case";
    QDir().mkpath(QString::fromStdString(folder));
    const std::string path = folder + "/mutated.wav";
    for (int round = 0; round < rounds; ++round) {
        const std::vector<uint8_t> bytes = mutate(seeds[static_cast<size_t>(round) % seeds.size()], random);
        ASSERT_TRUE(writeFileBytes(path, bytes));
        SCOPED_TRACE("round " + std::to_string(round));
        exercise(path, bytes.size());
        readAndEditMetadata(path, bytes);
        ASSERT_TRUE(writeFileBytes(path, bytes));
        repairAndRead(folder, path, bytes.size());
        if (HasFatalFailure()) {
            writeFileBytes(dir.path().toStdString() + "/../tonvale-fuzz-failure.wav", bytes);
            return;
        }
    }
}

TEST(MediaFuzzTest, KeptRegressionInputs)
{
    const QDir kept(TONVALE_FUZZ_REGRESSIONS);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    for (const QString& name : kept.entryList({"*.wav"}, QDir::Files)) {
        SCOPED_TRACE(name.toStdString());
        const std::vector<uint8_t> bytes = readFileBytes(kept.filePath(name).toStdString());
        const std::string path = folder + "/" + name.toStdString();
        ASSERT_TRUE(writeFileBytes(path, bytes));
        exercise(path, bytes.size());
        readAndEditMetadata(path, bytes);
        ASSERT_TRUE(writeFileBytes(path, bytes));
        repairAndRead(folder, path, bytes.size());
    }
}

} // namespace
