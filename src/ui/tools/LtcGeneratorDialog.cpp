#include "ui/tools/LtcGeneratorDialog.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/NumberText.h"
#include "core/settings/LtcKeys.h"
#include "engine/AudioEngineBase.h"
#include "timecode/LtcOutputLevel.h"
#include "ui/common/Theme.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kDisplayMs = 33;
constexpr int kDefaultSampleRate = 48000;

struct RateItem {
    const char* text;
    int rate;
};
constexpr RateItem kRateItems[] = {
    {"23.976 fps", LtcEncoder::Fps23976},
    {"24 fps", LtcEncoder::Fps24},
    {"25 fps", LtcEncoder::Fps25},
    {"29.97 fps NDF (Non-Drop Frame)", LtcEncoder::Fps2997},
    {"29.97 fps DF (Drop Frame)", LtcEncoder::Fps2997},
    {"30 fps", LtcEncoder::Fps30},
};
constexpr int kDefaultRateItem = 5;

// This dialog offers the shared list from -3 dBFS on; item i is shared index
// i + 1 (0 dBFS is only offered by the output matrix).
constexpr int kFirstSharedLevel = 1;
constexpr int kLevelItems = static_cast<int>(LtcOutputLevel::kLevelsDb.size()) - kFirstSharedLevel;

QString startStopStyle(bool running)
{
    return QString("QPushButton { color: white; font-weight: bold; font-size: 18px; background-color: %1; "
                   "border-radius: 5px; } QPushButton:hover { background-color: %2; }")
        .arg(running ? Theme::kLtcGenStopButton : Theme::kLtcGenStartButton,
             running ? Theme::kLtcGenStopButtonHover : Theme::kLtcGenStartButtonHover);
}

QString statusStyle(bool running)
{
    return running ? QString("color: %1; font-weight: bold;").arg(Theme::kLtcGenRunning)
                   : QString("color: %1; font-style: italic;").arg(Theme::kLtcGenMuted);
}

QString twoDigits(int value)
{
    return QString("%1").arg(value, 2, 10, QChar('0'));
}

QString signedFixed(double value, int decimals)
{
    return (value >= 0.0 ? "+" : "") + QString::number(value, 'f', decimals);
}

QSpinBox* timeBox(int maximum)
{
    auto* box = new QSpinBox;
    box->setRange(0, maximum);
    box->setMinimumWidth(50);
    box->setAlignment(Qt::AlignCenter);
    box->setStyleSheet("QSpinBox { font-size: 16px; padding: 2px 5px; min-width: 40px; }");
    return box;
}

}  // namespace

std::unique_ptr<LtcEncoder> LtcGeneratorDialog::makeEncoder(const AudioEngineBase* engine)
{
    const int sampleRate = engine != nullptr ? engine->getSampleRate() : kDefaultSampleRate;
    return std::make_unique<LtcEncoder>(sampleRate > 0 ? sampleRate : kDefaultSampleRate, LtcEncoder::Fps30);
}

LtcGeneratorDialog::LtcGeneratorDialog(AudioEngineBase* engine, LtcEncoder* encoder, QWidget* parent)
    : QDialog(parent), engine_(engine), encoder_(nullptr), levelIndex_(LtcOutputLevel::kDefaultIndex)
{
    setWindowTitle("LTC Generator");
    setMinimumSize(350, 400);
    // The generator is taken on once the widgets are built, so their first
    // values (not yet the stored settings) never reach it.
    setupUI();
    updateOutputChannels();
    encoder_ = encoder;
    displayTimer_ = new QTimer(this);
    connect(displayTimer_, &QTimer::timeout, this, &LtcGeneratorDialog::updateTimecodeDisplay);
    restoreSettings();
}

LtcGeneratorDialog::~LtcGeneratorDialog()
{
    debugLog(std::string("LtcGeneratorDialog destructor called, generating_=") + (generating_ ? "true" : "false"));
    saveSettings();
    displayTimer_->stop();
    generating_ = false;
}

