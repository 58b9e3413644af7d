#include "ui/mainwindow/MainWindow.h"

#include "ui/common/MeterWidget.h"

#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "ui/mixer/AuxSendsDialog.h"
#include "ui/tools/ConfigSnapshotDialog.h"
#include "ui/tools/FileServerDialog.h"
#include "ui/tools/LtcGeneratorDialog.h"
#include "ui/tools/MetadataManagerWindow.h"
#include "ui/tools/OffsetsDialog.h"
#include "ui/tools/PlaybackDialog.h"
#include "ui/tools/PlaybackRoutingDialog.h"
#include "ui/tools/SoundReportDialog.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kBufferSizes[] = {64, 128, 256, 512, 1024, 2048, 4096};
constexpr int kFallbackBufferIndex = 3;

// Refuses what would cut a take short: switching the device or the buffer
// stops audio, so neither is offered while a take records or drains.
bool takeIsActive(const AudioEngineBase& engine)
{
    return engine.isRecording() || engine.isWriterDraining();
}

} // namespace

void MainWindow::onCoreAudioDeviceSelection()
{
    if (!engine_) {
        showStyledMessageBox(this, "Error", "Audio engine not initialized.", QMessageBox::Ok);
        return;
    }
    AudioEngineBase* engine = engine_.get();
    const std::vector<std::string> devices = engine->getAvailableDevices();
    const std::vector<std::string> inputs = engine->getAvailableInputChannels();
    const std::string currentDevice = engine->getCurrentDeviceName();

    QDialog dialog(this);
    dialog.setObjectName("audioDeviceDialog");
    dialog.setWindowTitle("Select Audio Device");
    dialog.setMinimumSize(550, 500);
    dialog.setStyleSheet("QDialog { background: #2a2a2a; color: #eee; }QLabel { color: #ddd; }QComboBox { background: "
                         "#333; color: #fff; border: 1px solid #555; padding: 5px; }QComboBox::drop-down { border: none; "
                         "}QListWidget { background: #333; color: #fff; border: 1px solid #555; }QPushButton { "
                         "background: #444; color: #fff; border: none; padding: 8px 16px; }QPushButton:hover { "
                         "background: #555; }QGroupBox { color: #aaa; border: 1px solid #555; margin-top: 10px; "
                         "padding-top: 10px; }");
    auto* layout = new QVBoxLayout(&dialog);
    layout->setSpacing(10);

    auto* deviceGroup = new QGroupBox("Audio Device", &dialog);
    auto* deviceLayout = new QVBoxLayout(deviceGroup);
    auto* deviceCombo = new QComboBox(deviceGroup);
    deviceCombo->setObjectName("deviceCombo");
    const auto fillDevices = [deviceCombo](const std::vector<std::string>& names, const std::string& current) {
        deviceCombo->clear();
        for (const std::string& name : names)
            deviceCombo->addItem(QString::fromStdString(name));
        const int index = deviceCombo->findText(QString::fromStdString(current));
        deviceCombo->setCurrentIndex(index >= 0 ? index : 0);
    };
    fillDevices(devices, currentDevice);
    auto* deviceHint = new QLabel("Select an audio interface or aggregate device.", deviceGroup);
    deviceHint->setStyleSheet("color: #888; font-size: 11px;");
    deviceLayout->addWidget(deviceCombo);
    deviceLayout->addWidget(deviceHint);
    layout->addWidget(deviceGroup);

    auto* bufferGroup = new QGroupBox("Buffer Size", &dialog);
    auto* bufferLayout = new QHBoxLayout(bufferGroup);
    auto* bufferCombo = new QComboBox(bufferGroup);
    bufferCombo->setObjectName("bufferCombo");
    for (int frames : kBufferSizes)
        bufferCombo->addItem(QString("%1 samples").arg(frames), frames);
    const int bufferIndex = bufferCombo->findData(engine->getBufferSize());
    bufferCombo->setCurrentIndex(bufferIndex >= 0 ? bufferIndex : kFallbackBufferIndex);
    auto* latencyLabel = new QLabel(bufferGroup);
    latencyLabel->setObjectName("latencyLabel");
    latencyLabel->setStyleSheet("color: #888;");
    bufferLayout->addWidget(bufferCombo);
    bufferLayout->addWidget(latencyLabel);
    bufferLayout->addStretch();
    layout->addWidget(bufferGroup);

    auto* configGroup = new QGroupBox("Current Configuration", &dialog);
    auto* configLayout = new QVBoxLayout(configGroup);
    auto* configLabel = new QLabel(configGroup);
    configLabel->setObjectName("configurationLabel");
    configLabel->setStyleSheet("color: #0c0; font-family: monospace; padding: 5px;");
    configLayout->addWidget(configLabel);
    layout->addWidget(configGroup);

    auto* inputGroup = new QGroupBox("Available Input Channels", &dialog);
    auto* inputLayout = new QVBoxLayout(inputGroup);
    auto* inputList = new QListWidget(inputGroup);
    inputList->setObjectName("inputList");
    inputList->setMaximumHeight(150);
    const auto fillInputs = [inputList](const std::vector<std::string>& names) {
        inputList->clear();
        for (const std::string& name : names)
            inputList->addItem(QString::fromStdString(name));
    };
    fillInputs(inputs);
    inputLayout->addWidget(inputList);
    layout->addWidget(inputGroup);

    auto* aggregateHint = new QLabel("To combine multiple audio interfaces:\n1. Run PipeWire with its JACK library "
                                     "(pipewire-jack), or a JACK server (jackd) on one ALSA interface\n2. PipeWire "
                                     "puts every interface in one graph; with jackd, add the others with zita-a2j "
                                     "and zita-j2a\n3. Set all of them to 48 kHz\n4. Their ports appear as the "
                                     "channels of the JACK device in the list above",
                                     &dialog);
    aggregateHint->setStyleSheet("color: #777; font-size: 11px; padding: 10px; background: #222; border-radius: 4px;");
    layout->addWidget(aggregateHint);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton("Apply", &dialog);
    apply->setStyleSheet("background: #2a6a2a; font-weight: bold;");
    auto* refresh = new QPushButton("Refresh", &dialog);
    auto* close = new QPushButton("Close", &dialog);
    buttons->addWidget(apply);
    buttons->addWidget(refresh);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    const auto updateLatencyLabel = [engine, bufferCombo, latencyLabel] {
        const int frames = bufferCombo->currentData().toInt();
        const int sampleRate = engine->getSampleRate();
        if (sampleRate >= 1)
            latencyLabel->setText(
                QString("Latency: ~%1 ms").arg(static_cast<double>(frames) / sampleRate * 1000.0, 0, 'f', 2));
    };
    const auto updateConfigurationLabel = [engine, configLabel] {
        configLabel->setText(QString("Device: %1\nSample Rate: %2 Hz\nBuffer Size: %3 samples\nInput Channels: "
                                     "%4\nOutput Channels: %5")
                                 .arg(QString::fromStdString(engine->getCurrentDeviceName()))
                                 .arg(engine->getSampleRate())
                                 .arg(engine->getBufferSize())
                                 .arg(engine->getAvailableInputChannels().size())
                                 .arg(engine->getAvailableOutputChannels().size()));
    };
    updateLatencyLabel();
    updateConfigurationLabel();
    connect(bufferCombo, &QComboBox::currentIndexChanged, &dialog, updateLatencyLabel);

    connect(apply, &QPushButton::clicked, &dialog, [&, engine] {
        const std::string device = deviceCombo->currentText().toStdString();
        const int frames = bufferCombo->currentData().toInt();
        const bool deviceWanted = !device.empty() && device != engine->getCurrentDeviceName();
        const bool bufferWanted = frames != engine->getBufferSize();
        if ((deviceWanted || bufferWanted) && takeIsActive(*engine)) {
            debugLog("Audio device change refused: a take is recording or finishing");
            showStyledMessageBox(&dialog, "Error",
                                 "The audio device and buffer size cannot be changed while a take is recording "
                                 "or finishing. Stop the take and try again.",
                                 QMessageBox::Ok);
            return;
        }
        bool changed = false;
        if (deviceWanted) {
            if (engine->selectDevice(device)) {
                ConfigManager::getInstance()->setString("audio.device", device);
                debugLog("Saved audio device preference: " + device);
                changed = true;
            } else {
                showStyledMessageBox(&dialog, "Error", QString("Failed to select device: %1").arg(QString::fromStdString(device)),
                                     QMessageBox::Ok);
            }
        }
        if (frames != engine->getBufferSize()) {
            auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine);
            if (coreAudio != nullptr && coreAudio->setBufferSize(frames)) {
                debugLog("Buffer size changed to: " + std::to_string(frames));
                changed = true;
            } else {
                showStyledMessageBox(&dialog, "Error", QString("Failed to set buffer size to %1").arg(frames),
                                     QMessageBox::Ok);
            }
        }
        if (!changed)
            return;
        ConfigManager::getInstance()->saveConfig("");
        updateAutomixUiState();
        updateConfigurationLabel();
        updateLatencyLabel();
        fillInputs(engine->getAvailableInputChannels());
    });
    connect(refresh, &QPushButton::clicked, &dialog, [&, engine] {
        fillDevices(engine->getAvailableDevices(), engine->getCurrentDeviceName());
        engine->forceRefreshPorts();
        fillInputs(engine->getAvailableInputChannels());
        updateConfigurationLabel();
    });
    connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
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

