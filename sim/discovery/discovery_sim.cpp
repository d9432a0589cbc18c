#include "discovery/discovery_sim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace korusim {

namespace {

bool loopback(uint32_t hostOrder)
{
    return (hostOrder >> 24) == 127;
}

int boundSocket(uint32_t address, uint16_t port, std::string *error)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        if (error)
            *error = "socket failed";
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        if (error)
            *error = std::string("bind failed: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

uint16_t parseDiscoveryQuery(const char *data, size_t length)
{
    if (length < 5 || length > 9 || std::memcmp(data, "LUMO", 4) != 0)
        return 0;
    unsigned value = 0;
    for (size_t i = 4; i < length; ++i) {
        if (data[i] < '0' || data[i] > '9')
            return 0;
        value = value * 10 + unsigned(data[i] - '0');
    }
    return value > 0 && value < 65536 ? uint16_t(value) : 0;
}

DiscoveryResponder::DiscoveryResponder(DiscoveryResponderOptions options) : options_(std::move(options)) {}

DiscoveryResponder::~DiscoveryResponder()
{
    stop();
}

bool DiscoveryResponder::start(std::string *error)
{
    in_addr listen{};
    if (::inet_pton(AF_INET, options_.listenAddress.c_str(), &listen) != 1 ||
        !loopback(ntohl(listen.s_addr))) {
        if (error)
            *error = "listen address must be in 127.0.0.0/8";
        return false;
    }
    const int lastOctet = options_.firstDeviceOctet + int(options_.devices.size()) - 1;
    if (options_.firstDeviceOctet < 1 || lastOctet > 254) {
        if (error)
            *error = "device addresses outside 127.0.0.1..127.0.0.254";
        return false;
    }
    listenFd_ = boundSocket(ntohl(listen.s_addr), options_.listenPort, error);
    if (listenFd_ < 0)
        return false;
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&bound), &len);
    port_ = ntohs(bound.sin_port);
    for (size_t i = 0; i < options_.devices.size(); ++i) {
        const uint32_t address = (127u << 24) | uint32_t(options_.firstDeviceOctet + int(i));
        int fd = boundSocket(address, 0, error);
        if (fd < 0) {
            stop();
            return false;
        }
        deviceFds_.push_back(fd);
        answered_.push_back(0);
    }
    stop_ = false;
    thread_ = std::thread([this] { loop(); });
    return true;
}

void DiscoveryResponder::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    for (int fd : deviceFds_)
        ::close(fd);
    deviceFds_.clear();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

std::vector<int> DiscoveryResponder::queriedPorts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queriedPorts_;
}

void DiscoveryResponder::loop()
{
    char buffer[512];
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n =
            ::recvfrom(listenFd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n <= 0)
            continue;
        const uint16_t port = parseDiscoveryQuery(buffer, size_t(n));
        if (!port)
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queriedPorts_.push_back(port);
        }
        ++queries_;
        if (loopback(ntohl(from.sin_addr.s_addr)))
            answer(ntohl(from.sin_addr.s_addr), port);
    }
}

void DiscoveryResponder::answer(uint32_t peer, uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(peer);
    to.sin_port = htons(port);
    for (size_t i = 0; i < options_.devices.size(); ++i) {
        const DiscoveryDevice &d = options_.devices[i];
        if (d.silent || (d.firstQueryOnly && answered_[i] > 0))
            continue;
        ++answered_[i];
        std::string payload = d.reply;
        if (d.fill512) {
            if (payload.empty())
                payload = "X";
            while (payload.size() < 512)
                payload += d.reply.empty() ? "X" : d.reply;
            payload.resize(512);
        }
        ::sendto(deviceFds_[i], payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&to),
                 sizeof to);
    }
}

} // namespace korusim
