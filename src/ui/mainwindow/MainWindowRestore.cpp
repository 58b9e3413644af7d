#include "ui/mainwindow/MainWindow.h"

#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/AudioKeys.h"
#include "core/settings/LtcKeys.h"
#include "core/settings/MediaKeys.h"
#include "core/settings/MetadataKeys.h"
#include "core/settings/RoutingKeys.h"
#include "core/settings/TrackKeys.h"
#include "core/settings/WindowKeys.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "engine/take/TakeFiles.h"
#include "ui/mainwindow/AppearanceDialog.h"
#include "ui/mainwindow/BackupDriveList.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/MeterWidget.h"
#include "ui/common/Theme.h"
#include "ui/mixer/AuxSendsDialog.h"
#include "ui/mixer/PortList.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

namespace {

constexpr int kDefaultTracks = 8;
constexpr int kMaxShownTracks = 32;
constexpr int kLtcGeneratorRestoreDelayMs = 500;

ConfigManager* config()
{
    return ConfigManager::getInstance();
}

// Earlier versions named device channels ":capture_N" and ":playback_N".
// Each form is replaced at most once; `migrated` is told every changed name.
std::string migratePortName(std::string name, const std::function<void(const std::string&)>& migrated = {})
{
    for (auto [from, to] : {std::pair<std::string, std::string>{":capture_", ":in_"}, {":playback_", ":out_"}}) {
        const size_t at = name.find(from);
        if (at == std::string::npos)
            continue;
        name.replace(at, from.size(), to);
        if (migrated)
            migrated(name);
    }
    return name;
}

std::vector<std::string> outputList(const std::string& text, const std::string& logPrefix)
{
    std::vector<std::string> ports;
    for (const std::string& port : splitPortList(text)) {
        std::string name = migratePortName(port, [&](const std::string& migrated) { debugLog(logPrefix + migrated); });
        if (!name.empty())
            ports.push_back(std::move(name));
    }
    return ports;
}

} // namespace

void MainWindow::restoreSavedSettings()
{
    debugLog("Restoring saved settings");
    int count = config()->getInt(TrackKeys::kCount, kDefaultTracks);
    if (count < 1)
        count = kDefaultTracks;
    count = std::min(count, kMaxShownTracks);
    restoreTrackNames(count);

    for (size_t index = 0; index < trackRows_.size(); ++index) {
        const bool armed = config()->getBool(TrackKeys::armKey(static_cast<int>(index)), false);
        trackRows_[index].armButton->setChecked(armed);
        trackRows_[index].meter->setArmed(armed);
        if (engine_)
            engine_->setTrackArmed(static_cast<int>(index), armed && static_cast<int>(index) < shownTrackCount_);
    }

    applyAutoFitLayout(config()->getBool(WindowKeys::kAutoFitLayout, false));
    if (mainSplitter_ != nullptr) {
        const int tracksPx = config()->getInt(WindowKeys::kSplitTracks, -1);
        const int mixerPx = config()->getInt(WindowKeys::kSplitMixer, -1);
        if (tracksPx >= 1 && mixerPx >= 1)
            mainSplitter_->setSizes({tracksPx, mixerPx});
    }
    updateAutomixUiState();

    if (engine_)
        restoreInputs();
    restoreRouting();
    restoreFadersAndColours();

    mixerVisible_ = config()->getBool(WindowKeys::kMixerVisible, false);
    mixerStripsWidget_->setVisible(mixerVisible_);
    updateMixerWatermark();
    for (QAction* action : controllerMenu_->actions()) {
        if (action->text() == "Show Mixer") {
            const QSignalBlocker blocker(action);
            action->setChecked(mixerVisible_);
            break;
        }
    }
    if (mixerVisible_)
        QTimer::singleShot(0, this, &MainWindow::updateMixerFaderSizes);

    restoreMetadataFields();

    const QString soundRoll = QString::fromStdString(config()->getString(MetadataKeys::kLastSoundRoll, ""));
    const QString scene = QString::fromStdString(config()->getString(MetadataKeys::kLastScene, ""));
    const QString take = QString::fromStdString(config()->getString(MetadataKeys::kLastTake, ""));
    if (!soundRoll.isEmpty()) {
        QString text = QString("Last: %1").arg(soundRoll);
        if (!scene.isEmpty())
            text += QString(" / %1").arg(scene);
        if (!take.isEmpty())
            text += QString(" / T%1").arg(take);
        lastRecordingButton_->setText(text);
        lastRecordingButton_->setToolTip(text);
    }

    const int x = config()->getInt(WindowKeys::kX, WindowKeys::kXDefault);
    const int y = config()->getInt(WindowKeys::kY, WindowKeys::kYDefault);
    if (x >= 0 && y >= 0)
        move(x, y);
    resize(config()->getInt(WindowKeys::kWidth, WindowKeys::kWidthDefault),
           config()->getInt(WindowKeys::kHeight, WindowKeys::kHeightDefault));

    if (engine_)
        restoreBackupDrives();

    const bool generatorRunning = config()->getBool(LtcKeys::kGeneratorRunning, false);
    debugLog(std::string("LTC Generator restore check: running=") + (generatorRunning ? "true" : "false") +
             " fps=" + std::to_string(config()->getInt(LtcKeys::kGeneratorFramerate, -1)));
    if (generatorRunning) {
        debugLog("LTC Generator was running, restoring in background...");
        QTimer::singleShot(kLtcGeneratorRestoreDelayMs, this, [this] {
            debugLog("QTimer fired for LTC Generator init");
            initLtcGenerator();
        });
    }
    debugLog("Saved settings restored");

    const AppearanceDialog::Theme theme = AppearanceDialog::getCurrentTheme();
    if (theme != AppearanceDialog::Dark)
        AppearanceDialog::applyTheme(theme);
    applyWidgetStyles();
}

