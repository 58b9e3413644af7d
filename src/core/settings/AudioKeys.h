#pragma once

// Setting keys of the audio device and engine-wide audio switches. A key with
// no k...Default beside it is read with its type's empty value ("", false, 0)
// by every caller.
namespace AudioKeys {

inline constexpr char kBackend[] = "audio.backend";  // "JACK" or another back end name
inline constexpr char kBackendDefault[] = "ASIO";
inline constexpr char kDevice[] = "audio.device";
inline constexpr char kBufferSize[] = "audio.bufferSize";  // frames
inline constexpr int kBufferSizeDefault = 256;
inline constexpr char kBitbucketMode[] = "audio.bitbucketMode";
inline constexpr char kBeepOnRecord[] = "audio.beepOnRecord";

// Entries every configuration starts with. Nothing reads them back; the lower
// case "audio.buffersize" is a different key from kBufferSize.
inline constexpr char kBuiltInDriver[] = "audio.driver";
inline constexpr char kBuiltInSampleRate[] = "audio.samplerate";
inline constexpr char kBuiltInBufferSize[] = "audio.buffersize";

} // namespace AudioKeys
