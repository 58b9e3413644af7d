// The iXML parse of a file from a many-track recorder (or a damaged card
// that says so): an iXML of flat TRACK elements, 5,000 against 40,000 of
// them. The parse must grow with the document, not with its square: target
// a 40,000-track parse in well under a second and at most 16 times the time
// of 5,000 tracks (8 times the text, plus room for a loaded machine).
//
//   bench_metadata_reader [rounds]   (default 5, at least 1)

#include "core/NumberText.h"
#include "media/BwfMetadataReader.h"
#include "support/BenchSpread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kSmallTracks = 5'000;
constexpr int kLargeTracks = 40'000;
constexpr int kDefaultRounds = 5;
constexpr double kTargetRatio = 16.0;
constexpr double kTargetLargeSeconds = 1.0;

std::string trackListDocument(int tracks)
{
    std::string document = "<?xml version=\"1.0\"?>\n<BWFXML>\n  <SCENE>12A</SCENE>\n  <TRACK_LIST>\n";
    document += "    <TRACK_COUNT>" + std::to_string(tracks) + "</TRACK_COUNT>\n";
    for (int i = 1; i <= tracks; ++i) {
        const std::string index = std::to_string(i);
        document += "    <TRACK><CHANNEL_INDEX>" + index + "</CHANNEL_INDEX><INTERLEAVE_INDEX>" + index +
                    "</INTERLEAVE_INDEX><NAME>Track " + index + "</NAME><FUNCTION>INPUT</FUNCTION></TRACK>\n";
    }
    document += "  </TRACK_LIST>\n</BWFXML>\n";
    return document;
}

std::vector<double> timeParses(const std::string& document, int rounds, size_t expectedTracks)
{
    std::vector<double> seconds;
    for (int round = 0; round < rounds; ++round) {
        BwfMetadata metadata;
        const auto start = std::chrono::steady_clock::now();
        BwfMetadataReader::parseIxml(document, metadata);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (metadata.tracks.size() != expectedTracks) {
            std::fprintf(stderr, "parsed %zu tracks, expected %zu\n", metadata.tracks.size(), expectedTracks);
            std::exit(1);
        }
        seconds.push_back(took.count());
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;
    const std::string small = trackListDocument(kSmallTracks);
    const std::string large = trackListDocument(kLargeTracks);
    const BenchSpread smallTimes = spreadOf(timeParses(small, rounds, kSmallTracks));
    const BenchSpread largeTimes = spreadOf(timeParses(large, rounds, kLargeTracks));
    const double ratio = smallTimes.median > 0.0 ? largeTimes.median / smallTimes.median : 0.0;

    std::printf("iXML parse, flat TRACK elements, %d rounds (seconds)\n", rounds);
    std::printf("  %6d tracks, %8zu bytes: %s\n", kSmallTracks, small.size(), smallTimes.text(4).c_str());
    std::printf("  %6d tracks, %8zu bytes: %s\n", kLargeTracks, large.size(), largeTimes.text(4).c_str());
    std::printf("  ratio %d / %d tracks: %s (target <= %s; text ratio %s)\n", kLargeTracks, kSmallTracks,
                fixedText(ratio, 2).c_str(), fixedText(kTargetRatio, 0).c_str(),
                fixedText(static_cast<double>(large.size()) / static_cast<double>(small.size()), 2).c_str());
    const bool met = ratio <= kTargetRatio && largeTimes.median < kTargetLargeSeconds;
    std::printf("  %s\n", met ? "target met" : "TARGET MISSED");
    return met ? 0 : 1;
}
