// Subscriptions of the register backends: the polling thread's event
// connection to a test event server on 127.0.0.1, read through
// KORUHV_GetEventData, its identification, keep-alive, loss and reopening,
// and closing a system while it is subscribed.
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <thread>

#include "boards_support.h"

using namespace boardstest;
using namespace std::chrono_literals;

namespace {

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n,
                     char *results = nullptr)
{
    char local[32] = {};
    return KORUHV_SubscribeChannelParams(h, port, 0, ch, names, n, results ? results : local);
}

int unsubscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n,
                       char *results = nullptr)
{
    char local[32] = {};
    return KORUHV_UnSubscribeChannelParams(h, port, 0, ch, names, n, results ? results : local);
}

auto withRecords(size_t n)
{
    return [n](const Batch &b) { return b.records.size() == n; };
}

class EventsTest : public BoardsTest {
protected:
    int openBoard()
    {
        place = stub.attach(1, nullptr, 1, 2, 0xEE000000u, KORUCOMM_MODEL_W38XX, 12);
        return open(kW38XX, kLinkOptlink, "1_2_ee000000");
    }
    int openUnit()
    {
        place = stub.attach(0, nullptr, 0, 1, 0, KORUCOMM_MODEL_BQ71XX, 0);
        return open(kBQ71XX, kLinkUsb, "0_1");
    }
    int place = -1;
};

} // namespace

TEST_F(EventsTest, BoardValuesArriveInOneBatchPerCycle)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    EventServer server;
    char results[4] = {1, 1, 1, 1};
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon:Nothing", 2, results), 0);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(uint8_t(results[1]), 255);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 2, "VSet", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0); // already subscribed: polled once
    char br[4] = {};
    ASSERT_EQ(KORUHV_SubscribeBoardParams(h, server.apiPort(), 0, "Uptime:Temp", 2, br), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "1_2_ee000000"); // the address text the system was opened with

    float vset = 250.0f;
    unsigned short two = 2;
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "VSet", 1, &two, &vset), 0);
    const Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) {
        const EventRecord *r = find(x, "VSet", 2);
        return x.records.size() == 4 && r && r->value.FloatValue == 250.0f;
    });
    ASSERT_EQ(b.rc, 0);
    EXPECT_STREQ(b.records[0].name, "VMon");
    EXPECT_EQ(b.records[0].channel, 0);
    EXPECT_STREQ(b.records[1].name, "VSet");
    EXPECT_EQ(b.records[1].system, (2 << 8) | 0); // the subscription id: channel 2, parameter 0
    const EventRecord *up = find(b, "Uptime", -1);
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(up->board, 0);
    EXPECT_GE(up->value.FloatValue, 70000.0f); // both words of a 32-bit register
    const EventRecord *temp = find(b, "Temp", -1);
    ASSERT_NE(temp, nullptr);
    EXPECT_FLOAT_EQ(temp->value.FloatValue, 25.3f);
    for (const EventRecord &r : b.records)
        EXPECT_EQ(r.type, 0);

    // Unsubscribing what is not subscribed is rejected; the rest goes on.
    char ur[2] = {};
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 5, "VMon", 1, ur), 0);
    EXPECT_EQ(uint8_t(ur[0]), 255);
    EXPECT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon:VSet", 3), 26);
}

TEST_F(EventsTest, LastUnsubscribeClosesAndNextSubscribeReconnects)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 1, "VMon", 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 1, "VMon", 1), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));

    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 1, "IMon", 1), 0);
    const int fd2 = server.accept(kWait, &ident);
    ASSERT_GE(fd2, 0);
    EXPECT_EQ(ident, "1_2_ee000000");
    const Batch b = EventServer::readUntil(fd2, kWait, withRecords(1));
    ASSERT_EQ(b.rc, 0);
    EXPECT_STREQ(b.records[0].name, "IMon");
}

