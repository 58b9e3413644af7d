#pragma once

#include "media/BwfFileWriter.h"
#include "timecode/Timecode.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class LtcEncoder;
class SessionState;

// The one interface through which the program drives audio. Tracks are
// numbered 0 to 31; device channels ("ports") are named by strings and
// resolved to channel indexes when a call is made. Fader gain is linear;
// trim, EQ gain, limiter threshold and slate gain are in dB; levels 0 to 1;
// frequencies in Hz; buffer sizes in frames; pre- and post-roll in whole
// seconds; playback position and duration in seconds.
//
// Threads: every operation is called on the GUI thread. Errors never cross
// as exceptions: a failing operation returns false (or an empty value) and
// logs its reason.
//
// The order of the operations is part of the interface; implementations
// follow it.
class AudioEngineBase {
public:
    struct RecordingMetadata {
        std::string project;
        std::string soundRoll;
        std::string scene;
        std::string take;
        std::string notes;
        std::vector<std::string> trackNames;  // index = track number
    };

    struct BackupPathInfo {
        std::string path;  // root folder of the backup drive
        int format = 0;    // 0 one polyphonic file per take, 1 one mono file per track
    };

    virtual ~AudioEngineBase() = default;

    // Lifecycle and device.
    virtual bool initialize() = 0;
    virtual void shutdown() = 0;
    virtual bool isInitialized() const = 0;
    virtual std::vector<std::string> getAvailableInputChannels() const = 0;
    virtual std::vector<std::string> getAvailableOutputChannels() const = 0;
    virtual int getSampleRate() const = 0;
    virtual int getBufferSize() const = 0;
    virtual void forceRefreshPorts() = 0;
    virtual std::vector<std::string> getAvailableDevices() = 0;
    virtual std::string getCurrentDeviceName() const = 0;
    virtual bool selectDevice(const std::string& name) = 0;
    virtual bool isRunning() const = 0;
    virtual void setInputRouting(const std::vector<std::string>& inputPorts) = 0;

    // Take settings and backup.
    virtual void setSessionState(std::shared_ptr<SessionState> session) = 0;
    virtual void setMediaFormat(int fileFormat, int bitDepth) = 0;
    virtual void setSampleFormat(BwfFileWriter::SampleFormat format) = 0;
    virtual int getFileFormat() const = 0;
    virtual int getBitDepth() const = 0;
    virtual BwfFileWriter::SampleFormat getSampleFormat() const = 0;
    virtual void setPrerollDuration(int seconds) = 0;
    virtual int getPrerollDuration() const = 0;
    virtual void setPostrollDuration(int seconds) = 0;
    virtual int getPostrollDuration() const = 0;
    virtual void setBackupMediaPaths(bool enabled, const std::vector<std::string>& roots) = 0;
    virtual void setBackupMediaPathsWithFormats(bool enabled, const std::vector<BackupPathInfo>& paths) = 0;
    virtual void setLiveBackupActiveTake(bool enabled) = 0;
    virtual bool isBackupCopyActive() const = 0;

    // Takes.
    virtual bool startRecording() = 0;
    // Why the last startRecording gave false, as the person at the recorder
    // reads it (the log holds the full line); empty after a start.
    virtual std::string getTakeStartRefusal() const = 0;
    virtual bool stopRecording() = 0;
    virtual bool isRecording() const = 0;
    virtual bool isWriterDraining() const = 0;
    virtual void cancelPendingPostroll() = 0;

    // Ports kept for callers; they have no effect.
    virtual bool setupInputPorts() = 0;
    virtual void cleanupInputPorts() = 0;
    virtual void cleanupTrackOutputPorts() = 0;

    // Meters and LTC input.
    virtual float getTrackPeakLevel(int track) const = 0;
    virtual float getMainPeakLevel() const = 0;
    virtual bool hasAnyTrackClipped() const = 0;
    virtual void setLtcInputPort(const std::string& port) = 0;
    virtual void setLtcInputEnabled(bool enabled) = 0;
    virtual Timecode getTimecode() const = 0;
    virtual bool hasValidTimecode() const = 0;
    virtual double getDetectedFramerate() const = 0;
    // The decoded time read together with the position of its frame's first
    // sample, on the clock the LTC generator's blocks are stamped with;
    // framePosition is -1 while no valid frame is known.
    struct PlacedTimecode {
        Timecode timecode;
        int64_t framePosition = -1;
    };
    virtual PlacedTimecode getPlacedTimecode() const = 0;
    virtual void setForcedFramerate(double fps) = 0;
    virtual double getForcedFramerate() const = 0;
    virtual bool isFramerateForced() const = 0;

    // Take metadata.
    virtual void setRecordingMetadata(const RecordingMetadata& metadata) = 0;
    virtual RecordingMetadata getRecordingMetadata() const = 0;
    virtual Timecode getStartTimecode() const = 0;

