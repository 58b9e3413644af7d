#pragma once

#include <QDialog>

#include <array>
#include <string>

class AudioEngineBase;
class QComboBox;

// Where each of the 16 playback channels goes: nowhere, a bus, or one device
// output. The choice is stored per channel as the chosen item's text and
// handed to the engine as an output code at once. GUI thread only; the engine
// is borrowed and may be null (then nothing is saved or applied).
class PlaybackRoutingDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kPlaybackChannels = 16;
    static constexpr int kFixedItems = 9;
    static constexpr const char* kNotRouted = "-- Not Routed --";

    explicit PlaybackRoutingDialog(AudioEngineBase* engine, QWidget* parent = nullptr);

    // "playback/output_ch<channel>".
    static std::string configKey(int channel);
    // A stored choice as the engine's output code: "" for none, a bus code for
    // a bus item, any other text taken as an output channel name.
    static std::string outputCodeForChoice(const std::string& choice);

    QComboBox* comboBox(int channel) const { return combos_[static_cast<size_t>(channel)]; }

private slots:
    void onOutputChanged(int channelIndex);

private:
    void setupUI();
    void populateOutputCombos();
    void restoreOutputRouting();
    void saveOutputRouting();
    void applyOutputRouting();

    AudioEngineBase* engine_;
    std::array<QComboBox*, kPlaybackChannels> combos_{};
};
