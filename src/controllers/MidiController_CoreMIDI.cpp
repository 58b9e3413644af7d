#include "controllers/MidiController_CoreMIDI.h"

#include "core/DebugLog.h"
#include "platform/midi/DefaultMidiSystem.h"

#include <algorithm>

namespace {

constexpr size_t kMaxEndpointNameBytes = 255;
constexpr size_t kSendBufferBytes = 64;

bool containsAny(const std::string& text, std::initializer_list<const char*> words)
{
    return std::any_of(words.begin(), words.end(),
                       [&](const char* word) { return text.find(word) != std::string::npos; });
}

// Names that say "a control surface" win over names that say "an audio
// interface": an interface's MIDI port is no fader surface.
const std::vector<std::string>& controllerKeywords()
{
    static const std::vector<std::string> words = {
        "X-Touch", "BCF", "BCR", "Mackie", "Control", "Fader", "Surface", "nanoKONTROL",
        "MIDIMix", "Launchpad", "Push", "Akai", "MPK", "MPD", "Komplete Kontrol", "MIDI Fighter",
        "Novation", "Launch Control", "CL-12", "CL12", "Bridge", "Network Session"};
    return words;
}

const std::vector<std::string>& audioInterfaceKeywords()
{
    static const std::vector<std::string> words = {
        "UMC", "Scarlett", "Focusrite", "Steinberg", "UR", "Babyface", "Fireface", "MOTU",
        "RME", "PreSonus", "AudioBox", "Behringer", "2i2", "4i4", "18i20", "1820", "192",
        "Apollo", "Clarett", "Interface", "Audio", "ASIO", "USB Audio"};
    return words;
}

bool containsAnyOf(const std::string& text, const std::vector<std::string>& words)
{
    return std::any_of(words.begin(), words.end(),
                       [&](const std::string& word) { return text.find(word) != std::string::npos; });
}

}  // namespace

MidiController_CoreMIDI::MidiController_CoreMIDI()
    : MidiController_CoreMIDI(defaultMidiSystem())
{
}

MidiController_CoreMIDI::MidiController_CoreMIDI(std::shared_ptr<MidiSystem> system)
    : system_(std::move(system)), clock_([] { return std::chrono::steady_clock::now(); })
{
    faderPositions.fill(8192);
}

MidiController_CoreMIDI::~MidiController_CoreMIDI()
{
    shutdown();
}

// --- Lifetime -------------------------------------------------------------

bool MidiController_CoreMIDI::initialize()
{
    if (initialized)
        return true;
    MidiStatus status = system_->createClient("Tonvale MIDI", client);
    if (status != kMidiOk) {
        client = 0;
        debugLog("CoreMIDI: Failed to create MIDI client: " + std::to_string(status));
        return false;
    }
    status = system_->createInputPort(client, "Tonvale Input", &MidiController_CoreMIDI::midiReadCallback, this,
                                      inputPort);
    if (status != kMidiOk) {
        debugLog("CoreMIDI: Failed to create input port: " + std::to_string(status));
        inputPort = 0;
        system_->disposeClient(client);
        client = 0;
        return false;
    }
    status = system_->createOutputPort(client, "Tonvale Output", outputPort);
    if (status != kMidiOk) {
        debugLog("CoreMIDI: Failed to create output port: " + std::to_string(status));
        outputPort = 0;
        system_->disposePort(inputPort);
        inputPort = 0;
        system_->disposeClient(client);
        client = 0;
        return false;
    }
    debugLog("CoreMIDI: MIDI controller initialized");
    connectToNetworkMIDI();
    initialized = true;
    return true;
}

void MidiController_CoreMIDI::shutdown()
{
    stopNetworkMIDI();
    if (!initialized)
        return;
    closeInput();
    closeOutput();
    if (outputPort != 0) {
        system_->disposePort(outputPort);
        outputPort = 0;
    }
    if (inputPort != 0) {
        // Returns after a packet under way has been decoded: no callback
        // runs once this is done.
        system_->disposePort(inputPort);
        inputPort = 0;
    }
    if (client != 0) {
        system_->disposeClient(client);
        client = 0;
    }
    initialized = false;
}

bool MidiController_CoreMIDI::isInitialized()
{
    return initialized;
}

void MidiController_CoreMIDI::connectToNetworkMIDI()
{
    debugLog("CoreMIDI: Searching for network MIDI sessions");
    // One search per driver: a new initialize replaces the earlier one.
    stopNetworkMIDI();
    std::shared_ptr<NetworkMidiSession> session = defaultNetworkMidiSession();
    if (!session) {
        debugLog("CoreMIDI: Failed to get network session");
        return;
    }
    session->setEnabled(true);
    session->setConnectionPolicy(NetworkMidiSession::ConnectionPolicy::HostsInContactList);
    debugLog("CoreMIDI: Network MIDI enabled, connection policy set to found bridges only");
    bridgeBrowser_ = std::make_unique<CL12ServiceBrowserDelegate>(session, defaultServiceDiscovery());
    bridgeBrowser_->start();
    debugLog("CoreMIDI: Searching for CL-12 Bridge via Bonjour...");
}

