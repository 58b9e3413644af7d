#pragma once

#include "platform/audio/AudioTypes.h"

#include <cstdint>

// Small helpers of the render callback over one block's float buffers.
// Audio thread: no locks, no allocation, no logging.
namespace RenderBlockBuffers {

// The engine's bus buffers, in their storage order. The coms bus has none:
// its sources are added straight into its outputs.
enum Bus { kMixBus = 0, kSlateBus = 1, kMonitorBus = 2, kLtcGeneratorBus = 3, kBusCount = 4 };

// The output buffer of a valid index that holds the block, else null.
inline float* outputChannel(AudioBlockBufferList& outputs, int index, uint32_t blockFrames)
{
    if (index < 0 || static_cast<uint32_t>(index) >= outputs.bufferCount || outputs.buffers == nullptr)
        return nullptr;
    AudioBlockBuffer& buffer = outputs.buffers[index];
    if (buffer.data == nullptr || buffer.byteSize < blockFrames * sizeof(float))
        return nullptr;
    return buffer.data;
}

inline void addInto(float* destination, const float* source, uint32_t frames)
{
    for (uint32_t i = 0; i < frames; ++i)
        destination[i] += source[i];
}

inline void addScaledInto(float* destination, const float* source, float gain, uint32_t frames)
{
    for (uint32_t i = 0; i < frames; ++i)
        destination[i] += source[i] * gain;
}

}  // namespace RenderBlockBuffers
