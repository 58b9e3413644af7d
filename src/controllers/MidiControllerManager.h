#pragma once

#include "controllers/FaderAssignment.h"
#include "controllers/MidiControllerBase.h"
#include "controllers/PhysicalController.h"
#include "controllers/TransportButton.h"

#include <QFutureWatcher>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Owns every connected control surface and the map from hardware faders to
// tracks (tracks 0 to 31; at most one fader per track, one fader may drive
// several tracks, and only the first of them in list order follows it).
// Persists both in "midi.controllers" and "midi.faderAssignments", migrates
// the older "midi.assignments", and brings saved controllers back when their
// device shows up (checkAndRestoreControllers, the 2-second watchdog).
//
// Events from the drivers pass through the relays to the window's callbacks:
// - fader (track, value 0..16383) for an assigned fader;
// - track button (track, pressed) for a strip button 0-11 whose fader drives
//   a track: the track, never the button number, so it cannot be mistaken
//   for a global button;
// - button (button, pressed) for the global buttons 12 and up, only from a
//   surface whose kind drives the global keys, the Cantarem 2 (a keyboard's
//   note 12 must not start a take);
// - transport (button, pressed).
//
// Threads: every member is called on the GUI thread, except the relays,
// which run on each driver's event thread and call the window's callbacks
// there, and the watchdog's worker (startWatchdogRun). The worker runs on
// Qt's global pool, at most one at a time; it starts the fresh drivers of
// unplugged surfaces of the list that are back, scans the devices and opens
// the drivers of saved surfaces that are newly plugged in (the slow part: a
// USB start sequence can take seconds) from copies of the names it needs, and
// touches nothing of the manager but the enumeration driver (under
// enumerationMutex_) and watchdogRun_, which the GUI thread reads only once
// the worker's future has finished. The started drivers are handed over by
// the watcher's queued finished signal and adopted on the GUI thread: a
// reopened surface's fresh driver takes the place of the lost one in its
// record.
// shutdown (and so the destructor) waits for a worker under way and closes
// what it opened before anything else goes away. The lists and callbacks are changed only on the GUI thread, under
// stateMutex_; the relays read them under stateMutex_ and call a callback
// after releasing it. stateMutex_ is never held while a driver is called
// (a driver holds its own lock while a relay runs). After removeController,
// removeAllControllers or shutdown returns no relay of the removed
// controllers runs any more: closing a driver's input waits for an event
// under way.
class MidiControllerManager {
public:
    static constexpr int kTrackCount = 32;
    static constexpr int kFaderTopValue = 16383;

    MidiControllerManager();
    ~MidiControllerManager();

    MidiControllerManager(const MidiControllerManager&) = delete;
    MidiControllerManager& operator=(const MidiControllerManager&) = delete;

    // Makes the device-listing driver and loads the configuration, which
    // connects the saved controllers that are present. Returns true.
    bool initialize();
    // Closes and destroys every controller, forgets the assignments in
    // memory (nothing is saved). A second call does nothing.
    void shutdown();

    // GUI thread only: the lists as they are now.
    const std::vector<PhysicalController>& getControllers() const { return controllers_; }
    const std::vector<FaderAssignment>& getFaderAssignments() const { return faderAssignments_; }
    // Saved controllers whose device was absent when they were loaded; they
    // stay saved until removeController forgets them.
    const std::vector<std::string>& getAbsentSavedControllers() const { return absentSavedControllers_; }

    // --- Devices ---
    // MIDI sources, then "Cantarem 2" and "Sound Devices CL-12" when present,
    // then always "CL-12 Network (UDP)"; connected devices are not left out.
    std::vector<std::string> getAvailableInputDevices() const;
    std::vector<std::string> getAvailableOutputDevices() const;
    void refreshAvailableDevices();
    static int getControllerFaderCount(const std::string& name);

    // --- Controllers ---
    bool addController(const std::string& name, bool save);
    bool removeController(const std::string& name);
    void removeAllControllers();
    bool isDeviceConnected(const std::string& name) const;
    // The watchdog: adds every saved controller whose device is listed now
    // and that is not connected, and reopens a connected surface of a kind
    // reopened when lost (the Cantarem 2, the USB CL-12) that was unplugged
    // once it is back (its record, assignments and callbacks stay). A call made while one is under way (from a modal loop
    // inside it) does nothing.
    void checkAndRestoreControllers();
    // The same as checkAndRestoreControllers, with the scan and the opening
    // of drivers on a worker (an unplugged surface in the list gets a fresh
    // driver there, which replaces the lost one in its record); the opened
    // controllers are adopted later on the GUI thread, with the same
    // callbacks and log lines. Ignored while a run (of either) is under way,
    // and when nothing is lost or missing.
    void startWatchdogRun();
    bool isWatchdogRunning() const { return watchdogInFlight_; }
    // The UDP port a "CL-12 Network (UDP)" controller listens on (7770);
    // tests use a free one.
    void setNetworkReceiverPort(uint16_t port) { networkReceiverPort_ = port; }
    void handleHardwareBankChange(PhysicalController& controller, bool up);

    // --- Assignments ---
    bool assignFader(const std::string& device, int fader, int track);
    bool removeFaderAssignment(const std::string& device, int fader, int track);
    void removeAllFaderAssignments();
    // The track of the first assignment of that fader, -1 when none. Any thread.
    int findTrackForFader(const std::string& device, int fader) const;
    int getTrackForFader(const std::string& device, int fader) const;
    std::vector<std::pair<std::string, int>> findFadersForTrack(int track) const;
    // True when the track's fader is on a surface whose faders own their
    // tracks' levels (SurfaceKind::faderOwnsLevel: the Cantarem 2).
    bool isTrackMappedToCantarem(int track) const;