void MidiController_CoreMIDI::stopNetworkMIDI()
{
    if (!bridgeBrowser_)
        return;
    bridgeBrowser_->stop();
    bridgeBrowser_.reset();
}

void MidiController_CoreMIDI::setClockForTests(Clock clock)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    clock_ = std::move(clock);
}

// --- Devices ---------------------------------------------------------------

std::string MidiController_CoreMIDI::getEndpointName(MidiSystem& system, MidiEndpointRef endpoint)
{
    std::string name;
    if (system.getEndpointName(endpoint, MidiNameProperty::DisplayName, name) != kMidiOk || name.empty()) {
        name.clear();
        if (system.getEndpointName(endpoint, MidiNameProperty::Name, name) != kMidiOk)
            return "Unknown";
    }
    if (name.size() > kMaxEndpointNameBytes)
        return "Unknown";
    return name;
}

std::vector<std::string> MidiController_CoreMIDI::getInputDevices() const
{
    std::vector<MidiEndpointRef> sources;
    if (system_->getSources(sources) != kMidiOk)
        sources.clear();
    debugLog("CoreMIDI: Found " + std::to_string(sources.size()) + " MIDI source(s)");
    std::vector<std::string> accepted;
    for (MidiEndpointRef source : sources) {
        const std::string name = getEndpointName(*system_, source);
        const bool accept = containsAnyOf(name, controllerKeywords()) || !containsAnyOf(name, audioInterfaceKeywords());
        debugLog("CoreMIDI: Device '" + name + "' -> " + (accept ? "ACCEPTED" : "FILTERED OUT"));
        if (accept)
            accepted.push_back(name);
    }
    return accepted;
}

std::vector<std::string> MidiController_CoreMIDI::getOutputDevices() const
{
    std::vector<MidiEndpointRef> destinations;
    if (system_->getDestinations(destinations) != kMidiOk)
        return {};
    std::vector<std::string> names;
    for (MidiEndpointRef endpoint : destinations)
        names.push_back(getEndpointName(*system_, endpoint));
    return names;
}

MidiEndpointRef MidiController_CoreMIDI::findInputEndpoint(const std::string& name) const
{
    std::vector<MidiEndpointRef> sources;
    if (system_->getSources(sources) != kMidiOk)
        return 0;
    for (MidiEndpointRef source : sources) {
        if (getEndpointName(*system_, source) == name)
            return source;
    }
    return 0;
}

MidiEndpointRef MidiController_CoreMIDI::findOutputEndpoint(const std::string& name) const
{
    std::vector<MidiEndpointRef> destinations;
    if (system_->getDestinations(destinations) != kMidiOk)
        return 0;
    for (MidiEndpointRef endpoint : destinations) {
        if (getEndpointName(*system_, endpoint) == name)
            return endpoint;
    }
    return 0;
}

bool MidiController_CoreMIDI::openInput(const std::string& name)
{
    closeInput();
    connectedSource = findInputEndpoint(name);
    if (connectedSource == 0) {
        debugLog("CoreMIDI: Input device not found: " + name);
        return false;
    }
    const MidiStatus status = inputPort != 0 ? system_->connectSource(inputPort, connectedSource)
                                             : kMidiErrorUnknownObject;
    if (status != kMidiOk) {
        debugLog("CoreMIDI: Failed to connect to input: " + std::to_string(status));
        connectedSource = 0;
        return false;
    }
    currentInputDevice = name;
    if (containsAny(name, {"X-TOUCH", "X-Touch", "XTOUCH"})) {
        debugLog("Detected X-Touch controller, loading mappings");
        {
            std::lock_guard<std::mutex> lock(callbackMutex);
            xTouchMode = true;
        }
        loadXTouchCompactMappings();
    } else if (containsAny(name, {"nanoKONTROL2", "NANOKONTROL2", "nano KONTROL2"})) {
        debugLog("Detected Korg nanoKONTROL2 controller, loading mappings");
        loadNanoKontrol2Mappings();
    } else if (containsAny(name, {"MIDI Mix", "MIDIMix", "MIDIMIX"})) {
        debugLog("Detected AKAI MIDIMix controller, loading mappings");
        loadMIDIMixMappings();
    } else if (containsAny(name, {"CL-12", "CL12", "Bridge"})) {
        debugLog("Detected CL-12 Bridge controller, loading mappings");
        loadCL12BridgeMappings();
    } else if (containsAny(name, {"Network Session"})) {
        debugLog("Detected Network MIDI session (assuming CL-12 Bridge), loading mappings");
        loadCL12BridgeMappings();
    }
    debugLog("CoreMIDI: Opened input: " + name);
    return true;
}

