// The audio device dialog through its widgets: what it shows of the state it
// is given, the choice it hands back on Apply, and what it shows after its
// owner applied or refreshed.

#include "ui/tools/AudioDeviceDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

AudioDeviceState interfaceState()
{
    AudioDeviceState state;
    state.devices = {"Built-in Audio", "Virtual Interface", "Virtual Recorder"};
    state.currentDevice = "Virtual Interface";
    state.inputChannels = {"In 1", "In 2", "In 3", "In 4", "In 5", "In 6", "In 7", "In 8"};
    state.outputChannelCount = 2;
    state.sampleRate = 48000;
    state.bufferFrames = 256;
    return state;
}

QStringList comboTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int index = 0; index < combo->count(); ++index)
        texts.append(combo->itemText(index));
    return texts;
}

QStringList listTexts(const QListWidget* list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

class AudioDeviceDialogTest : public ::testing::Test {
protected:
    static QComboBox* devices(QDialog& dialog) { return dialog.findChild<QComboBox*>("deviceCombo"); }
    static QComboBox* buffers(QDialog& dialog) { return dialog.findChild<QComboBox*>("bufferCombo"); }
    static QString latency(QDialog& dialog) { return dialog.findChild<QLabel*>("latencyLabel")->text(); }
    static QString configuration(QDialog& dialog) { return dialog.findChild<QLabel*>("configurationLabel")->text(); }
    static QStringList inputs(QDialog& dialog) { return listTexts(dialog.findChild<QListWidget*>("inputList")); }
    static void click(QDialog& dialog, const QString& text)
    {
        for (QPushButton* candidate : dialog.findChildren<QPushButton*>()) {
            if (candidate->text() == text) {
                QTest::mouseClick(candidate, Qt::LeftButton);
                return;
            }
        }
        ADD_FAILURE() << "no button " << text.toStdString();
    }
};

TEST_F(AudioDeviceDialogTest, ShowsTheStateItIsGiven)
{
    AudioDeviceDialog dialog(interfaceState());
    EXPECT_EQ(dialog.objectName(), QString("audioDeviceDialog"));
    EXPECT_EQ(dialog.windowTitle(), QString("Select Audio Device"));
    EXPECT_EQ(comboTexts(devices(dialog)), (QStringList{"Built-in Audio", "Virtual Interface", "Virtual Recorder"}));
    EXPECT_EQ(devices(dialog)->currentText(), QString("Virtual Interface"));
    EXPECT_EQ(comboTexts(buffers(dialog)), (QStringList{"64 samples", "128 samples", "256 samples", "512 samples",
                                                        "1024 samples", "2048 samples", "4096 samples"}));
    EXPECT_EQ(buffers(dialog)->currentText(), QString("256 samples"));
    EXPECT_EQ(latency(dialog), QString("Latency: ~5.33 ms"));
    EXPECT_EQ(configuration(dialog), QString("Device: Virtual Interface\nSample Rate: 48000 Hz\nBuffer Size: 256 "
                                             "samples\nInput Channels: 8\nOutput Channels: 2"));
    EXPECT_EQ(inputs(dialog).size(), 8);
    EXPECT_EQ(inputs(dialog).front(), QString("In 1"));
}

// What the combos and the latency start at when the engine's values are not
// among the choices.
TEST_F(AudioDeviceDialogTest, ValuesOutsideTheChoicesStartAtTheFallbacks)
{
    struct Case {
        const char* name;
        std::string currentDevice;
        int bufferFrames;
        int sampleRate;
        const char* device;
        const char* buffer;
        const char* latency;
    };
    const Case cases[] = {
        {"device not listed", "Unplugged", 256, 48000, "Built-in Audio", "256 samples", "Latency: ~5.33 ms"},
        {"size not offered", "Virtual Recorder", 300, 44100, "Virtual Recorder", "512 samples", "Latency: ~11.61 ms"},
        {"no clock yet", "Virtual Interface", 128, 0, "Virtual Interface", "128 samples", ""},
    };
    for (const Case& c : cases) {
        AudioDeviceState state = interfaceState();
        state.currentDevice = c.currentDevice;
        state.bufferFrames = c.bufferFrames;
        state.sampleRate = c.sampleRate;
        AudioDeviceDialog dialog(state);
        EXPECT_EQ(devices(dialog)->currentText(), QString(c.device)) << c.name;
        EXPECT_EQ(buffers(dialog)->currentText(), QString(c.buffer)) << c.name;
        EXPECT_EQ(latency(dialog), QString(c.latency)) << c.name;
    }
    AudioDeviceState empty;
    AudioDeviceDialog dialog(empty);
    EXPECT_EQ(dialog.chosenDevice(), "") << "no device listed";
    EXPECT_EQ(dialog.chosenBufferFrames(), 512);
}

TEST_F(AudioDeviceDialogTest, ApplyHandsBackTheChoiceRefreshAsksCloseAccepts)
{
    AudioDeviceDialog dialog(interfaceState());
    dialog.show();
    QSignalSpy applied(&dialog, &AudioDeviceDialog::applyRequested);
    QSignalSpy refreshed(&dialog, &AudioDeviceDialog::refreshRequested);

    devices(dialog)->setCurrentText("Virtual Recorder");
    buffers(dialog)->setCurrentIndex(4);
    EXPECT_EQ(latency(dialog), QString("Latency: ~21.33 ms")) << "follows the choice before any apply";
    click(dialog, "Apply");
    EXPECT_EQ(applied.count(), 1);
    EXPECT_EQ(refreshed.count(), 0);
    EXPECT_EQ(dialog.chosenDevice(), "Virtual Recorder");
    EXPECT_EQ(dialog.chosenBufferFrames(), 1024);
    EXPECT_TRUE(dialog.isVisible()) << "Apply keeps the dialog open";

    click(dialog, "Refresh");
    EXPECT_EQ(refreshed.count(), 1);
    EXPECT_EQ(applied.count(), 1);
    click(dialog, "Close");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// After an apply the device list stays and the rest follows the engine;
// after a refresh the list is the engine's, and the buffer choice and its
// latency text stay until the next choice, which uses the new rate.
TEST_F(AudioDeviceDialogTest, ShowsWhatTheEngineRunsAfterApplyAndRefresh)
{
    AudioDeviceDialog dialog(interfaceState());
    devices(dialog)->setCurrentText("Virtual Recorder");
    buffers(dialog)->setCurrentIndex(3);

    AudioDeviceState recorder;
    recorder.devices = {"Only in the refresh"};
    recorder.currentDevice = "Virtual Recorder";
    recorder.inputChannels = {"Rec 1", "Rec 2", "Rec 3", "Rec 4"};
    recorder.outputChannelCount = 4;
    recorder.sampleRate = 96000;
    recorder.bufferFrames = 512;
    dialog.showApplied(recorder);
    EXPECT_EQ(comboTexts(devices(dialog)).size(), 3) << "the list stays after an apply";
    EXPECT_EQ(devices(dialog)->currentText(), QString("Virtual Recorder"));
    EXPECT_EQ(latency(dialog), QString("Latency: ~5.33 ms"));
    EXPECT_EQ(configuration(dialog), QString("Device: Virtual Recorder\nSample Rate: 96000 Hz\nBuffer Size: 512 "
                                             "samples\nInput Channels: 4\nOutput Channels: 4"));
    EXPECT_EQ(inputs(dialog), (QStringList{"Rec 1", "Rec 2", "Rec 3", "Rec 4"}));

    AudioDeviceState refreshed = interfaceState();
    refreshed.devices = {"Built-in Audio", "Virtual Interface"};
    refreshed.sampleRate = 44100;
    refreshed.inputChannels = {"In 1", "In 2"};
    dialog.showRefreshed(refreshed);
    EXPECT_EQ(comboTexts(devices(dialog)), (QStringList{"Built-in Audio", "Virtual Interface"}));
    EXPECT_EQ(devices(dialog)->currentText(), QString("Virtual Interface"));
    EXPECT_EQ(buffers(dialog)->currentText(), QString("512 samples"));
    EXPECT_EQ(latency(dialog), QString("Latency: ~5.33 ms"));
    EXPECT_TRUE(configuration(dialog).startsWith("Device: Virtual Interface\nSample Rate: 44100 Hz"));
    EXPECT_EQ(inputs(dialog), (QStringList{"In 1", "In 2"}));
    buffers(dialog)->setCurrentIndex(2);
    EXPECT_EQ(latency(dialog), QString("Latency: ~5.80 ms"));
}

} // namespace
