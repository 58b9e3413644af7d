#pragma once

#include "media/Ds64Chunk.h"

#include <cstdint>
#include <string>
#include <vector>

// Finds RF64 recordings that were never closed (their ds64 sizes are still
// zero) and rewrites those sizes from what really reached the disk.
//
// Runs on the calling thread; each step opens and closes the file it needs.
// It must not be pointed at a file that a writer still has open.
class RF64Repairer {
public:
    struct CorruptedFile {
        std::string path;
        std::string fileName;
        int64_t fileSize = -1;
        int64_t sampleFrames = 0;  // whole frames after repair, 0 when canRepair is false
        int channels = 0;
        int sampleRate = 0;
        double durationSeconds = 0.0;
        bool canRepair = false;
        std::string error;
    };

    struct WavFormat {
        int channels = 0;
        int sampleRate = 0;
        int bytesPerSample = 0;
        int formatTag = 0;
    };

    static constexpr int64_t kMaxRepairFrames = 10'000'000'000;

    RF64Repairer() = default;

    // The unclosed recordings (names ending in ".wav") under `folder`, in
    // listing order, each sub-folder's findings where the sub-folder was met.
    std::vector<CorruptedFile> scanDirectory(const std::string& folder, bool recursive);
    // True when the ds64 sizes were rewritten; otherwise getLastError() says why.
    bool repairFile(const std::string& path);
    bool needsRepair(const std::string& path);
    const std::string& getLastError() const { return lastError_; }

private:
    // What a repair would write, or why it cannot be done.
    struct RepairPlan {
        WavFormat format;
        int64_t fileSize = -1;
        int64_t dataStart = -1;
        int64_t dataBytes = 0;
        int64_t frames = 0;
        // Bytes of chunks that another writer placed after the audio; they
        // are kept, so the file is not cut.
        int64_t tailBytes = 0;
        std::string error;
    };

    void scanInto(const std::string& folder, bool recursive, std::vector<std::string>& visited,
                  std::vector<CorruptedFile>& found);
    CorruptedFile describe(const std::string& path);
    RepairPlan planRepair(const std::string& path);
    int64_t audioBytes(const std::string& path, RepairPlan& plan);
    static Ds64Chunk::Sizes repairedSizes(const RepairPlan& plan);
    bool readerAccepts(const std::string& path, const RepairPlan& plan);

    bool isRF64File(const std::string& path);
    bool readDS64Chunk(const std::string& path, Ds64Chunk::Sizes& sizes);
    bool readFmtChunk(const std::string& path, WavFormat& format, int64_t& fmtEnd);
    int64_t findDataChunkPosition(const std::string& path, int64_t searchFrom);
    bool writeDS64Chunk(const std::string& path, const Ds64Chunk::Sizes& sizes);
    static std::string getFilename(const std::string& path);
    static int64_t getFileSize(const std::string& path);

    std::string lastError_;
};
