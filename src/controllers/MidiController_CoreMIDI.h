#pragma once

#include "controllers/CL12ServiceBrowserDelegate.h"
#include "controllers/MidiControllerBase.h"
#include "controllers/SurfaceKind.h"
#include "platform/midi/MidiSystem.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The driver for every control surface that speaks MIDI: generic USB MIDI
// controllers, the X-Touch Compact, nanoKONTROL2, MIDI Mix and the CL-12
// bridge (built-in presets, chosen by the device's name when the input is
// opened), and network MIDI sessions.
//
// Threads: the MIDI system calls midiReadCallback on its own receive thread;
// the decoder and every callback run there, one packet at a time. Everything
// else is called on the GUI thread. callbackMutex guards all that the two
// threads share (the callbacks, the control maps, the echo table, the X-Touch
// fader positions): the decoder holds it for one packet, callbacks included,
// so a callback is never replaced while it runs. It is never held while the
// MIDI system is called, so closing the input (which waits for a packet under
// way) cannot wait on it.
// The network bridge search (bridgeBrowser_) reports on the service
// browser's own thread; it touches only the network MIDI session and the log,
// and shutdown stops it before the driver goes.
class MidiController_CoreMIDI : public MidiControllerBase, public MidiMessagePort {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // On the process's default MIDI system.
    MidiController_CoreMIDI();
    explicit MidiController_CoreMIDI(std::shared_ptr<MidiSystem> system);
    ~MidiController_CoreMIDI() override;

    MidiController_CoreMIDI(const MidiController_CoreMIDI&) = delete;
    MidiController_CoreMIDI& operator=(const MidiController_CoreMIDI&) = delete;

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
    MidiMessagePort* midiMessagePort() override { return this; }

    // The kinds of surface this driver serves (SurfaceRegistry): the
    // X-Touch, the CL-12 bridge (or a network MIDI session), the
    // nanoKONTROL2, and any other MIDI device.
    static const SurfaceKind& xTouchSurfaceKind();
    static const SurfaceKind& cl12BridgeSurfaceKind();
    static const SurfaceKind& nanoKontrol2SurfaceKind();
    static const SurfaceKind& midiDeviceSurfaceKind();

    // The input port's read procedure; readReference is the driver.
    static void midiReadCallback(const MidiPacketListView& packets, void* readReference, MidiEndpointRef source);
    void handleMidiPackets(const MidiPacketListView& packets);
    // Decodes one packet (its first message only).
    void handleMidiInput(const uint8_t* data, size_t length);

    // The endpoint's display name, else its plain name, else "Unknown"
    // (also for a name of more than 255 bytes).
    static std::string getEndpointName(MidiSystem& system, MidiEndpointRef endpoint);
    MidiEndpointRef findInputEndpoint(const std::string& name) const;
    MidiEndpointRef findOutputEndpoint(const std::string& name) const;

    // One control each (index, control-change or note number).
    void setFaderMapping(int index, int number);
    void setKnobMapping(int index, int number);
    void setButtonMapping(int index, int number);
    void setTransportMapping(int index, int number);
    void setTransportNoteMapping(int index, int number);
    void setButtonNoteMapping(int index, int number);

    void loadXTouchCompactMappings();
    void loadNanoKontrol2Mappings();
    void loadMIDIMixMappings();
    void loadCL12BridgeMappings();

    // Starts this driver's search for CL-12 network MIDI bridges, which
    // connects the network MIDI session to each one found; without a session
    // (Linux has none) it logs so and searches nothing. The search belongs to
    // the driver and ends with shutdown.
    void connectToNetworkMIDI();
    void stopNetworkMIDI();

    // Tests: the clock of the echo window.
    void setClockForTests(Clock clock);

    static constexpr int kXTouchFaderCount = 16;
    static constexpr int kFaderTopValue = 16383;
    // A device's echo of a fader position we sent arrives within this time.
    static constexpr std::chrono::nanoseconds kEchoWindow{100'000'000};
    static constexpr int kEchoTolerance = 3;

private:
    MidiStatus sendBytes(const uint8_t* bytes, size_t length);
    void notePathLocked(int note, bool pressed);
    void controlChangePathLocked(int number, int value, bool& dropAsEcho);

    std::shared_ptr<MidiSystem> system_;

    MidiClientRef client = 0;
    MidiPortRef inputPort = 0;
    MidiPortRef outputPort = 0;
    MidiEndpointRef connectedSource = 0;
    MidiEndpointRef destination = 0;
    std::map<int, int> ccToFader, faderToCC;
    std::map<int, int> ccToKnob;
    std::map<int, int> ccToButton, buttonToCC;
    std::map<int, int> transportToCC, ccToTransport;
    std::map<int, int> transportToNote, noteToTransport;
    std::map<int, int> noteToButton, buttonToNote;
    bool initialized = false;
    std::function<void(const MidiControllerBase::MidiMessage&)> messageCallback;
    std::function<void(int, int)> faderCallback;
    std::function<void(int, int)> knobCallback;
    std::function<void(int, bool)> buttonCallback;
    std::string currentInputDevice;
    std::string currentOutputDevice;
    std::map<int, uint8_t> lastSentValue;
    std::chrono::steady_clock::time_point lastFaderSendTime{};
    bool xTouchMode = false;
    std::array<int, kXTouchFaderCount> faderPositions;
    mutable std::mutex callbackMutex;

    Clock clock_;
    std::unique_ptr<CL12ServiceBrowserDelegate> bridgeBrowser_;
};
