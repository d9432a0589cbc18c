/* Texts of connection states, status words, units, exponents and binary
 * words. */
#include "KORUHVUtils.h"

#include "qt_gtest_print.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

constexpr int bit(int n)
{
    return int(1u << n);
}

TEST(ConnectionStatusText, EachState)
{
    EXPECT_EQ(KORUHVUtils::KORUHVSelectConnectionStatus(CONN_PENDING), "Connection Pending");
    EXPECT_EQ(KORUHVUtils::KORUHVSelectConnectionStatus(CONN_OK), "Connection Ok");
    EXPECT_EQ(KORUHVUtils::KORUHVSelectConnectionStatus(CONN_KO), "Connection Ko");
    EXPECT_EQ(KORUHVUtils::KORUHVSelectConnectionStatus(CONN_TRANSPARENT), "");
    EXPECT_EQ(KORUHVUtils::KORUHVSelectConnectionStatus(static_cast<connStatus>(-1)), "");
}

struct BoardCase {
    int systemType;
    int word;
    const char *text;
};

TEST(BoardStatusText, FirstSetBitInPriorityOrder)
{
    const BoardCase cases[] = {
        {2, 0, ""},
        {2, 3, "FW CHKERR"}, /* bit 1 before bit 0 */
        {3, bit(0), "PW Fail"},
        {16, bit(5) | bit(4), "Un Temp"},
        {2, bit(6), ""}, /* bits no row names */
        {6, 3, "Ch0 Alarm"},
        {6, bit(6) | bit(4), "HV Clock Fail"},
        {6, bit(5) | bit(3), "OV Power"},
        {6, 0, ""},
        {11, 0x80, "Alarmed"},
        {11, 0, ""},
        {13, 0, "Good"},
        {13, bit(3) | bit(0), "Temp. Err."},
        {13, bit(0), "Pw Fail"},
        {7, 0, ""},
        {7, -1, ""},
        {5, -1, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KORUHVUtils::KORUHVConvertBoardStatus(c.systemType, c.word), c.text)
            << "system type " << c.systemType << " word " << c.word;
}

struct ChannelCase {
    int systemType;
    int word;
    const char *text;
    bool alarm;
};

TEST(ChannelStatusText, TextAndAlarmAgree)
{
    const ChannelCase cases[] = {
        /* crates and the rack supply */
        {2, bit(1) | bit(11), "Unplugg", true},
        {2, bit(2) | bit(6), "E-Trp-Dwn", true},
        {3, bit(2) | bit(9), "I-Trp-Dwn", true},
        {16, bit(2) | bit(8), "E-Dis-Dwn", true},
        {2, bit(2), "Down", false},
        {2, bit(0), "", false},
        {2, bit(1) | bit(3), "Up", false}, /* ramping masks over-current */
        {2, bit(15), "Temp Err.", true},
        {2, INT_MIN, "", false}, /* bit 31 names nothing */
        /* W38XX */
        {5, bit(13) | bit(1), "Uncalibrated", true},
        {5, bit(2), "Down", false},
        {5, bit(3), "Ovc", true},
        {5, 0, "", false},
        /* L2290 and BQ71XXE */
        {6, 1, "On", false},
        {6, 0, "Off", false},
        {6, bit(0) | bit(13), "Cal-Err", false},
        {11, bit(0) | bit(13), "On", false},
        {6, bit(8), "Ovp", true},
        {11, bit(8), "MaxPower", true},
        {11, bit(9), "Temp warning", true},
        {6, bit(0) | bit(7) | bit(3), "Tripped", true},
        {6, bit(12) | bit(10), "Interlock", true},
        {6, bit(13), "Cal-Err", false},
        /* BQ71XX */
        {9, bit(2) | bit(3), "Ovc-Dwn", true},
        {9, bit(15), "Fan-High", false},
        {9, bit(1) | bit(11), "Calib. Err", true},
        {9, 0, "", false},
        /* TRIXHV */
        {13, bit(8) | bit(3), "Temp. Warn", false},
        {13, bit(16), "Cal. Err.", true},
        {13, bit(13) | bit(16), "Comm. Fail", true},
        {13, bit(1), "Up", false},
        /* families without a list */
        {7, -1, "", false},
        {0, bit(11), "", false},
        {99, bit(1), "", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(KORUHVUtils::KORUHVConvertChannelStatus(c.systemType, c.word), c.text)
            << "system type " << c.systemType << " word " << c.word;
        EXPECT_EQ(KORUHVUtils::KORUHVCheckChStatusValue(c.systemType, c.word), !c.alarm)
            << "system type " << c.systemType << " word " << c.word;
    }
}

TEST(UnitText, ShortAndLongForms)
{
    const struct {
        unsigned short code;
        QString shortForm;
        const char *longForm;
    } cases[] = {
        {0, "", "None"},
        {1, "A", "Ampere"},
        {2, "V", "Volt"},
        {3, "W", "Watt"},
        {4, QString(QChar(0xB0)) + "C", "Celsius"},
        {5, "Hz", "Hertz"},
        {6, "Bar", "Bar"},
        {7, "Vps", "Vps"},
        {8, "sec", "Second"},
        {9, "Rpm", "Rpm"},
        {10, "Count", "Count"},
        {11, "", "None"},
        {65535, "", "None"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyUnitShortForm(c.code), c.shortForm) << c.code;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyUnit(c.code), c.longForm) << c.code;
    }
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyUnitShortForm(4).size(), 2);
}

