// Family 0 through the public API against the first-generation crate
// simulator over loopback TCP, with its events as UDP datagrams.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "KORUHVWrapper.h"
#include "crate/crate_transport.h"
#include "crate/hx1100_backend.h"
#include "crate/hx1100_sim.h"
#include "crate_test_util.h"

using korusim::Hx1100Model;
using korusim::Hx1100Sim;

namespace {

struct Fixture {
    Hx1100Sim sim;
    int h = -1;
    explicit Fixture(const char *addr) : sim(Hx1100Model::smallCrate(), addr)
    {
        EXPECT_TRUE(sim.start()) << sim.errorText();
        koruhv::CrateTransport_SetPortForTest(sim.port());
        EXPECT_EQ(KORUHV_InitSystem(0, 0, const_cast<char *>(addr), "admin", "admin", &h), 0);
    }
    ~Fixture()
    {
        if (h >= 0)
            KORUHV_DeinitSystem(h);
        koruhv::CrateTransport_SetPortForTest(0);
        EXPECT_TRUE(sim.protocolErrors().empty()) << sim.protocolErrors().front();
    }
};

} // namespace

TEST(Hx1100Sim, LoginMapParametersAndProperties)
{
    Fixture f("127.0.0.60");
    ASSERT_GE(f.h, 0);
    unsigned short slots = 0, *counts = nullptr;
    char *models = nullptr, *descs = nullptr;
    unsigned *serials = nullptr;
    unsigned char *mi = nullptr, *ma = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(f.h, &slots, &counts, &models, &descs, &serials, &mi, &ma), 0);
    EXPECT_EQ(slots, 4);
    EXPECT_EQ(counts[0], 4);
    EXPECT_EQ(counts[1], 0);
    EXPECT_EQ(counts[2], 3);
    for (void *p : {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
        KORUHV_Free(p);

    unsigned short ch[] = {1};
    float v = 123.4f;
    ASSERT_EQ(KORUHV_SetChParam(f.h, 0, "V0Set", 1, ch, &v), 0) << KORUHV_GetError(f.h);
    EXPECT_NEAR(*f.sim.channelValue(0, 1, "V0Set"), 123.4, 0.05);
    float back = 0;
    ASSERT_EQ(KORUHV_GetChParam(f.h, 0, "V0Set", 1, ch, &back), 0);
    EXPECT_NEAR(back, 123.4f, 0.05f);

    unsigned short n = 0;
    char *names = nullptr;
    ASSERT_EQ(KORUHV_GetSysPropList(f.h, &n, &names), 0);
    const char *p = names;
    for (unsigned i = 0; i < n; ++i, p += std::strlen(p) + 1) {
        unsigned mode = 0, type = 0;
        ASSERT_EQ(KORUHV_GetSysPropInfo(f.h, p, &mode, &type), 0) << p;
        char value[KORUHV_SYSPROP_TEXT_SIZE] = {};
        EXPECT_EQ(KORUHV_GetSysProp(f.h, p, value), 0) << p << ": " << KORUHV_GetError(f.h);
    }
    KORUHV_Free(names);
    char text[KORUHV_SYSPROP_TEXT_SIZE];
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "HvPwSM", text), 0);
    EXPECT_STREQ(text, "1:2:3:4:5");
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "FanStat", text), 0);
    EXPECT_STREQ(text, "1:2400:1:2450:1:2370"); /* every fan turns */
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "ModelName", text), 0);
    EXPECT_STREQ(text, "HX1100");
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "SymbolicName", text), 0);
    EXPECT_STREQ(text, "crate-one");
    int16_t clk = 0;
    ASSERT_EQ(KORUHV_GetSysProp(f.h, "ClkFreq", &clk), 0);
    EXPECT_EQ(clk, -20);
    ASSERT_EQ(KORUHV_SetSysProp(f.h, "RS232Par", const_cast<char *>("19200_8_1_0")), 0);
    EXPECT_EQ(*f.sim.sysProp("RS232Par"), "19200_8_1_0");
    EXPECT_EQ(KORUHV_ExecComm(f.h, "Kill"), 0) << KORUHV_GetError(f.h);
    EXPECT_EQ(KORUHV_ExecComm(f.h, "Format"), 11);
}

