// The L2290 backend through the public API against the module simulator:
// opening and link sharing, crate map and composition, parameter lists and
// properties, reads and writes of every parameter kind, commands, refusals,
// error replies, time-outs and bad replies.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "l2290_support.h"
#include "modules/l2290_backend.h"
#include "modules/text_engine.h"
#include "wait_progress.h"

using namespace l2290test;
using namespace std::chrono_literals;
using korusim::Fault;
using korusim::L2290Module;

namespace {

L2290Module module(int address, int channels = 4)
{
    L2290Module m = L2290Module::make(address, channels);
    m.firmware = "2.07";
    m.serial = 4711 + address;
    return m;
}

bool allRequestsBegin(const korusim::TextLinkSim &sim, const std::string &head)
{
    for (const auto &r : sim.requests())
        if (r.line.rfind(head, 0) != 0)
            return false;
    return true;
}

} // namespace

TEST_F(L2290Test, OpensOverTcpAndReportsIdentityAndComposition)
{
    startTcp({module(3, 4)});
    const int h = open("127.0.0.2_3");
    ASSERT_GE(h, 0);
    EXPECT_TRUE(allRequestsBegin(*sim, "$BD:03,")) << sim->lines().front();

    unsigned short slots = 0;
    unsigned short *channels = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors),
              0);
    EXPECT_EQ(slots, 1);
    EXPECT_EQ(channels[0], 4);
    EXPECT_STREQ(models, "L2290");
    EXPECT_STREQ(descriptions, "");
    EXPECT_EQ(serials[0], 4714u);
    EXPECT_EQ(majors[0], 2);
    EXPECT_EQ(minors[0], 7);
    for (void *p : {(void *)channels, (void *)models, (void *)descriptions, (void *)serials, (void *)minors,
                    (void *)majors})
        KORUHV_Free(p);

    unsigned short count = 0;
    char *model = nullptr, *description = nullptr;
    unsigned short serial;
    unsigned char minor, major;
    EXPECT_EQ(KORUHV_TestBdPresence(h, 0, &count, &model, &description, &serial, &minor, &major), 6);
    KORUHV_Free(model);
    KORUHV_Free(description);

    unsigned short props = 9;
    char *names = reinterpret_cast<char *>(1);
    EXPECT_EQ(KORUHV_GetSysPropList(h, &props, &names), 0);
    EXPECT_EQ(props, 0);
    EXPECT_EQ(names, nullptr);
    EXPECT_STREQ(KORUHV_GetError(h), "");
}

TEST_F(L2290Test, OpensOverAPseudoTerminalWithDefaultLineSettings)
{
    startPty({module(0, 2)});
    const int h = open(sim->ptyName(), kLinkUsbVcp);
    ASSERT_GE(h, 0);
    EXPECT_TRUE(allRequestsBegin(*sim, "$BD:00,"));
    EXPECT_EQ(setFloat(h, "VSet", 1, 321.5f), 0);
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 1), 321.5f);
    EXPECT_DOUBLE_EQ(sim->channel(0, 1).vset, 321.5);
}

TEST_F(L2290Test, UnreachableOrUnidentifiedUnitsDoNotOpen)
{
    startTcp({module(1)});
    int h = 7;
    char wrongAddress[] = "127.0.0.2_5"; // no module answers there
    EXPECT_EQ(KORUHV_InitSystem(kSystemType, kLinkTcp, wrongAddress, "", "", &h), 4100);
    EXPECT_EQ(h, -1);
    char badAddress[] = "127.0.0.2_123";
    EXPECT_EQ(KORUHV_InitSystem(kSystemType, kLinkTcp, badAddress, "", "", &h), 4100);
    char noPort[] = "ptsx/999";
    EXPECT_EQ(KORUHV_InitSystem(kSystemType, kLinkUsbVcp, noPort, "", "", &h), 4100);

    sim->withModule(1, [](L2290Module &m) { m.firmware = "7"; }); // BDFREL without major.minor
    char good[] = "127.0.0.2_1";
    EXPECT_EQ(KORUHV_InitSystem(kSystemType, kLinkTcp, good, "", "", &h), 4100);
    sim->addFault(Fault::silence("PAR:VDEC")); // a decimals query is required
    sim->withModule(1, [](L2290Module &m) { m.firmware = "1.0"; });
    EXPECT_EQ(KORUHV_InitSystem(kSystemType, kLinkTcp, good, "", "", &h), 4100);
    EXPECT_EQ(pollThreadCount(), 0);
    EXPECT_GE(open("127.0.0.2_1"), 0); // the unit itself is fine
}

