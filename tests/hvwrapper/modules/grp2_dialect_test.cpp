// The second-group dialects on their own: request texts, value parts, reply
// and description parsing, without a device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "modules/l5026_backend.h"
#include "modules/trixhv_dialect.h"
#include "modules/zorn_backend.h"

using namespace koruhv;

namespace {

ParamRow row(const char *name, int type, int mode, int digits = 0, int decimals = 0, const char *on = "",
             const char *off = "")
{
    ParamRow r{};
    std::strcpy(r.name, name);
    std::strcpy(r.mnemonic, name);
    r.flags = TypeMode(type, mode);
    r.textDigits = static_cast<uint16_t>(digits);
    r.textDecimals = static_cast<uint16_t>(decimals);
    std::strcpy(r.onWord, on);
    std::strcpy(r.offWord, off);
    return r;
}

struct ValueCase {
    ParamRow row;
    float f;
    int32_t i;
    const char *expect; // null: refused
};

template <typename Fmt> void checkValues(const ValueCase *cases, size_t n, Fmt fmt)
{
    for (size_t k = 0; k < n; ++k) {
        const ValueCase &c = cases[k];
        char out[256];
        const void *value = c.row.type() == PT_NUMERIC ? static_cast<const void *>(&c.f) : &c.i;
        const bool ok = fmt(c.row, value, out, sizeof out);
        if (!c.expect)
            EXPECT_FALSE(ok) << k;
        else
            EXPECT_TRUE(ok && std::string(out) == c.expect) << k << ": " << out;
    }
}

} // namespace

TEST(L5x26Dialect, ValuePartByType)
{
    const ValueCase cases[] = {
        {row("FGAIN", PT_NUMERIC, 2, 1), 12.7f, 0, ",VAL:13"}, // whole numbers only
        {row("FGAIN", PT_NUMERIC, 2, 1), 0.2f, 0, ",VAL:0"},
        {row("OFF", PT_NUMERIC, 2, 0), 200.0f, 0, ",VAL:200"},
        {row("THR", PT_NUMERIC, 2, 4), 42.0f, 0, ",VAL:0042"},
        {row("THR", PT_NUMERIC, 2, 1), 1.0f / 0.0f, 0, nullptr},
        {row("POL", PT_ONOFF, 2), 0, 1, ",VAL:1"},
        {row("SHAPE", PT_ENUM, 2), 0, 4, ",VAL:4"},
        {row("ST", PT_CHSTATUS, 2), 0, 7, ",VAL:00007"},
        {row("NAME", PT_TEXT, 0), 0, 0, ""},
    };
    checkValues(cases, std::size(cases), L5x26_FormatValue);
}

TEST(TrixhvDialect, ValuePartByType)
{
    const char text[] = "abc";
    char out[64];
    const ValueCase cases[] = {
        {row("VSET", PT_NUMERIC, 2, 4, 1), 15.0f, 0, ",VAL:015.0"},
        {row("VSET", PT_NUMERIC, 2, 4, 1), 150.0f, 0, ",VAL:150.0"},
        {row("ISET", PT_NUMERIC, 2, 4, 2), 3.25f, 0, ",VAL:003.25"}, // "%06.2f",
        {row("PDWN", PT_ONOFF, 2, 0, 0, "KILL", "RAMP"), 0, 1, ",VAL:KILL"},
        {row("PDWN", PT_ONOFF, 2, 0, 0, "KILL", "RAMP"), 0, 0, ",VAL:RAMP"},
        {row("STAT", PT_BDSTATUS, 2), 0, 12, ",VAL:00012"},
        {row("X", PT_ENUM, 2), 0, 3, ""},
    };
    checkValues(cases, std::size(cases), Trixhv_FormatValue);
    ASSERT_TRUE(Trixhv_FormatValue(row("TXT", PT_TEXT, 2), text, out, sizeof out));
    EXPECT_STREQ(out, ",VAL:abc");
    // Separators of the protocol cannot travel inside a value.
    EXPECT_FALSE(Trixhv_FormatValue(row("TXT", PT_TEXT, 2), "a,b", out, sizeof out));
    EXPECT_FALSE(Trixhv_FormatValue(row("TXT", PT_TEXT, 2), "a\r\nPAR:X", out, sizeof out));
}

