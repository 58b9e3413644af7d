// The waveform overview of a long multichannel take against one plain
// libsndfile pass over the same file: time and peak memory growth of each,
// over several rounds in which the two sides take turns to go first, since
// whichever runs first on a busy machine meets different disk and cache
// conditions. Target: a median time ratio of at most 1.3 times libsndfile's
// and under 32 MiB of growth, both with the file out of the page cache (a
// recordist's first look at a take) and with the file already in it (a take
// just recorded or looked at again). The warm rounds run only when the file
// fits in half the free memory.
//
//   bench_waveform [minutes] [rounds]   (default 60: a 1-hour 33-channel 24-bit
//                                        RF64 take; 6 rounds, at least 2)

#include "core/NumberText.h"
#include "media/BwfFileWriter.h"
#include "support/BenchHome.h"
#include "support/BenchSpread.h"
#include "ui/tools/WaveformWidget.h"

#include <QApplication>
#include <QEventLoop>

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kChannels = 33;
constexpr int kRate = 48000;
constexpr int kBlockFrames = 8192;
constexpr int kDefaultRounds = 6;
constexpr double kTargetTimeRatio = 1.3;
constexpr double kTargetGrowthMiB = 32.0;

long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atol(line.c_str() + prefix.size());
    return -1;
}

bool fitsInHalfTheFreeMemory(uintmax_t bytes)
{
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line))
        if (line.rfind("MemAvailable:", 0) == 0)
            return bytes / 1024 < uintmax_t(std::atoll(line.c_str() + 13)) / 2;
    return false;
}

// Resets the peak resident size to the current one (Linux 4.0 and later).
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Drops this one file from the page cache, so each pass reads it from the
// disk as a recordist's first look at a take does, whatever ran before.
void evictFromCache(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
}

// Reads the whole file once, so the next pass finds it in the page cache.
void warmCache(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::vector<char> buffer(size_t{1} << 20);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
}

struct Measure {
    double seconds = 0.0;
    double growthMiB = 0.0;
};

template <typename Work>
Measure measure(Work work)
{
    resetPeakMemory();
    const long before = statusKiB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto end = std::chrono::steady_clock::now();
    const long peak = statusKiB("VmHWM");
    return {std::chrono::duration<double>(end - start).count(), (peak - before) / 1024.0};
}

bool writeTake(const std::string& path, int64_t frames)
{
    BwfFileWriter writer;
    if (!writer.open(path, kRate, kChannels, BwfFileWriter::Int24))
        return false;
    std::vector<float> block(static_cast<size_t>(kChannels) * kBlockFrames);
    uint32_t noise = 1;
    for (int64_t done = 0; done < frames;) {
        const int count = static_cast<int>(std::min<int64_t>(kBlockFrames, frames - done));
        for (size_t i = 0; i < static_cast<size_t>(count) * kChannels; ++i) {
            noise = noise * 1664525u + 1013904223u;
            block[i] = static_cast<float>(static_cast<int32_t>(noise)) / 4294967296.0f;
        }
        if (!writer.writeFrames(block.data(), count))
            return false;
        done += count;
    }
    return writer.close();
}

float sndfilePass(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return 0.0f;
    std::vector<float> block(static_cast<size_t>(info.channels) * kBlockFrames);
    float loudest = 0.0f;
    sf_count_t got = 0;
    while ((got = sf_readf_float(file, block.data(), kBlockFrames)) > 0)
        for (sf_count_t f = 0; f < got; ++f)
            loudest = std::max(loudest, std::abs(block[static_cast<size_t>(f * info.channels)]));
    sf_close(file);
    return loudest;
}

Measure measureOverview(const std::string& path)
{
    return measure([&] {
        WaveformWidget widget;
        bool loaded = false;
        QEventLoop wait;
        QObject::connect(&widget, &WaveformWidget::loadFinished, &wait, [&](bool ok) {
            loaded = ok;
            wait.quit();
        });
        widget.loadFile(path);
        wait.exec();
        if (!loaded || widget.peaks().size() != 1000)
            std::fprintf(stderr, "waveform failed to load\n");
    });
}

Measure measurePlain(const std::string& path)
{
    return measure([&] { sndfilePass(path); });
}

struct Round {
    Measure plain;
    Measure overview;
    bool plainFirst = true;
};

