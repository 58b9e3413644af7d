#include "controllers/HidController_Cantarem2.h"

#include "core/DebugLog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kDeviceName = "Cantarem 2";
constexpr uint8_t kButtonReportId = 11;
constexpr uint8_t kFaderReportId = 12;
constexpr int kReadSliceMs = 100;
constexpr size_t kReportBufferBytes = 64;
constexpr int kLoggedFirstReports = 10;
constexpr int kReportLogInterval = 200;

// The key state outlives a driver: a surface closed and opened again is
// compared with the keys seen last, whichever driver saw them.
std::mutex buttonStateMutex;
uint8_t previousButtonBytes[3] = {0, 0, 0};
int reportCount = 0;        // under buttonStateMutex
int lastLoggedReportId = 0;  // under buttonStateMutex

std::string hex2(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

const char* pressedText(bool pressed)
{
    return pressed ? "PRESSED" : "RELEASED";
}

}  // namespace

HidController_Cantarem2::HidController_Cantarem2() : HidController_Cantarem2(defaultHidSystem()) {}

HidController_Cantarem2::HidController_Cantarem2(std::shared_ptr<HidSystem> system) : system_(std::move(system))
{
    for (auto& value : faderValues_)
        value.store(0);
}

HidController_Cantarem2::~HidController_Cantarem2()
{
    closeInput();
    initialized_.store(false);
}

std::string HidController_Cantarem2::getDevicePath()
{
    char ids[64];
    std::snprintf(ids, sizeof ids, "Cantarem2: Checking for device (VID: 0x%X, PID: 0x%X)", kVendorId, kProductId);
    debugLog(ids);
    std::vector<HidDeviceInfo> devices;
    std::string error;
    if (!defaultHidSystem()->findDevices(kVendorId, kProductId, devices, error)) {
        debugLog("Cantarem2: Cannot list HID devices: " + error);
        return {};
    }
    debugLog("Cantarem2: Found " + std::to_string(devices.size()) + " matching HID device(s)");
    return devices.empty() ? std::string() : std::string("Cantarem2_HID");
}

bool HidController_Cantarem2::isDeviceConnected()
{
    return !getDevicePath().empty();
}

bool HidController_Cantarem2::isFirstReportReceived() const
{
    return firstReportReceived_.load(std::memory_order_acquire);
}

bool HidController_Cantarem2::isDeviceLost() const
{
    return deviceLost_.load(std::memory_order_acquire);
}

