// A scripted device on loopback TCP for crafted-byte tests: it accepts
// connections on an ephemeral port of a 127.0.0.x address, reads
// length-framed requests (length in the given byte order) and answers each
// with what the test's handler returns (no reply for std::nullopt). Every
// wait is bounded; the destructor closes and joins everything.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "wait_progress.h"

namespace testdev {

inline std::string le16(uint16_t v)
{
    return std::string{char(v), char(v >> 8)};
}
inline std::string le32(uint32_t v)
{
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline std::string be16(uint16_t v)
{
    return std::string{char(v >> 8), char(v)};
}
inline std::string be32(uint32_t v)
{
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

class FramedServer {
public:
    using Handler = std::function<std::optional<std::string>(const std::string &request)>;

    FramedServer(const char *address, bool littleEndian, Handler h)
        : little_(littleEndian), handler_(std::move(h))
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &a.sin_addr);
        if (::bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(listen_, 8) == 0) {
            socklen_t l = sizeof a;
            ::getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &l);
            port_ = ntohs(a.sin_port);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~FramedServer()
    {
        stop_ = true;
        thread_.join();
        std::lock_guard<std::mutex> g(m_);
        for (int c : conns_)
            if (c >= 0)
                ::close(c);
        ::close(listen_);
    }
    uint16_t port() const { return port_; }
    std::vector<std::string> requests()
    {
        std::lock_guard<std::mutex> g(m_);
        return requests_;
    }
    // The last request of that keyword (the library may send a check
    // request of another keyword right behind a request); empty when none.
    std::string lastRequest(const std::string &keyword)
    {
        std::lock_guard<std::mutex> g(m_);
        for (auto it = requests_.rbegin(); it != requests_.rend(); ++it)
            if (it->compare(0, keyword.size() + 1, keyword + ":") == 0)
                return *it;
        return {};
    }
    int connections()
    {
        std::lock_guard<std::mutex> g(m_);
        return int(conns_.size());
    }
    // Sends a framed payload on the newest connection.
    bool push(const std::string &payload)
    {
        std::lock_guard<std::mutex> g(m_);
        for (auto it = conns_.rbegin(); it != conns_.rend(); ++it)
            if (*it >= 0) {
                std::string f = frame(payload);
                return ::send(*it, f.data(), f.size(), MSG_NOSIGNAL) == ssize_t(f.size());
            }
        return false;
    }
    // Wait for progress; the bound only catches a hang.
    bool waitConnections(int n, std::chrono::milliseconds bound = koru_test::kHangGuard)
    {
        return koru_test::waitFor([&] { return connections() >= n; }, bound);
    }
    bool waitRequests(size_t n, std::chrono::milliseconds bound = koru_test::kHangGuard)
    {
        return koru_test::waitFor([&] { return requests().size() >= n; }, bound);
    }
    void closeAll()
    {
        std::lock_guard<std::mutex> g(m_);
        for (int c : conns_)
            if (c >= 0)
                ::shutdown(c, SHUT_RDWR);
    }

private:
    std::string frame(const std::string &p) const
    {
        return (little_ ? le32(uint32_t(p.size())) : be32(uint32_t(p.size()))) + p;
    }
    void run()
    {
        std::vector<std::string> pending; // bytes per connection
        while (!stop_) {
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            {
                std::lock_guard<std::mutex> g(m_);
                for (int c : conns_)
                    fds.push_back({c, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                int c = ::accept(listen_, nullptr, nullptr);
                if (c >= 0) {
                    std::lock_guard<std::mutex> g(m_);
                    conns_.push_back(c);
                    pending.emplace_back();
                }
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char buf[4096];
                ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    std::lock_guard<std::mutex> g(m_);
                    ::close(conns_[i - 1]);
                    conns_[i - 1] = -1; // poll skips it; indexes stay aligned
                    continue;
                }
                if (n < 0)
                    continue;
                std::string &p = pending[i - 1];
                p.append(buf, size_t(n));
                while (p.size() >= 4) {
                    const auto *u = reinterpret_cast<const uint8_t *>(p.data());
                    uint32_t len = little_ ? (u[0] | u[1] << 8 | u[2] << 16 | uint32_t(u[3]) << 24)
                                           : (uint32_t(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3]);
                    if (p.size() < 4 + size_t(len))
                        break;
                    std::string req = p.substr(4, len);
                    p.erase(0, 4 + size_t(len));
                    {
                        std::lock_guard<std::mutex> g(m_);
                        requests_.push_back(req);
                    }
                    std::optional<std::string> reply = handler_(req);
                    if (reply) {
                        std::string f = frame(*reply);
                        ::send(fds[i].fd, f.data(), f.size(), MSG_NOSIGNAL);
                    }
                }
            }
        }
    }

    bool little_;
    Handler handler_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex m_;
    std::vector<int> conns_;
    std::vector<std::string> requests_;
};

} // namespace testdev
