/* The tree built at connection, over the fake wrapper: the tool tip of each
 * channel parameter made from its properties (and copied to its mirror), the
 * unit texts and decimals, and the channel statuses that start in alarm. */
#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "KORUHVMirrorNode.h"
#include "KORUHVNode.h"
#include "QSystemInterface.h"
#include "app_test_support.h"

#include <gtest/gtest.h>

namespace {

using fakehv::Raw;

fakehv::Param param(unsigned type, unsigned mode, Raw value, std::map<std::string, Raw> props)
{
    fakehv::Param p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    p.props = std::move(props);
    return p;
}

std::map<std::string, Raw> numeric(float min, float max, unsigned short unit = 2, short exp = 0,
                                   short decimals = 1)
{
    return {{"Minval", Raw::f32(min)},
            {"Maxval", Raw::f32(max)},
            {"Unit", Raw::u16(unit)},
            {"Exp", Raw::i16(exp)},
            {"Decimal", Raw::i16(decimals)}};
}

/* A crate of type 3 with one board of four channels; channel n's "Status"
 * holds statuses[n]. */
fakehv::System crate(const std::vector<uint32_t> &statuses)
{
    fakehv::System s;
    s.props.push_back({"IPAddr", {fakehv::SYSPROP_TEXT, 0, Raw::text("192.168.0.99")}});
    s.crate.resize(4);
    fakehv::Board &b = s.addBoard(1, static_cast<unsigned short>(statuses.size()), "HB3002", 7);
    for (size_t i = 0; i < b.channels.size(); ++i) {
        auto &ch = b.channels[i];
        ch.params = {
            {"VSet", param(0, 2, Raw::f32(10), numeric(0, 3000))},
            {"IMon", param(0, 0, Raw::f32(0), numeric(0, 0, 1, -6, 3))},
            {"TripInt", param(4, 2, Raw::u32(0), numeric(0, 255))},
            {"TripExt", param(4, 2, Raw::u32(0), numeric(0, 0))},
            {"Mode", param(6, 2, Raw::u32(0),
                           {{"Minval", Raw::f32(0)},
                            {"Maxval", Raw::f32(2)},
                            {"Unit", Raw::u16(0)},
                            {"Exp", Raw::i16(0)},
                            {"Enum", Raw::enumTexts({"Low", "Mid", "High"})}})},
            {"Pw", param(1, 2, Raw::u32(0), {{"Onstate", Raw::text("On")}, {"Offstate", Raw::text("Off")}})},
            {"Status", param(2, 0, Raw::u32(statuses[i]), {})},
        };
    }
    return s;
}

KORUHVNode *channelParam(QSystemInterface &s, int channel, const char *name)
{
    return KORUHVConfig::KORUHVConfigGetNodeFromItemId(s.getSystemNode(), QLatin1String(name), 1, channel);
}

class TreeBuild : public ::testing::Test {
protected:
    void SetUp() override { fakehv::reset(); }
    void TearDown() override { fakehv::reset(); }
};

} // namespace

TEST_F(TreeBuild, ToolTipsUnitsAndDecimalsOfChannelParameters)
{
    fakehv::queueInit(crate({0, 0}));
    QSystemInterface s(3, 0, QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), 0);
    ASSERT_EQ(s.systemInterfaceCreateSystemTree(nullptr, QString(), QString()), 0);

    const struct {
        const char *name;
        const char *tip;
        const char *unit;
        int decimals;
    } cases[] = {
        // Plain properties, one line each; the last line has no "\n".
        // Exponent 0 is a blank before the unit symbol.
        {"VSet", "Minval : 0\nMaxval : 3000", " V", 1},
        // Every plain property 0: no tool tip at all.
        {"IMon", "", "uA", 3},
        // A register shows its limits as words and its unit as "0x"; its
        // properties are not plain ones, so zeros keep their lines.
        {"TripInt", "Minval : 00000000\nMaxval : 000000FF", "0x", 1},
        {"TripExt", "Minval : 00000000\nMaxval : 00000000", "0x", 1},
        // An enumeration: its first and last texts, no other line.
        {"Mode", "Minval : Low\nMaxval : High", " ", -1},
        {"Pw", "Onstate : On\nOffstate : Off", "", -1},
        {"Status", "", "", -1},
    };
    for (int ch = 0; ch < 2; ++ch)
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.name) + " of channel " + std::to_string(ch));
            KORUHVNode *p = channelParam(s, ch, c.name);
            ASSERT_TRUE(p);
            EXPECT_EQ(p->toolTip(), QString::fromUtf8(c.tip));
            EXPECT_EQ(p->getExpUnitShortForm(), QString::fromUtf8(c.unit));
            if (c.decimals >= 0) {
                EXPECT_EQ(p->getNodeDecimals(), c.decimals);
            }
            ASSERT_TRUE(p->getMirrorNode());
            EXPECT_EQ(p->getMirrorNode()->toolTip(), p->toolTip()) << "the custom view's cell says the same";
        }
}

TEST_F(TreeBuild, ChannelStatusesInAlarmAtConnectionAreListedInTreeOrder)
{
    const struct {
        std::vector<uint32_t> statuses;
        std::vector<int> alarmed; // channels
    } cases[] = {
        {{0, 1, 0, 1}, {}},               // off and on: no alarm
        {{0x8, 1, 0x200 | 1, 0}, {0, 2}}, // over-current, internal trip
        {{0x10, 0x20, 0x40, 0x800}, {0, 1, 2, 3}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.statuses));
        fakehv::reset();
        fakehv::queueInit(crate(c.statuses));
        QSystemInterface s(3, 0, QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), 0);
        ASSERT_EQ(s.systemInterfaceCreateSystemTree(nullptr, QString(), QString()), 0);
        std::vector<int> alarmed;
        for (KORUHVNode *n : s.getAlarmStatusNodes()) {
            ASSERT_TRUE(n);
            EXPECT_EQ(n->getNodeName(), QStringLiteral("Status"));
            alarmed.push_back(n->getChIdx());
        }
        EXPECT_EQ(alarmed, c.alarmed);
    }
}
