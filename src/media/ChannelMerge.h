#pragma once

#include "media/BwfFileWriter.h"

#include <cstdint>
#include <string>
#include <vector>

// Appends mono captures to a multichannel broadcast-wave file as extra
// channels, each silent until its offset, and puts the result in the file's
// place. Used when a take closes with tracks armed after its start, on the
// primary drive and on each live-backup drive.
//
// Sample codes travel unchanged: files are read as integers (or floats for a
// float take) and written already encoded in the take's format, so the
// existing channels of a 16- or 24-bit take keep every code.
//
// The original is replaced only by a merged file that was written, closed
// and read back whole (channels, rate, frames), with one rename that
// replaces it atomically; on any failure the original is left as it was and
// the half-made merged file is removed.
//
// Threads: none of its own; one call at a time per set of files.
struct ChannelMergeCapture {
    std::string path;
    uint64_t offsetFrames = 0;  // frames of silence before the capture's first frame
    std::string trackName;
};

struct ChannelMergeRequest {
    std::string basePath;    // the file that gains the channels, replaced on success
    std::string mergedPath;  // the file written first, renamed to basePath
    std::vector<ChannelMergeCapture> captures;
    int sampleRate = 48000;
    BwfFileWriter::SampleFormat sampleFormat = BwfFileWriter::Int24;
    // bext and iXML of the merged file; its trackNames are completed with
    // the names of the captures that were merged.
    BwfFileWriter::BextChunk bext;
};

struct ChannelMergeResult {
    bool ok = false;
    std::string reason;              // why the merge failed; empty on success
    bool baseOpened = false;         // false: the merge could not start
    int baseChannels = 0;
    int64_t baseFrames = 0;
    int totalChannels = 0;
    std::vector<bool> captureMerged;  // per capture: it is in the merged file
};

ChannelMergeResult mergeChannels(const ChannelMergeRequest& request);

// Reads a written file back with libsndfile: true when it opens with exactly
// these channels, rate and frames; otherwise false with the reason.
bool verifyWaveFile(const std::string& path, int sampleRate, int channels, int64_t frames, std::string& reason);
