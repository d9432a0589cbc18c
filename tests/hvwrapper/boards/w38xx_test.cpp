// W38XX boards through the public API: opening over every register link,
// the board's own description, reads, writes, commands and the open's
// failure paths, against the stand-in's board model.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "boards_support.h"

using namespace boardstest;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kBase = 0xEE000000u;

class W38xxTest : public BoardsTest {
protected:
    // A 12-channel board on OPTLINK link 1, node 2, and its open system.
    int openBoard(int channels = 12)
    {
        place = stub.attach(1, nullptr, 1, 2, kBase, KORUCOMM_MODEL_W38XX, channels);
        EXPECT_GE(place, 0);
        return open(kW38XX, kLinkOptlink, "1_2_ee000000");
    }
    // Writes a 32-byte parameter table entry into the board's published table.
    void putEntry(int i, const char *name, uint8_t attr, int8_t offset, uint16_t min, uint16_t max,
                  uint16_t res, int8_t unit, int8_t exp)
    {
        uint8_t e[32] = {};
        std::memcpy(e, name, std::min<size_t>(std::strlen(name), 10));
        e[10] = attr;
        e[11] = uint8_t(offset);
        e[12] = uint8_t(min), e[13] = uint8_t(min >> 8);
        e[14] = uint8_t(max), e[15] = uint8_t(max >> 8);
        e[16] = uint8_t(res), e[17] = uint8_t(res >> 8);
        e[18] = uint8_t(unit), e[19] = uint8_t(exp);
        for (int w = 0; w < 16; ++w)
            stub.poke(place, 0x4000 + 32 * uint32_t(i) + 2 * uint32_t(w),
                      uint16_t(e[2 * w] | (e[2 * w + 1] << 8)));
    }
    int place = -1;
};

} // namespace

TEST_F(W38xxTest, OpensOverEveryRegisterLinkAndReadsItsIdentity)
{
    const struct {
        int link;
        int connType;
        const char *ip;
        int linkNumber, node;
        uint32_t base;
        const char *address;
    } cases[] = {
        {kLinkUsb, 0, nullptr, 0, 1, 0x20000000u, "0_1_20000000"},
        {kLinkOptlink, 1, nullptr, 3, 0x1f, 0xEE000000u, "3_1f_ee000000"},
        {kLinkUsb3, 7, nullptr, 1, 0, 0u, "1_0"},
        {kLinkJ6280, 2, nullptr, 2, 0, 0x10000u, "2_9_10000"}, // the node is not used on J6280
        {kLinkTcp, 6, "127.0.0.9", 0, 4, 0x3000u, "127.0.0.9_4_3000"},
    };
    for (const auto &c : cases) {
        ASSERT_GE(stub.attach(c.connType, c.ip, c.linkNumber, c.node, c.base, KORUCOMM_MODEL_W38XX, 8), 0);
        const int h = open(kW38XX, c.link, c.address);
        ASSERT_GE(h, 0) << c.address;

        unsigned short slots = 0, *channels = nullptr;
        char *models = nullptr, *descriptions = nullptr;
        unsigned *serials = nullptr;
        unsigned char *minors = nullptr, *majors = nullptr;
        ASSERT_EQ(
            KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors), 0);
        EXPECT_EQ(slots, 1);
        EXPECT_EQ(channels[0], 8);
        EXPECT_STREQ(models, "W3821");
        EXPECT_STREQ(descriptions, "12 Ch 4kV/400uA VME");
        EXPECT_EQ(serials[0], 1234u);
        EXPECT_EQ(minors[0], 4);
        EXPECT_EQ(majors[0], 0);
        for (void *p : {(void *)channels, (void *)models, (void *)descriptions, (void *)serials,
                        (void *)minors, (void *)majors})
            KORUHV_Free(p);
        unsigned short n = 0;
        char *props = nullptr;
        EXPECT_EQ(KORUHV_GetSysPropList(h, &n, &props), 6);
        close(h);
    }
    EXPECT_EQ(stub.openDevices(), 0);
}

