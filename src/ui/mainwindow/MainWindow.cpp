#include "ui/mainwindow/MainWindow.h"

#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/NumberText.h"
#include "core/SessionState.h"
#include "core/settings/AudioKeys.h"
#include "core/settings/LtcKeys.h"
#include "core/settings/MediaKeys.h"
#include "core/settings/TrackKeys.h"
#include "core/settings/WindowKeys.h"
#include "engine/AudioEngineFactory.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "ui/mainwindow/BackupDriveList.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/MessageBoxes.h"
#include "ui/common/Theme.h"
#include "ui/tools/LtcGeneratorDialog.h"
#include "ui/tools/MetadataManagerWindow.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QTimer>

#include <sstream>

namespace {

constexpr int kMeterIntervalMs = 50;
constexpr int kJackMeterIntervalMs = 100;
constexpr int kDriveIntervalMs = 5000;
constexpr int kWatchdogIntervalMs = 2000;
constexpr int kLongPressMs = 600;
// Long enough for the press of a repeat pair to be read after its release
// on a busy machine, far shorter than any real release and press again.
constexpr int kReleaseSettleMs = 50;
constexpr int kConfigSaveDelayMs = 2000;
constexpr int kMissingDeviceBoxDelayMs = 500;
constexpr int kFaderSyncDelayMs = 100;
constexpr int kFaderHoldOffTailMs = 500;

ConfigManager* config()
{
    return ConfigManager::getInstance();
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle("Tonvale");
    setMinimumSize(1024, 768);
    applyDarkTheme();
    setupUI();
    setupMenus();
    setupConnections();
    initializeEngines();
    startTimers();
}

void MainWindow::startTimers()
{
    meterTimer_ = new QTimer(this);
    connect(meterTimer_, &QTimer::timeout, this, &MainWindow::updateMeters);
    connect(meterTimer_, &QTimer::timeout, this, &MainWindow::updateTimecode);
    connect(meterTimer_, &QTimer::timeout, this, &MainWindow::updateAutomixIndicators);
    meterTimer_->start(meterIntervalMs());

    driveTimer_ = new QTimer(this);
    connect(driveTimer_, &QTimer::timeout, this, &MainWindow::updateDriveStatus);
    driveTimer_->start(kDriveIntervalMs);

    // The drive alarms and the copy blink are driven by the drive display.
    errorBlinkTimer_ = new QTimer(this);
    copyBlinkTimer_ = new QTimer(this);
    connect(errorBlinkTimer_, &QTimer::timeout, this, &MainWindow::onDriveErrorBlinkTick);
    connect(copyBlinkTimer_, &QTimer::timeout, this, &MainWindow::onDriveCopyBlinkTick);

    auto* watchdog = new QTimer(this);
    connect(watchdog, &QTimer::timeout, this, [this] {
        if (controllerManager_)
            controllerManager_->startWatchdogRun();
    });
    watchdog->start(kWatchdogIntervalMs);

    QTimer::singleShot(100, this, &MainWindow::updateDriveStatus);

    longPressTimer_ = new QTimer(this);
    longPressTimer_->setSingleShot(true);
    longPressTimer_->setInterval(kLongPressMs);
    connect(longPressTimer_, &QTimer::timeout, this, &MainWindow::onLongPressExpired);
    releaseSettleTimer_ = new QTimer(this);
    releaseSettleTimer_->setSingleShot(true);
    releaseSettleTimer_->setInterval(kReleaseSettleMs);
    connect(releaseSettleTimer_, &QTimer::timeout, this, &MainWindow::settlePendingTransportRelease);
}

int MainWindow::meterIntervalMs() const
{
    return config()->getString(AudioKeys::kBackend, AudioKeys::kBackendDefault) == "JACK" ? kJackMeterIntervalMs
                                                                                          : kMeterIntervalMs;
}

void MainWindow::setupConnections()
{
    setupSlateAndCom();
    setupConfigurableHotkeys();
    setupMetadataFields();
}

void MainWindow::initializeEngines()
{
    debugLog("initializeEngines: loading config");
    config()->loadConfig("");

    debugLog("initializeEngines: creating session");
    sessionState_ = std::make_shared<SessionState>();

    debugLog("initializeEngines: checking audio backend");
    debugLog("initializeEngines: creating CoreAudio audio engine");
    engine_.reset();
    engine_ = AudioEngineFactory::create(AudioEngineFactory::CoreAudio);
    debugLog("initializeEngines: audio engine created");

    if (!engine_) {
        debugLog("initializeEngines: audio engine failed");
    } else {
        debugLog("initializeEngines: initializing audio engine");
        if (engine_->initialize()) {
            engine_->setSessionState(sessionState_);
            debugLog("initializeEngines: CoreAudio engine ready");
            const std::string device = config()->getString(AudioKeys::kDevice, "");
            if (device.empty()) {
                debugLog("initializeEngines: no saved device - user should select from Audio menu");
            } else {
                debugLog("initializeEngines: applying saved device preference: " + device);
                if (engine_->selectDevice(device)) {
                    debugLog("initializeEngines: successfully switched to saved device: " + device);
                    const int bufferFrames = config()->getInt(AudioKeys::kBufferSize, AudioKeys::kBufferSizeDefault);
                    auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine_.get());
                    if (coreAudio != nullptr && bufferFrames != engine_->getBufferSize()) {
                        if (coreAudio->setBufferSize(bufferFrames))
                            debugLog("initializeEngines: applied saved buffer size: " + std::to_string(bufferFrames));
                        else
                            debugLog("initializeEngines: failed to apply saved buffer size: " +
                                     std::to_string(bufferFrames));
                    }
                } else {
                    debugLog("initializeEngines: failed to switch to saved device: " + device);
                    const QString name = QString::fromStdString(device);
                    QTimer::singleShot(kMissingDeviceBoxDelayMs, this, [this, name] {
                        showStyledMessageBox(this, "Audio Device Not Found",
                                             QString("The saved audio device \"%1\" is not available.\n\n"
                                                     "No audio device is active - recording is disabled until "
                                                     "you select one from Audio > Select Audio Device...")
                                                 .arg(name),
                                             QMessageBox::Ok);
                    });
                }
            }
        }
        pushMediaSettings();
        const float forcedRate = config()->getFloat(LtcKeys::kForcedFramerate, 0.0f);
        if (forcedRate > 0.0f) {
            engine_->setForcedFramerate(forcedRate);
            debugLog("Restored forced framerate: " + fixedText(forcedRate, 6));
        }
    }

