// Backs up a 33-channel take (mix and 32 tracks, 24-bit, 2 GiB by default;
// the first argument sets the size in GiB) to a tmpfs drive through the copy
// queue, as the recorder does after a take:
// - the plain copy with its read-back check, in MB/s, against `cp` doing the
//   same work (the copy flushed alone, then compared with the source), over
//   interleaved rounds (5 by default; the second argument sets how many);
// - polyphonic to mono and mono to polyphonic, in multiples of real time.
// The copy queue's own pauses between chunks (it runs in the background on
// purpose) are part of the figures. Without the right to mount a tmpfs the
// drive is a plain folder, and the benchmark says so.
#include "backup/BackupCopyQueue.h"
#include "core/NumberText.h"
#include "media/BwfFileWriter.h"
#include "support/BenchHome.h"
#include "support/BenchSpread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/mount.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kChannels = 33;
constexpr int kRate = 48000;
constexpr int kSampleBytes = 3;
constexpr int kBlockFrames = 48000;
constexpr int kDefaultCopyRounds = 5;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool writeSource(const std::string& path, int64_t frames)
{
    BwfFileWriter writer;
    BwfFileWriter::BextChunk bext;
    bext.originationDate = "2026-12-10";
    bext.originationTime = "12:00:00";
    bext.project = "Bench";
    bext.trackNames.push_back("MIX");
    for (int t = 1; t < kChannels; ++t)
        bext.trackNames.push_back("Track " + std::to_string(t));
    writer.setBextChunk(bext);
    if (!writer.open(path, kRate, kChannels, BwfFileWriter::Int24))
        return false;
    std::vector<uint8_t> block(static_cast<size_t>(kBlockFrames) * kChannels * kSampleBytes);
    uint32_t state = 12345;
    for (auto& byte : block) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    for (int64_t done = 0; done < frames; done += kBlockFrames) {
        const int64_t n = std::min<int64_t>(kBlockFrames, frames - done);
        if (!writer.writeEncodedFrames(block.data(), n))
            return false;
    }
    return writer.close();
}

// Runs one job to its end; the wall time in seconds, negative on failure.
double runJob(const std::string& source, const std::string& destination, int from, int to, const std::string& root)
{
    BackupCopyQueue queue;
    std::mutex mutex;
    std::condition_variable condition;
    bool finished = false;
    bool failed = false;
    std::string reason;
    queue.setCompletionCallback([&](const BackupCopyQueue::CopyJob& job) {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        failed = job.failed;
        reason = job.errorMessage;
        condition.notify_all();
    });
    queue.tryQueueCopy(source, destination, from, to, nullptr, root);
    const Clock::time_point start = Clock::now();
    queue.start();
    std::unique_lock<std::mutex> lock(mutex);
    condition.wait(lock, [&] { return finished; });
    const double seconds = secondsSince(start);
    if (failed)
        std::fprintf(stderr, "job failed: %s\n", reason.c_str());
    return failed ? -1.0 : seconds;
}

// `cp` with the work the queue does besides copying: only the copy flushed
// to the drive (fsync, as `sync FILE` does, not every dirty page of the
// machine), dropped from the page cache (`dd iflag=nocache count=0`), and
// read back against the source with `cmp`. The wall time in seconds,
// negative on failure; the copy is removed.
double runReferenceCopy(const std::string& source, const std::string& copy)
{
    const std::string command = "cp '" + source + "' '" + copy + "' && sync '" + copy + "' && dd if='" + copy
                                + "' iflag=nocache count=0 status=none && cmp -s '" + source + "' '" + copy + "'";
    const Clock::time_point start = Clock::now();
    const int result = std::system(command.c_str());
    const double seconds = secondsSince(start);
    std::error_code error;
    fs::remove(copy, error);
    if (result != 0)
        std::fprintf(stderr, "reference copy failed: %s\n", command.c_str());
    return result == 0 ? seconds : -1.0;
}

struct CopyRounds {
    std::vector<double> oursSeconds;
    std::vector<double> cpSeconds;
    bool ok = false;
};

