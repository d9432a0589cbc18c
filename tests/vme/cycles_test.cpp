// VME cycles, lists of cycles, block transfers and interrupts against the
// network bridge simulator (and a simulated card for the sliced board type 1).
#include <cstring>
#include <numeric>

#include "vme_test_util.h"

using namespace vmetest;

namespace {

uint16_t cmdOf(const std::vector<uint8_t> &r, size_t at = 0)
{
    return static_cast<uint16_t>(r[at] | (r[at + 1] << 8));
}
uint32_t le32(const std::vector<uint8_t> &r, size_t at)
{
    return r[at] | (r[at + 1] << 8) | (r[at + 2] << 16) | (static_cast<uint32_t>(r[at + 3]) << 24);
}

} // namespace

TEST(VmeCommandTest, CommandWordFields)
{
    using koruvme::vme_make_command;
    EXPECT_EQ(vme_make_command(true, 0x09, true, 4, 1), 0xC9A1);
    EXPECT_EQ(vme_make_command(false, 0x39, true, 2, 1), 0xB991);
    EXPECT_EQ(vme_make_command(true, 0x0B, false, 1, 7), 0xCB07);
    EXPECT_EQ(vme_make_command(true, 0x08, true, 24, 4), 0xC8F4); // swap, D64
    EXPECT_EQ(vme_make_command(true, 0x09, true, 20, 1) & 0x70, 0x60);
    EXPECT_EQ(vme_make_command(true, 0x09, true, 3, 1) & 0x30, 0x30);  // no entry: D64
    EXPECT_EQ(vme_make_command(true, 0x09, true, 40, 1) & 0x30, 0x30); // above 24
}

class VmeCycleTest : public NetTest {};

struct RwCase {
    int32_t width;
    uint32_t address;
    uint32_t value;
    uint32_t readBack;
};

TEST_F(VmeCycleTest, SingleWritesAndReadsOfEachWidth)
{
    const RwCase cases[] = {{1, 0x100, 0xAB, 0xAB},      {1, 0x101, 0xCD, 0xCD},
                            {2, 0x200, 0xBEEF, 0xBEEF},  {4, 0x300, 0xDEADBEEF, 0xDEADBEEF},
                            {18, 0x400, 0x1234, 0x1234}, {20, 0x500, 0x11223344, 0x11223344}};
    for (const RwCase &c : cases) {
        uint32_t v = c.value;
        ASSERT_EQ(KORUVME_WriteCycle(h, c.address, &v, 0x39, c.width), 0) << c.width;
        uint32_t r = 0;
        ASSERT_EQ(KORUVME_ReadCycle(h, c.address, &r, 0x39, c.width), 0) << c.width;
        EXPECT_EQ(r, c.readBack) << c.width;
    }
    // D8 writes put the byte by address parity; memory holds exactly it.
    uint8_t m[2];
    bridge().peek(0x100, m, 2);
    EXPECT_EQ(m[0], 0xAB);
    EXPECT_EQ(m[1], 0xCD);
    // The swapped width reaches memory byte-swapped.
    uint16_t plain = 0;
    ASSERT_EQ(KORUVME_ReadCycle(h, 0x400, &plain, 0x39, 2), 0);
    EXPECT_EQ(plain, 0x3412);
    // A D8 write at an even address sends 0 and then the byte.
    bridge().clearLogs();
    uint8_t b = 0x5A;
    ASSERT_EQ(KORUVME_WriteCycle(h, 0x10, &b, 0x39, 1), 0);
    auto req = bridge().requests().at(0);
    ASSERT_EQ(req.size(), 8u);
    EXPECT_EQ(req[6], 0);
    EXPECT_EQ(req[7], 0x5A);
}

TEST_F(VmeCycleTest, RefusalsSendNothing)
{
    uint32_t v = 0;
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x39, 8), -4);
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x39, 24), -4);
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x08, 4), -4);
    EXPECT_EQ(KORUVME_WriteCycle(h, 0, &v, 0x39, 3), -4);
    EXPECT_EQ(KORUVME_ADOCycle(h, 0, 0x2F), -4);
    EXPECT_EQ(KORUVME_ADOHCycle(h, 0, 0x05), 0);
    EXPECT_EQ(KORUVME_IACKCycle(h, 3, &v, 1), -4);
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, nullptr, 0x39, 4), -4);
    EXPECT_EQ(bridge().requests().size(), 1u); // only the ADOH cycle
}

