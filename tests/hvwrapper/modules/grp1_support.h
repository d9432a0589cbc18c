// Support shared by the tests of the W9300, L317E, ZJV and BQ71XXE backends:
// a fixture that runs one family's simulator (loopback TCP on 127.0.0.2 or a
// pseudo-terminal) and opens systems through the public API, and a test
// event server on 127.0.0.1 that reads batches with KORUHV_GetEventData.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "api_access.h"
#include "event_server.h"
#include "modules/text_link_sim.h"

namespace grp1test {

constexpr int kLinkTcp = 0;
constexpr int kLinkUsbVcp = 5;

// Typed reads and writes come from FixtureAccess.
class FamilyTest : public ::testing::Test, protected korutest::FixtureAccess {
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

    // The last request line the simulator received that contains match.
    std::string lastRequest(const std::string &match = {});

    std::unique_ptr<korusim::TextLinkSim> sim;
    std::vector<int> handles;

private:
    int type_;
    void (*setPort_)(unsigned short);
};

using korutest::Batch;
using korutest::boardParams;
using korutest::channelParams;
using korutest::EventServer;
using korutest::find;
using korutest::kWait;
using korutest::threadCount;
using korutest::unsubscribeChannel;

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n);
int subscribeBoard(int h, short port, const char *names, unsigned n);

} // namespace grp1test
