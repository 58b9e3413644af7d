#pragma once

#include "backup/BackupCopyQueue.h"
#include "engine/AudioEngineBase.h"
#include "engine/take/StartTimecodeCapture.h"
#include "engine/take/TakeFileSet.h"
#include "engine/take/TakeRecorder.h"
#include "engine/take/TakeSettings.h"
#include "engine/take/WriterState.h"
#include "platform/audio/AudioSystem.h"
#include "engine/render/AutomixEngine.h"
#include "engine/render/ChannelStripRealtime.h"
#include "engine/render/ChannelStripSettings.h"
#include "engine/render/RoutingSnapshot.h"
#include "engine/render/TrackChain.h"
#include "engine/render/TrackMeter.h"
#include "engine/render/LtcDecoderSlot.h"
#include "realtime/DeadWoodList.h"
#include "realtime/RealtimeSlot.h"
#include "realtime/RecordingRing.h"
#include "realtime/SpscRing.h"
#include "engine/render/ToneOscillator.h"
#include "media/WavFileReader.h"
#include "timecode/LtcDecoder.h"

#include <array>
#include <atomic>
#include <bitset>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The audio engine: one device at a time, one output unit whose render
// callback runs the whole signal path, direct capture for input-only devices,
// and a recording ring of the last 60 seconds. It is the façade of the
// recording side: the operations of AudioEngineBase are implemented in one
// source file per concern (lifecycle, devices, output unit, render, routing,
// meters, generators, strip, playback, recording), and the recording
// operations forward to the TakeRecorder (engine/take), which owns the take's
// state and its writer thread. The signal-path pieces live in engine/render.
//
// Threads:
// - Every public operation runs on the GUI thread.
// - The render callback (sRenderCallback) runs on the output unit's I/O
//   thread. Audio thread: no locks, no allocation, no logging. It reads the
//   input buffers, the direct-capture ring and the counters below, all
//   allocated while the unit is stopped, and is the recording ring's only
//   writer.
// - The direct-capture IOProc (sDirectInputIOProc) runs on the input device's
//   I/O thread; it is the SpscRing's only producer, the render callback its
//   only consumer.
// - The device-alive listener (sDeviceAliveChanged) runs on the audio
//   system's notification thread and touches only atomics (and the log).
// - The take recorder's ring writer thread reads the recording ring and the
//   take's state; see TakeRecorder.h.
// - The dead-wood list's timer thread frees retired objects (below).
// - Lifetimes shared with the audio thread are keyed on "unit started", not
//   on "running": a lost device clears running while an output unit on the
//   default output device may still render. Objects the render callback may
//   hold are retired with retireAfterTwoRenderCycles: freed two render cycles
//   later by a later retire or the dead-wood timer, never by a thread that
//   waits for blocks.
class AudioEngine_CoreAudio : public AudioEngineBase, private TakeEngineSide, private TakeBackupSide {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kDefaultBufferSizeFrames = 256;
    static constexpr int kRecordingRingSeconds = 60;
    static constexpr int kRingFrameFloats = TakeRecorder::kRingFrameFloats;  // the mix, then 32 tracks
    static constexpr int kMaxTracks = TakeRecorder::kMaxTracks;
    static constexpr uint32_t kMaxBlockFrames = 8192;  // the largest block the callback processes
    static_assert(kMaxBlockFrames == TakeRecorder::kMaxBlockFrames, "the take recorder knows the largest block");
    static constexpr uint32_t kDirectCaptureRingFrames = 16384;
    static constexpr uint64_t kDirectCaptureMaxDelayBlocks = 4;

    // The program's engine: the platform's default audio system and a
    // 60-second recording ring (about 380 MB).
    AudioEngine_CoreAudio();
    // An engine on a given audio system with a recording ring of
    // `recordingRingSeconds` (at least 1); tests use a short ring.
    AudioEngine_CoreAudio(std::shared_ptr<AudioSystem> audioSystem, int recordingRingSeconds);
    ~AudioEngine_CoreAudio() override;

    AudioEngine_CoreAudio(const AudioEngine_CoreAudio&) = delete;
    AudioEngine_CoreAudio& operator=(const AudioEngine_CoreAudio&) = delete;