    debugLog("initializeEngines: creating MIDI controller manager");
    controllerManager_.reset();
    controllerManager_ = std::make_unique<MidiControllerManager>();
    debugLog("initializeEngines: initializing MIDI controller manager");
    installControllerInstructionsBox();
    controllerManager_->initialize();
    setupMidiCallbacks();
    debugLog("initializeEngines: restoring previously configured controllers");
    controllerManager_->checkAndRestoreControllers();

    controllerFaderHoldOff_ = true;
    restoreSavedSettings();

    QTimer::singleShot(kFaderSyncDelayMs, this, [this] {
        syncFadersToController();
        QTimer::singleShot(kFaderHoldOffTailMs, this, [this] {
            controllerFaderHoldOff_ = false;
            debugLog("MIDI fader input now ENABLED");
        });
    });
    debugLog("initializeEngines: complete");
}

int MainWindow::storedFileFormat() const
{
    const int fileFormat = config()->getInt(MediaKeys::kFileFormat, 0);
    return fileFormat == 0 || fileFormat == 1 ? fileFormat : 0;
}

void MainWindow::pushMediaSettings()
{
    const int fileFormat = storedFileFormat();
    int bitDepth = config()->getInt(MediaKeys::kBitDepth, MediaKeys::kBitDepthDefault);
    // Older files stored the menu index instead of the depth.
    if (bitDepth >= 0 && bitDepth <= 2) {
        bitDepth = bitDepth == 0 ? 16 : (bitDepth == 1 ? 24 : 32);
        config()->setInt(MediaKeys::kBitDepth, bitDepth);
    }
    const int prerollSeconds = config()->getInt(MediaKeys::kPrerollSeconds, 0);
    const int postrollSeconds = config()->getInt(MediaKeys::kPostrollSeconds, 0);
    const bool backupEnabled = config()->getBool(MediaKeys::kExternalEnabled, false);
    const bool liveBackup = config()->getBool(MediaKeys::kLiveBackupActiveTake, false);
    const std::vector<AudioEngineBase::BackupPathInfo> drives = parseBackupDrives(
        config()->getString(MediaKeys::kExternalPaths, ""), config()->getString(MediaKeys::kExternalFormats, ""));

    engine_->setMediaFormat(fileFormat, bitDepth);
    engine_->setSampleFormat(bitDepth == 16   ? BwfFileWriter::Int16
                             : bitDepth == 32 ? BwfFileWriter::Float32
                                              : BwfFileWriter::Int24);
    engine_->setPrerollDuration(prerollSeconds);
    engine_->setPostrollDuration(postrollSeconds);
    engine_->setBackupMediaPathsWithFormats(backupEnabled, drives);
    engine_->setLiveBackupActiveTake(liveBackup);
}

