#pragma once

#include "platform/audio/AudioTypes.h"

#include <jack/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// One JACK client of ours with its own input and output ports, whose cycle
// runs the owner's function once per server period: the base of an output
// unit and of a direct capture.
//
// Threads: open, start, stop and close are called on the control thread.
// The cycle function runs on JACK's process thread between start and stop;
// a gate (entered by each cycle, closed by stop) makes stop return only once
// no cycle is inside the owner's function and none will enter it again, so
// nothing the function reads may be freed before stop and everything may be
// freed after it, also when the server died under a running cycle. The
// server's own shutdown notice only sets a flag.
class JackPortClient {
public:
    // Process thread: no locks, no allocation, no logging. `frames` is the
    // period; the port buffers are valid until the function returns.
    using CycleFunction = void (*)(void* owner, uint32_t frames);

    JackPortClient() = default;
    ~JackPortClient();

    JackPortClient(const JackPortClient&) = delete;
    JackPortClient& operator=(const JackPortClient&) = delete;

    // Connects to the server (empty name: the default server) and registers
    // `inputs` ports "in_1".. and `outputs` ports "out_1"..; false with the
    // reason in `error`.
    bool open(const std::string& serverName, const std::string& clientName, uint32_t inputs, uint32_t outputs,
              CycleFunction cycle, void* owner, std::string& error);
    bool isOpen() const { return client_ != nullptr; }
    double sampleRate() const;
    uint32_t bufferFrames() const;

    // Activates the client and connects the server's ports `sources[i]` to
    // input port i and output port i to `targets[i]` (extra names or ports
    // stay unconnected). A connection the server refuses is logged, not fatal.
    AudioStatus start(const std::vector<std::string>& sources, const std::vector<std::string>& targets);
    // Returns once no cycle runs the owner's function; deactivates the client.
    void stop();
    // Stops and leaves the server; the ports are gone.
    void close();
    bool isStarted() const { return started_; }
    // True once the server shut this client down (it died or threw us out).
    bool serverGone() const { return serverGone_.load(std::memory_order_acquire); }

    // Process thread, from inside the cycle function only.
    const float* inputBuffer(uint32_t port) const { return inputBuffers_[port]; }
    float* outputBuffer(uint32_t port) const { return outputBuffers_[port]; }
    uint32_t inputCount() const { return static_cast<uint32_t>(inputPorts_.size()); }
    uint32_t outputCount() const { return static_cast<uint32_t>(outputPorts_.size()); }
    // The full JACK name of a port of ours ("tonvale:in_1").
    std::string inputPortName(uint32_t port) const;
    std::string outputPortName(uint32_t port) const;

private:
    static int processThunk(jack_nframes_t frames, void* arg);
    static void shutdownThunk(jack_status_t code, const char* reason, void* arg);
    void connectPorts(const std::vector<std::string>& sources, const std::vector<std::string>& targets);

    jack_client_t* client_ = nullptr;
    std::vector<jack_port_t*> inputPorts_;
    std::vector<jack_port_t*> outputPorts_;
    CycleFunction cycle_ = nullptr;
    void* owner_ = nullptr;
    bool started_ = false;

    // Process thread: filled each cycle before the owner's function runs,
    // sized at open.
    std::vector<const float*> inputBuffers_;
    std::vector<float*> outputBuffers_;

    // The gate. A cycle marks itself inside, then looks whether the gate is
    // open; stop closes it, then waits for no cycle inside. Both sides use
    // sequentially consistent order, so at least one of them sees the other.
    std::atomic<bool> gateOpen_{false};
    std::atomic<bool> cycleInside_{false};
    std::atomic<bool> serverGone_{false};
};
