/* On/off and enumeration conversions looked up on a node's properties, the
 * property data type and the wrapper's packed lists. */
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVUtils.h"

#include "qt_gtest_print.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <cmath>
#include <limits>

namespace {

/* A parameter node: it owns the properties the tests give it. */
struct ParamNode : KORUHVNode {
    ParamNode() { setNodeType(NODE_CHANNEL_PARAM); }
};

KORUHVNodeProperty *property(const QString &name, const QVariant &value)
{
    auto *p = new KORUHVNodeProperty();
    p->setPropName(name);
    p->setPropVal(value);
    return p;
}

QVariant texts(const QStringList &list)
{
    QVariantList v;
    for (const QString &s : list)
        v.append(s);
    return v;
}

TEST(OnOffText, BothTexts)
{
    ParamNode node;
    node.addProperty(property("Onstate", QString("On")));
    node.addProperty(property("Offstate", QString("Off")));
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromBool(&node, true), "On");
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromBool(&node, false), "Off");

    const struct {
        const char *text;
        bool value;
        bool ok;
    } cases[] = {{"On", true, true},
                 {"Off", false, true},
                 {"on", false, false},
                 {"", false, false},
                 {"Enabled", false, false}};
    for (const auto &c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyBoolFromString(&node, c.text, &ok), c.value) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyBoolFromString(&node, c.text), c.value) << c.text;
    }
}

/* With one text known, another text is unknown, not the other state. */
TEST(OnOffText, OnlyOneTextKnown)
{
    ParamNode offOnly;
    offOnly.addProperty(property("Offstate", QString("Disabled")));
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromBool(&offOnly, true), "");
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromBool(&offOnly, false), "Disabled");
    bool ok = false;
    EXPECT_FALSE(KORUHVUtils::KORUHVConvertPropertyBoolFromString(&offOnly, "Disabled", &ok));
    EXPECT_TRUE(ok);
    for (const char *other : {"", "Enabled", "On"}) {
        ok = true;
        EXPECT_FALSE(KORUHVUtils::KORUHVConvertPropertyBoolFromString(&offOnly, other, &ok)) << other;
        EXPECT_FALSE(ok) << other;
    }

    ParamNode onOnly;
    onOnly.addProperty(property("Onstate", QString("POS")));
    ok = false;
    EXPECT_TRUE(KORUHVUtils::KORUHVConvertPropertyBoolFromString(&onOnly, "POS", &ok));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(KORUHVUtils::KORUHVConvertPropertyBoolFromString(&onOnly, "NEG", &ok));
    EXPECT_FALSE(ok);
}

TEST(Conversions, NodeWithoutPropertiesAndNullNode)
{
    ParamNode node;
    bool ok = true;
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromBool(&node, true), "");
    EXPECT_FALSE(KORUHVUtils::KORUHVConvertPropertyBoolFromString(&node, "On", &ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromEnum(&node, 0), "");
    ok = true;
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyEnumFromString(&node, "A", &ok), 0);
    EXPECT_FALSE(ok);

    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromBool(nullptr, true), "");
    EXPECT_FALSE(KORUHVUtils::KORUHVConvertPropertyBoolFromString(nullptr, "On"));
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromEnum(nullptr, 1), "");
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyEnumFromString(nullptr, "A"), 0);
}

struct EnumCase {
    float minimum;
    float maximum;
    QStringList list;
    int value;
    const char *text;
};

TEST(EnumText, ValueToText)
{
    const EnumCase cases[] = {
        {0, 2, {"Low", "Mid", "High"}, 0, "Low"},
        {0, 2, {"Low", "Mid", "High"}, 2, "High"},
        {0, 2, {"Low", "Mid", "High"}, 3, ""},
        {0, 2, {"Low", "Mid", "High"}, -1, ""},
        {1, 3, {"A", "B", "C"}, 1, "A"},
        {1, 3, {"A", "B", "C"}, 3, "C"},
        {0, 4, {"A", "B"}, 3, ""},      /* list shorter than the range */
        {3, 1, {"A", "B", "C"}, 2, ""}, /* limits the wrong way round */
    };
    for (const auto &c : cases) {
        ParamNode node;
        node.addProperty(property("Minval", c.minimum));
        node.addProperty(property("Maxval", c.maximum));
        node.addProperty(property("Enum", texts(c.list)));
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromEnum(&node, c.value), c.text)
            << c.minimum << ".." << c.maximum << " value " << c.value;
    }
}

