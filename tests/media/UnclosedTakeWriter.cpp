// A stand-in for a recorder in the middle of a take: writes the header of an
// unclosed take, streams `frames` frames in blocks straight to the kernel
// (plus `tailBytes` of one more frame), reports "ready <bytes>" on standard
// output and then waits to be killed. What reached the disk is exactly what
// it reported.
//
// unclosed_take_writer <path> <channels> <bits> <float 0|1> <noteBytes> <ixmlBytes> <frames> <tailBytes>

#include "UnclosedTakeFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int64_t kBlockFrames = 1000;

bool writeAll(int fd, const std::vector<uint8_t>& bytes, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t written = ::write(fd, bytes.data() + done, count - done);
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 9) {
        std::fprintf(stderr, "usage: %s path channels bits float noteBytes ixmlBytes frames tailBytes\n", argv[0]);
        return 2;
    }
    TakeLayout layout;
    layout.channels = std::atoi(argv[2]);
    layout.bitsPerSample = std::atoi(argv[3]);
    layout.isFloat = std::atoi(argv[4]) != 0;
    layout.noteBytes = std::atoi(argv[5]);
    layout.ixmlBytes = std::atoi(argv[6]);
    const int64_t frames = std::atoll(argv[7]);
    const int tailBytes = std::atoi(argv[8]);

    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 1;
    const std::vector<uint8_t> header = buildUnclosedTakeHeader(layout);
    if (!writeAll(fd, header, header.size()))
        return 1;
    int64_t total = static_cast<int64_t>(header.size());
    for (int64_t first = 0; first < frames; first += kBlockFrames) {
        const int64_t count = std::min(kBlockFrames, frames - first);
        const std::vector<uint8_t> block = takeSampleBytes(layout, first, count);
        if (!writeAll(fd, block, block.size()))
            return 1;
        total += static_cast<int64_t>(block.size());
    }
    const std::vector<uint8_t> tail = takeSampleBytes(layout, frames, 1);
    if (!writeAll(fd, tail, static_cast<size_t>(tailBytes)))
        return 1;
    total += tailBytes;

    std::printf("ready %lld\n", static_cast<long long>(total));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
