// BQ71XX units through the public API: opening over the register links with
// identification and calibration, channel reads and writes, the control word
// and the current ranges, against the stand-in's unit model.
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "boards_support.h"

using namespace boardstest;
using namespace std::chrono_literals;

namespace {

class Bq71xxTest : public BoardsTest {
protected:
    // A unit on USB link 0, node 1.
    int openUnit()
    {
        place = stub.attach(0, nullptr, 0, 1, 0, KORUCOMM_MODEL_BQ71XX, 0);
        EXPECT_GE(place, 0);
        return open(kBQ71XX, kLinkUsb, "0_1");
    }
    uint16_t reg(uint32_t a)
    {
        uint16_t v = 0;
        EXPECT_EQ(stub.peek(place, a, &v), 0);
        return v;
    }
    int place = -1;
};

} // namespace

TEST_F(Bq71xxTest, OpensOverTheRegisterLinksAndCalibrates)
{
    const struct {
        int link, connType, linkNumber, node;
        const char *address;
    } cases[] = {
        {kLinkUsb, 0, 0, 1, "0_1"},
        {kLinkOptlink, 1, 2, 0x1f, "2_1f"},
        {kLinkUsb3, 7, 1, 3, "1_3"},
        {kLinkJ6280, 2, 4, 0, "4"},
    };
    for (const auto &c : cases) {
        place = stub.attach(c.connType, nullptr, c.linkNumber, c.node, 0, KORUCOMM_MODEL_BQ71XX, 0);
        const int before = stub.writeCount(place, 0x1034);
        const uint16_t control = reg(0x1034);
        const int h = open(kBQ71XX, c.link, c.address);
        ASSERT_GE(h, 0) << c.address;
        // Eight calibration codes, then the control word as it was.
        EXPECT_EQ(stub.writeCount(place, 0x1034) - before, 9);
        EXPECT_EQ(reg(0x1034), control);

        unsigned short slots = 0, *channels = nullptr;
        char *models = nullptr, *descriptions = nullptr;
        unsigned *serials = nullptr;
        unsigned char *minors = nullptr, *majors = nullptr;
        ASSERT_EQ(
            KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors), 0);
        EXPECT_EQ(slots, 1);
        EXPECT_EQ(channels[0], 4);
        EXPECT_STREQ(models, "BQ71XX");
        EXPECT_STREQ(descriptions, "05.03 build 12");
        EXPECT_EQ(serials[0], 0u);
        EXPECT_EQ(minors[0], 5);
        EXPECT_EQ(majors[0], 3);
        for (void *p : {(void *)channels, (void *)models, (void *)descriptions, (void *)serials,
                        (void *)minors, (void *)majors})
            KORUHV_Free(p);
        close(h);
    }
}

