#include "platform/audio/VirtualDeviceDescription.h"

#include <numeric>

uint32_t VirtualDeviceDescription::inputChannelCount() const
{
    return std::accumulate(inputStreams.begin(), inputStreams.end(), 0u);
}

uint32_t VirtualDeviceDescription::outputChannelCount() const
{
    return std::accumulate(outputStreams.begin(), outputStreams.end(), 0u);
}
