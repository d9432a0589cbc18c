// The "$BD" dialect: address texts, request lines, reply parsing and value
// parts, on an instance of the L2290 family that never opens a link.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "modules/bd_dialect.h"
#include "modules/l2290_backend.h"

using namespace koruhv;

namespace {

struct Instance {
    TextInstance in;
    explicit Instance(int address)
    {
        in.family = &kL2290Family;
        in.params.moduleAddress = address;
    }
};

ParamRow row(unsigned type, unsigned digits, unsigned decimals, const char *on = "", const char *off = "")
{
    ParamRow r{};
    std::strcpy(r.name, "X");
    std::strcpy(r.mnemonic, "X");
    r.flags = TypeMode(type, PM_READWRITE);
    r.textDigits = static_cast<uint16_t>(digits);
    r.textDecimals = static_cast<uint16_t>(decimals);
    std::strcpy(r.onWord, on);
    std::strcpy(r.offWord, off);
    return r;
}

} // namespace

TEST(BdAddress, TcpAndSerialFieldsWithDefaults)
{
    LinkParams p;
    ASSERT_EQ(Bd_ParseAddress(kL2290Family, "TCP/IP", "10.0.0.5_7", &p), 0);
    EXPECT_EQ(p.kind, TEXT_LINK_TCP);
    EXPECT_EQ(p.ip, "10.0.0.5");
    EXPECT_EQ(p.moduleAddress, 7);

    LinkParams s;
    ASSERT_EQ(Bd_ParseAddress(kL2290Family, "USBVCP", "ttyUSB0", &s), 0);
    EXPECT_EQ(s.kind, TEXT_LINK_SERIAL);
    EXPECT_EQ(s.port, "ttyUSB0");
    EXPECT_EQ(s.baud, 9600);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.moduleAddress, 0);

    LinkParams f;
    ASSERT_EQ(Bd_ParseAddress(kL2290Family, "USBVCP", "pts/3_19200_7_2_1_5", &f), 0);
    EXPECT_EQ(f.port, "pts/3");
    EXPECT_EQ(f.baud, 19200);
    EXPECT_EQ(f.dataBits, 7);
    EXPECT_EQ(f.stopBits, 2);
    EXPECT_EQ(f.parity, 1);
    EXPECT_EQ(f.moduleAddress, 5);

    // A '_' at the end starts no field; one between two others gives 0.
    LinkParams t;
    ASSERT_EQ(Bd_ParseAddress(kL2290Family, "USBVCP", "ttyUSB0_", &t), 0);
    EXPECT_EQ(t.port, "ttyUSB0");
    EXPECT_EQ(t.baud, 9600);
    LinkParams e;
    ASSERT_EQ(Bd_ParseAddress(kL2290Family, "USBVCP", "ttyUSB0_19200__2", &e), 0);
    EXPECT_EQ(e.baud, 19200);
    EXPECT_EQ(e.dataBits, 0);
    EXPECT_EQ(e.stopBits, 2);
}

TEST(BdAddress, RefusesUnusableTexts)
{
    const char *bad[] = {"", "_5", "10.0.0.5_100", "10.0.0.5_-1",
                         "10.0.0.5_0000000000000000000000000000000000000000001"};
    for (const char *a : bad) {
        LinkParams p;
        EXPECT_EQ(Bd_ParseAddress(kL2290Family, "TCP/IP", a, &p), -1) << a;
    }
}

TEST(BdRequest, LinesOfMonitorSetAndAllChannels)
{
    Instance i(3);
    char out[128];
    ASSERT_EQ(Bd_BuildRequest(i.in, REQ_MONITOR, -1, "BDNAME", "", out, sizeof out), 0);
    EXPECT_STREQ(out, "$BD:03,CMD:MON,PAR:BDNAME\r\n");
    ASSERT_EQ(Bd_BuildRequest(i.in, REQ_SET, 1, "VSET", ",VAL:150.0", out, sizeof out), 0);
    EXPECT_STREQ(out, "$BD:03,CMD:SET,CH:1,PAR:VSET,VAL:150.0\r\n");
    ASSERT_EQ(Bd_BuildRequest(i.in, REQ_MONITOR, 4, "VMON", "", out, sizeof out), 0);
    EXPECT_STREQ(out, "$BD:03,CMD:MON,CH:4,PAR:VMON\r\n");
    char tiny[10];
    EXPECT_EQ(Bd_BuildRequest(i.in, REQ_MONITOR, -1, "BDNAME", "", tiny, sizeof tiny), -1);
}

