#include "controllers/MidiControllerManager.h"

#include "controllers/HidController_CL12.h"
#include "controllers/MidiControllerFactory.h"
#include "controllers/SurfaceRegistry.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/SurfaceKeys.h"

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <charconv>

namespace {

constexpr int kFindTrackLogCalls = 10;
constexpr int kFindTrackLoggedAssignments = 5;

// Shared by every caller on every thread; limits the look-up's diagnostics.
std::atomic<int> findTrackCallCount{0};

std::vector<std::string> splitAt(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// Splits "device:middle:last" at the first and the last colon.
bool splitEntry(const std::string& entry, std::string& device, std::string& middle, std::string& last)
{
    const size_t first = entry.find(':');
    const size_t lastColon = entry.rfind(':');
    if (first == std::string::npos || first == lastColon)
        return false;
    device = entry.substr(0, first);
    middle = entry.substr(first + 1, lastColon - first - 1);
    last = entry.substr(lastColon + 1);
    return true;
}

// A whole decimal integer (an optional minus sign and digits), nothing else.
bool parseDecimal(const std::string& text, int& value)
{
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(begin, end, value);
    return !text.empty() && error == std::errc() && ptr == end;
}

std::string joined(const std::vector<std::string>& parts, char separator)
{
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += separator;
        text += parts[i];
    }
    return text;
}

}  // namespace

MidiControllerManager::MidiControllerManager() = default;

MidiControllerManager::~MidiControllerManager()
{
    shutdown();
    std::lock_guard<std::mutex> lock(stateMutex_);
    faderCallback_ = nullptr;
    buttonCallback_ = nullptr;
    trackButtonCallback_ = nullptr;
    transportCallback_ = nullptr;
    syncFadersCallback_ = nullptr;
    controllerRestoredCallback_ = nullptr;
    hardwareSyncCallback_ = nullptr;
}

// --- Lifetime --------------------------------------------------------------

bool MidiControllerManager::initialize()
{
    shutDown_ = false;
    {
        std::lock_guard<std::mutex> lock(enumerationMutex_);
        if (enumerationController_)
            enumerationController_->shutdown();
        enumerationController_ = MidiControllerFactory::create();
        enumerationController_->initialize();
    }
    loadConfig();
    return true;
}

void MidiControllerManager::closeDriver(MidiControllerBase& driver)
{
    driver.closeInput();
    driver.closeOutput();
    driver.shutdown();
}

void MidiControllerManager::shutdown()
{
    // The worker may still be opening drivers and scanning with the
    // enumeration driver: it ends before any of that goes away.
    discardWatchdogRun();
    shutDown_ = true;
    for (PhysicalController& controller : controllers_) {
        if (controller.controller)
            closeDriver(*controller.controller);
    }
    std::vector<PhysicalController> retired;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        retired.swap(controllers_);
        faderAssignments_.clear();
    }
    while (!retired.empty())
        retired.pop_back();
    std::lock_guard<std::mutex> lock(enumerationMutex_);
    if (enumerationController_) {
        enumerationController_->shutdown();
        enumerationController_.reset();
    }
}

// --- Devices ---------------------------------------------------------------

int MidiControllerManager::getControllerFaderCount(const std::string& name)
{
    return SurfaceRegistry::forName(name).faderCount;
}

void MidiControllerManager::ensureEnumerationController() const
{
    if (enumerationController_)
        return;
    enumerationController_ = MidiControllerFactory::create();
    enumerationController_->initialize();
}

std::vector<std::string> MidiControllerManager::getAvailableInputDevices() const
{
    std::vector<std::string> logLines;
    std::vector<std::string> devices = scanInputDevices(logLines);
    for (const std::string& line : logLines)
        debugLog(line);
    return devices;
}

std::vector<std::string> MidiControllerManager::scanInputDevices(std::vector<std::string>& logLines) const
{
    logLines.push_back("MidiControllerManager: getAvailableInputDevices() called");
    std::vector<std::string> devices;
    {
        std::lock_guard<std::mutex> lock(enumerationMutex_);
        if (!enumerationController_)
            logLines.push_back("MidiControllerManager: Creating temp controller for enumeration");
        ensureEnumerationController();
        devices = enumerationController_->getInputDevices();
    }
    logLines.push_back("MidiControllerManager: Found " + std::to_string(devices.size()) + " MIDI device(s)");
    for (const std::string& device : devices)
        logLines.push_back("  - " + device);
    for (const SurfaceKind* kind : SurfaceRegistry::kinds()) {
        if (kind->listing == SurfaceKind::Listing::MidiSource)
            continue;
        if (kind->listing == SurfaceKind::Listing::Always || kind->isPresent()) {
            logLines.push_back(kind->presentLog);
            devices.push_back(kind->name);
        } else {
            logLines.push_back(kind->absentLog);
        }
    }
    logLines.push_back("MidiControllerManager: Returning " + std::to_string(devices.size()) + " total device(s)");
    return devices;
}

