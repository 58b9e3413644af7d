#pragma once

#include <QDialog>

#include <array>
#include <set>
#include <string>
#include <vector>

class AudioEngineBase;
class QCheckBox;
class QComboBox;
class QLabel;
class QScrollArea;
class QSlider;
class QSpinBox;

// The four aux buses: each bus's master level, output channel and delay
// setting, the mix bus's send into each, and every track's send with its
// pre-fader flag. Every control calls the engine at once and writes its
// "aux." key (the keys restoreStoredSettings applies at start-up); there is
// no Apply or Cancel. Levels are linear 0..1, shown as percent. Buses are
// 0..3 ("AUX 1".."AUX 4"); sends exist for tracks 0..23 only. GUI thread
// only; the engine is borrowed.
class AuxSendsDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kAuxBuses = 4;
    static constexpr int kMaxSendTracks = 24;

    AuxSendsDialog(AudioEngineBase* engine, int trackCount, const std::vector<std::string>& outputPorts,
                   QWidget* parent = nullptr);
    ~AuxSendsDialog() override;

    void setupUI();
    void loadCurrentSettings();
    void populateAuxOutputCombos();
    std::set<std::string> getUsedOutputPorts() const;
    void saveSettings();

    // Applies the stored aux keys to the engine as the program starts: bus
    // levels and outputs, the mix sends with their pre-fader flags, and the
    // sends and pre-fader flags of tracks 0 to trackCount - 1.
    static void restoreStoredSettings(AudioEngineBase* engine, int trackCount);

public slots:
    void onAuxLevelChanged(int auxIndex, int value);
    void onAuxOutputChanged(int auxIndex);
    void onAuxDelayChanged(int auxIndex, int delayMs);
    void onMixSendLevelChanged(int auxIndex, int value);
    void onMixSendPreFaderChanged(int auxIndex, bool preFader);
    void onSendLevelChanged(int trackIndex, int auxIndex, int value);
    void onSendPreFaderChanged(int trackIndex, int auxIndex, bool preFader);

private:
    struct SendCell {
        QSlider* slider = nullptr;
        QLabel* label = nullptr;
        QCheckBox* preFader = nullptr;
    };

    QWidget* buildMasterGroup();
    QWidget* buildSendsGroup();
    QWidget* buildSendCell(QWidget* parent, SendCell& cell, const QString& style, const QString& tooltip,
                           const QString& name);
    std::vector<int> outputIndexList(const std::string& name) const;

    AudioEngineBase* engine_ = nullptr;
    int trackCount_ = 0;
    std::vector<std::string> outputPorts_;
    std::array<QSlider*, kAuxBuses> levelSliders_{};
    std::array<QLabel*, kAuxBuses> levelLabels_{};
    std::array<QComboBox*, kAuxBuses> outputCombos_{};
    std::array<QSpinBox*, kAuxBuses> delaySpins_{};
    std::array<SendCell, kAuxBuses> mixSends_{};
    std::array<std::array<SendCell, kAuxBuses>, kMaxSendTracks> trackSends_{};
    QScrollArea* sendGrid_ = nullptr;
};
