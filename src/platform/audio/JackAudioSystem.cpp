#include "platform/audio/JackAudioSystem.h"

#include "core/DebugLog.h"
#include "platform/audio/JackOutputUnit.h"
#include "platform/audio/JackPortClient.h"
#include "platform/audio/JackServerLink.h"

#include <jack/jack.h>
#include <jack/statistics.h>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kShutdownNotice = 's';
constexpr char kQuitNotice = 'q';
constexpr uint32_t kMinBufferFrames = 16;
constexpr uint32_t kMaxBufferFrames = 8192;
constexpr const char* kSystemClientPrefix = "system:";

uint32_t powerOfTwoAtOrAbove(uint32_t frames)
{
    uint32_t settled = kMinBufferFrames;
    while (settled < frames && settled < kMaxBufferFrames)
        settled *= 2;
    return settled;
}

// The channel's name as a recordist reads it: the built-in client's ports
// by their own names, any other client's (an interface under PipeWire)
// with the client's name in front.
std::string channelName(const std::string& portName)
{
    if (portName.rfind(kSystemClientPrefix, 0) == 0)
        return portName.substr(std::char_traits<char>::length(kSystemClientPrefix));
    return portName;
}

void writeNotice(int fd, char notice)
{
    // Nothing useful is left to do when the pipe is full or closed.
    [[maybe_unused]] const ssize_t written = ::write(fd, &notice, 1);
}

}  // namespace

struct JackAudioSystem::IOProcEntry {
    AudioDeviceId device = kNoAudioDevice;
    IOProc proc = nullptr;
    void* clientData = nullptr;
    JackPortClient client;
    // Process thread: one buffer per capture port, pointed at the port's
    // buffer each cycle.
    std::vector<AudioBlockBuffer> buffers;
    AudioBlockBufferList list;
};

std::shared_ptr<JackAudioSystem> JackAudioSystem::connect(const std::string& serverName, std::string& error,
                                                          const std::string& clientName)
{
    const std::string name = serverName.empty() ? JackServerLink::defaultServerName() : serverName;
    jack_client_t* control = JackServerLink::openClient(serverName, clientName + "-control", error);
    if (control == nullptr)
        return nullptr;
    std::shared_ptr<JackAudioSystem> system(new JackAudioSystem(name, clientName, control));
    if (system->noticePipe_[0] < 0) {
        error = "no pipe for the server's notices";
        return nullptr;
    }
    jack_on_info_shutdown(control, &JackAudioSystem::onShutdown, system.get());
    jack_set_xrun_callback(control, &JackAudioSystem::onXrun, system.get());
    jack_set_buffer_size_callback(control, &JackAudioSystem::onBufferSize, system.get());
    // Only an active client hears of xruns; without a process callback it
    // costs the graph nothing but a wake-up per period.
    if (jack_activate(control) != 0) {
        error = "the server refused to activate the client";
        return nullptr;
    }
    return system;
}

JackAudioSystem::JackAudioSystem(std::string serverName, std::string clientName, jack_client_t* control)
    : serverName_(std::move(serverName)), clientName_(std::move(clientName)), control_(control)
{
    sampleRate_.store(static_cast<double>(jack_get_sample_rate(control_)));
    bufferFrames_.store(jack_get_buffer_size(control_));
    capturePorts_ = physicalPortsLocked(AudioScope::Input);
    playbackPorts_ = physicalPortsLocked(AudioScope::Output);
    if (::pipe2(noticePipe_, O_CLOEXEC) != 0) {
        noticePipe_[0] = noticePipe_[1] = -1;
        return;
    }
    notificationThread_ = std::thread(&JackAudioSystem::notificationThreadMain, this);
}