std::vector<std::string> MidiControllerManager::getAvailableOutputDevices() const
{
    std::lock_guard<std::mutex> lock(enumerationMutex_);
    ensureEnumerationController();
    return enumerationController_->getOutputDevices();
}

void MidiControllerManager::refreshAvailableDevices()
{
    {
        std::lock_guard<std::mutex> lock(enumerationMutex_);
        if (enumerationController_) {
            enumerationController_->shutdown();
            enumerationController_.reset();
        }
        ensureEnumerationController();
    }
    debugLog("MIDI devices refreshed");
}

// --- Controllers -----------------------------------------------------------

int MidiControllerManager::indexOfController(const std::string& name) const
{
    for (size_t i = 0; i < controllers_.size(); ++i) {
        if (controllers_[i].deviceName == name)
            return static_cast<int>(i);
    }
    return -1;
}

bool MidiControllerManager::isDeviceConnected(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    return indexOfController(name) >= 0;
}

bool MidiControllerManager::addController(const std::string& name, bool save)
{
    if (isDeviceConnected(name)) {
        debugLog("Controller already connected: " + name);
        return false;
    }
    PhysicalController record;
    if (!openDriver(name, networkReceiverPort_, record))
        return false;
    adoptController(std::move(record), save);
    return true;
}

bool MidiControllerManager::openDriver(const std::string& name, uint16_t networkPort, PhysicalController& record)
{
    record.deviceName = name;
    const SurfaceKind& kind = SurfaceRegistry::forName(name);
    bool hasOutput = false;
    std::unique_ptr<MidiControllerBase> driver = kind.open(name, networkPort, hasOutput);
    if (!driver)
        return false;
    record.kind = &kind;
    record.hasOutput = hasOutput;
    record.controller = std::move(driver);
    record.numBanks = 1;
    record.currentBank = 0;
    return true;
}

void MidiControllerManager::adoptController(PhysicalController record, bool save)
{
    const std::string name = record.deviceName;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        controllers_.push_back(std::move(record));
    }
    forgetSavedName(name);
    setupControllerCallbacks(controllers_.back());
    debugLog("Added controller '" + name + "' with " + std::to_string(getControllerFaderCount(name))
             + " fader(s)");
    if (save)
        saveConfig();
}

void MidiControllerManager::forgetSavedName(const std::string& name)
{
    std::erase(absentSavedControllers_, name);
}

bool MidiControllerManager::removeController(const std::string& name)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        std::erase_if(faderAssignments_, [&](const FaderAssignment& a) { return a.deviceName == name; });
    }
    const int index = indexOfController(name);  // the list changes only on this thread
    if (index < 0) {
        // The user removes a saved controller whose device is absent: it
        // must not come back at the next start.
        if (std::find(absentSavedControllers_.begin(), absentSavedControllers_.end(), name)
            != absentSavedControllers_.end()) {
            forgetSavedName(name);
            saveConfig();
        }
        return false;
    }
    closeDriver(*controllers_[static_cast<size_t>(index)].controller);
    std::unique_ptr<MidiControllerBase> retired;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        retired = std::move(controllers_[static_cast<size_t>(index)].controller);
        controllers_.erase(controllers_.begin() + index);
    }
    retired.reset();
    debugLog("Removed controller: " + name);
    saveConfig();
    return true;
}

void MidiControllerManager::removeAllControllers()
{
    for (PhysicalController& controller : controllers_)
        closeDriver(*controller.controller);
    std::vector<PhysicalController> retired;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        retired.swap(controllers_);
        faderAssignments_.clear();
    }
    retired.clear();
    absentSavedControllers_.clear();
    saveConfig();
    debugLog("Removed all controllers");
}

bool MidiControllerManager::everySavedControllerConnected(const std::string& saved) const
{
    for (const std::string& name : splitAt(saved, '|')) {
        if (!name.empty() && !isDeviceConnected(name))
            return false;
    }
    return true;
}

