#pragma once

#include <array>
#include <string>
#include <string_view>

// Setting keys of each track's channel strip (0-based track index): the
// engine's values (gain and trim in dB, filter frequencies in Hz, EQ bands by
// 0-based band index), and the channel strip dialog's own slider positions
// under "channelstrip.". Every caller reads the on/off keys with false; the
// numbers are read with the engine's and the dialog's own defaults.
namespace StripKeys {

inline constexpr char kGainPrefix[] = "track.gain.";
inline constexpr char kDigitalGainPrefix[] = "track.digitalGain.";
inline constexpr char kHpfEnabledPrefix[] = "track.hpf.enabled.";
inline constexpr char kHpfFrequencyPrefix[] = "track.hpf.frequency.";
inline constexpr char kEqEnabledPrefix[] = "track.eq.enabled.";
inline constexpr char kEqBandPrefix[] = "track.eq.";
inline constexpr char kLimiterEnabledPrefix[] = "track.limiter.enabled.";
inline constexpr char kLimiterThresholdPrefix[] = "track.limiter.threshold.";

inline std::string gainKey(int track) { return kGainPrefix + std::to_string(track); }
inline std::string digitalGainKey(int track) { return kDigitalGainPrefix + std::to_string(track); }
inline std::string hpfEnabledKey(int track) { return kHpfEnabledPrefix + std::to_string(track); }
inline std::string hpfFrequencyKey(int track) { return kHpfFrequencyPrefix + std::to_string(track); }
inline std::string eqEnabledKey(int track) { return kEqEnabledPrefix + std::to_string(track); }
inline std::string limiterEnabledKey(int track) { return kLimiterEnabledPrefix + std::to_string(track); }
inline std::string limiterThresholdKey(int track) { return kLimiterThresholdPrefix + std::to_string(track); }

// "track.eq.<track>.band<band>.<field>"
inline std::string eqBandKey(int track, int band, std::string_view field)
{
    std::string key = kEqBandPrefix + std::to_string(track) + ".band" + std::to_string(band) + ".";
    key.append(field);
    return key;
}
inline std::string eqBandFrequencyKey(int track, int band) { return eqBandKey(track, band, "freq"); }
inline std::string eqBandGainKey(int track, int band) { return eqBandKey(track, band, "gain"); }
inline std::string eqBandQKey(int track, int band) { return eqBandKey(track, band, "q"); }

// The channel strip dialog's slider positions: "channelstrip.<track>.<field>",
// whole numbers (gains and the threshold in tenths of a dB, Q in tenths).
inline constexpr char kPanelPrefix[] = "channelstrip.";
inline constexpr char kPanelGain[] = "gain";
inline constexpr char kPanelHpfEnabled[] = "hpf.enabled";
inline constexpr char kPanelHpfFrequency[] = "hpf.freq";
inline constexpr char kPanelEqEnabled[] = "eq.enabled";
inline constexpr char kPanelLimiterEnabled[] = "limiter.enabled";
inline constexpr char kPanelLimiterThreshold[] = "limiter.threshold";
// The bands by index, and the fields of one band: "eq.<band>.<part>".
inline constexpr std::array<const char*, 3> kPanelEqBands{"low", "mid", "high"};
inline constexpr char kPanelEqFrequency[] = "freq";
inline constexpr char kPanelEqGain[] = "gain";
inline constexpr char kPanelEqQ[] = "q";

inline std::string panelKey(int track, std::string_view field)
{
    std::string key = kPanelPrefix + std::to_string(track) + ".";
    key.append(field);
    return key;
}
// band 0 to 2, part one of kPanelEqFrequency, kPanelEqGain, kPanelEqQ.
inline std::string panelEqBandKey(int track, int band, std::string_view part)
{
    std::string field = std::string("eq.") + kPanelEqBands[static_cast<size_t>(band)] + ".";
    field.append(part);
    return panelKey(track, field);
}

} // namespace StripKeys