JackAudioSystem::~JackAudioSystem()
{
    std::map<IOProcId, std::unique_ptr<IOProcEntry>> entries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries.swap(ioProcs_);
    }
    for (auto& [id, entry] : entries) {
        if (entry->client.isStarted())
            streamStopped();
        entry->client.close();
    }
    // After the close no notice of the server can arrive.
    if (control_ != nullptr)
        jack_client_close(control_);
    if (notificationThread_.joinable()) {
        writeNotice(noticePipe_[1], kQuitNotice);
        notificationThread_.join();
    }
    for (const int fd : noticePipe_) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::string JackAudioSystem::deviceName() const
{
    return "JACK (" + serverName_ + ")";
}

float JackAudioSystem::cpuLoadPercent()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return isAlive() ? jack_cpu_load(control_) : 0.0f;
}

// --- Device properties ----------------------------------------------------

std::vector<std::string> JackAudioSystem::physicalPortsLocked(AudioScope scope)
{
    // The server's capture ports are its outputs into the graph.
    const unsigned long flags =
        JackPortIsPhysical | (scope == AudioScope::Input ? JackPortIsOutput : JackPortIsInput);
    std::vector<std::string> names;
    const char** ports = jack_get_ports(control_, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags);
    if (ports == nullptr)
        return names;
    for (const char** port = ports; *port != nullptr; ++port)
        names.emplace_back(*port);
    jack_free(ports);
    return names;
}

std::vector<std::string> JackAudioSystem::physicalPorts(AudioScope scope)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string>& cached = scope == AudioScope::Input ? capturePorts_ : playbackPorts_;
    // A dead server's client must not be asked; its last answer stands.
    if (isAlive())
        cached = physicalPortsLocked(scope);
    return cached;
}

AudioStatus JackAudioSystem::getDeviceIds(std::vector<AudioDeviceId>& devices)
{
    devices.clear();
    if (isAlive())
        devices.push_back(kDeviceId);
    return kAudioOk;
}

AudioStatus JackAudioSystem::getDefaultOutputDevice(AudioDeviceId& device)
{
    device = isAlive() && !physicalPorts(AudioScope::Output).empty() ? kDeviceId : kNoAudioDevice;
    return kAudioOk;
}

AudioStatus JackAudioSystem::getDeviceForUid(const std::string& uid, AudioDeviceId& device)
{
    device = isAlive() && uid == "jack:" + serverName_ ? kDeviceId : kNoAudioDevice;
    return kAudioOk;
}

AudioStatus JackAudioSystem::getDeviceName(AudioDeviceId device, std::string& name)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    name = deviceName();
    return kAudioOk;
}

AudioStatus JackAudioSystem::getStreamConfiguration(AudioDeviceId device, AudioScope scope,
                                                    std::vector<uint32_t>& channelsPerStream)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    channelsPerStream.assign(physicalPorts(scope).size(), 1);
    return kAudioOk;
}

AudioStatus JackAudioSystem::getElementName(AudioDeviceId device, AudioScope scope, uint32_t element,
                                            std::string& name)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    const std::vector<std::string> ports = physicalPorts(scope);
    if (element == 0 || element > ports.size())
        return kAudioErrorUnknownProperty;
    name = channelName(ports[element - 1]);
    return kAudioOk;
}

AudioStatus JackAudioSystem::getSubDeviceUids(AudioDeviceId device, std::vector<std::string>& /*uids*/)
{
    return device == kDeviceId ? kAudioErrorUnknownProperty : kAudioErrorUnknownDevice;
}

AudioStatus JackAudioSystem::getNominalSampleRate(AudioDeviceId device, double& sampleRate)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    std::lock_guard<std::mutex> lock(mutex_);
    if (isAlive())
        sampleRate_.store(static_cast<double>(jack_get_sample_rate(control_)), std::memory_order_relaxed);
    sampleRate = sampleRate_.load(std::memory_order_relaxed);
    return kAudioOk;
}

AudioStatus JackAudioSystem::getBufferFrameSize(AudioDeviceId device, uint32_t& frames)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    std::lock_guard<std::mutex> lock(mutex_);
    if (isAlive())
        bufferFrames_.store(jack_get_buffer_size(control_), std::memory_order_relaxed);
    frames = bufferFrames_.load(std::memory_order_relaxed);
    return kAudioOk;
}