// Two modules on one bus share one link; the link closes with the last one.
TEST_F(L2290Test, ModulesOnOneAddressShareOneConnection)
{
    startTcp({module(1), module(2)});
    const int a = open("127.0.0.2_1");
    const int b = open("127.0.0.2_2");
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    EXPECT_EQ(setFloat(a, "VSet", 0, 100.0f), 0);
    EXPECT_EQ(setFloat(b, "VSet", 0, 200.0f), 0);
    EXPECT_DOUBLE_EQ(sim->channel(1, 0).vset, 100.0);
    EXPECT_DOUBLE_EQ(sim->channel(2, 0).vset, 200.0);
    close(a);
    EXPECT_FLOAT_EQ(getFloat(b, "VSet", 0), 200.0f);
    EXPECT_EQ(sim->openConnections(), 1);
    const int c = open("127.0.0.2_1"); // joins the open link again
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    close(b);
    close(c);
    EXPECT_TRUE(koru_test::waitFor([&] { return sim->openConnections() == 0; }))
        << sim->openConnections() << " connections still open";
}

TEST_F(L2290Test, ModulesOnOnePseudoTerminalShareItsDescriptor)
{
    startPty({module(1, 2), module(2, 2)});
    const int a = open(sim->ptyName() + "_9600_8_0_0_1", kLinkUsbVcp);
    const int b = open(sim->ptyName() + "_9600_8_0_0_2", kLinkUsbVcp);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    close(a);
    EXPECT_EQ(setFloat(b, "VSet", 1, 55.0f), 0);
    EXPECT_DOUBLE_EQ(sim->channel(2, 1).vset, 55.0);
}

