#pragma once

#include "media/BwfFileWriter.h"

#include <cmath>
#include <cstdint>
#include <string>

// What the real-writer stand-in recorder (real_take_writer) writes, shared
// with the tests that judge the repaired take: the metadata record and the
// sample of every frame and channel.

// Deterministic, partly beyond full scale so the integer formats clamp.
inline float realTakeSample(int64_t frame, int channel)
{
    return static_cast<float>(1.1 * std::sin(0.0137 * static_cast<double>(frame) + 0.71 * channel));
}

// Fixed date and time so the test can rebuild the exact metadata chunks.
inline BwfFileWriter::BextChunk realTakeRecord(int channels)
{
    BwfFileWriter::BextChunk record;
    record.originationDate = "2026-02-03";
    record.originationTime = "04:05:06";
    record.scene = "42B";
    record.take = "7";
    record.note = "killed <mid-take> & repaired";
    record.frameRate = 25.0;
    record.timestampSampleRate = 48000;
    record.timeReference = 1787063040;
    for (int channel = 1; channel <= channels; ++channel)
        record.trackNames.push_back("Trk " + std::to_string(channel));
    return record;
}
