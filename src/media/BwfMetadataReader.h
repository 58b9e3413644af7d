#pragma once

#include "media/RiffChunkWalker.h"

#include <cstdint>
#include <string>
#include <vector>

// What a WAV or RF64 file says about itself: format and duration, the bext
// fields and the iXML fields, with the bext Description's key=value lines
// filling what iXML leaves empty. Texts are the file's bytes without any
// character-set conversion; XML entities in iXML values are resolved.
struct BwfMetadata {
    struct TrackInfo {
        int channelIndex = 0;  // 1-based
        std::string name;
        std::string function;  // empty when the file gives none
    };

    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    uint64_t timeReference = 0;        // samples since midnight
    uint32_t timestampSampleRate = 0;  // Hz
    double frameRate = 0.0;
    bool dropFrame = false;
    bool isRF64 = false;
    std::string description;
    std::string originator;
    std::string originatorReference;
    std::string originationDate;
    std::string originationTime;
    uint16_t bextVersion = 0;
    std::string umid;  // 128 lower-case hexadecimal digits; empty without bext
    std::string codingHistory;
    std::string userBits;
    bool circled = false;
    bool wildTrack = false;
    std::string scene;
    std::string project;
    std::string tape;
    std::string take;
    std::string note;
    std::vector<TrackInfo> tracks;  // in file order
    double durationSeconds = 0.0;
    std::string fileName;           // last component of the path
    uint64_t fileSize = 0;          // bytes
};

// Reads metadata of recorded files. Static functions without state: any
// thread may call them, also for the same file, while no one writes it.
class BwfMetadataReader {
public:
    // Throws std::filesystem::filesystem_error when the path does not exist
    // or its size cannot be obtained. Any other problem (unreadable, not a
    // WAVE file, missing or damaged chunks) leaves the members it concerns
    // empty or zero.
    static BwfMetadata readMetadata(const std::string& path);

    // The same for a file the caller has opened and measured (fstat), so a
    // folder scan costs one open and one read per file. The descriptor's
    // offset is left alone; the caller closes it. Never throws.
    static BwfMetadata readMetadata(int fd, uint64_t fileSizeBytes, std::string fileName);

    // Fills metadata from an iXML document, then from the bext Description
    // (already in metadata.description) where iXML left members empty.
    static void parseIxml(const std::string& document, BwfMetadata& metadata);

    // The character data of the first <NAME> (upper case, else lower case)
    // element up to the next "<", trimmed, entities resolved. Empty when absent.
    static std::string extractTagValue(const std::string& text, const std::string& name);

    // Resolves &amp; &lt; &gt; &quot; &apos; and numeric character references
    // (as UTF-8); anything else stays as it is.
    static std::string unescapeXmlText(const std::string& text);

    // The header of a RIFF or RF64 WAVE file, as the chunk walk needs it.
    struct WaveForm {
        bool isWave = false;  // "RIFF" or "RF64", a size, "WAVE"
        bool isRF64 = false;
        bool hasDs64 = false;
        uint64_t ds64DataSize = 0;
    };
    static WaveForm readWaveForm(RiffChunkWalker& walker);

    // Finds the first chunk `id` after the form header. The walk ends at a
    // chunk whose body runs past the end of the file, and at an RF64 data
    // chunk whose real size (from ds64) is unknown or runs past the end, so
    // audio is never read as chunk headers. The found chunk's body may still
    // run past the end: check with walker.bodyFits before writing into it.
    static bool findChunk(RiffChunkWalker& walker, const WaveForm& form, const char* id,
                          RiffChunkWalker::Chunk& chunk);
};
