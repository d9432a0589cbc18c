// XDMA PCIe link: node set, register offsets, link reset, streams, interrupts.
#include <cerrno>

#include "vme_test_util.h"

using namespace vmetest;

class VmeXdmaTest : public DeviceTest {};

TEST_F(VmeXdmaTest, CardItselfOpensOnlyControlAndUser)
{
    dev.addXdmaCard(1);
    dev.xdmaUser(1)[0x4000] = 0x0312;
    uint32_t link = 4; // card 1
    int32_t h = -1;
    locks.push_back(lockName(7, 4));
    ASSERT_EQ(KORUVME_Init2(28, &link, 0, &h), 0);
    EXPECT_EQ(dev.opened, (std::vector<std::string>{"/dev/xdma1_control", "/dev/xdma1_user"}));
    char text[KORUVME_TEXT_SIZE];
    ASSERT_EQ(KORUVME_BoardFWRelease(h, text), 0);
    EXPECT_STREQ(text, "3.18"); // major and minor in decimal
    uint32_t v = 0;
    ASSERT_EQ(koruvme::xdma_reg_read(h, 0x80000000u, &v), 0); // control node, offset 0
    EXPECT_EQ(v, 0x1FC08000u);
    dev.xdmaUser(1)[0x10] = 0x77;
    ASSERT_EQ(koruvme::xdma_reg_read(h, 0x10, &v), 0);
    EXPECT_EQ(v, 0x77u);
    EXPECT_EQ(KORUVME_End(h), 0);
    EXPECT_EQ(dev.openCount(), 0);
}

TEST_F(VmeXdmaTest, OpticalBridgeOverStreamsAndInterrupts)
{
    dev.setProcCount("0\n");
    auto bridge = std::make_shared<korusim::VmeBridgeModel>();
    dev.addXdmaCard(1, bridge);
    uint32_t link = 6; // no J4280 or J5280 cards: XDMA card 1, channel 2
    int32_t h = -1;
    locks.push_back(lockName(7, 6));
    ASSERT_EQ(KORUVME_Init2(1, &link, 3, &h), 0);
    const std::vector<std::string> want = {"/dev/xdma1_control", "/dev/xdma1_user", "/dev/xdma1_h2c_2",
                                           "/dev/xdma1_c2h_2", "/dev/xdma1_vme_events_19"};
    EXPECT_EQ(std::vector<std::string>(dev.opened.begin() + 1, dev.opened.end()), want); // after /proc
    uint32_t v = 0xA5A5, r = 0;
    ASSERT_EQ(KORUVME_WriteCycle(h, 0x10, &v, 0x09, 2), 0);
    ASSERT_EQ(KORUVME_ReadCycle(h, 0x10, &r, 0x09, 2), 0);
    EXPECT_EQ(r, 0xA5A5u);

    // Board 3 on channel 2: mask byte 3 of register 0x2030.
    ASSERT_EQ(KORUVME_IRQEnable(h, 0x05), 0);
    EXPECT_EQ(dev.xdmaUser(1)[0x2030], 0x05000000u);
    EXPECT_EQ(dev.xdmaUser(1)[0x2008] & 8, 0u);
    ASSERT_EQ(KORUVME_IRQDisable(h, 0x01), 0);
    EXPECT_EQ(dev.xdmaUser(1)[0x2030], 0x04000000u);
    EXPECT_EQ(dev.xdmaUser(1)[0x2008] & 8, 8u);
    EXPECT_EQ(KORUVME_IRQWait(h, 1, 10), 0);
    dev.xdmaIrqErrno = ETIMEDOUT;
    EXPECT_EQ(KORUVME_IRQWait(h, 1, 10), -5);
    dev.xdmaIrqErrno = EIO;
    EXPECT_EQ(KORUVME_IRQWait(h, 1, 10), -3);

    // A link error that the pulse does not clear fails the transaction.
    dev.xdmaUser(1)[0x200C] = 0x100;
    EXPECT_EQ(KORUVME_ReadCycle(h, 0x10, &r, 0x09, 2), -2);
}

TEST_F(VmeXdmaTest, IdentificationFailureRefusesTheCard)
{
    dev.setProcCount("0\n");
    dev.addXdmaCard(0);
    dev.xdmaUser(0)[0x100C] = 0x10000; // channel 1 stays busy
    uint32_t link = 1;
    int32_t h = -1;
    locks.push_back(lockName(7, 1));
    EXPECT_EQ(KORUVME_Init2(1, &link, 0, &h), -2);
    EXPECT_EQ(dev.openCount(), 0);
}
