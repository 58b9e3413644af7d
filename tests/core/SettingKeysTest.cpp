#include "core/ConfigManager.h"
#include "core/settings/AudioKeys.h"
#include "core/settings/AuxKeys.h"
#include "core/settings/FileServerKeys.h"
#include "core/settings/HotkeyKeys.h"
#include "core/settings/LtcKeys.h"
#include "core/settings/MediaKeys.h"
#include "core/settings/MetadataKeys.h"
#include "core/settings/PlaybackKeys.h"
#include "core/settings/ReportKeys.h"
#include "core/settings/RoutingKeys.h"
#include "core/settings/SnapshotKeys.h"
#include "core/settings/StripKeys.h"
#include "core/settings/SurfaceKeys.h"
#include "core/settings/TrackKeys.h"
#include "core/settings/WindowKeys.h"

#include "support/TempHome.h"

#include <QDir>
#include <QFile>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Every key as a catalogue spells it (prefixed keys at a sample index), the
// text earlier builds stored it under, and the value kStoredFile holds there.
struct StoredKey {
    std::string key;
    const char* storedAs;
    const char* value;
};

const std::vector<StoredKey>& storedKeys()
{
    static const std::vector<StoredKey> rows = {
        {AudioKeys::kBackend, "audio.backend", "JACK"},
        {AudioKeys::kDevice, "audio.device", "Interface A"},
        {AudioKeys::kBufferSize, "audio.bufferSize", "512"},
        {AudioKeys::kBitbucketMode, "audio.bitbucketMode", "false"},
        {AudioKeys::kBeepOnRecord, "audio.beepOnRecord", "true"},
        {AudioKeys::kBuiltInDriver, "audio.driver", ""},
        {AudioKeys::kBuiltInSampleRate, "audio.samplerate", "48000"},
        {AudioKeys::kBuiltInBufferSize, "audio.buffersize", "256"},
        {MediaKeys::kSaveLocation, "media.saveLocation", "/home/mixer/Takes"},
        {MediaKeys::kFileFormat, "media.fileFormat", "1"},
        {MediaKeys::kBitDepth, "media.bitDepth", "32"},
        {MediaKeys::kPrerollSeconds, "media.prerollSeconds", "5"},
        {MediaKeys::kPostrollSeconds, "media.postrollSeconds", "3"},
        {MediaKeys::kExternalEnabled, "media.externalEnabled", "true"},
        {MediaKeys::kLiveBackupActiveTake, "media.liveBackupActiveTake", "false"},
        {MediaKeys::kExternalPaths, "media.externalPaths", "/media/a|/media/b"},
        {MediaKeys::kExternalFormats, "media.externalFormats", "0,1"},
        {MediaKeys::kRecordingDirectory, "recording.directory", "/home/mixer/Takes"},
        {MediaKeys::kExternal1, "recording.external1", "/media/a"},
        {MediaKeys::kExternal2, "recording.external2", "/media/b"},
        {MediaKeys::kFileNumber, "recording.fileNumber", "42"},
        {MediaKeys::kBuiltInFormat, "media.format", "0"},
        {MediaKeys::kBuiltInBitDepth, "media.bitdepth", "24"},
        {TrackKeys::kCount, "track.count", "16"},
        {TrackKeys::nameKey(3), "track.name.3", "Boom"},
        {TrackKeys::colorKey(0), "track.color.0", "#aa3300"},
        {TrackKeys::armKey(12), "arm.12", "true"},
        {TrackKeys::faderKey(31), "fader.31", "-150"},
        {TrackKeys::automixKey(7), "automix.7", "2"},
        {TrackKeys::kAutomixGlobal, "automix.global", "false"},
        {RoutingKeys::trackInputKey(5), "track.input.5", "system:capture_6"},
        {RoutingKeys::trackOutputKey(10), "track.output.10", "system:playback_3"},
        {RoutingKeys::kMixOutput, "mix.output", "system:playback_1,system:playback_2"},
        {RoutingKeys::kComsOutput, "coms.output", "system:playback_4"},
        {RoutingKeys::kMonitorOutput, "monitor.output", "system:playback_5"},
        {RoutingKeys::kSlateEnabled, "slate.enabled", "true"},
        {RoutingKeys::kSlateInput, "slate.input", "system:capture_9"},
        {RoutingKeys::kSlateGain, "slate.gain", "-6"},
        {RoutingKeys::kCom1Enabled, "com1.enabled", "true"},
        {RoutingKeys::kCom1Input, "com1.input", "system:capture_10"},
        {RoutingKeys::kCom2Enabled, "com2.enabled", "false"},
        {RoutingKeys::kCom2Input, "com2.input", "system:capture_11"},
        {RoutingKeys::inputLabelKey("Dante Rx 1/2\\b"), "input.label.Dante_Rx_1_2_b", "Lav 1"},
        {RoutingKeys::outputLabelKey("system:playback_1"), "output.label.system:playback_1", "Cart L"},
        {LtcKeys::kEnabled, "ltc.enabled", "true"},
        {LtcKeys::kInput, "ltc.input", "system:capture_12"},
        {LtcKeys::kForcedFramerate, "ltc.forcedFramerate", "23.976000"},
        {LtcKeys::kForcedDropFrame, "ltc.forcedDropFrame", "false"},
        {LtcKeys::kFrameOffset, "timecode.frame_offset", "-2"},
        {LtcKeys::kGeneratorOutput, "ltcgen.output", "system:playback_8"},
        {LtcKeys::kGeneratorOutputChoice, "ltcgen.output_choice", "3"},
        {LtcKeys::kGeneratorLevel, "ltcgen.level", "4"},
        {LtcKeys::kGeneratorFramerate, "ltcgen.framerate", "2"},
        {LtcKeys::kGeneratorDropFrame, "ltcgen.dropframe", "true"},
        {LtcKeys::kGeneratorRunning, "ltcgen.running", "false"},
        {LtcKeys::kGeneratorCalibrationPpm, "ltcgen.calibration_ppm", "-1.250000"},
        {LtcKeys::kGeneratorCalibrationNumber, "ltcgen.calibration_number", "7"},
        {StripKeys::gainKey(0), "track.gain.0", "-3.000000"},
        {StripKeys::digitalGainKey(1), "track.digitalGain.1", "4.500000"},
        {StripKeys::hpfEnabledKey(2), "track.hpf.enabled.2", "true"},
        {StripKeys::hpfFrequencyKey(3), "track.hpf.frequency.3", "120.000000"},
        {StripKeys::eqEnabledKey(4), "track.eq.enabled.4", "true"},
        {StripKeys::eqBandFrequencyKey(5, 0), "track.eq.5.band0.freq", "250.000000"},
        {StripKeys::eqBandGainKey(5, 1), "track.eq.5.band1.gain", "-2.500000"},
        {StripKeys::eqBandQKey(5, 2), "track.eq.5.band2.q", "0.700000"},
        {StripKeys::limiterEnabledKey(6), "track.limiter.enabled.6", "true"},
        {StripKeys::limiterThresholdKey(7), "track.limiter.threshold.7", "-6.500000"},
        {StripKeys::panelKey(2, StripKeys::kPanelGain), "channelstrip.2.gain", "45"},
        {StripKeys::panelKey(2, StripKeys::kPanelHpfEnabled), "channelstrip.2.hpf.enabled", "true"},
        {StripKeys::panelKey(2, StripKeys::kPanelHpfFrequency), "channelstrip.2.hpf.freq", "100"},
        {StripKeys::panelKey(2, StripKeys::kPanelEqEnabled), "channelstrip.2.eq.enabled", "false"},
        {StripKeys::panelKey(2, StripKeys::kPanelLimiterEnabled), "channelstrip.2.limiter.enabled", "true"},
        {StripKeys::panelKey(2, StripKeys::kPanelLimiterThreshold), "channelstrip.2.limiter.threshold", "-60"},
        {StripKeys::panelEqBandKey(2, 0, StripKeys::kPanelEqFrequency), "channelstrip.2.eq.low.freq", "80"},
        {StripKeys::panelEqBandKey(2, 1, StripKeys::kPanelEqGain), "channelstrip.2.eq.mid.gain", "-30"},
        {StripKeys::panelEqBandKey(2, 2, StripKeys::kPanelEqQ), "channelstrip.2.eq.high.q", "14"},
        {AuxKeys::levelKey(0), "aux.level.0", "0.500000"},
        {AuxKeys::outputKey(1), "aux.output.1", "system:playback_6"},
        {AuxKeys::delayKey(2), "aux.delay.2", "12"},
        {AuxKeys::mixSendKey(3), "aux.mixsend.3", "0.250000"},
        {AuxKeys::mixSendPreFaderKey(4), "aux.mixsend.prefader.4", "true"},
        {AuxKeys::sendKey(12, 3), "aux.send.12.3", "0.800000"},
        {AuxKeys::sendPreFaderKey(0, 1), "aux.send.prefader.0.1", "false"},
        {SurfaceKeys::kControllers, "midi.controllers", "Cantarem 2|CL-12 Network (UDP)"},
        {SurfaceKeys::kFaderAssignments, "midi.faderAssignments", "Cantarem 2:0:3"},
        {SurfaceKeys::kLegacyAssignments, "midi.assignments", ""},
        {MetadataKeys::kProject, "metadata.project", "Harbour Lights"},
        {MetadataKeys::kSoundRoll, "metadata.soundroll", "007"},
        {MetadataKeys::kScene, "metadata.scene", "12A"},
        {MetadataKeys::kTake, "metadata.take", "03"},
        {MetadataKeys::kNotes, "metadata.notes", "plane overhead"},
        {MetadataKeys::kPersistNotes, "metadata.persistnotes", "true"},
        {MetadataKeys::kLastSoundRoll, "lastRecording.soundRoll", "006"},
        {MetadataKeys::kLastScene, "lastRecording.scene", "11"},
        {MetadataKeys::kLastTake, "lastRecording.take", "02"},
        {MetadataKeys::kLastFolderPath, "lastRecording.folderPath", "/home/mixer/Takes/Harbour Lights/006"},
        {MetadataKeys::kPreviousSoundRoll, "previousRecording.soundRoll", "005"},
        {MetadataKeys::kPreviousScene, "previousRecording.scene", "10"},
        {MetadataKeys::kPreviousTake, "previousRecording.take", "01"},
        {MetadataKeys::kPreviousFolderPath, "previousRecording.folderPath", "/home/mixer/Takes/Harbour Lights/005"},
        {MetadataKeys::kManagerLastFolder, "metadataManager.lastDir", "/home/mixer/Takes"},
        {WindowKeys::kX, "window.x", "40"},
        {WindowKeys::kY, "window.y", "30"},
        {WindowKeys::kWidth, "window.width", "1280"},
        {WindowKeys::kHeight, "window.height", "800"},
        {WindowKeys::kSplitTracks, "ui.split.tracks", "500"},
        {WindowKeys::kSplitMixer, "ui.split.mixer", "250"},
        {WindowKeys::kAutoFitLayout, "ui.autofit_layout", "true"},
        {WindowKeys::kMixerVisible, "mixer.visible", "true"},
        {WindowKeys::kTheme, "appearance.theme", "2"},
        {HotkeyKeys::actionKey(4), "hotkey.4", "Ctrl+R"},
        {PlaybackKeys::outputChannelKey(1), "playback/output_ch1", "Mix L"},
        {ReportKeys::kProductionCompany, "soundreport.productionCompany", "Quay Films"},
        {ReportKeys::kProjectName, "soundreport.projectName", "Harbour Lights"},
        {ReportKeys::kDirector, "soundreport.director", "A. Director"},
        {ReportKeys::kSoundMixer, "soundreport.soundMixer", "B. Mixer"},
        {ReportKeys::kMixerPhone, "soundreport.mixerPhone", "+44 20 7946 0000"},
        {ReportKeys::kMixerEmail, "soundreport.mixerEmail", "mixer@example.org"},
        {ReportKeys::kCompanyLogoPath, "soundreport.companyLogoPath", "/home/mixer/logo.png"},
        {ReportKeys::kOutputFormat, "soundreport.outputFormat", "1"},
        {FileServerKeys::kFolder, "fileserver.folder", "/home/mixer/Takes"},
        {FileServerKeys::kPassword, "fileserver.password", "s3cret"},
        {FileServerKeys::kPort, "fileserver.port", "8081"},
        {FileServerKeys::kEnabled, "fileserver.enabled", "true"},
        {SnapshotKeys::kFolder, "snapshots.directory", "/home/mixer/Snapshots"},
    };
    return rows;
}

