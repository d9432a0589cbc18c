// What the four families share, run over each of them against its
// simulator: opening over TCP and a pseudo-terminal, composition, refused
// opens, subscriptions with events through KORUHV_GetEventData, the event
// connection's life, and closing with an active subscription.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "grp1_support.h"
#include "modules/bq71xxe_backend.h"
#include "modules/bq71xxe_sim.h"
#include "modules/l317e_backend.h"
#include "modules/l317e_sim.h"
#include "modules/text_engine.h"
#include "modules/w9300_backend.h"
#include "modules/w9300_sim.h"
#include "modules/zjv_backend.h"
#include "modules/zjv_sim.h"

using namespace grp1test;
using namespace std::chrono_literals;
using korusim::Fault;

namespace {

struct FamilyCase {
    const char *family;
    int systemType;
    void (*setPort)(unsigned short);
    std::function<std::unique_ptr<korusim::TextLinkSim>()> makeSim;
    const char *addressSuffix; // after the IP or port name ("_0": module address)
    const char *model;
    int channels;
    const char *channelParam; // polled channel parameter and its mnemonic
    const char *channelMnemonic;
    const char *boardParam; // null: the family has none
    const char *threadName;
};

const FamilyCase kCases[] = {
    {"W9300", 7, koruhv::W9300_SetTcpPortForTests,
     [] { return std::make_unique<korusim::W9300Sim>(korusim::W9300Crate::make(6)); }, "", "W9300", 6, "VMon",
     "PAR:VMON", "Temp", "W9300 poll"},
    {"L317E", 8, koruhv::L317E_SetTcpPortForTests,
     [] {
         return std::make_unique<korusim::L317ESim>(
             std::vector<korusim::L317EModule>{korusim::L317EModule::make(0)});
     },
     "_0", "L317E", 16, "FineGain", "PAR:FGAIN", "Offset", "L317E poll"},
    {"ZJV", 10, koruhv::ZJV_SetTcpPortForTests, [] { return std::make_unique<korusim::ZJVSim>(); }, "",
     "ZJV-LV2", 2, "V5", "PAR:V5$", nullptr, "ZJV poll"},
    {"BQ71XXE", 11, koruhv::BQ71XXE_SetTcpPortForTests,
     [] { return std::make_unique<korusim::BQ71XXESim>(korusim::BQ71XXEUnit::make(4)); }, "", "BQ7104E", 4,
     "VMon", "PAR:VMON", "IlkStat", "BQ71XXE poll"},
};

// Tests name the family instead of dumping the bytes of the case.
void PrintTo(const FamilyCase &c, std::ostream *os)
{
    *os << c.family;
}

class CommonTest : public FamilyTest, public ::testing::WithParamInterface<FamilyCase> {
protected:
    CommonTest() : FamilyTest(GetParam().systemType, GetParam().setPort) {}
    const FamilyCase &c() const { return GetParam(); }
    std::string tcpAddress() const { return "127.0.0.2" + std::string(c().addressSuffix); }
    std::string ptyAddress() const { return sim->ptyName() + c().addressSuffix; }
};

void expectComposition(int h, const char *model, int channels)
{
    unsigned short slots = 0, *counts = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &counts, &models, &descriptions, &serials, &minors, &majors), 0);
    EXPECT_EQ(slots, 1);
    EXPECT_EQ(counts[0], channels);
    EXPECT_STREQ(models, model);
    EXPECT_STREQ(descriptions, "");
    for (void *p :
         {static_cast<void *>(counts), static_cast<void *>(models), static_cast<void *>(descriptions),
          static_cast<void *>(serials), static_cast<void *>(minors), static_cast<void *>(majors)})
        KORUHV_Free(p);
}

} // namespace

TEST_P(CommonTest, OpensOverTcpAndAPseudoTerminal)
{
    startTcp(c().makeSim());
    int h = open(tcpAddress());
    expectComposition(h, c().model, c().channels);
    char names[1][KORUHV_CHANNEL_NAME_SIZE] = {};
    unsigned short last = static_cast<unsigned short>(c().channels - 1);
    ASSERT_EQ(KORUHV_GetChName(h, 0, 1, &last, names), 0);
    EXPECT_EQ(std::string(names[0]).substr(0, 2), "CH");
    unsigned short beyond = static_cast<unsigned short>(c().channels);
    EXPECT_EQ(KORUHV_GetChName(h, 0, 1, &beyond, names), 10);
    int rc;
    channelParams(h, beyond, &rc);
    EXPECT_EQ(rc, 10);
    close(h);
    sim->stop();

    startPty(c().makeSim());
    h = open(ptyAddress(), kLinkUsbVcp);
    expectComposition(h, c().model, c().channels);
    getFloat(h, c().channelParam, 0, &rc);
    EXPECT_EQ(rc, 0);
}

TEST_P(CommonTest, UnreachableOrSilentUnitsDoNotOpen)
{
    startTcp(c().makeSim());
    const unsigned short port = sim->port();
    sim->stop();
    c().setPort(port); // nobody listens there any more
    int h;
    EXPECT_EQ(tryOpen(tcpAddress(), kLinkTcp, &h), KORUHV_ERR_OPEN_FAILED);

    startTcp(c().makeSim());
    sim->addFault(Fault::silence("", -1));
    EXPECT_EQ(tryOpen(tcpAddress(), kLinkTcp, &h), KORUHV_ERR_OPEN_FAILED);
    sim->clearFaults();
    EXPECT_EQ(threadCount(c().threadName), 0);
    EXPECT_EQ(tryOpen(tcpAddress(), kLinkTcp, &h), 0); // nothing of the failed opens is left behind
}

