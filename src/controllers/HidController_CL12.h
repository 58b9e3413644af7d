#pragma once

#include "controllers/MidiControllerBase.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// The Sound Devices CL-12 fader surface over USB. Its USB layer is not
// built yet: the device is never found, and initialize fails.
//
// Threads: GUI thread only (it has no thread of its own yet).
class HidController_CL12 : public MidiControllerBase {
public:
    HidController_CL12();
    ~HidController_CL12() override;

    bool initialize() override;
    void shutdown() override;
    bool isInitialized() override;
    std::vector<std::string> getInputDevices() const override;
    std::vector<std::string> getOutputDevices() const override;
    bool openInput(const std::string& name) override;
    bool openOutput(const std::string& name) override;
    void closeInput() override;
    void closeOutput() override;
    void setCallback(std::function<void(const MidiControllerBase::MidiMessage&)> callback) override;
    bool sendMessage(const MidiControllerBase::MidiMessage& message) override;
    bool sendNoteOn(uint8_t channel, uint8_t note, uint8_t velocity) override;
    bool sendNoteOff(uint8_t channel, uint8_t note, uint8_t velocity) override;
    bool sendControlChange(uint8_t channel, uint8_t controller, uint8_t value) override;
    bool sendProgramChange(uint8_t channel, uint8_t program) override;
    void setFaderCallback(std::function<void(int, int)> callback) override;
    void setKnobCallback(std::function<void(int, int)> callback) override;
    void setButtonCallback(std::function<void(int, bool)> callback) override;
    bool sendFaderPosition(int fader, int value) override;
    bool sendButtonLED(int index, bool on) override;
    std::string getCurrentInputDevice() override;
    std::string getCurrentOutputDevice() override;
    std::vector<int> getCurrentFaderPositions() const override;

    // True when the surface is plugged in.
    static bool isDeviceConnected();

private:
    std::function<void(const MidiControllerBase::MidiMessage&)> messageCallback_;
    std::function<void(int, int)> faderCallback_;
    std::function<void(int, int)> knobCallback_;
    std::function<void(int, bool)> buttonCallback_;
};