TEST_F(VmeCycleTest, BusErrorsReadModifyWriteAndAcknowledge)
{
    bridge().setBusErrorWindow(0x8000, 0x9000);
    uint32_t v = 0;
    EXPECT_EQ(KORUVME_ReadCycle(h, 0x8000, &v, 0x09, 4), -1);
    EXPECT_EQ(KORUVME_ADOCycle(h, 0x8004, 0x09), -1);
    EXPECT_EQ(KORUVME_ADOCycle(h, 0x1004, 0x09), 0);
    uint32_t old = 0x11;
    ASSERT_EQ(KORUVME_WriteCycle(h, 0x40, &old, 0x09, 4), 0);
    uint32_t rmw = 0x22;
    ASSERT_EQ(KORUVME_RMWCycle(h, 0x40, &rmw, 0x09, 4), 0);
    EXPECT_EQ(rmw, 0x11u);
    ASSERT_EQ(KORUVME_ReadCycle(h, 0x40, &v, 0x09, 4), 0);
    EXPECT_EQ(v, 0x22u);

    bridge().setVector(4, 0x7C);
    bridge().clearLogs();
    uint8_t vec = 0;
    ASSERT_EQ(KORUVME_IACKCycle(h, 8, &vec, 1), 0);
    EXPECT_EQ(vec, 0x7C);
    auto req = bridge().requests().at(0);
    EXPECT_EQ(req[2], 8); // 2 x level 4
    EXPECT_EQ(cmdOf(req) & 0xF, 8);
}

TEST_F(VmeCycleTest, MultiReadInBatchesWithPerItemErrors)
{
    const int n = 250;
    std::vector<uint32_t> addr(n), data(n, 0xFFFFFFFF);
    std::vector<int32_t> ams(n, 0x09), widths(n), errs(n, 99);
    for (int i = 0; i < n; ++i) {
        addr[i] = 0x1000 + 4 * i;
        widths[i] = i % 3 == 0 ? 4 : i % 3 == 1 ? 2 : 1;
        uint32_t v = 0xA0000000u + i;
        bridge().poke(addr[i], &v, 4);
    }
    addr[5] = 0x9000; // bus error there
    bridge().setBusErrorWindow(0x9000, 0x9004);
    ASSERT_EQ(KORUVME_MultiRead(h, addr.data(), data.data(), n, ams.data(), widths.data(), errs.data()), 0);
    auto reqs = bridge().requests();
    ASSERT_EQ(reqs.size(), 3u);
    const size_t items[] = {100, 100, 50};
    for (size_t r = 0; r < 3; ++r) {
        ASSERT_EQ(reqs[r].size(), 6 * items[r]);
        for (size_t i = 0; i < items[r]; ++i)
            EXPECT_EQ((cmdOf(reqs[r], 6 * i) & 0x80) != 0, i + 1 == items[r]);
    }
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(errs[i], i == 5 ? -1 : 0) << i;
        if (i == 5)
            continue;
        uint32_t full = 0xA0000000u + i;
        uint32_t want = widths[i] == 4 ? full : widths[i] == 2 ? (full & 0xFFFF) : (full & 0xFF);
        EXPECT_EQ(data[i], want) << i;
    }
    widths[120] = 8;
    EXPECT_EQ(KORUVME_MultiRead(h, addr.data(), data.data(), n, ams.data(), widths.data(), errs.data()), -4);
    EXPECT_EQ(KORUVME_MultiRead(h, addr.data(), data.data(), 0, ams.data(), widths.data(), errs.data()), 0);
}

