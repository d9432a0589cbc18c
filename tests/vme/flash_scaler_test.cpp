// Scaler functions and flash pages.
#include <numeric>

#include "vme_test_util.h"

using namespace vmetest;

namespace {
using Writes = std::vector<std::pair<unsigned, uint16_t>>;
}

class VmeScalerTest : public DeviceTest {};

TEST_F(VmeScalerTest, FirstScalerConfiguration)
{
    int32_t h = -1;
    auto bridge = opticalCard(1, &h);
    EXPECT_EQ(KORUVME_SetScalerConf(h, 1024, 0, 1, 0, 0), -4);
    EXPECT_EQ(KORUVME_SetScalerConf(h, -1, 0, 1, 0, 0), -4);
    EXPECT_EQ(KORUVME_SetScalerConf(h, 10, 0, 2, 0, 0), -4);
    bridge->clearLogs();
    ASSERT_EQ(KORUVME_SetScalerConf(h, 1023, 1, 3, 2, 2), 0);
    EXPECT_EQ(bridge->registerWrites(), (Writes{{28, 0x07FF}, {11, 0x0E00}, {17, 0xF1FF}}));
    int16_t limit = 0, second = 0;
    int32_t a = 0, b = 0, c = 0;
    ASSERT_EQ(KORUVME_GetScalerConf(h, &limit, &second, &a, &b, &c), 0);
    EXPECT_EQ(limit, 1023);
    EXPECT_EQ(second, 1024);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(c, 2);
    bridge->clearLogs();
    ASSERT_EQ(KORUVME_EnableScalerGate(h), 0);
    ASSERT_EQ(KORUVME_ResetScalerCount(h), 0);
    EXPECT_EQ(bridge->registerWrites(), (Writes{{10, 0x10}, {16, 0xFFEF}, {10, 0x20}, {16, 0x20}}));
    // The second scaler's functions are not this board type's.
    EXPECT_EQ(KORUVME_SetScaler_InputSource(h, 3), -8);
    EXPECT_EQ(KORUVME_SetScaler_InputSource(h, 8), -4); // value first
}

class VmeScalerNetTest : public NetTest {};

TEST_F(VmeScalerNetTest, SecondScaler)
{
    EXPECT_EQ(KORUVME_SetScalerConf(h, 1, 0, 1, 0, 0), -8);
    EXPECT_EQ(KORUVME_SetScaler_GateSource(h, 9), -4);
    ASSERT_EQ(KORUVME_SetScaler_ClearSource(h, 9), 0);
    ASSERT_EQ(KORUVME_SetScaler_GateSource(h, 3), 0);
    ASSERT_EQ(KORUVME_SetScaler_StartSource(h, 8), 0);
    ASSERT_EQ(KORUVME_SetScaler_InputSource(h, 5), 0);
    sync();
    EXPECT_EQ(bridge().reg(45), 0x8935);
    int32_t v = 0;
    ASSERT_EQ(KORUVME_GetScaler_ClearSource(h, &v), 0);
    EXPECT_EQ(v, 9);
    ASSERT_EQ(KORUVME_GetScaler_InputSource(h, &v), 0);
    EXPECT_EQ(v, 5);
    ASSERT_EQ(KORUVME_SetScaler_SWReset(h), 0);
    ASSERT_EQ(KORUVME_SetScaler_SWStart(h), 0);
    sync();
    EXPECT_EQ(bridge().reg(48) & 6, 6);
    ASSERT_EQ(KORUVME_SetScaler_SWStop(h), 0);
    sync();
    EXPECT_EQ(bridge().reg(48) & 6, 2);
    ASSERT_EQ(KORUVME_SetScaler_Mode(h, 2), 0);
    ASSERT_EQ(KORUVME_GetScaler_Mode(h, &v), 0);
    EXPECT_EQ(v, 2);
    ASSERT_EQ(KORUVME_SetScaler_MaxHits(h, 0xBEEF), 0);
    uint16_t hits = 0;
    ASSERT_EQ(KORUVME_GetScaler_MaxHits(h, &hits), 0);
    EXPECT_EQ(hits, 0xBEEF);
    EXPECT_EQ(KORUVME_GetScaler_DWellTime(h, nullptr), -4);
}

class VmeFlashTest : public DeviceTest {};

TEST_F(VmeFlashTest, BridgeSpiPagesEraseTheirSectorFirst)
{
    int32_t h = -1;
    auto bridge = opticalCard(1, &h);
    bridge->setNewerMap(true);
    std::vector<uint8_t> page(256);
    std::iota(page.begin(), page.end(), 1);
    bridge->clearLogs();
    ASSERT_EQ(KORUVME_WriteFlashPage(h, page.data(), 16), 0);
    auto w = bridge->registerWrites();
    bool erased = false;
    for (size_t i = 0; i + 1 < w.size(); ++i)
        erased = erased || (w[i] == std::make_pair(3u, uint16_t(0x20)) && w[i + 1].second == 0x00 &&
                            w[i + 2].second == 0x22 && w[i + 3].second == 0x10);
    EXPECT_TRUE(erased);
    EXPECT_EQ(bridge->flashByte(0x221000), 1);
    std::vector<uint8_t> back(256);
    ASSERT_EQ(KORUVME_ReadFlashPage(h, back.data(), 16), 0);
    EXPECT_EQ(back, page);
    bridge->clearLogs();
    ASSERT_EQ(KORUVME_WriteFlashPage(h, page.data(), 17), 0);
    for (auto &x : bridge->registerWrites())
        EXPECT_FALSE(x.first == 55 && x.second == 4); // no sector erase
}

