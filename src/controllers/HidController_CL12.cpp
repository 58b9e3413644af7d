#include "controllers/HidController_CL12.h"

#include "core/DebugLog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr const char* kDeviceName = "Sound Devices CL-12";
constexpr const char* kRuleScript = "install-cl12-udev-rule.sh";
constexpr uint8_t kButtonMarkByte5 = 0x3E;
constexpr uint8_t kButtonMarkByte8 = 0x08;

std::mutex presenterMutex;
HidController_CL12::InstructionsPresenter presenter;
// Shown once per run: a second box from the watchdog's next try (or from a
// watchdog that fires inside the first box's modal loop) would stack.
std::atomic<bool> instructionsShown{false};
// A request made under a DeferInstructions, waiting for the GUI thread.
std::atomic<bool> instructionsDeferred{false};
thread_local bool deferOnThisThread = false;
std::atomic<int> runningAsRootOverride{-1};

std::string hexResult(const UsbResult& result)
{
    return std::string(usbStatusName(result.status)) + (result.reason.empty() ? "" : " (" + result.reason + ")");
}

bool runningAsRoot()
{
    const int forced = runningAsRootOverride.load();
    return forced >= 0 ? forced == 1 : ::geteuid() == 0;
}

std::vector<uint8_t> padded(std::vector<uint8_t> bytes, size_t length)
{
    bytes.resize(length, 0x00);
    return bytes;
}

// The folder holding the rule script of this installation: next to the
// executable, or in the scripts folder of the source tree it was built in.
std::string ruleScriptFolder()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    std::filesystem::path folder = executable.parent_path();
    for (int up = 0; up < 5 && !folder.empty(); ++up) {
        for (const std::filesystem::path& candidate : {folder, folder / "scripts", folder / "share/tonvale"}) {
            if (std::filesystem::exists(candidate / kRuleScript, error))
                return candidate.string();
        }
        if (folder == folder.parent_path())
            break;
        folder = folder.parent_path();
    }
    return executable.parent_path().string();
}

}  // namespace

const std::vector<uint8_t> HidController_CL12::INIT_FEATURE_50 = {0x50, 0x00};
const std::vector<uint8_t> HidController_CL12::INIT_FEATURE_41 = {0x41, 0x00};
const std::vector<uint8_t> HidController_CL12::INIT_FEATURE_43 = {0x43, 0x00};
const std::vector<uint8_t> HidController_CL12::INIT_FEATURE_45 = {0x45, 0x00};
const std::vector<uint8_t> HidController_CL12::INIT_CMD1 = {0x08, 0x5A, 0x01, 0x01, 0x00, 0x03, 0x01, 0x71, 0x2E};
const std::vector<uint8_t> HidController_CL12::INIT_CMD2 = {0x09, 0x5A, 0x03, 0x02, 0x00, 0x04, 0xD1, 0x04, 0x7E, 0x48};
const std::vector<uint8_t> HidController_CL12::INIT_CMD3 = {0x0C, 0x5A, 0x03, 0x02, 0x00, 0x07, 0xD8,
                                                            0x40, 0x9C, 0x0D, 0x1B, 0x96, 0x25};
const std::vector<uint8_t> HidController_CL12::INIT_CMD4 = {0x0A, 0x5A, 0x03, 0x02, 0x00, 0x05,
                                                            0xD0, 0x02, 0x00, 0x4A, 0x7E};
const std::vector<uint8_t> HidController_CL12::LED_PACKET =
    padded({0x15, 0x0D, 0xFF, 0x0F, 0xFF, 0x0F, 0x96, 0x0D, 0xDC, 0x0E}, 22);
const std::vector<uint8_t> HidController_CL12::POLL_PACKET =
    padded({0x3F, 0x5A, 0x03, 0x02, 0x00, 0x41, 0xDB, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x0A, 0x90, 0x00, 0x09, 0x98, 0x40,
            0x09, 0x98, 0x40, 0x09, 0x9C, 0xC0, 0x09, 0x9C, 0xC0, 0x19, 0x9C, 0xC1},
           64);
const std::vector<uint8_t> HidController_CL12::ACK_PACKET = {0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEA, 0x74};

HidController_CL12::HidController_CL12() : HidController_CL12(defaultUsbSystem()) {}

HidController_CL12::HidController_CL12(std::shared_ptr<UsbSystem> system) : system_(std::move(system)) {}

HidController_CL12::~HidController_CL12()
{
    cleanup();
}

bool HidController_CL12::isDeviceConnected()
{
    return defaultUsbSystem()->find(kVendorId, kProductId).ok();
}

bool HidController_CL12::isDeviceLost() const
{
    return deviceLost_.load(std::memory_order_acquire);
}

