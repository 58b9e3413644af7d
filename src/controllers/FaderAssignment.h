#pragma once

#include <string>

// One hardware fader driving one track.
struct FaderAssignment {
    std::string deviceName;
    int faderIndex = 0;  // from 0
    int trackIndex = 0;  // 0 to 31
};
