#include "controllers/MidiControllerManager.h"

#include "controllers/SurfaceRegistry.h"
#include "core/DebugLog.h"

#include <algorithm>

// The event relays (drivers' threads) and the fader feedback (GUI thread).

namespace {

constexpr int kLoggedFaderEvents = 20;
constexpr int kUnassignedLogInterval = 100;
constexpr int kStripButtonCount = 12;

// Shared by every controller on every thread; they only limit the logging.
std::atomic<int> faderEventCount{0};
std::atomic<int> unassignedFaderEventCount{0};

const char* trueFalse(bool value)
{
    return value ? "true" : "false";
}

}  // namespace

// --- Registering the window's callbacks --------------------------------------

void MidiControllerManager::setFaderCallback(std::function<void(int, int)> callback)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        faderCallback_ = std::move(callback);
    }
    debugLog("Setting fader callback for " + std::to_string(controllers_.size()) + " controllers");
    for (PhysicalController& controller : controllers_) {
        debugLog("  Setting up callbacks for: " + controller.deviceName);
        setupControllerCallbacks(controller);
    }
    std::vector<FaderAssignment> assignments;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        assignments = faderAssignments_;
    }
    debugLog("Current fader assignments: " + std::to_string(assignments.size()));
    for (const FaderAssignment& a : assignments) {
        debugLog("  " + a.deviceName + " fader " + std::to_string(a.faderIndex + 1) + " -> track "
                 + std::to_string(a.trackIndex + 1));
    }
}

void MidiControllerManager::setButtonCallback(std::function<void(int, bool)> callback)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        buttonCallback_ = std::move(callback);
    }
    for (PhysicalController& controller : controllers_)
        setupControllerCallbacks(controller);
}

void MidiControllerManager::setTrackButtonCallback(std::function<void(int, bool)> callback)
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    trackButtonCallback_ = std::move(callback);
}

void MidiControllerManager::setTransportCallback(std::function<void(TransportButton, bool)> callback)
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    transportCallback_ = std::move(callback);
}

void MidiControllerManager::setSyncFadersCallback(std::function<void()> callback)
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    syncFadersCallback_ = std::move(callback);
}

void MidiControllerManager::setControllerRestoredCallback(std::function<void(const std::string&)> callback)
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    controllerRestoredCallback_ = std::move(callback);
}

void MidiControllerManager::setHardwareSyncCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    hardwareSyncCallback_ = std::move(callback);
}

void MidiControllerManager::setupControllerCallbacks(PhysicalController& controller)
{
    if (!controller.controller) {
        debugLog("setupControllerCallbacks: controller is null!");
        return;
    }
    debugLog("setupControllerCallbacks: Setting fader callback for " + controller.deviceName);
    installRelays(controller.deviceName, *controller.controller);
}

void MidiControllerManager::installRelays(const std::string& deviceName, MidiControllerBase& driver)
{
    // Each relay keeps its own copy of the name: the record may move in the list.
    const std::string name = deviceName;
    driver.setFaderCallback([this, name](int fader, int value) { relayFader(name, fader, value); });
    driver.setButtonCallback([this, name](int button, bool pressed) { relayButton(name, button, pressed); });
    driver.setKnobCallback([this](int knob, int value) { relayKnob(knob, value); });
}

// --- Relays (driver's event thread) ----------------------------------------------

void MidiControllerManager::relayFader(const std::string& device, int fader, int value)
{
    // A malformed message must not drive a fader past its ends.
    value = std::clamp(value, 0, kFaderTopValue);
    const int track = findTrackForFader(device, fader);
    const bool logThis = faderEventCount.fetch_add(1, std::memory_order_relaxed) < kLoggedFaderEvents;
    if (logThis) {
        debugLog("MidiControllerManager fader callback: device=" + device + " faderIndex=" + std::to_string(fader)
                 + " value=" + std::to_string(value) + " -> trackIndex=" + std::to_string(track));
    }
    if (track == -1) {
        const int unassigned = unassignedFaderEventCount.fetch_add(1, std::memory_order_relaxed) + 1;
        if (unassigned % kUnassignedLogInterval == 0)
            debugLog("Fader " + device + ":" + std::to_string(fader) + " not assigned to any track");
        return;
    }
    std::function<void(int, int)> callback;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        callback = faderCallback_;
    }
    if (!callback || track < 0 || track >= kTrackCount) {
        debugLog("ERROR: faderCallback_ is NULL or trackIndex invalid!");
        return;
    }
    if (logThis)
        debugLog("Calling MainWindow faderCallback: trackIndex=" + std::to_string(track) + " value="
                 + std::to_string(value));
    callback(track, value);
}

