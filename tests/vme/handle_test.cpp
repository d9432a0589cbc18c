// Handle table, initialisation per link kind, releases, resets and texts.
#include <sys/stat.h>

#include <cstring>

#include "vme_test_util.h"

using namespace vmetest;

TEST(VmeTextTest, DecodeErrorAndRelease)
{
    const std::pair<int32_t, const char *> cases[] = {
        {0, "Success"},        {-1, "Bus error"},         {-2, "Communication error"},
        {-3, "Generic error"}, {-4, "Invalid parameter"}, {-5, "Timeout"},
        {-6, "Unknown error"}, {-7, "Unknown error"},     {-8, "Unknown error"},
        {7, "Unknown error"}};
    for (auto [code, text] : cases)
        EXPECT_STREQ(KORUVME_DecodeError(code), text) << code;
    char rel[KORUVME_TEXT_SIZE] = {};
    EXPECT_EQ(KORUVME_SWRelease(rel), 0);
    EXPECT_STREQ(rel, "4.0.0");
}

class VmeHandleTest : public DeviceTest {};

TEST_F(VmeHandleTest, BadHandlesAreRefused)
{
    uint32_t v = 0;
    char text[KORUVME_TEXT_SIZE];
    int32_t count = 0;
    uint8_t buf[8];
    for (int32_t h : {100, -1, 5}) {
        EXPECT_EQ(KORUVME_End(h), -4);
        EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x09, 4), -4);
        EXPECT_EQ(KORUVME_ReadRegister(h, 1, &v), -4);
        EXPECT_EQ(KORUVME_BoardFWRelease(h, text), -4);
        EXPECT_EQ(KORUVME_BLTReadCycle(h, 0, buf, 8, 0x0B, 4, &count), -4);
        EXPECT_EQ(KORUVME_SystemReset(h), -4);
        EXPECT_EQ(KORUVME_SetScaler_SWStart(h), -4);
    }
}

TEST_F(VmeHandleTest, InitArgumentChecks)
{
    int32_t h = -1;
    uint32_t link = 0;
    EXPECT_EQ(KORUVME_Init2(0, nullptr, 0, &h), -4);
    EXPECT_EQ(KORUVME_Init2(0, &link, 0, nullptr), -4);
    EXPECT_EQ(KORUVME_Init2(0, &link, 8, &h), -4);
    EXPECT_EQ(KORUVME_Init2(0, &link, -1, &h), -4);
    EXPECT_EQ(KORUVME_Init2(33, &link, 0, &h), -4);
    uint32_t none = 0xFFFFFFFF;
    EXPECT_EQ(KORUVME_Init2(0, &none, 0, &h), -4);
    EXPECT_EQ(KORUVME_Init2(23, "no.such.host.invalid", 0, &h), -4);
    for (uint32_t t : {20u, 23u, 24u, 27u})
        EXPECT_EQ(KORUVME_Init(t, 0, 0, &h), -8);
    EXPECT_EQ(KORUVME_Init(2, -1, 0, &h), -4);
    EXPECT_EQ(h, -1);
    // Nothing stayed claimed: the lowest handle is still free.
    dev.addNode("/dev/j4280_0");
    locks.push_back(lockName(4, 0, 0));
    ASSERT_EQ(KORUVME_Init2(2, &link, 0, &h), 0);
    EXPECT_EQ(h, 0);
}

TEST_F(VmeHandleTest, UsbCharDeviceOpensPerCallAndKeepsNothingOpen)
{
    auto bridge = std::make_shared<korusim::VmeBridgeModel>();
    dev.addNode("/dev/usb/w2860_2", bridge);
    locks.push_back(lockName(0, 2));
    int32_t h = -1;
    // The older entry takes the board number as the USB device index.
    ASSERT_EQ(KORUVME_Init(0, 5, 2, &h), 0);
    EXPECT_EQ(koruvme::g_boards[h].linkNumber, 2u);
    EXPECT_EQ(koruvme::g_boards[h].boardNumber, 0);
    EXPECT_EQ(dev.openCount(), 0);
    // Initialisation ends with the FIFO-mode read and 0xFF into register 6.
    EXPECT_EQ(bridge->reg(6), 0xFF);
    bridge->setReg(2, 0x0105);
    char text[KORUVME_TEXT_SIZE];
    ASSERT_EQ(KORUVME_BoardFWRelease(h, text), 0);
    EXPECT_STREQ(text, "1.05");
    EXPECT_EQ(dev.openCount(), 0);
    ASSERT_EQ(KORUVME_DriverRelease(h, text), 0);
    EXPECT_STREQ(text, "1.4.2");
    // A write is answered by the status alone; a read by data and status.
    uint32_t v = 0x01020304, r = 0;
    ASSERT_EQ(KORUVME_WriteCycle(h, 0x60, &v, 0x09, 4), 0);
    ASSERT_EQ(KORUVME_ReadCycle(h, 0x60, &r, 0x09, 4), 0);
    EXPECT_EQ(r, v);
    bridge->setBusErrorWindow(0x70, 0x80);
    EXPECT_EQ(KORUVME_ReadCycle(h, 0x70, &r, 0x09, 4), -1);
    EXPECT_EQ(dev.openCount(), 0);
    EXPECT_EQ(KORUVME_End(h), 0);
    EXPECT_EQ(KORUVME_End(h), -4);
}