    // --- AudioEngineBase, in its order --------------------------------------
    bool initialize() override;
    void shutdown() override;
    bool isInitialized() const override;
    std::vector<std::string> getAvailableInputChannels() const override;
    std::vector<std::string> getAvailableOutputChannels() const override;
    int getSampleRate() const override;
    int getBufferSize() const override;
    void forceRefreshPorts() override;
    std::vector<std::string> getAvailableDevices() override;
    std::string getCurrentDeviceName() const override;
    bool selectDevice(const std::string& name) override;
    bool isRunning() const override;
    void setInputRouting(const std::vector<std::string>& inputPorts) override;
    void setSessionState(std::shared_ptr<SessionState> session) override;
    void setMediaFormat(int fileFormat, int bitDepth) override;
    void setSampleFormat(BwfFileWriter::SampleFormat format) override;
    int getFileFormat() const override;
    int getBitDepth() const override;
    BwfFileWriter::SampleFormat getSampleFormat() const override;
    void setPrerollDuration(int seconds) override;
    int getPrerollDuration() const override;
    void setPostrollDuration(int seconds) override;
    int getPostrollDuration() const override;
    void setBackupMediaPaths(bool enabled, const std::vector<std::string>& roots) override;
    void setBackupMediaPathsWithFormats(bool enabled, const std::vector<BackupPathInfo>& paths) override;
    void setLiveBackupActiveTake(bool enabled) override;
    bool isBackupCopyActive() const override;
    bool startRecording() override;
    std::string getTakeStartRefusal() const override;
    bool stopRecording() override;
    bool isRecording() const override;
    bool isWriterDraining() const override;
    void cancelPendingPostroll() override;
    bool setupInputPorts() override;
    void cleanupInputPorts() override;
    void cleanupTrackOutputPorts() override;
    float getTrackPeakLevel(int track) const override;
    float getMainPeakLevel() const override;
    bool hasAnyTrackClipped() const override;
    void setLtcInputPort(const std::string& port) override;
    void setLtcInputEnabled(bool enabled) override;
    Timecode getTimecode() const override;
    bool hasValidTimecode() const override;
    double getDetectedFramerate() const override;
    PlacedTimecode getPlacedTimecode() const override;
    void setForcedFramerate(double fps) override;
    double getForcedFramerate() const override;
    bool isFramerateForced() const override;
    void setRecordingMetadata(const RecordingMetadata& metadata) override;
    RecordingMetadata getRecordingMetadata() const override;
    Timecode getStartTimecode() const override;
    void setMixOutputPort(const std::string& port) override;
    void setSlateMicPort(const std::string& port) override;
    void setSlateMicInputEnabled(bool enabled) override;
    void enableSlateMic(bool enabled) override;
    void setSlateMicMonitorOnly(bool monitorOnly) override;
    void setSlateMicGain(int gainDb) override;
    void setComInput1Port(const std::string& port) override;
    void setComInput1Enabled(bool enabled) override;
    void setComInput2Port(const std::string& port) override;
    void setComInput2Enabled(bool enabled) override;
    void enableSlateMicToCom(bool enabled) override;
    void cleanupComPorts() override;
    void setComsOutputPorts(const std::vector<std::string>& ports) override;
    void setLtcGenerator(LtcEncoder* generator) override;
    void setLtcGeneratorOutput(int channel) override;
    void enableLtcGenerator(bool enabled) override;
    void setBeepOnRecordEnabled(bool enabled) override;
    void triggerRecordBeep(bool doubleBeep) override;
    void setTestToneEnabled(bool enabled) override;
    bool isTestToneEnabled() const override;
    void setBitbucketMode(bool enabled) override;
    bool isBitbucketMode() const override;
    void applyOutputRouting(const std::vector<std::vector<std::string>>& routingMatrix,
                            const std::vector<std::map<std::string, bool>>& routingStates,
                            const std::vector<std::string>& outputPortNames,
                            const std::vector<std::string>& unusedPortNames,
                            const std::vector<std::string>& mixOutputPorts,
                            const std::vector<std::string>& comsOutputPorts,
                            const std::vector<std::string>& ltcGenOutputPorts) override;
    void setTrackGain(int track, float gainLinear) override;
    float getTrackGain(int track) const override;
    float getTargetTrackGain(int track) const override;
    void setTrackDigitalGain(int track, float gainDb) override;
    float getTrackDigitalGain(int track) const override;
    void setTrackHPFEnabled(int track, bool enabled) override;
    bool getTrackHPFEnabled(int track) const override;
    void setTrackHPFFrequency(int track, float frequencyHz) override;
    float getTrackHPFFrequency(int track) const override;
    void setTrackEQEnabled(int track, bool enabled) override;
    bool getTrackEQEnabled(int track) const override;
    void setTrackEQBand(int track, int band, float frequencyHz, float gainDb, float q) override;
    void getTrackEQBand(int track, int band, float& frequencyHz, float& gainDb, float& q) const override;
    void setTrackLimiterEnabled(int track, bool enabled) override;
    bool getTrackLimiterEnabled(int track) const override;
    void setTrackLimiterThreshold(int track, float thresholdDb) override;
    float getTrackLimiterThreshold(int track) const override;
    void setTrackArmed(int track, bool armed) override;
    bool isTrackArmed(int track) const override;
    int64_t getDroppedSamples() const override;
    int64_t getWriteErrors() const override;
    bool hasBackupDriveError(int drive) const override;
    void clearBackupDriveError(int drive) override;
    void setAuxLevel(int aux, float level) override;
    float getAuxLevel(int aux) const override;
    void setTrackAuxSend(int track, int aux, float level) override;
    float getTrackAuxSend(int track, int aux) const override;
    void setAuxOutputIndices(int aux, const std::vector<int>& channels) override;
    std::vector<int> getAuxOutputIndices(int aux) const override;
    void setTrackAuxSendPreFader(int track, int aux, bool preFader) override;
    bool getTrackAuxSendPreFader(int track, int aux) const override;
    void setMixSendLevel(int aux, float level) override;
    float getMixSendLevel(int aux) const override;
    void setMixSendPreFader(int aux, bool preFader) override;
    bool getMixSendPreFader(int aux) const override;
    void setPlaybackOutputPort(int channel, const std::string& target) override;
    bool startPlayback(const std::string& path) override;
    void stopPlayback() override;
    void pausePlayback() override;
    void resumePlayback() override;
    bool isPlayingBack() const override;
    bool isPlaybackPaused() const override;
    double getPlaybackPosition() const override;
    double getPlaybackDuration() const override;
    void seekPlayback(double seconds) override;
    std::vector<int> getMixOutputIndices() const override;
    std::vector<int> getComsOutputIndices() const override;

