// USB adapter link: discovery, per-call claim, link reset, request framing and
// reply records, through a simulated adapter behind the libusb access.
#include <cstring>
#include <numeric>

#include "vme_test_util.h"

using namespace vmetest;

TEST(VmeUsbRealTest, NoAdapterGivesCommunicationError)
{
    koruvme::setUsbIo(nullptr); // the real libusb: no adapter on this machine
    uint32_t serial = 0x7FFF0001;
    int32_t h = -1;
    EXPECT_EQ(KORUVME_Init2(5, &serial, 0, &h), -2);
    EXPECT_EQ(h, -1);
    shm_unlink(lockName(6, serial).c_str());
}

TEST(VmeLinkFramingTest, RequestHeaderAndPadding)
{
    uint32_t words[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    const uint8_t req[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(koruvme::vme_build_link_request(words, req, 6, 3), 3u);
    EXPECT_EQ(words[0], 0x03030003u);
    EXPECT_EQ(words[1], 0x04030201u);
    EXPECT_EQ(words[2], 0x00000605u);
}

struct RecordCase {
    std::vector<uint32_t> words;
    size_t capacity;
    int result;
    size_t delivered;
    uint16_t status;
};

TEST(VmeLinkFramingTest, ReplyRecords)
{
    const RecordCase cases[] = {
        {{0x00000203, 0x22221111, 0x00000020}, 8, 1, 4, 0x0020}, // 2 data halfwords + status
        {{0x00000201, 0x00000007}, 8, 1, 0, 0x0007},             // status only
        {{0x00000002, 0x44443333, 0x00000201, 0x5}, 8, 1, 4, 5}, // two records
        {{0x00000203, 0x22221111}, 8, 0, 0, 0},                  // not fully arrived
        {{0x00000301}, 8, -2, 0, 0},                             // n = 257
        {{0x08000201, 0}, 8, -2, 0, 0},                          // error bit
        {{0x00000200}, 8, -2, 0, 0},                             // last record without status
        {{0x00000203, 0x22221111, 0x20}, 2, -2, 0, 0},           // more than the buffer
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const RecordCase &c = cases[i];
        uint8_t reply[16] = {};
        size_t used = 0, delivered = 0;
        uint16_t status = 0;
        int r = koruvme::vme_walk_records(c.words.data(), c.words.size(), &used, reply, c.capacity,
                                          &delivered, &status);
        EXPECT_EQ(r, c.result) << i;
        if (r == 1) {
            EXPECT_EQ(delivered, c.delivered) << i;
            EXPECT_EQ(status, c.status) << i;
        }
    }
}

class VmeUsbTest : public DeviceTest {
protected:
    int32_t open(uint32_t type, uint32_t serial)
    {
        int32_t h = -1;
        locks.push_back(lockName(6, serial));
        EXPECT_EQ(KORUVME_Init2(type, &serial, 0, &h), 0);
        return h;
    }
};

TEST_F(VmeUsbTest, FindsTheAdapterBySerialAndCarriesCycles)
{
    usb.adapters.resize(2);
    usb.adapters[0].serial = 0x11111111;
    usb.adapters[1].serial = 0x22222222;
    usb.adapters[1].bcdUSB = 0x0300;
    const int32_t h = open(5, 0x22222222);
    SimUsbIo::Adapter &a = usb.adapters[1];
    // USB 3 speed code, then two link-reset pulses on area 0.
    ASSERT_GE(a.writes.size(), 5u);
    EXPECT_EQ(a.writes[0], std::make_pair(0x700u, 4u));
    EXPECT_EQ(a.writes[1], std::make_pair(0xA0u, 1u));
    EXPECT_EQ(a.writes[2], std::make_pair(0xA4u, 1u));
    uint32_t v = 0x89ABCDEF, r = 0;
    ASSERT_EQ(KORUVME_WriteCycle(h, 0x40, &v, 0x09, 4), 0);
    ASSERT_EQ(KORUVME_ReadCycle(h, 0x40, &r, 0x09, 4), 0);
    EXPECT_EQ(r, v);
    // The interface is held only inside each call.
    EXPECT_FALSE(a.claimed);
    EXPECT_EQ(a.claims, a.releases);
    char text[KORUVME_TEXT_SIZE];
    ASSERT_EQ(KORUVME_DriverRelease(h, text), 0);
    EXPECT_STREQ(text, "1.0");
    EXPECT_EQ(KORUVME_End(h), 0);

    uint32_t missing = 0x33333333;
    int32_t h2 = -1;
    locks.push_back(lockName(6, missing));
    EXPECT_EQ(KORUVME_Init2(5, &missing, 0, &h2), -2);
}

TEST_F(VmeUsbTest, RepliesSplitAcrossReadsAreJoined)
{
    usb.adapters.resize(1);
    usb.adapters[0].serial = 77;
    usb.maxReplyWordsPerRead = 3;
    const int32_t h = open(6, 77);
    std::vector<uint8_t> mem(3000);
    std::iota(mem.begin(), mem.end(), 9);
    usb.adapters[0].bridge->poke(0x1000, mem.data(), mem.size());
    std::vector<uint8_t> buf(3000);
    int32_t count = 0;
    ASSERT_EQ(KORUVME_BLTReadCycle(h, 0x1000, buf.data(), 3000, 0x0B, 4, &count), 0);
    EXPECT_EQ(count, 3000);
    EXPECT_EQ(buf, mem);
}

TEST_F(VmeUsbTest, LinkErrorAndSilentBridge)
{
    usb.adapters.resize(1);
    usb.adapters[0].serial = 5;
    const int32_t h = open(8, 5);
    uint32_t v = 0;
    usb.adapters[0].mute = true;
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x09, 4), -5);
    usb.adapters[0].mute = false;
    usb.adapters[0].regs[12] = 0x100; // link error that a pulse does not clear
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x09, 4), -2);
}

TEST_F(VmeUsbTest, AdapterItselfUsesArea7WithoutLinkReset)
{
    usb.adapters.resize(1);
    usb.adapters[0].serial = 9;
    const int32_t h = open(7, 9);
    for (auto &w : usb.adapters[0].writes)
        EXPECT_NE(w.first, 0xA0u);
    usb.adapters[0].regs[0x705] = 0x1234;
    uint32_t v = 0;
    ASSERT_EQ(KORUVME_ReadRegister(h, 5, &v), 0);
    EXPECT_EQ(v, 0x1234u);
    ASSERT_EQ(KORUVME_WriteRegister(h, 6, 0x55), 0);
    EXPECT_EQ(usb.adapters[0].regs[0x706], 0x55u);
    EXPECT_EQ(KORUVME_ReadCycle(h, 0, &v, 0x09, 4), -4);
}
