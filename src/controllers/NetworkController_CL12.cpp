#include "controllers/NetworkController_CL12.h"

#include "core/DebugLog.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ifaddrs.h>
#include <iostream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* kDeviceName = "CL-12 Network (UDP)";
constexpr int kFaderTopValue = 16383;

void print(const std::string& text)
{
    std::cout << "[NetworkCL12] " << text << std::endl;
}

// A decimal integer from the start of the text: leading blanks and a sign
// allowed, reading stops at the first non-digit. False when there is no
// number or it does not fit 32 bits.
bool leadingInteger(const std::string& text, int& value)
{
    size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    if (start < text.size() && text[start] == '+')
        ++start;
    const char* begin = text.data() + start;
    const auto [ptr, error] = std::from_chars(begin, text.data() + text.size(), value);
    return error == std::errc() && ptr != begin;
}

}  // namespace

NetworkController_CL12::NetworkController_CL12(uint16_t port) : port_(port) {}

NetworkController_CL12::~NetworkController_CL12()
{
    shutdown();
}

bool NetworkController_CL12::initialize()
{
    if (running_.load())
        return true;  // a second initialize leaves the running receiver alone
    print("Initializing CL-12 Network receiver on UDP port " + std::to_string(port_));
    socketFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socketFd_ < 0) {
        print("Failed to create UDP socket");
        return false;
    }
    const int one = 1;
    ::setsockopt(socketFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    timeval timeout{1, 0};
    ::setsockopt(socketFd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(socketFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        print("Failed to bind to port " + std::to_string(port_) + ": " + std::strerror(errno));
        ::close(socketFd_);
        socketFd_ = -1;
        return false;
    }
    print("Listening for CL-12 fader data on UDP port " + std::to_string(port_));
    running_.store(true);
    receiverThread_ = std::thread(&NetworkController_CL12::receiveThread, this);
    return true;
}

void NetworkController_CL12::shutdown()
{
    if (running_.exchange(false)) {
        // Wakes a receive that waits for its 1 s time-out.
        ::shutdown(socketFd_, SHUT_RDWR);
    }
    if (receiverThread_.joinable())
        receiverThread_.join();
    if (socketFd_ >= 0) {
        ::close(socketFd_);
        socketFd_ = -1;
    }
}

bool NetworkController_CL12::isInitialized()
{
    return running_.load();
}

bool NetworkController_CL12::isTrustedSender(uint32_t addressNetworkOrder)
{
    const uint32_t address = ntohl(addressNetworkOrder);
    if ((address >> 24) == 127)
        return true;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool trusted = false;
    for (ifaddrs* entry = list; entry != nullptr && !trusted; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const uint32_t own = ntohl(reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        const uint32_t mask = ntohl(reinterpret_cast<sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
        trusted = (own & mask) == (address & mask);
    }
    ::freeifaddrs(list);
    return trusted;
}

void NetworkController_CL12::receiveThread()
{
    print("Receiver thread started");
    char buffer[kMaxDatagramBytes];
    while (running_.load()) {
        sockaddr_in sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t received = ::recvfrom(socketFd_, buffer, sizeof buffer, 0,
                                            reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (received > 0) {
            if (!isTrustedSender(sender.sin_addr.s_addr)) {
                if (!droppedSenderLogged_) {
                    char text[INET_ADDRSTRLEN] = {};
                    ::inet_ntop(AF_INET, &sender.sin_addr, text, sizeof text);
                    print(std::string("Ignoring datagrams from ") + text
                          + ": not on loopback or this machine's own networks");
                    droppedSenderLogged_ = true;
                }
                continue;
            }
            processDatagram(buffer, static_cast<size_t>(received));
        } else if (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && running_.load()) {
            print(std::string("recvfrom error: ") + std::strerror(errno));
        }
    }
    print("Receiver thread stopped");
}

void NetworkController_CL12::processDatagram(const char* bytes, size_t length)
{
    const std::string text(bytes, ::strnlen(bytes, length));
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            processMessage(text.substr(start, end - start));
        start = end + 1;
    }
}

void NetworkController_CL12::processMessage(const std::string& line)
{
    if (line.empty() || (line[0] != 'F' && line[0] != 'B'))
        return;
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
        return;
    int index = 0;
    int value = 0;
    if (!leadingInteger(line.substr(1, colon - 1), index) || !leadingInteger(line.substr(colon + 1), value))
        return;
    if (line[0] == 'F') {
        // A bridge's value outside one byte is a fault on its side: hold it
        // to the scale instead of passing on a fader beyond full scale.
        value = std::clamp(value, 0, kMaxValue);
        const int scaled = value * kFaderTopValue / kMaxValue;
        print("Fader " + std::to_string(index) + " = " + std::to_string(value) + " (" + std::to_string(scaled)
              + " 14-bit)");
        std::lock_guard<std::mutex> lock(callbackMutex_);
        if (faderCallback_)
            faderCallback_(index, scaled);
    } else {
        print("Button " + std::to_string(index) + " = " + (value != 0 ? "PRESSED" : "RELEASED"));
        std::lock_guard<std::mutex> lock(callbackMutex_);
        if (buttonCallback_)
            buttonCallback_(index, value == 1);
    }
}

std::vector<std::string> NetworkController_CL12::getInputDevices() const { return {}; }
std::vector<std::string> NetworkController_CL12::getOutputDevices() const { return {}; }
bool NetworkController_CL12::openInput(const std::string&) { return running_.load(); }
bool NetworkController_CL12::openOutput(const std::string&) { return false; }
void NetworkController_CL12::closeInput() {}
void NetworkController_CL12::closeOutput() {}


void NetworkController_CL12::setFaderCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    faderCallback_ = std::move(callback);
}

void NetworkController_CL12::setKnobCallback(std::function<void(int, int)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    knobCallback_ = std::move(callback);
}

void NetworkController_CL12::setButtonCallback(std::function<void(int, bool)> callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    buttonCallback_ = std::move(callback);
}

bool NetworkController_CL12::sendFaderPosition(int, int) { return false; }
bool NetworkController_CL12::sendButtonLED(int, bool) { return false; }
std::string NetworkController_CL12::getCurrentInputDevice() { return kDeviceName; }
std::string NetworkController_CL12::getCurrentOutputDevice() { return {}; }
std::vector<int> NetworkController_CL12::getCurrentFaderPositions() const { return {}; }

// --- Its kind of surface -------------------------------------------------------

namespace {

std::unique_ptr<MidiControllerBase> openNetworkCl12(const std::string&, uint16_t networkPort, bool& hasOutput)
{
    auto driver = std::make_unique<NetworkController_CL12>(networkPort);
    if (!driver->initialize()) {
        debugLog("Failed to initialize CL-12 Network controller");
        return nullptr;
    }
    debugLog("Added CL-12 Network (UDP) controller");
    hasOutput = false;
    return driver;
}

}  // namespace

const SurfaceKind& NetworkController_CL12::surfaceKind()
{
    static const SurfaceKind kind = [] {
        SurfaceKind k;
        k.name = kDeviceName;
        // A bridge may start sending at any time: the choice is always offered.
        k.listing = SurfaceKind::Listing::Always;
        k.presentLog = "MidiControllerManager: Adding CL-12 Network (UDP) option";
        k.open = &openNetworkCl12;
        k.faderCount = 12;
        return k;
    }();
    return kind;
}
