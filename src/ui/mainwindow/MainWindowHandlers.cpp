#include "ui/mainwindow/MainWindow.h"

#include "ui/common/MeterWidget.h"

#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/AudioKeys.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "ui/mixer/AuxSendsDialog.h"
#include "ui/tools/AudioDeviceDialog.h"
#include "ui/tools/ConfigSnapshotDialog.h"
#include "ui/tools/FileServerDialog.h"
#include "ui/tools/LtcGeneratorDialog.h"
#include "ui/tools/MetadataManagerWindow.h"
#include "ui/tools/OffsetsDialog.h"
#include "ui/tools/PlaybackDialog.h"
#include "ui/tools/PlaybackRoutingDialog.h"
#include "ui/tools/SoundReportDialog.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <string>

namespace {

// Refuses what would cut a take short: switching the device or the buffer
// stops audio, so neither is offered while a take records or drains.
bool takeIsActive(const AudioEngineBase& engine)
{
    return engine.isRecording() || engine.isWriterDraining();
}

// What the engine runs now, beside the device list and name the caller has
// read (a refresh reads the list before the ports are read again).
void runningDeviceState(const AudioEngineBase& engine, AudioDeviceState& state)
{
    state.inputChannels = engine.getAvailableInputChannels();
    state.outputChannelCount = engine.getAvailableOutputChannels().size();
    state.sampleRate = engine.getSampleRate();
    state.bufferFrames = engine.getBufferSize();
}

// Switches to the chosen device, then to the chosen buffer size when the
// device runs another (a new device opens at its own size). A failure is
// shown over `dialog`; true when either changed.
bool applyAudioDeviceChoice(AudioEngineBase& engine, const std::string& device, int frames, QWidget* dialog)
{
    const bool deviceWanted = !device.empty() && device != engine.getCurrentDeviceName();
    const bool bufferWanted = frames != engine.getBufferSize();
    if ((deviceWanted || bufferWanted) && takeIsActive(engine)) {
        debugLog("Audio device change refused: a take is recording or finishing");
        MainWindow::showStyledMessageBox(dialog, "Error",
                                         "The audio device and buffer size cannot be changed while a take is "
                                         "recording or finishing. Stop the take and try again.",
                                         QMessageBox::Ok);
        return false;
    }
    bool changed = false;
    if (deviceWanted) {
        if (engine.selectDevice(device)) {
            ConfigManager::getInstance()->setString(AudioKeys::kDevice, device);
            debugLog("Saved audio device preference: " + device);
            changed = true;
        } else {
            MainWindow::showStyledMessageBox(dialog, "Error",
                                             QString("Failed to select device: %1").arg(QString::fromStdString(device)),
                                             QMessageBox::Ok);
        }
    }
    if (frames != engine.getBufferSize()) {
        auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(&engine);
        if (coreAudio != nullptr && coreAudio->setBufferSize(frames)) {
            debugLog("Buffer size changed to: " + std::to_string(frames));
            changed = true;
        } else {
            MainWindow::showStyledMessageBox(dialog, "Error", QString("Failed to set buffer size to %1").arg(frames),
                                             QMessageBox::Ok);
        }
    }
    return changed;
}

} // namespace

void MainWindow::onCoreAudioDeviceSelection()
{
    if (!engine_) {
        showStyledMessageBox(this, "Error", "Audio engine not initialized.", QMessageBox::Ok);
        return;
    }
    AudioEngineBase* engine = engine_.get();
    AudioDeviceState opened;
    opened.devices = engine->getAvailableDevices();
    opened.currentDevice = engine->getCurrentDeviceName();
    runningDeviceState(*engine, opened);
    AudioDeviceDialog dialog(opened, this);

    connect(&dialog, &AudioDeviceDialog::applyRequested, &dialog, [this, engine, &dialog] {
        if (!applyAudioDeviceChoice(*engine, dialog.chosenDevice(), dialog.chosenBufferFrames(), &dialog))
            return;
        ConfigManager::getInstance()->saveConfig("");
        updateAutomixUiState();
        AudioDeviceState applied;
        applied.currentDevice = engine->getCurrentDeviceName();
        runningDeviceState(*engine, applied);
        dialog.showApplied(applied);
    });
    connect(&dialog, &AudioDeviceDialog::refreshRequested, &dialog, [engine, &dialog] {
        AudioDeviceState refreshed;
        refreshed.devices = engine->getAvailableDevices();
        refreshed.currentDevice = engine->getCurrentDeviceName();
        engine->forceRefreshPorts();
        runningDeviceState(*engine, refreshed);
        dialog.showRefreshed(refreshed);
    });
    dialog.exec();
}