TEST_F(EventsTest, SilentBoardKeepsTheConnectionAliveAndResumes)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);
    stub.failReads(place, 0xFFFFFFFFu, -1);
    const int readsBefore = stub.readCount(place);
    // Only empty batches while the board does not answer.
    const Batch empty = EventServer::readUntil(fd, kWait, withRecords(0));
    ASSERT_EQ(empty.rc, 0);
    std::this_thread::sleep_for(500ms);
    // The thread keeps its period: no burst of reads against a dead board.
    EXPECT_LT(stub.readCount(place) - readsBefore, 40);
    stub.failReads(-1, 0xFFFFFFFFu, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);
}

TEST_F(EventsTest, LostSubscriberIsReplacedAtTheNextSubscribe)
{
    const int h = openUnit();
    ASSERT_GE(h, 0);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    std::string ident;
    int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "0_1");
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);
    const EventServer::LibraryEnd library = EventServer::libraryEnd(fd);
    ASSERT_GE(library.fd, 0);
    server.drop(fd); // the program's event thread went away
    // The backend's sends fail and it closes its end.
    ASSERT_TRUE(koru_test::waitFor([&] { return !EventServer::isOpen(library); }))
        << "the backend still holds its event connection";
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 1, "VMon", 1), 0);
    fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "0_1");
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(2)).rc, 0);
}

TEST_F(EventsTest, FailedConnectionLeavesNothingSubscribed)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    short deadPort;
    {
        EventServer gone;
        deadPort = gone.apiPort();
    }
    EXPECT_EQ(subscribeChannel(h, deadPort, 0, "VMon", 1), 28);
    EventServer server;
    // The same item again: subscribed afresh and polled.
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon", 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, withRecords(1)).rc, 0);

    const int u = openUnit();
    ASSERT_GE(u, 0);
    EXPECT_EQ(subscribeChannel(u, deadPort, 0, "VMon", 1), 28);
    ASSERT_EQ(subscribeChannel(u, server.apiPort(), 3, "VSet", 1), 0);
    const int fd2 = server.accept(kWait, nullptr);
    ASSERT_GE(fd2, 0);
    const Batch b = EventServer::readUntil(fd2, kWait, withRecords(1));
    ASSERT_EQ(b.rc, 0);
    EXPECT_STREQ(b.records[0].name, "VSet");
}

TEST_F(EventsTest, UnitCurrentMonitorsFollowTheRange)
{
    const int h = openUnit();
    ASSERT_GE(h, 0);
    stub.timeScale(50.0);
    ASSERT_EQ(setFloat(h, "VSet", 0, 200.0f), 0);
    ASSERT_EQ(setFloat(h, "RampUp", 0, 500.0f), 0);
    ASSERT_EQ(setInt(h, "Pw", 0, 1), 0);
    EventServer server;
    char results[4] = {};
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "IMonL:IMonH:IMRange:Pw", 4, results), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) {
        const EventRecord *r = find(x, "IMonH", 0);
        return x.records.size() == 4 && r && r->value.FloatValue == 20.0f;
    });
    ASSERT_EQ(b.rc, 0);
    EXPECT_FLOAT_EQ(find(b, "IMonL", 0)->value.FloatValue, 0.0f);
    EXPECT_EQ(find(b, "Pw", 0)->value.IntValue, 1);
    EXPECT_EQ(find(b, "IMRange", 0)->value.IntValue, 0);
    EXPECT_EQ(find(b, "Pw", 0)->system, 0); // the instance index

    ASSERT_EQ(setInt(h, "IMRange", 0, 1), 0);
    b = EventServer::readUntil(fd, kWait, [](const Batch &x) {
        const EventRecord *r = find(x, "IMonL", 0);
        return x.records.size() == 4 && r && r->value.FloatValue == 20.0f;
    });
    ASSERT_EQ(b.rc, 0);
    EXPECT_FLOAT_EQ(find(b, "IMonH", 0)->value.FloatValue, 0.0f);

    // Unsubscribing a pair that is not subscribed is no error on this unit.
    char ur[2] = {1, 1};
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 2, "VMon", 1, ur), 0);
    EXPECT_EQ(ur[0], 0);
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 0, "IMonL:IMonH:IMRange", 3), 0);
    b = EventServer::readUntil(fd, kWait, withRecords(1));
    ASSERT_EQ(b.rc, 0);
    EXPECT_STREQ(b.records[0].name, "Pw");
}

