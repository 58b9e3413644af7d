#pragma once

#include <QDialog>
#include <QString>

#include "timecode/LtcEncoder.h"
#include "ui/tools/DriftCalibration.h"
#include "ui/tools/DriftLog.h"

#include <cstdint>
#include <functional>

class AudioEngineBase;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
struct Timecode;

// Measures the internal LTC generator against external timecode decoded by
// the engine: jams the generator, shows the drift in frames and samples, its
// rate and the accuracy in PPM, logs rows to a CSV file, and calibrates the
// generator's drift correction by a timed run or a number from an earlier
// run. Modeless; closing hides it, and its timers, log and a running
// calibration go on. The log (DriftLog) and the calibration run
// (DriftCalibration) are kept apart from the window; this class reads the
// times, drives them from its timers and shows what they give.
//
// Threads: GUI thread only, driven by its timers. The engine's timecode is a
// lock-free snapshot; the generator's time and its atomic drift correction
// are shared with the audio thread through LtcEncoder's own guarantees.
class TcAccuracyTestDialog : public QDialog {
    Q_OBJECT

public:
    // Milliseconds of a monotonic clock; tests replace it with one that
    // advances with the rendered audio.
    using Clock = std::function<int64_t()>;

    static constexpr double kMaxCorrectionPpm = DriftCalibration::kMaxCorrectionPpm;
    static constexpr double kMaxCountStray = DriftCalibration::kMaxCountStray;

    TcAccuracyTestDialog(AudioEngineBase* engine, LtcEncoder* generator, QWidget* parent = nullptr);
    ~TcAccuracyTestDialog() override;

    void setGenerator(LtcEncoder* generator);
    void setClock(Clock clock) { clock_ = std::move(clock); }

    static QString formatTimecode(int hours, int minutes, int seconds, int frames);
    static QString formatElapsedTime(long long milliseconds);

    // The measurement rules (DriftRules), shared by display, log and calibration.
    static int nominalFps(double detectedFps);
    static int64_t frameCount(int hours, int minutes, int seconds, int frames, int fps, bool dropFrameCounting);
    // Generator minus external, folded into +-12 hours of frames so midnight
    // between the two is not a day's drift.
    static int64_t foldedDrift(int64_t generatorCount, int64_t externalCount, int fps, bool dropFrameCounting);
    static int64_t driftSamples(int64_t driftFrames, int fps);

    bool isSynced() const { return synced_; }
    bool isLogging() const { return log_.isOpen(); }
    bool isCalibrating() const { return calibration_.isRunning(); }
    int loggedRows() const { return log_.rowCount(); }

public slots:
    void onJamSync();
    void tryAutoJam();
    void updateDisplay();
    void onBrowseLogFile();
    void onStartLogging();
    void onStopLogging();
    void logMeasurement();
    void onApplyCalibrationNumber();
    void onStartCalibration();
    void onCancelCalibration();
    void calibrationComplete();
    void checkCalibration();

private:
    struct Measurement {
        bool valid = false;  // a generator and valid external timecode
        int fps = 30;
        int64_t driftFrames = 0;
        int64_t driftSamples = 0;
        // To a fraction of a frame when both clocks tell where their frames
        // begin; else the whole frames above. Rate and accuracy use this.
        double driftExact = 0.0;
    };

    void setupUI();
    QWidget* buildCalibrationGroup();
    Measurement measure(const Timecode& external, bool externalValid);
    // Generator minus reference in reference frames, both read where their
    // current frames began on the engine's sample clock; false when either
    // clock cannot say where.
    bool placedOffset(int referenceFps, double& offsetFrames) const;
    double samplesPerReferenceFrame() const;
    void jamGenerator(const Timecode& external);
    void showMeasurement(const Measurement& m);
    void showNotSynced();
    void showCalibrationProgress();
    void setStatus(const QString& text, const char* colour);
    void returnCalibrationToIdle(const QString& info, const char* colour);
    void storeCorrection(double ppm, int number);
    void refreshCurrentCalibration();
    double currentCorrection() const;
    int64_t now() const { return clock_(); }

    AudioEngineBase* engine_;
    LtcEncoder* generator_;
    bool synced_ = false;
    int64_t jamStartMs_ = 0;
    // The part of a frame by which the generator's frames are out of step
    // with the reference's at the jam: a jam relabels frames but cannot move
    // their edges, so this is where the drift starts from, not drift.
    bool hasJamOffset_ = false;
    double jamOffsetFrames_ = 0.0;
    Clock clock_;

    QLabel* statusLabel_ = nullptr;
    QPushButton* jamButton_ = nullptr;
    QLabel* internalLabel_ = nullptr;
    QLabel* externalLabel_ = nullptr;
    QLabel* driftLabel_ = nullptr;
    QLabel* rateLabel_ = nullptr;
    QLabel* accuracyLabel_ = nullptr;
    QLineEdit* logPathEdit_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QCheckBox* autoLogBox_ = nullptr;
    QSpinBox* intervalBox_ = nullptr;
    QPushButton* startLogButton_ = nullptr;
    QPushButton* stopLogButton_ = nullptr;
    QLabel* countLabel_ = nullptr;

    QTimer* displayTimer_ = nullptr;
    QTimer* logTimer_ = nullptr;
    QTimer* autoJamTimer_ = nullptr;
    DriftLog log_;

    // Calibration.
    QLabel* currentCalibrationLabel_ = nullptr;
    QSpinBox* calibrationNumberBox_ = nullptr;
    QSpinBox* durationBox_ = nullptr;
    QLabel* calibrationInfoLabel_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QPushButton* startCalibrationButton_ = nullptr;
    QPushButton* cancelCalibrationButton_ = nullptr;
    QTimer* checkTimer_ = nullptr;
    DriftCalibration calibration_;
};