TEST(ExponentText, ShortAndLongForms)
{
    const struct {
        short code;
        const char *shortForm;
        const char *longForm;
    } cases[] = {
        {-9, "n", "nano"}, {-6, "u", "micro"}, {-3, "m", "milli"}, {0, " ", ""},
        {3, "K", "Kilo"},  {6, "M", "Mega"},   {1, " ", ""},       {-12, " ", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyExpShortForm(c.code), c.shortForm) << c.code;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyExp(c.code), c.longForm) << c.code;
    }
    /* The unit text of a node: prefix then symbol. */
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyExpShortForm(-6) +
                  KORUHVUtils::KORUHVConvertPropertyUnitShortForm(1),
              "uA");
}

TEST(HexText, WordToTextKeepsAllThirtyTwoBits)
{
    const struct {
        int word;
        const char *text;
    } cases[] = {
        {0, "00000000"},       {255, "000000FF"},     {4660, "00001234"},
        {INT_MAX, "7FFFFFFF"}, {INT_MIN, "80000000"}, {-1, "FFFFFFFF"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KORUHVUtils::KORUHVConvertFromBinaryToHexString(c.word), c.text) << c.word;
}

TEST(HexText, TextToWord)
{
    const struct {
        const char *text;
        bool ok;
        int word;
    } cases[] = {
        {"ff", true, 255},
        {"FF", true, 255},
        {"7FFFFFFF", true, INT_MAX},
        {"80000000", true, INT_MIN}, /* bit 31 kept, not 0 */
        {"FFFFFFFF", true, -1},
        {"0x1A", true, 26},
        {" 00001234 ", true, 4660},
        {"", false, 0},
        {"xyz", false, 0},
        {"12G4", false, 0},
        {"100000000", false, 0}, /* more than 32 bits */
        {"-1", false, 0},
        {"0x", false, 0},
    };
    for (const auto &c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertFromHexStringToBinary(c.text, &ok), c.word) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertFromHexStringToBinary(c.text), c.word) << c.text;
    }
}

TEST(HexText, RoundTrip)
{
    for (int word : {0, 1, 0x0F0F0F0F, INT_MIN, -2, INT_MAX}) {
        bool ok = false;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertFromHexStringToBinary(
                      KORUHVUtils::KORUHVConvertFromBinaryToHexString(word), &ok),
                  word);
        EXPECT_TRUE(ok);
    }
}

} // namespace
