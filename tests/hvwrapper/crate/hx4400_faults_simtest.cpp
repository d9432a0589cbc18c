// Family 2 through the public API against the crate simulator: malformed,
// faulty and cut replies, a failed logout, and the reply stream shifted by a
// proxy in front of the crate.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "KORUHVWrapper.h"
#include "crate/hx4400_backend.h"
#include "crate_sim_fixture.h"
#include "crate_test_util.h"
#include "fault_proxy.h"
#include "wait_progress.h"

using cratetest::CrateSimTest;
using korusim::CrateFault;

TEST_F(CrateSimTest, MalformedAndFaultyReplies)
{
    koruhv::CrateTransport_SetTimeoutsForTest(0, 600);
    struct Case {
        const char *what;
        CrateFault fault;
        int rc;
        const char *message; // null: not checked
    };
    auto fault = [](CrateFault::Action a, size_t bytes = 0, int delayMs = 0, size_t chunk = 1) {
        CrateFault f;
        f.keyword = "GETCHPARAM";
        f.action = a;
        f.bytes = bytes;
        f.delay = std::chrono::milliseconds(delayMs);
        f.chunk = chunk;
        return f;
    };
    CrateFault refuse = fault(CrateFault::Refuse);
    refuse.status = 105;
    refuse.message = "Slot empty";
    const Case cases[] = {
        {"length in two pieces", fault(CrateFault::SplitLength, 0, 50), 0, nullptr},
        {"reply in small pieces", fault(CrateFault::SplitReply, 0, 5, 3), 0, nullptr},
        {"data shorter than the values", fault(CrateFault::CutData, 25), 3, "Malformed reply from server"},
        {"frame cut, then closed", fault(CrateFault::CutFrame, 10), 5, "KFE server down"},
        {"closed without reply", fault(CrateFault::Close), 5, "KFE server down"},
        {"never answers", fault(CrateFault::Silent), 4, "Timeout from server"},
        {"every read is bounded", fault(CrateFault::SplitReply, 0, 60, 1), 4, "Timeout from server"},
        {"length over the limit", fault(CrateFault::LengthOverride, 0x7FFFFFF0), 3,
         "Reply length out of range"},
        {"wrong keyword", fault(CrateFault::WrongKeyword), -1, nullptr},
        {"crate status", refuse, 105, "Slot empty"},
    };
    const unsigned short all[] = {0, 1, 2, 3};
    for (const Case &c : cases) {
        ASSERT_EQ(open(), 0) << c.what;
        sim.addFault(c.fault);
        float v[4] = {};
        EXPECT_EQ(KORUHV_GetChParam(handle, 0, "V0Set", 4, all, v), c.rc) << c.what;
        if (c.message) {
            EXPECT_STREQ(KORUHV_GetError(handle), c.message) << c.what;
        }
        KORUHV_DeinitSystem(handle);
        handle = -1;
        sim.clearFaults();
    }
}

TEST_F(CrateSimTest, FailedLogoutStillFreesEverything)
{
    ASSERT_EQ(open(), 0);
    CrateFault f;
    f.keyword = "LOGOUT";
    f.status = 104;
    sim.addFault(f);
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 104);
    float v = 0;
    const unsigned short ch[] = {0};
    EXPECT_EQ(KORUHV_GetChParam(handle, 0, "V0Set", 1, ch, &v), KORUHV_ERR_NOT_OPEN);
    handle = -1;
    EXPECT_TRUE(koru_test::waitFor([&] { return sim.activeSessions() == 0; }))
        << "the connection was not closed";
}