TEST_F(VmeHandleTest, MissingUsbCharDeviceFailsAndFreesTheEntry)
{
    int32_t h = -1;
    uint32_t link = 3;
    locks.push_back(lockName(0, 3));
    EXPECT_EQ(KORUVME_Init2(0, &link, 0, &h), -2);
    EXPECT_EQ(koruvme::vme_entry(0), nullptr);
}

TEST_F(VmeHandleTest, DuplicatesTableFullAndReuse)
{
    for (int i = 0; i <= 100; ++i) {
        dev.addNode("/dev/j4280_" + std::to_string(16 * i));
        locks.push_back(lockName(4, static_cast<uint32_t>(i), 0));
    }
    int32_t h = -1;
    for (uint32_t i = 0; i < 100; ++i) {
        ASSERT_EQ(KORUVME_Init2(2, &i, 0, &h), 0) << i;
        EXPECT_EQ(h, static_cast<int32_t>(i));
    }
    uint32_t link = 100;
    EXPECT_EQ(KORUVME_Init2(2, &link, 0, &h), -7);
    // A full table answers before the board type is looked at.
    EXPECT_EQ(KORUVME_Init2(33, &link, 0, &h), -7);
    link = 7;
    EXPECT_EQ(KORUVME_Init2(2, &link, 0, &h), -6);
    // The card type ignores the caller's board number: still the same card.
    EXPECT_EQ(KORUVME_Init2(2, &link, 3, &h), -6);
    EXPECT_EQ(KORUVME_End(42), 0);
    link = 100;
    ASSERT_EQ(KORUVME_Init2(2, &link, 0, &h), 0);
    EXPECT_EQ(h, 42);
}

TEST_F(VmeHandleTest, SameLinkOtherBoardOpensSecondHandle)
{
    dev.setProcCount("1\n");
    dev.addNode("/dev/j4280_0");
    dev.addNode("/dev/j4280_1");
    locks.push_back(lockName(4, 0, 0));
    locks.push_back(lockName(4, 0, 1));
    uint32_t link = 0;
    int32_t a = -1, b = -1;
    ASSERT_EQ(KORUVME_Init2(1, &link, 0, &a), 0);
    EXPECT_EQ(KORUVME_Init2(1, &link, 0, &b), -6);
    ASSERT_EQ(KORUVME_Init2(1, &link, 1, &b), 0);
    EXPECT_NE(a, b);
    uint32_t v = 0;
    EXPECT_EQ(KORUVME_ReadRegister(a, 2, &v), 0);
}

struct DiscoveryCase {
    uint32_t link;
    uint32_t kind, card, channel;
};

TEST_F(VmeHandleTest, OpticalLinkNumberingOverCards)
{
    dev.setProcCount("J4280 driver\n2\n");
    dev.setDevEntries(
        {{"j5280_0", true}, {"j5280_8", true}, {"j5280_64", true}, {"null", true}, {"j5280_65", false}});
    const DiscoveryCase cases[] = {{0, 4, 0, 0}, {1, 4, 1, 0}, {2, 5, 0, 0},  {5, 5, 0, 3},
                                   {6, 5, 1, 0}, {9, 5, 1, 3}, {10, 7, 0, 0}, {15, 7, 1, 1}};
    for (const DiscoveryCase &c : cases) {
        koruvme::BoardEntry e = koruvme::g_boards[0];
        e.linkNumber = c.link;
        e.linkKind = koruvme::kNone;
        ASSERT_TRUE(koruvme::vme_discover_optical(e)) << c.link;
        EXPECT_EQ(e.linkKind, c.kind) << c.link;
        EXPECT_EQ(e.card, c.card) << c.link;
        EXPECT_EQ(e.channel, c.channel) << c.link;
    }
    // Without "/proc/j4280" the first link is the first J5280 link.
    dev.setProcCount("");
    EXPECT_EQ(koruvme::vme_count_pci_cards(), 0);
    koruvme::BoardEntry e = koruvme::g_boards[0];
    e.linkNumber = 0;
    ASSERT_TRUE(koruvme::vme_discover_optical(e));
    EXPECT_EQ(e.linkKind, 5u);
    // A count that is no number refuses every optical link.
    dev.setProcCount("none\n");
    EXPECT_EQ(koruvme::vme_count_pci_cards(), -1);
    EXPECT_FALSE(koruvme::vme_discover_optical(e));
    // Eight J5280 cards are more than the discovery handles.
    dev.setProcCount("0\n");
    std::vector<koruvme::DirEntry> eight;
    for (int i = 0; i < 8; ++i)
        eight.push_back({"j5280_" + std::to_string(64 * i), true});
    dev.setDevEntries(eight);
    EXPECT_FALSE(koruvme::vme_discover_optical(e));
}

