#include "controllers/NetworkController_CL12.h"

#include "core/DebugLog.h"

NetworkController_CL12::NetworkController_CL12() = default;
NetworkController_CL12::~NetworkController_CL12() = default;

bool NetworkController_CL12::initialize()
{
    debugLog("CL-12 Network (UDP): receiver not available in this build");
    return false;
}

std::vector<std::string> NetworkController_CL12::getInputDevices() const
{
    return {};
}

void NetworkController_CL12::shutdown() {}
bool NetworkController_CL12::isInitialized() { return false; }
std::vector<std::string> NetworkController_CL12::getOutputDevices() const { return {}; }
bool NetworkController_CL12::openInput(const std::string&) { return false; }
bool NetworkController_CL12::openOutput(const std::string&) { return false; }
void NetworkController_CL12::closeInput() {}
void NetworkController_CL12::closeOutput() {}

void NetworkController_CL12::setCallback(std::function<void(const MidiControllerBase::MidiMessage&)> callback)
{
    messageCallback_ = std::move(callback);
}

bool NetworkController_CL12::sendMessage(const MidiControllerBase::MidiMessage&) { return false; }
bool NetworkController_CL12::sendNoteOn(uint8_t, uint8_t, uint8_t) { return false; }
bool NetworkController_CL12::sendNoteOff(uint8_t, uint8_t, uint8_t) { return false; }
bool NetworkController_CL12::sendControlChange(uint8_t, uint8_t, uint8_t) { return false; }
bool NetworkController_CL12::sendProgramChange(uint8_t, uint8_t) { return false; }

void NetworkController_CL12::setFaderCallback(std::function<void(int, int)> callback)
{
    faderCallback_ = std::move(callback);
}

void NetworkController_CL12::setKnobCallback(std::function<void(int, int)> callback)
{
    knobCallback_ = std::move(callback);
}

void NetworkController_CL12::setButtonCallback(std::function<void(int, bool)> callback)
{
    buttonCallback_ = std::move(callback);
}

bool NetworkController_CL12::sendFaderPosition(int, int) { return false; }
bool NetworkController_CL12::sendButtonLED(int, bool) { return false; }
std::string NetworkController_CL12::getCurrentInputDevice() { return {}; }
std::string NetworkController_CL12::getCurrentOutputDevice() { return {}; }
std::vector<int> NetworkController_CL12::getCurrentFaderPositions() const { return {}; }