TEST(TrixhvDialect, RequestHeads)
{
    TextInstance tcp;
    tcp.params.kind = TEXT_LINK_TCP;
    tcp.params.moduleAddress = -1;
    tcp.rows.push_back(row("VSET", PT_NUMERIC, 2, 4, 1));
    tcp.rows.push_back(row("bdclr", PT_ONOFF, 1, 0, 0, "ON", "OFF"));
    TextInstance bus;
    bus.params.kind = TEXT_LINK_SERIAL;
    bus.params.moduleAddress = 3;
    bus.rows = tcp.rows;
    TextInstance serialNoBus;
    serialNoBus.params.kind = TEXT_LINK_SERIAL;
    serialNoBus.params.moduleAddress = -1;

    const float v = 15.0f;
    const int32_t one = 1;
    struct Case {
        const TextInstance *in;
        RequestKind kind;
        int channel;
        const char *name;
        const void *value;
        const char *expect;
    } cases[] = {
        {&tcp, REQ_MONITOR, -1, "BDNAME", nullptr, "$CMD:MON,PAR:BDNAME\r\n"},
        {&tcp, REQ_INFO, 2, "VSET", nullptr, "$CMD:INFO,CH:2,PAR:VSET\r\n"},
        {&tcp, REQ_SET, 1, "VSET", &v, "$CMD:SET,CH:1,PAR:VSET,VAL:015.0\r\n"},
        {&tcp, REQ_SET, -1, "bdclr", &one, "$CMD:SET,PAR:bdclr\r\n"}, // BDCLR in any case: no value
        {&tcp, REQ_SET, -1, "UNKNOWN", &one, "$CMD:SET,PAR:UNKNOWN\r\n"},
        {&bus, REQ_MONITOR, 0, "VMON", nullptr, "$BD:3,CMD:MON,CH:0,PAR:VMON\r\n"},
        {&serialNoBus, REQ_MONITOR, -1, "BDNCH", nullptr, "$CMD:MON,PAR:BDNCH\r\n"},
    };
    for (const Case &c : cases) {
        char out[256];
        ASSERT_EQ(Trixhv_BuildRequest(*c.in, c.kind, c.channel, c.name, c.value, out, sizeof out), 0)
            << c.expect;
        EXPECT_STREQ(out, c.expect);
    }
    const int32_t zero = 0;
    EXPECT_TRUE(Trixhv_SkipSet("ON", &zero));
    EXPECT_TRUE(Trixhv_SkipSet("OFF", &zero));
    EXPECT_FALSE(Trixhv_SkipSet("ON", &one));
    EXPECT_FALSE(Trixhv_SkipSet("on", &zero));
}

TEST(TrixhvDialect, Replies)
{
    TextInstance in;
    struct Case {
        const char *line;
        int rc;
        const char *value;
    } cases[] = {
        {"#CMD:OK,VAL:12.5", 0, "12.5"},
        {"#CMD:OK,VAL:a;b;c", 0, "a;b;c"},
        {"#CMD:OK,XYZ:7:8", 0, "7"}, // whatever label, up to the next ':'
        {"#CMD:ERR,PAR:ERR", 1, ""}, // the command head names CMD
        {"#CH:ERR", 2, ""},
        {"#CMD:OK", -1, ""},        // no value
        {"#XCMD:OK,VAL:1", -1, ""}, // head of 8 characters
        {"#CMD:OKAY,VAL:1", -1, ""},
        {"#CMD:OK,VAL", -1, ""},
    };
    for (const Case &c : cases) {
        char value[64] = "junk";
        EXPECT_EQ(Trixhv_ParseReply(in, "X", c.line, value, sizeof value), c.rc) << c.line;
        if (c.rc == 0) {
            EXPECT_STREQ(value, c.value) << c.line;
        }
    }
    char tiny[3];
    EXPECT_EQ(Trixhv_ParseReply(in, "X", "#CMD:OK,VAL:12.5", tiny, sizeof tiny), -1); // does not fit
    EXPECT_EQ(Trixhv_SetResult(in, "#CMD:OK"), 0);
    EXPECT_EQ(Trixhv_SetResult(in, "#CMD:ERR,LOC:ERR"), 1);
    EXPECT_EQ(Trixhv_SetResult(in, "garbage"), -1);
}