void MidiControllerManager::checkAndRestoreControllers()
{
    if (restoring_ || watchdogInFlight_)
        return;
    restoring_ = true;
    reopenLostSurfaces();
    const std::string saved = ConfigManager::getInstance()->getString(SurfaceKeys::kControllers, "");
    if (saved.empty()) {
        restoring_ = false;
        return;
    }
    // Nothing to bring back: no scan, which would otherwise run (and log)
    // every 2 seconds for as long as the program runs.
    if (everySavedControllerConnected(saved)) {
        restoring_ = false;
        return;
    }
    std::vector<std::string> logLines;
    const std::vector<std::string> devices = scanInputDevices(logLines);
    if (devices != lastWatchdogDevices_) {
        for (const std::string& line : logLines)
            debugLog(line);
        lastWatchdogDevices_ = devices;
    }
    for (const std::string& name : splitAt(saved, '|')) {
        if (name.empty() || std::find(devices.begin(), devices.end(), name) == devices.end()
            || isDeviceConnected(name))
            continue;
        debugLog("Auto-reconnecting previously configured controller: " + name);
        if (!addController(name, false)) {
            debugLog("Failed to auto-reconnect controller: " + name);
            continue;
        }
        announceRestored(name);
    }
    restoring_ = false;
}

void MidiControllerManager::announceRestored(const std::string& name)
{
    debugLog("Successfully restored controller: " + name);
    const auto count = std::count_if(faderAssignments_.begin(), faderAssignments_.end(),
                                     [&](const FaderAssignment& a) { return a.deviceName == name; });
    if (count > 0)
        debugLog("Restored " + std::to_string(count) + " fader assignments for " + name);
    syncFaderPositionsWithHardware();
    if (controllerRestoredCallback_)
        controllerRestoredCallback_(name);
}

void MidiControllerManager::announceReopened(const std::string& name)
{
    debugLog("Successfully reopened controller: " + name);
    syncFaderPositionsWithHardware();
    if (controllerRestoredCallback_)
        controllerRestoredCallback_(name);
}

void MidiControllerManager::reopenLostSurfaces()
{
    for (size_t i = 0; i < controllers_.size(); ++i) {
        std::optional<Replacement> replacement = prepareReplacement(controllers_[i]);
        if (!replacement)
            continue;
        startReplacement(*replacement);
        adoptReplacement(*replacement);
    }
}

std::vector<MidiControllerManager::Replacement> MidiControllerManager::prepareReplacements()
{
    std::vector<Replacement> replacements;
    for (PhysicalController& controller : controllers_) {
        if (std::optional<Replacement> replacement = prepareReplacement(controller))
            replacements.push_back(std::move(*replacement));
    }
    return replacements;
}

std::optional<MidiControllerManager::Replacement> MidiControllerManager::prepareReplacement(PhysicalController& record)
{
    const SurfaceKind* kind = record.kind;
    if (kind == nullptr || !kind->reopenedWhenLost() || !kind->isLost(*record.controller) || !kind->isBack())
        return std::nullopt;
    debugLog("Reopening unplugged controller: " + record.deviceName);
    Replacement replacement;
    replacement.name = record.deviceName;
    replacement.lost = record.controller.get();
    replacement.driver = kind->makeReplacement(*record.controller);
    replacement.start = kind->startReplacement;
    // Events of the fresh driver reach the window from its start on, as
    // they did when the lost driver was reopened in place.
    installRelays(record.deviceName, *replacement.driver);
    return replacement;
}

void MidiControllerManager::startReplacement(Replacement& replacement)
{
    replacement.ok = replacement.start(*replacement.driver);
}

void MidiControllerManager::adoptReplacement(Replacement& replacement)
{
    if (!replacement.ok) {
        debugLog("Failed to reopen controller: " + replacement.name);
        closeDriver(*replacement.driver);
        return;
    }
    const int index = indexOfController(replacement.name);
    if (index < 0 || controllers_[static_cast<size_t>(index)].controller.get() != replacement.lost) {
        closeDriver(*replacement.driver);  // removed by hand meanwhile
        return;
    }
    PhysicalController& record = controllers_[static_cast<size_t>(index)];
    closeDriver(*record.controller);
    std::unique_ptr<MidiControllerBase> retired;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        retired = std::exchange(record.controller, std::move(replacement.driver));
    }
    retired.reset();
    announceReopened(replacement.name);
}

// --- The watchdog off the GUI thread ----------------------------------------

