#pragma once

#include "engine/take/TakeFiles.h"
#include "engine/take/TakeNaming.h"
#include "engine/take/TakeSettings.h"
#include "media/BwfFileWriter.h"
#include "timecode/Timecode.h"

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Opens every file of one take in its folder, with the take's metadata in
// each header: one polyphonic file (mix, then the armed tracks in ascending
// order), or one mono file for the mix and one per armed track. Each file
// draws its own take name right before it is opened; a name already used in
// the take folder is passed over (and logged), and files are created
// create-only-if-new, so an earlier recording is never overwritten.
//
// Threads: the take start on the GUI thread, before the ring writer is woken.

// What the take start knows when it opens the files.
struct TakeFileRequest {
    std::string takeFolder;
    TakeMetadata metadata; // the start's snapshot, defaults applied
    std::array<std::string, kMaxTracks> trackNames; // the take's track name list
    std::array<bool, kMaxTracks> armedAtStart{};
    int trackCount = 0;    // tracks at or beyond it have no file even when armed
    TakeLayout layout = TakeLayout::Mono;
    bool noMix = false;    // Bitbucket Mode
    int sampleRate = 48000;
    BwfFileWriter::SampleFormat sampleFormat = BwfFileWriter::Int24;
    BwfFileWriter::BextChunk takeBext; // trackNames are filled per file
    Timecode startTimecode;            // for the creation log
    // The polyphonic frame buffer the ring writer interleaves into.
    int bufferSizeFrames = 0;
    size_t frameBufferFloats = 0;
    TakeNameSource drawName;           // generateTakeName in the engine
};

// The opened files of a take and what the ring writer and the live backup
// need to feed them.
struct TakeFileSet {
    bool ok = false;
    std::string failureReason;

    std::string takeName;     // the first name drawn; empty when none was
    std::string baseName;     // <take name>_<project>_<roll>_[<scene>_]T<take>
    std::string polyFilePath; // empty in the mono layout
    std::unique_ptr<BwfFileWriter> polyWriter;
    int polyChannelCount = 0;
    // One entry per opened mono file, in opening order; the track it records:
    // -1 the mix, else the track index. A track whose file failed has none.
    std::vector<std::unique_ptr<BwfFileWriter>> monoWriters;
    std::vector<int> monoWriterTracks;
    std::vector<std::string> channelNames; // the take's channel names in file order
    BwfFileWriter::BextChunk takeBext;     // with trackNames = channelNames
};

// Opens the take's files as the request describes and logs each file (or its
// failure). A failure of the polyphonic or mono mix file fails the whole set
// (nothing stays open); a mono track file that cannot be opened leaves that
// track without a file. A polyphonic take without channels and a mono take
// without any file are refused, since nothing would be recorded.
TakeFileSet openTakeFiles(const TakeFileRequest& request);