void MainWindow::restoreTrackNames(int count)
{
    if (trackRows_.empty())
        return;
    std::vector<std::string> names;
    for (int index = 0; index < count; ++index)
        names.push_back(config()->getString(TrackKeys::nameKey(index), "Track " + std::to_string(index + 1)));
    if (count != kDefaultTracks) {
        debugLog("Restoring track count: " + std::to_string(count));
        rebuildTracksAndMixer(count, names);
        return;
    }
    for (size_t index = 0; index < trackRows_.size() && index < names.size(); ++index) {
        const QString name = QString::fromStdString(names[index]);
        trackRows_[index].nameEdit->setText(name);
        if (index < mixerStrips_.size()) {
            mixerStrips_[index].nameLabel->setText(shortStripName(name, static_cast<int>(index) + 1));
            mixerStrips_[index].nameLabel->setToolTip(name.trimmed());
        }
    }
}

void MainWindow::restoreInputs()
{
    const std::string slate = migratePortName(config()->getString(RoutingKeys::kSlateInput, ""));
    const std::string com1 = migratePortName(config()->getString(RoutingKeys::kCom1Input, ""));
    const std::string com2 = migratePortName(config()->getString(RoutingKeys::kCom2Input, ""));
    const std::string ltc = migratePortName(config()->getString(LtcKeys::kInput, ""));
    engine_->setSlateMicPort(slate);
    engine_->setComInput1Port(com1);
    engine_->setComInput2Port(com2);
    const bool slateEnabled = config()->getBool(RoutingKeys::kSlateEnabled, false);
    const bool com1Enabled = config()->getBool(RoutingKeys::kCom1Enabled, false);
    const bool com2Enabled = config()->getBool(RoutingKeys::kCom2Enabled, false);
    const bool ltcEnabled = config()->getBool(LtcKeys::kEnabled, false);
    engine_->setSlateMicInputEnabled(slateEnabled);
    engine_->setSlateMicGain(config()->getInt(RoutingKeys::kSlateGain, 0));
    engine_->setComInput1Enabled(com1Enabled);
    engine_->setComInput2Enabled(com2Enabled);
    engine_->setLtcInputEnabled(ltcEnabled);
    engine_->setBeepOnRecordEnabled(config()->getBool(AudioKeys::kBeepOnRecord, false));
    engine_->setBitbucketMode(config()->getBool(AudioKeys::kBitbucketMode, false));
    const auto state = [](bool enabled) { return std::string(enabled ? " (enabled)" : " (disabled)"); };
    if (!slate.empty())
        debugLog("Restored slate mic input: " + slate + state(slateEnabled));
    if (!com1.empty())
        debugLog("Restored COM1 input: " + com1 + state(com1Enabled));
    if (!com2.empty())
        debugLog("Restored COM2 input: " + com2 + state(com2Enabled));
    if (!ltc.empty()) {
        engine_->setLtcInputPort(ltc);
        debugLog("Restored LTC input: " + ltc + state(ltcEnabled));
    }
}

