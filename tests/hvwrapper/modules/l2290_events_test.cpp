// Subscriptions of the L2290 backend: the polling thread's event connection
// to a test event server on 127.0.0.1, read through KORUHV_GetEventData.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>

#include "l2290_support.h"
#include "modules/text_engine.h"

using namespace l2290test;
using namespace std::chrono_literals;
using korusim::Fault;
using korusim::L2290Module;

namespace {

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[16] = {};
    return KORUHV_SubscribeChannelParams(h, port, 0, ch, names, n, results);
}

int subscribeBoard(int h, short port, const char *names, unsigned n)
{
    char results[16] = {};
    return KORUHV_SubscribeBoardParams(h, port, 0, names, n, results);
}

auto withRecords(size_t n)
{
    return [n](const Batch &b) { return b.records.size() == n; };
}

} // namespace

TEST_F(L2290Test, SubscribedValuesArriveInOneBatchPerCycle)
{
    startTcp({L2290Module::make(0, 4)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 2, "VMon", 1), 0);
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "IlkStat", 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "127.0.0.2_0"); // the address text the system was opened with

    const Batch b = EventServer::readUntil(fd, kWait, withRecords(3));
    ASSERT_EQ(b.rc, 0);
    ASSERT_EQ(b.records.size(), 3u);
    EXPECT_STREQ(b.records[0].name, "IlkStat");
    EXPECT_EQ(b.records[0].channel, -1);
    EXPECT_EQ(b.records[0].value.IntValue, 0);
    EXPECT_STREQ(b.records[1].name, "VMon");
    EXPECT_EQ(b.records[1].channel, 0);
    EXPECT_STREQ(b.records[2].name, "VMon");
    EXPECT_EQ(b.records[2].channel, 2);
    for (const EventRecord &r : b.records) {
        EXPECT_EQ(r.type, 0);
        EXPECT_EQ(r.board, 0);
    }

    // Values follow the module as it ramps up.
    unsigned short ch = 0;
    float vset = 1000.0f, rup = 200.0f;
    int32_t on = 1;
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "RUp", 1, &ch, &rup), 0);
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "VSet", 1, &ch, &vset), 0);
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "Pw", 1, &ch, &on), 0);
    float first = -1, last = -1;
    int rising = 0;
    const Batch done = EventServer::readUntil(fd, kWait, [&](const Batch &x) {
        const EventRecord *r = find(x, "VMon", 0);
        if (!r)
            return false;
        if (first < 0)
            first = r->value.FloatValue;
        if (r->value.FloatValue > last && last >= 0)
            ++rising;
        last = r->value.FloatValue;
        return last >= 999.0f;
    });
    ASSERT_EQ(done.rc, 0) << "VMon stayed at " << last;
    EXPECT_GE(rising, 2);
    EXPECT_LT(first, 999.0f);
    const EventRecord *other = find(done, "VMon", 2);
    ASSERT_NE(other, nullptr);
    EXPECT_FLOAT_EQ(other->value.FloatValue, 0.0f);
}

TEST_F(L2290Test, ABatchKeepsItsFullLengthWhenARowFails)
{
    startTcp({L2290Module::make(0, 4)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "IlkStat", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 2, "VMon", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(3)).rc, 0);

    // The board row fails from now on: its record is missing, and the batch
    // still announces three, the last one all zero.
    sim->addFault(Fault::errorReply("PAR:BDILK", korusim::DeviceError::Par, -1));
    const Batch b = EventServer::readUntil(
        fd, kWait, [](const Batch &x) { return x.records.size() == 3 && !find(x, "IlkStat", -1); });
    ASSERT_EQ(b.rc, 0);
    EXPECT_STREQ(b.records[0].name, "VMon");
    EXPECT_EQ(b.records[0].channel, 0);
    EXPECT_STREQ(b.records[1].name, "VMon");
    EXPECT_EQ(b.records[1].channel, 2);
    EXPECT_STREQ(b.records[2].name, "");
    EXPECT_EQ(b.records[2].channel, 0);
    EXPECT_EQ(b.records[2].system, 0);
    EXPECT_EQ(b.records[2].value.IntValue, 0);
}