TEST(EnumText, TextToValue)
{
    ParamNode node;
    node.addProperty(property("Minval", 1.0f));
    node.addProperty(property("Maxval", 4.0f));
    node.addProperty(property("Enum", texts({"A", "B", "C", "B"})));
    const struct {
        const char *text;
        int value;
        bool ok;
    } cases[] = {{"A", 1, true},  {"C", 3, true}, {"B", 2, true} /* first of two */,
                 {"c", 0, false}, {"", 0, false}, {"D", 0, false}};
    for (const auto &c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyEnumFromString(&node, c.text, &ok), c.value) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
    }
}

/* Limits from a device may be out of any integer range or not numbers. */
TEST(EnumText, LimitsOutOfRange)
{
    for (float minimum :
         {3e9f, -3e9f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        ParamNode node;
        node.addProperty(property("Minval", minimum));
        node.addProperty(property("Maxval", std::numeric_limits<float>::quiet_NaN()));
        node.addProperty(property("Enum", texts({"A", "B"})));
        EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromEnum(&node, 0), "") << minimum;
        bool ok = true;
        const int value = KORUHVUtils::KORUHVConvertPropertyEnumFromString(&node, "B", &ok);
        const bool noNumber = !std::isfinite(minimum);
        EXPECT_EQ(ok, noNumber)
            << minimum; /* a limit that is no number counts as 0; the others leave the int range */
        EXPECT_EQ(value, noNumber ? 1 : 0) << minimum;
    }
}

TEST(EnumText, StringListAndOnlyFirstEnumProperty)
{
    ParamNode node;
    node.addProperty(property("Minval", 0.0f));
    node.addProperty(property("Maxval", 1.0f));
    node.addProperty(property("Enum", QStringList{"X", "Y"}));
    node.addProperty(property("Enum", QStringList{"P", "Q"}));
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyStringFromEnum(&node, 1), "Y");
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyEnumFromString(&node, "Y"), 1);
    bool ok = true;
    EXPECT_EQ(KORUHVUtils::KORUHVConvertPropertyEnumFromString(&node, "Q", &ok), 0);
    EXPECT_FALSE(ok);
}

TEST(PropertyDataType, ByName)
{
    EXPECT_EQ(KORUHVUtils::KORUHVSelectPropertyDataType("Enum"), DATA_ENUM);
    for (const char *name : {"enum", "Minval", "Maxval", "Unit", "Exp", "Onstate", "Offstate", ""})
        EXPECT_EQ(KORUHVUtils::KORUHVSelectPropertyDataType(name), DATA_FLOAT) << name;
}

TEST(PackedLists, TextBlock)
{
    char block[] = {'A', '1', '5', '\0', '\0', 'x', '\xe9', '\0', 'Z'};
    char *p = block;
    const QVector<QString> three = KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&p, 3);
    ASSERT_EQ(three.size(), 3);
    EXPECT_EQ(three[0], "A15");
    EXPECT_EQ(three[1], "");
    EXPECT_EQ(three[2], QString("x") + QChar(0xE9)); /* one byte, one Latin-1 character */
    EXPECT_TRUE(KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&p, 0).isEmpty());
    EXPECT_TRUE(KORUHVUtils::KORUHVCreateStringVectorFromCharSS(nullptr, 2).isEmpty());
    char *none = nullptr;
    EXPECT_TRUE(KORUHVUtils::KORUHVCreateStringVectorFromCharSS(&none, 2).isEmpty());
}

TEST(PackedLists, FirmwareBytes)
{
    unsigned char bytes[] = {3, 12, 200, 0};
    unsigned char *p = bytes;
    EXPECT_EQ(KORUHVUtils::KORUHVCreateStringVectorForFwRel(&p, 4),
              (QVector<QString>{"03", "12", "200", "00"}));
    EXPECT_TRUE(KORUHVUtils::KORUHVCreateStringVectorForFwRel(&p, 0).isEmpty());
}

TEST(OnOffCode, Texts)
{
    EXPECT_EQ(KORUHVUtils::KORUHVConvertParamTypeOnOff(0), "Off");
    EXPECT_EQ(KORUHVUtils::KORUHVConvertParamTypeOnOff(1), "On");
    EXPECT_EQ(KORUHVUtils::KORUHVConvertParamTypeOnOff(2), "");
}

} // namespace