TEST_F(L2290Test, ParameterListsAndProperties)
{
    L2290Module m = module(0, 4);
    m.limits.vmax = 6000;
    m.limits.vdec = 2;
    m.limits.isdec = 3;
    startTcp({m});
    const int h = open("127.0.0.2_0");

    char *names = nullptr;
    ASSERT_EQ(KORUHV_GetBdParamInfo(h, 0, &names), 0);
    const char *board[] = {"IlkStat", "Interlock", "Control", "RTerm", "Alarm", "ClrAlarm", ""};
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(names + 10 * i, board[i]);
    KORUHV_Free(names);

    int count = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(h, 0, 3, &names, &count), 0);
    const char *chan[] = {"VSet", "VMon", "ISet", "ImonRange", "IMonL",    "IMonH", "MaxV", "RUp",
                          "RDwn", "Trip", "PDwn", "Polarity",  "ChStatus", "Pw",    ""};
    ASSERT_EQ(count, 14);
    for (int i = 0; i < 15; ++i)
        EXPECT_STREQ(names + 10 * i, chan[i]);
    KORUHV_Free(names);
    EXPECT_EQ(KORUHV_GetChParamInfo(h, 0, 4, &names, &count), 10);

    auto chF = [&](const char *p, const char *q) {
        float v = -1;
        EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, p, q, &v), 0) << p << q;
        return v;
    };
    auto ch16 = [&](const char *p, const char *q) {
        int16_t v = -99;
        EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, p, q, &v), 0) << p << q;
        return v;
    };
    auto ch32 = [&](const char *p, const char *q) {
        int32_t v = -99;
        EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, p, q, &v), 0) << p << q;
        return v;
    };
    EXPECT_FLOAT_EQ(chF("VSet", "Maxval"), 6000.0f); // the module's limit, not the table's
    EXPECT_FLOAT_EQ(chF("VSet", "Minval"), 0.0f);
    EXPECT_EQ(ch16("VSet", "Decimal"), 2);
    EXPECT_EQ(ch16("ISet", "Decimal"), 3);
    EXPECT_EQ(ch16("ISet", "Unit"), 1);
    EXPECT_EQ(ch16("ISet", "Exp"), -6);
    EXPECT_EQ(ch16("IMonH", "Decimal"), 2); // high range at open: IMDEC itself
    EXPECT_EQ(ch16("IMonL", "Decimal"), 4); // two more in the low range
    EXPECT_EQ(ch32("VSet", "Type"), 0);
    EXPECT_EQ(ch32("VSet", "Mode"), 2);
    EXPECT_EQ(ch32("Pw", "Type"), 1);
    EXPECT_EQ(ch32("ChStatus", "Type"), 2);
    EXPECT_EQ(ch32("VMon", "Mode"), 0);
    char text[128] = {};
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "Pw", "Onstate", text), 0);
    EXPECT_STREQ(text, "On");
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "PDwn", "Offstate", text), 0);
    EXPECT_STREQ(text, "Kill");
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "VSet", "Colour", text), 21);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "Nope", "Type", text), 22);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 4, "VSet", "Type", text), 10);
    // Another slot: the property is still written, the result says 10.
    int32_t type = -1;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "ChStatus", "Type", &type), 10);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "Nope", "Type", &type), 10);

    int32_t mode = -1;
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "ClrAlarm", "Mode", &mode), 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Interlock", "Onstate", text), 0);
    EXPECT_STREQ(text, "Closed");
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "VSet", "Type", &mode), 22); // a channel parameter
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 1, "Alarm", "Type", &mode), 10);
    EXPECT_EQ(mode, 3);

    unsigned short list[3] = {0, 3, 2};
    char chNames[3][KORUHV_CHANNEL_NAME_SIZE] = {};
    ASSERT_EQ(KORUHV_GetChName(h, 0, 3, list, chNames), 0);
    EXPECT_STREQ(chNames[0], "CH00");
    EXPECT_STREQ(chNames[1], "CH03");
    EXPECT_STREQ(chNames[2], "CH02");
    list[1] = 4;
    EXPECT_EQ(KORUHV_GetChName(h, 0, 3, list, chNames), 10);
    EXPECT_EQ(KORUHV_SetChName(h, 0, 1, list, "X"), 2);
}

// Limits the module does not report keep the table's; only its decimals
// are required.
TEST_F(L2290Test, UnansweredLimitQueriesKeepTheTableValues)
{
    L2290Module m = module(0, 2);
    m.limits.vmin = 100;
    m.limits.vmax = 6000;
    m.limits.vdec = 3;
    startTcp({m});
    sim->addFault(Fault::silence("PAR:VMIN$"));
    sim->addFault(Fault::errorReply("PAR:VMAX$", korusim::DeviceError::Par));
    const int h = open("127.0.0.2_0");
    float f = -1;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "VSet", "Minval", &f), 0);
    EXPECT_FLOAT_EQ(f, 0.0f);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "VSet", "Maxval", &f), 0);
    EXPECT_FLOAT_EQ(f, 8000.0f);
    int16_t d = -1;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "VSet", "Decimal", &d), 0);
    EXPECT_EQ(d, 3);
}