void LtcGeneratorDialog::setupUI()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(15);

    auto* startGroup = new QGroupBox("Start Timecode");
    auto* startRow = new QHBoxLayout(startGroup);
    hoursBox_ = timeBox(23);
    minutesBox_ = timeBox(59);
    secondsBox_ = timeBox(59);
    framesBox_ = timeBox(29);
    QSpinBox* boxes[] = {hoursBox_, minutesBox_, secondsBox_, framesBox_};
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            startRow->addWidget(new QLabel(":"));
        startRow->addWidget(boxes[i]);
        connect(boxes[i], &QSpinBox::valueChanged, this, &LtcGeneratorDialog::onTimecodeChanged);
    }
    startRow->addStretch();
    layout->addWidget(startGroup);

    auto* settingsGroup = new QGroupBox("Settings");
    auto* settings = new QGridLayout(settingsGroup);
    frameRateCombo_ = new QComboBox;
    for (const RateItem& item : kRateItems)
        frameRateCombo_->addItem(item.text, item.rate);
    frameRateCombo_->setCurrentIndex(kDefaultRateItem);
    settings->addWidget(new QLabel("Frame Rate:"), 0, 0);
    settings->addWidget(frameRateCombo_, 0, 1);
    dropFrameBox_ = new QCheckBox("Drop Frame");
    settings->addWidget(dropFrameBox_, 1, 0, 1, 2);
    outputCombo_ = new QComboBox;
    settings->addWidget(new QLabel("Output Channel:"), 2, 0);
    settings->addWidget(outputCombo_, 2, 1);
    levelCombo_ = new QComboBox;
    for (int i = 0; i < kLevelItems; ++i) {
        const double db = LtcOutputLevel::kLevelsDb[static_cast<size_t>(i + kFirstSharedLevel)];
        levelCombo_->addItem(QString("%1 dBFS").arg(db), static_cast<int>(db));
    }
    levelCombo_->setCurrentIndex(LtcOutputLevel::kDefaultIndex - kFirstSharedLevel);
    settings->addWidget(new QLabel("Output Level:"), 3, 0);
    settings->addWidget(levelCombo_, 3, 1);
    layout->addWidget(settingsGroup);
    connect(frameRateCombo_, &QComboBox::currentIndexChanged, this, &LtcGeneratorDialog::onFrameRateChanged);
    connect(dropFrameBox_, &QCheckBox::stateChanged, this, &LtcGeneratorDialog::onDropFrameChanged);
    connect(outputCombo_, &QComboBox::currentIndexChanged, this, &LtcGeneratorDialog::onOutputChannelChanged);
    connect(levelCombo_, &QComboBox::currentIndexChanged, this, &LtcGeneratorDialog::onPadLevelChanged);

    auto* calibrationGroup = new QGroupBox("Manual Calibration");
    auto* calibration = new QVBoxLayout(calibrationGroup);
    calibrationLabel_ = new QLabel;
    calibrationLabel_->setStyleSheet(QString("font-size: 11px; color: %1;").arg(Theme::kLtcGenMuted));
    calibration->addWidget(calibrationLabel_);
    auto* calibrationRow = new QHBoxLayout;
    calibrationRow->addWidget(new QLabel("Calibration Number:"));
    calibrationEdit_ = new QLineEdit;
    calibrationEdit_->setPlaceholderText("Enter calibration number...");
    calibrationEdit_->setMaximumWidth(120);
    calibrationRow->addWidget(calibrationEdit_);
    auto* apply = new QPushButton("Apply");
    apply->setMaximumWidth(60);
    connect(apply, &QPushButton::clicked, this, &LtcGeneratorDialog::onApplyCalibration);
    calibrationRow->addWidget(apply);
    calibration->addLayout(calibrationRow);
    auto* help = new QLabel("Enter the calibration number from a completed 6-hour calibration test.\n"
                            "This will calibrate the internal generator for accurate timecode generation.");
    help->setWordWrap(true);
    help->setStyleSheet(QString("font-size: 10px; color: %1; margin-top: 5px;").arg(Theme::kLtcGenHelpText));
    calibration->addWidget(help);
    layout->addWidget(calibrationGroup);
    updateCalibrationDisplay();

    auto* currentGroup = new QGroupBox("Current Timecode");
    auto* current = new QVBoxLayout(currentGroup);
    timecodeLabel_ = new QLabel("00:00:00:00");
    timecodeLabel_->setAlignment(Qt::AlignCenter);
    timecodeLabel_->setMinimumWidth(280);
    timecodeLabel_->setStyleSheet(
        QString("font-family: 'Courier New', Courier, monospace; font-size: 32px; font-weight: bold; color: %1;"
                " background-color: %2; padding: 10px; border: 2px solid %3; border-radius: 5px; letter-spacing: 0px;")
            .arg(Theme::kLtcGenDisplayText, Theme::kLtcGenDisplayBackground, Theme::kLtcGenDisplayBorder));
    current->addWidget(timecodeLabel_);
    statusLabel_ = new QLabel("Stopped");
    statusLabel_->setAlignment(Qt::AlignCenter);
    statusLabel_->setStyleSheet(statusStyle(false));
    current->addWidget(statusLabel_);
    layout->addWidget(currentGroup);

    startStopButton_ = new QPushButton("Start");
    startStopButton_->setMinimumHeight(50);
    startStopButton_->setStyleSheet(startStopStyle(false));
    connect(startStopButton_, &QPushButton::clicked, this, &LtcGeneratorDialog::onStartStop);
    layout->addWidget(startStopButton_);
    layout->addStretch();
}