// A configuration file as this build writes it (header, an empty line, the
// keys in byte order) with every key of the table above.
const char* const kStoredFile = R"(# Tonvale Configuration

appearance.theme=2
arm.12=true
audio.backend=JACK
audio.beepOnRecord=true
audio.bitbucketMode=false
audio.bufferSize=512
audio.buffersize=256
audio.device=Interface A
audio.driver=
audio.samplerate=48000
automix.7=2
automix.global=false
aux.delay.2=12
aux.level.0=0.500000
aux.mixsend.3=0.250000
aux.mixsend.prefader.4=true
aux.output.1=system:playback_6
aux.send.12.3=0.800000
aux.send.prefader.0.1=false
channelstrip.2.eq.enabled=false
channelstrip.2.eq.high.q=14
channelstrip.2.eq.low.freq=80
channelstrip.2.eq.mid.gain=-30
channelstrip.2.gain=45
channelstrip.2.hpf.enabled=true
channelstrip.2.hpf.freq=100
channelstrip.2.limiter.enabled=true
channelstrip.2.limiter.threshold=-60
com1.enabled=true
com1.input=system:capture_10
com2.enabled=false
com2.input=system:capture_11
coms.output=system:playback_4
fader.31=-150
fileserver.enabled=true
fileserver.folder=/home/mixer/Takes
fileserver.password=s3cret
fileserver.port=8081
hotkey.4=Ctrl+R
input.label.Dante_Rx_1_2_b=Lav 1
lastRecording.folderPath=/home/mixer/Takes/Harbour Lights/006
lastRecording.scene=11
lastRecording.soundRoll=006
lastRecording.take=02
ltc.enabled=true
ltc.forcedDropFrame=false
ltc.forcedFramerate=23.976000
ltc.input=system:capture_12
ltcgen.calibration_number=7
ltcgen.calibration_ppm=-1.250000
ltcgen.dropframe=true
ltcgen.framerate=2
ltcgen.level=4
ltcgen.output=system:playback_8
ltcgen.output_choice=3
ltcgen.running=false
media.bitDepth=32
media.bitdepth=24
media.externalEnabled=true
media.externalFormats=0,1
media.externalPaths=/media/a|/media/b
media.fileFormat=1
media.format=0
media.liveBackupActiveTake=false
media.postrollSeconds=3
media.prerollSeconds=5
media.saveLocation=/home/mixer/Takes
metadata.notes=plane overhead
metadata.persistnotes=true
metadata.project=Harbour Lights
metadata.scene=12A
metadata.soundroll=007
metadata.take=03
metadataManager.lastDir=/home/mixer/Takes
midi.assignments=
midi.controllers=Cantarem 2|CL-12 Network (UDP)
midi.faderAssignments=Cantarem 2:0:3
mix.output=system:playback_1,system:playback_2
mixer.visible=true
monitor.output=system:playback_5
output.label.system:playback_1=Cart L
playback/output_ch1=Mix L
previousRecording.folderPath=/home/mixer/Takes/Harbour Lights/005
previousRecording.scene=10
previousRecording.soundRoll=005
previousRecording.take=01
recording.directory=/home/mixer/Takes
recording.external1=/media/a
recording.external2=/media/b
recording.fileNumber=42
slate.enabled=true
slate.gain=-6
slate.input=system:capture_9
snapshots.directory=/home/mixer/Snapshots
soundreport.companyLogoPath=/home/mixer/logo.png
soundreport.director=A. Director
soundreport.mixerEmail=mixer@example.org
soundreport.mixerPhone=+44 20 7946 0000
soundreport.outputFormat=1
soundreport.productionCompany=Quay Films
soundreport.projectName=Harbour Lights
soundreport.soundMixer=B. Mixer
timecode.frame_offset=-2
track.color.0=#aa3300
track.count=16
track.digitalGain.1=4.500000
track.eq.5.band0.freq=250.000000
track.eq.5.band1.gain=-2.500000
track.eq.5.band2.q=0.700000
track.eq.enabled.4=true
track.gain.0=-3.000000
track.hpf.enabled.2=true
track.hpf.frequency.3=120.000000
track.input.5=system:capture_6
track.limiter.enabled.6=true
track.limiter.threshold.7=-6.500000
track.name.3=Boom
track.output.10=system:playback_3
ui.autofit_layout=true
ui.split.mixer=250
ui.split.tracks=500
window.height=800
window.width=1280
window.x=40
window.y=30
)";

