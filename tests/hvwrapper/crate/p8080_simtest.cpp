// Family 16 through the public API against the rack simulator over
// loopback TCP: encrypted login, map, parameters, system properties,
// commands, subscriptions and the rack's own event connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "KORUHVWrapper.h"
#include "crate/crate_transport.h"
#include "crate/p8080_backend.h"
#include "crate/p8080_sim.h"
#include "crate_test_util.h"
#include "fault_proxy.h"
#include "wait_progress.h"

using namespace std::chrono_literals;
using korusim::P8080Model;
using korusim::P8080Sim;

namespace {

// The rack simulator on the address, started, with the library's port and
// key hooks on it; both restored at the end.
struct RackOnLoopback {
    P8080Sim sim;
    std::string key;
    explicit RackOnLoopback(const char *addr) : sim(P8080Model::smallRack(), addr)
    {
        EXPECT_TRUE(sim.start()) << sim.errorText();
        key = sim.publicKeyPem();
        koruhv::P8080_SetPortForTest(sim.port());
        koruhv::P8080_SetPublicKeyForTest(key.c_str());
    }
    ~RackOnLoopback()
    {
        sim.stop();
        koruhv::P8080_SetPortForTest(0);
        koruhv::P8080_SetPublicKeyForTest(nullptr);
        auto errors = sim.protocolErrors();
        EXPECT_TRUE(errors.empty()) << errors.front();
    }
};

// Logged in to the rack on the address (rc: the login's code).
struct Fixture {
    RackOnLoopback rack;
    P8080Sim &sim = rack.sim;
    int h = -1;
    int rc = -1;
    explicit Fixture(const char *addr, const char *pw = "admin") : rack(addr)
    {
        rc = KORUHV_InitSystem(16, 0, const_cast<char *>(addr), "admin", pw, &h);
    }
    ~Fixture()
    {
        if (h >= 0)
            KORUHV_DeinitSystem(h);
    }
    // The event connection the rack opened for the subscriptions, as the
    // library hands it out; -1 (and a failure) when none came.
    int eventSocket()
    {
        int sock = -1;
        EXPECT_TRUE(sim.waitEventConnection(koru_test::kHangGuard)) << "no event connection";
        EXPECT_EQ(KORUHV_GetSysProp(h, "EventDataSocket", &sock), 0);
        EXPECT_GE(sock, 0);
        return sock;
    }
    // The rack was told to stop sending and the event connection is gone.
    void expectEventLinkClosed()
    {
        EXPECT_EQ(sim.requestsFor("DISABLEMSG").size(), 1u);
        int sock = 0;
        ASSERT_EQ(KORUHV_GetSysProp(h, "EventDataSocket", &sock), 0);
        EXPECT_EQ(sock, -1);
    }
};

// The event reader's wait for a batch to start, for one test.
struct EventIdle {
    explicit EventIdle(int ms) { koruhv::P8080_SetEventIdleForTest(ms); }
    ~EventIdle() { koruhv::P8080_SetEventIdleForTest(0); }
};

// Reads batches until one holds a record of that name (and board) that
// the test accepts (the first value of a new subscription comes first).
bool waitRecord(
    int sock, const char *name, int board, EventRecord *out,
    bool (*accept)(const EventRecord &) = [](const EventRecord &) { return true; })
{
    for (int i = 0; i < 60; ++i) {
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *ev = nullptr;
        int n = 0;
        int rc = KORUHV_GetEventData(sock, &st, &ev, &n);
        if (rc == KORUHV_ERR_NO_EVENT_READER)
            continue;
        if (rc != 0)
            return false;
        bool found = false;
        for (int k = 0; k < n && !found; ++k)
            if (std::strcmp(ev[k].name, name) == 0 && ev[k].board == board && accept(ev[k])) {
                *out = ev[k];
                found = true;
            }
        KORUHV_FreeEventData(&ev);
        if (found)
            return true;
    }
    return false;
}

// The rack simulator with the fault proxy in front of it, the library's
// hooks pointed at the proxy and a reply bound of boundMs; both restored
// at the end.
struct ProxiedRack {
    RackOnLoopback rack;
    koru_test::FaultProxy proxy;
    ProxiedRack(const char *simAddress, const char *proxyAddress, int boundMs)
        : rack(simAddress),
          proxy(koru_test::FaultProxy::framedLittleEndian, simAddress, rack.sim.port(), proxyAddress)
    {
        koruhv::P8080_SetPortForTest(proxy.port());
        koruhv::CrateTransport_SetTimeoutsForTest(0, boundMs);
    }
    ~ProxiedRack() { koruhv::CrateTransport_SetTimeoutsForTest(0, 0); }
};

} // namespace