TEST_F(L2290Test, ReadsAndWritesOfEveryParameterKind)
{
    startTcp({module(4, 4)});
    sim->setTickPeriod(0ms); // physics moves only when the test says so
    const int h = open("127.0.0.2_4");

    // Numeric, formatted with the row's digits and decimals.
    sim->clearLog();
    EXPECT_EQ(setFloat(h, "VSet", 2, 1234.5f), 0);
    EXPECT_EQ(setFloat(h, "ISet", 2, 15.0f), 0);
    EXPECT_EQ(setFloat(h, "RUp", 2, 7.0f), 0);
    EXPECT_EQ(sim->lines("PAR:VSET"), std::vector<std::string>{"$BD:04,CMD:SET,CH:2,PAR:VSET,VAL:1234.5"});
    EXPECT_EQ(sim->lines("PAR:ISET"), std::vector<std::string>{"$BD:04,CMD:SET,CH:2,PAR:ISET,VAL:015.00"});
    EXPECT_EQ(sim->lines("PAR:RUP"), std::vector<std::string>{"$BD:04,CMD:SET,CH:2,PAR:RUP,VAL:007"});
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 2), 1234.5f);
    EXPECT_FLOAT_EQ(getFloat(h, "RUp", 2), 7.0f);

    // On/off rows travel as the device's words.
    EXPECT_EQ(setInt(h, "PDwn", 1, 0), 0); // 1 "RAMP", 0 "KILL"
    EXPECT_TRUE(sim->channel(4, 1).kill);
    EXPECT_EQ(getInt(h, "PDwn", 1), 0);
    EXPECT_EQ(setInt(h, "PDwn", 1, 1), 0);
    EXPECT_FALSE(sim->channel(4, 1).kill);
    EXPECT_EQ(getInt(h, "PDwn", 1), 1);
    sim->withModule(4, [](L2290Module &m) { m.channels[3].polarity = '-'; });
    EXPECT_EQ(getInt(h, "Polarity", 3), 1);
    EXPECT_EQ(getInt(h, "Polarity", 0), 0);

    // Board rows.
    EXPECT_EQ(setBoardInt(h, "Interlock", 1), 0);
    EXPECT_TRUE(sim->module(4).interlockClosed);
    EXPECT_EQ(getBoardInt(h, "Interlock"), 1);
    sim->withModule(4, [](L2290Module &m) {
        m.alarm = 0x103;
        m.termination = true;
    });
    EXPECT_EQ(getBoardInt(h, "Alarm"), 0x103);
    EXPECT_EQ(getBoardInt(h, "RTerm"), 1);
    EXPECT_EQ(getBoardInt(h, "Control"), 0);
    EXPECT_EQ(getBoardInt(h, "IlkStat"), 0);

    // Switching: on, then off, which must reach the module as a command.
    sim->clearLog();
    EXPECT_EQ(setInt(h, "Pw", 0, 1), 0);
    EXPECT_TRUE(sim->channel(4, 0).on);
    EXPECT_EQ(getInt(h, "Pw", 0), 1);
    EXPECT_EQ(setInt(h, "Pw", 0, 0), 0);
    EXPECT_FALSE(sim->channel(4, 0).on);
    EXPECT_EQ(sim->lines("CMD:SET"),
              (std::vector<std::string>{"$BD:04,CMD:SET,CH:0,PAR:ON", "$BD:04,CMD:SET,CH:0,PAR:OFF"}));
    // Status word and the switch derived from it: ramping down reads off.
    sim->setExtraStatus(4, 1, 1u | 4u);
    EXPECT_EQ(getInt(h, "ChStatus", 1), 5);
    EXPECT_EQ(getInt(h, "Pw", 1), 0);

    // Several channels in one call, values at their list positions.
    unsigned short list[3] = {3, 0, 2};
    float v[3] = {11.0f, 22.0f, 33.0f};
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "VSet", 3, list, v), 0);
    float back[3] = {};
    ASSERT_EQ(KORUHV_GetChParam(h, 0, "VSet", 3, list, back), 0);
    EXPECT_FLOAT_EQ(back[0], 11.0f);
    EXPECT_FLOAT_EQ(back[1], 22.0f);
    EXPECT_FLOAT_EQ(back[2], 33.0f);
}

TEST_F(L2290Test, CurrentRangeDecidesWhichMonitorIsRead)
{
    startTcp({module(0, 2)});
    sim->setTickPeriod(0ms);
    const int h = open("127.0.0.2_0");
    sim->setMonitored(0, 1, 500.0, 12.34);

    sim->clearLog();
    EXPECT_FLOAT_EQ(getFloat(h, "IMonL", 1), 0.0f); // high range: no request
    EXPECT_EQ(sim->requestCount("PAR:IMON"), 0u);
    EXPECT_NEAR(getFloat(h, "IMonH", 1), 12.34f, 0.01f);

    EXPECT_EQ(setInt(h, "ImonRange", 1, 1), 0);
    EXPECT_TRUE(sim->channel(0, 1).lowRange);
    EXPECT_NEAR(getFloat(h, "IMonL", 1), 12.34f, 0.0001f);
    EXPECT_FLOAT_EQ(getFloat(h, "IMonH", 1), 0.0f);
    EXPECT_FLOAT_EQ(getFloat(h, "IMonL", 0), 0.0f); // channel 0 is still in the high range

    // A read of the range updates what the backend knows.
    sim->withModule(0, [](L2290Module &m) { m.channels[0].lowRange = true; });
    EXPECT_EQ(getInt(h, "ImonRange", 0), 1);
    EXPECT_NEAR(getFloat(h, "IMonL", 0), 0.0f, 0.001f);
    EXPECT_GT(sim->requestCount("CH:0,PAR:IMON"), 0u);
}

