// Support of the second-group module tests: opening systems through the
// public API, a test event server on 127.0.0.1 that reads event batches with
// KORUHV_GetEventData, and small typed accessors.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"

namespace grp2test {

constexpr int kLinkTcp = 0;
constexpr int kLinkUsbVcp = 5;

// Shortens the open pauses and the polling period for the test's life and
// closes every system it opened at its end.
class Grp2Test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a system; expects success unless expectRc says otherwise. The
    // handle (or -1) is returned and closed at the end of the test.
    int open(int systemType, const std::string &address, int link = kLinkTcp, int expectRc = 0);
    void close(int handle);

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
    short apiPort() const { return static_cast<short>(port_); }
    // Accepts the next connection within the time; its identification text
    // (up to its NUL) in ident. -1 when none came.
    int accept(std::chrono::milliseconds within, std::string *ident);
    static Batch read(int fd);
    // Reads batches until one satisfies pred or the time is up (rc -2).
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
// Threads of this process with this name ("L5026 poll").
int threadCount(const char *name);

// Typed reads and writes of one channel or of the board (slot 0).
float getChFloat(int h, const char *name, unsigned short ch, int *rc = nullptr);
int getChInt(int h, const char *name, unsigned short ch, int *rc = nullptr);
int setChFloat(int h, const char *name, unsigned short ch, float v);
int setChInt(int h, const char *name, unsigned short ch, int v);
float getBdFloat(int h, const char *name, int *rc = nullptr);
int getBdInt(int h, const char *name, int *rc = nullptr);
int setBdFloat(int h, const char *name, float v);
int setBdInt(int h, const char *name, int v);
// Names of a 10-byte-slot list (board or channel parameters).
std::vector<std::string> boardParams(int h);
std::vector<std::string> channelParams(int h, unsigned short ch, int *rc = nullptr);
int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n);
int unsubscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n);
int subscribeBoard(int h, short port, const char *names, unsigned n);

} // namespace grp2test