TEST_F(W38xxTest, PublishedTableGivesParametersAndProperties)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    char *names = nullptr;
    int count = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(h, 0, 3, &names, &count), 0);
    ASSERT_EQ(count, 12);
    EXPECT_STREQ(names, "VSet");
    EXPECT_STREQ(names + 10 * 10, "Status");
    EXPECT_STREQ(names + 10 * 11, "ImonRange");
    EXPECT_STREQ(names + 10 * 12, "");
    KORUHV_Free(names);
    names = nullptr;
    ASSERT_EQ(KORUHV_GetBdParamInfo(h, 0, &names), 0);
    EXPECT_STREQ(names, "BdStatus");
    EXPECT_STREQ(names + 10 * 6, "Kill");
    EXPECT_STREQ(names + 10 * 7, "");
    KORUHV_Free(names);
    EXPECT_EQ(KORUHV_GetChParamInfo(h, 0, 12, &names, &count), 10);

    struct Prop {
        const char *param, *prop;
        char kind; // i int32, s int16, f float, t text
        double number;
        const char *text;
    };
    const Prop props[] = {
        {"VSet", "Type", 'i', 0, nullptr},       {"VSet", "Mode", 'i', 2, nullptr},
        {"VMon", "Mode", 'i', 0, nullptr},       {"VSet", "Maxval", 'f', 4000, nullptr},
        {"ISet", "Maxval", 'f', 400, nullptr},   {"RUp", "Minval", 'f', 1, nullptr},
        {"ISet", "Exp", 's', -6, nullptr},       {"ISet", "Unit", 's', 1, nullptr},
        {"VSet", "Decimal", 's', 1, nullptr},    {"ISet", "Decimal", 's', 2, nullptr},
        {"Status", "Type", 'i', 2, nullptr},     {"Pw", "Onstate", 't', 0, "On"},
        {"Pw", "Offstate", 't', 0, "Off"},       {"PDwn", "Type", 'i', 1, nullptr},
        {"PDwn", "Onstate", 't', 0, "Ramp"},     {"PDwn", "Offstate", 't', 0, "Kill"},
        {"Polarity", "Onstate", 't', 0, "+"},    {"ImonRange", "Onstate", 't', 0, "Low"},
        {"ImonRange", "Offstate", 't', 0, "Hi"}, {"ImonRange", "Type", 'i', 1, nullptr},
    };
    for (const Prop &p : props) {
        char out[64] = {};
        ASSERT_EQ(chProp(h, 5, p.param, p.prop, out), 0) << p.param << "." << p.prop;
        if (p.kind == 'i') {
            int32_t v;
            std::memcpy(&v, out, 4);
            EXPECT_EQ(v, int32_t(p.number)) << p.param << "." << p.prop;
        } else if (p.kind == 's') {
            int16_t v;
            std::memcpy(&v, out, 2);
            EXPECT_EQ(v, int16_t(p.number)) << p.param << "." << p.prop;
        } else if (p.kind == 'f') {
            float v;
            std::memcpy(&v, out, 4);
            EXPECT_FLOAT_EQ(v, float(p.number)) << p.param << "." << p.prop;
        } else {
            EXPECT_STREQ(out, p.text) << p.param << "." << p.prop;
        }
    }
    char out[64];
    EXPECT_EQ(chProp(h, 5, "VSet", "Colour", out), 21);
    EXPECT_EQ(chProp(h, 5, "BdStatus", "Type", out), 10); // a board parameter, not in the channel's row
    EXPECT_EQ(chProp(h, 12, "VSet", "Type", out), 10);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Temp", "Decimal", out), 0);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Temp", "Onstate", out), 21);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "VSet", "Type", out), 10);

    char names12[2][KORUHV_CHANNEL_NAME_SIZE];
    const unsigned short chs[2] = {0, 11};
    ASSERT_EQ(KORUHV_GetChName(h, 0, 2, chs, names12), 0);
    EXPECT_STREQ(names12[0], "CH00");
    EXPECT_STREQ(names12[1], "CH011");
    EXPECT_EQ(KORUHV_SetChName(h, 0, 1, chs, "x"), 2);
}

