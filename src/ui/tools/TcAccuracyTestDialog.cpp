#include "ui/tools/TcAccuracyTestDialog.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/NumberText.h"
#include "core/settings/LtcKeys.h"
#include "engine/AudioEngineBase.h"
#include "timecode/LtcEncoder.h"
#include "timecode/Timecode.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"
#include "ui/tools/DriftRules.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kDisplayMs = 100;
constexpr int kAutoJamMs = 500;
constexpr int kCheckMs = 1000;
constexpr int64_t kResultAfterMs = 60000;
constexpr int64_t kMsPerHour = driftRules::kMsPerHour;
constexpr int kCalibrationNumberLimit = 100000;

const char* const kWaiting = Theme::kTcTestCaution;
const char* const kReady = Theme::kTcTestReady;
const char* const kProblem = Theme::kTcTestProblem;
const char* const kSynced = Theme::kTcTestSuccess;

QString statusStyle(const char* colour)
{
    return QString("font-size: 14px; font-weight: bold; color: %1; padding: 8px;").arg(colour);
}
QString driftStyle(const char* colour)
{
    return QString("font-size: 16px; font-weight: bold; color: %1; padding: 8px;").arg(colour);
}
QString accuracyStyle(const char* colour)
{
    return QString("font-size: 14px; font-weight: bold; color: %1; padding: 8px; background-color: %2; "
                   "border-radius: 4px;")
        .arg(colour, Theme::kTcTestPanel);
}
QString smallStyle(const char* colour)
{
    return QString("font-size: 12px; color: %1; padding: 4px;").arg(colour);
}

QString sign(double value)
{
    return value >= 0.0 ? "+" : "";
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString buttonStyle(const char* background, const char* hover)
{
    return QString("QPushButton { background-color: %1; color: white; font-weight: bold; font-size: 14px; "
                   "padding: 10px 20px; border-radius: 4px; } QPushButton:hover { background-color: %2; } "
                   "QPushButton:disabled { background-color: %3; color: %4; }")
        .arg(background, hover, Theme::kTcTestDisabledButton, Theme::kTcTestDisabledButtonText);
}

QString clockStyle(const char* colour)
{
    return QString("color: %1; background-color: %2; padding: 10px; border-radius: 4px;")
        .arg(colour, Theme::kTcTestPanel);
}

QString logButtonStyle(const char* background)
{
    return QString("QPushButton { background-color: %1; color: white; font-weight: bold; padding: 8px 16px; } "
                   "QPushButton:disabled { background-color: %2; color: %3; }")
        .arg(background, Theme::kTcTestDisabledButton, Theme::kTcTestDisabledButtonText);
}

int64_t steadyMilliseconds()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock.elapsed();
}

// The rate the generator was set to in its own dialog, counted as the
// reference's rates are.
int generatorFps(const LtcEncoder& generator)
{
    return driftRules::nominalFps(generator.getFpsDouble());
}

DriftCalibration::Reading reading(const Timecode& time)
{
    return {time.hours, time.minutes, time.seconds, time.frames};
}

DriftCalibration::Reading reading(const LtcEncoder::Timecode& time)
{
    return {time.hours, time.minutes, time.seconds, time.frames};
}

}  // namespace

