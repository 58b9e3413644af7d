#include "engine/take/StartTimecodeCapture.h"

#include "core/ConfigManager.h"
#include "core/NumberText.h"
#include "core/settings/LtcKeys.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr double kRateTolerance = 0.01;
constexpr double kFractionalRates[] = {23.976, 29.97, 59.94};
constexpr double kDropFrameRate = 29.97;
constexpr double kPullDownFactor = 1.001;
constexpr int kDefaultNominalFps = 30;
constexpr int64_t kDropFrameFramesPerDay = 2589408;
constexpr int64_t kSecondsPerDay = 86400;
// Frame counts beyond this are not a time of day; such an input (an absurd
// rate or position) is treated as having no usable timecode.
constexpr double kMaxSaneFrameCount = 1e15;

bool near(double value, double target)
{
    return std::fabs(value - target) < kRateTolerance;
}

std::string twoDigits(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

std::string dfLabel(bool dropFrame)
{
    return dropFrame ? "DF" : "NDF";
}

double chooseFpsUsed(const StartTimecodeInputs& in)
{
    if (!(in.detectedFps > 0.0) && in.snapshot.fpsEstimate > 0.0)
        return in.snapshot.fpsEstimate;
    return in.detectedFps;
}

int64_t wrapIntoDay(int64_t total, int64_t framesPerDay)
{
    return ((total % framesPerDay) + framesPerDay) % framesPerDay;
}

uint32_t timestampSampleRate(double fpsUsed, int sampleRate)
{
    for (double rate : kFractionalRates) {
        if (near(fpsUsed, rate))
            return static_cast<uint32_t>(sampleRate * kPullDownFactor + 0.5);
    }
    return static_cast<uint32_t>(sampleRate);
}

std::string formatDate(const LocalDateTime& t)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", t.year, t.month, t.day);
    return buffer;
}

std::string formatTime(int hours, int minutes, int seconds)
{
    return twoDigits(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(seconds);
}

} // namespace

StartTimecodeResult captureStartTimecode(const StartTimecodeInputs& in)
{
    StartTimecodeResult r;
    const LtcSnapshotValues& snap = in.snapshot;
    r.logLines.push_back("===== RECORDING START - TIMECODE CAPTURE (sample-anchored) =====");

    const double fpsUsed = chooseFpsUsed(in);
    Timecode tc{snap.hours, snap.minutes, snap.seconds, snap.frames, snap.fps, snap.dropFrame};
    r.logLines.push_back("CoreAudio: LTC snapshot: " + tc.toString() + " anchor=" + std::to_string(snap.samplePosition) +
                         " fileStartPos=" + std::to_string(in.startPositionFrames) + " (preroll=" +
                         std::to_string(in.prerollFrames) + " samples)" + " valid=" + (snap.valid ? "YES" : "NO"));

    // A forced 29.97 cannot tell drop-frame from the signal's speed, so the
    // recordist's setting decides; a detected 29.97 keeps the frames' own bit.
    if (in.forcedFps > 0.0 && near(in.forcedFps, kDropFrameRate)) {
        tc.dropFrame = in.forcedDropFrame;
        r.logLines.push_back("CoreAudio: Using forced drop frame setting: " + dfLabel(tc.dropFrame));
    }

    const int nominal = fpsUsed > 0.0 ? static_cast<int>(fpsUsed + 0.5) : kDefaultNominalFps;
    const int fpsInt = tc.fps > 0 ? tc.fps : nominal;
    // A zero sample rate or a non-finite rate would make the frame count
    // meaningless (and its conversion undefined); treat it as no timecode.
    bool usable = fpsUsed > 0.0 && snap.valid && in.sampleRate > 0 && std::isfinite(fpsUsed);

    int64_t total = 0;
    double frac = 0.0;
    if (usable) {
        const int64_t anchorFrames = tc.toFrames();
        const int64_t elapsed = static_cast<int64_t>(in.startPositionFrames - static_cast<uint64_t>(snap.samplePosition));
        const double exact = fpsUsed * static_cast<double>(elapsed) / in.sampleRate + static_cast<double>(anchorFrames);
        if (std::fabs(exact) > kMaxSaneFrameCount) {
            usable = false;
        } else {
            const double whole = std::floor(exact);
            const int64_t framesPerDay =
                (tc.dropFrame && fpsInt == 30) ? kDropFrameFramesPerDay : int64_t(fpsInt) * kSecondsPerDay;
            total = wrapIntoDay(static_cast<int64_t>(whole) + in.frameOffset, framesPerDay);
            tc = Timecode::fromFrames(total, fpsInt, tc.dropFrame);
            frac = exact - whole;
            r.logLines.push_back("CoreAudio: TC at file sample 0: " + tc.toString() + " (+" + fixedText(frac, 6) +
                                 " frame)" + " [anchorFrames=" + std::to_string(anchorFrames) +
                                 " elapsed=" + std::to_string(elapsed) + " samples" +
                                 " frameOffset=" + std::to_string(in.frameOffset) + "]");
        }
    }

    r.logLines.push_back("CoreAudio: FINAL timecode for BWF metadata: " + tc.toString() + " (" +
                         dfLabel(tc.dropFrame) + ") @ " + fixedText(fpsUsed, 6) + " fps");
    r.logLines.push_back(std::string(49, '='));
    r.startTimecode = tc;

    r.takeTimestampSampleRate = timestampSampleRate(fpsUsed, in.sampleRate);
    if (r.takeTimestampSampleRate != static_cast<uint32_t>(in.sampleRate)) {
        r.logLines.push_back("CoreAudio: Using adjusted TC sample rate for fractional framerate: " +
                             std::to_string(r.takeTimestampSampleRate) + " Hz");
    }

    if (usable && fpsInt > 0) {
        const double seconds = (static_cast<double>(total) + frac) / fpsInt;
        r.takeTimeReference = static_cast<uint64_t>(seconds * r.takeTimestampSampleRate + 0.5);
        r.logLines.push_back("CoreAudio: Time reference: " + std::to_string(r.takeTimeReference) + " samples (at " +
                             std::to_string(r.takeTimestampSampleRate) + " Hz TC sample rate)");
    }

    r.takeOriginationTime = snap.valid ? formatTime(tc.hours, tc.minutes, tc.seconds)
                                       : formatTime(in.localTime.hour, in.localTime.minute, in.localTime.second);
    r.takeOriginationDate = formatDate(in.localTime);
    r.takeFrameRate = fpsUsed;
    r.takeDropFrame = tc.dropFrame;
    r.timecodeUsable = usable;
    r.startFrameCount = total;
    r.startFrameFraction = frac;
    return r;
}

void readStartTimecodeSettings(StartTimecodeInputs& inputs)
{
    ConfigManager* config = ConfigManager::getInstance();
    inputs.forcedDropFrame = config->getBool(LtcKeys::kForcedDropFrame, false);
    inputs.frameOffset = config->getInt(LtcKeys::kFrameOffset, 0);
}

LocalDateTime readLocalDateTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                         local.tm_hour,        local.tm_min,     local.tm_sec};
}
