#pragma once

#include "controllers/MidiControllerBase.h"
#include "controllers/SurfaceKind.h"
#include "platform/hid/HidSystem.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The Aaton Cantarem 2 fader surface over USB HID (vendor 0x2CFF, product
// 0x0002): twelve faders in input report 12 and eighteen keys in input
// report 11 (channel keys 1 to 12 are buttons 0 to 11, Shift 1 12, Shift 2
// 13, C1 to C4 14 to 17). Input only: it moves no faders and lights nothing.
//
// Threads: openInput starts readThread_, which reads the reports and calls
// the fader and button callbacks. Every other member runs on the GUI thread;
// a fresh driver that no other thread knows yet (one that replaces a lost
// driver) may be opened on the controller watchdog's worker.
// callbackMutex_ guards the callbacks and is held while one runs, so a
// callback replaced on the GUI thread is never running. faderValues_,
// firstReportReceived_, running_ and deviceLost_ are atomics read on the GUI
// thread; lastPassedValues_ belongs to the read thread. closeInput joins the
// read thread before it closes the device: no callback runs after it.
class HidController_Cantarem2 : public MidiControllerBase {
public:
    static constexpr uint16_t kVendorId = 0x2CFF;
    static constexpr uint16_t kProductId = 0x0002;
    static constexpr int kFaderCount = 12;
    static constexpr int kRawFullScale = 3830;
    static constexpr int kFaderBand = 64;
    static constexpr int kFirstReportWaitMs = 500;
    static constexpr size_t kFaderReportBytes = 32;
    static constexpr size_t kButtonReportBytes = 7;

    HidController_Cantarem2();
    explicit HidController_Cantarem2(std::shared_ptr<HidSystem> system);
    ~HidController_Cantarem2() override;

    HidController_Cantarem2(const HidController_Cantarem2&) = delete;
    HidController_Cantarem2& operator=(const HidController_Cantarem2&) = delete;

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

    // True when the surface is plugged in (on the default HID system).
    static bool isDeviceConnected();
    // The Cantarem 2 among the kinds of surface (SurfaceRegistry).
    static const SurfaceKind& surfaceKind();
    // "Cantarem2_HID" when at least one surface is attached, else empty.
    static std::string getDevicePath();
    // True once the surface's first fader report since the open has arrived
    // (its fader positions are valid from then on).
    bool isFirstReportReceived() const;
    // True when the open surface was unplugged; the watchdog reopens it.
    bool isDeviceLost() const;
    // Before its open: this fresh driver carries on where a lost one stopped
    // (initialised, the fader values it passed on last), so a fader that did
    // not move while the surface was away is not reported again. The lost
    // driver's read thread has stopped (isDeviceLost is true).
    void continueFrom(const HidController_Cantarem2& lost);

    // One report as the device delivered it, report ID first (read thread).
    void processReport(const uint8_t* report, size_t length);
    // The 14-bit value of a raw 12-bit position.
    static int scaledValue(int raw);
    // Tests: forgets the key state that lasts for the process.
    static void resetButtonStateForTests();

private:
    void readLoop();
    void processFaderReport(const uint8_t* report, size_t length);
    void processButtonReport(const uint8_t* report, size_t length);

    std::shared_ptr<HidSystem> system_;
    std::unique_ptr<HidDevice> device_;
    std::thread readThread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> initialized_{false};
    std::atomic<bool> deviceLost_{false};
    std::atomic<bool> firstReportReceived_{false};
    std::array<std::atomic<int>, kFaderCount> faderValues_{};
    std::array<int, kFaderCount> lastPassedValues_{};
    std::string currentInputDevice_;

    std::mutex firstReportMutex_;
    std::condition_variable firstReportArrived_;

    std::mutex callbackMutex_;
    std::function<void(int, int)> faderCallback_;
    std::function<void(int, int)> knobCallback_;
    std::function<void(int, bool)> buttonCallback_;
};