AudioStatus JackAudioSystem::setBufferFrameSize(AudioDeviceId device, uint32_t frames)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    if (frames == 0)
        return kAudioErrorBadArgument;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isAlive())
        return kAudioErrorDeviceGone;
    const uint32_t asked = powerOfTwoAtOrAbove(frames);
    // A server that keeps its own size (PipeWire may) is not an error: the
    // caller reads back what it settled on.
    if (jack_set_buffer_size(control_, asked) != 0)
        debugLog("JACK: Server '" + serverName_ + "' kept its buffer size instead of " + std::to_string(asked));
    bufferFrames_.store(jack_get_buffer_size(control_), std::memory_order_relaxed);
    return kAudioOk;
}

AudioStatus JackAudioSystem::getDeviceIsAlive(AudioDeviceId device, bool& alive)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    alive = isAlive();
    return kAudioOk;
}

int64_t JackAudioSystem::getDroppedFrameCount() const
{
    return droppedFrames_.load(std::memory_order_relaxed);
}

// --- Server notices -------------------------------------------------------

// Like a signal handler, on a thread of the library: atomics and a pipe only.
void JackAudioSystem::onShutdown(jack_status_t /*code*/, const char* /*reason*/, void* arg)
{
    auto* self = static_cast<JackAudioSystem*>(arg);
    self->alive_.store(false, std::memory_order_release);
    writeNotice(self->noticePipe_[1], kShutdownNotice);
}

int JackAudioSystem::onXrun(void* arg)
{
    auto* self = static_cast<JackAudioSystem*>(arg);
    self->xruns_.fetch_add(1, std::memory_order_relaxed);
    if (self->activeStreams_.load(std::memory_order_relaxed) > 0) {
        const double delayedFrames =
            std::ceil(jack_get_xrun_delayed_usecs(self->control_) * 1e-6 * self->sampleRate_.load(std::memory_order_relaxed));
        const int64_t period = self->bufferFrames_.load(std::memory_order_relaxed);
        self->droppedFrames_.fetch_add(std::max(period, static_cast<int64_t>(delayedFrames)),
                                       std::memory_order_relaxed);
    }
    return 0;
}

int JackAudioSystem::onBufferSize(jack_nframes_t frames, void* arg)
{
    static_cast<JackAudioSystem*>(arg)->bufferFrames_.store(frames, std::memory_order_relaxed);
    return 0;
}

// --- Listeners and the notification thread --------------------------------

AudioStatus JackAudioSystem::addDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                                    void* clientData)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    if (listener == nullptr)
        return kAudioErrorBadArgument;
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.push_back(Listener{device, listener, clientData});
    return kAudioOk;
}

AudioStatus JackAudioSystem::removeDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                                       void* clientData)
{
    std::lock_guard<std::mutex> dispatchLock(dispatchMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find(listeners_.begin(), listeners_.end(), Listener{device, listener, clientData});
    if (found == listeners_.end())
        return kAudioErrorBadArgument;
    listeners_.erase(found);
    return kAudioOk;
}

void JackAudioSystem::notificationThreadMain()
{
    char notice = 0;
    while (::read(noticePipe_[0], &notice, 1) == 1 && notice != kQuitNotice) {
        if (notice == kShutdownNotice) {
            debugLog("JACK: Server '" + serverName_ + "' shut down - " + deviceName() + " is gone");
            dispatchAliveChange();
        }
    }
}

void JackAudioSystem::dispatchAliveChange()
{
    std::lock_guard<std::mutex> dispatchLock(dispatchMutex_);
    std::vector<Listener> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        due = listeners_;
    }
    for (const Listener& next : due) {
        {
            // A listener removed by an earlier one in this round is not called.
            std::lock_guard<std::mutex> lock(mutex_);
            if (std::find(listeners_.begin(), listeners_.end(), next) == listeners_.end())
                continue;
        }
        next.listener(next.device, next.clientData);
    }
}