void MainWindow::initLtcGenerator()
{
    if (!engine_ || ltcGeneratorDialog_ != nullptr)
        return;
    if (!ltcEncoder_)
        ltcEncoder_ = LtcGeneratorDialog::makeEncoder(engine_.get());
    ltcGeneratorDialog_ = new LtcGeneratorDialog(engine_.get(), ltcEncoder_.get(), this);
    // Closing it only hides it: the generator keeps feeding the engine.
    ltcGeneratorDialog_->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(ltcGeneratorDialog_, &LtcGeneratorDialog::generatorStarted, this, [this](int outputChannel) {
        if (!engine_ || ltcGeneratorDialog_ == nullptr)
            return;
        engine_->setLtcGenerator(ltcEncoder_.get());
        engine_->setLtcGeneratorOutput(outputChannel);
        engine_->enableLtcGenerator(true);
    });
    connect(ltcGeneratorDialog_, &LtcGeneratorDialog::generatorStopped, this, [this] {
        if (engine_)
            engine_->enableLtcGenerator(false);
    });
    ltcGeneratorDialog_->startIfWasRunning();
}

void MainWindow::scheduleConfigSave()
{
    if (configSaveTimer_ == nullptr) {
        configSaveTimer_ = new QTimer(this);
        configSaveTimer_->setSingleShot(true);
        configSaveTimer_->setInterval(kConfigSaveDelayMs);
        connect(configSaveTimer_, &QTimer::timeout, this, [] { config()->saveConfig(""); });
    }
    configSaveTimer_->start();
}

void MainWindow::showStyledMessageBox(QWidget* parent, const QString& title, const QString& text,
                                      QMessageBox::StandardButtons buttons)
{
    ::showStyledMessageBox(parent, title, text, buttons);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // After a snapshot load the restart's quit closes this window: the load
    // was confirmed in its own dialog, and a refusal here would keep this
    // instance (and its lock) alive under the restart overlay.
    if (!config()->isSealedForRestart()) {
        if (askStyled(this, "Confirm Exit", "Are you sure you want to quit Tonvale?",
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    // The take is ended whether the window's record road or the engine
    // itself (a controller, a restart) knows of it, through the stop road,
    // so the next start names it as the last take and numbers past it.
    if (engine_ && (isRecording_ || engine_->isRecording())) {
        onStopClicked();
        if (engine_->isRecording())
            engine_->stopRecording();
        isRecording_ = false;
    }
    event->accept();
}

void MainWindow::shutDownEngineAndItsTools()
{
    // The engine must stop reading the encoder before it goes, and the
    // dialogs that borrow it before it.
    if (ltcGeneratorDialog_ != nullptr && engine_) {
        engine_->enableLtcGenerator(false);
        engine_->setLtcGenerator(nullptr);
    }
    delete ltcGeneratorDialog_;
    ltcGeneratorDialog_ = nullptr;
    delete tcAccuracyTestDialog_;
    tcAccuracyTestDialog_ = nullptr;
    ltcEncoder_.reset();
    if (engine_)
        engine_->shutdown();
}

MainWindow::~MainWindow()
{
    // A format cannot stop half-way: its programs must not be left writing
    // to the card with nobody to read the result.
    formatWork_.waitForFinished();
    // Typing still open in a field ends while the window is whole: its
    // editing-finished handler stores it here, not from the QWidget
    // destructor into a window that is half gone.
    if (QWidget* focus = QApplication::focusWidget(); focus != nullptr && isAncestorOf(focus))
        focus->clearFocus();
    for (size_t index = 0; index < mixerStrips_.size(); ++index)
        config()->setInt(TrackKeys::faderKey(index), mixerStrips_[index].fader->value());
    config()->setInt(WindowKeys::kX, pos().x());
    config()->setInt(WindowKeys::kY, pos().y());
    config()->setInt(WindowKeys::kWidth, geometry().width());
    config()->setInt(WindowKeys::kHeight, geometry().height());
    config()->saveConfig("");

    meterTimer_->stop();
    driveTimer_->stop();

    shutDownEngineAndItsTools();
    delete metadataManager_;
    metadataManager_ = nullptr;
    if (controllerManager_)
        controllerManager_->shutdown();

    trackRows_.clear();
    mixerStrips_.clear();
    sessionState_.reset();
    controllerManager_.reset();
    engine_.reset();
}