TEST_F(Bq71xxTest, CalibrationGivesLimitsScalesAndExponents)
{
    const int h = openUnit();
    ASSERT_GE(h, 0);
    struct Prop {
        const char *param, *prop;
        char kind;
        double number;
    };
    const Prop props[] = {
        {"VSet", "Maxval", 'f', 4000}, {"VSet", "Decimal", 's', 1},    {"VSet", "Exp", 's', 0},
        {"VSet", "Unit", 's', 2},      {"ISet", "Maxval", 'f', 500},   {"ISet", "Exp", 's', -6},
        {"ISet", "Decimal", 's', 2},   {"IMonL", "Maxval", 'f', 50},   {"IMonL", "Decimal", 's', 3},
        {"IMonH", "Maxval", 'f', 500}, {"RampUp", "Maxval", 'f', 500}, {"RampUp", "Minval", 'f', 1},
        {"RampUp", "Unit", 's', 7},    {"RampDwn", "Decimal", 's', 0}, {"VMon", "Mode", 'i', 0},
        {"VSet", "Mode", 'i', 2},      {"Pw", "Type", 'i', 1},         {"Status", "Type", 'i', 2},
    };
    for (const Prop &p : props) {
        char out[32] = {};
        ASSERT_EQ(chProp(h, 1, p.param, p.prop, out), 0) << p.param << "." << p.prop;
        if (p.kind == 'i') {
            int32_t v;
            std::memcpy(&v, out, 4);
            EXPECT_EQ(v, int32_t(p.number)) << p.param << "." << p.prop;
        } else if (p.kind == 's') {
            int16_t v;
            std::memcpy(&v, out, 2);
            EXPECT_EQ(v, int16_t(p.number)) << p.param << "." << p.prop;
        } else {
            float v;
            std::memcpy(&v, out, 4);
            EXPECT_FLOAT_EQ(v, float(p.number)) << p.param << "." << p.prop;
        }
    }
    char text[32];
    ASSERT_EQ(chProp(h, 0, "IMRange", "Onstate", text), 0);
    EXPECT_STREQ(text, "Low");
    ASSERT_EQ(chProp(h, 0, "PDwn", "Offstate", text), 0);
    EXPECT_STREQ(text, "Kill");
    EXPECT_EQ(chProp(h, 0, "PDwn", "Colour", text), 21);
    EXPECT_EQ(chProp(h, 4, "VSet", "Type", text), 10);
    EXPECT_EQ(chProp(h, 0, "Nothing", "Type", text), 10);

    char *names = nullptr;
    int count = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(h, 0, 3, &names, &count), 0);
    EXPECT_EQ(count, 12);
    EXPECT_STREQ(names + 10 * 11, "Status");
    EXPECT_STREQ(names + 10 * 12, "");
    KORUHV_Free(names);
    names = nullptr;
    ASSERT_EQ(KORUHV_GetBdParamInfo(h, 0, &names), 0);
    EXPECT_STREQ(names, "");
    KORUHV_Free(names);
    const unsigned short slot0 = 0;
    float f;
    EXPECT_EQ(KORUHV_GetBdParam(h, 1, &slot0, "VSet", &f), 22);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "VSet", "Type", &f), 10);
    EXPECT_EQ(KORUHV_GetSysProp(h, "SwRelease", &f), 22);
    EXPECT_EQ(KORUHV_ExecComm(h, "Kill"), 11);
    unsigned short n = 9;
    char *list = nullptr;
    ASSERT_EQ(KORUHV_GetExecCommList(h, &n, &list), 0);
    EXPECT_EQ(n, 0);
    KORUHV_Free(list);

    char ch[5][KORUHV_CHANNEL_NAME_SIZE];
    const unsigned short all[4] = {0, 1, 2, 3};
    ASSERT_EQ(KORUHV_GetChName(h, 0, 4, all, ch), 0);
    EXPECT_STREQ(ch[3], "CH03");
    const unsigned short four = 4;
    EXPECT_EQ(KORUHV_GetChName(h, 0, 1, &four, ch), 10);
}

TEST_F(Bq71xxTest, SwitchesRampAndCurrentRanges)
{
    const int h = openUnit();
    ASSERT_GE(h, 0);
    stub.timeScale(20.0);
    // Pw on channel 2 changes only bit 0 of its control word.
    const uint16_t before = reg(0x1234);
    ASSERT_EQ(setInt(h, "Pw", 2, 1), 0);
    EXPECT_EQ(reg(0x1234), before | 1);
    EXPECT_EQ(getInt(h, "Pw", 2), 1);
    EXPECT_EQ(getInt(h, "PDwn", 2), (before >> 1) & 1);
    ASSERT_EQ(setInt(h, "Pw", 2, 0), 0);
    EXPECT_EQ(reg(0x1234), before & ~1);

    ASSERT_EQ(setFloat(h, "VSet", 1, 1000.0f), 0);
    EXPECT_EQ(reg(0x1120), 10000);
    ASSERT_EQ(setFloat(h, "RampUp", 1, 500.0f), 0);
    ASSERT_EQ(setFloat(h, "ISet", 1, 200.0f), 0);
    EXPECT_FLOAT_EQ(getFloat(h, "ISet", 1), 200.0f);
    ASSERT_EQ(setInt(h, "Pw", 1, 1), 0);
    const auto end = std::chrono::steady_clock::now() + kWait; // only a hang ends the ramp early
    float vmon = 0;
    while (std::chrono::steady_clock::now() < end && (vmon = getFloat(h, "VMon", 1)) < 999.95f)
        std::this_thread::sleep_for(20ms);
    EXPECT_FLOAT_EQ(vmon, 1000.0f);
    EXPECT_EQ(getInt(h, "Status", 1) & 1, 1);

    // 1000 V on 10 MOhm: 100 uA, shown by the monitor of the range in use.
    EXPECT_FLOAT_EQ(getFloat(h, "IMonH", 1), 100.0f);
    EXPECT_FLOAT_EQ(getFloat(h, "IMonL", 1), 0.0f);
    ASSERT_EQ(setFloat(h, "VSet", 1, 300.0f), 0);
    ASSERT_EQ(setFloat(h, "RampDwn", 1, 500.0f), 0);
    ASSERT_EQ(setInt(h, "IMRange", 1, 1), 0);
    EXPECT_EQ(getInt(h, "IMRange", 1), 1);
    const auto end2 = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < end2 && getFloat(h, "VMon", 1) > 300.05f)
        std::this_thread::sleep_for(20ms);
    EXPECT_FLOAT_EQ(getFloat(h, "IMonH", 1), 0.0f);
    EXPECT_FLOAT_EQ(getFloat(h, "IMonL", 1), 30.0f);
    // A failed range write leaves the range as the unit has it.
    for (int requested : {1, 0}) {
        stub.failWrites(place, 0x1134, 1);
        EXPECT_EQ(setInt(h, "IMRange", 1, requested), 2);
        EXPECT_FLOAT_EQ(getFloat(h, "IMonL", 1), 30.0f) << requested;
    }
    ASSERT_EQ(setInt(h, "IMRange", 1, 0), 0);
    EXPECT_FLOAT_EQ(getFloat(h, "IMonH", 1), 30.0f);
}

