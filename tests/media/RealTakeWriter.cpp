// A recorder in the middle of a take that uses the real BwfFileWriter (bext,
// iXML and all): writes `frames` frames in blocks that no buffer size
// divides, then reports "ready <bytesOnDisk>" and waits to be killed.
// Bytes still in the writer's stream buffer are lost with the process, so
// the file size the kernel holds is what reached the disk.
//
// real_take_writer <path> <channels> <sampleFormat 0..3> <frames>

#include "RealWriterTake.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBlockFrames = 777;
constexpr int kSampleRate = 48000;

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s path channels sampleFormat frames\n", argv[0]);
        return 2;
    }
    const int channels = std::atoi(argv[2]);
    const auto format = static_cast<BwfFileWriter::SampleFormat>(std::atoi(argv[3]));
    const int64_t frames = std::atoll(argv[4]);

    BwfFileWriter writer;
    writer.setBextChunk(realTakeRecord(channels));
    if (!writer.open(argv[1], kSampleRate, channels, format, BwfFileWriter::OpenMode::CreateNew)) {
        std::fprintf(stderr, "%s\n", writer.lastError().c_str());
        return 1;
    }
    std::vector<float> block;
    for (int64_t first = 0; first < frames; first += kBlockFrames) {
        const int64_t count = std::min<int64_t>(kBlockFrames, frames - first);
        block.clear();
        for (int64_t frame = first; frame < first + count; ++frame) {
            for (int channel = 0; channel < channels; ++channel)
                block.push_back(realTakeSample(frame, channel));
        }
        if (!writer.writeFrames(block.data(), static_cast<int>(count))) {
            std::fprintf(stderr, "%s\n", writer.lastError().c_str());
            return 1;
        }
    }
    struct stat onDisk {};
    if (::stat(argv[1], &onDisk) != 0)
        return 1;
    std::printf("ready %lld\n", static_cast<long long>(onDisk.st_size));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
