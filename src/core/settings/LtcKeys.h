#pragma once

// Setting keys of timecode: the LTC input, the forced frame rate, the start
// timecode offset, and the LTC generator. Every caller reads these keys with
// "", false or 0 when absent, unless the comment names the caller's own.
namespace LtcKeys {

inline constexpr char kEnabled[] = "ltc.enabled";
inline constexpr char kInput[] = "ltc.input";
inline constexpr char kForcedFramerate[] = "ltc.forcedFramerate";  // frames per second, 0 for none
inline constexpr char kForcedDropFrame[] = "ltc.forcedDropFrame";
inline constexpr char kFrameOffset[] = "timecode.frame_offset";  // frames, may be negative

// The generator's output port list as text; the generator dialog reads it as
// a number (default 0) when it has no choice of its own under
// kGeneratorOutputChoice.
inline constexpr char kGeneratorOutput[] = "ltcgen.output";
inline constexpr char kGeneratorOutputChoice[] = "ltcgen.output_choice";
// An index into the level list of timecode/LtcOutputLevel.h, read with that
// list's default index.
inline constexpr char kGeneratorLevel[] = "ltcgen.level";
// Read with LtcEncoder::Fps30 by the generator dialog, with -1 for the log
// line at start-up.
inline constexpr char kGeneratorFramerate[] = "ltcgen.framerate";
inline constexpr char kGeneratorDropFrame[] = "ltcgen.dropframe";
inline constexpr char kGeneratorRunning[] = "ltcgen.running";
inline constexpr char kGeneratorCalibrationPpm[] = "ltcgen.calibration_ppm";
inline constexpr char kGeneratorCalibrationNumber[] = "ltcgen.calibration_number";

} // namespace LtcKeys
