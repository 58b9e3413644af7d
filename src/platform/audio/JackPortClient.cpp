#include "platform/audio/JackPortClient.h"

#include "core/DebugLog.h"
#include "platform/audio/JackGraphOrder.h"
#include "platform/audio/JackServerLink.h"

#include <jack/jack.h>

#include <thread>

JackPortClient::~JackPortClient()
{
    close();
}

bool JackPortClient::open(const std::string& serverName, const std::string& clientName, uint32_t inputs,
                          uint32_t outputs, CycleFunction cycle, void* owner, std::string& error)
{
    close();
    client_ = JackServerLink::openClient(serverName, clientName, error);
    if (client_ == nullptr)
        return false;
    cycle_ = cycle;
    owner_ = owner;
    serverGone_.store(false, std::memory_order_release);
    jack_set_process_callback(client_, &JackPortClient::processThunk, this);
    jack_on_info_shutdown(client_, &JackPortClient::shutdownThunk, this);
    for (uint32_t k = 0; k < inputs + outputs; ++k) {
        const bool input = k < inputs;
        const std::string name = (input ? "in_" : "out_") + std::to_string(input ? k + 1 : k - inputs + 1);
        jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                               input ? JackPortIsInput : JackPortIsOutput, 0);
        if (port == nullptr) {
            error = "the server refused port " + name;
            close();
            return false;
        }
        (input ? inputPorts_ : outputPorts_).push_back(port);
    }
    inputBuffers_.assign(inputPorts_.size(), nullptr);
    outputBuffers_.assign(outputPorts_.size(), nullptr);
    return true;
}

double JackPortClient::sampleRate() const
{
    return client_ != nullptr && !serverGone() ? static_cast<double>(jack_get_sample_rate(client_)) : 0.0;
}

uint32_t JackPortClient::bufferFrames() const
{
    return client_ != nullptr && !serverGone() ? jack_get_buffer_size(client_) : 0;
}

AudioStatus JackPortClient::start(const std::vector<std::string>& sources, const std::vector<std::string>& targets)
{
    if (client_ == nullptr)
        return kAudioErrorInvalidState;
    if (started_)
        return kAudioOk;
    if (serverGone())
        return kAudioErrorDeviceGone;
    gateOpen_.store(true);
    if (jack_activate(client_) != 0) {
        gateOpen_.store(false);
        return kAudioErrorDeviceGone;
    }
    started_ = true;
    connectPorts(sources, targets);
    return kAudioOk;
}

void JackPortClient::connectPorts(const std::vector<std::string>& sources, const std::vector<std::string>& targets)
{
    for (size_t k = 0; k < sources.size() && k < inputPorts_.size(); ++k) {
        if (jack_connect(client_, sources[k].c_str(), jack_port_name(inputPorts_[k])) != 0)
            debugLog("JACK: Cannot connect " + sources[k] + " to " + jack_port_name(inputPorts_[k]));
    }
    for (size_t k = 0; k < targets.size() && k < outputPorts_.size(); ++k) {
        if (jack_connect(client_, jack_port_name(outputPorts_[k]), targets[k].c_str()) != 0)
            debugLog("JACK: Cannot connect " + std::string(jack_port_name(outputPorts_[k])) + " to " + targets[k]);
    }
}

void JackPortClient::stop()
{
    gateOpen_.store(false);
    // A cycle is a fraction of a period long; the gate is closed, so no new
    // one enters the owner's function.
    while (cycleInside_.load())
        std::this_thread::yield();
    if (!started_)
        return;
    started_ = false;
    // A dead server's client cannot be deactivated; closing it is enough.
    if (!serverGone())
        jack_deactivate(client_);
}

void JackPortClient::close()
{
    stop();
    if (client_ != nullptr) {
        // After this no callback of the client runs again.
        jack_client_close(client_);
        client_ = nullptr;
    }
    inputPorts_.clear();
    outputPorts_.clear();
    inputBuffers_.clear();
    outputBuffers_.clear();
}

std::string JackPortClient::inputPortName(uint32_t port) const
{
    return port < inputPorts_.size() ? jack_port_name(inputPorts_[port]) : std::string();
}

std::string JackPortClient::outputPortName(uint32_t port) const
{
    return port < outputPorts_.size() ? jack_port_name(outputPorts_[port]) : std::string();
}

// Process thread: no locks, no allocation, no logging.
int JackPortClient::processThunk(jack_nframes_t frames, void* arg)
{
    auto* self = static_cast<JackPortClient*>(arg);
    JackGraphOrder::enterCycle();
    self->cycleInside_.store(true);
    if (self->gateOpen_.load()) {
        for (size_t k = 0; k < self->inputPorts_.size(); ++k)
            self->inputBuffers_[k] = static_cast<const float*>(jack_port_get_buffer(self->inputPorts_[k], frames));
        for (size_t k = 0; k < self->outputPorts_.size(); ++k)
            self->outputBuffers_[k] = static_cast<float*>(jack_port_get_buffer(self->outputPorts_[k], frames));
        self->cycle_(self->owner_, frames);
    }
    self->cycleInside_.store(false);
    JackGraphOrder::leaveCycle();
    return 0;
}

// Runs like a signal handler, on a thread of the client library: a flag only.
void JackPortClient::shutdownThunk(jack_status_t /*code*/, const char* /*reason*/, void* arg)
{
    static_cast<JackPortClient*>(arg)->serverGone_.store(true, std::memory_order_release);
}
