#pragma once

#include "ui/mixer/StripClipboard.h"

#include <QDialog>
#include <QString>

#include <array>
#include <functional>

class AudioEngineBase;
class EditableValueLabel;
class EQVisualizationWidget;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QStyle;

// The live processing editor of one track: trim, high-pass, limiter, a
// three-band EQ with its response curve, and the track's four aux sends.
// Every control the user moves acts on the engine at once; loading a track
// only shows the engine's values and writes nothing. Left and Right step to
// the neighbouring track (saving this one's "channelstrip.%1." record first);
// COPY, PASTE and RESET carry a whole strip (sends excepted) through the
// clipboard the window lends to all its strip dialogs. Without an engine the
// values come from the configuration and moving a control only shows it.
// Value labels can be clicked to type a value, Ctrl+clicked to reset it.
// GUI thread only; the engine and the clipboard are borrowed and outlive the
// dialog.
class ChannelStripDialog : public QDialog {
    Q_OBJECT

public:
    using ClipboardData = ChannelStripSettings;

    static constexpr int kAuxBuses = 4;
    static constexpr int kAuxSendTracks = 24;  // the engine's send table

    ChannelStripDialog(int track, const QString& name, AudioEngineBase* engine, StripClipboard& clipboard,
                       QWidget* parent = nullptr);
    ~ChannelStripDialog() override;

    int trackIndex() const { return trackIndex_; }

    void setupUI();
    void loadSettings();
    void saveSettings();
    void switchToTrack(int track);

    static void loadSettingsForTrack(int track, AudioEngineBase* audioEngine);
    static void saveAllTrackSettings(AudioEngineBase* audioEngine, int trackCount);

    // Value labels (ValueLabelText).
    static QString formatDb(double db);
    static QString formatFreq(double hz);
    static int parseDb(const QString& text);
    static int parseFreq(const QString& text);
    static int parseQ(const QString& text);
    static int parsePercent(const QString& text);
    void showFeedback(const QString& text, const QString& color);
    // What a click and a Ctrl+click on a value label do, for callers that
    // hold the label: the label itself carries the editing.
    void showLabelEditor(EditableValueLabel* label);
    void resetLabelToDefault(EditableValueLabel* label);

    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void onDigitalGainChanged(int value);
    void onHighPassEnabled(bool enabled);
    void onHighPassChanged(int value);
    void onLimiterEnabled(bool enabled);
    void onLimiterThresholdChanged(int value);
    void onEqEnabled(bool enabled);
    void onEqBandChanged(int band);
    void onAuxSendChanged(int aux, int value);
    void onAuxPreFaderChanged(int aux, bool preFader);
    void onCopySettings();
    void onPasteSettings();
    void onResetSettings();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct EqBand {
        QSlider* frequency = nullptr;
        QSlider* gain = nullptr;
        QSlider* q = nullptr;
        EditableValueLabel* frequencyLabel = nullptr;
        EditableValueLabel* gainLabel = nullptr;
        EditableValueLabel* qLabel = nullptr;
    };
    struct AuxSend {
        QSlider* send = nullptr;
        EditableValueLabel* label = nullptr;
        QCheckBox* preFader = nullptr;
    };

    QWidget* buildHeader();
    QWidget* buildInputGroup();
    QWidget* buildEqGroup();
    QWidget* buildAuxGroup();
    QWidget* buildEqRow(const QString& name, const char* color, int minimum, int maximum, int value,
                        QSlider*& slider, EditableValueLabel*& label);
    QSlider* makeStyledSlider(int minimum, int maximum, int value, const QColor& color);
    void registerEditableLabels();
    void makeEditableLabel(EditableValueLabel* label, QSlider* slider, std::function<QString(int)> formatter,
                           std::function<int(const QString&)> parser, int defaultValue);
    void showTrackHeader();
    // The band's labels and curve follow its sliders; the engine gets the
    // three values together unless a track is being loaded.
    void onEqBandSlidersChanged(int band);
    void onCurveBandDragged(int band, float frequencyHz, float gainDb);
    void setEqBandSliders(int band, int frequency, int gain, int q);
    void loadSends();
    void applyStrip(const ClipboardData& strip);
    ClipboardData currentStrip() const;
    bool engineWrites() const { return audioEngine_ != nullptr && !loading_; }
    bool hasAuxSends() const { return trackIndex_ >= 0 && trackIndex_ < kAuxSendTracks; }

    int trackIndex_ = 0;
    QString trackName_;
    AudioEngineBase* audioEngine_ = nullptr;
    StripClipboard& clipboard_;
    // Set while a track's values are shown: handlers then update labels and
    // the curve but never write to the engine or the aux keys.
    bool loading_ = false;

    QLabel* channelLabel_ = nullptr;
    QLabel* nameLabel_ = nullptr;
    QLabel* feedbackLabel_ = nullptr;

    QSlider* trimSlider_ = nullptr;
    EditableValueLabel* trimLabel_ = nullptr;
    QCheckBox* hpfCheck_ = nullptr;
    QSlider* hpfSlider_ = nullptr;
    EditableValueLabel* hpfLabel_ = nullptr;
    QCheckBox* limiterCheck_ = nullptr;
    QSlider* limiterSlider_ = nullptr;
    EditableValueLabel* limiterLabel_ = nullptr;

    QCheckBox* eqCheck_ = nullptr;
    std::array<EqBand, 3> eqBands_;
    EQVisualizationWidget* eqVisualization_ = nullptr;

    std::array<AuxSend, kAuxBuses> auxSends_;

    QStyle* sliderStyle_ = nullptr;  // the styled sliders' one Fusion style

    QPushButton* copyButton_ = nullptr;
    QPushButton* pasteButton_ = nullptr;
    QPushButton* resetButton_ = nullptr;
};
