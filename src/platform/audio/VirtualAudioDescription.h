#pragma once

#include "platform/audio/VirtualDeviceDescription.h"

#include <string>
#include <vector>

// The device set of a virtual audio system, from JSON or built in.
//
// JSON: {"devices": [{"name": "...", "uid": "...", "inputs": 8 | "inputStreams": [2, 6],
//   "outputs": 2 | "outputStreams": [2], "inputNames": [...], "outputNames": [...],
//   "inputSignals": [{"type": "tone", "frequencyHz": 440, "levelDb": -12},
//                    {"type": "noise", "levelDb": -60}, {"type": "silence"},
//                    {"type": "ltc", "fps": 25, "levelDb": -18}],
//   "subDevices": ["uid", ...], "sampleRate": 48000, "bufferFrames": 256,
//   "bufferFrameSizes": [64, 128, ...], "defaultOutput": true}]}
class VirtualAudioDescription {
public:
    std::vector<VirtualDeviceDescription> devices;

    // An 8-in/8-out "Virtual Interface" with tones, noise, silence and LTC on
    // input 8, an input-only recorder (captured directly) and a stereo
    // default output.
    static VirtualAudioDescription builtInDefault();
    // False with a readable reason when the text is not a usable description.
    static bool fromJson(const std::string& jsonText, VirtualAudioDescription& description, std::string& error);
    static bool fromFile(const std::string& path, VirtualAudioDescription& description, std::string& error);
};