    // --- Reached after a downcast -------------------------------------------
    // Waits on the writer's own Idle notification; false on timeout.
    bool waitForWriterIdle(std::chrono::milliseconds timeout);
    // Under the routing mutex: a copy of the monitor output list.
    std::vector<int> getMonitorOutputIndices() const;
    // Asks the device for a buffer size, rebuilds the unit and stores the
    // asked size under "audio.bufferSize"; getBufferSize then reports the
    // size the device settled on.
    bool setBufferSize(int frames);
    std::vector<int> getAvailableBufferSizes() const;
    void setPFLTrack(int track);
    void setMonitorOutputRouting(const std::vector<std::string>& monitorPorts,
                                 const std::vector<std::string>& outputPortNames);
    AutomixEngine* getAutomixEngine();

    // --- Output unit control (device selection, buffer size, shutdown) ------
    bool start();
    bool stop();
    bool selectInputDevice(const std::string& name);
    void updateChannelInfo();

    // --- State the recording side, the render stages and tests read ---------
    // The output unit has been started and not stopped since: the render
    // callback may run. Unlike isRunning, a lost device does not clear it.
    bool isUnitStarted() const;
    uint64_t getRenderCycleCount() const;
    WriterState getWriterState() const;
    bool isDirectCaptureActive() const;
    int getDirectCaptureChannelCount() const;
    int64_t getDirectCaptureOverflowFrames() const;
    int64_t getDirectCaptureUnderrunFrames() const;
    int64_t getRecordingRingCapacityFrames() const;
    // The block's input of one channel as the render callback last saw it;
    // read it only while no block is being rendered.
    const float* getInputChannelBlock(int channel) const;
    // GUI thread, never waits: hands over an object the render callback may
    // still hold. It is freed at once when the unit is not started, else
    // once the callback has begun two more blocks (by a later retire or the
    // dead-wood timer), or when the unit stops, whichever comes first.
    void retireAfterTwoRenderCycles(std::shared_ptr<const void> object);
    // What the dead-wood timer does, for tests: frees the retired objects
    // whose two cycles are over; returns how many went.
    size_t releaseDueRetiredObjects();
    size_t retiredObjectCount() const;

