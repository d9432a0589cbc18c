// The local event batch over real loopback sockets, and the routing of
// event sockets by their peer address.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "local_events.h"
#include "local_events_hooks.h"
#include "sock_util.h"
#include "test_backends.h"

using namespace koruhv;
using namespace coretest;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

std::string wireRecord(int32_t kind, int32_t instance, int32_t board, int32_t channel,
                       const std::string &name, const std::string &value)
{
    std::string r(1060, '\0');
    const int32_t ints[4] = {kind, instance, board, channel};
    std::memcpy(&r[0], ints, sizeof ints);
    std::memcpy(&r[16], name.data(), std::min<size_t>(name.size(), 20));
    std::memcpy(&r[36], value.data(), std::min<size_t>(value.size(), 1024));
    return r;
}

std::string header(uint32_t total)
{
    return "KORUHV" + be32(total);
}

struct Result {
    int rc;
    EventRecord *events = nullptr;
    int count = -1;
    KORUHV_SYSTEMSTATUS_t status;
    ~Result() { KORUHV_FreeEventData(&events); }
};

void readBatch(int sock, Result &r)
{
    std::memset(&r.status, 0x55, sizeof r.status);
    r.rc = ReadLocalEventBatch(sock, &r.status, &r.events, &r.count);
}

} // namespace

TEST(LocalBatchTest, EmptyBatch)
{
    Pair p;
    p.send(header(10));
    Result r;
    readBatch(p.server, r);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.count, 0);
    EXPECT_NE(r.events, nullptr);
    EXPECT_EQ(r.status.System, 0);
    EXPECT_EQ(r.status.Board[15], 0);
}

TEST(LocalBatchTest, TwoRecordsAndAnIgnoredRemainder)
{
    Pair p;
    float f = 12.5f;
    std::string fbytes(reinterpret_cast<char *>(&f), 4);
    const std::string twenty(20, 'A');
    std::string body = wireRecord(EVK_NUMERIC, 3, 1, 7, twenty, fbytes + "garbage") +
                       wireRecord(EVK_STRING, 4, 2, -1, "Model", "HelloText") + "X";
    ASSERT_EQ(body.size(), 2121u);
    p.send(header(uint32_t(10 + body.size())) + body);
    Result r;
    readBatch(p.server, r);
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(r.events[0].type, 0);
    EXPECT_EQ(r.events[0].system, 3);
    EXPECT_EQ(r.events[0].board, 1);
    EXPECT_EQ(r.events[0].channel, 7);
    EXPECT_EQ(std::string(r.events[0].name, strnlen(r.events[0].name, 20)), twenty);
    EXPECT_EQ(r.events[0].value.FloatValue, 12.5f);
    EXPECT_EQ(r.events[0].value.StringValue[4], '\0'); // only the 4 value bytes are copied
    EXPECT_EQ(r.events[1].system, 4);
    EXPECT_EQ(r.events[1].channel, -1);
    EXPECT_STREQ(r.events[1].name, "Model");
    EXPECT_STREQ(r.events[1].value.StringValue, "HelloText");
}

TEST(LocalBatchTest, TextIsCutAndUnknownKindsCarryNoValue)
{
    Pair p;
    const std::string body =
        wireRecord(EVK_STRING, 0, 0, 0, "T", std::string(1024, 'z')) + wireRecord(42, 0, 0, 0, "U", "abcd");
    p.send(header(uint32_t(10 + body.size())) + body);
    Result r;
    readBatch(p.server, r);
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(strnlen(r.events[0].value.StringValue, 1024), 1023u);
    EXPECT_EQ(r.events[1].value.IntValue, 0);
}

TEST(LocalBatchTest, BadHeaders)
{
    const struct {
        std::string bytes;
        int rc;
    } cases[] = {
        {"KORUHX" + be32(10), KORUHV_ERR_EVENT_HEADER},
        {"KORUHV" + be32(16u << 20), KORUHV_ERR_EVENT_HEADER}, // 16 MiB or more
        {"KORUHV" + be32(9), KORUHV_ERR_EVENT_HEADER},
        {"KORUHV" + be32(0), KORUHV_ERR_EVENT_HEADER},
    };
    for (const auto &c : cases) {
        Pair p;
        p.send(c.bytes);
        Result r;
        readBatch(p.server, r);
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(r.events, nullptr);
    }
}

TEST(LocalBatchTest, PeerClosingMidHeaderOrBody)
{
    {
        Pair p;
        p.send(header(10 + 1060) + std::string(500, 'b'));
        p.closeClient();
        Result r;
        readBatch(p.server, r);
        EXPECT_EQ(r.rc, KORUHV_ERR_EVENT_SOCKET);
        EXPECT_EQ(r.events, nullptr);
    }
    {
        Pair p;
        p.send("KORU");
        p.closeClient();
        Result r;
        readBatch(p.server, r);
        EXPECT_EQ(r.rc, KORUHV_ERR_EVENT_SOCKET);
    }
}

TEST(LocalBatchTest, SilenceAndStallsAreBounded)
{
    LocalEvents_SetReadWaitForTests(300);
    {
        Pair p;
        const auto t0 = steady_clock::now();
        Result r;
        readBatch(p.server, r);
        EXPECT_EQ(r.rc, KORUHV_ERR_EVENT_TIMEOUT);
        EXPECT_LT(steady_clock::now() - t0, 3s);
    }
    {
        // A body that stops coming: the receive time-out ends the read.
        Pair p;
        p.send(header(10 + 1060) + "abc");
        const auto t0 = steady_clock::now();
        Result r;
        readBatch(p.server, r);
        EXPECT_EQ(r.rc, KORUHV_ERR_EVENT_SOCKET);
        EXPECT_LT(steady_clock::now() - t0, 3s);
    }
    LocalEvents_SetReadWaitForTests(0);
}