void MainWindow::restoreRouting()
{
    const std::string mixText = config()->getString(RoutingKeys::kMixOutput, "");
    const std::string comsText = config()->getString(RoutingKeys::kComsOutput, "");
    const std::string monitorText = config()->getString(RoutingKeys::kMonitorOutput, "");
    const std::vector<std::string> mix = outputList(mixText, "Migrated mix output port: ");
    const std::vector<std::string> coms = outputList(comsText, "Migrated coms output port: ");
    const std::vector<std::string> generator =
        outputList(config()->getString(LtcKeys::kGeneratorOutput, ""), "Migrated LTC generator output port: ");
    const std::vector<std::string> monitor = outputList(monitorText, "Migrated monitor output port: ");

    const std::string device = config()->getString(AudioKeys::kDevice, "");
    if (device.empty()) {
        debugLog("No audio device configured - deferring routing restore to avoid permission prompt");
        debugLog("User should select device from Audio > Select Audio Device...");
    }
    if (!engine_ || device.empty())
        return;

    // The engine holds 32 tracks; a larger stored count routes only those.
    const int routingCount = std::min(config()->getInt(TrackKeys::kCount, kDefaultTracks), kMaxShownTracks);
    std::vector<std::vector<std::string>> trackOutputs;
    std::vector<std::map<std::string, bool>> portMaps;
    std::vector<std::string> trackNames;
    for (int track = 0; track < routingCount; ++track) {
        const std::string output = migratePortName(config()->getString(RoutingKeys::trackOutputKey(track), ""));
        trackOutputs.push_back(output.empty() ? std::vector<std::string>{} : std::vector<std::string>{output});
        portMaps.emplace_back();
        trackNames.push_back(config()->getString(TrackKeys::nameKey(track), "Track " + std::to_string(track + 1)));
    }
    const std::vector<std::string> outputChannels = engine_->getAvailableOutputChannels();
    engine_->applyOutputRouting(trackOutputs, portMaps, outputChannels, trackNames, mix, coms, generator);
    if (!mixText.empty())
        debugLog("Restored mix output: " + mixText);
    if (!comsText.empty())
        debugLog("Restored COMS output: " + comsText);
    if (!monitorText.empty())
        debugLog("Restored monitor output: " + monitorText);
    if (!monitor.empty()) {
        if (auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine_.get())) {
            coreAudio->setMonitorOutputRouting(monitor, outputChannels);
            debugLog("Monitor bus routing applied on startup");
        }
    }

    if (routingCount >= 1) {
        std::vector<std::string> inputs;
        for (int track = 0; track < routingCount; ++track) {
            std::string input = config()->getString(RoutingKeys::trackInputKey(track), "");
            if (input == "(None)")
                input.clear();
            inputs.push_back(
                migratePortName(input, [](const std::string& name) { debugLog("Migrated old port name to: " + name); }));
        }
        engine_->setInputRouting(inputs);
        debugLog("Restored input routing for " + std::to_string(routingCount) + " tracks");
        for (size_t track = 0; track < inputs.size() && track < 8; ++track) {
            if (!inputs[track].empty())
                debugLog("  Track " + std::to_string(track) + ": " + inputs[track]);
        }
    }

    // The aux keys (bus levels and outputs, mix sends, track sends and every
    // pre-fader flag) are applied by the one place that writes them.
    AuxSendsDialog::restoreStoredSettings(engine_.get(), routingCount);
}

void MainWindow::restoreFadersAndColours()
{
    for (size_t index = 0; index < mixerStrips_.size(); ++index) {
        MixerStrip& strip = mixerStrips_[index];
        const int track = static_cast<int>(index);
        const int position = startingFaderTenthsDb(track);
        strip.fader->setValue(position);
        applyFaderGainAndLabel(track, position);
        const QColor colour(
            QString::fromStdString(config()->getString(TrackKeys::colorKey(track), Theme::kTrackDefault)));
        if (colour.isValid())
            setStripColour(strip, colour);
    }
}