    static AudioStatus sDeviceAliveChanged(AudioDeviceId device, void* clientData);

    // --- Take start steps (GUI thread, writer Idle) -------------------------
    // Copies the layout, sample format, pre- and post-roll (clamped) and
    // Bitbucket Mode into the running take's settings and returns them; the
    // take keeps them whatever the setters do until the next latch.
    const TakeSettingsLatch& latchTakeSettings();
    const TakeSettingsLatch& getLatchedTakeSettings() const;
    // The metadata as the take start uses it: a whole copy taken under the
    // metadata lock, with an empty project, sound roll and take defaulted.
    TakeMetadata takeMetadataSnapshot() const;
    // Creates the base folder and <base>/<project>/<sound roll> (each level
    // sanitised) and gives the take folder; false after logging the reason.
    bool makeTakeFolder(const TakeMetadata& snapshot, std::string& takeFolder);
    // Moves the decoder's last frame to ring position startPositionFrames,
    // logs the capture and stores the start timecode, time reference, rates
    // and origination date and time of the take.
    StartTimecodeResult captureTakeStartTimecode(uint64_t startPositionFrames, uint64_t prerollFrames,
                                                 const LocalDateTime& localTime);
    // Opens the take's files in the latched layout and sample format with the
    // captured timecode in their metadata; the caller installs the writers.
    TakeFileSet openTakeFiles(const std::string& takeFolder, const TakeMetadata& snapshot,
                              const std::array<bool, kMaxTracks>& armedAtStart, int trackCount);

    // --- Render path: routing, channel strip, automix, recording ring -------
    using RoutingSnapshot = ::RoutingSnapshot;
    // Builds and publishes a snapshot of the routing members; the caller
    // holds routingMutex_. The old snapshot is retired after two blocks.
    void publishRoutingSnapshotLocked();
    // The snapshot blocks begin with now (GUI thread, for tests and dialogs).
    std::shared_ptr<const RoutingSnapshot> getRoutingSnapshot() const;
    void calculateHPFCoefficients(int track, float frequencyHz);
    void calculateEQCoefficients(int track, int band);
    void calculateLimiterCoefficients(int track, float thresholdDb);
    void loadChannelStripSettings();
    int64_t getRecordingRingWritePosition() const;
    // Shared with the readers of the ring (the take recorder, live backup,
    // tests): its frames and its write position.
    std::shared_ptr<const RecordingRing> getRecordingRing() const;

    // --- Take road: what tests, benchmarks and the window read --------------
    // The next ring position the ring writer copies (its read position) and
    // the largest distance it has been behind the ring's write position since
    // the engine was built, in frames.
    uint64_t getRingWriterReadPosition() const;
    uint64_t getRingWriterLargestLagFrames() const;
    // Frames the render callback has run while a take was recording or in
    // its post-roll, since the take started.
    int64_t getTakeFrameCount() const;
    // The files of the last take as they were named when it was closed
    // (renamed ones under their new names); empty while a take runs.
    std::vector<std::string> getLastClosedTakeFiles() const;
    // Takes repaired on the recording drive after a crash (GUI thread): each
    // file is queued for the verified copy to every configured backup drive,
    // in that drive's layout, into the folder that mirrors its folder below
    // `recordingRoot`; once a copy is verified the take's stale partial files
    // there go. Gives the number of jobs queued.
    int queueRepairedTakeBackups(const std::string& recordingRoot, const std::vector<std::string>& repairedFiles);
    // A false take moved on the recording drive (GUI thread): the copies of
    // its files on every backup drive take the same move into FALSETAKES
    // (a missing copy is no error, an existing file is never replaced), and a
    // copy still queued or under way lands there too. `moves` pairs each
    // moved file's old path with its new one.
    void moveFalseTakeOnBackups(const std::string& recordingRoot, const std::string& takeFolder,
                                const std::vector<std::pair<std::string, std::string>>& moves);

    // The recording side itself: its block writer, the live verdicts of the
    // latest take and the block-writer files of each backup drive.
    TakeRecorder& takeRecorder() { return takeRecorder_; }

protected:
    // The LTC reader: fed by the render callback, read by the take start;
    // a new input source publishes a fresh one (setLtcInputPort).
    LtcDecoderSlot ltcDecoder_;
    // Armed flags, one relaxed atomic per track: written by setTrackArmed,
    // read by the render callback once per block.
    std::array<std::atomic<bool>, kMaxTracks> trackArmed_{};