void LtcGeneratorDialog::updateOutputChannels()
{
    const QSignalBlocker block(outputCombo_);
    outputCombo_->clear();
    outputCombo_->addItem("LTCGEN (Internal Only)");
    if (engine_ != nullptr)
        for (const std::string& name : engine_->getAvailableOutputChannels())
            outputCombo_->addItem(QString::fromStdString(name));
    outputCombo_->setCurrentIndex(0);
    outputChannelIndex_ = 0;
}

void LtcGeneratorDialog::restoreSettings()
{
    ConfigManager* config = ConfigManager::getInstance();
    {
        const QSignalBlocker blockRate(frameRateCombo_), blockOutput(outputCombo_), blockLevel(levelCombo_),
            blockDrop(dropFrameBox_);
        frameRate_ = config->getInt(LtcKeys::kGeneratorFramerate, LtcEncoder::Fps30);
        debugLog("LtcGeneratorDialog::restoreSettings - loading fps=" + std::to_string(frameRate_));
        const int rateItem = frameRateCombo_->findData(frameRate_);
        if (rateItem >= 0)
            frameRateCombo_->setCurrentIndex(rateItem);
        dropFrame_ = config->getBool(LtcKeys::kGeneratorDropFrame, false);
        dropFrameBox_->setChecked(dropFrame_);

        // An older configuration kept the index under the main window's key;
        // a list of port names there reads as 0, internal only.
        const int output =
            config->getInt(LtcKeys::kGeneratorOutputChoice, config->getInt(LtcKeys::kGeneratorOutput, 0));
        if (output >= 0 && output < outputCombo_->count()) {
            outputCombo_->setCurrentIndex(output);
            outputChannelIndex_ = output;
        }

        const int stored = config->getInt(LtcKeys::kGeneratorLevel, LtcOutputLevel::kDefaultIndex);
        levelIndex_ = LtcOutputLevel::indexOrDefault(stored);
        if (levelIndex_ != stored)
            debugLog("LtcGeneratorDialog::restoreSettings - unknown level index " + std::to_string(stored)
                     + ", using -10 dBFS");
        // 0 dBFS, chosen in the output matrix, has no item here: the box
        // shows none rather than a level the generator does not run at.
        levelCombo_->setCurrentIndex(levelIndex_ - kFirstSharedLevel);
    }

    const QTime now = QTime::currentTime();
    hoursBox_->setValue(now.hour());
    minutesBox_->setValue(now.minute());
    secondsBox_->setValue(now.second());
    framesBox_->setValue(0);

    encoder_->setFrameRate(static_cast<LtcEncoder::FrameRate>(frameRate_));
    applyLevel();
    double ppm = config->getFloat(LtcKeys::kGeneratorCalibrationPpm, 0.0f);
    if (!(std::fabs(ppm) <= kMaxCorrectionPpm)) {
        debugLog("LtcGeneratorDialog::restoreSettings - refused stored calibration " + fixedText(ppm, 6)
                 + " PPM (beyond +-100 PPM); generator left uncorrected");
        ppm = 0.0;
    }
    encoder_->driftPpm.store(ppm);
    debugLog("LtcGeneratorDialog::restoreSettings - calibration PPM=" + fixedText(ppm, 6));
    applyTimecodeToEncoder();
    updateCalibrationDisplay();
    debugLog("LtcGeneratorDialog::restoreSettings - cached: fps=" + std::to_string(frameRate_) + " level="
             + std::to_string(levelIndex_) + " dropframe=" + (dropFrame_ ? "true" : "false"));
}

