// The sound report's scan of a roll folder: 2,000 takes written by our writer
// (4 channels, bext and iXML, 2 s each) and one sparse 4 GiB take, warm cache.
// Per file: scanWavFiles (the take scan, on the thread pool, timed until its
// takes reach the dialog) and updateTakeList (the table),
// against listing the folder and reading each header up to the data chunk.
// Target: scan plus table at most 2x the header read; the 4 GiB take no
// slower than a small one.
//
//   QT_QPA_PLATFORM=offscreen build/release/bench/sound_report/bench_sound_report [takes]

#include "media/BwfFileWriter.h"
#include "media/BwfMetadataReader.h"
#include "media/Ds64Chunk.h"
#include "support/BenchHome.h"
#include "ui/tools/SoundReportDialog.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kDefaultTakes = 2000;
constexpr int kChannels = 4;
constexpr int kSampleRate = 48000;
constexpr int kTakeSeconds = 2;
constexpr uint64_t kBigDataBytes = 4ull << 30;
constexpr int kRounds = 5;
constexpr int kSingleFileReads = 200;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool writeTake(const std::string& path, int number, const std::vector<float>& samples)
{
    BwfFileWriter::BextChunk record;
    record.scene = std::to_string(number % 50 + 1);
    record.take = std::to_string(number % 7 + 1);
    record.project = "Feature";
    record.tape = "R012";
    record.note = "take " + std::to_string(number);
    record.timeReference = 1'728'000'000 + uint64_t(number) * 96000;
    record.frameRate = 25.0;
    record.timestampSampleRate = kSampleRate;
    record.trackNames = {"MIX", "Boom", "Lav 1", "Lav 2"};
    BwfFileWriter writer;
    writer.setBextChunk(record);
    return writer.open(path, kSampleRate, kChannels, BwfFileWriter::Int24) &&
           writer.writeFrames(samples.data(), kTakeSeconds * kSampleRate) && writer.close();
}

// A closed take whose data chunk runs to 4 GiB; the samples are a hole.
bool makeBigTake(const std::string& path, const std::vector<float>& samples)
{
    if (!writeTake(path, 9999, samples))
        return false;
    const uint64_t smallData = uint64_t(kTakeSeconds) * kSampleRate * kChannels * 3;
    const uint64_t smallSize = std::filesystem::file_size(path);
    const uint64_t bigSize = smallSize - smallData + kBigDataBytes;
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0)
        return false;
    uint8_t sizes[Ds64Chunk::kSizesBytes];
    bool ok = ::pread(fd, sizes, sizeof sizes, Ds64Chunk::kSizesOffset) == static_cast<ssize_t>(sizeof sizes);
    Ds64Chunk::Sizes values = Ds64Chunk::load(sizes);
    values.riffSize = bigSize - 8;
    values.dataSize = kBigDataBytes;
    values.sampleCount = kBigDataBytes / (kChannels * 3);
    Ds64Chunk::store(sizes, values);
    ok = ok && ::pwrite(fd, sizes, sizeof sizes, Ds64Chunk::kSizesOffset) == static_cast<ssize_t>(sizeof sizes) &&
         ::ftruncate(fd, static_cast<off_t>(bigSize)) == 0;
    ::close(fd);
    return ok;
}

// The floor: list the folder and read every byte before the data chunk.
size_t listAndReadHeaders(const std::string& folder)
{
    size_t files = 0;
    std::vector<char> buffer;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".wav") != 0)
            continue;
        std::FILE* file = std::fopen(entry.path().c_str(), "rb");
        if (!file)
            continue;
        ++files;
        char header[12];
        if (std::fread(header, 1, sizeof header, file) == sizeof header) {
            for (;;) {
                char chunk[8];
                if (std::fread(chunk, 1, sizeof chunk, file) != sizeof chunk || std::memcmp(chunk, "data", 4) == 0)
                    break;
                uint32_t size = 0;
                std::memcpy(&size, chunk + 4, 4);
                buffer.resize(size + (size & 1u));
                if (std::fread(buffer.data(), 1, buffer.size(), file) != buffer.size())
                    break;
            }
        }
        std::fclose(file);
    }
    return files;
}

