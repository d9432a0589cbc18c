// A TCP proxy on loopback in front of a simulator that spoils chosen
// replies: one held back past the reply bound, one cut short (and the
// connection closed), one sent twice (back to back, or the copy when the
// next request comes, or ms later), one released only behind the reply after
// it. It can also add a network's latency each way or on replies alone, and
// play a unit that does not listen for a while after a connect. Requests
// pass unchanged. Replies
// are cut out of the server's stream by a framing function (a length-framed
// reply, a text line), kept in order unless a fault says otherwise, and
// each armed fault spoils the next reply that is complete after it was
// armed.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace koru_test {

class FaultProxy {
public:
    // Length of the first whole reply in buf, 0 while it is incomplete.
    using Framing = std::function<size_t(const std::string &buf)>;

    static size_t framedBigEndian(const std::string &b)
    {
        if (b.size() < 4)
            return 0;
        const auto *u = reinterpret_cast<const uint8_t *>(b.data());
        const size_t n = size_t(u[0]) << 24 | size_t(u[1]) << 16 | size_t(u[2]) << 8 | u[3];
        return b.size() >= 4 + n ? 4 + n : 0;
    }
    static size_t framedLittleEndian(const std::string &b)
    {
        if (b.size() < 4)
            return 0;
        const auto *u = reinterpret_cast<const uint8_t *>(b.data());
        const size_t n = size_t(u[3]) << 24 | size_t(u[2]) << 16 | size_t(u[1]) << 8 | u[0];
        return b.size() >= 4 + n ? 4 + n : 0;
    }
    static size_t line(const std::string &b)
    {
        const size_t nl = b.find('\n');
        return nl == std::string::npos ? 0 : nl + 1;
    }

    // Listens on listenIp (an ephemeral port) and forwards every accepted
    // connection to serverIp:serverPort.
    FaultProxy(Framing framing, const char *serverIp, uint16_t serverPort, const char *listenIp = "127.0.0.3")
        : framing_(std::move(framing)), serverPort_(serverPort)
    {
        ::inet_aton(serverIp, &serverAddr_);
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_aton(listenIp, &a.sin_addr);
        int one = 1;
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
            ::listen(listenFd_, 8) == 0) {
            socklen_t l = sizeof a;
            ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &l);
            port_ = ntohs(a.sin_port);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~FaultProxy()
    {
        stop_ = true;
        thread_.join();
        for (Pair &p : pairs_)
            closePair(p);
        ::close(listenFd_);
    }
    FaultProxy(const FaultProxy &) = delete;
    FaultProxy &operator=(const FaultProxy &) = delete;

    uint16_t port() const { return port_; }

    // The next reply comes ms later than the server sent it (later replies
    // queue behind it, as behind a busy device).
    void delayNext(int ms) { arm({Fault::Delay, ms, 0}); }
    // Only the first bytes of the next reply go out, then both sides close.
    void cutNext(size_t bytes) { arm({Fault::Cut, 0, bytes}); }
    // The next reply goes out twice, back to back in one send.
    void doubleNext() { arm({Fault::Double, 0, 0}); }
    // The next reply goes out, and a copy of it goes out again when the next
    // request arrives, before that request is forwarded.
    void doubleAtNextRequest() { arm({Fault::DoubleAtNextRequest, 0, 0}); }
    // The next reply is held back and goes out ms after the reply that
    // follows it.
    void holdBehindNext(int ms) { arm({Fault::HoldBehindNext, ms, 0}); }
    // The next reply goes out, and a copy of it ms later; the replies
    // between leave on time (the copy overtakes nothing).
    void copyNextLater(int ms) { arm({Fault::CopyLater, ms, 0}); }
    // Every byte takes ms longer on its way, in each direction.
    void setLatency(int ms) { latencyMs_ = ms; }
    // Every reply leaves ms after the server sent it (requests go at once).
    void setReplyLatency(int ms) { replyLatencyMs_ = ms; }
    // What a client sends in the first ms after its connection was
    // accepted is dropped (a unit still starting up).
    void deafAfterConnect(int ms) { deafMs_ = ms; }

