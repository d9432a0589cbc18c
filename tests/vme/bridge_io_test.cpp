// The bridge's own resources on both register maps, against the network
// bridge simulator.
#include "vme_test_util.h"

using namespace vmetest;

namespace {

using Writes = std::vector<std::pair<unsigned, uint16_t>>;

} // namespace

class VmeBridgeIoTest : public NetTest {
protected:
    void newer(bool on)
    {
        bridge().setNewerMap(on);
        bridge().clearLogs();
    }
};

TEST_F(VmeBridgeIoTest, OutputRegisterOnBothMaps)
{
    newer(false);
    ASSERT_EQ(KORUVME_SetOutputRegister(h, 0x0001), 0);
    sync();
    EXPECT_EQ(bridge().registerWrites(), (Writes{{10, 0x0001}, {16, 0xFFFE}}));
    bridge().clearLogs();
    ASSERT_EQ(KORUVME_PulseOutputRegister(h, 0x0004), 0);
    sync();
    EXPECT_EQ(bridge().registerWrites(), (Writes{{10, 0x0004}, {16, 0x0004}}));
    newer(true);
    bridge().setReg(12, 0x00F0);
    ASSERT_EQ(KORUVME_SetOutputRegister(h, 0x0001), 0);
    sync();
    EXPECT_EQ(bridge().reg(12), 0x00F1);
    ASSERT_EQ(KORUVME_ClearOutputRegister(h, 0x0010), 0);
    sync();
    EXPECT_EQ(bridge().reg(12), 0x00E1);
}

TEST_F(VmeBridgeIoTest, PulsersOnBothMaps)
{
    newer(false);
    EXPECT_EQ(KORUVME_SetPulserConf(h, 1, 1, 2, 0, 3, 0, 1), -4); // stop source 1 is pulser 0's
    EXPECT_EQ(KORUVME_SetPulserConf(h, 0, 1, 2, 0, 3, 0, 2), -4);
    EXPECT_EQ(KORUVME_StartPulser(h, 2), -4);
    ASSERT_EQ(KORUVME_SetPulserConf(h, 1, 0x11, 0x22, 2, 9, 3, 2), 0);
    uint8_t a = 0, b = 0, n = 0;
    int32_t u = 0, start = 0, stop = 0;
    ASSERT_EQ(KORUVME_GetPulserConf(h, 1, &a, &b, &u, &n, &start, &stop), 0);
    EXPECT_EQ(a, 0x11);
    EXPECT_EQ(b, 0x22);
    EXPECT_EQ(u, 2);
    EXPECT_EQ(n, 9);
    EXPECT_EQ(start, 3);
    EXPECT_EQ(stop, 2);
    bridge().clearLogs();
    ASSERT_EQ(KORUVME_StartPulser(h, 1), 0);
    sync();
    EXPECT_EQ(bridge().registerWrites(), (Writes{{10, 0x0004}, {16, 0x0004}}));

    newer(true);
    EXPECT_EQ(KORUVME_SetPulserConf(h, 0, 1, 2, 1, 3, 0, 0), -4); // code U 0 or 4 only
    EXPECT_EQ(KORUVME_StartPulser(h, 2), -4);
    ASSERT_EQ(KORUVME_SetPulserConf(h, 2, 0x33, 0x44, 4, 0x85, 2, 3), 0); // pulser 2 is pulser 1
    sync();
    EXPECT_EQ(bridge().reg(23) & 3, 3);
    sync();
    EXPECT_EQ(bridge().reg(24), 6);
    sync();
    EXPECT_EQ(bridge().reg(25), 8);
    sync();
    EXPECT_EQ(bridge().reg(26), 0x8085);
    ASSERT_EQ(KORUVME_GetPulserConf(h, 1, &a, &b, &u, &n, &start, &stop), 0);
    EXPECT_EQ(a, 0x33);
    EXPECT_EQ(b, 0x44);
    EXPECT_EQ(u, 4);
    EXPECT_EQ(n, 0x05);
    EXPECT_EQ(start, 2);
    EXPECT_EQ(stop, 3);
    ASSERT_EQ(KORUVME_StopPulser(h, 0), 0);
    sync();
    EXPECT_EQ(bridge().reg(18) & 1, 1);
}

