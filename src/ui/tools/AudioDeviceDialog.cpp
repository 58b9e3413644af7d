#include "ui/tools/AudioDeviceDialog.h"

#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString dialogStyleSheet()
{
    using namespace Theme;
    return QString("QDialog { background: %1; color: %2; }QLabel { color: %3; }QComboBox { background: %4; color: %5; "
                   "border: 1px solid %6; padding: 5px; }QComboBox::drop-down { border: none; }QListWidget { "
                   "background: %4; color: %5; border: 1px solid %6; }QPushButton { background: %7; color: %5; "
                   "border: none; padding: 8px 16px; }QPushButton:hover { background: %8; }QGroupBox { color: %9; "
                   "border: 1px solid %6; margin-top: 10px; padding-top: 10px; }")
        .arg(kBgSurface, kDeviceDialogText, kDeviceDialogLabelText, kDeviceDialogFieldBg, kDeviceDialogFieldText,
             kDeviceDialogBorder, kDeviceDialogButtonBg, kDeviceDialogButtonHoverBg, kDeviceDialogGroupTitle);
}

} // namespace

AudioDeviceDialog::AudioDeviceDialog(const AudioDeviceState& state, QWidget* parent)
    : QDialog(parent)
    , sampleRate_(state.sampleRate)
{
    setObjectName("audioDeviceDialog");
    setWindowTitle("Select Audio Device");
    setStyleSheet(dialogStyleSheet());
    buildLayout();

    showDevices(state.devices, state.currentDevice);
    const int bufferIndex = bufferCombo_->findData(state.bufferFrames);
    bufferCombo_->setCurrentIndex(bufferIndex >= 0 ? bufferIndex : kFallbackBufferIndex);
    showInputs(state.inputChannels);
    updateLatencyLabel();
    updateConfigurationLabel(state);
    // Never shorter than the groups need: the configuration text shows whole.
    ensurePolished();
    fitToScreen(*this, QSize(), QSize(550, 500));
    // Connected once the engine's size is chosen: choosing it is no edit.
    connect(bufferCombo_, &QComboBox::currentIndexChanged, this, &AudioDeviceDialog::updateLatencyLabel);
}

std::string AudioDeviceDialog::chosenDevice() const
{
    return deviceCombo_->currentText().toStdString();
}

int AudioDeviceDialog::chosenBufferFrames() const
{
    return bufferCombo_->currentData().toInt();
}

void AudioDeviceDialog::showApplied(const AudioDeviceState& state)
{
    sampleRate_ = state.sampleRate;
    updateConfigurationLabel(state);
    updateLatencyLabel();
    showInputs(state.inputChannels);
}

void AudioDeviceDialog::showRefreshed(const AudioDeviceState& state)
{
    sampleRate_ = state.sampleRate;
    showDevices(state.devices, state.currentDevice);
    showInputs(state.inputChannels);
    updateConfigurationLabel(state);
}