void HidController_Cantarem2::continueFrom(const HidController_Cantarem2& lost)
{
    initialized_.store(lost.initialized_.load());
    for (size_t i = 0; i < faderValues_.size(); ++i)
        faderValues_[i].store(lost.faderValues_[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
    lastPassedValues_ = lost.lastPassedValues_;
}

int HidController_Cantarem2::scaledValue(int raw)
{
    return std::min(16383, raw * 16383 / kRawFullScale);
}

void HidController_Cantarem2::resetButtonStateForTests()
{
    std::lock_guard<std::mutex> lock(buttonStateMutex);
    previousButtonBytes[0] = previousButtonBytes[1] = previousButtonBytes[2] = 0;
}

bool HidController_Cantarem2::initialize()
{
    if (!initialized_.exchange(true))
        debugLog("Cantarem2 HID controller initialized");
    return true;
}

void HidController_Cantarem2::shutdown()
{
    closeInput();
    initialized_.store(false);
}

bool HidController_Cantarem2::isInitialized()
{
    return initialized_.load();
}

std::vector<std::string> HidController_Cantarem2::getInputDevices() const
{
    if (isDeviceConnected())
        return {kDeviceName};
    return {};
}

std::vector<std::string> HidController_Cantarem2::getOutputDevices() const
{
    return {};
}

bool HidController_Cantarem2::openInput(const std::string& name)
{
    if (name != kDeviceName)
        return false;
    closeInput();
    std::vector<HidDeviceInfo> devices;
    std::string error;
    if (!system_->findDevices(kVendorId, kProductId, devices, error)) {
        debugLog("Failed to list HID devices: " + error);
        return false;
    }
    if (devices.empty()) {
        debugLog("Cantarem 2 not found");
        return false;
    }
    device_ = system_->open(devices.front(), error);
    if (!device_) {
        debugLog("Failed to open Cantarem 2 device: " + error);
        return false;
    }
    currentInputDevice_ = name;
    deviceLost_.store(false, std::memory_order_release);
    running_.store(true);
    readThread_ = std::thread(&HidController_Cantarem2::readLoop, this);

    debugLog("Waiting for initial Cantarem fader state report...");
    const auto start = std::chrono::steady_clock::now();
    bool received = false;
    {
        std::unique_lock<std::mutex> lock(firstReportMutex_);
        received = firstReportArrived_.wait_for(lock, std::chrono::milliseconds(kFirstReportWaitMs), [&] {
            return firstReportReceived_.load(std::memory_order_acquire) || !running_.load();
        });
    }
    received = received && firstReportReceived_.load(std::memory_order_acquire);
    const auto waitedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (received)
        debugLog("Initial Cantarem state received after " + std::to_string(waitedMs) + "ms");
    else
        debugLog("Warning: No initial report from Cantarem after 500ms - fader positions will update on first movement");
    debugLog("Cantarem 2 opened successfully");
    return true;
}

void HidController_Cantarem2::closeInput()
{
    running_.store(false);
    if (device_)
        device_->close();
    if (readThread_.joinable())
        readThread_.join();
    device_.reset();
    currentInputDevice_.clear();
    firstReportReceived_.store(false, std::memory_order_release);
}

void HidController_Cantarem2::readLoop()
{
    debugLog("Cantarem 2 read thread started");
    uint8_t report[kReportBufferBytes];
    while (running_.load()) {
        size_t length = 0;
        const HidDevice::ReadResult result = device_->readReport(report, sizeof report, length, kReadSliceMs);
        if (result == HidDevice::ReadResult::Removed) {
            if (running_.load()) {
                debugLog("Cantarem 2 disconnected");
                deviceLost_.store(true, std::memory_order_release);
            }
            break;
        }
        if (result == HidDevice::ReadResult::Report)
            processReport(report, length);
    }
    {
        // Wakes an open that waits for the first report of a surface that
        // went away meanwhile.
        std::lock_guard<std::mutex> lock(firstReportMutex_);
        running_.store(false);
    }
    firstReportArrived_.notify_all();
    debugLog("Cantarem 2 read thread stopped");
}

void HidController_Cantarem2::processReport(const uint8_t* report, size_t length)
{
    if (report == nullptr || length < 1)
        return;
    const uint8_t reportId = report[0];
    {
        std::lock_guard<std::mutex> lock(buttonStateMutex);
        ++reportCount;
        if (reportCount <= kLoggedFirstReports || reportCount % kReportLogInterval == 0) {
            char line[80];
            std::snprintf(line, sizeof line, "HID report: ID=%u len=%zu data[0]=0x%02X", reportId, length, report[0]);
            debugLog(line);
        }
        if (reportId != lastLoggedReportId) {
            debugLog("Cantarem report ID: 0x" + hex2(reportId) + " length=" + std::to_string(length));
            lastLoggedReportId = reportId;
        }
    }
    if (reportId == kButtonReportId) {
        debugLog("Button report received");
        processButtonReport(report, length);
    } else if (reportId == kFaderReportId) {
        processFaderReport(report, length);
    }
}

void HidController_Cantarem2::processFaderReport(const uint8_t* report, size_t length)
{
    // A short report has no bytes for the last faders: decoding them would
    // read past what the device sent.
    if (length < kFaderReportBytes) {
        debugLog("Cantarem fader report of " + std::to_string(length) + " bytes ignored");
        return;
    }
    std::lock_guard<std::mutex> lock(callbackMutex_);
    for (int i = 0; i < kFaderCount; ++i) {
        const int raw = report[8 + 2 * i] | ((report[9 + 2 * i] & 0x0F) << 8);
        const int value = scaledValue(raw);
        faderValues_[static_cast<size_t>(i)].store(value, std::memory_order_relaxed);
        // Measured against the value passed on last, so a slow move arrives
        // once it has gone further than the band.
        int& passed = lastPassedValues_[static_cast<size_t>(i)];
        if (std::abs(value - passed) > kFaderBand) {
            passed = value;
            if (faderCallback_)
                faderCallback_(i, value);
        }
    }
    if (!firstReportReceived_.load(std::memory_order_relaxed)) {
        debugLog("Processing first Cantarem fader report");
        {
            std::lock_guard<std::mutex> firstLock(firstReportMutex_);
            // Publishes the positions stored above to the GUI thread.
            firstReportReceived_.store(true, std::memory_order_release);
        }
        firstReportArrived_.notify_all();
    }
}

void HidController_Cantarem2::processButtonReport(const uint8_t* report, size_t length)
{
    if (length < kButtonReportBytes)
        return;
    static const char* const kGlobalNames[] = {"Shift 1: ", "Shift 2: ", "C1 button: ", "C2 button: ",
                                               "C3 button: ", "C4 button: "};
    uint8_t changed[3];
    const uint8_t now[3] = {report[4], report[5], report[6]};
    {
        std::lock_guard<std::mutex> lock(buttonStateMutex);
        for (int b = 0; b < 3; ++b) {
            changed[b] = now[b] ^ previousButtonBytes[b];
            previousButtonBytes[b] = now[b];
        }
    }
    if ((changed[0] | changed[1] | changed[2]) == 0)
        return;
    char line[120];
    std::snprintf(line, sizeof line, "Button RAW: len=%zu b4=0x%02X b5=0x%02X b6=0x%02X (changed: %02X %02X %02X)",
                  length, now[0], now[1], now[2], changed[0], changed[1], changed[2]);
    debugLog(line);
    std::lock_guard<std::mutex> lock(callbackMutex_);
    for (int button = 0; button < 18; ++button) {
        const int byte = button / 8;
        const int bit = button % 8;
        if ((changed[byte] & (1 << bit)) == 0)
            continue;
        const bool pressed = (now[byte] & (1 << bit)) != 0;
        if (button < 12)
            debugLog("Channel " + std::to_string(button + 1) + " button: " + pressedText(pressed));
        else
            debugLog(std::string(kGlobalNames[button - 12]) + pressedText(pressed));
        if (buttonCallback_)
            buttonCallback_(button, pressed);
    }
}

void HidController_Cantarem2::setFaderCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    faderCallback_ = std::move(callback);
}

void HidController_Cantarem2::setKnobCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    knobCallback_ = std::move(callback);
}

