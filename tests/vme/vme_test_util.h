// Shared helpers of the library's tests: simulated devices installed for one
// test, a network bridge on loopback, lock objects removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "KORUVMElib.h"
#include "sim_devices.h"
#include "vme/vme_sim.h"
#include "vme_hooks.h"
#include "vme_internal.h"

namespace vmetest {

inline std::string lockName(int kind, uint32_t link, int board = -1)
{
    char b[64];
    if (board < 0)
        std::snprintf(b, sizeof b, "KORUV_LCK_%d_%u", kind, link);
    else
        std::snprintf(b, sizeof b, "KORUV_LCK_%d_%u_%d", kind, link, board);
    return b;
}

// Installs simulated devices (and a simulated USB adapter) for one test and
// closes every handle the test left open.
class DeviceTest : public ::testing::Test {
protected:
    SimDeviceIo dev;
    SimUsbIo usb;
    std::vector<std::string> locks;

    void SetUp() override
    {
        koruvme::setDeviceIo(&dev);
        koruvme::setUsbIo(&usb);
    }
    void TearDown() override
    {
        for (int32_t h = 0; h < KORUVME_MAX_HANDLES; ++h)
            KORUVME_End(h);
        koruvme::setDeviceIo(nullptr);
        koruvme::setUsbIo(nullptr);
        koruvme::netSettings() = koruvme::NetSettings{};
        for (const std::string &l : locks)
            shm_unlink(l.c_str());
    }
    // An optical board type on J4280 card 0 (kind 4) with its own bridge.
    std::shared_ptr<korusim::VmeBridgeModel> opticalCard(uint32_t type, int32_t *h, int16_t board = 0)
    {
        auto bridge = std::make_shared<korusim::VmeBridgeModel>();
        dev.setProcCount("1\n");
        dev.addNode("/dev/j4280_" + std::to_string(board), bridge);
        uint32_t link = 0;
        locks.push_back(lockName(4, 0, board));
        EXPECT_EQ(KORUVME_Init2(type, &link, board, h), 0);
        return bridge;
    }
};

// A network bridge (board type 23) on 127.0.0.2 with an ephemeral port.
class NetTest : public DeviceTest {
protected:
    korusim::VmeBridgeSim sim;
    int32_t h = -1;
    void SetUp() override
    {
        DeviceTest::SetUp();
        ASSERT_TRUE(sim.start("127.0.0.2", 0));
        koruvme::netSettings().port = sim.port();
        locks.push_back(lockName(3, 0x0200007F)); // 127.0.0.2 in network byte order
        ASSERT_EQ(KORUVME_Init2(23, "127.0.0.2", 0, &h), 0);
        sync();
        sim.model().clearLogs();
    }
    // Register writes are not answered: a read behind them waits until the
    // bridge has taken them.
    void sync()
    {
        uint32_t v = 0;
        ASSERT_EQ(KORUVME_ReadRegister(h, 0, &v), 0);
    }
    void TearDown() override
    {
        DeviceTest::TearDown();
        sim.stop();
    }
    korusim::VmeBridgeModel &bridge() { return sim.model(); }
};

} // namespace vmetest
