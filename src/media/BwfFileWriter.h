#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes one broadcast-wave recording file in the RF64 layout from its first
// byte on: "RF64" header with 32-bit sizes of 0xFFFFFFFF, a "ds64" chunk whose
// 64-bit sizes stay zero until close, then (when metadata was handed over)
// "bext" and "iXML", then "fmt " and "data". Samples arrive as interleaved
// 32-bit floats and are converted to the file's sample format.
//
// A file that was never closed keeps zeros in its ds64 sizes; the repair scan
// recognises unclosed recordings by exactly that.
//
// Threads: no lock. One thread at a time uses a writer (the ring writer, a
// live-backup worker or the copy-queue worker); it is neither copyable nor
// shared. Errors are values: operations return false and lastError() says why.
class BwfFileWriter {
public:
    // The integer values cross interfaces and are stored in the configuration.
    enum SampleFormat {
        Int16 = 0,
        Int24 = 1,
        Int32 = 2,
        Float32 = 3,
    };

    // How open treats an existing file at the path.
    enum class OpenMode {
        CreateOrTruncate, // an existing file is overwritten
        CreateNew,        // fails when the path exists, so no earlier take is ever overwritten
    };

    // What a take's bext and iXML chunks are built from. description and
    // codingHistory travel with the record, but the builders compose their own.
    struct BextChunk {
        std::string description;
        std::string originator;          // empty: "Tonvale" in bext
        std::string originatorReference;
        std::string originationDate;     // empty: today's date in bext, empty in iXML
        std::string originationTime;     // empty: the time now in bext, empty in iXML
        uint64_t timeReference = 0;      // samples since midnight
        uint16_t version = 1;
        std::string codingHistory;
        std::string project;
        std::string scene;
        std::string take;
        std::string tape;
        std::string note;
        bool circled = false;
        double frameRate = 0.0;          // frames a second
        bool dropFrame = false;
        uint32_t timestampSampleRate = 0; // Hz
        std::vector<std::string> trackNames; // index = channel - 1
    };

    BwfFileWriter();
    ~BwfFileWriter();

    BwfFileWriter(const BwfFileWriter&) = delete;
    BwfFileWriter& operator=(const BwfFileWriter&) = delete;

    // Copies the record; every later open writes bext and iXML built from it.
    void setBextChunk(const BextChunk& chunk);

    // Closes (and patches) an open file first, then creates the file and
    // writes the header. False, with a reason, when the format is unusable,
    // the file cannot be created (or exists, in CreateNew mode) or the header
    // cannot be written.
    bool open(const std::string& path, int sampleRate, int channels, SampleFormat format,
              OpenMode mode = OpenMode::CreateOrTruncate);

    // Converts and appends `frames` frames of interleaved samples (frames x
    // channels floats; a mono file's frame is one sample). False when no file
    // is open, the count is negative or the write failed; after a failed
    // write every later write fails and close leaves the ds64 sizes at zero.
    bool writeFrames(const float* interleavedSamples, int64_t frames);

    // Appends `frames` frames already encoded in the file's sample format
    // (little-endian, interleaved, bytesPerSample each): a copy between files
    // of one format carries every sample code unchanged. Same failures as
    // writeFrames.
    bool writeEncodedFrames(const uint8_t* encodedSamples, int64_t frames);

    // Patches the ds64 sizes and closes. Nothing happens when no file is open.
    // False when the patch or the close failed (the file then stays
    // recognisable as unclosed).
    bool close();

    bool isOpen() const { return isOpen_; }
    const std::string& path() const { return path_; }
    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    int bitsPerSample() const { return bitsPerSample(sampleFormat_); }
    SampleFormat sampleFormat() const { return sampleFormat_; }
    int64_t samplesWritten() const { return samplesWritten_; }
    const std::string& lastError() const { return lastError_; }

    static int bytesPerSample(SampleFormat format);
    static int bitsPerSample(SampleFormat format) { return bytesPerSample(format) * 8; }

private:
    bool checkFormat(int sampleRate, int channels, SampleFormat format);
    bool createFile(const std::string& path, OpenMode mode);
    bool writeRF64Header();
    bool updateRF64HeaderOnClose();
    bool writeBytes(const uint8_t* bytes, size_t count);
    bool fail(const std::string& reason);

    std::string path_;
    int sampleRate_ = 48000;
    int channels_ = 1;
    SampleFormat sampleFormat_ = Int24;
    int64_t samplesWritten_ = 0;
    BextChunk bextChunk_;
    bool hasBext_ = false;
    std::FILE* file_ = nullptr;
    bool isOpen_ = false;
    std::vector<uint8_t> conversionBuffer_;
    uint64_t bytesSinceFlush_ = 0;
    std::string lastError_;
};