    // The recording side: settings, metadata, the take's state machine and
    // the ring writer thread. The recording operations forward to it.
    TakeRecorder takeRecorder_;

    // Tests: the live backup's take controls of the current take, one per
    // drive, as the live-backup hand-over leaves them.
    void setLiveTakeControlsForTest(std::vector<std::shared_ptr<LiveBackupTakeControl>> controls);

private:
    // Devices and channels.
    std::string getDeviceName(AudioDeviceId device) const;
    std::string getSubDeviceName(AudioDeviceId device) const;
    std::string getChannelName(AudioDeviceId device, int channel, bool input) const;
    std::vector<AudioDeviceId> getAudioDeviceIDs(bool input) const;
    std::vector<AudioDeviceId> getAggregateSubDevices(AudioDeviceId device) const;
    int getDeviceChannelCount(AudioDeviceId device, bool input) const;
    bool isAggregateDevice(AudioDeviceId device) const;
    void updateChannelInfoForAggregate(AudioDeviceId aggregate);

    // Output unit and direct capture.
    bool setupAudioUnit();
    void teardownAudioUnit();
    bool createAudioUnit();
    bool bindUnitToDevice();
    void configureUnitFormatsAndCallback();
    void buildInputBuffers();
    void startUnitAndListen();
    bool setupDirectInputCapture(AudioDeviceId device);
    void releaseRetiredObjects();
    static AudioStatus sDirectInputIOProc(AudioDeviceId device, const AudioBlockBufferList& input, void* clientData);
    void directInputIOProc(const AudioBlockBufferList& input);

    // Audio thread.
    static AudioStatus sRenderCallback(void* refcon, const AudioRenderTime& time, AudioUnitBus bus,
                                       uint32_t frames, AudioBlockBufferList& outputs);
    AudioStatus renderCallback(const AudioRenderTime& time, uint32_t frames, AudioBlockBufferList& outputs);
    void readDirectCaptureRing(uint32_t blockFrames);
    void allocateWorkBuffers();
    void allocateRecordingRing(int seconds);

    std::shared_ptr<AudioSystem> audioSystem_;

    // Device and output unit.
    std::unique_ptr<AudioOutputUnit> outputUnit_;
    AudioDeviceId inputDeviceId_ = kNoAudioDevice;
    AudioDeviceId outputDeviceId_ = kNoAudioDevice;
    std::string currentDeviceName_;
    const int sampleRate_ = kSampleRate;
    int bufferSizeFrames_ = kDefaultBufferSizeFrames;
    int inputChannelCount_ = 0;
    int outputChannelCount_ = 0;
    std::vector<std::string> inputChannelNames_;
    std::vector<std::string> outputChannelNames_;
    // One buffer per input channel, each sized for the largest block.
    std::vector<std::vector<float>> inputBufferStorage_;
    std::vector<AudioBlockBuffer> inputBuffers_;
    AudioBlockBufferList inputBufferList_;
    bool listenerRegistered_ = false;
    AudioDeviceId listenerDeviceId_ = kNoAudioDevice;

    // Direct capture: one producer (IOProc), one consumer (render callback),
    // frames of directCaptureChannelCount_ samples; allocated while neither runs.
    AudioSystem::IOProcId directCaptureProcId_ = 0;
    AudioDeviceId directCaptureDeviceId_ = kNoAudioDevice;
    bool directCaptureProcExists_ = false;
    std::atomic<bool> directCaptureActive_{false};
    int directCaptureChannelCount_ = 1;
    SpscRing<float> directCaptureRing_;
    std::atomic<int64_t> directCaptureOverflowFrames_{0};
    std::atomic<int64_t> directCaptureUnderrunFrames_{0};
    // Lost by captures set up before the current one.
    std::atomic<int64_t> directCaptureEarlierLostFrames_{0};

    // State flags.
    bool initialized_ = false;
    std::string notReadyRefusal_; // a take start refused before the recorder was asked
    std::atomic<bool> running_{false};
    std::atomic<bool> unitStarted_{false};
    std::atomic<uint64_t> renderCycleCounter_{0};
    // Unpublished objects a block may still hold; freed two render cycles
    // later by a later retire or the list's timer, all at once when the unit
    // stops.
    DeadWoodList deadWood_{renderCycleCounter_};

