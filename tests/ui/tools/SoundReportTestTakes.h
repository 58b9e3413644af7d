#pragma once

#include "media/BwfFileWriter.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// Takes for the sound report tests, written by our own writer.
struct ReportTake {
    std::string name;  // file name in the folder
    int channels = 1;
    double seconds = 0.2;
    bool withMetadata = true;
    uint64_t timeReference = 0;
    double frameRate = 25.0;
    uint32_t timestampSampleRate = 48000;
    std::string scene{};
    std::string take{};
    std::string project{};
    std::string tape{};
    std::string note{};
    std::vector<std::string> trackNames{};
};

// Samples since midnight of a time of day at 48 kHz and 25 fps.
inline uint64_t samplesAt25(int hours, int minutes, int seconds, int frames)
{
    return (uint64_t(hours) * 3600 + uint64_t(minutes) * 60 + uint64_t(seconds)) * 48000 + uint64_t(frames) * 1920;
}

inline bool writeReportTake(const QString& folder, const ReportTake& take)
{
    BwfFileWriter writer;
    if (take.withMetadata) {
        BwfFileWriter::BextChunk record;
        record.timeReference = take.timeReference;
        record.frameRate = take.frameRate;
        record.timestampSampleRate = take.timestampSampleRate;
        record.scene = take.scene;
        record.take = take.take;
        record.project = take.project;
        record.tape = take.tape;
        record.note = take.note;
        record.trackNames = take.trackNames;
        writer.setBextChunk(record);
    }
    const std::string path = folder.toStdString() + "/" + take.name;
    if (!writer.open(path, 48000, take.channels, BwfFileWriter::Int16))
        return false;
    const auto frames = static_cast<int>(take.seconds * 48000);
    std::vector<float> silence(static_cast<size_t>(frames) * static_cast<size_t>(take.channels), 0.0f);
    return writer.writeFrames(silence.data(), frames) && writer.close();
}
