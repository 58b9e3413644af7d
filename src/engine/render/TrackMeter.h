#pragma once

#include <atomic>

// One track's meter: linear peak level of the last block and a sticky clip
// flag. Written by the render callback, read and cleared by the GUI thread.
struct TrackMeter {
    std::atomic<float> peakLevel{0.0f};
    std::atomic<bool> clipped{false};
};
