#pragma once

#include <memory>
#include <string>
#include <vector>

// One track of the session record. Created with defaults; the recorder keeps
// its live per-track state in the engine, not here.
struct Track {
    Track() = default;
    Track(int trackId, const std::string& trackName);

    int id = 0;
    std::string name;
    std::string sourceName;
    bool armed = false;
    bool muted = false;
    bool soloed = false;
    float gainLinear = 1.0f;
    float pan = 0.0f;
    int inputChannel = 0;
};

// The session record the main window creates and shares with the engine.
// Threads: built on the GUI thread before the engine receives it and not
// touched afterwards, so it has no lock.
class SessionState {
public:
    SessionState() = default;

    void addTrack(std::shared_ptr<Track> track);
    void removeTrack(int index);
    std::shared_ptr<Track> getTrack(int index) const;

    std::string projectName;
    std::string soundRoll;
    std::string scene;
    std::string take;
    std::string notes;
    std::string location;
    std::vector<std::shared_ptr<Track>> tracks;
    bool modified = false;
    int sampleRate = 48000;
};