    // The session (GUI thread).
    std::shared_ptr<SessionState> sessionState_;

    // The recording ring: written by the render callback only, read by the
    // take recorder's writer thread and anything else holding it.
    std::shared_ptr<RecordingRing> recordingRing_;

    // What a take's start asks of the engine (TakeEngineSide, GUI thread).
    int takeTrackCount() const override;
    bool isTrackArmedForTake(int track) const override;
    bool takeHasNoMix() const override;
    int takeBufferSizeFrames() const override;
    size_t takeFrameBufferFloats() const override;
    void readTakeTimecodeInputs(StartTimecodeInputs& inputs) const override;

    // Render work buffers, allocated once so the audio thread never allocates.
    std::vector<float> postTrimTapBuffers_;   // 32 x 8192
    std::vector<float> chainOutputBuffers_;   // 32 x 8192
    std::vector<float> busBuffers_;           // 4 x 8192: mix, slate, monitor, LTC generator
    std::vector<float> frameBuffer_;          // 8192 x 33
    std::vector<float> playbackBuffer_;       // 8192 x 16
    std::vector<float> auxBusBuffers_;        // 4 x 8192

    // --- Render path: routing, channel strip, automix, recording ring -------
    // Set-up (constructor and output unit): GUI thread.
    void initializeSignalPath();
    void initializeOutputStages();
    void resetStripGainsForUnit();
    // Audio thread: no locks, no allocation, no logging.
    // The tracks whose chains run in a block: decided once at its start, so
    // the chains, the mix and the aux sends agree even if a track is armed
    // while the block runs.
    using TrackMask = std::bitset<kMaxTracks>;
    TrackMask liveTracks(const RoutingSnapshot& routing) const;
    bool pullInput(const AudioRenderTime& time, uint32_t blockFrames);
    void measureTrackMeters(const RoutingSnapshot& routing, uint32_t blockFrames);
    void readSlateInput(const RoutingSnapshot& routing, uint32_t blockFrames);
    void computeAutomixGains();
    void computePostTrimTaps(const RoutingSnapshot& routing, uint32_t blockFrames);
    void runTrackChains(const RoutingSnapshot& routing, const TrackMask& live, uint32_t blockFrames,
                        AudioBlockBufferList& outputs);
    void runTrackChainLanes(const RoutingSnapshot& routing, const std::array<int, TrackChain::kLanes>& tracks,
                            int trackCount, uint32_t blockFrames, AudioBlockBufferList& outputs);
    void mixBus(const RoutingSnapshot& routing, const TrackMask& live, bool holdsMix, uint32_t blockFrames,
                AudioBlockBufferList& outputs);
    void writeRecordingRing(const RoutingSnapshot& routing, uint32_t blockFrames);
    const float* inputChannel(int channel) const;
    float* busBuffer(int bus);
    // Output stages (AudioEngine_CoreAudioOutputStages.cpp): test tone,
    // monitor, coms, beep, aux, LTC generator, LTC reader, playback.
    bool renderTestTone(AudioBlockBufferList& outputs, uint32_t blockFrames);
    bool playbackHoldsMix() const;
    bool bitbucketModeForRender() const;
    const float* ltcGeneratorBlock() const;
    void renderOutputStages(const RoutingSnapshot& routing, const TrackMask& live, bool holdsMix,
                            uint32_t blockFrames, AudioBlockBufferList& outputs);
    void renderMonitorBus(const RoutingSnapshot& routing, uint32_t blockFrames, AudioBlockBufferList& outputs,
                          bool holdsMix);
    void renderComsBus(const RoutingSnapshot& routing, uint32_t blockFrames, AudioBlockBufferList& outputs);
    void renderRecordBeep(const RoutingSnapshot& routing, uint32_t blockFrames, AudioBlockBufferList& outputs);
    void renderAuxBuses(const RoutingSnapshot& routing, const TrackMask& live, uint32_t blockFrames,
                        AudioBlockBufferList& outputs);
    void renderLtcGenerator(const RoutingSnapshot& routing, uint32_t blockFrames, AudioBlockBufferList& outputs);
    void feedLtcReader(const RoutingSnapshot& routing, uint32_t blockFrames);
    void renderPlayback(const RoutingSnapshot& routing, uint32_t blockFrames, AudioBlockBufferList& outputs);
    float* auxBusBuffer(int aux);
    int recordBeepTotalSamples(bool doubleBeep) const;

