#pragma once

#include <QDialog>
#include <QString>

#include "timecode/LtcEncoder.h"

#include <cstdint>
#include <functional>
#include <memory>

class AudioEngineBase;
class QCheckBox;
class QFile;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTextStream;
class QTimer;
struct Timecode;

// Measures the internal LTC generator against external timecode decoded by
// the engine: jams the generator, shows the drift in frames and samples, its
// rate and the accuracy in PPM, logs rows to a CSV file, and calibrates the
// generator's drift correction by a timed run or a number from an earlier
// run. Modeless; closing hides it, and its timers, log and a running
// calibration go on.
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

    static constexpr double kMaxCorrectionPpm = 100.0;
    // A run whose counts stray further from its clock has lost or jumped its
    // reference (or the generator stopped).
    static constexpr double kMaxCountStray = 0.01;

    TcAccuracyTestDialog(AudioEngineBase* engine, LtcEncoder* generator, QWidget* parent = nullptr);
    ~TcAccuracyTestDialog() override;

    void setGenerator(LtcEncoder* generator);
    void setClock(Clock clock) { clock_ = std::move(clock); }

    static QString formatTimecode(int hours, int minutes, int seconds, int frames);
    static QString formatElapsedTime(long long milliseconds);

    // The measurement rules, shared by display, log and calibration.
    static int nominalFps(double detectedFps);
    static int64_t frameCount(int hours, int minutes, int seconds, int frames, int fps, bool dropFrameCounting);
    // Generator minus external, folded into +-12 hours of frames so midnight
    // between the two is not a day's drift.
    static int64_t foldedDrift(int64_t generatorCount, int64_t externalCount, int fps, bool dropFrameCounting);
    static int64_t driftSamples(int64_t driftFrames, int fps);

    bool isSynced() const { return synced_; }
    bool isLogging() const { return logging_; }
    bool isCalibrating() const { return calibrating_; }
    int loggedRows() const { return loggedRows_; }

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
    };

    void setupUI();
    QWidget* buildCalibrationGroup();
    Measurement measure(const Timecode& external, bool externalValid) const;
    void showMeasurement(const Measurement& m);
    void showNotSynced();
    // Plain count of the generator's time in the calibration's frames.
    int64_t generatorCount(const LtcEncoder::Timecode& internal) const;
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
    std::unique_ptr<QFile> logFile_;
    std::unique_ptr<QTextStream> logStream_;
    bool logging_ = false;
    int loggedRows_ = 0;
    int64_t logStartMs_ = 0;

    // Calibration.
    QLabel* currentCalibrationLabel_ = nullptr;
    QSpinBox* calibrationNumberBox_ = nullptr;
    QSpinBox* durationBox_ = nullptr;
    QLabel* calibrationInfoLabel_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QPushButton* startCalibrationButton_ = nullptr;
    QPushButton* cancelCalibrationButton_ = nullptr;
    bool calibrating_ = false;
    int64_t calibrationStartMs_ = 0;
    QTimer* checkTimer_ = nullptr;
    int64_t externalStartCount_ = 0;
    int64_t generatorStartCount_ = 0;
    int calibrationFps_ = 30;
};