void MidiControllerManager::startWatchdogRun()
{
    if (restoring_ || watchdogInFlight_ || shutDown_)
        return;
    // Whether an unplugged surface of the list is back is a quick listing,
    // made here; its fresh driver is started on the worker. The record,
    // its assignments and its relays stay where the window uses them.
    std::vector<Replacement> replacements = prepareReplacements();
    const std::string saved = ConfigManager::getInstance()->getString(SurfaceKeys::kControllers, "");
    const bool missing = !saved.empty() && !everySavedControllerConnected(saved);
    // Nothing to bring back: no worker, no scan, no log.
    if (replacements.empty() && !missing)
        return;
    std::vector<std::string> connected;
    for (const PhysicalController& controller : controllers_)
        connected.push_back(controller.deviceName);
    if (!watchdogWatcher_) {
        watchdogWatcher_ = std::make_unique<QFutureWatcher<void>>();
        QObject::connect(watchdogWatcher_.get(), &QFutureWatcher<void>::finished, watchdogWatcher_.get(),
                         [this] { adoptWatchdogRun(); });
    }
    watchdogRun_ = std::make_unique<WatchdogRun>();
    watchdogRun_->replacements = std::move(replacements);
    watchdogRun_->scan = missing;
    watchdogInFlight_ = true;
    WatchdogRun* run = watchdogRun_.get();
    // Release: the worker reads this run's inputs after its acquire.
    run->handedOver.store(true, std::memory_order_release);
    watchdogWatcher_->setFuture(
        QtConcurrent::run([this, run, saved, connected = std::move(connected), lastDevices = lastWatchdogDevices_,
                           port = networkReceiverPort_] {
            run->handedOver.load(std::memory_order_acquire);
            runOnWorker(*run, saved, connected, lastDevices, port);
            // Release: the GUI thread adopts what was opened after its acquire.
            run->done.store(true, std::memory_order_release);
        }));
}

void MidiControllerManager::runOnWorker(WatchdogRun& run, const std::string& saved, const std::vector<std::string>& connected,
                                        const std::vector<std::string>& lastDevices, uint16_t port) const
{
    const HidController_CL12::DeferInstructions deferBox;
    for (Replacement& replacement : run.replacements)
        startReplacement(replacement);
    if (!run.scan)
        return;
    std::vector<std::string> logLines;
    run.devices = scanInputDevices(logLines);
    if (run.devices != lastDevices) {
        for (const std::string& line : logLines)
            debugLog(line);
    }
    for (const std::string& name : splitAt(saved, '|')) {
        if (name.empty() || std::find(run.devices.begin(), run.devices.end(), name) == run.devices.end()
            || std::find(connected.begin(), connected.end(), name) != connected.end())
            continue;
        debugLog("Auto-reconnecting previously configured controller: " + name);
        PhysicalController record;
        const bool opened = openDriver(name, port, record);
        run.restored.push_back(WatchdogRun::Opened{name, opened, std::move(record)});
    }
}

void MidiControllerManager::adoptWatchdogRun()
{
    if (!watchdogInFlight_)
        return;
    watchdogInFlight_ = false;
    std::unique_ptr<WatchdogRun> run = std::move(watchdogRun_);
    run->done.load(std::memory_order_acquire);  // the future has finished: true
    // Under restoring_, as in checkAndRestoreControllers: a watchdog tick
    // inside the box's modal loop does nothing.
    restoring_ = true;
    HidController_CL12::presentDeferredInstructions();
    for (Replacement& replacement : run->replacements)
        adoptReplacement(replacement);
    if (run->scan)
        lastWatchdogDevices_ = run->devices;
    for (WatchdogRun::Opened& opened : run->restored) {
        if (!opened.ok) {
            debugLog("Failed to auto-reconnect controller: " + opened.name);
            continue;
        }
        if (isDeviceConnected(opened.name)) {  // added by hand meanwhile
            debugLog("Controller already connected: " + opened.name);
            closeDriver(*opened.record.controller);
            continue;
        }
        adoptController(std::move(opened.record), false);
        announceRestored(opened.name);
    }
    restoring_ = false;
}

void MidiControllerManager::discardWatchdogRun()
{
    if (!watchdogInFlight_)
        return;
    watchdogWatcher_->disconnect();
    watchdogWatcher_->waitForFinished();
    watchdogInFlight_ = false;
    std::unique_ptr<WatchdogRun> run = std::move(watchdogRun_);
    run->done.load(std::memory_order_acquire);
    for (Replacement& replacement : run->replacements)
        closeDriver(*replacement.driver);
    for (WatchdogRun::Opened& opened : run->restored) {
        if (opened.record.controller)
            closeDriver(*opened.record.controller);
    }
}

