/* Event values read by the node's data type. */
#include "KORUHVMirrorNode.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVUtils.h"

#include "qt_gtest_print.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

IDValue_t bytes(std::initializer_list<unsigned char> b)
{
    IDValue_t v;
    std::memset(&v, 0, sizeof v);
    std::copy(b.begin(), b.end(), reinterpret_cast<unsigned char *>(v.StringValue));
    return v;
}

IDValue_t floatValue(float f)
{
    IDValue_t v;
    std::memset(&v, 0, sizeof v);
    v.FloatValue = f;
    return v;
}

struct EventCase {
    int dataType;
    IDValue_t raw;
    QMetaType::Type metaType;
    QVariant expected;
};

TEST(EventValue, ByDataType)
{
    const EventCase cases[] = {
        {DATA_INT16, bytes({0xFF, 0xFF, 0, 0}), QMetaType::Int, QVariant(-1)},
        {DATA_UINT16, bytes({0xFF, 0xFF, 0, 0}), QMetaType::Int, QVariant(65535)},
        {DATA_INT32, bytes({0xFF, 0xFF, 0xFF, 0xFF}), QMetaType::Int, QVariant(-1)},
        {2, bytes({0xFF, 0xFF, 0xFF, 0xFF}), QMetaType::Int, QVariant(-1)},
        {DATA_UINT32, bytes({0xFF, 0xFF, 0xFF, 0xFF}), QMetaType::UInt, QVariant(4294967295u)},
        {5, bytes({0, 0, 0, 0x80}), QMetaType::UInt, QVariant(0x80000000u)},
        {DATA_FLOAT, floatValue(12.5f), QMetaType::Float, QVariant(12.5f)},
        {DATA_ONOFF, bytes({2, 0, 0, 0}), QMetaType::Bool, QVariant(true)},
        {DATA_ONOFF, bytes({0, 0, 0, 0}), QMetaType::Bool, QVariant(false)},
        {DATA_ONOFF, bytes({0, 0, 0, 0x80}), QMetaType::Bool, QVariant(true)},
        {DATA_ENUM, bytes({3, 0, 0, 0}), QMetaType::Float, QVariant(3.0f)},
        {DATA_STRING, bytes({'A', 'B', 0, 'C'}), QMetaType::QString, QVariant(QString("AB"))},
        {DATA_STRING, bytes({0, 'A'}), QMetaType::QString, QVariant(QString())},
        {DATA_STRING, bytes({'x', 0xB0, 0}), QMetaType::QString, QVariant(QString("x") + QChar(0xB0))},
    };
    for (const auto &c : cases) {
        KORUHVNode node;
        node.setDataType(static_cast<nodeDataType>(c.dataType));
        const QDateTime before = QDateTime::currentDateTime();
        const KORUHVNodeValue v = KORUHVUtils::KORUHVCreateValueFromNodeTypeAndEventType(&node, c.raw);
        EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_GOOD) << c.dataType;
        EXPECT_EQ(v.KORUHVGetValue().typeId(), c.metaType) << c.dataType;
        EXPECT_EQ(v.KORUHVGetValue(), c.expected) << c.dataType;
        EXPECT_GE(v.KORUHVGetTimestamp(), before);
    }
}

TEST(EventValue, StringFillingTheWholeFieldStopsAtItsEnd)
{
    IDValue_t v;
    std::memset(v.StringValue, 'Q', sizeof v.StringValue);
    KORUHVNode node;
    node.setDataType(DATA_STRING);
    const QString text =
        KORUHVUtils::KORUHVCreateValueFromNodeTypeAndEventType(&node, v).KORUHVGetValue().toString();
    EXPECT_EQ(text.size(), 1024);
    EXPECT_EQ(text, QString(1024, 'Q'));
}

TEST(EventValue, NullNodeOrUnknownTypeGivesTheDefault)
{
    const IDValue_t raw = bytes({7, 0, 0, 0});
    KORUHVNodeValue v = KORUHVUtils::KORUHVCreateValueFromNodeTypeAndEventType(nullptr, raw);
    EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_NOT_READ);
    EXPECT_EQ(v.KORUHVGetValue(), QVariant(0));
    EXPECT_EQ(v.KORUHVGetValue().typeId(), QMetaType::Int);

    for (int type : {-1, 10, 99}) {
        KORUHVNode node;
        node.setDataType(static_cast<nodeDataType>(type));
        v = KORUHVUtils::KORUHVCreateValueFromNodeTypeAndEventType(&node, raw);
        EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_NOT_READ) << type;
        EXPECT_EQ(v.KORUHVGetValue(), QVariant(0)) << type;
    }
}

/* Events of each kind stored in a channel parameter show in its cells. */
TEST(EventValue, StoredInChannelParameterCells)
{
    IDValue_t status = bytes({0x44, 0, 0, 0}); /* bits 2 and 6 */
    const struct {
        nodeDataType dataType;
        unsigned wrapperType;
        IDValue_t raw;
        const char *text;
    } cases[] = {
        {DATA_INT32, 2, status, "E-Trp-Dwn V"},
        {DATA_FLOAT, 0, floatValue(1.005f), "1.00 V"},
        {DATA_INT32, 4, bytes({0, 0, 0, 0x80}), "V 80000000"},
        {DATA_ONOFF, 1, bytes({1, 0, 0, 0}), "On V"},
        {DATA_ENUM, 6, bytes({1, 0, 0, 0}), "Fast V"},
        {DATA_STRING, 5, bytes({'a', 'b', 0}), "ab V"},
        {DATA_UINT32, 0, bytes({0xFF, 0xFF, 0xFF, 0xFF}), "4294967295 V"},
    };
    for (const auto &c : cases) {
        KORUHVNode node;
        node.KORUHVPrepareNode("P", NODE_CHANNEL_PARAM, 2, -1, "", "", "");
        node.setDataType(c.dataType);
        node.setParWrapperType(c.wrapperType);
        node.setSystemType(2);
        node.setExpUnitShortForm("V");
        auto *on = new KORUHVNodeProperty();
        on->setPropName("Onstate");
        on->setPropVal(QString("On"));
        auto *maxval = new KORUHVNodeProperty();
        maxval->setPropName("Maxval");
        maxval->setPropVal(1.0f);
        auto *texts = new KORUHVNodeProperty();
        texts->setPropName("Enum");
        texts->setPropVal(QVariantList{QString("Slow"), QString("Fast")});
        node.addProperty(on);
        node.addProperty(maxval);
        node.addProperty(texts);
        node.setNodeValue(KORUHVUtils::KORUHVCreateValueFromNodeTypeAndEventType(&node, c.raw));
        EXPECT_EQ(node.text(), c.text);
        EXPECT_EQ(node.getMirrorNode()->text(), c.text);
    }
}

} // namespace
