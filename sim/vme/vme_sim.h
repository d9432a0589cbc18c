// Simulated network VME bridge: serves the bridge's TCP protocol (frames of
// an 8-byte header: magic 0xE7CAAAAA little-endian, big-endian total length)
// on a loopback address, over a VmeBridgeModel. Fault knobs let tests see how
// the library copes with silent, slow, split, malformed or closed replies.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vme/vme_bridge_model.h"

namespace korusim {

enum class VmeFault {
    None,
    Silence,       // read the request, never answer
    SplitFrames,   // send replies in pieces of a few bytes
    BadMagic,      // reply header with a wrong magic
    ShortFrame,    // reply whose payload is shorter than the status word
    BadLength,     // reply header whose length is below 8
    OversizeFrame, // reply frame above the frame maximum
    Close,         // close the connection when a request arrives
};

class VmeBridgeSim {
public:
    explicit VmeBridgeSim(std::shared_ptr<VmeBridgeModel> model = nullptr);
    ~VmeBridgeSim();
    VmeBridgeSim(const VmeBridgeSim &) = delete;
    VmeBridgeSim &operator=(const VmeBridgeSim &) = delete;

    // Binds address:port (0: an ephemeral port) and serves until stop().
    bool start(const std::string &address, uint16_t port = 0, int backlog = 8);
    void stop();
    uint16_t port() const { return port_; }
    VmeBridgeModel &model() { return *model_; }

    void setFault(VmeFault f) { fault_ = f; }
    void setDelayMs(int ms) { delayMs_ = ms; }
    // Stop accepting connections (they stay queued in the listen backlog).
    void setAccepting(bool on) { accepting_ = on; }
    int connections() const { return connections_; }

private:
    void acceptLoop();
    void serve(int fd);
    bool sendReply(int fd, const std::vector<uint8_t> &payload);

    std::shared_ptr<VmeBridgeModel> model_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> running_{false};
    std::atomic<VmeFault> fault_{VmeFault::None};
    std::atomic<int> delayMs_{0};
    std::atomic<bool> accepting_{true};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;
    std::vector<std::thread> clients_;
    std::vector<int> clientFds_;
};

// The reply as the network bridge lays it out: 16-bit units, and the 6-byte
// units of a D32 single read, padded to 32-bit and 64-bit groups.
std::vector<uint8_t> vmeNetworkLayout(const uint8_t *request, size_t length,
                                      const std::vector<uint8_t> &data);

} // namespace korusim