TEST(Hx1100Sim, SubscribedChangesArriveAsDatagrams)
{
    Fixture f("127.0.0.61");
    ASSERT_GE(f.h, 0);
    cratetest::DatagramReceiver receiver;
    ASSERT_TRUE(receiver.bound);
    const int rx = receiver.fd;
    const short port = receiver.port();

    char res[2] = {9, 9};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(f.h, port, 0, 2, "V0Set:Nothing", 2, res), 0);
    EXPECT_EQ(uint8_t(res[0]), 0);
    EXPECT_NE(uint8_t(res[1]), 0);
    ASSERT_EQ(KORUHV_SubscribeSystemParams(f.h, port, "HvPwSM", 1, res), 0);
    EXPECT_EQ(res[0], 0);
    f.sim.setChannelValue(0, 2, "V0Set", 55.5);
    koruhv::HX1100_SetEventTimeoutForTest(3000);
    bool seenValue = false, seenProp = false;
    for (int i = 0; i < 40 && !(seenValue && seenProp); ++i) {
        OldEventRecord *ev = nullptr;
        int n = 0;
        int rc = KORUHVGetEventData(rx, &ev, &n);
        ASSERT_EQ(rc, 0);
        for (int k = 0; k < n; ++k) {
            std::string name = ev[k].itemName;
            if (name.find("CHAN002.V0Set") != std::string::npos) {
                float fv;
                std::memcpy(&fv, ev[k].value, 4);
                if (std::abs(fv - 55.5f) < 0.05f)
                    seenValue = true;
            }
            if (name.find(".HvPwSM") != std::string::npos && std::string(ev[k].textValue) == "1:2:3:4:5")
                seenProp = true;
        }
        KORUHVFreeEventData(&ev);
    }
    koruhv::HX1100_SetEventTimeoutForTest(0);
    EXPECT_TRUE(seenValue);
    EXPECT_TRUE(seenProp);
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(f.h, port, 0, 2, "V0Set", 1, res), 0);
    ASSERT_EQ(KORUHV_UnSubscribeSystemParams(f.h, port, "HvPwSM", 1, res), 0);
    EXPECT_TRUE(f.sim.subscriptions().empty());
}

TEST(Hx1100Sim, WrongPasswordIsAnOpenFailure)
{
    Hx1100Sim sim(Hx1100Model::smallCrate(), "127.0.0.62");
    ASSERT_TRUE(sim.start());
    koruhv::CrateTransport_SetPortForTest(sim.port());
    int h = -1;
    EXPECT_EQ(KORUHV_InitSystem(1, 0, const_cast<char *>("127.0.0.62"), "admin", "nope", &h),
              KORUHV_ERR_OPEN_FAILED);
    EXPECT_EQ(h, -1);
    koruhv::CrateTransport_SetPortForTest(0);
}

TEST(Hx1100Sim, FaultyDatagramsGive23)
{
    Fixture f("127.0.0.63");
    ASSERT_GE(f.h, 0);
    cratetest::DatagramReceiver receiver;
    ASSERT_TRUE(receiver.bound);
    const int rx = receiver.fd;
    const short port = receiver.port();
    char res[1];
    ASSERT_EQ(KORUHV_SubscribeChannelParams(f.h, port, 0, 0, "V0Set", 1, res), 0);
    koruhv::HX1100_SetEventTimeoutForTest(3000);
    using E = korusim::EventFault;
    for (E::Action action : {E::WrongTotalLength, E::BadItemMarker}) {
        // Let the first value of the subscription pass, then spoil the next.
        E fault;
        fault.action = action;
        f.sim.addEventFault(fault);
        f.sim.setChannelValue(0, 0, "V0Set", 10.0 + int(action));
        int rc = 0;
        for (int i = 0; i < 10 && rc == 0; ++i) {
            OldEventRecord *ev = nullptr;
            int n = 0;
            rc = KORUHVGetEventData(rx, &ev, &n);
            KORUHVFreeEventData(&ev);
        }
        EXPECT_EQ(rc, 23) << int(action);
        f.sim.clearFaults();
    }
    koruhv::HX1100_SetEventTimeoutForTest(0);
}
