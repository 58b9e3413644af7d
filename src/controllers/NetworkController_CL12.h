#pragma once

#include "controllers/MidiControllerBase.h"
#include "controllers/SurfaceKind.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The CL-12's fader and button states as text lines in UDP datagrams from a
// bridge: "F<i>:<v>" (fader i at v, 0 to 255) and "B<i>:<s>" (button i, 1
// pressed, 0 released), one per line. Diagnostics go to standard output,
// each line starting "[NetworkCL12] ".
//
// Only senders on loopback or on one of this machine's own IPv4 subnets are
// heard: a stranger further away must not move faders or press keys.
//
// Threads: initialize and shutdown on the GUI thread; receiveThread runs the
// decoder and the callbacks. callbackMutex_ guards the callbacks and is held
// while one runs, so a callback replaced on the GUI thread is never running.
// socketFd_ is written only while no receiver thread runs.
class NetworkController_CL12 : public MidiControllerBase {
public:
    static constexpr uint16_t kDefaultPort = 7770;
    static constexpr size_t kMaxDatagramBytes = 255;
    static constexpr int kMaxValue = 255;

    explicit NetworkController_CL12(uint16_t port = kDefaultPort);
    ~NetworkController_CL12() override;

    NetworkController_CL12(const NetworkController_CL12&) = delete;
    NetworkController_CL12& operator=(const NetworkController_CL12&) = delete;

    bool initialize() override;
    void shutdown() override;
    bool isInitialized() override;
    std::vector<std::string> getInputDevices() const override;
    std::vector<std::string> getOutputDevices() const override;
    bool openInput(const std::string& name) override;
    bool openOutput(const std::string& name) override;
    void closeInput() override;
    void closeOutput() override;
    void setFaderCallback(std::function<void(int, int)> callback) override;
    void setKnobCallback(std::function<void(int, int)> callback) override;
    void setButtonCallback(std::function<void(int, bool)> callback) override;
    bool sendFaderPosition(int fader, int value) override;
    bool sendButtonLED(int index, bool on) override;
    std::string getCurrentInputDevice() override;
    std::string getCurrentOutputDevice() override;
    std::vector<int> getCurrentFaderPositions() const override;

    // The CL-12 bridge's UDP lines among the kinds of surface (SurfaceRegistry).
    static const SurfaceKind& surfaceKind();

    // Decodes one line and calls the matching callback (receiver thread).
    void processMessage(const std::string& line);
    // Splits a datagram's text into lines and decodes each (receiver thread).
    void processDatagram(const char* bytes, size_t length);
    // True for loopback and for an address on one of this machine's own
    // subnets (network byte order).
    static bool isTrustedSender(uint32_t addressNetworkOrder);

private:
    void receiveThread();

    const uint16_t port_;
    int socketFd_ = -1;
    std::thread receiverThread_;
    std::atomic<bool> running_{false};
    bool droppedSenderLogged_ = false;  // receiver thread only
    std::mutex callbackMutex_;
    std::function<void(int, int)> faderCallback_;
    std::function<void(int, int)> knobCallback_;
    std::function<void(int, bool)> buttonCallback_;
};
