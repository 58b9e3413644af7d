#pragma once

#include "timecode/LtcDecoder.h"
#include "timecode/Timecode.h"

#include <cstdint>
#include <string>
#include <vector>

// Works out the timecode of a take's first sample from the LTC reader's last
// decoded frame: the elapsed samples between that frame's anchor in the ring
// and the take's start position are turned into frames at the measured rate,
// the configured frame offset is added and the result wrapped into one day.
// Pure: the caller gathers the inputs, stores the results and logs the lines.

// The LTC reader's snapshot: its last decoded frame and the ring position
// where that frame began.
using LtcSnapshotValues = LtcDecoder::TcSnapshot;

// One reading of the local wall clock.
struct LocalDateTime {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct StartTimecodeInputs {
    uint64_t startPositionFrames = 0; // S: ring position of the take's first frame
    uint64_t prerollFrames = 0;       // P: only for the log
    int sampleRate = 48000;
    LtcSnapshotValues snapshot;
    // The engine's detected frame rate: the forced rate when one is set, else
    // the estimate of a second snapshot.
    double detectedFps = 0.0;
    double forcedFps = 0.0;        // the decoder's forced rate, 0 = none
    bool forcedDropFrame = false;  // "ltc.forcedDropFrame"
    int frameOffset = 0;           // "timecode.frame_offset", may be negative
    LocalDateTime localTime;
};

struct StartTimecodeResult {
    Timecode startTimecode;                 // time of the take's first sample
    double takeFrameRate = 0.0;             // the rate used (fpsUsed)
    bool takeDropFrame = false;
    uint32_t takeTimestampSampleRate = 0;   // R, or R x 1.001 at fractional rates
    uint64_t takeTimeReference = 0;         // samples since midnight; 0 without usable timecode
    std::string takeOriginationDate;        // YYYY-MM-DD, local clock
    std::string takeOriginationTime;        // HH:MM:SS of the timecode, else of the local clock
    bool timecodeUsable = false;            // the snapshot was moved to the start position
    int64_t startFrameCount = 0;            // frames since midnight after wrap (0 when not usable)
    double startFrameFraction = 0.0;        // part of a frame between that boundary and the start
    std::vector<std::string> logLines;      // in order, for debugLog
};

StartTimecodeResult captureStartTimecode(const StartTimecodeInputs& inputs);

// Fills forcedDropFrame and frameOffset from the configuration store.
void readStartTimecodeSettings(StartTimecodeInputs& inputs);
// The local wall clock now.
LocalDateTime readLocalDateTime();