TcAccuracyTestDialog::TcAccuracyTestDialog(AudioEngineBase* engine, LtcEncoder* generator, QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      generator_(generator),
      clock_(steadyMilliseconds),
      log_([this] { return now(); }),
      calibration_([this] { return now(); })
{
    setWindowTitle("TC Accuracy Test & Calibration");
    setupUI();
    fitToScreen(*this, QSize(), QSize(550, 0));
    displayTimer_ = new QTimer(this);
    connect(displayTimer_, &QTimer::timeout, this, &TcAccuracyTestDialog::updateDisplay);
    displayTimer_->start(kDisplayMs);
    logTimer_ = new QTimer(this);
    connect(logTimer_, &QTimer::timeout, this, &TcAccuracyTestDialog::logMeasurement);
    autoJamTimer_ = new QTimer(this);
    connect(autoJamTimer_, &QTimer::timeout, this, &TcAccuracyTestDialog::tryAutoJam);
    autoJamTimer_->start(kAutoJamMs);
    checkTimer_ = new QTimer(this);
    connect(checkTimer_, &QTimer::timeout, this, &TcAccuracyTestDialog::checkCalibration);
}

TcAccuracyTestDialog::~TcAccuracyTestDialog()
{
    if (log_.isOpen())
        onStopLogging();
    displayTimer_->stop();
    logTimer_->stop();
    autoJamTimer_->stop();
    checkTimer_->stop();
}

void TcAccuracyTestDialog::setupUI()
{
    // The groups scroll on a screen too short for them.
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setSpacing(12);

    auto* syncGroup = new QGroupBox("Synchronization");
    auto* sync = new QVBoxLayout(syncGroup);
    statusLabel_ = new QLabel("Waiting for external timecode...");
    statusLabel_->setAlignment(Qt::AlignCenter);
    statusLabel_->setStyleSheet(statusStyle(kWaiting));
    sync->addWidget(statusLabel_);
    jamButton_ = new QPushButton("JAM SYNC");
    jamButton_->setEnabled(false);
    jamButton_->setStyleSheet(buttonStyle(Theme::kTcTestJamButton, Theme::kTcTestJamButtonHover));
    connect(jamButton_, &QPushButton::clicked, this, &TcAccuracyTestDialog::onJamSync);
    sync->addWidget(jamButton_, 0, Qt::AlignCenter);
    layout->addWidget(syncGroup);

    auto* compareGroup = new QGroupBox("Timecode Comparison");
    auto* compare = new QVBoxLayout(compareGroup);
    auto* headers = new QHBoxLayout;
    for (const char* text : {"INTERNAL (Generator)", "EXTERNAL (Reference)"}) {
        auto* header = new QLabel(text);
        header->setAlignment(Qt::AlignCenter);
        header->setStyleSheet(QString("font-weight: bold; color: %1;").arg(Theme::kTcTestLabel));
        headers->addWidget(header);
    }
    compare->addLayout(headers);
    auto* clocks = new QHBoxLayout;
    QFont clockFont("Consolas", 24, QFont::Bold);
    clockFont.setStyleHint(QFont::Monospace);
    internalLabel_ = new QLabel("--:--:--:--");
    externalLabel_ = new QLabel("--:--:--:--");
    internalLabel_->setStyleSheet(clockStyle(Theme::kTcTestInternalClock));
    externalLabel_->setStyleSheet(clockStyle(Theme::kTcTestExternalClock));
    for (QLabel* label : {internalLabel_, externalLabel_}) {
        label->setAlignment(Qt::AlignCenter);
        label->setFont(clockFont);
        clocks->addWidget(label);
    }
    compare->addLayout(clocks);
    driftLabel_ = new QLabel("DRIFT: -- frames");
    driftLabel_->setStyleSheet(driftStyle(Theme::kTcTestMuted));
    rateLabel_ = new QLabel("Rate: -- frames/hour");
    rateLabel_->setStyleSheet(smallStyle(Theme::kTcTestMuted));
    accuracyLabel_ = new QLabel("Accuracy: -- (need more time)");
    accuracyLabel_->setStyleSheet(accuracyStyle(Theme::kTcTestMuted));
    for (QLabel* label : {driftLabel_, rateLabel_, accuracyLabel_}) {
        label->setAlignment(Qt::AlignCenter);
        compare->addWidget(label);
    }
    layout->addWidget(compareGroup);

    auto* logGroup = new QGroupBox("Logging");
    auto* log = new QVBoxLayout(logGroup);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel("Log File:"));
    logPathEdit_ = new QLineEdit(QDir::homePath() + "/tc_drift_test.csv");
    logPathEdit_->setPlaceholderText("Select CSV file for logging...");
    pathRow->addWidget(logPathEdit_, 1);
    browseButton_ = new QPushButton("Browse...");
    connect(browseButton_, &QPushButton::clicked, this, &TcAccuracyTestDialog::onBrowseLogFile);
    pathRow->addWidget(browseButton_);
    log->addLayout(pathRow);
    auto* intervalRow = new QHBoxLayout;
    autoLogBox_ = new QCheckBox("Auto-log every");
    autoLogBox_->setChecked(true);
    intervalRow->addWidget(autoLogBox_);
    intervalBox_ = new QSpinBox;
    intervalBox_->setRange(1, 60);
    intervalBox_->setValue(1);
    intervalBox_->setSuffix(" second(s)");
    intervalRow->addWidget(intervalBox_);
    intervalRow->addStretch();
    log->addLayout(intervalRow);
    auto* logButtons = new QHBoxLayout;
    startLogButton_ = new QPushButton("Start Logging");
    startLogButton_->setStyleSheet(logButtonStyle(Theme::kTcTestStartLogButton));
    stopLogButton_ = new QPushButton("Stop Logging");
    stopLogButton_->setStyleSheet(logButtonStyle(Theme::kTcTestStopLogButton));
    stopLogButton_->setEnabled(false);
    connect(startLogButton_, &QPushButton::clicked, this, &TcAccuracyTestDialog::onStartLogging);
    connect(stopLogButton_, &QPushButton::clicked, this, &TcAccuracyTestDialog::onStopLogging);
    logButtons->addWidget(startLogButton_);
    logButtons->addWidget(stopLogButton_);
    log->addLayout(logButtons);
    countLabel_ = new QLabel("Samples logged: 0    Duration: --:--");
    countLabel_->setAlignment(Qt::AlignCenter);
    countLabel_->setStyleSheet(QString("color: %1; padding: 4px;").arg(Theme::kTcTestMuted));
    log->addWidget(countLabel_);
    layout->addWidget(logGroup);

    layout->addWidget(buildCalibrationGroup());

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scrollingContent(content));
}