void HidController_CL12::continueFrom(const HidController_CL12& lost)
{
    faderValues_ = lost.faderValues_;
}

void HidController_CL12::setInstructionsPresenter(InstructionsPresenter newPresenter)
{
    std::lock_guard<std::mutex> lock(presenterMutex);
    presenter = std::move(newPresenter);
}

void HidController_CL12::resetInstructionsShownForTests()
{
    instructionsShown.store(false);
    instructionsDeferred.store(false);
}

void HidController_CL12::setRunningAsRootForTests(int asRoot)
{
    runningAsRootOverride.store(asRoot);
}

// --- Opening -----------------------------------------------------------------

bool HidController_CL12::initialize()
{
    if (running_.load())
        return true;  // a second initialize leaves the poll thread alone
    debugLog("CL-12: Initializing Sound Devices CL-12");
    if (!findAndOpenDevice()) {
        debugLog("CL-12: Failed to find or open device");
        return false;
    }
    if (!sendInitSequence()) {
        debugLog("CL-12: Failed to send init sequence");
        cleanup();
        return false;
    }
    deviceLost_.store(false, std::memory_order_release);
    buttonMarkShown_ = false;
    running_.store(true);
    pollThread_ = std::thread(&HidController_CL12::pollLoop, this);
    debugLog("CL-12: Initialization complete");
    return true;
}

bool HidController_CL12::findAndOpenDevice()
{
    UsbResult result = system_->open(kVendorId, kProductId, device_);
    if (result.status == UsbStatus::NotFound) {
        debugLog("CL-12: Device not found (VID:0x10C4 PID:0x8A87)");
        return false;
    }
    if (!result.ok()) {
        debugLog("CL-12: Failed to open device: " + hexResult(result));
        device_.reset();
        if (result.status == UsbStatus::AccessDenied && !runningAsRoot()) {
            debugLog("CL-12: Not running as root - requesting elevated privileges");
            requestElevatedPrivileges();
        }
        return false;
    }
    debugLog("CL-12: Device found");
    debugLog("CL-12: Device opened");
    result = device_->setConfiguration(1);
    if (!result.ok())
        debugLog("CL-12: Failed to set configuration: " + hexResult(result));
    const int count = device_->interfaceCount();
    for (int i = 0; i < count; ++i) {
        debugLog("CL-12: Trying interface " + std::to_string(i));
        result = device_->claimInterface(i);
        if (!result.ok()) {
            debugLog("CL-12: Failed to open interface " + std::to_string(i) + ": " + hexResult(result));
            if (result.status == UsbStatus::Busy) {
                debugLog("CL-12: Attempting to seize interface " + std::to_string(i) + " from system driver");
                result = device_->seizeInterface(i);
                if (result.ok())
                    debugLog("CL-12: Successfully seized interface " + std::to_string(i));
                else
                    debugLog("CL-12: Failed to seize interface " + std::to_string(i) + ": " + hexResult(result));
            }
        }
        if (result.ok()) {
            debugLog("CL-12: Successfully opened interface " + std::to_string(i));
            interfaceClaimed_ = true;
            debugLog("CL-12: Interface opened successfully");
            return true;
        }
    }
    debugLog("CL-12: No interface could be opened");
    device_.reset();
    if (!runningAsRoot()) {
        debugLog("CL-12: Not running as root - requesting elevated privileges");
        requestElevatedPrivileges();
    } else {
        debugLog("CL-12: Already running as root, but still can't claim interface");
    }
    return false;
}

bool HidController_CL12::sendInitSequence()
{
    debugLog("CL-12: Sending initialization sequence");
    if (!device_)
        return false;
    const struct {
        uint16_t value;
        const std::vector<uint8_t>& data;
        const char* name;
    } features[] = {{0x0350, INIT_FEATURE_50, "0x50"},
                    {0x0341, INIT_FEATURE_41, "0x41"},
                    {0x0343, INIT_FEATURE_43, "0x43"},
                    {0x0345, INIT_FEATURE_45, "0x45"}};
    for (const auto& feature : features) {
        const UsbControlRequest request{0x21, 0x09, feature.value, 0x0000};
        const UsbResult result =
            device_->controlTransfer(request, feature.data.data(), feature.data.size(), kWriteTimeoutMs);
        if (!result.ok())
            debugLog(std::string("CL-12: Feature ") + feature.name + " failed: " + hexResult(result));
    }
    uint8_t reply[kReplyBytes];
    for (const std::vector<uint8_t>* command : {&INIT_CMD1, &INIT_CMD2, &INIT_CMD3, &INIT_CMD4}) {
        if (!sendPacket(*command))
            continue;
        size_t received = 0;
        receivePacket(reply, sizeof reply, received);
    }
    debugLog("CL-12: Init sequence complete");
    return true;
}