TEST(TrixhvDialect, OnlyOnOrOffWithZeroIsSkipped)
{
    const int32_t zero = 0, one = 1;
    EXPECT_TRUE(Trixhv_SkipSet("ON", &zero));
    EXPECT_TRUE(Trixhv_SkipSet("OFF", &zero));
    EXPECT_FALSE(Trixhv_SkipSet("ON", &one));
    EXPECT_FALSE(Trixhv_SkipSet("on", &zero));
    EXPECT_FALSE(Trixhv_SkipSet("VSET", &zero));
    // A text value shorter than 4 bytes is not read past its end.
    const char shortText[2] = "A";
    EXPECT_FALSE(Trixhv_SkipSet("BDLABEL", shortText));
}

TEST(TrixhvDialect, DescriptionRecords)
{
    TrixhvDescription d;
    ASSERT_EQ(Trixhv_ParseInfo("0;2;0;3000;1;1;0;volt;;", &d), 0);
    EXPECT_EQ(d.type, 0);
    EXPECT_EQ(d.mode, 2);
    EXPECT_EQ(d.minimum, 0.0f);
    EXPECT_EQ(d.maximum, 3000.0f);
    EXPECT_EQ(d.integerDigits, 4);
    EXPECT_EQ(d.decimals, 1);
    EXPECT_EQ(d.spare, 1);
    EXPECT_EQ(d.unit, 2);
    EXPECT_STREQ(d.onText, "");

    ASSERT_EQ(Trixhv_ParseInfo("1;2;0;1;0;0;0;;KILL;RAMP", &d), 0);
    EXPECT_EQ(d.type, 1);
    EXPECT_STREQ(d.onText, "KILL");
    EXPECT_STREQ(d.offText, "RAMP");
    ASSERT_EQ(Trixhv_ParseInfo("0;0;-1.5;0.5;2;0;-6;ampere;;", &d), 0);
    EXPECT_EQ(d.integerDigits, 0);
    EXPECT_EQ(d.exponent, -6);
    EXPECT_FLOAT_EQ(d.minimum, -1.5f);

    EXPECT_EQ(Trixhv_ParseInfo("0;2;0;3000;1;1;0;volt;", &d), -1);   // eight ';'
    EXPECT_EQ(Trixhv_ParseInfo("0;2;0;3000;1;1;0;volt;;;", &d), -1); // ten ';'
    EXPECT_EQ(Trixhv_ParseInfo(("1;2;0;1;0;0;0;;" + std::string(64, 'x') + ";off").c_str(), &d), -1);

    const struct {
        const char *unit;
        int code;
    } units[] = {{"ampere", 1}, {"volt", 2}, {"celsius", 4}, {"vps", 7}, {"bit", 11}, {"Volt", 0}, {"", 0}};
    for (const auto &u : units)
        EXPECT_EQ(Trixhv_UnitCode(u.unit), u.code) << u.unit;
}

TEST(ZornDialect, Requests)
{
    TextInstance in;
    ParamRow vset = row("VSet", PT_NUMERIC, 2);
    std::strcpy(vset.mnemonic, "MWVR");
    ParamRow loop = row("Loop", PT_ONOFF, 2, 0, 0, "I", "V");
    std::strcpy(loop.mnemonic, "LOOP");
    ParamRow clr = row("ClearAlarm", PT_NONE, 1);
    std::strcpy(clr.mnemonic, "MRESET");
    in.rows = {vset, loop, clr};
    const float v = 150.0f, small = 0.0125f;
    const int32_t one = 1;
    struct Case {
        RequestKind kind;
        const char *mnemonic;
        const void *value;
        const char *expect;
    } cases[] = {
        {REQ_MONITOR, "MRV", nullptr, "MRV:?\r\n"},   {REQ_MONITOR, "MRT:1", nullptr, "MRT:1:?\r\n"},
        {REQ_SET, "MWVR", &v, "MWVR:150.000000\r\n"}, {REQ_SET, "MWVR", &small, "MWVR:0.012500\r\n"},
        {REQ_SET, "LOOP", &one, "LOOP:1\r\n"},        {REQ_SET, "MRESET", &one, "MRESET\r\n"},
        {REQ_SET, "MON", nullptr, "MON\r\n"},
    };
    for (const Case &c : cases) {
        char out[128];
        ASSERT_EQ(Zorn_BuildRequest(in, c.kind, 0, c.mnemonic, c.value, out, sizeof out), 0) << c.expect;
        EXPECT_STREQ(out, c.expect);
    }
}

