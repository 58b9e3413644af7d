#pragma once

#include <QDialog>

#include <cstddef>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;

// What the device dialog shows of the audio engine at one moment.
struct AudioDeviceState {
    std::vector<std::string> devices;
    std::string currentDevice;
    std::vector<std::string> inputChannels;
    std::size_t outputChannelCount = 0;
    int sampleRate = 0;
    int bufferFrames = 0;
};

// The audio device and buffer size choice. It only shows and edits: Apply
// emits applyRequested() and Refresh refreshRequested(); the owner reads
// chosenDevice() and chosenBufferFrames(), talks to the engine and hands
// back what the engine runs then through showApplied() or showRefreshed().
// Close accepts. GUI thread only.
class AudioDeviceDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kBufferSizesFrames[] = {64, 128, 256, 512, 1024, 2048, 4096};
    // Chosen when the engine runs a size that is not offered: 512 frames.
    static constexpr int kFallbackBufferIndex = 3;

    explicit AudioDeviceDialog(const AudioDeviceState& state, QWidget* parent = nullptr);

    // The choice as the combos show it; an empty device when none is listed.
    std::string chosenDevice() const;
    int chosenBufferFrames() const;

    // After an apply that changed something: the running configuration, the
    // latency at its sample rate and its inputs. The device list stays.
    void showApplied(const AudioDeviceState& state);
    // After a refresh: the device list with the running device chosen, the
    // inputs and the running configuration. The buffer choice and its
    // latency text stay.
    void showRefreshed(const AudioDeviceState& state);

signals:
    void applyRequested();
    void refreshRequested();

private:
    void buildLayout();
    void showDevices(const std::vector<std::string>& names, const std::string& current);
    void showInputs(const std::vector<std::string>& names);
    void updateConfigurationLabel(const AudioDeviceState& state);
    void updateLatencyLabel();

    // The rate the latency text is worked out at: the engine's when last
    // handed over.
    int sampleRate_ = 0;

    QComboBox* deviceCombo_ = nullptr;
    QComboBox* bufferCombo_ = nullptr;
    QLabel* latencyLabel_ = nullptr;
    QLabel* configurationLabel_ = nullptr;
    QListWidget* inputList_ = nullptr;
};