TEST(P8080Sim, LoginMapParametersAndProperties)
{
    Fixture f("127.0.0.70");
    ASSERT_EQ(f.rc, 0);
    EXPECT_EQ(f.sim.lastPassword(), "admin");
    unsigned short slots = 0, *counts = nullptr;
    char *models = nullptr, *descs = nullptr;
    unsigned *serials = nullptr;
    unsigned char *mi = nullptr, *ma = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(f.h, &slots, &counts, &models, &descs, &serials, &mi, &ma), 0);
    EXPECT_EQ(slots, 3); // the controller slot is dropped
    EXPECT_EQ(counts[0], 4);
    EXPECT_EQ(counts[1], 0);
    EXPECT_EQ(counts[2], 2);
    EXPECT_STREQ(models, "PM804");
    for (void *p : {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
        KORUHV_Free(p);

    unsigned short ch[] = {0, 1};
    float v = 250.0f;
    ASSERT_EQ(KORUHV_SetChParam(f.h, 0, "V0Set", 2, ch, &v), 0);
    EXPECT_NEAR(*f.sim.channelValue(0, 1, "V0Set"), 250.0, 0.05);
    float back[2] = {};
    ASSERT_EQ(KORUHV_GetChParam(f.h, 0, "V0Set", 2, ch, back), 0);
    EXPECT_NEAR(back[1], 250.0f, 0.05f);
    float cal = -12.5f;
    ASSERT_EQ(KORUHV_SetChParam(f.h, 2, "VCal", 1, ch, &cal), 0);
    EXPECT_NEAR(*f.sim.channelValue(2, 0, "VCal"), -12.5, 0.05);
    unsigned pw = 1;
    ASSERT_EQ(KORUHV_SetChParam(f.h, 0, "Pw", 1, ch, &pw), 0);
    EXPECT_EQ(*f.sim.channelRaw(0, 0, "Pw"), 1u);
    unsigned short slot0[] = {0};
    float bd[1] = {};
    EXPECT_EQ(KORUHV_GetBdParam(f.h, 1, slot0, "Temp", bd), 0);
    EXPECT_EQ(KORUHV_GetChParam(f.h, 1, "V0Set", 1, ch, back), 7); // empty slot

    ASSERT_EQ(KORUHV_SetChName(f.h, 0, 1, ch, "probe"), 0);
    char names[2][KORUHV_CHANNEL_NAME_SIZE];
    ASSERT_EQ(KORUHV_GetChName(f.h, 0, 2, ch, names), 0);
    EXPECT_STREQ(names[0], "probe");

    char text[KORUHV_SYSPROP_TEXT_SIZE];
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "ModelName", text), 0);
    EXPECT_STREQ(text, "P8080");
    int16_t temp = 0;
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "Temp", &temp), 0);
    EXPECT_EQ(temp, 31);
    uint16_t ac = 0;
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "ACVolt", &ac), 0);
    EXPECT_EQ(ac, 231);
    uint32_t up = 0;
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "Uptime", &up), 0);
    EXPECT_EQ(up, 3600u);
    int32_t alarm = -42;
    ASSERT_EQ(KORUHV_SetSysProp(f.h, "Alarm", &alarm), 0);
    EXPECT_EQ(int32_t(*f.sim.systemRaw("Alarm")), -42);
    ASSERT_EQ(KORUHV_SetSysProp(f.h, "Label", const_cast<char *>("bench")), 0);
    EXPECT_EQ(*f.sim.systemText("Label"), "bench");
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "Label", text), 0);
    EXPECT_STREQ(text, "bench");
    uint8_t on = 1;
    ASSERT_EQ(KORUHV_SetSysProp(f.h, "Interlock", &on), 0);
    EXPECT_EQ(*f.sim.systemRaw("Interlock"), 1u);

    unsigned short np = 0;
    char *list = nullptr;
    ASSERT_EQ(KORUHV_GetSysPropList(f.h, &np, &list), 0);
    EXPECT_EQ(np, 8 + 5);
    KORUHV_Free(list);
    size_t before = f.sim.requestsFor("GLOBALON").size();
    EXPECT_EQ(KORUHV_ExecComm(f.h, "GlobalOn"), 0);
    koru_test::waitFor([&] { return f.sim.requestsFor("GLOBALON").size() != before; });
    EXPECT_EQ(f.sim.requestsFor("GLOBALON").size(), before + 1);
    EXPECT_EQ(KORUHV_DeinitSystem(f.h), 0);
    f.h = -1;
    EXPECT_EQ(f.sim.activeSessions(), 0);
}

TEST(P8080Sim, WrongPasswordIsRefused)
{
    Fixture f("127.0.0.71", "nope");
    EXPECT_EQ(f.rc, KORUHV_ERR_LOGIN_REFUSED);
    EXPECT_EQ(f.h, -1);
}