TEST(SettingKeysTest, EveryKeyKeepsTheSpellingStoredFilesUse)
{
    for (const StoredKey& row : storedKeys())
        EXPECT_EQ(row.key, row.storedAs);
}

TEST(SettingKeysTest, LastAndPreviousTakeFieldsPairUp)
{
    const std::string_view pairs[][2] = {{"lastRecording.soundRoll", "previousRecording.soundRoll"},
                                         {"lastRecording.scene", "previousRecording.scene"},
                                         {"lastRecording.take", "previousRecording.take"},
                                         {"lastRecording.folderPath", "previousRecording.folderPath"}};
    ASSERT_EQ(std::size(MetadataKeys::kLastRecordingFields), std::size(pairs));
    ASSERT_EQ(std::size(MetadataKeys::kPreviousRecordingFields), std::size(pairs));
    for (size_t i = 0; i < std::size(pairs); ++i) {
        EXPECT_EQ(MetadataKeys::kLastRecordingFields[i], pairs[i][0]);
        EXPECT_EQ(MetadataKeys::kPreviousRecordingFields[i], pairs[i][1]);
    }
}

// The defaults the callers read with before the catalogues held them.
TEST(SettingKeysTest, DefaultsKeepTheirValues)
{
    EXPECT_STREQ(AudioKeys::kBackendDefault, "ASIO");
    EXPECT_EQ(AudioKeys::kBufferSizeDefault, 256);
    EXPECT_EQ(MediaKeys::kBitDepthDefault, 24);
    EXPECT_EQ(MediaKeys::kFileNumberDefault, 1);
    EXPECT_TRUE(TrackKeys::kAutomixGlobalDefault);
    EXPECT_EQ(AuxKeys::kLevelDefault, 1.0f);
    EXPECT_STREQ(MetadataKeys::kTakeDefault, "01");
    EXPECT_EQ(WindowKeys::kXDefault, -1);
    EXPECT_EQ(WindowKeys::kYDefault, -1);
    EXPECT_EQ(WindowKeys::kWidthDefault, 900);
    EXPECT_EQ(WindowKeys::kHeightDefault, 700);
}

