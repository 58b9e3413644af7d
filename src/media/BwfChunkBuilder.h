#pragma once

#include "media/BwfFileWriter.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Builds the complete "bext" and "iXML" chunks (id, size, body) of a take
// file from its metadata record and the file's format. Both bodies always
// have an even length, so no pad byte ever follows them (libsndfile 1.2.0
// cannot read an RF64 file with one). Pure functions of their arguments,
// except that an empty origination date or time in the record is taken from
// the local clock.
class BwfChunkBuilder {
public:
    struct FileFormat {
        int sampleRate = 48000;
        int bitsPerSample = 24;
        int channels = 1;
    };

    static std::vector<uint8_t> buildBextChunk(const BwfFileWriter::BextChunk& chunk, const FileFormat& format);
    // The iXML document followed by NUL bytes of room for later edits.
    static std::vector<uint8_t> buildIxmlChunk(const BwfFileWriter::BextChunk& chunk);

    // The key=value lines of the bext Description, before the cut to 255 bytes.
    static std::string composeDescription(const BwfFileWriter::BextChunk& chunk);
    // "A=PCM,F=48000,W=24,M=multi,R=48000,T=33 Ch\r\n" (without the NUL; the
    // chunk ends it with one NUL, or two when one would leave the body odd).
    static std::string composeCodingHistory(const FileFormat& format);
    // Ends with one extra line feed when that makes its length even.
    static std::string composeIxmlDocument(const BwfFileWriter::BextChunk& chunk);

    // "24000/1001", "25/1", ... as iXML names a frame rate.
    static std::string ixmlRateText(double frameRate);
    // Text made safe for XML character data (there are no attributes): &, <
    // and > escaped, control characters that XML 1.0 forbids dropped.
    static std::string escapeXmlText(std::string_view text);
};
