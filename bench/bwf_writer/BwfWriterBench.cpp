// A full-size take, written twice from the same samples: through
// BwfFileWriter and through libsndfile writing RF64, in the same run.
// Target: BwfFileWriter at least as fast as libsndfile (ratio >= 1.0).
//
//   build/release/bench/bwf_writer/bench_bwf_writer [rounds]

#include "media/BwfFileWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 33; // mix plus 32 tracks
constexpr int kTakeSeconds = 60;
constexpr int64_t kTakeFrames = int64_t{kTakeSeconds} * kSampleRate;
constexpr int kFramesPerBlock = 4096; // the ring writer's block
constexpr int kSourceSeconds = 1;     // the source repeats every second
constexpr int kDefaultRounds = 3;
constexpr double kBytesPerMegabyte = 1e6;

using Clock = std::chrono::steady_clock;

std::vector<float> makeSource()
{
    std::vector<float> samples(size_t{kSourceSeconds} * kSampleRate * kChannels);
    std::mt19937 random(42);
    std::uniform_real_distribution<float> level(-1.0f, 1.0f);
    for (float& s : samples)
        s = level(random);
    return samples;
}

// Feeds the take block by block; the callback returns false on a failed write.
bool feedTake(const std::vector<float>& source, const std::function<bool(const float*, int)>& writeBlock)
{
    const int64_t sourceFrames = static_cast<int64_t>(source.size()) / kChannels;
    int64_t sourceFrame = 0;
    for (int64_t done = 0; done < kTakeFrames;) {
        const int frames = static_cast<int>(std::min<int64_t>({kFramesPerBlock, kTakeFrames - done,
                                                                sourceFrames - sourceFrame}));
        if (!writeBlock(source.data() + sourceFrame * kChannels, frames))
            return false;
        done += frames;
        sourceFrame = (sourceFrame + frames) % sourceFrames;
    }
    return true;
}

double secondsOfBwfFileWriter(const std::vector<float>& source, const std::string& path)
{
    const auto start = Clock::now();
    BwfFileWriter writer;
    BwfFileWriter::BextChunk record;
    record.scene = "1";
    writer.setBextChunk(record);
    bool ok = writer.open(path, kSampleRate, kChannels, BwfFileWriter::Int24);
    ok = ok && feedTake(source, [&](const float* block, int frames) {
        return writer.writeFrames(block, frames);
    });
    ok = writer.close() && ok;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) {
        std::fprintf(stderr, "BwfFileWriter failed: %s\n", writer.lastError().c_str());
        std::exit(1);
    }
    return seconds;
}

double secondsOfLibsndfile(const std::vector<float>& source, const std::string& path)
{
    const auto start = Clock::now();
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = kChannels;
    info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "libsndfile cannot create %s: %s\n", path.c_str(), sf_strerror(nullptr));
        std::exit(1);
    }
    const bool ok = feedTake(source, [&](const float* block, int frames) {
        return sf_writef_float(file, block, frames) == frames;
    });
    sf_close(file);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) {
        std::fprintf(stderr, "libsndfile write failed\n");
        std::exit(1);
    }
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tonvale_bench_bwf_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "Cannot create %s: %s\n", folder.c_str(), error.message().c_str());
        return 1;
    }
    const std::vector<float> source = makeSource();
    const double megabytes = static_cast<double>(kTakeFrames) * kChannels * 3 / kBytesPerMegabyte;

    std::vector<double> ours, theirs;
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order so neither writer always meets a cooler page cache.
        const std::string oursPath = (folder / "bwffilewriter.wav").string();
        const std::string theirsPath = (folder / "libsndfile.wav").string();
        if (round % 2 == 0) {
            ours.push_back(secondsOfBwfFileWriter(source, oursPath));
            std::filesystem::remove(oursPath, error);
            theirs.push_back(secondsOfLibsndfile(source, theirsPath));
            std::filesystem::remove(theirsPath, error);
        } else {
            theirs.push_back(secondsOfLibsndfile(source, theirsPath));
            std::filesystem::remove(theirsPath, error);
            ours.push_back(secondsOfBwfFileWriter(source, oursPath));
            std::filesystem::remove(oursPath, error);
        }
    }
    std::filesystem::remove_all(folder, error);

    const double oursSeconds = median(ours);
    const double theirsSeconds = median(theirs);
    std::printf("Take: %d s, %d channels, %d Hz, 24-bit RF64 (%.1f MB), blocks of %d frames, median of %d rounds\n",
                kTakeSeconds, kChannels, kSampleRate, megabytes, kFramesPerBlock, rounds);
    std::printf("BwfFileWriter: %7.3f s  %8.1f MB/s  %6.1f x real time\n", oursSeconds, megabytes / oursSeconds,
                kTakeSeconds / oursSeconds);
    std::printf("libsndfile:    %7.3f s  %8.1f MB/s  %6.1f x real time\n", theirsSeconds, megabytes / theirsSeconds,
                kTakeSeconds / theirsSeconds);
    std::printf("Ratio (BwfFileWriter / libsndfile throughput): %.2f (target >= 1.0)\n", theirsSeconds / oursSeconds);
    return 0;
}
