#include "controllers/HidController_Cantarem2.h"

#include "core/DebugLog.h"

HidController_Cantarem2::HidController_Cantarem2() = default;
HidController_Cantarem2::~HidController_Cantarem2() = default;

bool HidController_Cantarem2::isDeviceConnected()
{
    return false;
}

bool HidController_Cantarem2::isFirstReportReceived() const
{
    return false;
}

bool HidController_Cantarem2::initialize()
{
    return false;
}

std::vector<std::string> HidController_Cantarem2::getInputDevices() const
{
    return {};
}

void HidController_Cantarem2::shutdown() {}
bool HidController_Cantarem2::isInitialized() { return false; }
std::vector<std::string> HidController_Cantarem2::getOutputDevices() const { return {}; }
bool HidController_Cantarem2::openInput(const std::string&) { return false; }
bool HidController_Cantarem2::openOutput(const std::string&) { return false; }
void HidController_Cantarem2::closeInput() {}
void HidController_Cantarem2::closeOutput() {}

void HidController_Cantarem2::setCallback(std::function<void(const MidiControllerBase::MidiMessage&)> callback)
{
    messageCallback_ = std::move(callback);
}

bool HidController_Cantarem2::sendMessage(const MidiControllerBase::MidiMessage&) { return false; }
bool HidController_Cantarem2::sendNoteOn(uint8_t, uint8_t, uint8_t) { return false; }
bool HidController_Cantarem2::sendNoteOff(uint8_t, uint8_t, uint8_t) { return false; }
bool HidController_Cantarem2::sendControlChange(uint8_t, uint8_t, uint8_t) { return false; }
bool HidController_Cantarem2::sendProgramChange(uint8_t, uint8_t) { return false; }

void HidController_Cantarem2::setFaderCallback(std::function<void(int, int)> callback)
{
    faderCallback_ = std::move(callback);
}

void HidController_Cantarem2::setKnobCallback(std::function<void(int, int)> callback)
{
    knobCallback_ = std::move(callback);
}

void HidController_Cantarem2::setButtonCallback(std::function<void(int, bool)> callback)
{
    buttonCallback_ = std::move(callback);
}

bool HidController_Cantarem2::sendFaderPosition(int, int) { return false; }
bool HidController_Cantarem2::sendButtonLED(int, bool) { return false; }
std::string HidController_Cantarem2::getCurrentInputDevice() { return {}; }
std::string HidController_Cantarem2::getCurrentOutputDevice() { return {}; }
std::vector<int> HidController_Cantarem2::getCurrentFaderPositions() const { return {}; }
