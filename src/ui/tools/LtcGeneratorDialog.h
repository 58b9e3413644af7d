#pragma once

#include "timecode/LtcEncoder.h"

#include <QDialog>

#include <memory>

class AudioEngineBase;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

// Sets up the program's internal LTC generator: start time, rate, drop
// frame, output channel, level and drift calibration. The generator itself
// (one LtcEncoder for the whole run) belongs to whoever made it, the main
// window, which lends it to this dialog, to the accuracy test and to the
// output matrix; it must outlive them and the engine's use of it. The dialog
// never switches the engine's generator itself: the main window does that on
// generatorStarted / generatorStopped. Closing the window only hides it; the
// generator runs on.
//
// Threads: GUI thread only. The encoder is shared with the audio thread,
// which renders it while the engine's generator is on; the encoder's own lock
// and its atomic drift make the calls here safe against that.
class LtcGeneratorDialog : public QDialog {
    Q_OBJECT

public:
    // A correction beyond this is not a clock's drift but a fault (a jump of
    // the reference, a typo); it is refused wherever it comes from.
    static constexpr double kMaxCorrectionPpm = 100.0;

    // The program's generator, at the engine's sample rate (48 kHz without an
    // engine or before it knows its rate).
    static std::unique_ptr<LtcEncoder> makeEncoder(const AudioEngineBase* engine);

    // `encoder` (not null) is borrowed; the stored settings are applied to it.
    LtcGeneratorDialog(AudioEngineBase* engine, LtcEncoder* encoder, QWidget* parent = nullptr);
    ~LtcGeneratorDialog() override;

    LtcEncoder* getEncoder() { return encoder_; }
    bool isGenerating() const { return generating_; }
    // The chosen device output channel, -1 for internal only.
    int getOutputChannelIndex() const { return outputChannelIndex_ - 1; }

    void startIfWasRunning();
    void startGenerator();

signals:
    void generatorStarted(int outputChannel);
    void generatorStopped();

public slots:
    void onStartStop();
    void onTimecodeChanged();
    void onFrameRateChanged(int index);
    void onDropFrameChanged(int state);
    void onOutputChannelChanged(int index);
    void onPadLevelChanged(int index);
    void onApplyCalibration();
    void updateTimecodeDisplay();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setupUI();
    void updateOutputChannels();
    void restoreSettings();
    void saveSettings();
    void stopGenerator();
    void applyTimecodeToEncoder();
    void updateCalibrationDisplay();
    void applyLevel();
    void setRunningLook(bool running);

    AudioEngineBase* engine_;
    QSpinBox* hoursBox_ = nullptr;
    QSpinBox* minutesBox_ = nullptr;
    QSpinBox* secondsBox_ = nullptr;
    QSpinBox* framesBox_ = nullptr;
    QCheckBox* dropFrameBox_ = nullptr;
    QComboBox* frameRateCombo_ = nullptr;
    QComboBox* outputCombo_ = nullptr;
    QComboBox* levelCombo_ = nullptr;
    QLineEdit* calibrationEdit_ = nullptr;
    QLabel* calibrationLabel_ = nullptr;
    QLabel* timecodeLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* startStopButton_ = nullptr;

    LtcEncoder* encoder_;
    bool generating_ = false;
    QTimer* displayTimer_ = nullptr;
    int outputChannelIndex_ = 0;
    int frameRate_ = LtcEncoder::Fps30;
    int levelIndex_;  // into the shared level list of LtcKeys::kGeneratorLevel
    bool dropFrame_ = false;
};
