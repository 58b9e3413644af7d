// The waveform overview of a long multichannel take against one plain
// libsndfile pass over the same file: time and peak memory growth of each,
// measured twice, alternating. Target: at most 1.3 times libsndfile's time
// and under 32 MiB of growth. Each pass starts with the file out of the page
// cache.
//
//   bench_waveform [minutes]   (default 60: a 1-hour 33-channel 24-bit RF64 take)

#include "core/NumberText.h"
#include "media/BwfFileWriter.h"
#include "support/BenchHome.h"
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

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    double minutes = 60.0;
    if (argc > 1)
        parseDecimal(argv[1], minutes);
    const int64_t frames = static_cast<int64_t>(minutes * 60.0 * kRate);
    BenchHome home;
    if (!home.isValid() || frames <= 0) {
        std::fprintf(stderr, "usage: bench_waveform [minutes > 0]\n");
        return 1;
    }
    const std::string path = home.path() + "/take.wav";
    std::printf("writing a %.1f-minute %d-channel 24-bit RF64 take ...\n", minutes, kChannels);
    if (!writeTake(path, frames)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        return 1;
    }
    std::printf("file: %.2f GiB\n", std::filesystem::file_size(path) / 1073741824.0);

    Measure overview[2], plain[2];
    for (int round = 0; round < 2; ++round) {
        evictFromCache(path);
        plain[round] = measure([&] { sndfilePass(path); });
        evictFromCache(path);
        overview[round] = measure([&] {
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
    std::filesystem::remove(path);

    for (int round = 0; round < 2; ++round)
        std::printf("round %d: libsndfile %.3f s (+%.1f MiB), waveform %.3f s (+%.1f MiB), time ratio %.2f\n",
                    round + 1, plain[round].seconds, plain[round].growthMiB, overview[round].seconds,
                    overview[round].growthMiB, overview[round].seconds / plain[round].seconds);
    const double best = (overview[0].seconds + overview[1].seconds) / (plain[0].seconds + plain[1].seconds);
    const double growth = std::max(overview[0].growthMiB, overview[1].growthMiB);
    std::printf("time ratio over both rounds %.2f (target <= 1.30): %s\n", best, best <= 1.3 ? "met" : "NOT met");
    std::printf("waveform peak memory growth %.1f MiB (target < 32): %s\n", growth, growth < 32.0 ? "met" : "NOT met");
    return 0;
}
