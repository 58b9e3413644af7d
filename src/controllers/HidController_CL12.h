#pragma once

#include "controllers/MidiControllerBase.h"
#include "controllers/SurfaceKind.h"
#include "platform/usb/UsbSystem.h"

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

// The Sound Devices CL-12 fader surface straight over USB (vendor 0x10C4,
// product 0x8A87): claims an interface (seizing it from the kernel's driver
// when it must), sends a fixed start sequence, then polls every 30 ms with
// three fixed packets and decodes twelve faders and one button from each
// valid reply. Every pipe read is bounded, so a silent surface cannot hold
// the caller.
//
// Threads: initialize, shutdown and the callback setters on the GUI thread
// (initialize also on the controller watchdog's worker, under a
// DeferInstructions, so the instructions box waits for the GUI thread);
// pollThread_ runs the poll loop and calls the callbacks. callbackMutex_
// guards the callbacks and is held while one runs. cleanup aborts a pending
// read, wakes the 30 ms pause and joins the thread before it closes the
// device, so no callback runs after it.
class HidController_CL12 : public MidiControllerBase {
public:
    static constexpr uint16_t kVendorId = 0x10C4;
    static constexpr uint16_t kProductId = 0x8A87;
    static constexpr int kFaderCount = 12;
    static constexpr int kRawTop = 4095;
    static constexpr int kFaderBand = 3;
    static constexpr int kPollIntervalMs = 30;
    static constexpr int kReadsPerCycle = 3;
    static constexpr int kReadTimeoutMs = 200;
    static constexpr int kWriteTimeoutMs = 200;
    static constexpr int kWritePipe = 2;
    static constexpr int kReadPipe = 1;
    static constexpr size_t kReplyBytes = 64;
    static constexpr size_t kMinReplyBytes = 38;

    static const std::vector<uint8_t> INIT_FEATURE_50;
    static const std::vector<uint8_t> INIT_FEATURE_41;
    static const std::vector<uint8_t> INIT_FEATURE_43;
    static const std::vector<uint8_t> INIT_FEATURE_45;
    static const std::vector<uint8_t> INIT_CMD1;
    static const std::vector<uint8_t> INIT_CMD2;
    static const std::vector<uint8_t> INIT_CMD3;
    static const std::vector<uint8_t> INIT_CMD4;
    static const std::vector<uint8_t> LED_PACKET;
    static const std::vector<uint8_t> POLL_PACKET;
    static const std::vector<uint8_t> ACK_PACKET;

    // What the user is told when the surface's interface cannot be claimed
    // without more rights; the window shows it as a message box.
    struct Instructions {
        std::string title;
        std::string text;
        std::string informativeText;
    };
    using InstructionsPresenter = std::function<void(const Instructions&)>;

    HidController_CL12();
    explicit HidController_CL12(std::shared_ptr<UsbSystem> system);
    ~HidController_CL12() override;

    HidController_CL12(const HidController_CL12&) = delete;
    HidController_CL12& operator=(const HidController_CL12&) = delete;

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

    // True when the surface is plugged in (on the default USB system).
    static bool isDeviceConnected();
    // The CL-12 over USB among the kinds of surface (SurfaceRegistry).
    static const SurfaceKind& surfaceKind();
    // True when the polled surface was unplugged; the watchdog reopens it.
    bool isDeviceLost() const;
    // Before its initialize: this fresh driver carries on with the fader
    // values a lost one passed on last, so a fader that did not move while
    // the surface was away is not reported again. The lost driver is shut
    // down (its poll thread joined).
    void continueFrom(const HidController_CL12& lost);

    // The window's box for the instructions; shown at most once per run.
    static void setInstructionsPresenter(InstructionsPresenter presenter);
    // While one lives on a thread, the instructions asked for on that thread
    // are kept for presentDeferredInstructions instead of shown: the
    // presenter is a box, which only the GUI thread may show.
    class DeferInstructions {
    public:
        DeferInstructions();
        ~DeferInstructions();
        DeferInstructions(const DeferInstructions&) = delete;
        DeferInstructions& operator=(const DeferInstructions&) = delete;
    };
    // GUI thread: shows the instructions a deferred request kept, if any.
    static void presentDeferredInstructions();
    static Instructions instructions();
    // Tests: the box may be shown again, and the process counts as root or not.
    static void resetInstructionsShownForTests();
    static void setRunningAsRootForTests(int asRoot);  // -1 asks the system again

    // One reply as read (poll thread): faders and the button mark.
    void processReply(const uint8_t* reply, size_t length);
    static bool isValidReply(const uint8_t* reply, size_t length);
    static int extractFaderValue(const uint8_t* reply, int fader);

private:
    bool findAndOpenDevice();
    bool sendInitSequence();
    void pollLoop();
    void cleanup();
    void requestElevatedPrivileges();
    static void presentInstructions();
    bool sendPacket(const std::vector<uint8_t>& packet);
    UsbResult receivePacket(uint8_t* buffer, size_t capacity, size_t& received);
    void noteLostDevice(const UsbResult& result);

    std::shared_ptr<UsbSystem> system_;
    std::unique_ptr<UsbDevice> device_;
    bool interfaceClaimed_ = false;
    std::thread pollThread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> deviceLost_{false};
    std::array<int, kFaderCount> faderValues_{};  // poll thread: raw values passed on last
    bool buttonMarkShown_ = false;                 // poll thread

    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;

    std::mutex callbackMutex_;
    std::function<void(int, int)> faderCallback_;
    std::function<void(int, bool)> buttonCallback_;
};