// --- Output units and direct capture --------------------------------------

AudioStatus JackAudioSystem::createOutputUnit(std::unique_ptr<AudioOutputUnit>& unit)
{
    unit = std::make_unique<JackOutputUnit>(shared_from_this());
    return kAudioOk;
}

AudioStatus JackAudioSystem::createIOProc(AudioDeviceId device, IOProc proc, void* clientData, IOProcId& id)
{
    if (device != kDeviceId)
        return kAudioErrorUnknownDevice;
    if (proc == nullptr)
        return kAudioErrorBadArgument;
    if (!isAlive())
        return kAudioErrorDeviceGone;
    auto entry = std::make_unique<IOProcEntry>();
    entry->device = device;
    entry->proc = proc;
    entry->clientData = clientData;
    std::lock_guard<std::mutex> lock(mutex_);
    id = nextIOProcId_++;
    ioProcs_[id] = std::move(entry);
    return kAudioOk;
}

AudioStatus JackAudioSystem::startIOProc(AudioDeviceId device, IOProcId id)
{
    IOProcEntry* entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = ioProcs_.find(id);
        if (device != kDeviceId || found == ioProcs_.end())
            return kAudioErrorBadArgument;
        entry = found->second.get();
    }
    if (entry->client.isStarted())
        return kAudioOk;
    if (!isAlive())
        return kAudioErrorDeviceGone;
    const std::vector<std::string> sources = physicalPorts(AudioScope::Input);
    std::string error;
    if (!entry->client.open(serverName_, clientName_ + "-capture", static_cast<uint32_t>(sources.size()), 0,
                            &JackAudioSystem::ioProcCycle, entry, error)) {
        debugLog("JACK: Direct capture on " + deviceName() + " cannot start: " + error);
        return kAudioErrorDeviceGone;
    }
    entry->buffers.assign(sources.size(), AudioBlockBuffer{});
    entry->list = AudioBlockBufferList{static_cast<uint32_t>(entry->buffers.size()), entry->buffers.data()};
    const AudioStatus status = entry->client.start(sources, {});
    if (status != kAudioOk) {
        entry->client.close();
        return status;
    }
    streamStarted();
    return kAudioOk;
}

AudioStatus JackAudioSystem::stopIOProc(AudioDeviceId device, IOProcId id)
{
    IOProcEntry* entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = ioProcs_.find(id);
        if (device != kDeviceId || found == ioProcs_.end())
            return kAudioErrorBadArgument;
        entry = found->second.get();
    }
    if (entry->client.isStarted())
        streamStopped();
    entry->client.close();
    return kAudioOk;
}

AudioStatus JackAudioSystem::destroyIOProc(AudioDeviceId device, IOProcId id)
{
    std::unique_ptr<IOProcEntry> entry;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = ioProcs_.find(id);
        if (device != kDeviceId || found == ioProcs_.end())
            return kAudioErrorBadArgument;
        entry = std::move(found->second);
        ioProcs_.erase(found);
    }
    // Destroying a running capture stops it first.
    if (entry->client.isStarted())
        streamStopped();
    entry->client.close();
    return kAudioOk;
}

// Process thread: no locks, no allocation, no logging.
void JackAudioSystem::ioProcCycle(void* opaque, uint32_t frames)
{
    auto* entry = static_cast<IOProcEntry*>(opaque);
    const uint32_t bytes = frames * static_cast<uint32_t>(sizeof(float));
    for (uint32_t k = 0; k < entry->buffers.size(); ++k) {
        // The capture only reads its input; the type is shared with outputs.
        entry->buffers[k] = AudioBlockBuffer{1, bytes, const_cast<float*>(entry->client.inputBuffer(k))};
    }
    entry->proc(entry->device, entry->list, entry->clientData);
}