TEST(P8080Sim, EventsOnTheRackConnectionAndKeepAliveAnswers)
{
    Fixture f("127.0.0.72");
    ASSERT_EQ(f.rc, 0);
    char *cells = nullptr;
    int n = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(f.h, 0, 1, &cells, &n), 0);
    KORUHV_Free(cells);
    char res[2] = {9, 9};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(f.h, 4400, 0, 1, "V0Set:Pw", 2, res), 0);
    EXPECT_EQ(res[0], 0);
    EXPECT_EQ(res[1], 0);
    ASSERT_EQ(KORUHV_SubscribeSystemParams(f.h, 4400, "Temp:Label", 2, res), 0);
    EXPECT_EQ(res[0], 0);
    const int sock = f.eventSocket();
    ASSERT_GE(sock, 0);

    f.sim.setChannelValue(0, 1, "V0Set", 77.0);
    EventRecord rec{};
    ASSERT_TRUE(waitRecord(sock, "V0Set", 0, &rec, [](const EventRecord &r) {
        return std::fabs(r.value.FloatValue - 77.0f) < 0.05f;
    }));
    f.sim.setSystemText("Label", "hot");
    ASSERT_TRUE(waitRecord(sock, "Label", -1, &rec, [](const EventRecord &r) {
        return std::strcmp(r.value.StringValue, "hot") == 0;
    }));

    int answers = f.sim.keepAliveAnswers();
    f.sim.sendKeepAlive(3);
    ASSERT_TRUE(
        waitRecord(sock, "KeepAlive", -1, &rec, [](const EventRecord &r) { return r.value.IntValue == 3; }));
    koru_test::waitFor([&] { return f.sim.keepAliveAnswers() != answers; });
    EXPECT_EQ(f.sim.keepAliveAnswers(), answers + 1);

    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(f.h, 4400, 0, 1, "V0Set:Pw", 2, res), 0);
    EXPECT_TRUE(f.sim.requestsFor("DISABLEMSG").empty());
    ASSERT_EQ(KORUHV_UnSubscribeSystemParams(f.h, 4400, "Temp:Label", 2, res), 0);
    f.expectEventLinkClosed();
}

// Board 0, channel 0 and the channel's first parameter make the item id 0:
// a valid item like any other.
TEST(P8080Sim, ItemIdZeroIsAnOrdinaryItem)
{
    Fixture f("127.0.0.73");
    ASSERT_EQ(f.rc, 0);
    EventIdle idle(200); // a missing event fails within seconds
    char *cells = nullptr;
    int n = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(f.h, 0, 0, &cells, &n), 0);
    ASSERT_GE(n, 1);
    ASSERT_STREQ(cells, "V0Set"); // the first parameter: slot 0, so id 0
    KORUHV_Free(cells);
    char res[2] = {9, 9};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(f.h, 4400, 0, 0, "V0Set:VMon", 2, res), 0);
    EXPECT_EQ(res[0], 0);
    EXPECT_EQ(res[1], 0);
    const int sock = f.eventSocket();
    ASSERT_GE(sock, 0);

    f.sim.setChannelValue(0, 0, "V0Set", 55.0);
    bool setSeen = false, monSeen = false;
    for (int i = 0; i < 60 && !(setSeen && monSeen); ++i) {
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *ev = nullptr;
        int count = 0;
        const int rc = KORUHV_GetEventData(sock, &st, &ev, &count);
        if (rc == KORUHV_ERR_NO_EVENT_READER)
            continue;
        ASSERT_EQ(rc, 0);
        for (int k = 0; k < count; ++k) {
            if (ev[k].board != 0 || ev[k].channel != 0)
                continue;
            setSeen = setSeen || (std::strcmp(ev[k].name, "V0Set") == 0 &&
                                  std::fabs(ev[k].value.FloatValue - 55.0f) < 0.05f);
            monSeen = monSeen || std::strcmp(ev[k].name, "VMon") == 0;
        }
        KORUHV_FreeEventData(&ev);
    }
    EXPECT_TRUE(setSeen);
    EXPECT_TRUE(monSeen);

    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(f.h, 4400, 0, 0, "V0Set:VMon", 2, res), 0);
    f.expectEventLinkClosed();
}

TEST(P8080Sim, FaultyRepliesGiveCodesWithinTheBound)
{
    Fixture f("127.0.0.73");
    ASSERT_EQ(f.rc, 0);
    EventIdle idle(200); // a missing event fails within seconds
    koruhv::CrateTransport_SetTimeoutsForTest(0, 500);
    unsigned short ch[] = {0, 1};
    float out[2] = {};
    using F = korusim::P8080Fault;
    struct Case {
        F::Action action;
        int code;
    } cases[] = {
        {F::CutData, 23}, {F::WrongSession, 23}, {F::WrongKeyword, 23}, {F::Refuse, 23}, {F::Silent, 3}};
    for (const Case &c : cases) {
        F fault;
        fault.keyword = "GETCHPARAM";
        fault.action = c.action;
        fault.bytes = 20;
        f.sim.addFault(fault);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(KORUHV_GetChParam(f.h, 0, "V0Set", 2, ch, out), c.code) << int(c.action);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
        f.sim.clearFaults();
        if (c.action == F::Silent)
            break; // the late reply would now answer the next request
    }
    koruhv::CrateTransport_SetTimeoutsForTest(0, 0);
}

