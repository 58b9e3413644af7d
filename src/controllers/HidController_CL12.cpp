#include "controllers/HidController_CL12.h"

#include "core/DebugLog.h"

HidController_CL12::HidController_CL12() = default;
HidController_CL12::~HidController_CL12() = default;

bool HidController_CL12::isDeviceConnected()
{
    return false;
}

bool HidController_CL12::initialize()
{
    debugLog("CL-12 USB: not available in this build");
    return false;
}

std::vector<std::string> HidController_CL12::getInputDevices() const
{
    return {};
}

void HidController_CL12::shutdown() {}
bool HidController_CL12::isInitialized() { return false; }
std::vector<std::string> HidController_CL12::getOutputDevices() const { return {}; }
bool HidController_CL12::openInput(const std::string&) { return false; }
bool HidController_CL12::openOutput(const std::string&) { return false; }
void HidController_CL12::closeInput() {}
void HidController_CL12::closeOutput() {}

void HidController_CL12::setCallback(std::function<void(const MidiControllerBase::MidiMessage&)> callback)
{
    messageCallback_ = std::move(callback);
}

bool HidController_CL12::sendMessage(const MidiControllerBase::MidiMessage&) { return false; }
bool HidController_CL12::sendNoteOn(uint8_t, uint8_t, uint8_t) { return false; }
bool HidController_CL12::sendNoteOff(uint8_t, uint8_t, uint8_t) { return false; }
bool HidController_CL12::sendControlChange(uint8_t, uint8_t, uint8_t) { return false; }
bool HidController_CL12::sendProgramChange(uint8_t, uint8_t) { return false; }

void HidController_CL12::setFaderCallback(std::function<void(int, int)> callback)
{
    faderCallback_ = std::move(callback);
}

void HidController_CL12::setKnobCallback(std::function<void(int, int)> callback)
{
    knobCallback_ = std::move(callback);
}

void HidController_CL12::setButtonCallback(std::function<void(int, bool)> callback)
{
    buttonCallback_ = std::move(callback);
}

bool HidController_CL12::sendFaderPosition(int, int) { return false; }
bool HidController_CL12::sendButtonLED(int, bool) { return false; }
std::string HidController_CL12::getCurrentInputDevice() { return {}; }
std::string HidController_CL12::getCurrentOutputDevice() { return {}; }
std::vector<int> HidController_CL12::getCurrentFaderPositions() const { return {}; }