TEST_F(W38xxTest, SetValuesRampTheOutput)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    stub.timeScale(20.0);
    float v = 100.04f; // the board takes tenths: the value comes back as written
    unsigned short ch = 3;
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "VSet", 1, &ch, &v), 0);
    EXPECT_FLOAT_EQ(v, 100.0f);
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 3), 100.0f);
    ASSERT_EQ(setFloat(h, "RUp", 3, 100.0f), 0);
    ASSERT_EQ(setInt(h, "Pw", 3, 1), 0);
    EXPECT_EQ(getInt(h, "Pw", 3), 1);
    const auto end = std::chrono::steady_clock::now() + kWait; // only a hang ends the ramp early
    float vmon = 0;
    while (std::chrono::steady_clock::now() < end && (vmon = getFloat(h, "VMon", 3)) < 99.95f)
        std::this_thread::sleep_for(20ms);
    EXPECT_FLOAT_EQ(vmon, 100.0f);
    EXPECT_NEAR(getFloat(h, "IMon", 3), 10.0f, 0.05f); // 100 V on 10 MOhm
    EXPECT_EQ(getInt(h, "Status", 3) & 1, 1);
    EXPECT_FLOAT_EQ(getFloat(h, "VMon", 2), 0.0f);

    // The one value goes to every listed channel.
    const unsigned short two[2] = {0, 1};
    float rdwn = 42.0f;
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "RDwn", 2, two, &rdwn), 0);
    float back[2] = {};
    ASSERT_EQ(KORUHV_GetChParam(h, 0, "RDwn", 2, two, back), 0);
    EXPECT_FLOAT_EQ(back[0], 42.0f);
    EXPECT_FLOAT_EQ(back[1], 42.0f);

    // Commands: the list, then Kill switches every channel off.
    unsigned short n = 0;
    char *list = nullptr;
    ASSERT_EQ(KORUHV_GetExecCommList(h, &n, &list), 0);
    ASSERT_EQ(n, 2);
    EXPECT_STREQ(list, "ClrAlarm");
    EXPECT_STREQ(list + 9, "Kill");
    KORUHV_Free(list);
    ASSERT_EQ(KORUHV_ExecComm(h, "Kill"), 0);
    EXPECT_EQ(getInt(h, "Pw", 3), 0);
    EXPECT_EQ(KORUHV_ExecComm(h, "VSet"), 22);
    EXPECT_EQ(KORUHV_ExecComm(h, "Nothing"), 22);
}

TEST_F(W38xxTest, BoardValuesAndSystemProperty)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    const unsigned short slot0 = 0;
    float f = 0;
    ASSERT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "Temp", &f), 0);
    EXPECT_FLOAT_EQ(f, 25.3f);
    // A signed 16-bit value below zero reads as negative, not as 6552.6.
    stub.poke(place, 0x24, uint16_t(int16_t(-50)));
    ASSERT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "Temp", &f), 0);
    EXPECT_FLOAT_EQ(f, -5.0f);
    // A 32-bit value takes both registers.
    ASSERT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "Uptime", &f), 0);
    EXPECT_GE(f, 70000.0f);
    int32_t st = -1;
    ASSERT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "BdStatus", &st), 0);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "VSet", &f), 22);
    EXPECT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "Kill", &f), 3);
    const unsigned short slot1 = 1;
    EXPECT_EQ(KORUHV_GetBdParam(h, 1, &slot1, "Temp", &f), 10);
    EXPECT_EQ(KORUHV_SetBdParam(h, 1, &slot0, "Temp", &f), 0); // nothing written

    ASSERT_EQ(KORUHV_GetSysProp(h, "SwRelease", &f), 0);
    EXPECT_FLOAT_EQ(f, 1.04f);
    EXPECT_EQ(KORUHV_GetSysProp(h, "Temp", &f), 22);
    EXPECT_EQ(KORUHV_SetSysProp(h, "SwRelease", &f), 2); // read-only
    EXPECT_EQ(KORUHV_SetSysProp(h, "VSet", &f), 22);     // not a board parameter
    unsigned mode = 0, type = 0;
    EXPECT_EQ(KORUHV_GetSysPropInfo(h, "SwRelease", &mode, &type), 22);
}