    // Routing, GUI side: every member below is guarded by
    // routingMutex_; the audio thread reads only the published snapshot.
    mutable std::mutex routingMutex_;
    std::vector<int> trackInputIndices_;
    std::vector<std::vector<int>> trackOutputIndices_;
    std::vector<int> mixOutputIndices_;
    std::vector<int> comsOutputIndices_;
    std::vector<int> monitorOutputIndices_;
    std::vector<int> ltcGenOutputIndices_;
    std::array<std::vector<int>, RoutingSnapshot::kAuxBusCount> auxOutputIndices_;
    int slateInputIndex_ = RoutingSnapshot::kNoChannel;
    int comInput1Index_ = RoutingSnapshot::kNoChannel;
    int comInput2Index_ = RoutingSnapshot::kNoChannel;
    int ltcInputIndex_ = RoutingSnapshot::kNoChannel;
    // Owns the current snapshot; the audio thread reads the raw pointer.
    std::shared_ptr<const RoutingSnapshot> currentRoutingSnapshot_;
    std::atomic<const RoutingSnapshot*> routingSnapshot_{nullptr};
    // Port names resolved at the next applyOutputRouting (GUI thread only).
    std::string slateMicPort_;
    std::string comInput1Port_;
    std::string comInput2Port_;
    std::string mixOutputPort_;
    // Switches the render callback reads directly (relaxed).
    std::atomic<bool> slateIntoBuses_{false};
    std::atomic<bool> slateInputEnabled_{false};
    std::atomic<bool> slateMonitorOnly_{false};
    std::atomic<int> slateGainDb_{0};
    std::atomic<float> slateGainLinear_{1.0f};
    std::atomic<bool> comInput1Enabled_{false};
    std::atomic<bool> comInput2Enabled_{false};
    std::atomic<bool> slateIntoComs_{false};

    // Channel strip: one mutex and table per group (GUI thread; the audio
    // thread never takes them), and the audio-side records it reads.
    mutable std::mutex gainMutex_;
    mutable std::mutex hpfMutex_;
    mutable std::mutex eqMutex_;
    mutable std::mutex limiterMutex_;
    std::map<int, float> targetGainTable_;
    std::map<int, float> trimGainTable_;
    std::map<int, HpfSettings> hpfTable_;
    std::map<int, EqSettings> eqTable_;
    std::map<int, LimiterSettings> limiterTable_;
    std::array<TrackGainRealtime, kMaxTracks> gainRealtime_;
    std::array<HpfRealtime, kMaxTracks> hpfRealtime_;
    std::array<EqRealtime, kMaxTracks> eqRealtime_;
    std::array<LimiterRealtime, kMaxTracks> limiterRealtime_;
    float faderSmoothingCoefficient_ = 0.0f;

    // Audio thread only: per-track chain state, kept across blocks, devices,
    // starts and stops.
    std::array<TrackChain, kMaxTracks> trackChains_;
    std::array<float, kMaxTracks> automixGains_{};
    std::array<float, kMaxTracks> automixLevels_{};
    std::unique_ptr<AutomixEngine> automixEngine_;