QWidget* TcAccuracyTestDialog::buildCalibrationGroup()
{
    auto* group = new QGroupBox("Calibration");
    auto* calibration = new QVBoxLayout(group);
    currentCalibrationLabel_ = new QLabel;
    currentCalibrationLabel_->setAlignment(Qt::AlignCenter);
    currentCalibrationLabel_->setStyleSheet(smallStyle(Theme::kTcTestLabel));
    calibration->addWidget(currentCalibrationLabel_);
    refreshCurrentCalibration();

    auto* manual = new QHBoxLayout;
    manual->addWidget(new QLabel("Manual Calibration:"));
    calibrationNumberBox_ = new QSpinBox;
    calibrationNumberBox_->setRange(-kCalibrationNumberLimit, kCalibrationNumberLimit);
    calibrationNumberBox_->setValue(static_cast<int>(std::llround(currentCorrection() * 1000.0)));
    calibrationNumberBox_->setToolTip("Calibration number from previous test (PPM × 1000)");
    manual->addWidget(calibrationNumberBox_, 1);
    auto* apply = new QPushButton("Apply");
    apply->setFixedWidth(60);
    connect(apply, &QPushButton::clicked, this, &TcAccuracyTestDialog::onApplyCalibrationNumber);
    manual->addWidget(apply);
    calibration->addLayout(manual);

    auto* durationRow = new QHBoxLayout;
    durationRow->addWidget(new QLabel("Test Duration:"));
    durationBox_ = new QSpinBox;
    durationBox_->setRange(1, 24);
    durationBox_->setValue(6);
    durationBox_->setSuffix(" hours");
    connect(durationBox_, &QSpinBox::valueChanged, this,
            [this](int hours) { calibration_.setDurationHours(hours); });
    durationRow->addWidget(durationBox_, 1);
    calibration->addLayout(durationRow);

    calibrationInfoLabel_ = new QLabel("Run calibration to achieve professional-grade accuracy");
    calibrationInfoLabel_->setAlignment(Qt::AlignCenter);
    calibrationInfoLabel_->setWordWrap(true);
    calibrationInfoLabel_->setStyleSheet(smallStyle(Theme::kTcTestMuted));
    calibration->addWidget(calibrationInfoLabel_);
    progressLabel_ = new QLabel;
    progressLabel_->setAlignment(Qt::AlignCenter);
    progressLabel_->setStyleSheet(statusStyle(Theme::kTcTestProgress));
    progressLabel_->hide();
    calibration->addWidget(progressLabel_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    startCalibrationButton_ = new QPushButton("START CALIBRATION");
    startCalibrationButton_->setStyleSheet(
        buttonStyle(Theme::kTcTestCalibrateButton, Theme::kTcTestCalibrateButtonHover));
    connect(startCalibrationButton_, &QPushButton::clicked, this, &TcAccuracyTestDialog::onStartCalibration);
    buttons->addWidget(startCalibrationButton_);
    cancelCalibrationButton_ = new QPushButton("Cancel");
    cancelCalibrationButton_->setStyleSheet(buttonStyle(Theme::kTcTestCancelButton, Theme::kTcTestCancelButtonHover));
    cancelCalibrationButton_->hide();
    connect(cancelCalibrationButton_, &QPushButton::clicked, this, &TcAccuracyTestDialog::onCancelCalibration);
    buttons->addWidget(cancelCalibrationButton_);
    buttons->addStretch();
    calibration->addLayout(buttons);
    return group;
}

void TcAccuracyTestDialog::setGenerator(LtcEncoder* generator)
{
    generator_ = generator;
    if (!calibration_.isRunning())
        synced_ = false;
}

QString TcAccuracyTestDialog::formatTimecode(int hours, int minutes, int seconds, int frames)
{
    return QString("%1:%2:%3:%4")
        .arg(hours, 2, 10, QChar('0'))
        .arg(minutes, 2, 10, QChar('0'))
        .arg(seconds, 2, 10, QChar('0'))
        .arg(frames, 2, 10, QChar('0'));
}

QString TcAccuracyTestDialog::formatElapsedTime(long long milliseconds)
{
    const long long seconds = milliseconds / 1000;
    if (seconds < 3600)
        return QString("%1:%2").arg(seconds / 60, 2, 10, QChar('0')).arg(seconds % 60, 2, 10, QChar('0'));
    return QString("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

int TcAccuracyTestDialog::nominalFps(double detectedFps)
{
    return driftRules::nominalFps(detectedFps);
}

int64_t TcAccuracyTestDialog::frameCount(int hours, int minutes, int seconds, int frames, int fps,
                                         bool dropFrameCounting)
{
    return driftRules::frameCount(hours, minutes, seconds, frames, fps, dropFrameCounting);
}

int64_t TcAccuracyTestDialog::foldedDrift(int64_t generatorCount, int64_t externalCount, int fps,
                                          bool dropFrameCounting)
{
    return driftRules::foldedDrift(generatorCount, externalCount, fps, dropFrameCounting);
}

int64_t TcAccuracyTestDialog::driftSamples(int64_t driftFrames, int fps)
{
    return driftRules::driftSamples(driftFrames, fps);
}

TcAccuracyTestDialog::Measurement TcAccuracyTestDialog::measure(const Timecode& external, bool externalValid)
{
    Measurement m;
    m.fps = nominalFps(engine_ != nullptr ? engine_->getDetectedFramerate() : 0.0);
    if (generator_ == nullptr || !externalValid)
        return m;
    m.valid = true;
    double offset = 0.0;
    if (placedOffset(m.fps, offset)) {
        if (!hasJamOffset_) {
            hasJamOffset_ = true;
            jamOffsetFrames_ = offset;
        }
        m.driftExact = offset - jamOffsetFrames_;
        m.driftFrames = std::llround(m.driftExact);
    } else {
        // Labels alone: the generator shows the frame it is playing, the
        // reader the last one it finished, so this reads to within a frame.
        const LtcEncoder::Timecode internal = generator_->getTimecode();
        const bool dropCounting = driftRules::dropFrameCounting(external.dropFrame, m.fps);
        const int internalFps = generatorFps(*generator_);
        const int64_t generatorCount = driftRules::inReferenceFrames(
            frameCount(internal.hours, internal.minutes, internal.seconds, internal.frames, internalFps,
                       internalFps == m.fps ? dropCounting
                                            : driftRules::dropFrameCounting(internal.dropFrame, internalFps)),
            internalFps, m.fps);
        const int64_t externalCount =
            frameCount(external.hours, external.minutes, external.seconds, external.frames, m.fps, dropCounting);
        m.driftFrames = foldedDrift(generatorCount, externalCount, m.fps, dropCounting);
        m.driftExact = static_cast<double>(m.driftFrames);
    }
    m.driftSamples = driftSamples(m.driftFrames, m.fps);
    return m;
}

bool TcAccuracyTestDialog::placedOffset(int referenceFps, double& offsetFrames) const
{
    if (engine_ == nullptr || generator_ == nullptr || engine_->getSampleRate() <= 0)
        return false;
    const AudioEngineBase::PlacedTimecode reference = engine_->getPlacedTimecode();
    LtcEncoder::Placement generator;
    // A failed read only overlapped the audio thread's publish of the next block.
    constexpr int kReadAttempts = 100;
    bool read = false;
    for (int attempt = 0; attempt < kReadAttempts && !read; ++attempt)
        read = generator_->tryGetPlacement(generator);
    if (!read || reference.framePosition < 0 || generator.startPosition < 0)
        return false;

    const Timecode& external = reference.timecode;
    const LtcEncoder::Timecode internal = generator.time();
    const bool dropCounting = driftRules::dropFrameCounting(external.dropFrame, referenceFps);
    const int internalFps = generatorFps(*generator_);
    const bool internalDrop =
        internalFps == referenceFps ? dropCounting : driftRules::dropFrameCounting(internal.dropFrame, internalFps);
    const int64_t internalCount = frameCount(internal.hours, internal.minutes, internal.seconds, internal.frames,
                                             internalFps, internalDrop);
    const int64_t externalCount =
        frameCount(external.hours, external.minutes, external.seconds, external.frames, referenceFps, dropCounting);
    // Labels in reference frames, unrounded when the rates differ.
    const double internalInReference =
        internalFps == referenceFps || internalFps <= 0
            ? static_cast<double>(internalCount)
            : static_cast<double>(internalCount) * referenceFps / internalFps;
    const int64_t wholeLabels = std::llround(internalInReference);
    const double labels = static_cast<double>(foldedDrift(wholeLabels, externalCount, referenceFps, dropCounting))
                          + (internalInReference - static_cast<double>(wholeLabels));

    const double samplesPerFrame = samplesPerReferenceFrame();
    // A frame that began later carries a label that is due later: subtract
    // how much later the generator's frame began.
    offsetFrames = labels - static_cast<double>(generator.startPosition - reference.framePosition) / samplesPerFrame;
    return true;
}

void TcAccuracyTestDialog::setStatus(const QString& text, const char* colour)
{
    statusLabel_->setText(text);
    statusLabel_->setStyleSheet(statusStyle(colour));
}

void TcAccuracyTestDialog::updateDisplay()
{
    if (engine_ == nullptr) {
        statusLabel_->setText("Audio engine not available");
        return;
    }
    const Timecode external = engine_->getTimecode();
    const bool externalValid = engine_->hasValidTimecode();
    if (!synced_) {
        jamButton_->setEnabled(generator_ != nullptr && externalValid && !calibration_.isRunning());
        if (externalValid && generator_ != nullptr)
            setStatus("Ready to sync - click JAM SYNC or wait...", kReady);
        else if (externalValid)
            setStatus("Internal generator not running - start LTC Generator first", kProblem);
        else
            setStatus("Waiting for external timecode...", kWaiting);
    }
    if (generator_ != nullptr) {
        const LtcEncoder::Timecode internal = generator_->getTimecode();
        internalLabel_->setText(formatTimecode(internal.hours, internal.minutes, internal.seconds, internal.frames));
    } else {
        internalLabel_->setText("--:--:--:--");
    }
    externalLabel_->setText(externalValid
                                ? formatTimecode(external.hours, external.minutes, external.seconds, external.frames)
                                : "--:--:--:--");

    if (!synced_)
        showNotSynced();
    else if (externalValid && generator_ != nullptr)
        showMeasurement(measure(external, externalValid));

    if (log_.isOpen())
        countLabel_->setText(QString("Samples logged: %1    Duration: %2")
                                 .arg(log_.rowCount())
                                 .arg(formatElapsedTime(log_.elapsedMs())));
    if (calibration_.isRunning())
        showCalibrationProgress();
}

void TcAccuracyTestDialog::showNotSynced()
{
    driftLabel_->setText("DRIFT: -- (not synced)");
    driftLabel_->setStyleSheet(driftStyle(Theme::kTcTestMuted));
    rateLabel_->setText("Rate: --");
    rateLabel_->setStyleSheet(smallStyle(Theme::kTcTestMuted));
    accuracyLabel_->setText("Accuracy: -- (waiting for sync)");
    accuracyLabel_->setStyleSheet(accuracyStyle(Theme::kTcTestMuted));
}

void TcAccuracyTestDialog::showMeasurement(const Measurement& m)
{
    const QString driftSign = sign(static_cast<double>(m.driftFrames));
    driftLabel_->setText(QString("DRIFT: %1%2 frames (%1%3 samples)").arg(driftSign).arg(m.driftFrames).arg(m.driftSamples));
    const int64_t magnitude = m.driftFrames < 0 ? -m.driftFrames : m.driftFrames;
    driftLabel_->setStyleSheet(driftStyle(magnitude == 0   ? Theme::kTcTestSuccess
                                          : magnitude == 1 ? Theme::kTcTestCaution
                                                           : Theme::kTcTestProblem));

    const int64_t elapsedMs = now() - jamStartMs_;
    if (elapsedMs <= 1000) {
        rateLabel_->setText("Rate: calculating...");
    } else {
        const double rate = m.driftExact / (static_cast<double>(elapsedMs) / kMsPerHour);
        rateLabel_->setText(QString("Rate: %1%2 frames/hour (elapsed: %3)")
                                .arg(sign(rate), fixed(rate, 2), formatElapsedTime(elapsedMs)));
        rateLabel_->setStyleSheet(smallStyle(Theme::kTcTestLabel));
    }
    if (elapsedMs < kResultAfterMs) {
        accuracyLabel_->setText(
            QString("Accuracy: measuring... (%1s until result)").arg((kResultAfterMs - elapsedMs) / 1000));
        accuracyLabel_->setStyleSheet(accuracyStyle(Theme::kTcTestMuted));
        return;
    }
    const double expected = (static_cast<double>(elapsedMs) / 1000.0) * m.fps;
    if (expected <= 0.0)
        return;
    const double fraction = m.driftExact / expected;
    // Scaled before dividing, so a drift of exactly 1 or 100 PPM grades as such.
    const double ppm = m.driftExact * 1000000.0 / expected;
    const double size = std::fabs(ppm);
    struct Grade {
        double below;
        const char* name;
        const char* colour;
    };
    static constexpr Grade kGrades[] = {{1.0, "EXCELLENT", Theme::kTcTestGradeExcellent},
                                        {10.0, "VERY GOOD", Theme::kTcTestGradeVeryGood},
                                        {50.0, "GOOD", Theme::kTcTestGradeGood},
                                        {100.0, "ACCEPTABLE", Theme::kTcTestGradeAcceptable}};
    Grade grade{0.0, "POOR", Theme::kTcTestGradePoor};
    for (const Grade& candidate : kGrades)
        if (size < candidate.below) {
            grade = candidate;
            break;
        }
    accuracyLabel_->setText(QString("Accuracy: %1%2 PPM (%1%3%) - %4")
                                .arg(sign(ppm), fixed(ppm, 2), fixed(fraction * 100.0, 6), grade.name));
    accuracyLabel_->setStyleSheet(accuracyStyle(grade.colour));
}

void TcAccuracyTestDialog::onJamSync()
{
    if (engine_ == nullptr || generator_ == nullptr)
        return;
    if (!engine_->hasValidTimecode()) {
        setStatus("No external timecode detected!", kProblem);
        return;
    }
    const Timecode external = engine_->getTimecode();
    jamGenerator(external);
    synced_ = true;
    jamStartMs_ = now();
    autoJamTimer_->stop();
    setStatus("SYNCED at " + formatTimecode(external.hours, external.minutes, external.seconds, external.frames),
              kSynced);
    jamButton_->setText("RE-JAM");
}

// Gives the generator's frame now playing the reference's label for the
// same moment. The reader's label is that of the last frame it finished, so
// with both clocks placed the label moves on by the frames between the two
// frames' starts; the part of a frame left over is the jam offset.
void TcAccuracyTestDialog::jamGenerator(const Timecode& external)
{
    const int externalFps = nominalFps(engine_->getDetectedFramerate());
    const auto labelFor = [&](const Timecode& time, int64_t framesLater) {
        Timecode due = time;
        if (framesLater != 0) {
            const bool dropCounting = driftRules::dropFrameCounting(time.dropFrame, externalFps);
            const int64_t day = dropCounting ? 107892LL * 24 : static_cast<int64_t>(externalFps) * 86400;
            const int64_t count = frameCount(time.hours, time.minutes, time.seconds, time.frames, externalFps,
                                             dropCounting);
            due = Timecode::fromFrames(((count + framesLater) % day + day) % day, externalFps, dropCounting);
        }
        LtcEncoder::Timecode jam;
        jam.hours = static_cast<uint8_t>(due.hours);
        jam.minutes = static_cast<uint8_t>(due.minutes);
        jam.seconds = static_cast<uint8_t>(due.seconds);
        jam.frames = static_cast<uint8_t>(due.frames * generatorFps(*generator_) / externalFps);
        jam.dropFrame = time.dropFrame;
        return jam;
    };

    hasJamOffset_ = false;
    // The audio thread may start the generator's next frame between the
    // reading and the relabelling; then the frame is labelled again.
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const AudioEngineBase::PlacedTimecode reference = engine_->getPlacedTimecode();
        LtcEncoder::Placement before;
        const double samplesPerFrame = samplesPerReferenceFrame();
        if (reference.framePosition < 0 || !generator_->tryGetPlacement(before) || before.startPosition < 0
            || samplesPerFrame <= 0.0) {
            generator_->setTimecode(labelFor(external, 0));
            return;
        }
        const int64_t framesLater = std::llround(
            static_cast<double>(before.startPosition - reference.framePosition) / samplesPerFrame);
        generator_->setTimecode(labelFor(reference.timecode, framesLater));
        LtcEncoder::Placement after;
        if (generator_->tryGetPlacement(after) && after.startPosition == before.startPosition)
            return;
    }
}

double TcAccuracyTestDialog::samplesPerReferenceFrame() const
{
    // The reader's rate is an average that settles over a while; the
    // standard rate next to it is the one the source runs at.
    static constexpr double kStandardRates[] = {24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0, 30.0};
    constexpr double kSnapFraction = 0.01;
    const double detected = engine_->getDetectedFramerate();
    double exactFps = detected > 0.0 ? detected : static_cast<double>(nominalFps(detected));
    double nearest = kStandardRates[0];
    for (const double rate : kStandardRates)
        if (std::fabs(rate - exactFps) < std::fabs(nearest - exactFps))
            nearest = rate;
    if (std::fabs(nearest - exactFps) < nearest * kSnapFraction)
        exactFps = nearest;
    return engine_->getSampleRate() / exactFps;
}

void TcAccuracyTestDialog::tryAutoJam()
{
    if (synced_ || calibration_.isRunning()) {
        autoJamTimer_->stop();
        return;
    }
    if (engine_ != nullptr && engine_->hasValidTimecode() && generator_ != nullptr)
        onJamSync();
}

void TcAccuracyTestDialog::onBrowseLogFile()
{
    const QString path = QFileDialog::getSaveFileName(this, "Select Log File", logPathEdit_->text(),
                                                      "CSV Files (*.csv);;All Files (*)");
    if (!path.isEmpty())
        logPathEdit_->setText(path);
}

void TcAccuracyTestDialog::onStartLogging()
{
    if (!synced_) {
        QMessageBox::warning(this, "Not Synced", "Please wait for timecode sync before logging.");
        return;
    }
    const QString path = logPathEdit_->text();
    if (path.isEmpty()) {
        QMessageBox::warning(this, "Error", "Please select a log file first.");
        return;
    }
    if (!log_.open(path)) {
        QMessageBox::warning(this, "Error", "Could not open log file for writing.");
        return;
    }
    logTimer_->start(intervalBox_->value() * 1000);
    for (QWidget* widget : std::initializer_list<QWidget*>{startLogButton_, logPathEdit_, browseButton_, intervalBox_})
        widget->setEnabled(false);
    stopLogButton_->setEnabled(true);
    logMeasurement();
}

void TcAccuracyTestDialog::logMeasurement()
{
    if (!log_.isOpen() || engine_ == nullptr || !synced_)
        return;
    const Timecode external = engine_->getTimecode();
    const bool externalValid = engine_->hasValidTimecode();
    const Measurement m = measure(external, externalValid);
    DriftLog::Row row;
    row.elapsedMs = now() - jamStartMs_;
    if (generator_ != nullptr) {
        const LtcEncoder::Timecode internal = generator_->getTimecode();
        row.internalTc = formatTimecode(internal.hours, internal.minutes, internal.seconds, internal.frames);
    }
    if (externalValid)
        row.externalTc = formatTimecode(external.hours, external.minutes, external.seconds, external.frames);
    row.driftValid = m.valid;
    row.driftFrames = m.driftFrames;
    row.driftSamples = m.driftSamples;
    row.timestamp = QDateTime::currentDateTime();
    // A row that did not reach the file is not counted: a log with holes
    // nobody knows of is worse than one that stops with a warning.
    if (!log_.append(row)) {
        debugLog("TcAccuracyTestDialog: log row could not be written to " + log_.fileName().toStdString() + ": "
                 + log_.errorString().toStdString());
        onStopLogging();
        QMessageBox::warning(this, "Logging Stopped",
                             "Could not write to the log file. Logging has stopped; the rows before this one are "
                             "in the file.");
        return;
    }
}

void TcAccuracyTestDialog::onStopLogging()
{
    logTimer_->stop();
    log_.close();
    for (QWidget* widget : std::initializer_list<QWidget*>{startLogButton_, logPathEdit_, browseButton_, intervalBox_})
        widget->setEnabled(true);
    stopLogButton_->setEnabled(false);
}

double TcAccuracyTestDialog::currentCorrection() const
{
    if (generator_ != nullptr)
        return generator_->driftPpm.load();
    return ConfigManager::getInstance()->getFloat(LtcKeys::kGeneratorCalibrationPpm, 0.0f);
}

void TcAccuracyTestDialog::refreshCurrentCalibration()
{
    const double ppm = currentCorrection();
    currentCalibrationLabel_->setText(QString("Current Calibration: %1%2 PPM").arg(sign(ppm), fixed(ppm, 2)));
}

void TcAccuracyTestDialog::storeCorrection(double ppm, int number)
{
    generator_->driftPpm.store(ppm);
    ConfigManager* config = ConfigManager::getInstance();
    config->setFloat(LtcKeys::kGeneratorCalibrationPpm, static_cast<float>(ppm));
    config->setInt(LtcKeys::kGeneratorCalibrationNumber, number);
    config->saveConfig("");
}

void TcAccuracyTestDialog::onApplyCalibrationNumber()
{
    if (generator_ == nullptr) {
        QMessageBox::warning(this, "Error",
                             "LTC Generator not available.\n\nThe generator should start automatically. Please try "
                             "again or start it manually (Tools → LTC Generator).");
        return;
    }
    const int number = calibrationNumberBox_->value();
    const double ppm = number / 1000.0;
    storeCorrection(ppm, number);
    refreshCurrentCalibration();
    QMessageBox::information(this, "Calibration Applied",
                             QString("Calibration number %1 applied.\n\nNew calibration: %2%3 PPM")
                                 .arg(number)
                                 .arg(sign(ppm), fixed(ppm, 2)));
}

void TcAccuracyTestDialog::onStartCalibration()
{
    if (engine_ == nullptr || generator_ == nullptr) {
        QMessageBox::warning(this, "Calibration Error",
                             "Audio engine or LTC generator not available.\n\nPlease start the LTC Generator first "
                             "(Tools → LTC Generator).");
        return;
    }
    if (!engine_->hasValidTimecode()) {
        QMessageBox::warning(this, "Calibration Error",
                             "No external timecode detected.\n\nPlease connect an external timecode source and "
                             "ensure it's being received.");
        return;
    }
    const QString question =
        QString("This calibration process will take %1 HOURS.\n\nDuring this time:\n• Keep the external timecode "
                "source connected and running\n• Do not close this window\n• The LTC Generator must remain "
                "active\n\nAfter calibration, the internal generator will be accurate enough for professional "
                "use.\n\nStart calibration now?")
            .arg(durationBox_->value());
    if (QMessageBox::question(this, "Start Calibration", question, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    onJamSync();
    if (!synced_) {
        QMessageBox::warning(this, "Calibration Error", "Failed to sync. Cannot start calibration.");
        return;
    }
    const Timecode external = engine_->getTimecode();
    const LtcEncoder::Timecode internal = generator_->getTimecode();
    calibration_.start(durationBox_->value(), nominalFps(engine_->getDetectedFramerate()), reading(external),
                       reading(internal), generatorFps(*generator_));
    checkTimer_->start(kCheckMs);
    startCalibrationButton_->hide();
    cancelCalibrationButton_->show();
    progressLabel_->show();
    calibrationInfoLabel_->setText("Calibration in progress... DO NOT disconnect external TC");
    calibrationInfoLabel_->setStyleSheet(smallStyle(Theme::kTcTestCaution));
    jamButton_->setEnabled(false);
    debugLog("TcAccuracyTestDialog: calibration started for " + std::to_string(durationBox_->value())
             + " hour(s) at " + std::to_string(calibration_.referenceFps()) + " fps");
}

void TcAccuracyTestDialog::showCalibrationProgress()
{
    const int64_t total = calibration_.durationMs();
    const int64_t elapsed = calibration_.elapsedMs();
    progressLabel_->setText(QString("Progress: %1%  |  Elapsed: %2  |  Remaining: %3")
                                .arg(calibration_.percentDone())
                                .arg(formatElapsedTime(elapsed))
                                .arg(formatElapsedTime(std::max<int64_t>(total - elapsed, 0))));
}

void TcAccuracyTestDialog::checkCalibration()
{
    if (calibration_.isDue())
        calibrationComplete();
}

void TcAccuracyTestDialog::returnCalibrationToIdle(const QString& info, const char* colour)
{
    calibration_.cancel();
    checkTimer_->stop();
    startCalibrationButton_->show();
    cancelCalibrationButton_->hide();
    progressLabel_->hide();
    jamButton_->setEnabled(true);
    calibrationInfoLabel_->setText(info);
    calibrationInfoLabel_->setStyleSheet(smallStyle(colour));
}

void TcAccuracyTestDialog::calibrationComplete()
{
    checkTimer_->stop();
    if (engine_ == nullptr || generator_ == nullptr) {
        calibration_.cancel();
        returnCalibrationToIdle("Calibration failed: lost connection", Theme::kTcTestProblem);
        QMessageBox::warning(this, "Calibration Error", "Lost connection to audio engine or generator.");
        return;
    }
    const Timecode external = engine_->getTimecode();
    const LtcEncoder::Timecode internal = generator_->getTimecode();
    const DriftCalibration::Result r = calibration_.finish(reading(external), engine_->hasValidTimecode(),
                                                           reading(internal), generatorFps(*generator_),
                                                           generator_->driftPpm.load());
    using Outcome = DriftCalibration::Outcome;
    if (r.outcome == Outcome::ExternalStoppedOrJumped || r.outcome == Outcome::GeneratorStoppedOrJumped) {
        const QString what = r.outcome == Outcome::ExternalStoppedOrJumped
                                 ? "the external timecode stopped or jumped during the run"
                                 : "the internal generator stopped or jumped during the run";
        debugLog("TcAccuracyTestDialog: calibration failed: " + what.toStdString() + " (external "
                 + std::to_string(r.externalFrames) + ", generator " + std::to_string(r.generatorFrames)
                 + " frames, clock " + std::to_string(r.elapsedMs) + " ms)");
        returnCalibrationToIdle("Calibration failed - correction unchanged", Theme::kTcTestProblem);
        QMessageBox::warning(this, "Calibration Failed",
                             QString("The calibration cannot be used: %1.\n\nThe generator's correction is "
                                     "unchanged. Please run the calibration again.")
                                 .arg(what));
        return;
    }
    const double corrected = r.correctedPpm;
    if (r.outcome == Outcome::BeyondRange) {
        debugLog("TcAccuracyTestDialog: calibration refused a correction of " + fixedText(corrected, 6) + " PPM");
        returnCalibrationToIdle("Calibration failed - correction unchanged", Theme::kTcTestProblem);
        QMessageBox::warning(this, "Calibration Failed",
                             QString("The measured correction of %1%2 PPM is beyond the generator's range of "
                                     "100 PPM.\n\nThe generator's correction is unchanged.")
                                 .arg(sign(corrected), fixed(corrected, 2)));
        return;
    }
    const int number = r.number;
    const double measured = r.measuredPpm;
    storeCorrection(corrected, number);
    returnCalibrationToIdle("Calibration complete! Generator is now calibrated for this PC.", Theme::kTcTestSuccess);
    refreshCurrentCalibration();
    const double gainedFrames = static_cast<double>(r.gainedFrames);
    QMessageBox::information(
        this, "Calibration Complete",
        QString("Calibration Complete!\n\nResults over %11 hours:\n• Measured drift: %1%2 frames\n• Drift rate: "
                "%3%4 PPM\n• Applied correction: %5%6 PPM\n• New total calibration: %7%8 PPM\n\n🎯 Calibration "
                "Number: %9%10\n(Write this number down for future use)\n\nThe internal generator is now calibrated "
                "for this PC.\nThis calibration will be saved and applied automatically.")
            .arg(sign(gainedFrames), QString::number(r.gainedFrames), sign(gainedFrames), fixed(measured, 2),
                 measured <= 0.0 ? "+" : "", fixed(-measured, 2), sign(corrected), fixed(corrected, 2),
                 sign(number))
            .arg(number)
            .arg(durationBox_->value()));
}

void TcAccuracyTestDialog::onCancelCalibration()
{
    if (!calibration_.isRunning())
        return;
    if (QMessageBox::question(this, "Cancel Calibration",
                              "Are you sure you want to cancel the calibration?\n\nYou will need to start over to get "
                              "accurate results.",
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    returnCalibrationToIdle("Calibration cancelled", Theme::kTcTestMuted);
}