void HidController_Cantarem2::setButtonCallback(std::function<void(int, bool)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    buttonCallback_ = std::move(callback);
}

std::vector<int> HidController_Cantarem2::getCurrentFaderPositions() const
{
    std::vector<int> positions;
    for (const auto& value : faderValues_)
        positions.push_back(value.load(std::memory_order_relaxed));
    return positions;
}

bool HidController_Cantarem2::openOutput(const std::string&) { return false; }
void HidController_Cantarem2::closeOutput() {}
bool HidController_Cantarem2::sendFaderPosition(int, int) { return false; }
bool HidController_Cantarem2::sendButtonLED(int, bool) { return false; }
std::string HidController_Cantarem2::getCurrentInputDevice() { return currentInputDevice_; }
std::string HidController_Cantarem2::getCurrentOutputDevice() { return {}; }

// --- Its kind of surface -------------------------------------------------------

namespace {

std::unique_ptr<MidiControllerBase> openCantarem(const std::string& name, uint16_t, bool& hasOutput)
{
    auto driver = std::make_unique<HidController_Cantarem2>();
    driver->initialize();
    if (!driver->openInput(name)) {
        debugLog("Failed to open Cantarem 2");
        return nullptr;
    }
    debugLog("Added Cantarem 2 HID controller");
    hasOutput = false;
    return driver;
}

const HidController_Cantarem2& asCantarem(const MidiControllerBase& driver)
{
    // A record's driver was made by its kind's open: it is this class.
    return static_cast<const HidController_Cantarem2&>(driver);
}

std::unique_ptr<MidiControllerBase> replaceCantarem(MidiControllerBase& lost)
{
    auto fresh = std::make_unique<HidController_Cantarem2>();
    fresh->continueFrom(asCantarem(lost));
    return fresh;
}

}  // namespace

const SurfaceKind& HidController_Cantarem2::surfaceKind()
{
    static const SurfaceKind kind = [] {
        SurfaceKind k;
        k.name = kDeviceName;
        k.abbreviation = "CA";
        k.familyWords = {"Cantarem"};
        k.listing = SurfaceKind::Listing::WhenPresent;
        k.isPresent = &HidController_Cantarem2::isDeviceConnected;
        k.presentLog = "MidiControllerManager: Cantarem 2 HID device detected, adding to list";
        k.absentLog = "MidiControllerManager: Cantarem 2 NOT detected";
        k.open = &openCantarem;
        k.faderCount = kFaderCount;
        k.fadersPerBank = 6;
        k.drivesGlobalKeys = true;
        k.faderOwnsLevel = true;
        k.readBackLabel = "Cantarem 2";
        k.positionsKnown = [](const MidiControllerBase& driver) { return asCantarem(driver).isFirstReportReceived(); };
        k.notReadYetLog = "Cantarem 2 hasn't sent first report yet - will use saved positions";
        k.isLost = [](const MidiControllerBase& driver) { return asCantarem(driver).isDeviceLost(); };
        k.isBack = &HidController_Cantarem2::isDeviceConnected;
        k.makeReplacement = &replaceCantarem;
        k.startReplacement = [](MidiControllerBase& fresh) { return fresh.openInput(kDeviceName); };
        return k;
    }();
    return kind;
}