TEST_F(W38xxTest, RefusedAndFailingAccesses)
{
    const int h = openBoard();
    ASSERT_GE(h, 0);
    int rc = 0;
    const struct {
        const char *name;
        unsigned short ch;
        int code;
    } reads[] = {
        {"Nothing", 0, 22},
        {"BdStatus", 0, 22},
        {"Kill", 0, 3},
        {"VSet", 12, 10},
    };
    for (const auto &r : reads) {
        getFloat(h, r.name, r.ch, &rc);
        EXPECT_EQ(rc, r.code) << r.name;
    }
    unsigned short ch = 0;
    float v = 1;
    EXPECT_EQ(KORUHV_GetChParam(h, 1, "VSet", 1, &ch, &v), 10);
    EXPECT_EQ(setFloat(h, "VMon", 0, 1.0f), 2); // read-only
    EXPECT_EQ(setFloat(h, "VSet", 12, 1.0f), 10);
    EXPECT_EQ(setFloat(h, "VSet", 0, -1.0f), 2);   // below what the register holds
    EXPECT_EQ(setFloat(h, "VSet", 0, 7000.0f), 2); // 70000 tenths do not fit 16 bits
    EXPECT_EQ(setFloat(h, "VSet", 0, NAN), 2);
    EXPECT_EQ(setInt(h, "Status", 0, 5), 2);       // a status word is not written
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 0), 0.0f); // nothing reached the board

    stub.failReads(place, 0xFFFFFFFFu, 1);
    getFloat(h, "VSet", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 0), 0.0f);
    stub.failWrites(place, 0xFFFFFFFFu, 1);
    EXPECT_EQ(setFloat(h, "VSet", 0, 10.0f), 3);
    stub.failWrites(place, 0xFFFFFFFFu, 1);
    EXPECT_EQ(KORUHV_ExecComm(h, "ClrAlarm"), 3);

    // Channel lists stop at the first bad channel; what came before stays.
    const unsigned short chans[3] = {1, 40, 2};
    float vals[3] = {-1, -1, -1};
    EXPECT_EQ(KORUHV_GetChParam(h, 0, "VSet", 3, chans, vals), 10);
    EXPECT_FLOAT_EQ(vals[0], 0.0f);
    EXPECT_FLOAT_EQ(vals[2], -1.0f);
}

// A type-3 board value: GetBdParam gives it as an integer, GetSysProp
// succeeds without writing a value.
TEST_F(W38xxTest, TypeThreeValueOnlyFromGetBdParam)
{
    place = stub.attach(1, nullptr, 1, 2, kBase, KORUCOMM_MODEL_W38XX, 12);
    putEntry(15, "SwRelease", 0x03, 0x26, 0, 10000, 100, 0, 0);
    const int h = open(kW38XX, kLinkOptlink, "1_2_ee000000");
    ASSERT_GE(h, 0);
    const unsigned short slot0 = 0;
    int32_t v = -1;
    ASSERT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "SwRelease", &v), 0);
    EXPECT_EQ(v, 104);
    v = -1;
    ASSERT_EQ(KORUHV_GetSysProp(h, "SwRelease", &v), 0);
    EXPECT_EQ(v, -1);
}