    // --- Generators, sends, LTC input, playback and monitoring ------------
    // Set on the GUI thread as single relaxed atomics; read by the render
    // callback once per block. Objects the callback borrows sit in
    // RealtimeSlots (generator, playback reader) or the decoder slot.
    static constexpr int kAuxSendTracks = 24;
    static constexpr int kPlaybackChannels = 16;
    // What a playback channel's code resolved to; the audio thread reads the
    // kind and, for a port or an aux bus, its index, never the code text.
    enum PlaybackTarget : int { kPlaybackNowhere = 0, kPlaybackPort, kPlaybackMix, kPlaybackMixAndMonitor,
                                kPlaybackMonitor, kPlaybackComs, kPlaybackAux };
    std::string ltcInputPortName_;
    std::atomic<bool> ltcInputEnabled_{false};
    RealtimeSlot<LtcEncoder> ltcGenerator_;
    std::atomic<bool> ltcGeneratorEnabled_{false};
    int ltcGeneratorOutputChannel_ = -1;
    std::atomic<bool> beepOnRecord_{false};
    std::atomic<bool> doubleBeepRequested_{false};
    std::atomic<uint64_t> beepTriggerCount_{0};
    std::atomic<bool> testToneOn_{false};
    std::atomic<uint64_t> testToneStartCount_{0};
    std::atomic<bool> bitbucketMode_{false};
    std::atomic<int> pflTrack_{-1};
    std::array<std::atomic<float>, RoutingSnapshot::kAuxBusCount> auxLevels_;
    std::array<std::array<std::atomic<float>, RoutingSnapshot::kAuxBusCount>, kAuxSendTracks> trackAuxSends_{};
    std::array<std::array<std::atomic<bool>, RoutingSnapshot::kAuxBusCount>, kAuxSendTracks> trackAuxPreFader_{};
    std::array<std::atomic<float>, RoutingSnapshot::kAuxBusCount> mixSendLevels_{};
    std::array<std::atomic<bool>, RoutingSnapshot::kAuxBusCount> mixSendPreFader_{};
    // Audio thread only: oscillators, the beep countdown and the trigger
    // counts last seen.
    ToneOscillator testTone_;
    ToneOscillator beepTone_;
    uint64_t testToneStartsSeen_ = 0;
    uint64_t beepTriggersSeen_ = 0;
    int beepSamplesRemaining_ = 0;
    bool beepIsDouble_ = false;
    // Playback: playbackMutex_ serialises the GUI operations on the reader;
    // the audio thread borrows it through playbackReader_ only.
    mutable std::mutex playbackMutex_;
    std::unique_ptr<WavFileReader> playbackReaderOwner_;
    RealtimeSlot<WavFileReader> playbackReader_;
    std::atomic<bool> playbackPlaying_{false};
    std::atomic<bool> playbackPaused_{false};
    // The frame the next read delivers: set while the reader is unpublished,
    // advanced by the render callback.
    std::atomic<int64_t> playbackPositionFrames_{0};
    std::array<std::string, kPlaybackChannels> playbackCodes_;
    std::array<std::atomic<int>, kPlaybackChannels> playbackTargets_{};
    std::array<std::atomic<int>, kPlaybackChannels> playbackOutputIndices_{};

    // Meters, written by the render callback.
    std::array<TrackMeter, kMaxTracks> trackMeters_;
    std::atomic<float> mainPeakLevel_{0.0f};

    // --- Backup drives (AudioEngine_CoreAudioBackup.cpp) -------------------
    // TakeBackupSide: the take close (ring writer thread) and the take start.
    Snapshot snapshotBackupDrives() const override;
    BackupCopyQueue* backupCopyQueue() const override;
    void markBackupDriveFailed(int drive) override;
    void startBackupCopyQueue();
    void stopBackupCopyQueue();
    // Copy-queue worker: marks the drive of a failed job; moves a finished
    // copy of a take marked false since it was queued.
    void onBackupCopyCompleted(const BackupCopyQueue::CopyJob& job);
    void moveFalseTakeCopies(const std::string& backupFolder, const std::vector<std::string>& takeStems);

    static constexpr int kMaxBackupDrives = 8;
    // Guards the drive list, the take controls and the queue pointer. Taken
    // by the GUI thread, the ring writer (the close's snapshot) and the copy
    // worker (its completion callback); never held while a copy runs.
    mutable std::mutex backupMutex_;
    bool backupEnabled_ = false;
    std::vector<BackupPathInfo> backupPaths_;
    std::vector<std::shared_ptr<LiveBackupTakeControl>> liveTakeControls_;
    // Created by the first initialize, stopped by shutdown, destroyed with
    // the engine after the ring writer was joined.
    std::unique_ptr<BackupCopyQueue> backupCopyQueue_;
    // The same queue for the pollers and the take's hand-overs, so they never
    // wait on backupMutex_ (held across slow drive changes). Published with
    // release once the queue is built; it is never replaced.
    std::atomic<BackupCopyQueue*> publishedCopyQueue_{nullptr};
    // Sticky per-drive failures until cleared; read without the mutex.
    std::array<std::atomic<bool>, kMaxBackupDrives> backupDriveFailed_{};
    // The recording-drive paths of false takes' files whose copies were still
    // queued or under way when they moved. Held (GUI thread, copy worker)
    // across the check and the move on the backup drives, so a copy that
    // finishes meanwhile is moved exactly once; never with backupMutex_.
    std::mutex falseTakeMutex_;
    std::set<std::string> falseTakeSources_;
};