TEST_F(VmeCycleTest, MultiWriteAndItsErrors)
{
    const int n = 120;
    std::vector<uint32_t> addr(n), data(n);
    std::vector<int32_t> ams(n, 0x09), widths(n), errs(n, 99);
    for (int i = 0; i < n; ++i) {
        addr[i] = 0x2000 + 4 * i;
        data[i] = 0x01020304u * (i + 1);
        widths[i] = i % 2 ? 4 : 2;
    }
    addr[7] = 0x9000;
    bridge().setBusErrorWindow(0x9000, 0x9004);
    ASSERT_EQ(KORUVME_MultiWrite(h, addr.data(), data.data(), n, ams.data(), widths.data(), errs.data()), 0);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(errs[i], i == 7 ? -1 : 0) << i;
        if (i == 7)
            continue;
        uint32_t m = 0;
        bridge().peek(addr[i], &m, widths[i]);
        EXPECT_EQ(m, widths[i] == 4 ? data[i] : (data[i] & 0xFFFF)) << i;
    }
}

TEST_F(VmeCycleTest, BlockReadDescriptorsAndData)
{
    std::vector<uint8_t> mem(200000);
    std::iota(mem.begin(), mem.end(), 0);
    bridge().poke(0x10000, mem.data(), mem.size());
    struct Case {
        int32_t size;
        size_t descriptors;
    } cases[] = {{61440, 1}, {61441, 2}, {122880, 2}, {200000, 4}};
    for (const Case &c : cases) {
        bridge().clearLogs();
        std::vector<uint8_t> buf(c.size, 0);
        int32_t count = -1;
        ASSERT_EQ(
            KORUVME_BLTReadCycle(h, 0x10000, buf.data(), c.size, 0x0B, 4 / (c.size % 4 ? 4 : 1), &count), 0)
            << c.size;
        EXPECT_EQ(count, c.size);
        EXPECT_EQ(std::memcmp(buf.data(), mem.data(), c.size), 0) << c.size;
        auto req = bridge().requests().at(0);
        ASSERT_EQ(req.size(), 8 * c.descriptors);
        for (size_t i = 0; i < c.descriptors; ++i) {
            const bool last = i + 1 == c.descriptors;
            EXPECT_EQ(cmdOf(req, 8 * i) & 0xF, last ? 4 : 7);
            EXPECT_EQ((cmdOf(req, 8 * i) & 0x80) != 0, last);
            EXPECT_EQ(le32(req, 8 * i + 4), 0x10000 + 61440 * i);
        }
    }
    // FIFO forms (and the handle's FIFO flag) keep the start address.
    std::vector<uint8_t> buf(70000);
    int32_t count = 0;
    bridge().clearLogs();
    ASSERT_EQ(KORUVME_FIFOBLTReadCycle(h, 0x10000, buf.data(), 70000, 0x0B, 4, &count), 0);
    auto req = bridge().requests().at(0);
    ASSERT_EQ(req.size(), 16u);
    EXPECT_EQ(le32(req, 12), 0x10000u);
    EXPECT_EQ(cmdOf(req, 0) & 0xF, 15);
    EXPECT_EQ(cmdOf(req, 8) & 0xF, 12);
    ASSERT_EQ(KORUVME_SetFIFOMode(h, 1), 0);
    sync(); // its register write is not answered; let the bridge log it first
    bridge().clearLogs();
    ASSERT_EQ(KORUVME_BLTReadCycle(h, 0x10000, buf.data(), 70000, 0x0B, 4, &count), 0);
    req = bridge().requests().at(0);
    ASSERT_EQ(req.size(), 16u);
    EXPECT_EQ(le32(req, 12), 0x10000u);
}