bool MainWindow::requireEngine()
{
    if (engine_)
        return true;
    showStyledMessageBox(this, "Error", "Audio engine not available.", QMessageBox::Ok);
    return false;
}

void MainWindow::onAuxSends()
{
    if (!requireEngine())
        return;
    const int trackCount = shownTrackCount_ < 1 ? 8 : shownTrackCount_;
    AuxSendsDialog dialog(engine_.get(), trackCount, engine_->getAvailableOutputChannels(), this);
    dialog.exec();
}

void MainWindow::onPlaybackRouting()
{
    // The routing of playback needs no running engine to be looked at.
    PlaybackRoutingDialog dialog(engine_.get(), this);
    dialog.exec();
}

void MainWindow::onSaveLoadConfig()
{
    if (!requireEngine())
        return;
    ConfigSnapshotDialog dialog(engine_.get(), this);
    dialog.exec();
}

void MainWindow::showKeptWindow(QWidget* window)
{
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

void MainWindow::onLtcGenerator()
{
    if (!requireEngine())
        return;
    initLtcGenerator();
    if (ltcGeneratorDialog_ == nullptr)
        return;
    // Built hidden before the window's style sheet was applied: fit it to
    // the styled contents before it is first shown, or its groups overlap.
    if (!ltcGeneratorDialog_->isVisible())
        ltcGeneratorDialog_->resize(ltcGeneratorDialog_->size().expandedTo(ltcGeneratorDialog_->sizeHint()));
    showKeptWindow(ltcGeneratorDialog_);
    ltcGeneratorDialog_->setWindowState(ltcGeneratorDialog_->windowState() & ~Qt::WindowMinimized);
}

void MainWindow::onTcAccuracyTest()
{
    if (!requireEngine())
        return;
    initLtcGenerator();
    LtcEncoder* generator = nullptr;
    if (ltcGeneratorDialog_ != nullptr) {
        if (!ltcGeneratorDialog_->isGenerating()) {
            debugLog("LTC Generator not running - auto-starting for calibration test");
            ltcGeneratorDialog_->startGenerator();
        }
        generator = ltcEncoder_.get();
    }
    if (tcAccuracyTestDialog_ != nullptr) {
        tcAccuracyTestDialog_->setGenerator(generator);
    } else {
        tcAccuracyTestDialog_ = new TcAccuracyTestDialog(engine_.get(), generator, this);
        tcAccuracyTestDialog_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    showKeptWindow(tcAccuracyTestDialog_);
}

void MainWindow::onOffsets()
{
    if (!requireEngine())
        return;
    auto* dialog = new OffsetsDialog(engine_.get(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose, true);
    dialog->exec();
}

void MainWindow::onMetadataManager()
{
    debugLog("MainWindow: Opening Metadata Manager");
    if (metadataManager_ == nullptr) {
        metadataManager_ = new MetadataManagerWindow(this);
        // Closing only hides it: reopening shows the same window and its state.
        metadataManager_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    showKeptWindow(metadataManager_);
}

void MainWindow::onSoundReport()
{
    SoundReportDialog dialog(this);
    dialog.exec();
}

void MainWindow::onPlayback()
{
    // Without an engine the dialog still lists and shows the takes.
    PlaybackDialog dialog(engine_.get(), this);
    dialog.exec();
}

void MainWindow::onFileServer()
{
    FileServerDialog dialog(this);
    dialog.exec();
}