TEST_F(W38xxTest, UnusualTablesOpenSafely)
{
    // Empty table: opens with no parameters.
    place = stub.attach(1, nullptr, 1, 2, kBase, KORUCOMM_MODEL_W38XX, 4);
    stub.poke(place, 0x4000, 0);
    int h = open(kW38XX, kLinkOptlink, "1_2_ee000000");
    ASSERT_GE(h, 0);
    int rc = 0;
    getFloat(h, "VSet", 0, &rc);
    EXPECT_EQ(rc, 22);
    EXPECT_EQ(setFloat(h, "VSet", 0, 1.0f), 22);
    EXPECT_EQ(KORUHV_ExecComm(h, "Kill"), 22);
    char *names = nullptr;
    int count = -1;
    ASSERT_EQ(KORUHV_GetChParamInfo(h, 0, 0, &names, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(names, "");
    KORUHV_Free(names);
    close(h);

    // 32 entries, resolutions 0, 1, 5, 10, 100, 1000, an exponent of +3, a
    // ten-character name, a channel count above 32 and the long serial form.
    place = stub.attach(1, nullptr, 1, 2, kBase, KORUCOMM_MODEL_W38XX, 12);
    const uint16_t res[] = {0, 1, 5, 10, 100, 1000};
    for (int i = 0; i < 32; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "P%02d", i);
        putEntry(i, i == 31 ? "TenLetters" : name, 0x20, int8_t(2 * (i % 16)), 25, 100, res[i % 6], 2,
                 i == 1 ? 3 : -3);
    }
    for (int v = 0; v <= 32; ++v) {
        stub.poke(place, 0x4400 + 4 * uint32_t(v), 0xFFFF);
        stub.poke(place, 0x4400 + 4 * uint32_t(v) + 2, 0xFFFF);
    }
    stub.poke(place, 33024, 40);
    stub.poke(place, 0xA084, 0x00FF);
    stub.poke(place, 0xA080, 0x00FF);
    const uint16_t serialBytes[4] = {0x78, 0x56, 0x34, 0x12};
    for (uint32_t k = 0; k < 4; ++k)
        stub.poke(place, 0xA070 + 4 * k, serialBytes[k]);
    h = open(kW38XX, kLinkOptlink, "1_2_ee000000");
    ASSERT_GE(h, 0);
    ASSERT_EQ(KORUHV_GetChParamInfo(h, 0, 31, &names, &count), 0);
    EXPECT_EQ(count, 32);
    EXPECT_STREQ(names + 10 * 31, "TenLette"
                                  "r"); // a list slot always ends in NUL
    EXPECT_STREQ(names + 10 * 32, "");
    KORUHV_Free(names);
    EXPECT_EQ(KORUHV_GetChParamInfo(h, 0, 32, &names, &count), 10); // the board is served with 32 channels
    const int16_t decimals[] = {0, 0, 1, 1, 2, 3};
    for (int i = 0; i < 6; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "P%02d", i);
        int16_t d = -1;
        ASSERT_EQ(chProp(h, 0, name, "Decimal", &d), 0);
        EXPECT_EQ(d, decimals[i]) << "resolution " << res[i];
    }
    int16_t e = 0;
    ASSERT_EQ(chProp(h, 0, "P01", "Exp", &e), 0);
    EXPECT_EQ(e, -3);
    ASSERT_EQ(chProp(h, 0, "P07", "Exp", &e), 0);
    EXPECT_EQ(e, -3);
    float mn = 0;
    ASSERT_EQ(chProp(h, 0, "P03", "Minval", &mn), 0); // 25 / 10 in whole numbers
    EXPECT_FLOAT_EQ(mn, 2.0f);
    ASSERT_EQ(chProp(h, 0, "P00", "Minval", &mn), 0); // resolution 0 is read 1:1
    EXPECT_FLOAT_EQ(mn, 25.0f);
    ASSERT_EQ(chProp(h, 0, "P00", "Maxval", &mn), 0);
    EXPECT_FLOAT_EQ(mn, 100.0f);
    getFloat(h, "P00", 0, &rc);
    EXPECT_EQ(rc, 0);
    unsigned short slots = 0, *channels = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors),
              0);
    EXPECT_EQ(channels[0], 32);
    EXPECT_EQ(serials[0], 0x12345678u);
    for (void *p : {(void *)channels, (void *)models, (void *)descriptions, (void *)serials, (void *)minors,
                    (void *)majors})
        KORUHV_Free(p);
}

TEST_F(W38xxTest, FailedOpensLeaveNothingOpen)
{
    int rc = 0;
    // Nothing at the place answers.
    stub.attach(0, nullptr, 0, 1, 0, KORUCOMM_MODEL_ABSENT, 0);
    EXPECT_EQ(open(kW38XX, kLinkUsb, "0_1_0", &rc), -1);
    EXPECT_EQ(rc, 4100);
    // A read of the description fails: the device opened is closed again.
    place = stub.attach(1, nullptr, 1, 2, kBase, KORUCOMM_MODEL_W38XX, 12);
    stub.failReads(place, 0x8116, 1);
    EXPECT_EQ(open(kW38XX, kLinkOptlink, "1_2_ee000000", &rc), -1);
    EXPECT_EQ(rc, 4100);
    EXPECT_EQ(stub.openDevices(), 0);
    EXPECT_GE(openBoard(), 0); // the same board opens once it answers

    // 32 boards at once, the 33rd is refused without opening anything.
    for (int i = 1; i < 32; ++i) {
        char addr[32];
        std::snprintf(addr, sizeof addr, "1_2_%x", 0x10000 * i);
        stub.attach(1, nullptr, 1, 2, 0x10000u * uint32_t(i), KORUCOMM_MODEL_W38XX, 1);
        ASSERT_GE(open(kW38XX, kLinkOptlink, addr), 0) << i;
    }
    EXPECT_EQ(stub.openDevices(), 32);
    EXPECT_EQ(open(kW38XX, kLinkOptlink, "1_2_7f0000", &rc), -1);
    EXPECT_EQ(rc, 4100);
    EXPECT_EQ(stub.openDevices(), 32);
}

TEST(W38xxLibraryTest, CloseUnloadsTheLibrary)
{
    // A plain register memory reads as a board without parameters.
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(kW38XX, kLinkUsb, (void *)"0_1", "", "", &h), 0);
    void *lib = dlopen("libKORUComm.so", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    dlclose(lib);
    ASSERT_EQ(KORUHV_DeinitSystem(h), 0);
    EXPECT_EQ(dlopen("libKORUComm.so", RTLD_LAZY | RTLD_NOLOAD), nullptr);
}