TEST_F(VmeCycleTest, BlockLimitsAndBadWidths)
{
    std::vector<uint8_t> buf(16);
    int32_t count = 5;
    EXPECT_EQ(KORUVME_BLTReadCycle(h, 0, buf.data(), 0, 0x0B, 4, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(KORUVME_BLTReadCycle(h, 0, buf.data(), -1, 0x0B, 4, &count), -4);
    EXPECT_EQ(KORUVME_BLTReadCycle(h, 0, buf.data(), 0x1000000, 0x0B, 4, &count), -4);
    EXPECT_EQ(KORUVME_BLTReadCycle(h, 0, buf.data(), 16, 0x0B, 16, &count), -4);
    EXPECT_EQ(KORUVME_BLTWriteCycle(h, 0, buf.data(), 16, 0x0B, 32, &count), -4);
    EXPECT_EQ(KORUVME_MBLTReadCycle(h, 0, buf.data(), 16, 0x0B, &count), -4);
    EXPECT_EQ(KORUVME_BLTReadAsync(h, 0, buf.data(), 16, 0x0B, 8), -4);
    EXPECT_EQ(KORUVME_BLTReadAsync(h, 0, buf.data(), 16, 0x08, 8), -2); // accepted; not this link
    EXPECT_EQ(bridge().requests().size(), 0u);
}

TEST_F(VmeCycleTest, BlockWriteAndBusErrorCount)
{
    std::vector<uint8_t> data(5000);
    std::iota(data.begin(), data.end(), 3);
    int32_t count = 0;
    ASSERT_EQ(KORUVME_MBLTWriteCycle(h, 0x20000, data.data(), 5000, 0x08, &count), 0);
    EXPECT_EQ(count, 5000);
    std::vector<uint8_t> back(5000);
    bridge().peek(0x20000, back.data(), 5000);
    EXPECT_EQ(back, data);
    EXPECT_EQ(bridge().requests().size(), 1u);
    // A bus error in the middle: the count says how far it got.
    bridge().setBusErrorWindow(0x30000 + 800, 0x30000 + 804);
    ASSERT_EQ(KORUVME_BLTWriteCycle(h, 0x30000, data.data(), 4000, 0x0B, 4, &count), -1);
    EXPECT_EQ(count, 800);
    std::vector<uint8_t> rd(4000);
    ASSERT_EQ(KORUVME_BLTReadCycle(h, 0x30000, rd.data(), 4000, 0x0B, 4, &count), -1);
    EXPECT_EQ(count, 800);
}

class VmeCardCycleTest : public DeviceTest {};

TEST_F(VmeCardCycleTest, SlicedBlockReadAndSmallWriteChunksOfType1)
{
    int32_t h = -1;
    auto bridge = opticalCard(1, &h);
    const int32_t size = 2 * 1024 * 1024;
    std::vector<uint8_t> mem(size);
    for (int32_t i = 0; i < size; ++i)
        mem[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    bridge->poke(0x100000, mem.data(), size);
    bridge->clearLogs();
    std::vector<uint8_t> buf(size);
    int32_t count = 0;
    ASSERT_EQ(KORUVME_MBLTReadCycle(h, 0x100000, buf.data(), size, 0x08, &count), 0);
    EXPECT_EQ(count, size);
    EXPECT_EQ(buf, mem);
    auto reqs = bridge->requests();
    ASSERT_EQ(reqs.size(), 3u); // slices of 0xFD800 bytes
    EXPECT_EQ(le32(reqs[1], 4), 0x100000u + 0xFD800u);
    EXPECT_EQ(le32(reqs[2], 4), 0x100000u + 2 * 0xFD800u);

    bridge->clearLogs();
    std::vector<uint8_t> w(5000, 0x42);
    ASSERT_EQ(KORUVME_BLTWriteCycle(h, 0x400000, w.data(), 5000, 0x0B, 4, &count), 0);
    EXPECT_EQ(count, 5000);
    reqs = bridge->requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].size(), 2048u + 8);
    EXPECT_EQ(reqs[1].size(), 2048u + 8);
    EXPECT_EQ(reqs[2].size(), 904u + 8);
    EXPECT_EQ(le32(reqs[2], 4), 0x400000u + 4096);
}

TEST_F(VmeCardCycleTest, LocalTypesHaveNoBusMaster)
{
    dev.addNode("/dev/j4280_0");
    locks.push_back(lockName(4, 0, 0));
    uint32_t link = 0;
    int32_t h = -1;
    ASSERT_EQ(KORUVME_Init2(2, &link, 0, &h), 0);
    uint32_t v = 0;
    int32_t count = 0;
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x09, 4), -4);
    EXPECT_EQ(KORUVME_BLTReadCycle(h, 0, &v, 4, 0x0B, 4, &count), -4);
    EXPECT_EQ(KORUVME_SetFIFOMode(h, 1), -4);
    EXPECT_EQ(KORUVME_IRQEnable(h, 1), -4);
}

