#pragma once

#include <cstdint>
#include <vector>

// One decoded MIDI channel message.
struct MidiMessage {
    int type = 0;  // 0 note on, 1 note off (or note on with velocity 0), 2 control change,
                   // 3 program change, 4 pitch bend
    uint8_t channel = 0;  // 0 to 15
    uint8_t data1 = 0;    // note, controller or program; pitch bend: low seven bits
    uint8_t data2 = 0;    // velocity or value; pitch bend: high seven bits; program change: 0
    std::vector<uint8_t> bytes;  // left empty by decoders, ignored by senders
};