TEST(P8080Sim, CutEventBatchEndsTheStream)
{
    Fixture f("127.0.0.74");
    ASSERT_EQ(f.rc, 0);
    char res[1];
    ASSERT_EQ(KORUHV_SubscribeSystemParams(f.h, 4400, "Temp", 1, res), 0);
    const int sock = f.eventSocket();
    ASSERT_GE(sock, 0);
    korusim::P8080EventFault cut;
    cut.action = korusim::P8080EventFault::CutBatch;
    cut.bytes = 6;
    f.sim.addEventFault(cut);
    f.sim.sendKeepAlive(1);
    int rc = 0;
    for (int i = 0; i < 20 && rc == 0; ++i) {
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *ev = nullptr;
        int n = 0;
        rc = KORUHV_GetEventData(sock, &st, &ev, &n);
        KORUHV_FreeEventData(&ev);
    }
    EXPECT_EQ(rc, 3);
}

// The event thread answers keep-alives on the command connection while
// another thread sends requests on it: no frame may interleave.
TEST(P8080Sim, KeepAliveAnswersDoNotInterleaveWithRequests)
{
    Fixture f("127.0.0.75");
    ASSERT_EQ(f.rc, 0);
    char res[1];
    ASSERT_EQ(KORUHV_SubscribeSystemParams(f.h, 4400, "Temp", 1, res), 0);
    const int sock = f.eventSocket();
    ASSERT_GE(sock, 0);
    std::atomic<bool> stop{false};
    std::atomic<int> keepAlives{0};
    std::thread reader([&] {
        while (!stop) {
            KORUHV_SYSTEMSTATUS_t st{};
            EventRecord *ev = nullptr;
            int n = 0;
            int rc = KORUHV_GetEventData(sock, &st, &ev, &n);
            for (int k = 0; rc == 0 && k < n; ++k)
                if (std::strcmp(ev[k].name, "KeepAlive") == 0)
                    ++keepAlives;
            KORUHV_FreeEventData(&ev);
            if (rc != 0 && rc != KORUHV_ERR_NO_EVENT_READER)
                break;
        }
    });
    unsigned short ch[] = {0, 1, 2, 3};
    float out[4];
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        if (i % 10 == 0)
            f.sim.sendKeepAlive(uint32_t(i));
        if (KORUHV_GetChParam(f.h, 0, "VMon", 4, ch, out) != 0)
            ++failures;
    }
    koru_test::waitFor([&] { return f.sim.keepAliveAnswers() >= 20; });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(f.sim.keepAliveAnswers(), 20);
    stop = true;
    f.sim.sendKeepAlive(0); // wakes the reader
    reader.join();
    EXPECT_GE(keepAlives.load(), 20);
}

// A reply held back past the bound, one sent twice and one cut short, each
// by a proxy in front of the rack: every read after it returns its own
// channel's value, or fails, and never another request's value.
TEST(P8080Sim, NoReplyIsTakenForALaterRequest)
{
    constexpr int kBoundMs = 1000;
    ProxiedRack rack("127.0.0.71", "127.0.0.72", kBoundMs);
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(16, 0, const_cast<char *>("127.0.0.72"), "admin", "admin", &h), 0);
    cratetest::expectNoReplyTakenForALaterRequest(rack.proxy, h, kBoundMs, {0, nullptr}, {0, nullptr}, 0.05f);
    KORUHV_DeinitSystem(h);
}

// The rack behind a proxy with a network's latency: a copy of a reply sent
// when the next request comes shifts reads back to back for fewer than
// kReplyCheckEvery reads (kReplyCheckLatest without latency); a timed-out
// reply released behind the resynchronisation's reply shifts none.
TEST(P8080Sim, AShiftOfTheReplyStreamEndsOverALatentLink)
{
    ProxiedRack rack("127.0.0.75", "127.0.0.76", 1000);
    cratetest::expectShiftsToEnd(
        rack.proxy, koruhv::P8080_ERR_RECEIVE,
        [] {
            int h = -1;
            return KORUHV_InitSystem(16, 0, const_cast<char *>("127.0.0.76"), "admin", "admin", &h) == 0 ? h
                                                                                                         : -1;
        },
        [](int h) { KORUHV_DeinitSystem(h); });
}