TEST(BdReply, ValuesErrorsAndForeignAddresses)
{
    Instance seven(7), three(3);
    struct Case {
        Instance *in;
        const char *line;
        int rc;
        const char *value;
    } cases[] = {
        {&seven, "#BD:07,CMD:OK,VAL:12.5", 0, "12.5"},
        {&seven, "#BD:07,CMD:OK,VAL:1;2;3", 0, "1;2;3"},
        {&three, "#BD:07,CMD:OK,VAL:12.5", -1, ""}, // another module's reply
        {&seven, "#BD:07,CH:ERR", 2, ""},
        {&seven, "#BD:07,CMD:ERR", 1, ""},
        {&seven, "#BD:07,PAR:ERR", 3, ""},
        {&seven, "#BD:07,VAL:ERR", 4, ""},
        {&seven, "#BD:07,LOC:ERR", 5, ""},
        {&seven, "garbage", -1, ""},
        {&seven, "#BD:07,CMD:OK,VAL:", 0, ""},  // an empty value (its line end made the field long enough)
        {&seven, "#BD:07,CMD:OK,VA", -1, ""},   // third field too short
        {&seven, "#BD:7,CMD:OK,VAL:1", -1, ""}, // malformed head
        {&seven, "#BD:07,CMD:OK", -1, ""},
    };
    for (const Case &c : cases) {
        char value[64] = "junk";
        EXPECT_EQ(Bd_ParseReply(c.in->in, "X", c.line, value, sizeof value), c.rc) << c.line;
        EXPECT_STREQ(value, c.value) << c.line;
    }
    EXPECT_TRUE(Bd_IsOwnReply(seven.in, "#BD:07,CMD:OK"));
    EXPECT_FALSE(Bd_IsOwnReply(three.in, "#BD:07,CMD:OK"));
    EXPECT_TRUE(Bd_IsOwnReply(three.in, "noise"));
    EXPECT_EQ(Bd_SetResult(seven.in, "#BD:07,CMD:OK"), 0);
    EXPECT_EQ(Bd_SetResult(seven.in, "#BD:07,VAL:ERR"), 4);
    EXPECT_EQ(Bd_SetResult(seven.in, "???"), -1);
}

TEST(BdValuePart, ByRowType)
{
    char out[64];
    float f = 150.0f;
    ASSERT_TRUE(Bd_FormatValuePart(row(PT_NUMERIC, 4, 1), &f, out, sizeof out));
    EXPECT_STREQ(out, ",VAL:150.0");
    int32_t on = 1, off = 0, status = 42;
    ASSERT_TRUE(Bd_FormatValuePart(row(PT_ONOFF, 0, 0, "KILL", "RAMP"), &on, out, sizeof out));
    EXPECT_STREQ(out, ",VAL:KILL");
    ASSERT_TRUE(Bd_FormatValuePart(row(PT_ONOFF, 0, 0, "KILL", "RAMP"), &off, out, sizeof out));
    EXPECT_STREQ(out, ",VAL:RAMP");
    ASSERT_TRUE(Bd_FormatValuePart(row(PT_CHSTATUS, 0, 0), &status, out, sizeof out));
    EXPECT_STREQ(out, ",VAL:00042");
    ASSERT_TRUE(Bd_FormatValuePart(row(PT_TEXT, 0, 0), &status, out, sizeof out));
    EXPECT_STREQ(out, "");
    float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(Bd_FormatValuePart(row(PT_NUMERIC, 4, 1), &nan, out, sizeof out));
}