TEST_F(L2290Test, SwitchAndStatusEventsOverAPseudoTerminal)
{
    startPty({L2290Module::make(0, 2)});
    const int h = open(sim->ptyName(), kLinkUsbVcp);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 1, "Pw:ChStatus:Polarity", 3), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, sim->ptyName());

    unsigned short ch = 1;
    int32_t on = 1;
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "Pw", 1, &ch, &on), 0);
    const Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) {
        const EventRecord *pw = find(x, "Pw", 1);
        return pw && pw->value.IntValue == 1;
    });
    ASSERT_EQ(b.rc, 0);
    ASSERT_EQ(b.records.size(), 3u);
    const EventRecord *status = find(b, "ChStatus", 1);
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->value.IntValue & 1);
    const EventRecord *pol = find(b, "Polarity", 1);
    ASSERT_NE(pol, nullptr);
    EXPECT_EQ(pol->value.IntValue, 0); // "+"
}

TEST_F(L2290Test, EmptyBatchesKeepASilentConnectionAlive)
{
    startTcp({L2290Module::make(0, 1)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);

    sim->addFault(Fault::silence("", -1)); // the unit stops answering
    const Batch empty = EventServer::readUntil(fd, kWait, withRecords(0));
    EXPECT_EQ(empty.rc, 0);
    sim->clearFaults();
    EXPECT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);
}

// The keep-alive runs by the clock: a request that waits on a silent unit
// (1 s per request) does not hold it back. A short keep-alive time makes the
// difference plain; the bound leaves room for a slow, shared machine.
TEST_F(L2290Test, KeepAliveLeavesOnTimeWhileARequestWaitsOnASilentUnit)
{
    koruhv::TextTiming t = koruhv::Text_Timing();
    t.keepAliveMs = 250;
    koruhv::Text_SetTimingForTests(t);
    startTcp({L2290Module::make(0, 1)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);

    sim->addFault(Fault::silence("", -1));
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(0)).rc, 0);
    // The time of 8 empty batches: about 2 s on time, 8 s or more when each
    // waits for a request; a sum, not the longest gap, leaves room for the
    // stalls of a loaded machine.
    const auto first = std::chrono::steady_clock::now();
    for (int i = 0; i < 8; ++i) {
        const Batch b = EventServer::readUntil(fd, kWait, withRecords(0));
        ASSERT_EQ(b.rc, 0);
    }
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - first);
    EXPECT_LT(took.count(), 5000) << "keep-alive held back by the waiting request";
    sim->clearFaults();
    EXPECT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);
}

TEST_F(L2290Test, LastUnsubscriptionClosesAndTheNextSubscriptionReconnects)
{
    startTcp({L2290Module::make(0, 4)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 2, "VMon", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(2)).rc, 0);

    char results[4] = {};
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(h, server.apiPort(), 0, 0, "VMon", 1, results), 0);
    const Batch left = EventServer::readUntil(
        fd, kWait, [](const Batch &x) { return x.records.size() == 1 && x.records[0].channel == 2; });
    ASSERT_EQ(left.rc, 0);
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(h, server.apiPort(), 0, 2, "VMon", 1, results), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));

    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 3, "VSet", 1), 0);
    std::string ident;
    const int again = server.accept(kWait, &ident);
    ASSERT_GE(again, 0);
    EXPECT_EQ(ident, "127.0.0.2_0");
    const Batch b = EventServer::readUntil(again, kWait, withRecords(1));
    ASSERT_EQ(b.rc, 0);
    EXPECT_STREQ(b.records[0].name, "VSet");
    EXPECT_EQ(b.records[0].channel, 3);
}

TEST_F(L2290Test, ALostEventConnectionIsOpenedAgainByTheNextSubscription)
{
    startTcp({L2290Module::make(0, 2)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);
    const EventServer::LibraryEnd library = EventServer::libraryEnd(fd);
    ASSERT_GE(library.fd, 0);
    ::shutdown(fd, SHUT_RDWR); // the program's side goes away
    // The backend's sends fail and it closes its end.
    ASSERT_TRUE(koru_test::waitFor([&] { return !EventServer::isOpen(library); }))
        << "the backend still holds its event connection";

    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 1, "VMon", 1), 0);
    std::string ident;
    const int again = server.accept(kWait, &ident);
    ASSERT_GE(again, 0);
    EXPECT_EQ(ident, "127.0.0.2_0");
    EXPECT_EQ(EventServer::readUntil(again, kWait, withRecords(2)).rc, 0);
}