TEST_F(L2290Test, CommandsAndRefusals)
{
    startTcp({module(0, 4)});
    const int h = open("127.0.0.2_0");

    unsigned short n = 0;
    char *list = nullptr;
    ASSERT_EQ(KORUHV_GetExecCommList(h, &n, &list), 0);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(list, "ClrAlarm");
    KORUHV_Free(list);

    sim->withModule(0, [](L2290Module &m) { m.alarm = 0x100; });
    sim->clearLog();
    EXPECT_EQ(KORUHV_ExecComm(h, "ClrAlarm"), 0);
    EXPECT_EQ(sim->lines(), std::vector<std::string>{"$BD:00,CMD:SET,PAR:BDCLR"});
    EXPECT_EQ(KORUHV_ExecComm(h, "VSet"), 22);
    EXPECT_EQ(KORUHV_ExecComm(h, "Nope"), 22);
    sim->clearLog();
    EXPECT_EQ(setBoardInt(h, "ClrAlarm", 0), 0); // 0 means nothing to clear
    EXPECT_EQ(sim->requestCount(), 0u);
    EXPECT_EQ(setBoardInt(h, "ClrAlarm", 1), 0);
    EXPECT_EQ(sim->lines(), std::vector<std::string>{"$BD:00,CMD:SET,PAR:BDCLR"});

    struct Case {
        const char *what;
        int got, want;
    } cases[] = {
        {"set read-only channel row", setInt(h, "Polarity", 0, 1), 3},
        {"set read-only board row", setBoardInt(h, "IlkStat", 1), 2},
        {"read command row",
         [&] {
             int rc;
             getBoardInt(h, "ClrAlarm", &rc);
             return rc;
         }(),
         3},
        {"unknown channel parameter",
         [&] {
             int rc;
             getFloat(h, "Nope", 0, &rc);
             return rc;
         }(),
         22},
        {"unknown board parameter", setBoardInt(h, "Nope", 1), 22},
        {"channel beyond the count",
         [&] {
             int rc;
             getFloat(h, "VSet", 4, &rc);
             return rc;
         }(),
         10},
        {"set channel beyond the count", setFloat(h, "VSet", 7, 1.0f), 10},
        {"slot 1",
         [&] {
             unsigned short ch = 0;
             float v;
             return KORUHV_GetChParam(h, 1, "VSet", 1, &ch, &v);
         }(),
         10},
        {"board slot 1",
         [&] {
             unsigned short slot = 1;
             int32_t v;
             return KORUHV_GetBdParam(h, 1, &slot, "Alarm", &v);
         }(),
         10},
        {"value that cannot be sent", setFloat(h, "VSet", 0, std::numeric_limits<float>::infinity()), 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
}

// Errors, time-outs and bad replies, then a reply that comes after its
// request gave up: never taken for the next request's answer.
class L2290LinkTest : public L2290Test, public ::testing::WithParamInterface<bool> {
protected:
    int openOnLink(int address)
    {
        const bool pty = GetParam();
        if (pty) {
            startPty({module(address, 2)});
            return open(sim->ptyName() + "_9600_8_0_0_" + std::to_string(address), kLinkUsbVcp);
        }
        startTcp({module(address, 2)});
        return open("127.0.0.2_" + std::to_string(address));
    }
};

TEST_P(L2290LinkTest, DeviceErrorsTimeOutsAndBadReplies)
{
    const int h = openOnLink(2);
    sim->setTickPeriod(0ms);
    sim->setMonitored(2, 0, 42.5, 1.0);

    sim->setLocal(2, true); // the module refuses every set
    EXPECT_EQ(setFloat(h, "VSet", 0, 10.0f), 2);
    sim->setLocal(2, false);
    EXPECT_EQ(setFloat(h, "VSet", 0, 9000.0f), 2); // beyond the module's limit

    struct Case {
        const char *what;
        Fault fault;
        int want;
    } cases[] = {
        {"error reply", Fault::errorReply("PAR:VMON", korusim::DeviceError::Par), 3},
        {"no reply", Fault::silence("PAR:VMON"), 3},
        {"reply cut short", Fault::halfLineThenSilence("PAR:VMON"), 3},
        {"another module's reply", Fault::wrongAddress("PAR:VMON", 5), 3},
        {"garbage", Fault::malformed("PAR:VMON", "#BD:02,CMD:OK,VAL\r\n"), 3},
        {"swapped line end", Fault::swappedLineEnd("PAR:VMON"), 0},
        {"reply in pieces", Fault::split("PAR:VMON", 3, 100), 0},
    };
    for (const Case &c : cases) {
        sim->clearFaults();
        sim->addFault(c.fault);
        int rc = -1;
        const float v = getFloat(h, "VMon", 0, &rc);
        EXPECT_EQ(rc, c.want) << c.what;
        if (c.want == 0) {
            EXPECT_FLOAT_EQ(v, 42.5f) << c.what;
        }
        // The next request gets its own answer, not a late one.
        sim->clearFaults();
        EXPECT_FLOAT_EQ(getFloat(h, "VSet", 0), 0.0f) << c.what;
    }
}

TEST_P(L2290LinkTest, ALateReplyIsNotTakenForTheNextAnswer)
{
    const int h = openOnLink(0);
    sim->setTickPeriod(0ms);
    sim->setMonitored(0, 0, 777.0, 1.0);
    EXPECT_EQ(setFloat(h, "VSet", 0, 100.0f), 0);

    sim->addFault(Fault::late("PAR:VMON", 1400));
    int rc = 0;
    getFloat(h, "VMon", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 0), 100.0f); // not the 777 that came late
}

INSTANTIATE_TEST_SUITE_P(Links, L2290LinkTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) { return i.param ? "Pty" : "Tcp"; });