bool MidiController_CoreMIDI::openOutput(const std::string& name)
{
    closeOutput();
    destination = findOutputEndpoint(name);
    if (destination == 0) {
        debugLog("CoreMIDI: Output device not found: " + name);
        return false;
    }
    currentOutputDevice = name;
    debugLog("CoreMIDI: Opened output: " + name);
    return true;
}

void MidiController_CoreMIDI::closeInput()
{
    if (connectedSource != 0 && inputPort != 0)
        system_->disconnectSource(inputPort, connectedSource);
    connectedSource = 0;
    currentInputDevice.clear();
}

void MidiController_CoreMIDI::closeOutput()
{
    destination = 0;
    currentOutputDevice.clear();
}

std::string MidiController_CoreMIDI::getCurrentInputDevice()
{
    return currentInputDevice;
}

std::string MidiController_CoreMIDI::getCurrentOutputDevice()
{
    return currentOutputDevice;
}

std::vector<int> MidiController_CoreMIDI::getCurrentFaderPositions() const
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    if (!xTouchMode)
        return {};
    return std::vector<int>(faderPositions.begin(), faderPositions.end());
}

// --- Callbacks -------------------------------------------------------------

void MidiController_CoreMIDI::setCallback(std::function<void(const MidiControllerBase::MidiMessage&)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    messageCallback = std::move(callback);
}

void MidiController_CoreMIDI::setFaderCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    faderCallback = std::move(callback);
    debugLog(std::string("MidiController_CoreMIDI: faderCallback ") + (faderCallback ? "SET" : "CLEARED"));
}

void MidiController_CoreMIDI::setKnobCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    knobCallback = std::move(callback);
}

void MidiController_CoreMIDI::setButtonCallback(std::function<void(int, bool)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex);
    buttonCallback = std::move(callback);
}

// --- Receiving (MIDI system's receive thread) ----------------------------

void MidiController_CoreMIDI::midiReadCallback(const MidiPacketListView& packets, void* readReference,
                                               MidiEndpointRef)
{
    if (readReference == nullptr)
        return;
    static_cast<MidiController_CoreMIDI*>(readReference)->handleMidiPackets(packets);
}

void MidiController_CoreMIDI::handleMidiPackets(const MidiPacketListView& packets)
{
    for (auto packet = packets.first(); packet.valid; packet = packets.next(packet))
        handleMidiInput(packet.data, packet.length);
}

void MidiController_CoreMIDI::handleMidiInput(const uint8_t* data, size_t length)
{
    if (data == nullptr || length == 0)
        return;
    MidiControllerBase::MidiMessage message;
    const uint8_t status = data[0];
    message.channel = status & 0x0F;
    message.data1 = length >= 2 ? data[1] : 0;
    message.data2 = length >= 3 ? data[2] : 0;

    std::lock_guard<std::mutex> lock(callbackMutex);
    switch (status & 0xF0) {
    case 0x80:
        message.type = 1;
        notePathLocked(message.data1, false);
        break;
    case 0x90:
        message.type = message.data2 > 0 ? 0 : 1;
        notePathLocked(message.data1, message.data2 > 0);
        break;
    case 0xB0: {
        message.type = 2;
        bool dropAsEcho = false;
        controlChangePathLocked(message.data1, message.data2, dropAsEcho);
        if (dropAsEcho)
            return;
        break;
    }
    case 0xC0:
        message.type = 3;
        break;
    case 0xE0:
        message.type = 4;
        if (!xTouchMode && faderCallback) {
            // Data bytes are taken as they came; a malformed packet's bytes
            // above 127 must not push the fader past its top.
            const int value = std::clamp(message.data1 + 128 * message.data2, 0, kFaderTopValue);
            faderCallback(message.channel, value);
        }
        break;
    default:
        return;  // data bytes (running status), pressure and system messages
    }
    if (messageCallback)
        messageCallback(message);
}

void MidiController_CoreMIDI::notePathLocked(int note, bool pressed)
{
    if (!buttonCallback)
        return;
    if (auto it = noteToTransport.find(note); it != noteToTransport.end())
        buttonCallback(~it->second, pressed);
    else if (auto button = noteToButton.find(note); button != noteToButton.end())
        buttonCallback(button->second, pressed);
    else
        buttonCallback(note, pressed);
}