void MainWindow::restoreMetadataFields()
{
    projectEdit_->setText(QString::fromStdString(config()->getString(MetadataKeys::kProject, "")));
    projectEdit_->setCursorPosition(0);
    const QString soundRoll = QString::fromStdString(config()->getString(MetadataKeys::kSoundRoll, kDefaultSoundRoll));
    soundRollEdit_->setText(soundRoll.isEmpty() ? QString(kDefaultSoundRoll) : soundRoll);
    sceneEdit_->setText(QString::fromStdString(config()->getString(MetadataKeys::kScene, "")));
    // A take stored as "7" is shown and kept as "07".
    const QString take =
        normalizedTake(QString::fromStdString(config()->getString(MetadataKeys::kTake, MetadataKeys::kTakeDefault)));
    takeEdit_->setText(take);
    config()->setString(MetadataKeys::kTake, take.toStdString());
    notesEdit_->setText(QString::fromStdString(config()->getString(MetadataKeys::kNotes, "")));
    persistNotesCheck_->setChecked(config()->getBool(MetadataKeys::kPersistNotes, false));
    moveTakePastRecordedTakes();
}

// A take cut short by a crash never moved the field on, and settings from an
// older moment hold an older take: the next take is numbered past every take
// of this scene already in the roll folder, so no two files share a take.
void MainWindow::moveTakePastRecordedTakes()
{
    TakeMetadata fields;
    fields.project = projectEdit_->text().toStdString();
    fields.soundRoll = soundRollEdit_->text().toStdString();
    fields.scene = sceneEdit_->text().toStdString();
    fields.take = takeEdit_->text().toStdString();
    fields = withTakeDefaults(fields);
    bool isNumber = false;
    const int take = takeEdit_->text().toInt(&isNumber, 10);
    if (!isNumber)
        return;
    const std::string folder = takeFolderPath(baseRecordingFolder(), fields.project, fields.soundRoll);
    const int highest = highestRecordedTake(folder, fields);
    if (take > highest || highest >= 99)
        return;
    const QString next = normalizedTake(QString::number(highest + 1));
    debugLog("Take moved on to " + next.toStdString() + ": take " + std::to_string(highest) + " of this scene is already in " +
             folder);
    takeEdit_->setText(next);
    storeText(MetadataKeys::kTake, next);
}

void MainWindow::restoreBackupDrives()
{
    const bool enabled = config()->getBool(MediaKeys::kExternalEnabled, false);
    const std::vector<AudioEngineBase::BackupPathInfo> drives =
        parseBackupDrives(config()->getString(MediaKeys::kExternalPaths, ""),
                          config()->getString(MediaKeys::kExternalFormats, ""));
    engine_->setBackupMediaPathsWithFormats(enabled, drives);
    debugLog(std::string("Restored backup media paths: enabled=") + (enabled ? "true" : "false") +
             " paths=" + std::to_string(drives.size()));

    // A drive that went away or turned read-only since the last session is
    // reported now, before the first take, not when its backup copy fails.
    std::vector<std::string> toTest;
    for (const AudioEngineBase::BackupPathInfo& drive : drives)
        if (!drive.path.empty())
            toTest.push_back(drive.path);
    if (enabled && !toTest.empty())
        requestDriveAccessPermissions(toTest);
}

void MainWindow::applyBitbucketMode(bool on)
{
    if (engine_)
        engine_->setBitbucketMode(on);
    config()->setBool(AudioKeys::kBitbucketMode, on);
    config()->saveConfig("");
    if (mixMeter_ != nullptr)
        mixMeter_->setVisible(!on);
    if (mixLabel_ != nullptr)
        mixLabel_->setVisible(!on);
    for (MixerStrip& strip : mixerStrips_) {
        if (strip.fader == nullptr)
            continue;
        if (!on)
            strip.fader->setEnabled(true);
        {
            const QSignalBlocker blocker(strip.fader);
            strip.fader->setValue(FaderSlider::kMinimumTenthsDb);
        }
        if (on)
            strip.fader->setEnabled(false);
        strip.gainLabel->setText("-∞ dB");
        if (!on && engine_)
            engine_->setTrackGain(strip.trackIndex, 0.0f);
    }
    debugLog(on ? "Bitbucket Mode ENABLED" : "Bitbucket Mode DISABLED");
    updateAutomixUiState();
}