template <typename Work>
double bestOf(int rounds, Work work)
{
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const Clock::time_point start = Clock::now();
        work();
        best = std::min(best, secondsSince(start));
    }
    return best;
}

// The scan runs in the background; the dialog takes its list when the
// event loop delivers the end of the work.
void scanAndWait(SoundReportDialog& dialog, const QString& folder)
{
    dialog.scanWavFiles(folder);
    while (dialog.isScanning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int takes = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultTakes;
    BenchHome home;
    const std::string folder = home.path() + "/R012";
    std::filesystem::create_directories(folder);
    std::vector<float> samples(size_t{kTakeSeconds} * kSampleRate * kChannels, 0.25f);
    std::printf("Writing %d takes of %d s, %d channels...\n", takes, kTakeSeconds, kChannels);
    for (int i = 0; i < takes; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/ABC%04d_S%d_T%d.wav", i % 10000, i % 50 + 1, i % 7 + 1);
        if (!writeTake(folder + name, i, samples)) {
            std::fprintf(stderr, "cannot write take %d\n", i);
            return 1;
        }
    }
    const std::string big = folder + "/ABC9999_S1_T1.wav";
    if (!makeBigTake(big, samples)) {
        std::fprintf(stderr, "cannot make the 4 GiB take\n");
        return 1;
    }
    const int files = takes + 1;

    SoundReportDialog dialog(nullptr);
    const QString qFolder = QString::fromStdString(folder);
    listAndReadHeaders(folder);  // warm the cache
    scanAndWait(dialog, qFolder);
    const double floorSeconds = bestOf(kRounds, [&] { listAndReadHeaders(folder); });
    const double scanSeconds = bestOf(kRounds, [&] { scanAndWait(dialog, qFolder); });
    const double tableSeconds = bestOf(kRounds, [&] { dialog.updateTakeList(); });
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        paths.push_back(entry.path().string());
    const double readerSeconds = bestOf(kRounds, [&] {
        for (const std::string& path : paths)
            BwfMetadataReader::readMetadata(path);
    });
    if (static_cast<int>(dialog.takes().size()) != files) {
        std::fprintf(stderr, "scan found %zu takes, expected %d\n", dialog.takes().size(), files);
        return 1;
    }

    SoundReportTake take;
    const QFileInfo smallPath(QString::fromStdString(folder + "/ABC0000_S1_T1.wav"));
    const QFileInfo bigPath(QString::fromStdString(big));
    const double smallSeconds =
        bestOf(kRounds, [&] { for (int i = 0; i < kSingleFileReads; ++i) SoundReportTakes::readTake(smallPath, take); });
    const double bigSeconds =
        bestOf(kRounds, [&] { for (int i = 0; i < kSingleFileReads; ++i) SoundReportTakes::readTake(bigPath, take); });

    const double perFile = 1e6 / files;
    std::printf("files: %d (one of them a sparse 4 GiB take)\n", files);
    std::printf("list + header read:   %8.1f us/file\n", floorSeconds * perFile);
    std::printf("scanWavFiles:         %8.1f us/file\n", scanSeconds * perFile);
    std::printf("updateTakeList:       %8.1f us/file\n", tableSeconds * perFile);
    std::printf("  of the scan, readMetadata alone: %5.1f us/file\n", readerSeconds * perFile);
    std::printf("ratio (scan + table) / header read: %.2f (target <= 2.00)\n",
                (scanSeconds + tableSeconds) / floorSeconds);
    std::printf("ratio scan / header read:           %.2f\n", scanSeconds / floorSeconds);
    std::printf("one take read: small %.1f us, 4 GiB %.1f us, ratio %.2f (target <= 1.0 within noise)\n",
                smallSeconds * 1e6 / kSingleFileReads, bigSeconds * 1e6 / kSingleFileReads, bigSeconds / smallSeconds);
    return 0;
}