// Ours, cp, ours, cp, ...: both sides see the machine's load at nearly the
// same moments, and neither always follows the other's writes.
CopyRounds runCopyRounds(const std::string& source, const std::string& drive, int rounds)
{
    CopyRounds result;
    for (int round = 0; round < rounds; ++round) {
        const double ours = runJob(source, drive + "/Tonvale/Bench/001", 0, 0, drive);
        fs::remove_all(drive + "/Tonvale");
        const double cp = runReferenceCopy(source, drive + "/cp.wav");
        if (ours <= 0 || cp <= 0)
            return result;
        std::printf("copy round %d: ours %s s, cp %s s, ratio %s of cp\n", round + 1, fixedText(ours, 2).c_str(),
                    fixedText(cp, 2).c_str(), fixedText(cp / ours, 2).c_str());
        result.oursSeconds.push_back(ours);
        result.cpSeconds.push_back(cp);
    }
    result.ok = true;
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    double gib = 2.0;
    if (argc > 1)
        parseDecimal(argv[1], gib);
    double roundsArgument = kDefaultCopyRounds;
    if (argc > 2)
        parseDecimal(argv[2], roundsArgument);
    const int copyRounds = std::max(1, static_cast<int>(roundsArgument));
    BenchHome home;
    if (!home.isValid())
        return 1;
    const int64_t frameBytes = kChannels * kSampleBytes;
    const int64_t frames = static_cast<int64_t>(gib * 1024 * 1024 * 1024) / frameBytes;
    const double audioSeconds = static_cast<double>(frames) / kRate;
    const std::string take = home.path() + "/take";
    const std::string drive = home.path() + "/drive";
    fs::create_directories(take);
    fs::create_directories(drive);
    const std::string tmpfsSize = "size=" + std::to_string(static_cast<int64_t>(gib * 2.2 * 1024) + 64) + "m";
    const bool mounted = ::mount("tmpfs", drive.c_str(), "tmpfs", 0, tmpfsSize.c_str()) == 0;
    std::printf("drive: %s\n", mounted ? "tmpfs" : "plain folder (no tmpfs could be mounted)");

    const std::string source = take + "/BEN0001_Bench_001_1_T1.wav";
    if (!writeSource(source, frames)) {
        std::fprintf(stderr, "cannot write the source take\n");
        return 1;
    }
    const double megabytes = static_cast<double>(fs::file_size(source)) / 1e6;
    std::printf("take: %d channels, 24-bit, %.1f s of audio, %.1f MB\n", kChannels, audioSeconds, megabytes);

    // Warm the source into the page cache for both copies alike.
    std::system(("cat '" + source + "' > /dev/null").c_str());
    const CopyRounds copies = runCopyRounds(source, drive, copyRounds);
    const double copySeconds = copies.ok ? spreadOf(copies.oursSeconds).median : -1.0;
    const std::string destination = drive + "/Tonvale/Bench/001";
    // The queue's deliberate pauses: 2 ms per MiB copied, 10 ms after every
    // fifth block of 4096 frames converted.
    const double copyPauseSeconds = std::ceil(static_cast<double>(fs::file_size(source)) / (1 << 20)) * 0.002;
    const double convertPauseSeconds = std::floor(std::ceil(static_cast<double>(frames) / 4096) / 5) * 0.010;
    if (copies.ok) {
        // Medians of the rounds; the ratio is ours in MB/s over cp's, as the
        // median cp time over the median time of ours.
        const double cpSeconds = spreadOf(copies.cpSeconds).median;
        std::vector<double> timeRatios;
        for (size_t i = 0; i < copies.oursSeconds.size(); ++i)
            timeRatios.push_back(copies.oursSeconds[i] / copies.cpSeconds[i]);
        std::printf("plain copy (read-back checked): %s MB/s   cp: %s MB/s   ratio %s of cp"
                    "   (%s s of %s s are the queue's pauses; without them %s MB/s)\n",
                    fixedText(megabytes / copySeconds, 0).c_str(), fixedText(megabytes / cpSeconds, 0).c_str(),
                    fixedText(cpSeconds / copySeconds, 2).c_str(), fixedText(copyPauseSeconds, 1).c_str(),
                    fixedText(copySeconds, 1).c_str(), fixedText(megabytes / (copySeconds - copyPauseSeconds), 0).c_str());
        std::printf("plain copy over %d rounds: ours s %s   cp s %s   time ours / cp %s\n", copyRounds,
                    spreadOf(copies.oursSeconds).text(2).c_str(), spreadOf(copies.cpSeconds).text(2).c_str(),
                    spreadOf(timeRatios).text(2).c_str());
    }

    const double splitSeconds = runJob(source, destination, 0, 1, drive);
    if (splitSeconds > 0)
        std::printf("polyphonic to mono: %.1f s, %.1f x real time, %.0f MB/s (pauses %.1f s)\n", splitSeconds,
                    audioSeconds / splitSeconds, megabytes / splitSeconds, convertPauseSeconds);

    // The split files, renamed as the recorder names a mono take, join again.
    const std::string monoTake = drive + "/monotake";
    fs::create_directories(monoTake);
    int channel = 0;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(destination))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string suffix = name.substr(name.rfind('_') + 1);
        const int field = suffix == "MIX.wav" ? 0 : std::atoi(suffix.c_str() + 1);
        fs::rename(destination + "/" + name, monoTake + "/BEN0001_Bench_001_1_T1_" + (field < 10 ? "0" : "")
                                                 + std::to_string(field) + "_" + suffix);
        ++channel;
    }
    const double joinSeconds =
        runJob(monoTake + "/BEN0001_Bench_001_1_T1_00_MIX.wav", drive + "/Tonvale/Bench/002", 1, 0, drive);
    if (joinSeconds > 0)
        std::printf("mono to polyphonic (%d files): %.1f s, %.1f x real time, %.0f MB/s (pauses %.1f s)\n", channel,
                    joinSeconds, audioSeconds / joinSeconds, megabytes / joinSeconds, convertPauseSeconds);
    if (mounted)
        ::umount2(drive.c_str(), MNT_DETACH);
    return copySeconds > 0 && splitSeconds > 0 && joinSeconds > 0 ? 0 : 1;
}