TEST_F(VmeFlashTest, OlderPageProtocol)
{
    int32_t h = -1;
    auto bridge = opticalCard(1, &h);
    std::vector<uint8_t> page(264);
    std::iota(page.begin(), page.end(), 7);
    bridge->clearLogs();
    ASSERT_EQ(KORUVME_WriteFlashPage(h, page.data(), 300), 0);
    auto w = bridge->registerWrites();
    ASSERT_GE(w.size(), 6u);
    EXPECT_EQ(w[0], std::make_pair(4u, uint16_t(0)));
    EXPECT_EQ(w[1], std::make_pair(4u, uint16_t(1)));
    EXPECT_EQ(w[2], std::make_pair(3u, uint16_t(0x82)));
    EXPECT_EQ(w[3], std::make_pair(3u, uint16_t(0x02)));
    EXPECT_EQ(w[4], std::make_pair(3u, uint16_t(0x58)));
    EXPECT_EQ(w[5], std::make_pair(3u, uint16_t(0x00)));
    std::vector<uint8_t> back(264);
    ASSERT_EQ(KORUVME_ReadFlashPage(h, back.data(), 300), 0);
    EXPECT_EQ(back, page);
    ASSERT_EQ(KORUVME_EraseFlashPage(h, 300), 0);
    ASSERT_EQ(KORUVME_ReadFlashPage(h, back.data(), 300), 0);
    EXPECT_EQ(back, std::vector<uint8_t>(264, 0xFF));
}

TEST_F(VmeFlashTest, AdapterSpiAndRefusals)
{
    usb.adapters.resize(1);
    usb.adapters[0].serial = 21;
    uint32_t serial = 21;
    int32_t h = -1;
    locks.push_back(lockName(6, serial));
    ASSERT_EQ(KORUVME_Init2(7, &serial, 0, &h), 0);
    std::vector<uint8_t> page(256);
    std::iota(page.begin(), page.end(), 100);
    ASSERT_EQ(KORUVME_WriteFlashPage(h, page.data(), 32), 0);
    std::vector<uint32_t> tx;
    for (auto &x : usb.adapters[0].writes)
        if (x.first == 0x704)
            tx.push_back(x.second);
    ASSERT_GE(tx.size(), 5u);
    EXPECT_EQ(std::vector<uint32_t>(tx.begin() + 1, tx.begin() + 5),
              (std::vector<uint32_t>{0x20, 0x00, 0x20, 0x00}));
    std::vector<uint8_t> back(256);
    ASSERT_EQ(KORUVME_ReadFlashPage(h, back.data(), 32), 0);
    EXPECT_EQ(back, page);
    EXPECT_EQ(KORUVME_EraseFlashPage(h, 32), -4);
    EXPECT_EQ(KORUVME_ReadFlashPage(h, nullptr, 32), -4);

    dev.addXdmaCard(0);
    uint32_t link = 0;
    int32_t x = -1;
    locks.push_back(lockName(7, 0));
    ASSERT_EQ(KORUVME_Init2(28, &link, 0, &x), 0);
    EXPECT_EQ(KORUVME_EraseFlashPage(x, 0), -8);
    EXPECT_EQ(KORUVME_ReadFlashPage(x, back.data(), 0), -8);
    // A local card: the scaler configuration refuses it as local, gate and
    // reset by its board type alone.
    EXPECT_EQ(KORUVME_SetScalerConf(x, 1, 0, 1, 0, 0), -4);
    for (auto fn : {KORUVME_EnableScalerGate, KORUVME_DisableScalerGate, KORUVME_ResetScalerCount})
        EXPECT_EQ(fn(x), -8);

    // The USB character device of type 14 cannot send the older page protocol's bytes.
    dev.addNode("/dev/usb/w2860_4");
    uint32_t usbLink = 4;
    int32_t u = -1;
    locks.push_back(lockName(1, 4));
    ASSERT_EQ(KORUVME_Init2(14, &usbLink, 0, &u), 0);
    std::vector<uint8_t> oldPage(264);
    EXPECT_EQ(KORUVME_WriteFlashPage(u, oldPage.data(), 1), -2);
    EXPECT_EQ(KORUVME_EraseFlashPage(u, 1), -4);
}

class VmeFlashNetTest : public NetTest {};

TEST_F(VmeFlashNetTest, NetworkBridgesHaveNoFlashAccess)
{
    std::vector<uint8_t> page(264);
    EXPECT_EQ(KORUVME_WriteFlashPage(h, page.data(), 0), -4);
    EXPECT_EQ(KORUVME_EraseFlashPage(h, 0), -4);
}