// --- Polling -----------------------------------------------------------------

bool HidController_CL12::sendPacket(const std::vector<uint8_t>& packet)
{
    if (!device_ || !interfaceClaimed_)
        return false;
    const UsbResult result = device_->writePipe(kWritePipe, packet.data(), packet.size(), kWriteTimeoutMs);
    noteLostDevice(result);
    return result.ok();
}

UsbResult HidController_CL12::receivePacket(uint8_t* buffer, size_t capacity, size_t& received)
{
    received = 0;
    if (!device_ || !interfaceClaimed_)
        return UsbResult{UsbStatus::Failed, "no interface"};
    const UsbResult result = device_->readPipe(kReadPipe, buffer, capacity, received, kReadTimeoutMs);
    noteLostDevice(result);
    return result;
}

void HidController_CL12::noteLostDevice(const UsbResult& result)
{
    if (result.status == UsbStatus::NoDevice && !deviceLost_.exchange(true, std::memory_order_acq_rel))
        debugLog("CL-12: Device disconnected");
}

void HidController_CL12::pollLoop()
{
    debugLog("CL-12: Poll thread started");
    uint8_t reply[kReplyBytes];
    while (running_.load() && !deviceLost_.load(std::memory_order_acquire)) {
        if (sendPacket(LED_PACKET) && sendPacket(POLL_PACKET) && sendPacket(ACK_PACKET)) {
            for (int read = 0; read < kReadsPerCycle && running_.load(); ++read) {
                size_t received = 0;
                const UsbResult result = receivePacket(reply, sizeof reply, received);
                if (result.ok())
                    processReply(reply, received);
                else if (result.status == UsbStatus::NoDevice || result.status == UsbStatus::Aborted)
                    break;
            }
        }
        std::unique_lock<std::mutex> lock(pauseMutex_);
        pauseWake_.wait_for(lock, std::chrono::milliseconds(kPollIntervalMs), [&] { return !running_.load(); });
    }
    debugLog("CL-12: Poll thread stopped");
}

bool HidController_CL12::isValidReply(const uint8_t* reply, size_t length)
{
    return length >= kMinReplyBytes && reply[0] == 0x26 && reply[1] == 0x5A;
}

int HidController_CL12::extractFaderValue(const uint8_t* reply, int fader)
{
    if (fader < 0 || fader >= kFaderCount)
        return 0;
    const int low = reply[14 + 2 * fader];
    const int high = reply[15 + 2 * fader];
    return high > 15 ? kRawTop : high * 256 + low;
}

void HidController_CL12::processReply(const uint8_t* reply, size_t length)
{
    if (!isValidReply(reply, length))
        return;
    std::lock_guard<std::mutex> lock(callbackMutex_);
    for (int i = 0; i < kFaderCount; ++i) {
        const int raw = extractFaderValue(reply, i);
        int& passed = faderValues_[static_cast<size_t>(i)];
        if (std::abs(raw - passed) < kFaderBand)
            continue;
        passed = raw;
        if (faderCallback_)
            faderCallback_(i, raw * 16383 / kRawTop);
    }
    // Every reply repeats the mark while the key is held: the press is
    // reported when it appears and the release when it goes.
    const bool mark = reply[5] == kButtonMarkByte5 && reply[8] == kButtonMarkByte8;
    if (mark != buttonMarkShown_) {
        buttonMarkShown_ = mark;
        debugLog(mark ? "CL-12: Button pressed" : "CL-12: Button released");
        if (buttonCallback_)
            buttonCallback_(0, mark);
    }
}

// --- Closing -----------------------------------------------------------------

void HidController_CL12::cleanup()
{
    if (!device_ && !pollThread_.joinable())
        return;
    debugLog("CL-12: Cleaning up");
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        running_.store(false);
    }
    pauseWake_.notify_all();
    if (device_)
        device_->abortPipes();
    if (pollThread_.joinable())
        pollThread_.join();
    if (device_ && interfaceClaimed_)
        device_->releaseInterface();
    interfaceClaimed_ = false;
    device_.reset();
    debugLog("CL-12: Cleanup complete");
}

HidController_CL12::Instructions HidController_CL12::instructions()
{
    const std::string folder = ruleScriptFolder();
    return Instructions{
        "CL-12 Requires Administrator Access",
        "The Sound Devices CL-12 requires administrator privileges because Linux lets only administrators "
        "take its USB interface from the system's driver.",
        "To use the CL-12:\n\n1. Close Tonvale\n2. Open a terminal\n3. Run this command:\n   cd \"" + folder
            + "\"\n   sudo ./" + kRuleScript
            + "\n4. Enter your password when prompted\n5. Unplug the CL-12 and plug it in again\n\n"
              "Alternative: Use a standard MIDI controller (no admin access required)"};
}