void LtcGeneratorDialog::saveSettings()
{
    debugLog("LtcGeneratorDialog::saveSettings - fps=" + std::to_string(frameRate_) + " level="
             + std::to_string(levelIndex_) + " running=" + (generating_ ? "true" : "false"));
    ConfigManager* config = ConfigManager::getInstance();
    config->setInt(LtcKeys::kGeneratorFramerate, frameRate_);
    config->setBool(LtcKeys::kGeneratorDropFrame, dropFrame_);
    config->setInt(LtcKeys::kGeneratorLevel, levelIndex_);
    config->setBool(LtcKeys::kGeneratorRunning, generating_);
    config->setInt(LtcKeys::kGeneratorOutputChoice, outputChannelIndex_);
    config->saveConfig("");
}

void LtcGeneratorDialog::applyLevel()
{
    encoder_->setOutputLevel(LtcOutputLevel::levelDbForIndex(levelIndex_));
}

void LtcGeneratorDialog::startIfWasRunning()
{
    if (ConfigManager::getInstance()->getBool(LtcKeys::kGeneratorRunning, false) && !generating_)
        onStartStop();
}

void LtcGeneratorDialog::startGenerator()
{
    if (!generating_)
        onStartStop();
}

void LtcGeneratorDialog::onStartStop()
{
    if (generating_) {
        stopGenerator();
        return;
    }
    applyTimecodeToEncoder();
    generating_ = true;
    displayTimer_->start(kDisplayMs);
    setRunningLook(true);
    saveSettings();
    emit generatorStarted(getOutputChannelIndex());
}

void LtcGeneratorDialog::stopGenerator()
{
    if (!generating_)
        return;
    generating_ = false;
    displayTimer_->stop();
    setRunningLook(false);
    saveSettings();
    emit generatorStopped();
}

void LtcGeneratorDialog::setRunningLook(bool running)
{
    startStopButton_->setText(running ? "Stop" : "Start");
    startStopButton_->setStyleSheet(startStopStyle(running));
    statusLabel_->setText(running ? "Running" : "Stopped");
    statusLabel_->setStyleSheet(statusStyle(running));
}

void LtcGeneratorDialog::applyTimecodeToEncoder()
{
    if (!encoder_)
        return;
    LtcEncoder::Timecode timecode;
    timecode.hours = static_cast<uint8_t>(hoursBox_->value());
    timecode.minutes = static_cast<uint8_t>(minutesBox_->value());
    timecode.seconds = static_cast<uint8_t>(secondsBox_->value());
    timecode.frames = static_cast<uint8_t>(framesBox_->value());
    timecode.dropFrame = dropFrameBox_->isChecked();
    encoder_->setTimecode(timecode);
}

void LtcGeneratorDialog::updateTimecodeDisplay()
{
    if (!encoder_)
        return;
    const LtcEncoder::Timecode timecode = encoder_->getTimecode();
    timecodeLabel_->setText(QString("%1:%2:%3%4%5")
                                .arg(twoDigits(timecode.hours), twoDigits(timecode.minutes),
                                     twoDigits(timecode.seconds), timecode.dropFrame ? ";" : ":",
                                     twoDigits(timecode.frames)));
}

