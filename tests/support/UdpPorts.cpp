#include "support/UdpPorts.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

UdpPortHolder::UdpPortHolder()
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = 0;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot bind a UDP socket";
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

UdpPortHolder::~UdpPortHolder()
{
    release();
}

void UdpPortHolder::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

uint16_t freeUdpPort()
{
    UdpPortHolder holder;
    return holder.port();
}

void sendUdp(uint16_t port, const std::string& payload)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const ssize_t sent = ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&address),
                                  sizeof address);
    ::close(fd);
    ASSERT_EQ(sent, static_cast<ssize_t>(payload.size()));
}