TEST_F(L2290Test, NumbersOnTheWireIgnoreTheLocale)
{
    // A locale with a decimal comma, built for this test.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("l2290-locale-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string cmd =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
        std::filesystem::remove_all(dir);
        GTEST_SKIP() << "no locale with a decimal comma can be built here";
    }
    ::setenv("LOCPATH", dir.c_str(), 1);
    const char *set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!set) {
        std::filesystem::remove_all(dir);
        GTEST_SKIP() << "the built locale cannot be used";
    }
    char check[16];
    std::snprintf(check, sizeof check, "%.1f", 1.5);
    EXPECT_STREQ(check, "1,5");

    startTcp({module(0, 2)});
    sim->setTickPeriod(0ms);
    const int h = open("127.0.0.2_0");
    sim->clearLog();
    EXPECT_EQ(setFloat(h, "VSet", 1, 12.5f), 0);
    EXPECT_EQ(sim->lines("PAR:VSET"), std::vector<std::string>{"$BD:00,CMD:SET,CH:1,PAR:VSET,VAL:012.5"});
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 1), 12.5f);

    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
    std::filesystem::remove_all(dir);
}

// Open with the shipped pauses (1 s after the TCP connect, 100 ms per row).
TEST_F(L2290Test, OpensWithTheShippedTiming)
{
    koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
    startTcp({module(0, 1)});
    const int h = open("127.0.0.2_0");
    EXPECT_EQ(setFloat(h, "VSet", 0, 5.0f), 0);
}

