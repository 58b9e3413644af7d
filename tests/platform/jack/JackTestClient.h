#pragma once

#include <jack/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Sample k of known signal `channel`: distinct for every sample of the
// first million and every channel, exact in float, so a recording can be
// aligned against it by value.
float knownSample(int channel, uint64_t k);
std::vector<float> knownSignal(int channel, size_t frames);

// The far side of the recorder in JACK tests: a client "tester" that plays
// known signals from its output ports (signal k from its sample 0 on, from
// activation; silence after its end) and records its input ports from the
// same cycle on, both counted in the server's frames.
//
// Threads: the process callback is JACK's thread (test code: it may notify a
// condition); everything else is the test's thread.
class JackTestClient {
public:
    ~JackTestClient();

    // `recordFrames`: how much each input port keeps (later frames dropped).
    // A client that records what the recorder played back must not also play
    // into it: JACK runs the two ends of a loop in the same period side by
    // side, sharing the buffer, so such recordings are not defined. Record
    // with a second client then (another `role`).
    bool open(const std::string& serverName, std::vector<std::vector<float>> signals, uint32_t inputs,
              size_t recordFrames, std::string& error, const std::string& role = "tester");
    // Connects two ports by full name ("tester:out_1", "tonvale:in_1").
    bool connect(const std::string& source, const std::string& destination);
    std::string outputPort(uint32_t k) const { return clientName_ + ":out_" + std::to_string(k + 1); }
    std::string inputPort(uint32_t k) const { return clientName_ + ":in_" + std::to_string(k + 1); }

    // The full names of the ports connected to `port`.
    std::vector<std::string> connections(const std::string& port) const;
    uint64_t cycles() const { return cycles_.load(); }
    // Waits until `count` more cycles ran; false on timeout (the server died).
    bool waitForCycles(uint64_t count, std::chrono::milliseconds timeout);
    // The next cycle takes `milliseconds` longer than its period: the server
    // sees a late client, an xrun.
    void stallNextCycle(int milliseconds) { stallMilliseconds_.store(milliseconds); }
    // What input port k received so far.
    std::vector<float> recorded(uint32_t k) const;
    void close();

private:
    static int process(jack_nframes_t frames, void* arg);

    jack_client_t* client_ = nullptr;
    std::string clientName_;
    std::vector<jack_port_t*> outputs_;
    std::vector<jack_port_t*> inputs_;
    std::vector<std::vector<float>> signals_;
    std::vector<std::vector<float>> recordings_;
    std::atomic<uint64_t> playedFrames_{0};
    std::atomic<uint64_t> recordedFrames_{0};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<int> stallMilliseconds_{0};
    mutable std::mutex mutex_;
    std::condition_variable cycleCondition_;
};