void AudioDeviceDialog::buildLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto* deviceGroup = new QGroupBox("Audio Device", this);
    auto* deviceLayout = new QVBoxLayout(deviceGroup);
    deviceCombo_ = new QComboBox(deviceGroup);
    deviceCombo_->setObjectName("deviceCombo");
    auto* deviceHint = new QLabel("Select an audio interface or aggregate device.", deviceGroup);
    deviceHint->setStyleSheet(QString("color: %1; font-size: 11px;").arg(Theme::kDeviceDialogHintText));
    deviceLayout->addWidget(deviceCombo_);
    deviceLayout->addWidget(deviceHint);
    layout->addWidget(deviceGroup);

    auto* bufferGroup = new QGroupBox("Buffer Size", this);
    auto* bufferLayout = new QHBoxLayout(bufferGroup);
    bufferCombo_ = new QComboBox(bufferGroup);
    bufferCombo_->setObjectName("bufferCombo");
    for (int frames : kBufferSizesFrames)
        bufferCombo_->addItem(QString("%1 samples").arg(frames), frames);
    latencyLabel_ = new QLabel(bufferGroup);
    latencyLabel_->setObjectName("latencyLabel");
    latencyLabel_->setStyleSheet(QString("color: %1;").arg(Theme::kDeviceDialogHintText));
    bufferLayout->addWidget(bufferCombo_);
    bufferLayout->addWidget(latencyLabel_);
    bufferLayout->addStretch();
    layout->addWidget(bufferGroup);

    auto* configGroup = new QGroupBox("Current Configuration", this);
    auto* configLayout = new QVBoxLayout(configGroup);
    configurationLabel_ = new QLabel(configGroup);
    configurationLabel_->setObjectName("configurationLabel");
    configurationLabel_->setStyleSheet(
        QString("color: %1; font-family: monospace; padding: 5px;").arg(Theme::kDeviceDialogConfigurationText));
    configLayout->addWidget(configurationLabel_);
    layout->addWidget(configGroup);

    auto* inputGroup = new QGroupBox("Available Input Channels", this);
    auto* inputLayout = new QVBoxLayout(inputGroup);
    inputList_ = new QListWidget(inputGroup);
    inputList_->setObjectName("inputList");
    inputList_->setMaximumHeight(150);
    inputLayout->addWidget(inputList_);
    layout->addWidget(inputGroup);

    auto* aggregateHint = new QLabel("To combine multiple audio interfaces:\n1. Run PipeWire with its JACK library "
                                     "(pipewire-jack), or a JACK server (jackd) on one ALSA interface\n2. PipeWire "
                                     "puts every interface in one graph; with jackd, add the others with zita-a2j "
                                     "and zita-j2a\n3. Set all of them to 48 kHz\n4. Their ports appear as the "
                                     "channels of the JACK device in the list above",
                                     this);
    aggregateHint->setStyleSheet(
        QString("color: %1; font-size: 11px; padding: 10px; background: %2; border-radius: 4px;")
            .arg(Theme::kDeviceDialogAdviceText, Theme::kDeviceDialogAdviceBg));
    layout->addWidget(aggregateHint);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton("Apply", this);
    apply->setStyleSheet(QString("background: %1; font-weight: bold;").arg(Theme::kDeviceDialogApplyBg));
    auto* refresh = new QPushButton("Refresh", this);
    auto* close = new QPushButton("Close", this);
    buttons->addWidget(apply);
    buttons->addWidget(refresh);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(apply, &QPushButton::clicked, this, &AudioDeviceDialog::applyRequested);
    connect(refresh, &QPushButton::clicked, this, &AudioDeviceDialog::refreshRequested);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void AudioDeviceDialog::showDevices(const std::vector<std::string>& names, const std::string& current)
{
    deviceCombo_->clear();
    for (const std::string& name : names)
        deviceCombo_->addItem(QString::fromStdString(name));
    const int index = deviceCombo_->findText(QString::fromStdString(current));
    deviceCombo_->setCurrentIndex(index >= 0 ? index : 0);
}

void AudioDeviceDialog::showInputs(const std::vector<std::string>& names)
{
    inputList_->clear();
    for (const std::string& name : names)
        inputList_->addItem(QString::fromStdString(name));
}

void AudioDeviceDialog::updateConfigurationLabel(const AudioDeviceState& state)
{
    configurationLabel_->setText(QString("Device: %1\nSample Rate: %2 Hz\nBuffer Size: %3 samples\nInput Channels: "
                                         "%4\nOutput Channels: %5")
                                     .arg(QString::fromStdString(state.currentDevice))
                                     .arg(state.sampleRate)
                                     .arg(state.bufferFrames)
                                     .arg(state.inputChannels.size())
                                     .arg(state.outputChannelCount));
}

void AudioDeviceDialog::updateLatencyLabel()
{
    // Without a running clock there is no latency to tell; the text stays.
    if (sampleRate_ < 1)
        return;
    const int frames = bufferCombo_->currentData().toInt();
    const double latencyMs = static_cast<double>(frames) / sampleRate_ * 1000.0;
    latencyLabel_->setText(QString("Latency: ~%1 ms").arg(latencyMs, 0, 'f', 2));
}