TEST_F(L2290Test, ARefusedSubscriptionLeavesNothingPolled)
{
    startTcp({L2290Module::make(0, 2)});
    const int h = open("127.0.0.2_0");
    short deadPort;
    {
        EventServer gone;
        deadPort = gone.apiPort();
    }
    EXPECT_EQ(subscribeChannel(h, deadPort, 0, "VMon", 1), 28);

    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 1, "VSet", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 3; ++i) {
        const Batch b = EventServer::read(fd);
        ASSERT_EQ(b.rc, 0);
        ASSERT_EQ(b.records.size(), 1u);
        EXPECT_STREQ(b.records[0].name, "VSet");
    }
}

TEST_F(L2290Test, ResultBytesAndItemCounts)
{
    startTcp({L2290Module::make(0, 2)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    const std::string s = "KORU_L2290_HVW_000";
    const std::string items = s + ".Board00.CHAN000.VMon:" + s + ".Board00.CHAN009.VMon:" + s +
                              ".Board000.ClrAlarm:" + s + ".Board00.CHAN000.VMon:" + s +
                              ".Board000.VMon:" + s + ".Board00.CHAN001.Nope:" + s + ".HVFanStat";
    char results[7];
    std::memset(results, 'x', sizeof results);
    EXPECT_EQ(KORUHV_Subscribe(h, server.apiPort(), 6, items.c_str(), results), 26);
    EXPECT_EQ(results[0], 'x');
    ASSERT_EQ(KORUHV_Subscribe(h, server.apiPort(), 7, items.c_str(), results), 0);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(static_cast<unsigned char>(results[1]), 255); // channel beyond the count
    EXPECT_EQ(static_cast<unsigned char>(results[2]), 255); // a command
    EXPECT_EQ(results[3], 0);                               // again: counted once
    EXPECT_EQ(static_cast<unsigned char>(results[4]), 255); // a channel parameter as a board item
    EXPECT_EQ(static_cast<unsigned char>(results[5]), 255); // no such parameter
    EXPECT_EQ(results[6], 'x');                             // system items are not the backend's
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 2; ++i) {
        const Batch b = EventServer::read(fd);
        ASSERT_EQ(b.rc, 0);
        EXPECT_EQ(b.records.size(), 1u);
    }
    char un[2];
    const std::string two = s + ".Board00.CHAN000.VMon:" + s + ".Board000.ClrAlarm";
    ASSERT_EQ(KORUHV_UnSubscribe(h, server.apiPort(), 2, two.c_str(), un), 0);
    EXPECT_EQ(un[0], 0);
    EXPECT_EQ(static_cast<unsigned char>(un[1]), 255);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
}

TEST_F(L2290Test, ClosingWithAnActiveSubscriptionIsBoundedAndStopsTheThread)
{
    startTcp({L2290Module::make(0, 4)});
    const int h = open("127.0.0.2_0");
    EXPECT_EQ(pollThreadCount(), 1);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon:IMonH:ChStatus:Pw", 4), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(4)).rc, 0);

    auto closing = std::async(std::launch::async, [&] { return KORUHV_DeinitSystem(h); });
    ASSERT_EQ(closing.wait_for(kWait), std::future_status::ready) << "close hangs";
    EXPECT_EQ(closing.get(), 0);
    handles.clear();
    EXPECT_EQ(pollThreadCount(), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
}

TEST_F(L2290Test, ClosingWhileTheUnitIsSilentIsBounded)
{
    startTcp({L2290Module::make(0, 4)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon:VSet:ISet:RUp:RDwn:Trip", 6), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    sim->addFault(Fault::silence("", -1));
    std::this_thread::sleep_for(1500ms); // the thread is somewhere in its slow cycle

    auto closing = std::async(std::launch::async, [&] { return KORUHV_DeinitSystem(h); });
    ASSERT_EQ(closing.wait_for(kWait), std::future_status::ready) << "close hangs";
    handles.clear();
    EXPECT_EQ(pollThreadCount(), 0);
}

TEST_F(L2290Test, ServerPortsAboveTheSignedRangeWork)
{
    // Event servers on ephemeral ports often sit above 32767, which the
    // API's short carries as a negative number.
    startTcp({L2290Module::make(0, 1)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    if (server.port() < 32768)
        GTEST_SKIP() << "the ephemeral port " << server.port() << " is in the signed range";
    ASSERT_LT(server.apiPort(), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    EXPECT_GE(server.accept(kWait, nullptr), 0);
}