    // --- Configuration ---
    void loadConfig();
    // Writes both keys and saves the file. Saved controllers that are absent
    // now stay in "midi.controllers" until the user removes them.
    void saveConfig();

    // --- The window's callbacks (each replaces the earlier one) ---
    void setFaderCallback(std::function<void(int, int)> callback);
    void setButtonCallback(std::function<void(int, bool)> callback);
    void setTrackButtonCallback(std::function<void(int, bool)> callback);
    void setTransportCallback(std::function<void(TransportButton, bool)> callback);
    void setSyncFadersCallback(std::function<void()> callback);
    void setControllerRestoredCallback(std::function<void(const std::string&)> callback);
    void setHardwareSyncCallback(std::function<void(int, int)> callback);
    // Installs the fader, button and knob relays on the controller's driver.
    void setupControllerCallbacks(PhysicalController& controller);

    // --- Feedback and read-back ---
    // Moves the hardware fader that drives the track (not one that drives an
    // earlier track of the list); false for a track outside 0 to 31.
    bool sendFaderPosition(int track, int value);
    bool sendButtonLED(int index, bool on);
    std::map<std::string, std::vector<int>> getCurrentFaderPositions() const;
    void syncFaderPositionsWithHardware();

private:
    // A surface of the list whose device was unplugged and is back, and the
    // fresh driver that takes the lost one's place in its record.
    struct Replacement {
        std::string name;
        const MidiControllerBase* lost = nullptr;    // identity only: the driver it replaces
        std::unique_ptr<MidiControllerBase> driver;  // the relays installed; started by startReplacement
        bool (*start)(MidiControllerBase& driver) = nullptr;
        bool ok = false;
    };

    // What a watchdog worker opened, by name, in the order it opened them.
    struct WatchdogRun {
        struct Opened {
            std::string name;
            bool ok = false;
            PhysicalController record;  // holds the fresh driver when ok
        };
        std::vector<Replacement> replacements;  // unplugged surfaces of the list that are back
        bool scan = false;                      // a saved controller is missing
        std::vector<std::string> devices;       // the scan
        std::vector<Opened> restored;           // saved controllers now present
        // The hand-over each way, visible to race checkers that do not see
        // inside Qt's pool.
        std::atomic<bool> handedOver{false};
        std::atomic<bool> done{false};
    };

    // Any thread: makes and starts the driver of a controller (logging the
    // outcome); false leaves nothing open.
    static bool openDriver(const std::string& name, uint16_t networkPort, PhysicalController& record);
    void adoptController(PhysicalController record, bool save);
    // GUI thread: the replacement of the record's driver when it was lost
    // and its device is back (logged), else nothing.
    std::optional<Replacement> prepareReplacement(PhysicalController& record);
    std::vector<Replacement> prepareReplacements();
    // Any thread.
    static void startReplacement(Replacement& replacement);
    // GUI thread: swaps the started driver into its record and announces it.
    void adoptReplacement(Replacement& replacement);
    void installRelays(const std::string& name, MidiControllerBase& driver);
    void announceRestored(const std::string& name);
    void announceReopened(const std::string& name);
    // Worker thread.
    void runOnWorker(WatchdogRun& run, const std::string& saved, const std::vector<std::string>& connected,
                      const std::vector<std::string>& lastDevices, uint16_t port) const;
    void adoptWatchdogRun();
    void discardWatchdogRun();

    // Relays, on the driver's event thread.
    void relayFader(const std::string& device, int fader, int value);
    void relayButton(const std::string& device, int button, bool pressed);
    void relayKnob(int knob, int value);

    // On the GUI thread, or with stateMutex_ held.
    int indexOfController(const std::string& name) const;
    bool stepBankLocked(PhysicalController& controller, bool up);
    void closeDriver(MidiControllerBase& driver);
    void forgetSavedName(const std::string& name);
    void loadAssignments(const std::string& value);
    void migrateLegacyAssignments(const std::string& value);
    void ensureEnumerationController() const;  // enumerationMutex_ held
    void reopenLostSurfaces();
    // The device list of getAvailableInputDevices; its log lines are handed
    // back for the caller to write.
    std::vector<std::string> scanInputDevices(std::vector<std::string>& logLines) const;
    bool everySavedControllerConnected(const std::string& saved) const;

    std::vector<PhysicalController> controllers_;
    std::vector<FaderAssignment> faderAssignments_;
    mutable std::unique_ptr<MidiControllerBase> enumerationController_;
    std::function<void(int, int)> faderCallback_;
    std::function<void(int, bool)> buttonCallback_;
    std::function<void(TransportButton, bool)> transportCallback_;
    std::function<void()> syncFadersCallback_;
    std::function<void(const std::string&)> controllerRestoredCallback_;
    std::function<void(int, int)> hardwareSyncCallback_;
    std::function<void(int, bool)> trackButtonCallback_;

    // Names saved in "midi.controllers" whose controller is not connected;
    // kept so a save while the device is unplugged does not forget it.
    std::vector<std::string> absentSavedControllers_;

    uint16_t networkReceiverPort_ = 7770;
    bool restoring_ = false;  // GUI thread: checkAndRestoreControllers is under way
    // GUI thread: the device list of the watchdog's last scan, whose log
    // lines are written only when the list changes.
    std::vector<std::string> lastWatchdogDevices_;

    // GUI thread: a worker is under way; watchdogRun_ belongs to it until
    // its future has finished.
    bool watchdogInFlight_ = false;
    bool shutDown_ = false;
    std::unique_ptr<WatchdogRun> watchdogRun_;
    std::unique_ptr<QFutureWatcher<void>> watchdogWatcher_;
    // Guards enumerationController_, which the worker scans with too.
    mutable std::mutex enumerationMutex_;

    mutable std::mutex stateMutex_;
};
