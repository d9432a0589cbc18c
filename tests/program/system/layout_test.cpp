// The panel's decisions as plain tables: model and connection texts, hidden
// names, lamp pictures of the status words, fan pairs, flag masks, HV bits
// and the confirmed commands per system type.
#include "SystemPanelLayout.h"
#include "qt_gtest_print.h"

#include <gtest/gtest.h>

using namespace syspanel;

namespace {

const QString Universal = QStringLiteral("\nUniversal Multichannel\nPower Supply System");

TEST(PanelLayout, ModelTexts)
{
    struct Case {
        int type;
        bool root;
        int slotCount;
        QString text;
    } cases[] = {
        {2, true, 10, "HX4400LC" + Universal},
        {2, true, 16, "HX4400" + Universal},
        {2, false, 10, "HX4400" + Universal},
        {3, true, 4, "HX5500LC" + Universal},
        {3, true, 10, "HX5500" + Universal},
        {5, true, 0, "VME HV Crate\n"},
        {6, true, 0, "NIM HV\nPower Supply"},
        {8, true, 0, "L317E\nSpectroscopy Amplifier\n"},
        {9, true, 0, "BQ71XX Desktop\nHV Power Supply"},
        {11, true, 0, "BQ71XXE Desktop\nHV Power Supply"},
        {13, true, 0, "Desktop\nHV Power Supply"},
        {16, true, 0, "P8080\nBranch Controller"},
        {-1, false, 0, "Misc"},
        {12, true, 0, "Misc"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(modelText(c.type, c.root, c.slotCount), c.text) << c.type;
}

TEST(PanelLayout, ConnectionTexts)
{
    struct Case {
        int type;
        int link;
        QString address;
        QString text;
    } cases[] = {
        {2, 0, "127.0.0.2", "127.0.0.2"},
        {16, 0, "10.0.0.1_x", "10.0.0.1_x"},
        {5, 3, "2_0_32100000", "USB 2"},
        {5, 4, "1_3_32100000", "OPTICAL LINK 1_3"},
        {5, 4, "12", ""},
        {5, 0, "1_3_3", ""},
        {9, 3, "7", "USB 7"},
        {6, 5, "ttyUSB0_9600_8_1_0_0", "ttyUSB0"},
        {6, 5, "_ttyUSB0", ""},
        {11, 0, "127.0.0.3", "127.0.0.3"},
        {13, 5, "ttyACM1_0", "ttyACM1"},
        {8, 5, "ttyS0_1", "ttyS0"},
        {8, 0, "127.0.0.4_2", "127.0.0.4"},
        {8, 3, "ttyS0_1", ""},
        {2, 0, "", ""},
        {-1, 0, "x", ""},
        {12, 0, "x", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(connectionText(c.type, c.link, c.address), c.text)
            << c.type << " " << c.address.toStdString();
}

TEST(PanelLayout, HiddenNamesIgnoreCaseAndMatchWholeNames)
{
    EXPECT_EQ(hiddenParameterNames().size(), 46);
    for (const char *name :
         {"Sessions", "ipaddr", "RESFLAG", "ResFlagCfg", "lowfanenable", "NrOfSlot", "FrontPan"})
        EXPECT_TRUE(isHiddenParameter(QString::fromLatin1(name))) << name;
    for (const char *name : {"HVFanSpeed", "HVFanStat", "PwFanStat", "ResFlagX", "FrontPanel", "Temp"})
        EXPECT_FALSE(isHiddenParameter(QString::fromLatin1(name))) << name;
}

TEST(PanelLayout, StatusLampsOfBothWordLayouts)
{
    using L = Lamp;
    struct Case {
        bool output;
        unsigned word;
        StatusLamps lamps; // Channel ON, OVV, UNV, OVC, Trip
    } cases[] = {
        {true, 0x00, {L::Off, L::On, L::On, L::On, L::On}},
        {true, 0x1F, {L::On, L::Err, L::Err, L::Err, L::Err}},
        {true, 0x18, {L::On, L::On, L::On, L::On, L::Err}},
        {true, 0x01, {L::Off, L::On, L::On, L::Err, L::On}},
        {true, 0x07, {L::Off, L::Err, L::Err, L::Err, L::On}},
        {false, 0x21, {L::On, L::On, L::On, L::On, L::Err}},
        {false, 0x02, {L::Off, L::On, L::On, L::Err, L::On}},
        {false, 0x08, {L::Off, L::On, L::Err, L::On, L::On}},
        {false, 0x0E, {L::Off, L::Err, L::Err, L::Err, L::On}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.output ? lampsFromOutputWord(c.word) : lampsFromFrontPanelWord(c.word), c.lamps)
            << c.word;
    EXPECT_EQ(pw48Lamp(1), Lamp::On);
    EXPECT_EQ(pw48Lamp(2), Lamp::Off);
}

TEST(PanelLayout, FanPairsAreCompletePairs)
{
    struct Case {
        QString value;
        std::vector<std::pair<int, int>> pairs;
    } cases[] = {
        {"1:1500:0:0", {{1, 1500}, {0, 0}}},
        {"1:1500:0", {{1, 1500}}},
        {"", {}},
        {"x:y", {{0, 0}}},
        {":1200", {{0, 1200}}},
        {"-3:10:2:20:1", {{-3, 10}, {2, 20}}},
    };
    for (const Case &c : cases) {
        const QVector<FanPair> got = fanPairs(c.value);
        ASSERT_EQ(size_t(got.size()), c.pairs.size()) << c.value.toStdString();
        for (size_t i = 0; i < c.pairs.size(); ++i) {
            EXPECT_EQ(got[int(i)].status, c.pairs[i].first);
            EXPECT_EQ(got[int(i)].reading, c.pairs[i].second);
        }
    }
    EXPECT_EQ(fanLamp(0), Lamp::Err);
    EXPECT_EQ(fanLamp(-1), Lamp::Err);
    EXPECT_EQ(fanLamp(1), Lamp::On);
    EXPECT_EQ(fanLamp(7), Lamp::On);
}

TEST(PanelLayout, FlagMasks)
{
    EXPECT_EQ(flagsOfMask(0x25), (std::array<bool, 6>{true, false, true, false, false, true}));
    EXPECT_EQ(flagsOfMask(0xC1), (std::array<bool, 6>{true, false, false, false, false, false}));
    EXPECT_EQ(maskOfFlags(flagsOfMask(0x3F)), 0x3F);
    EXPECT_EQ(maskOfFlags(flagsOfMask(0xC1)), 0x01);
    EXPECT_EQ(flagWriteValue(0x05), 0xFF05);
    EXPECT_EQ(flagWriteValue(0x3B), 0xFF3B);
}

TEST(PanelLayout, RecoveryAndResetBits)
{
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rstRecFlagValue(false, i), 1 << i);
        EXPECT_EQ(rstRecFlagValue(true, i), 256 << i);
    }
    EXPECT_EQ(rstRecFlagValue(false, 6), 0);
}

TEST(PanelLayout, CommandPlans)
{
    struct Case {
        Action action;
        int type;
        CommandEffect effect;
        QString command;
    } cases[] = {
        {Action::Kill, 2, CommandEffect::ExecComm, "Kill"},
        {Action::Kill, 16, CommandEffect::ExecComm, "Kill"},
        {Action::Kill, 5, CommandEffect::TurnOffAllChannels, ""},
        {Action::Kill, 6, CommandEffect::TurnOffAllChannels, ""},
        {Action::TurnOffAll, 11, CommandEffect::TurnOffAllChannels, ""},
        {Action::ClearAlarm, 6, CommandEffect::ClearAlarmForNim, ""},
        {Action::ClearAlarm, 13, CommandEffect::ExecComm, "BdClr"},
        {Action::ClearAlarm, 3, CommandEffect::ExecComm, "ClearAlarm"},
        {Action::GlobalOn, 16, CommandEffect::ExecComm, "GlobalOn"},
        {Action::GlobalOff, 16, CommandEffect::ExecComm, "GlobalOff"},
    };
    for (const Case &c : cases) {
        const CommandPlan plan = commandPlan(c.action, c.type);
        EXPECT_EQ(plan.effect, c.effect);
        EXPECT_EQ(plan.command, c.command);
        EXPECT_TRUE(plan.question.contains(QLatin1String("%0")));
    }
}

TEST(PanelLayout, EveryLayoutPlacesEachButtonOnce)
{
    for (int type : {2, 3, 5, 6, 8, 9, 11, 13, 16, -1, 12}) {
        const TypeLayout &l = layoutFor(type);
        std::vector<int> seen(CommandButtonCount, 0);
        for (const auto *row : {&l.row1, &l.row2, &l.row3})
            for (const ButtonPlace &p : *row)
                ++seen[size_t(p.button)];
        for (int n : seen)
            EXPECT_LE(n, 1) << type;
    }
    EXPECT_EQ(layoutFor(12).type, -2);
}

} // namespace
