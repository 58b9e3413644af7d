#pragma once

#include <QDialog>

class AudioEngineBase;
class QLabel;
class QSpinBox;

// Edits the timecode frame offset ("timecode.frame_offset", -100..100
// frames) that the recorder adds to each take's start timecode from the next
// take on. GUI thread only; the engine is borrowed and not used.
class OffsetsDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxOffsetFrames = 100;

    OffsetsDialog(AudioEngineBase* engine, QWidget* parent = nullptr);

public slots:
    void onApply();
    void onReset();

private:
    void setupUI();
    void loadCurrentSettings();

    AudioEngineBase* engine_;
    QSpinBox* offsetBox_ = nullptr;
    QLabel* currentLabel_ = nullptr;
};