TEST_F(L2290Test, AUnitWithMoreChannelsThanTheTablesServesTheFirstEight)
{
    startTcp({module(0, 10)});
    sim->setTickPeriod(0ms);
    const int h = open("127.0.0.2_0");
    uint8_t crates = 0;
    unsigned short slots = 0;
    unsigned short *channels = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    (void)crates;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors),
              0);
    EXPECT_EQ(channels[0], 8);
    for (void *p : {(void *)channels, (void *)models, (void *)descriptions, (void *)serials, (void *)minors,
                    (void *)majors})
        KORUHV_Free(p);
    int rc = 0;
    getFloat(h, "VSet", 8, &rc);
    EXPECT_EQ(rc, 10);
    sim->setMonitored(0, 7, 70.0, 0.7);
    sim->setMonitored(0, 8, 80.0, 0.8);
    EXPECT_FLOAT_EQ(getFloat(h, "VMon", 7), 70.0f);

    // Polling asks for all ten channels and reports the eighth.
    EventServer server;
    char result[1];
    ASSERT_EQ(KORUHV_SubscribeChannelParams(h, server.apiPort(), 0, 7, "VMon", 1, result), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    const Batch b = EventServer::read(fd);
    ASSERT_EQ(b.rc, 0);
    ASSERT_EQ(b.records.size(), 1u);
    EXPECT_EQ(b.records[0].channel, 7);
    EXPECT_FLOAT_EQ(b.records[0].value.FloatValue, 70.0f);
    EXPECT_GT(sim->requestCount("CH:10,PAR:VMON"), 0u);
}

TEST_F(L2290Test, TheInstanceTableHoldsThirtyTwoSystems)
{
    std::vector<L2290Module> modules;
    for (int a = 0; a < 33; ++a)
        modules.push_back(module(a, 1));
    startTcp(modules);
    for (int a = 0; a < 32; ++a)
        ASSERT_GE(open("127.0.0.2_" + std::to_string(a)), 0) << a;
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    int h = 0;
    char last[] = "127.0.0.2_32";
    EXPECT_EQ(KORUHV_InitSystem(kSystemType, kLinkTcp, last, "", "", &h), 4100);
    close(handles.front());
    EXPECT_GE(open(last), 0);
}

// Closes out of order and then uses the remaining links from several
// threads at once: each link keeps its own lock, so requests never mix.
TEST_F(L2290Test, LinkLocksSurviveOutOfOrderClosesAndKeepRequestsApart)
{
    startTcp({module(1, 2), module(2, 2)});
    korusim::L2290Sim other({module(3, 2)});
    ASSERT_TRUE(other.startPty());
    const int a = open("127.0.0.2_1");
    const int b = open("127.0.0.2_2"); // shares a's connection
    close(a);
    const int c = open(other.ptyName() + "_9600_8_0_0_3", kLinkUsbVcp); // a new link in a's place
    const int d = open("127.0.0.2_1");                                  // joins b's connection again
    EventServer server;
    ASSERT_EQ(
        KORUHV_SubscribeChannelParams(b, server.apiPort(), 0, 0, "VMon", 1, std::array<char, 1>{}.data()), 0);

    sim->setMonitored(2, 1, 222.0, 2.0);
    sim->setMonitored(1, 1, 111.0, 1.0);
    other.setMonitored(3, 1, 333.0, 3.0);
    std::atomic<int> wrong{0};
    auto hammer = [&](int h, float want) {
        for (int i = 0; i < 40; ++i) {
            unsigned short ch = 1;
            float v = 0;
            if (KORUHV_GetChParam(h, 0, "VMon", 1, &ch, &v) != 0 || v != want)
                ++wrong;
        }
    };
    std::thread t1(hammer, b, 222.0f), t2(hammer, c, 333.0f), t3(hammer, d, 111.0f);
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(other.violations().empty());
    close(b);
    close(c);
    close(d);
    other.stop();
}

TEST_F(L2290Test, ResettingTheInstanceTableStopsEverything)
{
    startTcp({module(0, 2)});
    const int h = open("127.0.0.2_0");
    EventServer server;
    char result[1];
    ASSERT_EQ(KORUHV_SubscribeChannelParams(h, server.apiPort(), 0, 0, "VMon", 1, result), 0);
    const int fd = server.accept(kWait, nullptr);
    ASSERT_GE(fd, 0);
    koruhv::L2290_ResetInstances();
    EXPECT_EQ(pollThreadCount(), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
    int rc = 0;
    getFloat(h, "VSet", 0, &rc);
    EXPECT_EQ(rc, 4098); // the backend knows the instance no more
}
