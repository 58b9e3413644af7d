#pragma once

#include "MediaTestFiles.h"
#include "engine/RenderTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

inline std::string readFileBytesAsText(const std::string& path)
{
    const std::vector<uint8_t> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The engine on the stepped "Virtual Interface" for the playback tools:
// output 0 carries the mix, output 1 the monitor; live input 0 feeds track 0
// with a constant so the live mix is recognisable.
class PlaybackToolTest : public RenderTest {
protected:
    static constexpr uint32_t kBlock = 256;
    static constexpr float kLiveMix = 0.125f;

    void SetUp() override
    {
        RenderTest::SetUp();
        whileStopped([&] {
            engine_->setInputRouting({inputNames_[0]});
            engine_->applyOutputRouting({}, {}, outputNames_, {}, {outputNames_[0]}, {outputNames_[2]}, {});
            engine_->setMonitorOutputRouting({outputNames_[1]}, outputNames_);
        });
        engine_->armTrackForTest(0, true);
    }

    void feedLiveMix() { feed(0, std::vector<float>(1 << 22, kLiveMix)); }

    // Float samples that are never 0, channel-interleaved; frame f of channel
    // c is distinct from every other.
    static std::vector<float> distinctSamples(int channels, int64_t frames)
    {
        std::vector<float> samples(static_cast<size_t>(channels * frames));
        for (int64_t f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                samples[static_cast<size_t>(f * channels + c)] =
                    (f % 2 ? 1.0f : -1.0f) * (0.01f + 0.8f * static_cast<float>((f * 7 + c * 13) % 997) / 997.0f);
        return samples;
    }

    // Renders block by block until `frames` frames have come out of the
    // engine's reader (its prefetch thread fills at its own pace), keeping
    // the output samples of the blocks that delivered.
    std::vector<std::vector<float>> play(int64_t frames)
    {
        std::vector<std::vector<float>> delivered(8);
        int64_t position = std::llround(engine_->getPlaybackPosition() * kRate);
        int64_t got = 0;
        for (int attempt = 0; attempt < 1000000 && got < frames; ++attempt) {
            const auto out = render(1, kBlock);
            const int64_t now = std::llround(engine_->getPlaybackPosition() * kRate);
            const int64_t count = std::clamp<int64_t>(now - position, 0, kBlock);
            for (size_t o = 0; o < 8; ++o)
                delivered[o].insert(delivered[o].end(), out[o].begin(), out[o].begin() + count);
            position = now;
            got += count;
            if (count == 0)
                std::this_thread::yield();
        }
        return delivered;
    }
};