    // Connections the proxy accepted so far.
    int accepted() const { return accepted_.load(); }
    // Replies the proxy has sent out whole (a doubled one counts twice).
    int repliesOut() const { return repliesOut_.load(); }

private:
    struct Fault {
        enum Kind { Delay, Cut, Double, DoubleAtNextRequest, HoldBehindNext, CopyLater } kind;
        int ms;
        size_t bytes;
    };
    struct Out {
        std::chrono::steady_clock::time_point at;
        std::string bytes;
        int replies = 0;
        bool closeAfter = false;
    };
    struct Pair {
        int client = -1, server = -1;
        std::string fromServer;
        std::deque<Out> queue;   // to the client
        std::deque<Out> upQueue; // to the server
        std::string copyAtNextRequest;
        bool holding = false; // `held` waits for the reply after it
        Out held;
        int heldGapMs = 0;
        std::chrono::steady_clock::time_point acceptedAt;
        std::vector<Out> copies; // copies, each out at its own time
        bool dead = false;
    };

    void arm(Fault f)
    {
        std::lock_guard<std::mutex> g(m_);
        armed_.push_back(f);
    }

    static void closePair(Pair &p)
    {
        for (int *fd : {&p.client, &p.server})
            if (*fd >= 0) {
                ::shutdown(*fd, SHUT_RDWR);
                ::close(*fd);
                *fd = -1;
            }
        p.dead = true;
    }

    static bool sendAll(int fd, const char *p, size_t n)
    {
        while (n) {
            const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
            if (k <= 0)
                return false;
            p += k;
            n -= size_t(k);
        }
        return true;
    }