TEST_P(CommonTest, SubscribedValuesArriveAsEvents)
{
    startTcp(c().makeSim());
    const int h = open(tcpAddress());
    EventServer server;
    const unsigned short last = static_cast<unsigned short>(c().channels - 1);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, c().channelParam, 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), last, c().channelParam, 1), 0);
    size_t expected = 2;
    if (c().boardParam) {
        ASSERT_EQ(subscribeBoard(h, server.apiPort(), c().boardParam, 1), 0);
        ++expected;
    }
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, tcpAddress()); // the exact address text the system was opened with

    const Batch b =
        EventServer::readUntil(fd, kWait, [&](const Batch &x) { return x.records.size() == expected; });
    ASSERT_EQ(b.rc, 0);
    ASSERT_EQ(b.records.size(), expected);
    if (c().boardParam) {
        EXPECT_STREQ(b.records[0].name, c().boardParam); // board rows come first
        EXPECT_EQ(b.records[0].channel, -1);
    }
    EXPECT_NE(find(b, c().channelParam, 0), nullptr);
    EXPECT_NE(find(b, c().channelParam, last), nullptr); // the last channel too
    for (const EventRecord &r : b.records)
        EXPECT_EQ(r.board, 0);

    // The last unsubscription closes the connection; the next subscription
    // opens a new one, identified again.
    char results[4] = {};
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(h, server.apiPort(), 0, 0, c().channelParam, 1, results), 0);
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(h, server.apiPort(), 0, last, c().channelParam, 1, results), 0);
    if (c().boardParam) {
        ASSERT_EQ(KORUHV_UnSubscribeBoardParams(h, server.apiPort(), 0, c().boardParam, 1, results), 0);
    }
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, c().channelParam, 1), 0);
    const int again = server.accept(kWait, &ident);
    ASSERT_GE(again, 0);
    EXPECT_EQ(ident, tcpAddress());
    const Batch one =
        EventServer::readUntil(again, kWait, [](const Batch &x) { return x.records.size() == 1; });
    EXPECT_EQ(one.rc, 0);
}

TEST_P(CommonTest, EventsOverAPseudoTerminalAndASilentUnitKeepsTheConnectionAlive)
{
    startPty(c().makeSim());
    const int h = open(ptyAddress(), kLinkUsbVcp);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, c().channelParam, 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, ptyAddress());
    const Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 1; });
    ASSERT_EQ(b.rc, 0);

    // Nothing to report: empty batches, at least every 5 s.
    sim->addFault(Fault::silence("", -1));
    const Batch empty = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.empty(); });
    EXPECT_EQ(empty.rc, 0);
    const auto t0 = std::chrono::steady_clock::now();
    const Batch next = EventServer::read(fd);
    EXPECT_EQ(next.rc, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s); // 5 s; the reader would wait 15 s
}

// The keep-alive runs by the clock over TCP too, while a request waits on
// the silent unit (1 s each): a short keep-alive time shows the difference;
// the bound leaves room for a slow, shared machine.
TEST_P(CommonTest, KeepAliveLeavesOnTimeWhileARequestWaitsOverTcp)
{
    koruhv::TextTiming t = koruhv::Text_Timing();
    t.keepAliveMs = 250;
    koruhv::Text_SetTimingForTests(t);
    startTcp(c().makeSim());
    const int h = open(tcpAddress());
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, c().channelParam, 1), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 1; }).rc, 0);

    sim->addFault(Fault::silence("", -1));
    ASSERT_EQ(EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.empty(); }).rc, 0);
    // The time of 8 empty batches: about 2 s on time, 8 s or more when each
    // waits for a request; a sum, not the longest gap, leaves room for the
    // stalls of a loaded machine.
    const auto first = std::chrono::steady_clock::now();
    for (int i = 0; i < 8; ++i) {
        const Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.empty(); });
        ASSERT_EQ(b.rc, 0);
    }
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - first);
    EXPECT_LT(took.count(), 5000) << "keep-alive held back by the waiting request";
}

TEST_P(CommonTest, ALostEventConnectionIsOpenedAgainByTheNextSubscription)
{
    startTcp(c().makeSim());
    const int h = open(tcpAddress());
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, c().channelParam, 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    const EventServer::LibraryEnd library = EventServer::libraryEnd(fd);
    ASSERT_GE(library.fd, 0);
    ::shutdown(fd, SHUT_RDWR); // the program's side goes away
    // The backend's sends fail and it closes its end.
    ASSERT_TRUE(koru_test::waitFor([&] { return !EventServer::isOpen(library); }))
        << "the backend still holds its event connection";
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 1, c().channelParam, 1), 0);
    const int again = server.accept(kWait, &ident);
    ASSERT_GE(again, 0);
    EXPECT_EQ(ident, tcpAddress());
    const Batch b =
        EventServer::readUntil(again, kWait, [](const Batch &x) { return x.records.size() == 2; });
    EXPECT_EQ(b.rc, 0);
}

TEST_P(CommonTest, ClosingWithAnActiveSubscriptionIsBounded)
{
    startTcp(c().makeSim());
    const int h = open(tcpAddress());
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, c().channelParam, 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 1; }).rc, 0);
    EXPECT_EQ(threadCount(c().threadName), 1);
    sim->addFault(Fault::silence("", -1)); // the thread may be inside a request
    const auto t0 = std::chrono::steady_clock::now();
    close(h);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s); // the margin is for a loaded machine
    EXPECT_EQ(threadCount(c().threadName), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
}

INSTANTIATE_TEST_SUITE_P(Families, CommonTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FamilyCase> &i) {
                             return std::string(i.param.family);
                         });
