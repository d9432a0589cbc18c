// Support shared by the tests of the W9300, L317E, ZJV and BQ71XXE backends:
// a fixture that runs one family's simulator (loopback TCP on 127.0.0.2 or a
// pseudo-terminal) and opens systems through the public API, and a test
// event server on 127.0.0.1 that reads batches with KORUHV_GetEventData.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "modules/text_link_sim.h"

namespace grp1test {

constexpr int kLinkTcp = 0;
constexpr int kLinkUsbVcp = 5;

class FamilyTest : public ::testing::Test {
protected:
    // systemType selects the family; setPort is its TCP port hook.
    FamilyTest(int systemType, void (*setPort)(unsigned short)) : type_(systemType), setPort_(setPort) {}
    void SetUp() override;
    void TearDown() override;

    // Runs the simulator on 127.0.0.2 (ephemeral port handed to the backend
    // through its hook) or on a pseudo-terminal.
    void startTcp(std::unique_ptr<korusim::TextLinkSim> s);
    void startPty(std::unique_ptr<korusim::TextLinkSim> s);

    // Opens a system (expecting success); closed at the end of the test.
    int open(const std::string &address, int link = kLinkTcp);
    // The code of an open that may fail (a success is closed at the end).
    int tryOpen(const std::string &address, int link, int *handle);
    void close(int handle);

    float getFloat(int h, const char *name, unsigned short ch, int *rc = nullptr);
    int getInt(int h, const char *name, unsigned short ch, int *rc = nullptr);
    int setFloat(int h, const char *name, unsigned short ch, float v);
    int setInt(int h, const char *name, unsigned short ch, int v);
    int getBoardInt(int h, const char *name, int *rc = nullptr);
    float getBoardFloat(int h, const char *name, int *rc = nullptr);
    int setBoardInt(int h, const char *name, int v);
    int setBoardFloat(int h, const char *name, float v);
    std::vector<std::string> boardParams(int h);
    std::vector<std::string> channelParams(int h, unsigned short ch, int *rc = nullptr);

    // The last request line the simulator received that contains match.
    std::string lastRequest(const std::string &match = {});

    std::unique_ptr<korusim::TextLinkSim> sim;
    std::vector<int> handles;

private:
    int type_;
    void (*setPort_)(unsigned short);
};

struct Batch {
    int rc = -1;
    std::vector<EventRecord> records;
};

class EventServer {
public:
    EventServer();
    ~EventServer();
    short apiPort() const { return static_cast<short>(port_); }
    // The next connection within the time, its identification text (up to
    // its NUL) in ident; -1 when none came.
    int accept(std::chrono::milliseconds within, std::string *ident);
    static Batch read(int fd);
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
    static bool closedWithin(int fd, std::chrono::milliseconds within);

private:
    int listen_ = -1;
    unsigned short port_ = 0;
    std::vector<int> accepted_;
};

const EventRecord *find(const Batch &b, const char *name, int channel);
// Threads of this process with this name.
int threadCount(const char *name);

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n);
int subscribeBoard(int h, short port, const char *names, unsigned n);
int unsubscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n);

} // namespace grp1test
