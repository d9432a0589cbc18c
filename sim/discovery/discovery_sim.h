// Discovery responder: answers the program's "LUMO<port>" query the way
// crate mainframes do, one UDP socket per simulated device so that each
// device has its own loopback address (127.0.0.2, 127.0.0.3, ...). Loopback
// only: it refuses to bind or answer outside 127.0.0.0/8.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korusim {

struct DiscoveryDevice {
    std::string reply;           // "model:serial:firmware:control" (any text)
    bool fill512 = false;        // send exactly 512 bytes without a NUL (reply repeated)
    bool silent = false;         // never answers
    bool firstQueryOnly = false; // answers the first query only
};

struct DiscoveryResponderOptions {
    std::string listenAddress = "127.0.0.1";
    uint16_t listenPort = 113; // 0: any free port (see port())
    int firstDeviceOctet = 2;  // device i answers from 127.0.0.(first + i)
    std::vector<DiscoveryDevice> devices;
};

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(DiscoveryResponderOptions options);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder &) = delete;
    DiscoveryResponder &operator=(const DiscoveryResponder &) = delete;

    bool start(std::string *error = nullptr);
    void stop(); // joins the thread; safe to call twice

    uint16_t port() const { return port_; }
    int queriesReceived() const { return queries_.load(); }
    std::vector<int> queriedPorts() const; // reply port of every query, in order

private:
    void loop();
    void answer(uint32_t peer, uint16_t port);

    DiscoveryResponderOptions options_;
    int listenFd_ = -1;
    std::vector<int> deviceFds_;
    std::vector<int> answered_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0};
    mutable std::mutex mutex_;
    std::vector<int> queriedPorts_;
    std::thread thread_;
};

// Parses "LUMO<port>" (no other bytes); 0 when the text is no query.
uint16_t parseDiscoveryQuery(const char *data, size_t length);

} // namespace korusim