TEST_F(VmeHandleTest, CardNodeNamesAndCardFunctions)
{
    dev.addNode("/dev/j5280_83"); // card 1, channel 2, board 3 of a type 1 bridge
    dev.setProcCount("0\n");
    dev.setDevEntries({{"j5280_0", true}, {"j5280_64", true}});
    uint32_t link = 6; // card 1 channel 2
    int32_t h = -1;
    locks.push_back(lockName(5, 6, 3));
    ASSERT_EQ(KORUVME_Init2(1, &link, 3, &h), 0);
    EXPECT_EQ(dev.opened.back(), "/dev/j5280_83");
    EXPECT_EQ(KORUVME_DeviceReset(h), 0);
    EXPECT_EQ(_KORUVME_OpticalLinkSlaveReset(h), 0);
    EXPECT_EQ(dev.resets, 1);
    EXPECT_EQ(dev.slaveResets, 1);
    char text[KORUVME_TEXT_SIZE];
    dev.releaseResult = 38;
    ASSERT_EQ(KORUVME_DriverRelease(h, text), 0);
    EXPECT_STREQ(text, "1.6.8");
    // A driver text without its terminating NUL is cut at 20 characters.
    dev.releaseResult = 0;
    dev.releaseText = std::string(24, 'x');
    ASSERT_EQ(KORUVME_DriverRelease(h, text), 0);
    EXPECT_EQ(std::strlen(text), 20u);
    dev.releaseResult = -1;
    EXPECT_EQ(KORUVME_DriverRelease(h, text), -2);
    EXPECT_STREQ(text, "");

    // Type 4 (a J5280 link by itself): board number forced to 0, release in card register 0x1040.
    dev.addNode("/dev/j5280_72"); // card 1 (link 5 / 4), channel 1
    link = 5;
    int32_t c = -1;
    locks.push_back(lockName(5, 5, 0));
    ASSERT_EQ(KORUVME_Init2(4, &link, 6, &c), 0);
    dev.cardRegs("/dev/j5280_72")[0x1040] = 0x0203;
    ASSERT_EQ(KORUVME_BoardFWRelease(c, text), 0);
    EXPECT_STREQ(text, "2.03");
    uint32_t v = 0;
    EXPECT_EQ(KORUVME_ReadCycle(c, 0, &v, 0x09, 4), -4); // no VME master
    EXPECT_EQ(KORUVME_SystemReset(c), -4);
    EXPECT_EQ(KORUVME_DeviceReset(c), 0);
    EXPECT_EQ(_KORUVME_OpticalLinkSlaveReset(c), -8);
}

TEST_F(VmeHandleTest, SystemResetPulsesBit7)
{
    int32_t h = -1;
    auto bridge = opticalCard(1, &h);
    bridge->setReg(1, 0x0010);
    bridge->clearLogs();
    ASSERT_EQ(KORUVME_SystemReset(h), 0);
    auto w = bridge->registerWrites();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], std::make_pair(1u, uint16_t(0x0090)));
    EXPECT_EQ(w[1], std::make_pair(1u, uint16_t(0x0010)));
    char text[KORUVME_TEXT_SIZE];
    EXPECT_EQ(KORUVME_DriverRelease(h, text), 0);
}

TEST_F(VmeHandleTest, InitKeepsTheFileCreationMask)
{
    mode_t before = umask(022);
    dev.addNode("/dev/j4280_16");
    uint32_t link = 1;
    int32_t h = -1;
    locks.push_back(lockName(4, 1, 0));
    ASSERT_EQ(KORUVME_Init2(2, &link, 0, &h), 0);
    EXPECT_EQ(umask(before), 022);
}

TEST_F(VmeHandleTest, BridgeBehindTheCardRegisterWindow)
{
    // Type 3: the bridge's registers are reached with bit 2 of card register 8 set.
    auto bridge = std::make_shared<korusim::VmeBridgeModel>();
    dev.setProcCount("1\n");
    dev.addNode("/dev/j4280_2", bridge);
    uint32_t link = 0;
    int32_t h = -1;
    locks.push_back(lockName(4, 0, 2));
    ASSERT_EQ(KORUVME_Init2(3, &link, 2, &h), 0);
    dev.cardRegs("/dev/j4280_2")[8] = 0x10;
    ASSERT_EQ(KORUVME_WriteRegister(h, 20, 0xBEEF), 0);
    EXPECT_EQ(bridge->reg(20), 0xBEEF);
    uint32_t v = 0;
    ASSERT_EQ(KORUVME_ReadRegister(h, 20, &v), 0);
    EXPECT_EQ(v, 0xBEEFu);
    const auto &w = dev.cardRegWrites("/dev/j4280_2");
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0], std::make_pair(8u, 0x14u));
    EXPECT_EQ(w[1], std::make_pair(8u, 0x10u));
    bridge->setReg(4, 0x0210);
    char text[KORUVME_TEXT_SIZE];
    ASSERT_EQ(KORUVME_BoardFWRelease(h, text), 0);
    EXPECT_STREQ(text, "2.16");
}