class StoredSettingsFileTest : public TempHomeTest {
protected:
    ConfigManager* config() { return ConfigManager::getInstance(); }

    std::string filePath(const char* name) const { return home_.pathStd() + "/" + name; }

    void writeFile(const std::string& path, const char* text)
    {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QByteArray readFile(const std::string& path)
    {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(StoredSettingsFileTest, EveryKeyReadsBackWhatTheFileHolds)
{
    writeFile(filePath("stored.ini"), kStoredFile);
    ASSERT_TRUE(config()->loadConfig(filePath("stored.ini")));
    for (const StoredKey& row : storedKeys())
        EXPECT_EQ(config()->getString(row.key, "<absent>"), row.value) << row.storedAs;

    // The typed readings the callers make of the same file.
    EXPECT_EQ(config()->getFloat(StripKeys::limiterThresholdKey(7), 0.0f), -6.5f);
    EXPECT_EQ(config()->getFloat(LtcKeys::kForcedFramerate, 0.0f), 23.976f);
    EXPECT_EQ(config()->getInt(TrackKeys::faderKey(31), 0), -150);
    EXPECT_EQ(config()->getInt(WindowKeys::kWidth, WindowKeys::kWidthDefault), 1280);
    EXPECT_TRUE(config()->getBool(TrackKeys::armKey(12), false));
    EXPECT_FALSE(config()->getBool(TrackKeys::kAutomixGlobal, TrackKeys::kAutomixGlobalDefault));
}

TEST_F(StoredSettingsFileTest, AFileWrittenBackIsTheFileLoaded)
{
    writeFile(filePath("stored.ini"), kStoredFile);
    ASSERT_TRUE(config()->loadConfig(filePath("stored.ini")));
    ASSERT_TRUE(config()->saveConfig(filePath("written.ini")));
    EXPECT_EQ(readFile(filePath("written.ini")), QByteArray(kStoredFile));
}

} // namespace