// The unit has no board parameters: a board item stands for a row's whole
// mask byte, subscribing channel 0 when no channel of the row is, and
// unsubscribing every channel of the row.
TEST_F(EventsTest, UnitBoardItemsActOnTheWholeRow)
{
    const int h = openUnit();
    ASSERT_GE(h, 0);
    EventServer server;
    char br[3] = {1, 1, 1};
    ASSERT_EQ(KORUHV_SubscribeBoardParams(h, server.apiPort(), 0, "VMon:Nothing:VSet", 3, br), 0);
    EXPECT_EQ(uint8_t(br[0]), 0);
    EXPECT_EQ(uint8_t(br[1]), 255);
    EXPECT_EQ(uint8_t(br[2]), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    Batch b = EventServer::readUntil(fd, kWait, withRecords(2));
    ASSERT_EQ(b.rc, 0);
    ASSERT_NE(find(b, "VMon", 0), nullptr);
    ASSERT_NE(find(b, "VSet", 0), nullptr);

    // A row with a channel subscribed already is left as it is.
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 2, "VMax", 1), 0);
    ASSERT_EQ(KORUHV_SubscribeBoardParams(h, server.apiPort(), 0, "VMax", 1, br), 0);
    EXPECT_EQ(uint8_t(br[0]), 0);
    b = EventServer::readUntil(fd, kWait, withRecords(3));
    ASSERT_EQ(b.rc, 0);
    ASSERT_NE(find(b, "VMax", 2), nullptr);
    EXPECT_EQ(find(b, "VMax", 0), nullptr);

    // Unsubscribing a board item clears the row for every channel.
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 3, "VMon", 1), 0);
    char ur[2] = {1, 1};
    ASSERT_EQ(KORUHV_UnSubscribeBoardParams(h, server.apiPort(), 0, "VMon:VMon", 2, ur), 0);
    EXPECT_EQ(ur[0], 0);
    EXPECT_EQ(ur[1], 0);
    b = EventServer::readUntil(fd, kWait, withRecords(2));
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(find(b, "VMon", 0), nullptr);
    EXPECT_EQ(find(b, "VMon", 3), nullptr);
}

TEST_F(EventsTest, CloseWithActiveSubscriptionIsPromptAndComplete)
{
    const int threads = threadCount();
    const int w = openBoard();
    const int u = openUnit();
    ASSERT_GE(w, 0);
    ASSERT_GE(u, 0);
    EXPECT_EQ(threadCount(), threads + 2);
    EventServer server;
    ASSERT_EQ(subscribeChannel(w, server.apiPort(), 0, "VMon", 1), 0);
    ASSERT_EQ(subscribeChannel(u, server.apiPort(), 0, "VMon", 1), 0);
    const int fw = server.accept(kWait, nullptr);
    const int fu = server.accept(kWait, nullptr);
    ASSERT_GE(fw, 0);
    ASSERT_GE(fu, 0);
    ASSERT_EQ(EventServer::readUntil(fw, kWait, withRecords(1)).rc, 0);

    for (int h : {w, u}) {
        const auto start = std::chrono::steady_clock::now();
        close(h);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s); // the margin is for a loaded machine
    }
    EXPECT_EQ(threadCount(), threads) << "every polling thread is joined";
    EXPECT_TRUE(EventServer::closedWithin(fw, kWait));
    EXPECT_TRUE(EventServer::closedWithin(fu, kWait));
    EXPECT_EQ(stub.openDevices(), 0);
    // Nothing local is open any more: a local socket has no reader.
    KORUHV_SYSTEMSTATUS_t st;
    EventRecord *ev = nullptr;
    int n = 0;
    EXPECT_EQ(KORUHV_GetEventData(fw, &st, &ev, &n), 27);
}