TEST_F(VmeBridgeIoTest, OutputsAndInputsOnBothMaps)
{
    newer(true);
    int32_t f = 0, g = 0, src = 0;
    EXPECT_EQ(KORUVME_SetOutputConf(h, 4, 0, 0, 0), -4);
    EXPECT_EQ(KORUVME_SetOutputConf(h, 9, 0, 0, 0), -4); // no such output either
    EXPECT_EQ(KORUVME_SetOutputConf(h, 1, 0, 0, 5), -4);
    ASSERT_EQ(KORUVME_SetOutputConf(h, 2, 1, 0, 4), 0);
    EXPECT_EQ((bridge().reg(9) >> 8) & 0xF, 2);
    sync();
    EXPECT_EQ(bridge().reg(8) & 4, 4);
    ASSERT_EQ(KORUVME_SetOutputConf(h, 3, 0, 0, 1), 0);
    ASSERT_EQ(KORUVME_GetOutputConf(h, 3, &f, &g, &src), 0);
    EXPECT_EQ(src, 1);
    EXPECT_EQ(f, 0);
    ASSERT_EQ(KORUVME_SetInputConf(h, 1, 1, 0), 0);
    int32_t val = 0, flag = 0;
    ASSERT_EQ(KORUVME_GetInputConf(h, 1, &val, &flag), 0);
    EXPECT_EQ(val, 1);

    newer(false);
    EXPECT_EQ(KORUVME_SetOutputConf(h, 0, 0, 0, 1), -4);
    ASSERT_EQ(KORUVME_SetOutputConf(h, 4, 1, 1, 6), 0);
    ASSERT_EQ(KORUVME_GetOutputConf(h, 4, &f, &g, &src), 0);
    EXPECT_EQ(f, 1);
    EXPECT_EQ(src, 6);
    ASSERT_EQ(KORUVME_SetInputConf(h, 0, 1, 1), 0);
    ASSERT_EQ(KORUVME_GetInputConf(h, 0, &val, &flag), 0);
    EXPECT_EQ(val, 1);
    EXPECT_EQ(flag, 1);
}

TEST_F(VmeBridgeIoTest, DisplayLocationMonitorAndBusSettings)
{
    bridge().setReg(32, 0x5678);
    bridge().setReg(33, 0x1234);
    bridge().setReg(36, 0x0041);
    bridge().setReg(37, 0x0405); // irq 5, flag 7 (bit 10)
    BridgeDisplay d{};
    ASSERT_EQ(KORUVME_ReadDisplay(h, &d), 0);
    EXPECT_EQ(d.address, 0x12345678u);
    EXPECT_EQ(d.am, 1u);
    EXPECT_EQ(d.irq, 5u);
    EXPECT_EQ(d.flags[0], -1);
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(d.flags[i], 0) << i;
    EXPECT_EQ(d.flags[6], -1);
    EXPECT_EQ(KORUVME_ReadDisplay(h, nullptr), -4);

    bridge().clearLogs();
    ASSERT_EQ(KORUVME_SetLocationMonitor(h, 0xABCD1234, 0x39, 1, 0, 1), 0);
    sync();
    EXPECT_EQ(bridge().registerWrites(), (Writes{{40, 0x1234}, {41, 0xABCD}, {44, 0x0179}}));

    using Set = int32_t (*)(int32_t, int32_t);
    using Get = int32_t (*)(int32_t, int32_t *);
    const struct {
        Set set;
        Get get;
        int32_t value;
        uint16_t bits;
    } fields[] = {{KORUVME_SetArbiterType, KORUVME_GetArbiterType, 1, 0x0002},
                  {KORUVME_SetRequesterType, KORUVME_GetRequesterType, 1, 0x0004},
                  {KORUVME_SetReleaseType, KORUVME_GetReleaseType, 1, 0x0008},
                  {KORUVME_SetBusReqLevel, KORUVME_GetBusReqLevel, 3, 0x0030},
                  {KORUVME_SetTimeout, KORUVME_GetTimeout, 1, 0x0100}};
    for (const auto &f : fields) {
        bridge().setReg(1, 0);
        ASSERT_EQ(f.set(h, f.value), 0);
        sync();
        EXPECT_EQ(bridge().reg(1), f.bits);
        int32_t v = -1;
        ASSERT_EQ(f.get(h, &v), 0);
        EXPECT_EQ(v, f.value);
        EXPECT_EQ(f.get(h, nullptr), -4);
    }
    // A value wider than its field does not spill into its neighbours.
    bridge().setReg(1, 0);
    ASSERT_EQ(KORUVME_SetArbiterType(h, 3), 0);
    sync();
    EXPECT_EQ(bridge().reg(1), 0x0002);

    bridge().setReg(1, 0x0200);
    int16_t mode = 0;
    ASSERT_EQ(KORUVME_GetFIFOMode(h, &mode), 0);
    EXPECT_EQ(mode, -1);
    EXPECT_EQ(koruvme::g_boards[h].fifo, -1);
    ASSERT_EQ(KORUVME_SetFIFOMode(h, 0), 0);
    sync();
    EXPECT_EQ(bridge().reg(1), 0);
    EXPECT_EQ(koruvme::g_boards[h].fifo, 0);
}