TEST_F(Bq71xxTest, RefusedAndFailingAccesses)
{
    const int h = openUnit();
    ASSERT_GE(h, 0);
    int rc = 0;
    getFloat(h, "Nothing", 0, &rc);
    EXPECT_EQ(rc, 22);
    getFloat(h, "VSet", 4, &rc);
    EXPECT_EQ(rc, 10);
    unsigned short ch = 0;
    float v = 0;
    EXPECT_EQ(KORUHV_GetChParam(h, 1, "VSet", 1, &ch, &v), 10);
    EXPECT_EQ(setFloat(h, "VMon", 0, 1.0f), 2);
    EXPECT_EQ(setFloat(h, "VSet", 4, 1.0f), 10);
    EXPECT_EQ(setFloat(h, "VSet", 0, -5.0f), 2);   // a negative set value is refused, not wrapped
    EXPECT_EQ(setFloat(h, "VSet", 0, 7000.0f), 2); // 70000 tenths do not fit the register
    EXPECT_EQ(setFloat(h, "VSet", 0, NAN), 2);
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 0), 0.0f);
    EXPECT_EQ(KORUHV_SetChName(h, 0, 1, &ch, "x"), 2);

    stub.failReads(place, 0xFFFFFFFFu, 1);
    getFloat(h, "VSet", 0, &rc);
    EXPECT_EQ(rc, 3);
    stub.failReads(place, 0x1034, 1);
    EXPECT_EQ(setInt(h, "Pw", 0, 1), 3); // the control word could not be read
    stub.failWrites(place, 0xFFFFFFFFu, 1);
    EXPECT_EQ(setFloat(h, "VSet", 0, 10.0f), 2);
}

TEST_F(Bq71xxTest, FailedOpensRestoreTheUnitAndCloseIt)
{
    int rc = 0;
    // A plain memory whose identification is 0x0B is not a unit.
    place = stub.attach(0, nullptr, 0, 1, 0, KORUCOMM_MODEL_MEMORY, 0);
    stub.poke(place, 0x8140, 0x0B);
    EXPECT_EQ(open(kBQ71XX, kLinkUsb, "0_1", &rc), -1);
    EXPECT_EQ(rc, 4100);
    stub.poke(place, 0x8140, 0x310A); // only the low byte identifies
    stub.poke(place, 0x1034, 0x0006);
    const int h = open(kBQ71XX, kLinkUsb, "0_1", &rc);
    EXPECT_GE(h, 0);
    close(h);
    EXPECT_EQ(reg(0x1034), 0x0006);

    // A read fails half-way through the calibration: the control word is
    // put back and the device closed.
    place = stub.attach(0, nullptr, 0, 1, 0, KORUCOMM_MODEL_BQ71XX, 0);
    stub.failReads(place, 0x8124, 1);
    const uint16_t control = reg(0x1034);
    EXPECT_EQ(open(kBQ71XX, kLinkUsb, "0_1", &rc), -1);
    EXPECT_EQ(rc, 4100);
    EXPECT_EQ(reg(0x1034), control);
    uint16_t scale = 0;
    EXPECT_EQ(stub.peek(place, 0x1038, &scale), 0);
    EXPECT_EQ(scale, 0) << "the unit is out of calibration mode";
    EXPECT_EQ(stub.openDevices(), 0);

    // Nothing answers on the link.
    stub.attach(1, nullptr, 3, 3, 0, KORUCOMM_MODEL_ABSENT, 0);
    EXPECT_EQ(open(kBQ71XX, kLinkOptlink, "3_3", &rc), -1);
    EXPECT_EQ(rc, 4100);
    // A W38XX board is no BQ71XX unit.
    stub.attach(1, nullptr, 3, 4, 0, KORUCOMM_MODEL_W38XX, 0);
    EXPECT_EQ(open(kBQ71XX, kLinkOptlink, "3_4", &rc), -1);
    EXPECT_EQ(rc, 4100);
    EXPECT_EQ(stub.openDevices(), 0);
}
