#pragma once

#include "timecode/LtcEncoder.h"

#include <cstdint>
#include <string>
#include <vector>

struct LTCDecoder;

// Signals and oracles for the LTC tests. The oracles call libltc directly, not
// through LtcDecoder or LtcEncoder.
namespace ltctest {

constexpr int kSampleRate = 48000;

struct RateCase {
    const char* name;
    LtcEncoder::FrameRate rate;
    double fps;
    int labelFps;     // frame labels a second
    int nominalFps;   // what the decoder reports
    bool dropFrame;
};

// The five generator rates, each with the drop-frame setting it is used with.
std::vector<RateCase> allRates();

// One frame as plain libltc decodes it.
struct PlainFrame {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
    bool dropFrame = false;
    bool colourFrame = false;
    bool evenZeroCount = false; // the biphase phase-correction bit did its job
    int64_t startPosition = 0;
    int64_t endPosition = 0;
    std::string label(bool dropFrameText) const;
};

// Decodes a whole stream in one call; positionOfFirst is the clock value of
// samples[0].
std::vector<PlainFrame> plainDecode(const std::vector<float>& samples, int64_t positionOfFirst);

// Plain libltc fed block by block, the way LtcDecoder is fed: the oracle for
// which frame is the newest after each block and where libltc placed it.
class PlainStreamDecoder {
public:
    PlainStreamDecoder();
    ~PlainStreamDecoder();
    PlainStreamDecoder(const PlainStreamDecoder&) = delete;
    PlainStreamDecoder& operator=(const PlainStreamDecoder&) = delete;

    // Returns the frames completed by this block, oldest first.
    std::vector<PlainFrame> feed(const float* samples, int count, int64_t position);

private:
    ::LTCDecoder* decoder_;
};

// Encodes frameCount consecutive frames with plain libltc (square wave, -10
// dBFS) and returns them as floats; frameStarts receives each frame's first
// sample.
std::vector<float> plainEncode(const RateCase& rate, int hours, int minutes, int seconds, int frames,
                               int frameCount, std::vector<int64_t>* frameStarts);

// Runs the generator for totalSamples in blocks taken from blockSizes in turn.
std::vector<float> generate(LtcEncoder& encoder, int64_t totalSamples, const std::vector<int>& blockSizes);

// Random block sizes in [1, maxSize] from a fixed seed.
std::vector<int> randomBlockSizes(uint32_t seed, int count, int maxSize);

// "HH:MM:SS:FF" (";" before the frames with dropFrameText) of a label count.
std::string labelOf(int64_t labelCount, int labelFps, bool dropFrame);

} // namespace ltctest