void HidController_CL12::requestElevatedPrivileges()
{
    if (instructionsShown.exchange(true)) {
        debugLog("CL-12: Instructions already shown in this run");
        return;
    }
    if (deferOnThisThread) {
        instructionsDeferred.store(true);
        return;
    }
    presentInstructions();
}

void HidController_CL12::presentInstructions()
{
    debugLog("CL-12: Showing elevated privileges instructions to user");
    InstructionsPresenter show;
    {
        std::lock_guard<std::mutex> lock(presenterMutex);
        show = presenter;
    }
    if (show)
        show(instructions());
    debugLog("CL-12: Instructions shown to user");
}

HidController_CL12::DeferInstructions::DeferInstructions()
{
    deferOnThisThread = true;
}

HidController_CL12::DeferInstructions::~DeferInstructions()
{
    deferOnThisThread = false;
}

void HidController_CL12::presentDeferredInstructions()
{
    if (instructionsDeferred.exchange(false))
        presentInstructions();
}

// --- The rest of the interface ----------------------------------------------

void HidController_CL12::shutdown() { cleanup(); }
bool HidController_CL12::isInitialized() { return interfaceClaimed_ && running_.load(); }
std::vector<std::string> HidController_CL12::getInputDevices() const { return {kDeviceName}; }
std::vector<std::string> HidController_CL12::getOutputDevices() const { return {kDeviceName}; }
bool HidController_CL12::openInput(const std::string&) { return true; }
bool HidController_CL12::openOutput(const std::string&) { return true; }
void HidController_CL12::closeInput() {}
void HidController_CL12::closeOutput() {}

void HidController_CL12::setFaderCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    faderCallback_ = std::move(callback);
}

void HidController_CL12::setKnobCallback(std::function<void(int, int)>) {}

void HidController_CL12::setButtonCallback(std::function<void(int, bool)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    buttonCallback_ = std::move(callback);
}

bool HidController_CL12::sendFaderPosition(int fader, int) { return fader >= 0 && fader < kFaderCount; }
bool HidController_CL12::sendButtonLED(int, bool) { return false; }
std::string HidController_CL12::getCurrentInputDevice() { return kDeviceName; }
std::string HidController_CL12::getCurrentOutputDevice() { return kDeviceName; }
std::vector<int> HidController_CL12::getCurrentFaderPositions() const { return {}; }

// --- Its kind of surface -------------------------------------------------------

namespace {

std::unique_ptr<MidiControllerBase> openCl12(const std::string&, uint16_t, bool& hasOutput)
{
    auto driver = std::make_unique<HidController_CL12>();
    if (!driver->initialize()) {
        debugLog("Failed to initialize CL-12");
        return nullptr;
    }
    debugLog("Added Sound Devices CL-12 HID controller");
    hasOutput = true;
    return driver;
}

HidController_CL12& asCl12(MidiControllerBase& driver)
{
    // A record's driver was made by its kind's open: it is this class.
    return static_cast<HidController_CL12&>(driver);
}

std::unique_ptr<MidiControllerBase> replaceCl12(MidiControllerBase& lost)
{
    // The lost driver lets go of the device before the fresh one asks for
    // it; its poll thread is over, so this is quick.
    asCl12(lost).shutdown();
    auto fresh = std::make_unique<HidController_CL12>();
    fresh->continueFrom(asCl12(lost));
    return fresh;
}

}  // namespace

const SurfaceKind& HidController_CL12::surfaceKind()
{
    static const SurfaceKind kind = [] {
        SurfaceKind k;
        k.name = kDeviceName;
        k.listing = SurfaceKind::Listing::WhenPresent;
        k.isPresent = &HidController_CL12::isDeviceConnected;
        k.presentLog = "MidiControllerManager: Sound Devices CL-12 detected, adding to list";
        k.absentLog = "MidiControllerManager: CL-12 NOT detected";
        k.open = &openCl12;
        k.faderCount = kFaderCount;
        k.isLost = [](const MidiControllerBase& driver) {
            return static_cast<const HidController_CL12&>(driver).isDeviceLost();
        };
        k.isBack = &HidController_CL12::isDeviceConnected;
        k.makeReplacement = &replaceCl12;
        k.startReplacement = [](MidiControllerBase& fresh) { return fresh.initialize(); };
        return k;
    }();
    return kind;
}
