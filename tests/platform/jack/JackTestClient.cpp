#include "platform/jack/JackTestClient.h"

#include "platform/audio/JackGraphOrder.h"
#include "platform/audio/JackServerLink.h"
#include "platform/jack/JackTestServer.h"

#include <jack/jack.h>

#include <algorithm>
#include <cstring>
#include <thread>

float knownSample(int channel, uint64_t k)
{
    constexpr uint64_t kModulus = 1'000'003;
    const uint64_t value = (k * 7919 + static_cast<uint64_t>(channel) * 104729 + 1) % kModulus;
    return static_cast<float>(value) / static_cast<float>(kModulus) - 0.5f;
}

std::vector<float> knownSignal(int channel, size_t frames)
{
    std::vector<float> signal(frames);
    for (size_t k = 0; k < frames; ++k)
        signal[k] = knownSample(channel, k);
    return signal;
}

JackTestClient::~JackTestClient()
{
    close();
}

bool JackTestClient::open(const std::string& serverName, std::vector<std::vector<float>> signals, uint32_t inputs,
                          size_t recordFrames, std::string& error, const std::string& role)
{
    client_ = JackServerLink::openClient(serverName, jackTestClientName(role), error);
    if (client_ == nullptr)
        return false;
    clientName_ = jack_get_client_name(client_);
    signals_ = std::move(signals);
    recordings_.assign(inputs, std::vector<float>(recordFrames, 0.0f));
    for (size_t k = 0; k < signals_.size(); ++k)
        outputs_.push_back(jack_port_register(client_, ("out_" + std::to_string(k + 1)).c_str(),
                                              JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    for (uint32_t k = 0; k < inputs; ++k)
        inputs_.push_back(jack_port_register(client_, ("in_" + std::to_string(k + 1)).c_str(),
                                             JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    jack_set_process_callback(client_, &JackTestClient::process, this);
    if (jack_activate(client_) != 0) {
        error = "the test client cannot activate";
        return false;
    }
    return true;
}

bool JackTestClient::connect(const std::string& source, const std::string& destination)
{
    return client_ != nullptr && jack_connect(client_, source.c_str(), destination.c_str()) == 0;
}

std::vector<std::string> JackTestClient::connections(const std::string& port) const
{
    std::vector<std::string> names;
    jack_port_t* found = client_ != nullptr ? jack_port_by_name(client_, port.c_str()) : nullptr;
    if (found == nullptr)
        return names;
    if (const char** connected = jack_port_get_all_connections(client_, found)) {
        for (const char** name = connected; *name != nullptr; ++name)
            names.emplace_back(*name);
        jack_free(connected);
    }
    return names;
}

bool JackTestClient::waitForCycles(uint64_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = cycles_.load() + count;
    return cycleCondition_.wait_for(lock, timeout, [&] { return cycles_.load() >= target; });
}

std::vector<float> JackTestClient::recorded(uint32_t k) const
{
    const size_t frames = std::min<size_t>(recordedFrames_.load(std::memory_order_acquire), recordings_[k].size());
    return std::vector<float>(recordings_[k].begin(), recordings_[k].begin() + static_cast<std::ptrdiff_t>(frames));
}

void JackTestClient::close()
{
    if (client_ != nullptr) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

namespace {

// Copies from an input port's buffer, which JACK maps from the connected
// output port: when that port is the engine's, in this process, the engine's
// JACK thread wrote it in the same cycle. jackd runs the two clients one
// after the other and wakes the second through its own semaphores, which
// ThreadSanitizer cannot see; tests/tsan.supp names this function for that
// reason, so keep it a function of its own.
[[gnu::noinline]] void copyFromJackPortBuffer(float* to, const float* portBuffer, size_t count)
{
    std::memcpy(to, portBuffer, count * sizeof(float));
}

} // namespace

int JackTestClient::process(jack_nframes_t frames, void* arg)
{
    auto* self = static_cast<JackTestClient*>(arg);
    JackGraphOrder::enterCycle();
    const uint64_t played = self->playedFrames_.load(std::memory_order_relaxed);
    for (size_t k = 0; k < self->outputs_.size(); ++k) {
        auto* out = static_cast<float*>(jack_port_get_buffer(self->outputs_[k], frames));
        const std::vector<float>& signal = self->signals_[k];
        for (jack_nframes_t i = 0; i < frames; ++i)
            out[i] = played + i < signal.size() ? signal[played + i] : 0.0f;
    }
    self->playedFrames_.store(played + frames, std::memory_order_relaxed);
    const uint64_t recorded = self->recordedFrames_.load(std::memory_order_relaxed);
    const size_t capacity = self->recordings_.empty() ? 0 : self->recordings_[0].size();
    const size_t count = recorded < capacity ? std::min<size_t>(frames, capacity - recorded) : 0;
    for (size_t k = 0; k < self->inputs_.size(); ++k) {
        const auto* in = static_cast<const float*>(jack_port_get_buffer(self->inputs_[k], frames));
        copyFromJackPortBuffer(self->recordings_[k].data() + recorded, in, count);
    }
    // Release: a reader that sees the count sees the samples.
    self->recordedFrames_.store(recorded + count, std::memory_order_release);
    if (const int stall = self->stallMilliseconds_.exchange(0))
        std::this_thread::sleep_for(std::chrono::milliseconds(stall));
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->cycles_.fetch_add(1);
    }
    self->cycleCondition_.notify_all();
    JackGraphOrder::leaveCycle();
    return 0;
}