TEST(LocalBatchTest, WriterConnectAndSendRoundTrip)
{
    Listener l;
    int sock = -1;
    ASSERT_EQ(LocalEvent_Connect(l.port, "pts/3_9600", &sock), 0);
    const int server = l.accept();
    ASSERT_GE(server, 0);
    char ident[11];
    ASSERT_EQ(::recv(server, ident, sizeof ident, MSG_WAITALL), 11);
    EXPECT_EQ(std::string(ident, 11), std::string("pts/3_9600\0", 11));

    EventBatchWriter w;
    EXPECT_EQ(w.count(), 0u);
    w.addFloat(2, 0, 3, "VMon", 99.25f);
    w.addInt(EVK_CHSTATUS, 2, 0, 3, "AVeryLongParameterNameIndeed", 0x21);
    w.addText(2, 1, -1, "Model", "X1");
    EXPECT_EQ(w.count(), 3u);
    const auto &bytes = w.bytes();
    ASSERT_EQ(bytes.size(), 10u + 3 * 1060);
    ASSERT_EQ(LocalEvent_Send(sock, bytes.data(), bytes.size()), 0);
    Result r;
    readBatch(server, r);
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.count, 3);
    EXPECT_EQ(r.events[0].value.FloatValue, 99.25f);
    EXPECT_STREQ(r.events[1].name, "AVeryLongParameterN"); // 19 characters kept
    EXPECT_EQ(r.events[1].value.IntValue, 0x21);
    EXPECT_STREQ(r.events[2].value.StringValue, "X1");
    EXPECT_EQ(r.events[2].board, 1);
    w.clear();
    EXPECT_EQ(w.bytes().size(), 10u);

    // The peer gone: the send fails instead of raising a signal.
    ::close(server);
    std::this_thread::sleep_for(50ms);
    int rc = 0;
    for (int i = 0; i < 50 && rc == 0; ++i)
        rc = LocalEvent_Send(sock, bytes.data(), bytes.size());
    EXPECT_EQ(rc, -1);
    ::close(sock);
    int none = 5;
    EXPECT_EQ(LocalEvent_Connect(l.port, nullptr, &none), -1);
    EXPECT_EQ(none, -1);
}

using EventRouteTest = CoreTest;

TEST_F(EventRouteTest, LocalPeerNeedsAnOpenLocalInstance)
{
    Pair p;
    p.send(header(10));
    EventRecord *ev = nullptr;
    int n = -1;
    KORUHV_SYSTEMSTATUS_t st;
    // Nothing local open: 27, after a pause although data is waiting, so
    // that a caller reading again at once does not spin.
    const auto t0 = steady_clock::now();
    EXPECT_EQ(KORUHV_GetEventData(p.server, &st, &ev, &n), KORUHV_ERR_NO_EVENT_READER);
    EXPECT_GE(steady_clock::now() - t0, 80ms);
    world().anyInstanceOpen = true;
    EXPECT_EQ(KORUHV_GetEventData(p.server, &st, &ev, &n), 0);
    EXPECT_EQ(n, 0);
    KORUHV_FreeEventData(&ev);
    EXPECT_EQ(KORUHV_GetEventData(p.server, nullptr, &ev, &n), KORUHV_ERR_BAD_ARGUMENT);
}

TEST_F(EventRouteTest, NothingToReadWaitsBrieflyBefore27)
{
    Pair p("127.0.0.9"); // no slot has this address
    EventRecord *ev = nullptr;
    int n = -1;
    KORUHV_SYSTEMSTATUS_t st;
    const auto t0 = steady_clock::now();
    EXPECT_EQ(KORUHV_GetEventData(p.server, &st, &ev, &n), KORUHV_ERR_NO_EVENT_READER);
    const auto waited = steady_clock::now() - t0;
    EXPECT_GE(waited, 80ms);
    EXPECT_LT(waited, 2s);
    EXPECT_EQ(ev, nullptr);
}

TEST_F(EventRouteTest, CratePeersGoToTheirSlotsReader)
{
    int crate = -1, module = -1;
    ASSERT_EQ(KORUHV_InitSystem(2, 0, (void *)"127.0.0.3", "", "", &crate), 0);
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"127.0.0.4", "", "", &module), 0);
    EventRecord *ev = nullptr;
    int n = -1;
    KORUHV_SYSTEMSTATUS_t st;
    {
        Pair p("127.0.0.3");
        EXPECT_EQ(KORUHV_GetEventData(p.server, &st, &ev, &n), 0);
        EXPECT_EQ(world().eventSlot, crate);
        KORUHV_FreeEventData(&ev);
    }
    {
        Pair p("127.0.0.4"); // a family without an event reader
        EXPECT_EQ(KORUHV_GetEventData(p.server, &st, &ev, &n), KORUHV_ERR_NO_EVENT_READER);
    }
    ASSERT_EQ(KORUHV_DeinitSystem(crate), 0);
    {
        Pair p("127.0.0.3"); // closed: no slot has the address any more
        EXPECT_EQ(KORUHV_GetEventData(p.server, &st, &ev, &n), KORUHV_ERR_NO_EVENT_READER);
    }
    EXPECT_EQ(world().eventCalls.load(), 1);
    // Unconnected socket: the peer address cannot be read.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(KORUHV_GetEventData(s, &st, &ev, &n), KORUHV_ERR_PEER_ADDRESS);
    ::close(s);
    OldEventRecord *old = nullptr;
    Pair p("127.0.0.5");
    EXPECT_EQ(KORUHVGetEventData(p.server, &old, &n), KORUHV_ERR_NO_EVENT_READER);
}