void LtcGeneratorDialog::onTimecodeChanged()
{
    if (generating_)
        return;
    applyTimecodeToEncoder();
    updateTimecodeDisplay();
}

void LtcGeneratorDialog::onFrameRateChanged(int index)
{
    if (!encoder_ || index < 0)
        return;
    frameRate_ = frameRateCombo_->itemData(index).toInt();
    debugLog("LtcGeneratorDialog::onFrameRateChanged - cached fps=" + std::to_string(frameRate_));
    encoder_->setFrameRate(static_cast<LtcEncoder::FrameRate>(frameRate_));
    // The encoder returns to its default level with a new rate; the level
    // the box shows is the one that must come out.
    applyLevel();
    const bool film = frameRate_ == LtcEncoder::Fps24 || frameRate_ == LtcEncoder::Fps23976;
    framesBox_->setMaximum(film ? 23 : frameRate_ == LtcEncoder::Fps25 ? 24 : 29);
    if (frameRate_ == LtcEncoder::Fps2997) {
        const QString text = frameRateCombo_->itemText(index);
        if (text.contains("NDF") || text.contains("Non-Drop"))
            dropFrameBox_->setChecked(false);
        else if (text.contains("DF") || text.contains("Drop Frame"))
            dropFrameBox_->setChecked(true);
    } else {
        dropFrameBox_->setChecked(false);
    }
    applyTimecodeToEncoder();
    saveSettings();
}

void LtcGeneratorDialog::onDropFrameChanged(int state)
{
    dropFrame_ = state == Qt::Checked;
    applyTimecodeToEncoder();
    saveSettings();
}

void LtcGeneratorDialog::onOutputChannelChanged(int index)
{
    outputChannelIndex_ = index;
    saveSettings();
}

void LtcGeneratorDialog::onPadLevelChanged(int index)
{
    if (!encoder_ || index < 0)
        return;
    levelIndex_ = index + kFirstSharedLevel;
    applyLevel();
    saveSettings();
}

void LtcGeneratorDialog::onApplyCalibration()
{
    if (!encoder_)
        return;
    bool isNumber = false;
    const int number = calibrationEdit_->text().toInt(&isNumber);
    if (!isNumber) {
        QMessageBox::warning(this, "Invalid Input", "Please enter a valid integer calibration number.");
        return;
    }
    const double ppm = number / 1000.0;
    if (std::fabs(ppm) > kMaxCorrectionPpm) {
        QMessageBox::warning(this, "Invalid Input",
                             QString("Calibration number %1 is beyond the generator's range of -100000 to 100000 "
                                     "(100 PPM).")
                                 .arg(number));
        return;
    }
    encoder_->driftPpm.store(ppm);
    ConfigManager* config = ConfigManager::getInstance();
    config->setFloat(LtcKeys::kGeneratorCalibrationPpm, static_cast<float>(ppm));
    config->setInt(LtcKeys::kGeneratorCalibrationNumber, number);
    config->saveConfig("");
    updateCalibrationDisplay();
    calibrationEdit_->clear();
    QMessageBox::information(this, "Calibration Applied",
                             QString("Calibration number %1 applied successfully.\nInternal generator is now "
                                     "calibrated to %2 PPM.")
                                 .arg(number)
                                 .arg(QString::number(ppm, 'f', 2)));
}

void LtcGeneratorDialog::updateCalibrationDisplay()
{
    if (!encoder_) {
        calibrationLabel_->setText("Current: Not calibrated");
        return;
    }
    const double ppm = encoder_->driftPpm.load();
    calibrationLabel_->setText(QString("Current: %1 PPM (#%2)")
                                   .arg(signedFixed(ppm, 2))
                                   .arg(static_cast<long long>(std::llround(ppm * 1000.0))));
}

void LtcGeneratorDialog::closeEvent(QCloseEvent* event)
{
    event->accept();
}

// The correction may have been changed by the accuracy test's calibration
// while this window was hidden.
void LtcGeneratorDialog::showEvent(QShowEvent* event)
{
    updateCalibrationDisplay();
    QDialog::showEvent(event);
}
