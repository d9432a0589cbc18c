// Network bridge simulator: frame reader and writer, fault knobs.
#include "vme/vme_sim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace korusim {

namespace {

constexpr uint8_t kMagic[4] = {0xAA, 0xAA, 0xCA, 0xE7};
constexpr size_t kFrame = 61440;
constexpr size_t kLastFrame = 32772;
constexpr size_t kMaxRequest = 8388608 + 8;

bool readFull(int fd, uint8_t *p, size_t n, const std::atomic<bool> &running)
{
    size_t got = 0;
    while (got < n) {
        pollfd pf{fd, POLLIN, 0};
        int r = ::poll(&pf, 1, 100);
        if (!running)
            return false;
        if (r <= 0)
            continue;
        ssize_t k = ::recv(fd, p + got, n - got, 0);
        if (k <= 0)
            return false;
        got += static_cast<size_t>(k);
    }
    return true;
}

bool writeFull(int fd, const uint8_t *p, size_t n)
{
    while (n) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

void header(uint8_t *h, uint32_t total, bool badMagic)
{
    std::memcpy(h, kMagic, 4);
    if (badMagic)
        h[3] = 0x00;
    h[4] = total >> 24;
    h[5] = (total >> 16) & 0xFF;
    h[6] = (total >> 8) & 0xFF;
    h[7] = total & 0xFF;
}

} // namespace

std::vector<uint8_t> vmeNetworkLayout(const uint8_t *req, size_t len, const std::vector<uint8_t> &data)
{
    const uint16_t cmd = len >= 2 ? static_cast<uint16_t>(req[0] | (req[1] << 8)) : 0;
    const unsigned width = (cmd >> 4) & 3;
    size_t unit = 0, padded = 0;
    if (!(cmd & 0x8000) || width <= 1) {
        unit = 2;
        padded = 4;
    } else if (width == 2 && (cmd & 0xF) == 1) {
        unit = (cmd & 0x4000) ? 6 : 2;
        padded = (cmd & 0x4000) ? 8 : 4;
    }
    if (unit == 0)
        return data;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < data.size(); i += unit) {
        size_t n = std::min(unit, data.size() - i);
        out.insert(out.end(), data.begin() + i, data.begin() + i + n);
        out.insert(out.end(), padded - n, 0);
    }
    return out;
}

VmeBridgeSim::VmeBridgeSim(std::shared_ptr<VmeBridgeModel> model)
    : model_(model ? model : std::make_shared<VmeBridgeModel>())
{
}

VmeBridgeSim::~VmeBridgeSim()
{
    stop();
}

bool VmeBridgeSim::start(const std::string &address, uint16_t port, int backlog)
{
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0)
        return false;
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 || (ntohl(sa.sin_addr.s_addr) >> 24) != 127 ||
        ::bind(listen_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        ::listen(listen_, backlog) != 0) {
        ::close(listen_);
        listen_ = -1;
        return false;
    }
    socklen_t sl = sizeof sa;
    getsockname(listen_, reinterpret_cast<sockaddr *>(&sa), &sl);
    port_ = ntohs(sa.sin_port);
    running_ = true;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void VmeBridgeSim::stop()
{
    if (!running_.exchange(false))
        return;
    if (acceptThread_.joinable())
        acceptThread_.join();
    for (std::thread &t : clients_)
        if (t.joinable())
            t.join();
    clients_.clear();
    if (listen_ >= 0)
        ::close(listen_);
    listen_ = -1;
}

void VmeBridgeSim::acceptLoop()
{
    while (running_) {
        if (!accepting_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        pollfd pf{listen_, POLLIN, 0};
        if (::poll(&pf, 1, 100) <= 0)
            continue;
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++connections_;
        clients_.emplace_back([this, fd] { serve(fd); });
    }
}

bool VmeBridgeSim::sendReply(int fd, const std::vector<uint8_t> &payload)
{
    const VmeFault f = fault_;
    std::vector<uint8_t> wire;
    auto frame = [&](const uint8_t *p, size_t n) {
        uint8_t h[8];
        header(h, static_cast<uint32_t>(n + 8), f == VmeFault::BadMagic);
        wire.insert(wire.end(), h, h + 8);
        wire.insert(wire.end(), p, p + n);
    };
    if (f == VmeFault::BadLength) {
        uint8_t h[8];
        header(h, 4, false);
        wire.insert(wire.end(), h, h + 8);
    } else if (f == VmeFault::ShortFrame) {
        const uint8_t two[2] = {0, 0};
        frame(two, 2);
    } else if (f == VmeFault::OversizeFrame) {
        std::vector<uint8_t> big(kFrame + 16, 0);
        frame(big.data(), big.size());
    } else {
        size_t pos = 0;
        int full = 0;
        for (;;) {
            const size_t max = full == 136 ? kLastFrame : kFrame;
            const size_t n = std::min(max, payload.size() - pos);
            frame(payload.data() + pos, n);
            pos += n;
            if (n < max)
                break;
            if (++full == 137)
                break;
        }
    }
    if (f == VmeFault::SplitFrames) {
        for (size_t i = 0; i < wire.size(); i += 3) {
            if (!writeFull(fd, wire.data() + i, std::min<size_t>(3, wire.size() - i)))
                return false;
            if (i < 64)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    return writeFull(fd, wire.data(), wire.size());
}

void VmeBridgeSim::serve(int fd)
{
    std::vector<uint8_t> req;
    while (running_) {
        uint8_t h[8];
        if (!readFull(fd, h, 8, running_))
            break;
        const uint32_t total = (static_cast<uint32_t>(h[4]) << 24) | (h[5] << 16) | (h[6] << 8) | h[7];
        if (std::memcmp(h, kMagic, 4) != 0 || total < 8 || total > kMaxRequest)
            break;
        req.resize(total - 8);
        if (!req.empty() && !readFull(fd, req.data(), req.size(), running_))
            break;
        if (fault_ == VmeFault::Close)
            break;
        VmeReply r = model_->execute(req.data(), req.size());
        if (!r.expected || fault_ == VmeFault::Silence)
            continue;
        if (int ms = delayMs_)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::vector<uint8_t> payload = vmeNetworkLayout(req.data(), req.size(), r.data);
        for (int i = 0; i < 4; ++i)
            payload.push_back((r.status >> (8 * i)) & 0xFF);
        if (!sendReply(fd, payload))
            break;
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

} // namespace korusim
