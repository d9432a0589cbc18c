// Support of the L2290 tests: a fixture that runs the module simulator and
// opens systems through the public API, and a test event server on
// 127.0.0.1 that reads event batches with KORUHV_GetEventData.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "api_access.h"
#include "event_server.h"
#include "modules/l2290_sim.h"

namespace l2290test {

constexpr int kSystemType = 6;
constexpr int kLinkTcp = 0;
constexpr int kLinkUsbVcp = 5;

// Typed reads and writes come from FixtureAccess.
class L2290Test : public ::testing::Test, protected korutest::FixtureAccess {
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

    std::unique_ptr<korusim::L2290Sim> sim;
    std::vector<int> handles;
};

using korutest::Batch;
using korutest::EventServer;
using korutest::find;
using korutest::kWait;

// Names of this process's threads that the backend started.
int pollThreadCount();

} // namespace l2290test
