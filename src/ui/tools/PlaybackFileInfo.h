#pragma once

#include <string>

// What the playback dialog shows of a take: its format and, when the file
// carries them, scene and take.
struct PlaybackFileInfo {
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    double duration = 0.0;  // seconds
    std::string scene;
    std::string take;
};

// Fields that cannot be read stay 0 or empty. A file that no longer exists
// ends the call with std::filesystem::filesystem_error, whose message says so.
PlaybackFileInfo readPlaybackFileInfo(const std::string& path);
