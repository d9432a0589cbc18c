// Network link against the bridge simulator on loopback: framing, reply
// unpacking, malformed and missing replies, connecting.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <numeric>

#include "vme_test_util.h"

using namespace vmetest;

TEST(VmeNetAddressTest, Ipv6TextFromLinkNumber)
{
    char text[64];
    ASSERT_TRUE(koruvme::net_ipv6_text(0x00010002, text, sizeof text));
    EXPECT_STREQ(text, "fd00:4b56:1:2::1");
    ASSERT_TRUE(koruvme::net_ipv6_text(0xABCD0000, text, sizeof text));
    EXPECT_STREQ(text, "fd00:4b56:abcd:0::1");
    EXPECT_EQ(koruvme::net_resolve_ipv4("127.0.0.2"), htonl(0x7F000002));
    EXPECT_EQ(koruvme::net_resolve_ipv4("not a host!"), 0xFFFFFFFFu);
}

class VmeNetTest : public NetTest {};

struct FaultCase {
    korusim::VmeFault fault;
    int32_t expected;
};

TEST_F(VmeNetTest, MalformedAndMissingReplies)
{
    koruvme::netSettings().replyTimeoutMs = 300;
    const FaultCase cases[] = {
        {korusim::VmeFault::BadMagic, -2},      {korusim::VmeFault::BadLength, -2},
        {korusim::VmeFault::OversizeFrame, -2}, {korusim::VmeFault::ShortFrame, -3},
        {korusim::VmeFault::Silence, -5},       {korusim::VmeFault::SplitFrames, 0},
        {korusim::VmeFault::Close, -2},
    };
    for (const FaultCase &c : cases) {
        // Each case on a fresh connection: after a failure the stream is unusable.
        KORUVME_End(h);
        sim.setFault(korusim::VmeFault::None);
        ASSERT_EQ(KORUVME_Init2(23, "127.0.0.2", 0, &h), 0);
        sim.setFault(c.fault);
        uint32_t v = 0;
        EXPECT_EQ(KORUVME_ReadCycle(h, 0x10, &v, 0x09, 4), c.expected) << static_cast<int>(c.fault);
    }
}

TEST_F(VmeNetTest, SlowReplyWithinTheWaitIsTaken)
{
    koruvme::netSettings().replyTimeoutMs = 2000;
    sim.setDelayMs(100);
    uint32_t v = 0x1234, r = 0;
    ASSERT_EQ(KORUVME_WriteCycle(h, 0x20, &v, 0x09, 4), 0);
    ASSERT_EQ(KORUVME_ReadCycle(h, 0x20, &r, 0x09, 4), 0);
    EXPECT_EQ(r, 0x1234u);
}

TEST_F(VmeNetTest, FrameBoundariesAndLongReplies)
{
    std::vector<uint8_t> mem(1 << 20);
    std::iota(mem.begin(), mem.end(), 1);
    bridge().poke(0, mem.data(), mem.size());
    // 61436 data bytes and the status fill one frame exactly: an empty frame follows.
    for (int32_t size : {61436, 61432, 1 << 20}) {
        std::vector<uint8_t> buf(size);
        int32_t count = 0;
        ASSERT_EQ(KORUVME_BLTReadCycle(h, 0, buf.data(), size, 0x0B, 4, &count), 0) << size;
        EXPECT_EQ(count, size);
        EXPECT_EQ(std::memcmp(buf.data(), mem.data(), size), 0) << size;
    }
    // D16 block data travels in 32-bit groups; odd D8 sizes keep their bytes.
    for (auto [size, width] : {std::pair{1000, 2}, std::pair{61441, 1}}) {
        std::vector<uint8_t> buf(size);
        int32_t count = 0;
        ASSERT_EQ(KORUVME_BLTReadCycle(h, 0, buf.data(), size, 0x0B, width, &count), 0) << size;
        EXPECT_EQ(count, size);
        EXPECT_EQ(std::memcmp(buf.data(), mem.data(), size), 0) << size;
    }
}

TEST_F(VmeNetTest, RegisterWritesAwaitNoReply)
{
    ASSERT_EQ(KORUVME_WriteRegister(h, 33, 0x1234), 0);
    uint32_t v = 0;
    ASSERT_EQ(KORUVME_ReadRegister(h, 33, &v), 0);
    EXPECT_EQ(v, 0x1234u);
    // A request with capacity 0 returns as soon as it is sent.
    uint32_t status = 0;
    EXPECT_EQ(koruvme::net_transact(h, "\x86\x00\x01\x00", 4, nullptr, 0, &status), 0);
}

TEST_F(VmeNetTest, Ipv6LinkThroughMappedLoopbackAddress)
{
    koruvme::netSettings().ipv6Override = "::ffff:127.0.0.2";
    uint32_t link = 0x00010002;
    int32_t h6 = -1;
    locks.push_back(lockName(2, link));
    ASSERT_EQ(KORUVME_Init2(20, &link, 1, &h6), 0);
    uint32_t v = 0xCAFE, r = 0;
    ASSERT_EQ(KORUVME_WriteCycle(h6, 0x80, &v, 0x09, 2), 0);
    ASSERT_EQ(KORUVME_ReadCycle(h, 0x80, &r, 0x09, 2), 0);
    EXPECT_EQ(r, 0xCAFEu);
    char text[KORUVME_TEXT_SIZE];
    EXPECT_EQ(KORUVME_DriverRelease(h6, text), -8);
    EXPECT_STREQ(text, "");
}

TEST_F(VmeNetTest, ConnectFailures)
{
    // Nobody listens: refused.
    korusim::VmeBridgeSim other;
    ASSERT_TRUE(other.start("127.0.0.3", 0));
    const uint16_t port = other.port();
    other.stop();
    koruvme::netSettings().port = port;
    int32_t h2 = -1;
    EXPECT_EQ(KORUVME_Init2(27, "127.0.0.3", 0, &h2), -2);
    EXPECT_EQ(h2, -1);

    // A bridge whose listen queue is full never completes the connection.
    korusim::VmeBridgeSim full;
    ASSERT_TRUE(full.start("127.0.0.3", 0, 0));
    full.setAccepting(false);
    koruvme::netSettings().port = full.port();
    koruvme::netSettings().connectTimeoutMs = 300;
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(full.port());
        sa.sin_addr.s_addr = htonl(0x7F000003);
        connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        fillers.push_back(fd);
    }
    usleep(50000);
    EXPECT_EQ(KORUVME_Init2(27, "127.0.0.3", 0, &h2), -2);
    for (int fd : fillers)
        close(fd);
    full.stop();
    locks.push_back(lockName(3, htonl(0x7F000003)));
}