// Odd rounds run libsndfile first, even rounds the waveform, each pass from
// a cold cache or, with `warm`, from a cache that holds the whole file.
std::vector<Round> runRounds(const std::string& path, int rounds, bool warm)
{
    std::vector<Round> result(static_cast<size_t>(rounds));
    const auto prepare = [&] {
        if (warm)
            warmCache(path);
        else
            evictFromCache(path);
    };
    for (int i = 0; i < rounds; ++i) {
        Round& round = result[static_cast<size_t>(i)];
        const auto plainPass = [&] {
            prepare();
            round.plain = measurePlain(path);
        };
        const auto overviewPass = [&] {
            prepare();
            round.overview = measureOverview(path);
        };
        round.plainFirst = i % 2 == 0;
        if (round.plainFirst) {
            plainPass();
            overviewPass();
        } else {
            overviewPass();
            plainPass();
        }
    }
    return result;
}

// Prints the rounds and their summary; false when a target is not met.
bool report(const char* cache, const std::vector<Round>& measured)
{
    const int rounds = static_cast<int>(measured.size());
    std::vector<double> ratios, plainSeconds, overviewSeconds;
    double growth = 0.0;
    for (size_t i = 0; i < measured.size(); ++i) {
        const Round& round = measured[i];
        const double ratio = round.overview.seconds / round.plain.seconds;
        std::printf("%s round %zu: libsndfile %s s (+%s MiB), waveform %s s (+%s MiB), time ratio %s   (%s first)\n",
                    cache, i + 1, fixedText(round.plain.seconds, 3).c_str(), fixedText(round.plain.growthMiB, 1).c_str(),
                    fixedText(round.overview.seconds, 3).c_str(), fixedText(round.overview.growthMiB, 1).c_str(),
                    fixedText(ratio, 2).c_str(), round.plainFirst ? "libsndfile" : "waveform");
        ratios.push_back(ratio);
        plainSeconds.push_back(round.plain.seconds);
        overviewSeconds.push_back(round.overview.seconds);
        growth = std::max(growth, round.overview.growthMiB);
    }
    const BenchSpread ratio = spreadOf(ratios);
    std::printf("%s seconds over %d rounds: libsndfile %s   waveform %s\n", cache, rounds,
                spreadOf(plainSeconds).text(3).c_str(), spreadOf(overviewSeconds).text(3).c_str());
    std::printf("%s time ratio, median of %d rounds %s (target <= %s), spread %s .. %s: %s\n", cache, rounds,
                fixedText(ratio.median, 2).c_str(), fixedText(kTargetTimeRatio, 2).c_str(),
                fixedText(ratio.lowest, 2).c_str(), fixedText(ratio.highest, 2).c_str(),
                ratio.median <= kTargetTimeRatio ? "met" : "NOT met");
    std::printf("%s waveform peak memory growth %s MiB (target < %s): %s\n", cache, fixedText(growth, 1).c_str(),
                fixedText(kTargetGrowthMiB, 0).c_str(), growth < kTargetGrowthMiB ? "met" : "NOT met");
    return ratio.median <= kTargetTimeRatio && growth < kTargetGrowthMiB;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    double minutes = 60.0;
    if (argc > 1)
        parseDecimal(argv[1], minutes);
    double roundsArgument = kDefaultRounds;
    if (argc > 2)
        parseDecimal(argv[2], roundsArgument);
    const int rounds = static_cast<int>(roundsArgument);
    const int64_t frames = static_cast<int64_t>(minutes * 60.0 * kRate);
    BenchHome home;
    if (!home.isValid() || frames <= 0 || rounds < 2) {
        std::fprintf(stderr, "usage: bench_waveform [minutes > 0] [rounds >= 2]\n");
        return 1;
    }
    const std::string path = home.path() + "/take.wav";
    std::printf("writing a %s-minute %d-channel 24-bit RF64 take ...\n", fixedText(minutes, 1).c_str(), kChannels);
    if (!writeTake(path, frames)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        return 1;
    }
    std::printf("file: %s GiB\n", fixedText(std::filesystem::file_size(path) / 1073741824.0, 2).c_str());

    const std::vector<Round> cold = runRounds(path, rounds, false);
    std::vector<Round> warm;
    if (fitsInHalfTheFreeMemory(std::filesystem::file_size(path)))
        warm = runRounds(path, rounds, true);
    std::filesystem::remove(path);

    report("cold", cold);
    if (warm.empty())
        std::printf("warm: skipped, the file does not fit in half the free memory\n");
    else
        report("warm", warm);
    return 0;
}