void MidiController_CoreMIDI::controlChangePathLocked(int number, int value, bool& dropAsEcho)
{
    if (auto fader = ccToFader.find(number); fader != ccToFader.end() && faderCallback) {
        if (auto sent = lastSentValue.find(number); sent != lastSentValue.end()) {
            const auto since = clock_() - lastFaderSendTime;
            if (since < kEchoWindow && std::abs(static_cast<int>(sent->second) - value) <= kEchoTolerance) {
                dropAsEcho = true;
                return;
            }
        }
        const int value14 = std::min(value * 129, kFaderTopValue);
        if (xTouchMode && fader->second >= 0 && fader->second < kXTouchFaderCount)
            faderPositions[static_cast<size_t>(fader->second)] = value14;
        faderCallback(fader->second, value14);
        return;
    }
    if (auto button = ccToButton.find(number); button != ccToButton.end() && buttonCallback) {
        buttonCallback(button->second, value > 0);
        return;
    }
    if (auto transport = ccToTransport.find(number); transport != ccToTransport.end()) {
        // Surfaces send transport keys as a press only; a release never comes.
        if (buttonCallback && value > 0)
            buttonCallback(~transport->second, true);
        return;
    }
    if (auto knob = ccToKnob.find(number); knob != ccToKnob.end() && knobCallback)
        knobCallback(knob->second, value);
}

// --- Sending (GUI thread) --------------------------------------------------

MidiStatus MidiController_CoreMIDI::sendBytes(const uint8_t* bytes, size_t length)
{
    uint8_t buffer[kSendBufferBytes];
    MidiPacketListBuilder builder(buffer, sizeof buffer);
    if (!builder.add(midiTimeStampNow(), bytes, length))
        return kMidiErrorBadArgument;
    return system_->send(outputPort, destination, builder.view());
}

bool MidiController_CoreMIDI::sendMessage(const MidiControllerBase::MidiMessage& message)
{
    if (destination == 0)
        return false;
    const uint8_t channel = message.channel & 0x0F;
    uint8_t bytes[3] = {0, message.data1, message.data2};
    size_t length = 3;
    switch (message.type) {
    case 0: bytes[0] = 0x90 | channel; break;
    case 1: bytes[0] = 0x80 | channel; break;
    case 2: bytes[0] = 0xB0 | channel; break;
    case 3: bytes[0] = 0xC0 | channel; length = 2; break;
    default: return false;  // pitch bend and anything else is not sent as a message
    }
    return sendBytes(bytes, length) == kMidiOk;
}

bool MidiController_CoreMIDI::sendNoteOn(uint8_t channel, uint8_t note, uint8_t velocity)
{
    MidiControllerBase::MidiMessage message;
    message.type = 0;
    message.channel = channel;
    message.data1 = note;
    message.data2 = velocity;
    return sendMessage(message);
}

bool MidiController_CoreMIDI::sendNoteOff(uint8_t channel, uint8_t note, uint8_t velocity)
{
    MidiControllerBase::MidiMessage message;
    message.type = 1;
    message.channel = channel;
    message.data1 = note;
    message.data2 = velocity;
    return sendMessage(message);
}

bool MidiController_CoreMIDI::sendControlChange(uint8_t channel, uint8_t controller, uint8_t value)
{
    MidiControllerBase::MidiMessage message;
    message.type = 2;
    message.channel = channel;
    message.data1 = controller;
    message.data2 = value;
    return sendMessage(message);
}

bool MidiController_CoreMIDI::sendProgramChange(uint8_t channel, uint8_t program)
{
    MidiControllerBase::MidiMessage message;
    message.type = 3;
    message.channel = channel;
    message.data1 = program;
    return sendMessage(message);
}

bool MidiController_CoreMIDI::sendFaderPosition(int fader, int value)
{
    value = std::clamp(value, 0, kFaderTopValue);
    int controlNumber = -1;
    uint8_t value7 = 0;
    {
        std::lock_guard<std::mutex> lock(callbackMutex);
        if (destination == 0 || xTouchMode)
            return false;
        if (auto it = faderToCC.find(fader); it != faderToCC.end()) {
            controlNumber = it->second;
            value7 = static_cast<uint8_t>(value / 129);
            lastSentValue[controlNumber] = value7;
            lastFaderSendTime = clock_();
        }
    }
    if (controlNumber >= 0)
        return sendControlChange(0, static_cast<uint8_t>(controlNumber), value7);
    const uint8_t bytes[3] = {static_cast<uint8_t>(0xE0 | (fader & 0x0F)), static_cast<uint8_t>(value & 0x7F),
                              static_cast<uint8_t>((value >> 7) & 0x7F)};
    return sendBytes(bytes, sizeof bytes) == kMidiOk;
}

bool MidiController_CoreMIDI::sendButtonLED(int index, bool on)
{
    return sendNoteOn(0, static_cast<uint8_t>(index & 0xFF), on ? 127 : 0);
}