void MidiControllerManager::relayButton(const std::string& device, int button, bool pressed)
{
    bool drivesGlobalKeys = false;
    int numBanks = 1;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        const int index = indexOfController(device);
        if (index < 0)
            return;  // removed while the event was on its way
        const PhysicalController& controller = controllers_[static_cast<size_t>(index)];
        drivesGlobalKeys = controller.kind != nullptr && controller.kind->drivesGlobalKeys;
        numBanks = controller.numBanks;
    }

    if (button < 0) {
        const int transport = ~button;
        debugLog("Transport button: " + std::to_string(transport) + " pressed=" + trueFalse(pressed)
                 + " numBanks=" + std::to_string(numBanks));
        if (transport >= kTransportButtonCount)
            return;
        const TransportButton which = transportButtonFromNumber(button);
        const bool bankButton = which == TransportButton::TrackLeft || which == TransportButton::TrackRight;
        if (pressed && numBanks > 1 && bankButton) {
            const bool up = which == TransportButton::TrackRight;
            debugLog(up ? "TrackRight pressed - switching bank UP" : "TrackLeft pressed - switching bank DOWN");
            std::function<void()> sync;
            int bank = 0;
            {
                std::lock_guard<std::mutex> lock(stateMutex_);
                const int index = indexOfController(device);
                if (index < 0 || !stepBankLocked(controllers_[static_cast<size_t>(index)], up))
                    return;
                bank = controllers_[static_cast<size_t>(index)].currentBank;
                sync = syncFadersCallback_;
            }
            debugLog("Hardware bank change: " + device + " now on Bank " + std::to_string(bank + 1));
            if (sync)
                sync();
            return;
        }
        std::function<void(TransportButton, bool)> callback;
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            callback = transportCallback_;
        }
        if (callback)
            callback(which, pressed);
        return;
    }

    if (button < kStripButtonCount) {
        const int track = findTrackForFader(device, button);
        if (track < 0)
            return;
        debugLog("Button: track=" + std::to_string(track + 1) + " pressed=" + trueFalse(pressed));
        std::function<void(int, bool)> callback;
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            callback = trackButtonCallback_;
        }
        if (callback && track < kTrackCount)
            callback(track, pressed);
        return;
    }

    debugLog("Global button: index=" + std::to_string(button) + " pressed=" + trueFalse(pressed));
    if (!drivesGlobalKeys) {
        debugLog("  -> ignored: global buttons act only from the Cantarem 2 (" + device + ")");
        return;
    }
    std::function<void(int, bool)> callback;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        callback = buttonCallback_;
    }
    if (callback)
        callback(button, pressed);
}

void MidiControllerManager::relayKnob(int knob, int value)
{
    debugLog("Knob: ch=" + std::to_string(knob) + " val=" + std::to_string(value));
}

// --- Feedback (GUI thread) ----------------------------------------------------------

bool MidiControllerManager::sendFaderPosition(int track, int value)
{
    if (track < 0 || track >= kTrackCount)
        return false;
    value = std::clamp(value, 0, kFaderTopValue);
    for (const auto& [device, fader] : findFadersForTrack(track)) {
        if (!SurfaceRegistry::forName(device).takesFaderPositions)
            continue;  // its driver reads those faders but never moves them
        // A fader that several tracks are assigned to drives only the first
        // of them; the others' positions would pull it away from the level
        // it controls, and its next move would make that track jump.
        if (findTrackForFader(device, fader) != track)
            continue;
        const int index = indexOfController(device);
        if (index < 0)
            continue;
        PhysicalController& controller = controllers_[static_cast<size_t>(index)];
        if (controller.hasOutput && controller.controller)
            controller.controller->sendFaderPosition(fader, value);
    }
    return true;
}

bool MidiControllerManager::sendButtonLED(int index, bool on)
{
    if (index < 0 || index >= kTrackCount)
        return false;
    for (PhysicalController& controller : controllers_) {
        if (controller.hasOutput && controller.controller)
            controller.controller->sendButtonLED(index, on);
    }
    return true;
}

std::map<std::string, std::vector<int>> MidiControllerManager::getCurrentFaderPositions() const
{
    std::map<std::string, std::vector<int>> positions;
    for (const PhysicalController& controller : controllers_) {
        if (!controller.controller || controller.kind == nullptr || controller.kind->readBackLabel.empty())
            continue;
        const SurfaceKind& kind = *controller.kind;
        if (kind.positionsKnown != nullptr && !kind.positionsKnown(*controller.controller)) {
            debugLog(kind.notReadYetLog);
            continue;
        }
        positions[controller.deviceName] = controller.controller->getCurrentFaderPositions();
        debugLog("Got " + std::to_string(positions[controller.deviceName].size()) + " fader positions from "
                 + kind.readBackLabel);
    }
    return positions;
}

void MidiControllerManager::syncFaderPositionsWithHardware()
{
    const std::map<std::string, std::vector<int>> positions = getCurrentFaderPositions();
    std::function<void(int, int)> callback;
    std::vector<FaderAssignment> assignments;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        callback = hardwareSyncCallback_;
        assignments = faderAssignments_;
    }
    for (const PhysicalController& controller : controllers_) {
        auto entry = positions.find(controller.deviceName);
        if (entry == positions.end())
            continue;
        for (const FaderAssignment& a : assignments) {
            if (a.deviceName != controller.deviceName || a.faderIndex < 0
                || a.faderIndex >= static_cast<int>(entry->second.size()))
                continue;
            const int value = entry->second[static_cast<size_t>(a.faderIndex)];
            if (callback)
                callback(a.trackIndex, value);
            debugLog("Synced Cantarem fader " + std::to_string(a.faderIndex) + " hardware position: "
                     + std::to_string(value) + " -> track " + std::to_string(a.trackIndex));
        }
    }
}