TEST_F(VmeCardCycleTest, InterruptsOnTheCard)
{
    int32_t h = -1;
    opticalCard(1, &h, 5);
    const std::string node = "/dev/j4280_5";
    dev.cardRegWrites(node).clear();
    ASSERT_EQ(KORUVME_IRQEnable(h, 0x05), 0);
    auto w = dev.cardRegWrites(node);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], std::make_pair(0xA4u, 8u));
    EXPECT_EQ(w[1], std::make_pair(0x38u, 0x0500u));
    ASSERT_EQ(KORUVME_IRQDisable(h, 0x05), 0);
    EXPECT_EQ(dev.cardRegWrites(node)[3], std::make_pair(0x3Cu, 0x0500u));
    dev.irqWaitResult = 110;
    EXPECT_EQ(KORUVME_IRQWait(h, 1, 100), -5);
    dev.irqWaitResult = 0;
    EXPECT_EQ(KORUVME_IRQWait(h, 1, 100), 0);
    dev.irqWaitResult = 5;
    EXPECT_EQ(KORUVME_IRQWait(h, 1, 100), -3);
    uint8_t mask = 0;
    EXPECT_EQ(KORUVME_IRQCheck(h, &mask), 0);
    // Asynchronous block read on the card
    std::vector<uint8_t> buf(4096);
    EXPECT_EQ(KORUVME_BLTReadAsync(h, 0, buf.data(), 4096, 0x0B, 4), 0);
    dev.blockWaitResult = 4096;
    int32_t count = 0;
    EXPECT_EQ(KORUVME_BLTReadWait(h, &count), 0);
    EXPECT_EQ(count, 4096);
}

TEST_F(VmeCycleTest, InterruptsAreRefusedOffTheCards)
{
    uint8_t mask = 0;
    EXPECT_EQ(KORUVME_IRQCheck(h, &mask), -4);
    EXPECT_EQ(KORUVME_IRQEnable(h, 1), -4);
    EXPECT_EQ(KORUVME_IRQWait(h, 1, 10), -4);
    EXPECT_EQ(bridge().requests().size(), 0u);
}

TEST_F(VmeCardCycleTest, ShortOrOverlongRepliesAreCommunicationErrors)
{
    int32_t h = -1;
    opticalCard(1, &h);
    uint32_t v = 0;
    std::vector<uint32_t> addr = {0x10, 0x14, 0x18}, data(3);
    std::vector<int32_t> ams(3, 0x09), widths(3, 4), errs(3);
    std::vector<uint8_t> buf(1000);
    int32_t count = -1;
    dev.replyLimit = 1; // a register value needs two bytes
    EXPECT_EQ(KORUVME_ReadRegister(h, 2, &v), -2);
    EXPECT_EQ(KORUVME_ReadCycle(h, 0x10, &v, 0x09, 4), -2);
    dev.replyLimit = 7; // the second item's data is missing
    EXPECT_EQ(KORUVME_MultiRead(h, addr.data(), data.data(), 3, ams.data(), widths.data(), errs.data()), -2);
    dev.replyLimit = 0; // a write chunk without its transfer count
    EXPECT_EQ(KORUVME_BLTWriteCycle(h, 0x100, buf.data(), 1000, 0x0B, 4, &count), -2);
    EXPECT_EQ(count, 0);
    // A slice that brings nothing ends the sliced read instead of repeating.
    EXPECT_EQ(KORUVME_BLTReadCycle(h, 0x100, buf.data(), 1000, 0x0B, 4, &count), 0);
    EXPECT_EQ(count, 0);
    dev.replyLimit = -1;
    dev.claimExtra = 16; // a driver that claims more than the buffer holds
    EXPECT_EQ(KORUVME_ReadCycle(h, 0x10, &v, 0x09, 4), -2);
}