bool MidiControllerManager::stepBankLocked(PhysicalController& controller, bool up)
{
    if (up) {
        if (controller.currentBank >= controller.numBanks - 1)
            return false;
        ++controller.currentBank;
    } else {
        if (controller.currentBank < 1)
            return false;
        --controller.currentBank;
    }
    return true;
}

void MidiControllerManager::handleHardwareBankChange(PhysicalController& controller, bool up)
{
    std::function<void()> sync;
    int bank = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!stepBankLocked(controller, up))
            return;
        bank = controller.currentBank;
        sync = syncFadersCallback_;
    }
    debugLog("Hardware bank change: " + controller.deviceName + " now on Bank " + std::to_string(bank + 1));
    if (sync)
        sync();
}

// --- Assignments -----------------------------------------------------------

bool MidiControllerManager::assignFader(const std::string& device, int fader, int track)
{
    if (track < 0 || track >= kTrackCount) {
        debugLog("Invalid track index: " + std::to_string(track));
        return false;
    }
    if (!isDeviceConnected(device)) {
        debugLog("Controller not found: " + device);
        return false;
    }
    const int count = getControllerFaderCount(device);
    if (fader < 0 || fader >= count) {
        debugLog("Invalid fader index: " + std::to_string(fader) + " (max: " + std::to_string(count) + ")");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        std::erase_if(faderAssignments_, [track](const FaderAssignment& a) { return a.trackIndex == track; });
        faderAssignments_.push_back(FaderAssignment{device, fader, track});
    }
    debugLog("Assigned " + device + " Fader " + std::to_string(fader + 1) + " to Track " + std::to_string(track + 1));
    saveConfig();
    return true;
}

bool MidiControllerManager::removeFaderAssignment(const std::string& device, int fader, int track)
{
    size_t removed = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        removed = std::erase_if(faderAssignments_, [&](const FaderAssignment& a) {
            return a.deviceName == device && a.faderIndex == fader && a.trackIndex == track;
        });
    }
    if (removed == 0)
        return false;
    debugLog("Removed assignment for " + device + " Fader " + std::to_string(fader + 1) + " -> Track "
             + std::to_string(track + 1));
    saveConfig();
    return true;
}

void MidiControllerManager::removeAllFaderAssignments()
{
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        faderAssignments_.clear();
    }
    saveConfig();
    debugLog("Removed all fader assignments");
}

int MidiControllerManager::findTrackForFader(const std::string& device, int fader) const
{
    const bool logThis = findTrackCallCount.fetch_add(1, std::memory_order_relaxed) < kFindTrackLogCalls;
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (logThis) {
        debugLog("findTrackForFader: Looking for device='" + device + "' faderIndex=" + std::to_string(fader));
        debugLog("  Total assignments: " + std::to_string(faderAssignments_.size()));
        for (size_t i = 0; i < faderAssignments_.size() && i < kFindTrackLoggedAssignments; ++i) {
            const FaderAssignment& a = faderAssignments_[i];
            debugLog("  Assignment[" + std::to_string(i) + "]: device='" + a.deviceName + "' fader="
                     + std::to_string(a.faderIndex) + " track=" + std::to_string(a.trackIndex));
        }
    }
    for (const FaderAssignment& a : faderAssignments_) {
        if (a.deviceName == device && a.faderIndex == fader) {
            if (logThis)
                debugLog("  FOUND: trackIndex=" + std::to_string(a.trackIndex));
            return a.trackIndex;
        }
    }
    if (logThis)
        debugLog("  NOT FOUND: No assignment for device='" + device + "' faderIndex=" + std::to_string(fader));
    return -1;
}

int MidiControllerManager::getTrackForFader(const std::string& device, int fader) const
{
    return findTrackForFader(device, fader);
}

std::vector<std::pair<std::string, int>> MidiControllerManager::findFadersForTrack(int track) const
{
    std::vector<std::pair<std::string, int>> faders;
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (const FaderAssignment& a : faderAssignments_) {
        if (a.trackIndex == track)
            faders.emplace_back(a.deviceName, a.faderIndex);
    }
    return faders;
}

bool MidiControllerManager::isTrackMappedToCantarem(int track) const
{
    if (track < 0 || track >= kTrackCount)
        return false;
    std::lock_guard<std::mutex> lock(stateMutex_);
    return std::any_of(faderAssignments_.begin(), faderAssignments_.end(), [track](const FaderAssignment& a) {
        return a.trackIndex == track && SurfaceRegistry::faderOwnsLevel(a.deviceName);
    });
}