TEST_F(CrateSimTest, EveryReplyCutShortIsAnError)
{
    // The crate's success message is "Command Ok": the data of a reply to
    // keyword k begins k + 20 bytes in.
    struct Case {
        const char *keyword;
        size_t intoData;
        int (*call)(int h);
    };
    static char results[2];
    // The map's lists, freed when the call handed them out.
    auto crateMap = [](int h) {
        unsigned short n, *c = nullptr;
        char *m = nullptr, *d = nullptr;
        unsigned *s = nullptr;
        unsigned char *a = nullptr, *b = nullptr;
        int rc = KORUHV_GetCrateMap(h, &n, &c, &m, &d, &s, &a, &b);
        for (void *p : {(void *)m, (void *)d, (void *)s, (void *)a, (void *)b})
            KORUHV_Free(p);
        return rc;
    };
    auto boardPresence = [](int h) {
        unsigned short ch, serial;
        char *m = nullptr, *d = nullptr;
        unsigned char a, b;
        int rc = KORUHV_TestBdPresence(h, 0, &ch, &m, &d, &serial, &a, &b);
        KORUHV_Free(m);
        KORUHV_Free(d);
        return rc;
    };
    const Case cases[] = {
        {"GETCRATEMAP", 5, crateMap},
        {"GETCRATEMAP", 80, crateMap}, // inside the serial-number tail
        {"GETSYSCOMP", 3, crateMap},
        {"TSTBDPRES", 4, boardPresence},
        {"GETSYSINFO", 40, boardPresence},
        {"GETCHNAME", 6,
         [](int h) {
             const unsigned short ch[] = {0, 1, 2};
             char names[3][KORUHV_CHANNEL_NAME_SIZE];
             return KORUHV_GetChName(h, 0, 3, ch, names);
         }},
        {"GETBDPARAM", 2,
         [](int h) {
             const unsigned short s[] = {0};
             float v;
             return KORUHV_GetBdParam(h, 1, s, "Temp", &v);
         }},
        {"GETHVPSM", 3,
         [](int h) {
             char t[koruhv::kSysPropTextSize];
             return KORUHV_GetSysProp(h, "HvPwSM", t);
         }},
        {"GETACTLOG", 5,
         [](int h) {
             char t[koruhv::kSysPropTextSize];
             return KORUHV_GetSysProp(h, "Sessions", t);
         }},
        {"NEWSUBSCRIBE", 5,
         [](int h) {
             results[0] = results[1] = 7;
             int rc = KORUHV_SubscribeSystemParams(h, 4400, "HVFanStat:IPAddr", 2, results);
             EXPECT_EQ(uint8_t(results[0]), 255);
             EXPECT_EQ(uint8_t(results[1]), 255);
             return rc;
         }},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(open(), 0) << c.keyword;
        CrateFault f;
        f.keyword = c.keyword;
        f.action = CrateFault::CutData;
        f.bytes = std::strlen(c.keyword) + 20 + c.intoData;
        sim.addFault(f);
        EXPECT_EQ(c.call(handle), 3) << c.keyword;
        EXPECT_STREQ(KORUHV_GetError(handle), "Malformed reply from server") << c.keyword;
        sim.clearFaults();
        KORUHV_DeinitSystem(handle);
        handle = -1;
    }
}

// A reply held back past the bound, one sent twice and one cut short,
// each by a proxy in front of the crate: every read after it returns its
// own channel's value, or fails, and never another request's value.
TEST_F(CrateSimTest, NoReplyIsTakenForALaterRequest)
{
    constexpr int kBoundMs = 1000;
    koruhv::CrateTransport_SetTimeoutsForTest(0, kBoundMs);
    koru_test::FaultProxy proxy(koru_test::FaultProxy::framedBigEndian, "127.0.0.2", sim.port());
    koruhv::CrateTransport_SetPortForTest(proxy.port());
    ASSERT_EQ(KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.3"), "admin", "admin", &handle), 0);
    cratetest::expectNoReplyTakenForALaterRequest(proxy, handle, kBoundMs, {4, "Timeout from server"},
                                                  {5, "KFE server down"}, 0);
}

// With a network's latency between library and crate, a copy of a reply
// that a proxy sends when the next request comes, or a timed-out reply it
// releases behind the resynchronisation's reply, arrives after the next
// request went out, where no look for waiting bytes can see it. Reads back
// to back: the shift the copy causes ends within kReplyCheckEvery reads (the
// first reads cannot tell the copy apart), within kReplyCheckLatest on a
// link without latency; after the late reply none is shifted.
TEST_F(CrateSimTest, AShiftOfTheReplyStreamEndsOverALatentLink)
{
    koruhv::CrateTransport_SetTimeoutsForTest(0, 1000);
    koru_test::FaultProxy proxy(koru_test::FaultProxy::framedBigEndian, "127.0.0.2", sim.port(), "127.0.0.4");
    koruhv::CrateTransport_SetPortForTest(proxy.port());
    cratetest::expectShiftsToEnd(
        proxy, 4,
        [&] {
            return KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.4"), "admin", "admin", &handle) == 0
                       ? handle
                       : -1;
        },
        [&](int h) {
            EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
            handle = -1;
        });
}
