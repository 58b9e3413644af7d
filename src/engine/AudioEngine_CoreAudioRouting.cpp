// Routing: port names resolved to channel indexes and published to the audio
// thread as immutable snapshots. Publishers run on the GUI thread under
// routingMutex_; the render callback only loads the snapshot pointer.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"
#include "engine/render/PortIndex.h"

#include <cmath>
#include <unordered_map>

using namespace PortIndex;

namespace {

const std::string kNoInputName = "(None)";

}  // namespace

void AudioEngine_CoreAudio::publishRoutingSnapshotLocked()
{
    auto snapshot = std::make_shared<RoutingSnapshot>();
    snapshot->trackInputs = trackInputIndices_;
    snapshot->trackOutputs = trackOutputIndices_;
    snapshot->mixOutputs = mixOutputIndices_;
    snapshot->comsOutputs = comsOutputIndices_;
    snapshot->monitorOutputs = monitorOutputIndices_;
    snapshot->ltcGeneratorOutputs = ltcGenOutputIndices_;
    snapshot->auxOutputs = auxOutputIndices_;
    snapshot->slateInput = slateInputIndex_;
    snapshot->com1Input = comInput1Index_;
    snapshot->com2Input = comInput2Index_;
    snapshot->ltcInput = ltcInputIndex_;

    std::shared_ptr<const RoutingSnapshot> old = std::move(currentRoutingSnapshot_);
    currentRoutingSnapshot_ = std::move(snapshot);
    // Sequentially consistent: a block that increments the render counter
    // after this exchange loads the new snapshot, so two further increments
    // mean no block still reads the old one.
    routingSnapshot_.exchange(currentRoutingSnapshot_.get());
    if (old)
        retireAfterTwoRenderCycles(std::move(old));
}

std::shared_ptr<const RoutingSnapshot> AudioEngine_CoreAudio::getRoutingSnapshot() const
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    return currentRoutingSnapshot_;
}

void AudioEngine_CoreAudio::setInputRouting(const std::vector<std::string>& inputPorts)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    trackInputIndices_.assign(inputPorts.size(), RoutingSnapshot::kNoChannel);
    debugLog("CoreAudio: setInputRouting with " + std::to_string(inputPorts.size()) + " tracks");
    debugLog("CoreAudio: Available inputs: " + std::to_string(inputChannelNames_.size()));
    for (size_t i = 0; i < inputPorts.size(); ++i) {
        const std::string& name = inputPorts[i];
        const std::string track = std::to_string(i);
        if (name.empty() || name == kNoInputName)
            continue;
        if (name == kLtcGeneratorInputName) {
            trackInputIndices_[i] = RoutingSnapshot::kLtcGeneratorChannel;
            debugLog("CoreAudio: Track " + track + " -> LTCGEN (virtual)");
            continue;
        }
        const int index = firstIndexOf(inputChannelNames_, name);
        if (index < 0) {
            debugLog("CoreAudio: Track " + track + " - input not found: " + name);
            continue;
        }
        trackInputIndices_[i] = index;
        debugLog("CoreAudio: Track " + track + " -> Input " + std::to_string(index) + " (" + name + ")");
    }
    publishRoutingSnapshotLocked();
}

