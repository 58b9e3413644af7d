#include "LtcTestSignals.h"

#include "timecode/Timecode.h"

#include <ltc.h>

#include <bitset>
#include <cstdio>
#include <cstring>
#include <random>

namespace ltctest {

std::vector<RateCase> allRates()
{
    return {
        {"24", LtcEncoder::Fps24, 24.0, 24, 24, false},
        {"25", LtcEncoder::Fps25, 25.0, 25, 25, false},
        {"23.976", LtcEncoder::Fps23976, 24000.0 / 1001.0, 24, 24, false},
        {"29.97DF", LtcEncoder::Fps2997, 30000.0 / 1001.0, 30, 30, true},
        {"30", LtcEncoder::Fps30, 30.0, 30, 30, false},
    };
}

std::string PlainFrame::label(bool dropFrameText) const
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d%c%02d", hours, minutes, seconds, dropFrameText ? ';' : ':',
                  frames);
    return text;
}

namespace {

void readQueuedFrames(LTCDecoder* decoder, std::vector<PlainFrame>& frames)
{
    LTCFrameExt frame;
    while (ltc_decoder_read(decoder, &frame)) {
        SMPTETimecode time;
        ltc_frame_to_time(&time, &frame.ltc, 0);
        unsigned char raw[10];
        static_assert(sizeof(LTCFrame) >= 10); // 80 bits, padded to whole words
        std::memcpy(raw, &frame.ltc, sizeof raw);
        int ones = 0;
        for (unsigned char byte : raw)
            ones += static_cast<int>(std::bitset<8>(byte).count());
        PlainFrame decoded;
        decoded.hours = time.hours;
        decoded.minutes = time.mins;
        decoded.seconds = time.secs;
        decoded.frames = time.frame;
        decoded.dropFrame = frame.ltc.dfbit != 0;
        decoded.colourFrame = frame.ltc.col_frame != 0;
        decoded.evenZeroCount = (80 - ones) % 2 == 0;
        decoded.startPosition = frame.off_start;
        decoded.endPosition = frame.off_end;
        frames.push_back(decoded);
    }
}

} // namespace

PlainStreamDecoder::PlainStreamDecoder()
    : decoder_(ltc_decoder_create(kSampleRate / 24, 64))
{
}

PlainStreamDecoder::~PlainStreamDecoder()
{
    ltc_decoder_free(decoder_);
}

std::vector<PlainFrame> PlainStreamDecoder::feed(const float* samples, int count, int64_t position)
{
    ltc_decoder_write_float(decoder_, const_cast<float*>(samples), static_cast<size_t>(count), position);
    std::vector<PlainFrame> frames;
    readQueuedFrames(decoder_, frames);
    return frames;
}

std::vector<PlainFrame> plainDecode(const std::vector<float>& samples, int64_t positionOfFirst)
{
    PlainStreamDecoder decoder;
    std::vector<PlainFrame> frames;
    // Slices keep libltc's queue from overflowing on long streams.
    const size_t slice = 4096;
    for (size_t offset = 0; offset < samples.size(); offset += slice) {
        const int n = static_cast<int>(std::min(slice, samples.size() - offset));
        const std::vector<PlainFrame> more =
            decoder.feed(samples.data() + offset, n, positionOfFirst + static_cast<int64_t>(offset));
        frames.insert(frames.end(), more.begin(), more.end());
    }
    return frames;
}

std::vector<float> plainEncode(const RateCase& rate, int hours, int minutes, int seconds, int frames,
                               int frameCount, std::vector<int64_t>* frameStarts)
{
    const LTC_TV_STANDARD standard = rate.labelFps == 25 ? LTC_TV_625_50
                                     : rate.labelFps == 24 ? LTC_TV_FILM_24
                                                           : LTC_TV_525_60;
    LTCEncoder* encoder = ltc_encoder_create(kSampleRate, rate.fps, standard, 0);
    ltc_encoder_set_filter(encoder, 0.0);
    ltc_encoder_set_volume(encoder, -10.0);
    SMPTETimecode time;
    std::memset(&time, 0, sizeof time);
    time.hours = static_cast<unsigned char>(hours);
    time.mins = static_cast<unsigned char>(minutes);
    time.secs = static_cast<unsigned char>(seconds);
    time.frame = static_cast<unsigned char>(frames);
    ltc_encoder_set_timecode(encoder, &time);
    LTCFrame frame;
    ltc_encoder_get_frame(encoder, &frame);
    frame.dfbit = rate.dropFrame ? 1 : 0;
    ltc_frame_set_parity(&frame, standard);
    ltc_encoder_set_frame(encoder, &frame);

    std::vector<float> samples;
    for (int i = 0; i < frameCount; ++i) {
        if (frameStarts)
            frameStarts->push_back(static_cast<int64_t>(samples.size()));
        ltc_encoder_encode_frame(encoder);
        ltcsnd_sample_t* bytes = nullptr;
        const int n = ltc_encoder_get_bufferptr(encoder, &bytes, 1);
        for (int j = 0; j < n; ++j)
            samples.push_back((static_cast<float>(bytes[j]) - 128.0f) / 128.0f);
        ltc_encoder_inc_timecode(encoder);
    }
    ltc_encoder_free(encoder);
    return samples;
}

std::vector<float> generate(LtcEncoder& encoder, int64_t totalSamples, const std::vector<int>& blockSizes)
{
    std::vector<float> samples(static_cast<size_t>(totalSamples), 7.0f);
    int64_t done = 0;
    size_t next = 0;
    while (done < totalSamples) {
        const int size = static_cast<int>(std::min<int64_t>(blockSizes[next % blockSizes.size()], totalSamples - done));
        ++next;
        const int written = encoder.generateSamples(samples.data() + done, size);
        if (written != size)
            return {};
        done += size;
    }
    return samples;
}

std::vector<int> randomBlockSizes(uint32_t seed, int count, int maxSize)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> size(1, maxSize);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i)
        sizes.push_back(size(random));
    return sizes;
}

std::string labelOf(int64_t labelCount, int labelFps, bool dropFrame)
{
    return Timecode::fromFrames(labelCount, labelFps, dropFrame).toString();
}

} // namespace ltctest