// --- Configuration ---------------------------------------------------------

void MidiControllerManager::loadConfig()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (const std::string& name : splitAt(config->getString(SurfaceKeys::kControllers, ""), '|')) {
        if (name.empty())
            continue;
        if (!addController(name, false)
            && std::find(absentSavedControllers_.begin(), absentSavedControllers_.end(), name)
                   == absentSavedControllers_.end()
            && !isDeviceConnected(name))
            absentSavedControllers_.push_back(name);
    }
    loadAssignments(config->getString(SurfaceKeys::kFaderAssignments, ""));
    const std::string legacy = config->getString(SurfaceKeys::kLegacyAssignments, "");
    if (!legacy.empty())
        migrateLegacyAssignments(legacy);
}

void MidiControllerManager::loadAssignments(const std::string& value)
{
    for (const std::string& entry : splitAt(value, '|')) {
        if (entry.empty())
            continue;
        std::string device;
        std::string faderText;
        std::string trackText;
        int fader = 0;
        int track = 0;
        if (!splitEntry(entry, device, faderText, trackText))
            continue;
        // An entry that would index outside the tracks or the device's
        // faders is refused here, so no reader has to trust the file.
        std::string problem;
        const int count = getControllerFaderCount(device);
        if (!parseDecimal(faderText, fader) || !parseDecimal(trackText, track))
            problem = "fader or track is not a number";
        else if (track < 0 || track >= kTrackCount)
            problem = "track " + std::to_string(track) + " is outside 0-31";
        else if (fader < 0 || fader >= count)
            problem = "fader " + std::to_string(fader) + " is outside 0-" + std::to_string(count - 1);
        if (!problem.empty()) {
            debugLog("Skipped fader assignment '" + entry + "': " + problem);
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            faderAssignments_.push_back(FaderAssignment{device, fader, track});
        }
        debugLog("Loaded fader assignment: " + device + " Fader " + std::to_string(fader + 1) + " -> Track "
                 + std::to_string(track + 1)
                 + (isDeviceConnected(device) ? " (controller connected)" : " (controller not connected)"));
    }
}

void MidiControllerManager::migrateLegacyAssignments(const std::string& value)
{
    debugLog("Migrating old bank-based assignments to fader assignments...");
    for (const std::string& entry : splitAt(value, '|')) {
        std::string device;
        std::string bankText;
        std::string trackBankText;
        int bank = 0;
        int trackBank = 0;
        if (entry.empty() || !splitEntry(entry, device, bankText, trackBankText) || !isDeviceConnected(device))
            continue;
        if (!parseDecimal(bankText, bank) || !parseDecimal(trackBankText, trackBank) || bank < 0 || trackBank < 0) {
            debugLog("Skipped old assignment '" + entry + "': bank or track bank is not a number from 0");
            continue;
        }
        const int fadersPerBank = SurfaceRegistry::forName(device).fadersPerBank;
        const int count = getControllerFaderCount(device);
        for (int k = 0; k < fadersPerBank; ++k) {
            const long long fader = static_cast<long long>(bank) * fadersPerBank + k;
            const long long track = static_cast<long long>(trackBank) * 8 + k;
            if (fader >= count)
                break;
            if (track >= kTrackCount)
                continue;
            {
                std::lock_guard<std::mutex> lock(stateMutex_);
                faderAssignments_.push_back(
                    FaderAssignment{device, static_cast<int>(fader), static_cast<int>(track)});
            }
            debugLog("Migrated: " + device + " Fader " + std::to_string(fader + 1) + " -> Track "
                     + std::to_string(track + 1));
        }
    }
    ConfigManager::getInstance()->setString(SurfaceKeys::kLegacyAssignments, "");
    saveConfig();
}

void MidiControllerManager::saveConfig()
{
    std::vector<std::string> names;
    for (const PhysicalController& controller : controllers_)
        names.push_back(controller.deviceName);
    for (const std::string& name : absentSavedControllers_) {
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    std::vector<std::string> entries;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        for (const FaderAssignment& a : faderAssignments_)
            entries.push_back(a.deviceName + ":" + std::to_string(a.faderIndex) + ":" + std::to_string(a.trackIndex));
    }
    ConfigManager* config = ConfigManager::getInstance();
    config->setString(SurfaceKeys::kControllers, joined(names, '|'));
    config->setString(SurfaceKeys::kFaderAssignments, joined(entries, '|'));
    config->saveConfig("");
}