    // Mix port, slate microphone and talkback.
    virtual void setMixOutputPort(const std::string& port) = 0;
    virtual void setSlateMicPort(const std::string& port) = 0;
    virtual void setSlateMicInputEnabled(bool enabled) = 0;
    virtual void enableSlateMic(bool enabled) = 0;
    virtual void setSlateMicMonitorOnly(bool monitorOnly) = 0;
    virtual void setSlateMicGain(int gainDb) = 0;
    virtual void setComInput1Port(const std::string& port) = 0;
    virtual void setComInput1Enabled(bool enabled) = 0;
    virtual void setComInput2Port(const std::string& port) = 0;
    virtual void setComInput2Enabled(bool enabled) = 0;
    virtual void enableSlateMicToCom(bool enabled) = 0;
    virtual void cleanupComPorts() = 0;
    virtual void setComsOutputPorts(const std::vector<std::string>& ports) = 0;

    // Generators.
    virtual void setLtcGenerator(LtcEncoder* generator) = 0;
    virtual void setLtcGeneratorOutput(int channel) = 0;
    virtual void enableLtcGenerator(bool enabled) = 0;
    virtual void setBeepOnRecordEnabled(bool enabled) = 0;
    virtual void triggerRecordBeep(bool doubleBeep) = 0;
    virtual void setTestToneEnabled(bool enabled) = 0;
    virtual bool isTestToneEnabled() const = 0;
    virtual void setBitbucketMode(bool enabled) = 0;
    virtual bool isBitbucketMode() const = 0;

    // Output routing. `routingStates` and the fourth list do not change the routing.
    virtual void applyOutputRouting(const std::vector<std::vector<std::string>>& routingMatrix,
                                    const std::vector<std::map<std::string, bool>>& routingStates,
                                    const std::vector<std::string>& outputPortNames,
                                    const std::vector<std::string>& unusedPortNames,
                                    const std::vector<std::string>& mixOutputPorts,
                                    const std::vector<std::string>& comsOutputPorts,
                                    const std::vector<std::string>& ltcGenOutputPorts) = 0;

    // Channel strip.
    virtual void setTrackGain(int track, float gainLinear) = 0;
    virtual float getTrackGain(int track) const = 0;
    virtual float getTargetTrackGain(int track) const = 0;
    virtual void setTrackDigitalGain(int track, float gainDb) = 0;
    virtual float getTrackDigitalGain(int track) const = 0;
    virtual void setTrackHPFEnabled(int track, bool enabled) = 0;
    virtual bool getTrackHPFEnabled(int track) const = 0;
    virtual void setTrackHPFFrequency(int track, float frequencyHz) = 0;
    virtual float getTrackHPFFrequency(int track) const = 0;
    virtual void setTrackEQEnabled(int track, bool enabled) = 0;
    virtual bool getTrackEQEnabled(int track) const = 0;
    virtual void setTrackEQBand(int track, int band, float frequencyHz, float gainDb, float q) = 0;
    virtual void getTrackEQBand(int track, int band, float& frequencyHz, float& gainDb, float& q) const = 0;
    virtual void setTrackLimiterEnabled(int track, bool enabled) = 0;
    virtual bool getTrackLimiterEnabled(int track) const = 0;
    virtual void setTrackLimiterThreshold(int track, float thresholdDb) = 0;
    virtual float getTrackLimiterThreshold(int track) const = 0;

    // Arming and health.
    virtual void setTrackArmed(int track, bool armed) = 0;
    virtual bool isTrackArmed(int track) const = 0;
    // Audio lost on the way to the take files, in frames (one per lost frame
    // position, whatever the take's layout and channel count); it only grows.
    virtual int64_t getDroppedSamples() const = 0;
    virtual int64_t getWriteErrors() const = 0;
    virtual bool hasBackupDriveError(int drive) const = 0;
    virtual void clearBackupDriveError(int drive) = 0;

    // Aux buses and sends.
    virtual void setAuxLevel(int aux, float level) = 0;
    virtual float getAuxLevel(int aux) const = 0;
    virtual void setTrackAuxSend(int track, int aux, float level) = 0;
    virtual float getTrackAuxSend(int track, int aux) const = 0;
    virtual void setAuxOutputIndices(int aux, const std::vector<int>& channels) = 0;
    virtual std::vector<int> getAuxOutputIndices(int aux) const = 0;
    virtual void setTrackAuxSendPreFader(int track, int aux, bool preFader) = 0;
    virtual bool getTrackAuxSendPreFader(int track, int aux) const = 0;
    virtual void setMixSendLevel(int aux, float level) = 0;
    virtual float getMixSendLevel(int aux) const = 0;
    virtual void setMixSendPreFader(int aux, bool preFader) = 0;
    virtual bool getMixSendPreFader(int aux) const = 0;

    // Playback.
    virtual void setPlaybackOutputPort(int channel, const std::string& target) = 0;
    virtual bool startPlayback(const std::string& path) = 0;
    virtual void stopPlayback() = 0;
    virtual void pausePlayback() = 0;
    virtual void resumePlayback() = 0;
    // False again once the file's last frame has been played.
    virtual bool isPlayingBack() const = 0;
    virtual bool isPlaybackPaused() const = 0;
    virtual double getPlaybackPosition() const = 0;
    virtual double getPlaybackDuration() const = 0;
    virtual void seekPlayback(double seconds) = 0;

    // Bus outputs.
    virtual std::vector<int> getMixOutputIndices() const = 0;
    virtual std::vector<int> getComsOutputIndices() const = 0;
};
