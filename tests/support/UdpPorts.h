#pragma once

#include <cstdint>
#include <string>

// A UDP port on all addresses held by this test, so a receiver meant for it
// cannot bind; port() is free to use for a receiver once released.
class UdpPortHolder {
public:
    UdpPortHolder();
    ~UdpPortHolder();
    UdpPortHolder(const UdpPortHolder&) = delete;
    UdpPortHolder& operator=(const UdpPortHolder&) = delete;
    uint16_t port() const { return port_; }
    void release();

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A free UDP port on this machine (taken and given back at once).
uint16_t freeUdpPort();

// Sends one datagram to 127.0.0.1:port from a fresh socket.
void sendUdp(uint16_t port, const std::string& payload);
