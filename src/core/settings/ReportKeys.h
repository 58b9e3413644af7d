#pragma once

// Setting keys of the sound report: the production details printed in its
// head and the chosen output format. All are read with "" or 0 when absent.
namespace ReportKeys {

inline constexpr char kProductionCompany[] = "soundreport.productionCompany";
inline constexpr char kProjectName[] = "soundreport.projectName";
inline constexpr char kDirector[] = "soundreport.director";
inline constexpr char kSoundMixer[] = "soundreport.soundMixer";
inline constexpr char kMixerPhone[] = "soundreport.mixerPhone";
inline constexpr char kMixerEmail[] = "soundreport.mixerEmail";
inline constexpr char kCompanyLogoPath[] = "soundreport.companyLogoPath";
inline constexpr char kOutputFormat[] = "soundreport.outputFormat";

} // namespace ReportKeys
