// Support of the L2290 tests: a fixture that runs the module simulator and
// opens systems through the public API, and a test event server on
// 127.0.0.1 that reads event batches with KORUHV_GetEventData.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "modules/l2290_sim.h"

namespace l2290test {

constexpr int kSystemType = 6;
constexpr int kLinkTcp = 0;
constexpr int kLinkUsbVcp = 5;

class L2290Test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator with these modules on 127.0.0.2 (ephemeral port,
    // handed to the backend through its port hook) or on a pseudo-terminal.
    void startTcp(std::vector<korusim::L2290Module> modules = {korusim::L2290Module::make(0)});
    void startPty(std::vector<korusim::L2290Module> modules = {korusim::L2290Module::make(0)});

    // Opens a system; the handle is closed at the end of the test.
    int open(const std::string &address, int link = kLinkTcp);
    void close(int handle);

    float getFloat(int h, const char *name, unsigned short ch, int *rc = nullptr);
    int getInt(int h, const char *name, unsigned short ch, int *rc = nullptr);
    int setFloat(int h, const char *name, unsigned short ch, float v);
    int setInt(int h, const char *name, unsigned short ch, int v);
    int getBoardInt(int h, const char *name, int *rc = nullptr);
    int setBoardInt(int h, const char *name, int v);

    std::unique_ptr<korusim::L2290Sim> sim;
    std::vector<int> handles;
};

// One batch as the event reader hands it out.
struct Batch {
    int rc = -1;
    std::vector<EventRecord> records;
};

class EventServer {
public:
    EventServer();
    ~EventServer();
    unsigned short port() const { return port_; }
    short apiPort() const { return static_cast<short>(port_); }
    // Accepts the next connection within the time; its identification text
    // (read up to and with its NUL) in ident. -1 when none came.
    int accept(std::chrono::milliseconds within, std::string *ident);
    static Batch read(int fd);
    // Reads batches until one satisfies pred or the time is up.
    template <typename Pred> static Batch readUntil(int fd, std::chrono::milliseconds within, Pred pred)
    {
        const auto end = std::chrono::steady_clock::now() + within;
        Batch b;
        while (std::chrono::steady_clock::now() < end) {
            b = read(fd);
            if (b.rc != 0 || pred(b))
                return b;
        }
        b.rc = -2;
        return b;
    }
    // True when the peer closed the connection within the time.
    static bool closedWithin(int fd, std::chrono::milliseconds within);
    void closeListener();

private:
    int listen_ = -1;
    unsigned short port_ = 0;
    std::vector<int> accepted_;
};

// Names of this process's threads that the backend started.
int pollThreadCount();

// Records of a batch with this name and channel.
const EventRecord *find(const Batch &b, const char *name, int channel);

} // namespace l2290test