    void acceptOne()
    {
        const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            return;
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr = serverAddr_;
        a.sin_port = htons(serverPort_);
        if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(s);
            ::close(c);
            return;
        }
        Pair p;
        p.acceptedAt = std::chrono::steady_clock::now();
        p.client = c;
        p.server = s;
        pairs_.push_back(std::move(p));
        ++accepted_;
    }

    static void queueInOrder(std::deque<Out> &q, Out o)
    {
        if (!q.empty())
            o.at = std::max(o.at, q.back().at);
        q.push_back(std::move(o));
    }

    std::chrono::steady_clock::time_point later(std::chrono::steady_clock::time_point t) const
    {
        return t + std::chrono::milliseconds(latencyMs_.load());
    }

    void takeReplies(Pair &p)
    {
        const auto now = std::chrono::steady_clock::now();
        for (size_t n; (n = framing_(p.fromServer)) > 0;) {
            std::string reply = p.fromServer.substr(0, n);
            p.fromServer.erase(0, n);
            Out o{later(now) + std::chrono::milliseconds(replyLatencyMs_.load()), reply, 1, false};
            std::optional<Out> copy;
            bool hold = false;
            {
                std::lock_guard<std::mutex> g(m_);
                if (!armed_.empty()) {
                    const Fault f = armed_.front();
                    armed_.erase(armed_.begin());
                    if (f.kind == Fault::Delay)
                        o.at += std::chrono::milliseconds(f.ms);
                    else if (f.kind == Fault::Cut) {
                        o.bytes.resize(std::min(f.bytes, o.bytes.size()));
                        o.replies = 0;
                        o.closeAfter = true;
                    } else if (f.kind == Fault::Double) {
                        o.bytes += reply;
                        o.replies = 2;
                    } else if (f.kind == Fault::DoubleAtNextRequest) {
                        p.copyAtNextRequest = reply;
                    } else if (f.kind == Fault::CopyLater) {
                        copy = Out{o.at + std::chrono::milliseconds(f.ms), reply, 1, false};
                    } else {
                        hold = true;
                        p.heldGapMs = f.ms;
                    }
                }
            }
            if (copy)
                p.copies.push_back(std::move(*copy));
            if (hold) {
                p.held = std::move(o);
                p.holding = true;
                continue;
            }
            queueInOrder(p.queue, std::move(o));
            if (p.holding) {
                p.held.at = p.queue.back().at + std::chrono::milliseconds(p.heldGapMs);
                queueInOrder(p.queue, std::move(p.held));
                p.holding = false;
            }
        }
    }

    // Bytes of the client on their way to the server (a copy armed for the
    // next request goes out to the client first).
    void takeRequest(Pair &p, const char *buf, size_t n)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!p.copyAtNextRequest.empty()) {
            queueInOrder(p.queue, Out{later(now), std::move(p.copyAtNextRequest), 1, false});
            p.copyAtNextRequest.clear();
        }
        if (latencyMs_.load() == 0 && p.upQueue.empty()) {
            if (!sendAll(p.server, buf, n))
                closePair(p);
            return;
        }
        queueInOrder(p.upQueue, Out{later(now), std::string(buf, n), 0, false});
    }

    void run()
    {
        while (!stop_) {
            std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
            std::vector<std::pair<size_t, bool>> who; // pair index, from server
            auto now = std::chrono::steady_clock::now();
            int wait = 20;
            for (size_t i = 0; i < pairs_.size(); ++i) {
                Pair &p = pairs_[i];
                if (p.dead)
                    continue;
                fds.push_back({p.client, POLLIN, 0});
                who.push_back({i, false});
                fds.push_back({p.server, POLLIN, 0});
                who.push_back({i, true});
                for (const std::deque<Out> *q : {&p.queue, &p.upQueue})
                    if (!q->empty()) {
                        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(q->front().at - now)
                                        .count();
                        wait = std::clamp(int(left), 0, wait);
                    }
                for (const Out &o : p.copies) {
                    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(o.at - now).count();
                    wait = std::clamp(int(left), 0, wait);
                }
            }
            ::poll(fds.data(), fds.size(), wait);
            if (fds[0].revents & POLLIN)
                acceptOne();
            for (size_t k = 1; k < fds.size(); ++k) {
                if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                Pair &p = pairs_[who[k - 1].first];
                if (p.dead)
                    continue;
                char buf[65536];
                const ssize_t n = ::recv(fds[k].fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n <= 0) {
                    closePair(p);
                    continue;
                }
                if (!who[k - 1].second) {
                    if (std::chrono::steady_clock::now() <
                        p.acceptedAt + std::chrono::milliseconds(deafMs_.load()))
                        continue; // not listening yet: dropped
                    takeRequest(p, buf, size_t(n));
                    continue;
                }
                p.fromServer.append(buf, size_t(n));
                takeReplies(p);
            }
            now = std::chrono::steady_clock::now();
            for (Pair &p : pairs_) {
                while (!p.dead && !p.upQueue.empty() && p.upQueue.front().at <= now) {
                    if (!sendAll(p.server, p.upQueue.front().bytes.data(), p.upQueue.front().bytes.size()))
                        closePair(p);
                    else
                        p.upQueue.pop_front();
                }
                while (!p.dead && !p.queue.empty() && p.queue.front().at <= now) {
                    Out o = std::move(p.queue.front());
                    p.queue.pop_front();
                    if (!sendAll(p.client, o.bytes.data(), o.bytes.size()) || o.closeAfter) {
                        closePair(p);
                        break;
                    }
                    repliesOut_ += o.replies;
                }
                for (size_t i = 0; !p.dead && i < p.copies.size();) {
                    if (p.copies[i].at > now) {
                        ++i;
                        continue;
                    }
                    if (!sendAll(p.client, p.copies[i].bytes.data(), p.copies[i].bytes.size())) {
                        closePair(p);
                        break;
                    }
                    ++repliesOut_;
                    p.copies.erase(p.copies.begin() + std::ptrdiff_t(i));
                }
            }
        }
    }

    Framing framing_;
    in_addr serverAddr_{};
    uint16_t serverPort_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> repliesOut_{0};
    std::atomic<int> latencyMs_{0};
    std::atomic<int> replyLatencyMs_{0};
    std::atomic<int> deafMs_{0};
    std::mutex m_;
    std::vector<Fault> armed_;
    std::vector<Pair> pairs_;
    std::thread thread_;
};

} // namespace koru_test
