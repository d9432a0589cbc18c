// Support of the second-group module tests: opening systems through the
// public API, a test event server on 127.0.0.1 that reads event batches with
// KORUHV_GetEventData, and small typed accessors.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "api_access.h"
#include "event_server.h"

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

using korutest::Batch;
using korutest::EventServer;
using korutest::find;
using korutest::kWait;
using korutest::threadCount; // ("L5026 poll")

// Typed reads of one channel or of the board (slot 0); a failed read
// returns the bytes 0xA5. Writes and lists are the shared ones.
float getChFloat(int h, const char *name, unsigned short ch, int *rc = nullptr);
int getChInt(int h, const char *name, unsigned short ch, int *rc = nullptr);
float getBdFloat(int h, const char *name, int *rc = nullptr);
int getBdInt(int h, const char *name, int *rc = nullptr);
using korutest::boardParams;
using korutest::channelParams;
using korutest::setBdFloat;
using korutest::setBdInt;
using korutest::setChFloat;
using korutest::setChInt;
using korutest::unsubscribeChannel;
// Subscriptions that also expect every per-name result to be 0.
int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n);
int subscribeBoard(int h, short port, const char *names, unsigned n);

} // namespace grp2test