void AudioEngine_CoreAudio::applyOutputRouting(const std::vector<std::vector<std::string>>& routingMatrix,
                                               const std::vector<std::map<std::string, bool>>& /*routingStates*/,
                                               const std::vector<std::string>& outputPortNames,
                                               const std::vector<std::string>& /*unusedPortNames*/,
                                               const std::vector<std::string>& mixOutputPorts,
                                               const std::vector<std::string>& comsOutputPorts,
                                               const std::vector<std::string>& ltcGenOutputPorts)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    const std::unordered_map<std::string, int> outputIndexes = lastIndexByName(outputPortNames);

    trackOutputIndices_.clear();
    for (const std::vector<std::string>& row : routingMatrix)
        trackOutputIndices_.push_back(resolveAll(outputIndexes, row));

    debugLog("CoreAudio: applyOutputRouting called, BEFORE clear mixOutputIndices_.size()="
             + std::to_string(mixOutputIndices_.size()));
    mixOutputIndices_.clear();
    debugLog("CoreAudio: Applying mix routing, mixOutputPorts count=" + std::to_string(mixOutputPorts.size()));
    for (const std::string& name : mixOutputPorts) {
        debugLog("CoreAudio: Looking for mix output port: " + name);
        const auto found = outputIndexes.find(name);
        if (found == outputIndexes.end()) {
            debugLog("CoreAudio: Mix output port NOT FOUND: " + name);
            continue;
        }
        mixOutputIndices_.push_back(found->second);
        debugLog("CoreAudio: Mix routed to output index " + std::to_string(found->second) + " (" + name + ")");
    }
    debugLog("CoreAudio: Final mixOutputIndices_ count=" + std::to_string(mixOutputIndices_.size()));

    comsOutputIndices_ = resolveAll(outputIndexes, comsOutputPorts);
    ltcGenOutputIndices_ = resolveAll(outputIndexes, ltcGenOutputPorts);

    const auto resolveInput = [this](const std::string& port, const std::string& resolvedText,
                                     const std::string& notFoundText) {
        if (port.empty())
            return static_cast<int>(RoutingSnapshot::kNoChannel);
        const int index = firstIndexOf(inputChannelNames_, port);
        if (index < 0)
            debugLog(notFoundText + port);
        else
            debugLog(resolvedText + std::to_string(index) + " (" + port + ")");
        return index;
    };
    slateInputIndex_ = resolveInput(slateMicPort_, "CoreAudio: Slate Mic resolved to input index ",
                                    "CoreAudio: Slate Mic port NOT FOUND: ");
    comInput1Index_ = resolveInput(comInput1Port_, "CoreAudio: COM1 resolved to input index ",
                                   "CoreAudio: COM1 port NOT FOUND: ");
    comInput2Index_ = resolveInput(comInput2Port_, "CoreAudio: COM2 resolved to input index ",
                                   "CoreAudio: COM2 port NOT FOUND: ");
    publishRoutingSnapshotLocked();
}

void AudioEngine_CoreAudio::setComsOutputPorts(const std::vector<std::string>& ports)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    comsOutputIndices_.clear();
    for (const std::string& name : ports) {
        const int index = firstIndexOf(outputChannelNames_, name);
        if (index >= 0)
            comsOutputIndices_.push_back(index);
    }
    publishRoutingSnapshotLocked();
}

std::vector<int> AudioEngine_CoreAudio::getMixOutputIndices() const
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    return mixOutputIndices_;
}

std::vector<int> AudioEngine_CoreAudio::getComsOutputIndices() const
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    return comsOutputIndices_;
}

std::vector<int> AudioEngine_CoreAudio::getMonitorOutputIndices() const
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    return monitorOutputIndices_;
}

void AudioEngine_CoreAudio::setMixOutputPort(const std::string& port)
{
    mixOutputPort_ = port;
}

void AudioEngine_CoreAudio::setSlateMicPort(const std::string& port)
{
    slateMicPort_ = port;
}

void AudioEngine_CoreAudio::setComInput1Port(const std::string& port)
{
    comInput1Port_ = port;
}

void AudioEngine_CoreAudio::setComInput2Port(const std::string& port)
{
    comInput2Port_ = port;
}

void AudioEngine_CoreAudio::setSlateMicInputEnabled(bool enabled)
{
    slateInputEnabled_.store(enabled, std::memory_order_relaxed);
}

void AudioEngine_CoreAudio::enableSlateMic(bool enabled)
{
    slateIntoBuses_.store(enabled, std::memory_order_relaxed);
}

void AudioEngine_CoreAudio::setSlateMicMonitorOnly(bool monitorOnly)
{
    slateMonitorOnly_.store(monitorOnly, std::memory_order_relaxed);
}

void AudioEngine_CoreAudio::setSlateMicGain(int gainDb)
{
    slateGainDb_.store(gainDb, std::memory_order_relaxed);
    slateGainLinear_.store(std::pow(10.0f, static_cast<float>(gainDb) / 20.0f), std::memory_order_relaxed);
}

void AudioEngine_CoreAudio::setComInput1Enabled(bool enabled)
{
    comInput1Enabled_.store(enabled, std::memory_order_relaxed);
}

void AudioEngine_CoreAudio::setComInput2Enabled(bool enabled)
{
    comInput2Enabled_.store(enabled, std::memory_order_relaxed);
}

void AudioEngine_CoreAudio::enableSlateMicToCom(bool enabled)
{
    slateIntoComs_.store(enabled, std::memory_order_relaxed);
}

void AudioEngine_CoreAudio::cleanupComPorts() {}