TEST(ZornDialect, Replies)
{
    TextInstance in;
    struct Case {
        const char *mnemonic, *line;
        int rc;
        const char *value;
    } cases[] = {
        {"MRV", "#MRV:12.500", 0, "12.500"},
        {"MRT:1", "#MRT:40.25", 0, "40.25"},
        {"MRID", "#MRID:ZORN-300-30", 0, "ZORN-300-30"},
        {"UPMODE", "#UPMODE:ANALOG", 0, "ANALOG"},
        {"UPMODE", "#UPXX:ANALOG", -1, ""}, // needs "#UPMO"
        {"MRV", "#AK", -1, ""},
        {"MRV", "#NAK", -1, ""},
        {"MRV", "#MRV", -1, ""}, // no ':'
        {"VER", "#VER:ZR:2.10.5", 0, "ZR:2.10.5"},
    };
    for (const Case &c : cases) {
        char value[64] = "junk";
        EXPECT_EQ(Zorn_ParseReply(in, c.mnemonic, c.line, value, sizeof value), c.rc) << c.line;
        if (c.rc == 0) {
            EXPECT_STREQ(value, c.value) << c.line;
        }
    }
    EXPECT_EQ(Zorn_SetResult(in, "#AK"), 0);
    EXPECT_EQ(Zorn_SetResult(in, "#NAK"), -1);
    EXPECT_EQ(Zorn_SetResult(in, "#MRV:1"), -1);

    int major = -1, minor = -1, revision = -1;
    EXPECT_EQ(Zorn_ParseVersion("ZR:2.10.5", &major, &minor, &revision), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 10);
    EXPECT_EQ(revision, 5);
    EXPECT_EQ(Zorn_ParseVersion("2.10.5", &major, &minor, &revision), -1); // no prefix
    EXPECT_EQ(Zorn_ParseVersion("ZR:2.10", &major, &minor, &revision), -1);
    EXPECT_EQ(Zorn_ParseVersion("ZR:2..5", &major, &minor, &revision), -1);
}

// A line that answers another request is told apart by what it echoes.
TEST(ZornDialect, RepliesToOtherRequests)
{
    TextInstance in;
    const struct {
        RequestKind kind;
        const char *mnemonic, *line;
        bool ours;
    } cases[] = {
        {REQ_MONITOR, "MRI", "#MRI:1.500", true},
        {REQ_MONITOR, "MRI", "#MRV:12.500", false},    // another query's value
        {REQ_MONITOR, "MRT:1", "#MRT:40.25", true},    // the three temperatures echo alike
        {REQ_MONITOR, "MRV", "#MRID:ZORN-300", false}, // the identification
        {REQ_MONITOR, "MRV", "#AK", false},            // queries are never acknowledged
        {REQ_MONITOR, "MRV", "#NAK", true},            // a refusal: the reply's own check decides
        {REQ_MONITOR, "MRV", "#XYZ:1", true},          // no query of the unit echoes that
        {REQ_SET, "MWVR", "#AK", true},
        {REQ_SET, "MWVR", "#NAK", true},
        {REQ_SET, "MWVR", "#MRV:12.500", false}, // a value is no acknowledgement
        {REQ_SET, "MON", "#AK", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Zorn_IsReplyTo(in, c.kind, c.mnemonic, c.line), c.ours) << c.mnemonic << " " << c.line;
}
