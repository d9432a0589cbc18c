/* Reading and writing parameters through the wrapper (the fake), and the
 * node's write-back of edited values and its subscriptions. */
#include "FakeWrapper.h"
#include "KORUHVNode.h"
#include "KORUHVUtils.h"
#include "model/AppGlobals.h"

#include "qt_gtest_print.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>

namespace {

using fakehv::Raw;

/* One board in slot 2 with two channels; parameters added by the tests. */
class WrapperAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        sys.addBoard(2, 2, "A1535", 77);
        handle = fakehv::addSystem(sys);
    }
    void TearDown() override { fakehv::reset(); }

    fakehv::Board &board() { return fakehv::system(handle).crate[2]; }
    fakehv::Channel &channel(int ch) { return board().channels[ch]; }
    void boardParam(const std::string &name, unsigned type, Raw value, int getCode = 0, int setCode = 0)
    {
        fakehv::Param p;
        p.type = type;
        p.value = value;
        p.getCode = getCode;
        p.setCode = setCode;
        board().params.emplace_back(name, p);
    }
    void channelParam(const std::string &name, unsigned type, Raw value, int getCode = 0, int setCode = 0)
    {
        fakehv::Param p;
        p.type = type;
        p.value = value;
        p.getCode = getCode;
        p.setCode = setCode;
        channel(1).params.emplace_back(name, p);
    }
    void sysProp(const std::string &name, unsigned type, Raw value, int getCode = 0, int setCode = 0)
    {
        fakehv::SysProp p;
        p.type = type;
        p.value = value;
        p.getCode = getCode;
        p.setCode = setCode;
        fakehv::system(handle).props.emplace_back(name, p);
    }
    static size_t count(const char *function) { return fakehv::callsOf(function).size(); }
    static fakehv::Call last(const char *function) { return fakehv::callsOf(function).back(); }

    int handle = -1;
};

struct ReadCase {
    unsigned type;
    Raw raw;
    int code;
    QMetaType::Type metaType;
    QVariant value;
    nodeValueQuality quality;
};

TEST_F(WrapperAccess, ReadBoardAndChannelParametersByType)
{
    const ReadCase cases[] = {
        {0, Raw::f32(12.5f), 0, QMetaType::Float, QVariant(12.5f), QUALITY_GOOD},
        {1, Raw::u32(1), 0, QMetaType::UInt, QVariant(1u), QUALITY_GOOD},
        {2, Raw::u32(0x80000004u), 0, QMetaType::Int, QVariant(int(0x80000004u)), QUALITY_GOOD},
        {3, Raw::u32(0xFFFFFFFFu), 0, QMetaType::Int, QVariant(-1), QUALITY_GOOD},
        {4, Raw::u32(0x80000000u), 0, QMetaType::Int, QVariant(INT_MIN), QUALITY_GOOD},
        {6, Raw::u32(2), 0, QMetaType::Int, QVariant(2), QUALITY_GOOD},
        {0, Raw::f32(12.5f), 5, QMetaType::Int, QVariant(0), QUALITY_READ_FAILED},
        {4, Raw::u32(9), 4098, QMetaType::Int, QVariant(0), QUALITY_READ_FAILED},
    };
    int i = 0;
    for (const auto &c : cases) {
        const std::string name = "P" + std::to_string(i++);
        boardParam(name, c.type, c.raw, c.code);
        channelParam(name, c.type, c.raw, c.code);
        const QDateTime before = QDateTime::currentDateTime();
        const KORUHVNodeValue b =
            KORUHVUtils::KORUHVGetBoardParameterChanged(handle, 2, QString::fromStdString(name), c.type);
        const KORUHVNodeValue ch =
            KORUHVUtils::KORUHVGetChannelParameterChanged(handle, 2, QString::fromStdString(name), 1, c.type);
        for (const KORUHVNodeValue &v : {b, ch}) {
            EXPECT_EQ(v.KORUHVGetValue().typeId(), c.metaType) << name;
            EXPECT_EQ(v.KORUHVGetValue(), c.value) << name;
            EXPECT_EQ(v.KORUHVGetQuality(), c.quality) << name;
            EXPECT_GE(v.KORUHVGetTimestamp(), before);
        }
        const fakehv::Call bc = last("KORUHV_GetBdParam");
        EXPECT_EQ(bc.name, name);
        EXPECT_EQ(bc.list, (std::vector<unsigned short>{2}));
        const fakehv::Call cc = last("KORUHV_GetChParam");
        EXPECT_EQ(cc.slot, 2);
        EXPECT_EQ(cc.list, (std::vector<unsigned short>{1}));
    }
}

TEST_F(WrapperAccess, TypesThatAreNotReadNeverReachTheWrapper)
{
    for (unsigned type : {5u, 7u, 100u}) {
        const KORUHVNodeValue b = KORUHVUtils::KORUHVGetBoardParameterChanged(handle, 2, "Label", type);
        EXPECT_EQ(b.KORUHVGetValue(), QVariant(0));
        EXPECT_EQ(b.KORUHVGetValue().typeId(), QMetaType::Int);
        EXPECT_EQ(b.KORUHVGetQuality(), QUALITY_NOT_SUPPORTED) << type;
        const KORUHVNodeValue ch = KORUHVUtils::KORUHVGetChannelParameterChanged(handle, 2, "Label", 1, type);
        EXPECT_EQ(ch.KORUHVGetValue(), QVariant(0));
        EXPECT_EQ(ch.KORUHVGetQuality(), QUALITY_READ_FAILED) << type;
        const KORUHVNodeValue s = KORUHVUtils::KORUHVGetSystemPropertyChanged(handle, "Label", type + 2);
        EXPECT_EQ(s.KORUHVGetQuality(), QUALITY_READ_FAILED) << type;
    }
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST_F(WrapperAccess, ChannelNameIsReadThroughItsOwnCall)
{
    channel(1).name = "left-arm";
    channelParam("name", 0, Raw::f32(1.0f));
    for (unsigned type : {0u, 5u}) {
        const KORUHVNodeValue v = KORUHVUtils::KORUHVGetChannelParameterChanged(handle, 2, "Name", 1, type);
        EXPECT_EQ(v.KORUHVGetValue(), QVariant(QString("left-arm")));
        EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_GOOD);
    }
    EXPECT_EQ(count("KORUHV_GetChName"), 2u);
    EXPECT_EQ(last("KORUHV_GetChName").list, (std::vector<unsigned short>{1}));
    EXPECT_EQ(count("KORUHV_GetChParam"), 0u);

    /* Another letter case is an ordinary parameter. */
    const KORUHVNodeValue lower = KORUHVUtils::KORUHVGetChannelParameterChanged(handle, 2, "name", 1, 0);
    EXPECT_EQ(lower.KORUHVGetValue(), QVariant(1.0f));
    EXPECT_EQ(count("KORUHV_GetChParam"), 1u);

    channel(1).nameCode = 3;
    const KORUHVNodeValue failed = KORUHVUtils::KORUHVGetChannelParameterChanged(handle, 2, "Name", 1, 5);
    EXPECT_EQ(failed.KORUHVGetValue().typeId(), QMetaType::QString);
    EXPECT_TRUE(failed.KORUHVGetValue().toString().isEmpty());
    EXPECT_EQ(failed.KORUHVGetQuality(), QUALITY_READ_FAILED);
}

TEST_F(WrapperAccess, ReadSystemPropertiesByType)
{
    Raw wide; /* a backend storing a 64-bit integer: only the start counts */
    wide.bytes = {0x34, 0x12, 0x78, 0x56, 0xAA, 0xBB, 0xCC, 0xDD};
    const ReadCase cases[] = {
        {0, Raw::text("HX4400 crate"), 0, QMetaType::QString, QVariant(QString("HX4400 crate")),
         QUALITY_GOOD},
        {1, Raw::f32(0.25f), 0, QMetaType::Float, QVariant(0.25f), QUALITY_GOOD},
        {2, wide, 0, QMetaType::UShort, QVariant::fromValue<unsigned short>(0x1234), QUALITY_GOOD},
        {3, Raw::u32(0xFFFFFFFFu), 0, QMetaType::UInt, QVariant(0xFFFFFFFFu), QUALITY_GOOD},
        {4, Raw::i16(-2), 0, QMetaType::Short, QVariant::fromValue<short>(-2), QUALITY_GOOD},
        {5, wide, 0, QMetaType::Int, QVariant(0x56781234), QUALITY_GOOD},
        {6, Raw::i16(1), 0, QMetaType::Short, QVariant::fromValue<short>(1), QUALITY_GOOD},
        {0, Raw::text("x"), 9, QMetaType::Int, QVariant(0), QUALITY_READ_FAILED},
        {1, Raw::f32(1.0f), 4098, QMetaType::Int, QVariant(0), QUALITY_READ_FAILED},
    };
    int i = 0;
    for (const auto &c : cases) {
        const std::string name = "S" + std::to_string(i++);
        sysProp(name, c.type, c.raw, c.code);
        const KORUHVNodeValue v =
            KORUHVUtils::KORUHVGetSystemPropertyChanged(handle, QString::fromStdString(name), c.type);
        EXPECT_EQ(v.KORUHVGetValue().typeId(), c.metaType) << name;
        EXPECT_EQ(v.KORUHVGetValue(), c.value) << name;
        EXPECT_EQ(v.KORUHVGetQuality(), c.quality) << name;
    }
    EXPECT_EQ(count("KORUHV_GetSysProp"), std::size(cases));
}

TEST_F(WrapperAccess, LatinOneTextsBothWays)
{
    sysProp("Owner", 0, Raw::text("M\xfcller"));
    EXPECT_EQ(KORUHVUtils::KORUHVGetSystemPropertyChanged(handle, "Owner", 0).KORUHVGetValue().toString(),
              QString("M") + QChar(0xFC) + "ller");
    EXPECT_EQ(
        KORUHVUtils::KORUHVSetSystemPropertyChanged(handle, "Owner", 0, QString("Gr") + QChar(0xFC) + "n"),
        0);
    EXPECT_EQ(last("KORUHV_SetSysProp").value.asText(), "Gr\xfcn");
}

/* ---- writes ---- */

struct ChannelWriteCase {
    unsigned type;
    QVariant value;
    int code;          /* expected result */
    uint32_t sentBits; /* the cell handed to the wrapper, when written */
};

TEST_F(WrapperAccess, WriteChannelParameterCells)
{
    const ChannelWriteCase cases[] = {
        {1, QVariant(true), 0, 1u},
        {1, QVariant(QString("1")), 0, 1u},
        {2, QVariant(7), 0, 7u},
        {4, QVariant(0x80000000u), 0, 0x80000000u}, /* bit 31 kept */
        {4, QVariant(QString("4294967295")), 0, 0xFFFFFFFFu},
        {4, QVariant(-1), 0, 0xFFFFFFFFu},
        {6, QVariant(3.0f), 0, 3u},
        {6, QVariant(QString("2.0")), 0, 2u},
        {3, QVariant(QString(" 12 ")), 0, 12u},
    };
    int i = 0;
    for (const auto &c : cases) {
        const std::string name = "W" + std::to_string(i++);
        channelParam(name, c.type, Raw::u32(0));
        QVariant v = c.value;
        EXPECT_EQ(KORUHVUtils::KORUHVSetChannelParameterChanged(handle, 2, QString::fromStdString(name), 1,
                                                                c.type, &v),
                  c.code)
            << name;
        const fakehv::Call call = last("KORUHV_SetChParam");
        EXPECT_EQ(call.name, name);
        EXPECT_EQ(call.slot, 2);
        EXPECT_EQ(call.list, (std::vector<unsigned short>{1}));
        EXPECT_EQ(call.value.asU32(), c.sentBits) << name;
        EXPECT_EQ(v, c.value) << name; /* only numeric parameters replace the variant */
    }
}

TEST_F(WrapperAccess, WriteNumericChannelParameterKeepsTheFloatSent)
{
    channelParam("V0Set", 0, Raw::f32(0.0f));
    QVariant v(QString("12.5"));
    EXPECT_EQ(KORUHVUtils::KORUHVSetChannelParameterChanged(handle, 2, "V0Set", 1, 0, &v), 0);
    EXPECT_FLOAT_EQ(last("KORUHV_SetChParam").value.asF32(), 12.5f);
    EXPECT_EQ(v.typeId(), QMetaType::Float);
    EXPECT_EQ(v, QVariant(12.5f));

    /* Also when the wrapper refuses it. */
    channel(1).find("V0Set")->setCode = 5;
    QVariant d(0.1);
    EXPECT_EQ(KORUHVUtils::KORUHVSetChannelParameterChanged(handle, 2, "V0Set", 1, 0, &d), 5);
    EXPECT_EQ(d.typeId(), QMetaType::Float);
    EXPECT_EQ(d, QVariant(0.1f));
}

TEST_F(WrapperAccess, WriteChannelNameAndUnwrittenTypes)
{
    QVariant name(QString("beam-left"));
    EXPECT_EQ(KORUHVUtils::KORUHVSetChannelParameterChanged(handle, 2, "Name", 1, 0, &name), 0);
    EXPECT_EQ(last("KORUHV_SetChName").name, "beam-left");
    EXPECT_EQ(last("KORUHV_SetChName").list, (std::vector<unsigned short>{1}));
    EXPECT_EQ(channel(1).name, "beam-left");
    EXPECT_EQ(name, QVariant(QString("beam-left")));
    EXPECT_EQ(count("KORUHV_SetChParam"), 0u);

    fakehv::clearCalls();
    for (unsigned type : {5u, 7u, 42u}) {
        QVariant v(QString("x"));
        EXPECT_EQ(KORUHVUtils::KORUHVSetChannelParameterChanged(handle, 2, "Label", 1, type, &v),
                  KORUHV_MODEL_NOT_WRITTEN);
        EXPECT_EQ(KORUHVUtils::KORUHVSetBoardParameterChanged(handle, 2, "Label", type + 2, QString("x")),
                  KORUHV_MODEL_NOT_WRITTEN);
        EXPECT_EQ(KORUHVUtils::KORUHVSetSystemPropertyChanged(handle, "Label", type + 2, QString("x")),
                  KORUHV_MODEL_NOT_WRITTEN);
    }
    EXPECT_TRUE(fakehv::calls().empty());
}

/* A value that does not convert is refused, never sent as 0. */
TEST_F(WrapperAccess, BadValuesAreRefusedBeforeAnyCall)
{
    const struct {
        unsigned type;
        QVariant value;
    } cases[] = {
        {0, QString("abc")},
        {0, QString("")},
        {0, QString("nan")},
        {0, QString("1e39")},
        {0, QString("12,5")},
        {0, QVariant()},
        {1, QString("On")},
        {1, QVariant(-1)},
        {2, QString("abc")},
        {4, QString("4294967296")},
        {4, QVariant(qlonglong(-2147483649LL))},
        {6, QString("1.5")},
        {6, QString("Fast")},
        {3, QVariant(QVariantList{1})},
        {4, QString("FFZZ")},
    };
    for (const auto &c : cases) {
        channelParam("X", c.type, Raw::u32(0));
        boardParam("X", c.type, Raw::u32(0));
        QVariant v = c.value;
        EXPECT_EQ(KORUHVUtils::KORUHVSetChannelParameterChanged(handle, 2, "X", 1, c.type, &v),
                  KORUHV_MODEL_BAD_VALUE)
            << c.type << " " << c.value.toString().toStdString();
        EXPECT_EQ(v, c.value);
        EXPECT_EQ(KORUHVUtils::KORUHVSetBoardParameterChanged(handle, 2, "X", c.type, c.value),
                  KORUHV_MODEL_BAD_VALUE);
        channel(1).params.clear();
        board().params.clear();
    }
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST_F(WrapperAccess, WriteBoardParameters)
{
    boardParam("HVMax", 0, Raw::f32(0.0f));
    boardParam("Label", 5, Raw::text(""));
    boardParam("Mask", 4, Raw::u32(0));
    const QVariant value(QString("12.5"));
    EXPECT_EQ(KORUHVUtils::KORUHVSetBoardParameterChanged(handle, 2, "HVMax", 0, value), 0);
    EXPECT_FLOAT_EQ(last("KORUHV_SetBdParam").value.asF32(), 12.5f);
    EXPECT_EQ(last("KORUHV_SetBdParam").list, (std::vector<unsigned short>{2}));
    EXPECT_EQ(KORUHVUtils::KORUHVSetBoardParameterChanged(handle, 2, "Label", 5, QString("upper row")), 0);
    EXPECT_EQ(last("KORUHV_SetBdParam").value.asText(), "upper row");
    EXPECT_EQ(KORUHVUtils::KORUHVSetBoardParameterChanged(handle, 2, "Mask", 4, QString("2147483648")), 0);
    EXPECT_EQ(last("KORUHV_SetBdParam").value.asU32(), 0x80000000u);
    /* A character Latin-1 cannot carry would reach the device as '?'. */
    EXPECT_EQ(
        KORUHVUtils::KORUHVSetBoardParameterChanged(handle, 2, "Label", 5, QString::fromUtf8("\xe2\x82\xac")),
        KORUHV_MODEL_BAD_VALUE);
    board().find("HVMax")->setCode = 12;
    EXPECT_EQ(KORUHVUtils::KORUHVSetBoardParameterChanged(handle, 2, "HVMax", 0, 3.0f), 12);
}

struct SysWriteCase {
    unsigned type;
    QVariant value;
    int code;
    Raw sent;
};

TEST_F(WrapperAccess, WriteSystemProperties)
{
    const SysWriteCase cases[] = {
        {1, QVariant(QString("0.5")), 0, Raw::f32(0.5f)},
        {2, QVariant(65535), 0, Raw::u16(0xFFFF)},
        {2, QVariant(65536), KORUHV_MODEL_BAD_VALUE, {}}, /* would be sent as 0 */
        {2, QVariant(-1), KORUHV_MODEL_BAD_VALUE, {}},
        {3, QVariant(QString("4294967295")), 0, Raw::u32(0xFFFFFFFFu)},
        {3, QVariant(-1), KORUHV_MODEL_BAD_VALUE, {}},
        {4, QVariant(-1), 0, Raw::u16(0xFFFF)},
        {4, QVariant(32768), KORUHV_MODEL_BAD_VALUE, {}},
        {5, QVariant(65536), 0, Raw::i32(65536)},
        {5, QVariant(QString("x")), KORUHV_MODEL_BAD_VALUE, {}},
        {6, QVariant(true), 0, Raw::u16(1)},
        {0, QVariant(QString(79, 'a')), 0, Raw::text(std::string(79, 'a'))},
        {0, QVariant(QString(80, 'a')), KORUHV_MODEL_BAD_VALUE, {}}, /* refused, not cut */
    };
    int i = 0;
    for (const auto &c : cases) {
        const std::string name = "S" + std::to_string(i++);
        sysProp(name, c.type, Raw::u32(0));
        fakehv::clearCalls();
        EXPECT_EQ(KORUHVUtils::KORUHVSetSystemPropertyChanged(handle, QString::fromStdString(name), c.type,
                                                              c.value),
                  c.code)
            << name;
        if (c.code == 0) {
            ASSERT_EQ(count("KORUHV_SetSysProp"), 1u);
            EXPECT_EQ(last("KORUHV_SetSysProp").value.bytes, c.sent.bytes) << name;
        } else {
            EXPECT_EQ(count("KORUHV_SetSysProp"), 0u) << name;
        }
    }
    fakehv::system(handle).findProp("S0")->setCode = 33;
    EXPECT_EQ(KORUHVUtils::KORUHVSetSystemPropertyChanged(handle, "S0", 1, 1.0f), 33);
}

/* ---- the node's write-back of an edited value ---- */

class EditedValue : public WrapperAccess {
protected:
    void SetUp() override
    {
        WrapperAccess::SetUp();
        channelParam("V0Set", 0, Raw::f32(1.0f));
        node.KORUHVPrepareNode("V0Set", NODE_CHANNEL_PARAM, 2, -1, "", "", "");
        node.setDataType(DATA_FLOAT);
        node.setAccessRights(ACCESS_READ_WRITE);
        node.setParWrapperType(0);
        node.setSysHandle(handle);
        node.setBdSlotNr(2);
        node.setChIdx(1);
        node.setExpUnitShortForm("V");
        node.setNodeValue(KORUHVNodeValue(QVariant(1.0f), QUALITY_GOOD, old));
        fakehv::clearCalls();
    }

    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    KORUHVNode node;
};

TEST_F(EditedValue, SuccessStoresTheFloatSent)
{
    const QDateTime before = QDateTime::currentDateTime();
    EXPECT_EQ(node.setNodeEditedValue(QString("12.25")), 0);
    const KORUHVNodeValue v = node.getNodeValue();
    EXPECT_EQ(v.KORUHVGetValue().typeId(), QMetaType::Float);
    EXPECT_EQ(v.KORUHVGetValue(), QVariant(12.25f));
    EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_GE(v.KORUHVGetTimestamp(), before);
    EXPECT_EQ(node.text(), "12.25 V");
    EXPECT_FLOAT_EQ(last("KORUHV_SetChParam").value.asF32(), 12.25f);
}

TEST_F(EditedValue, RefusedWriteKeepsTheOldValueMarked)
{
    channel(1).find("V0Set")->setCode = 5;
    EXPECT_EQ(node.setNodeEditedValue(QString("12.25")), 5);
    const KORUHVNodeValue v = node.getNodeValue();
    EXPECT_EQ(v.KORUHVGetValue(), QVariant(1.0f));
    EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_EQ(v.KORUHVGetTimestamp(), old);
    EXPECT_EQ(node.text(), "1.00 V");
}

TEST_F(EditedValue, UnparsableValueIsNotWrittenAndMarked)
{
    for (const char *text : {"abc", "1.2.3", "inf"}) {
        EXPECT_EQ(node.setNodeEditedValue(QString(text)), KORUHV_MODEL_BAD_VALUE) << text;
        EXPECT_EQ(node.getNodeValue().KORUHVGetValue(), QVariant(1.0f));
        EXPECT_EQ(node.getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
        EXPECT_EQ(node.text(), "1.00 V");
    }
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST_F(EditedValue, EmptyTextWritesNothingAndKeepsTheQuality)
{
    node.setText("typed");
    EXPECT_EQ(node.setNodeEditedValue(QString()), -1);
    EXPECT_EQ(node.setNodeEditedValue(QVariant()), -1);
    EXPECT_EQ(node.getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_EQ(node.text(), "1.00 V"); /* shows the current value again */
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST_F(EditedValue, NodeKindsThatAreNotWritten)
{
    for (nodeType t : {NODE_CHANNEL, NODE_BOARD, NODE_SYSTEM, NODE_SYSTEM_PSEUDO_PARAM, NODE_GROUP}) {
        KORUHVNode n;
        n.KORUHVPrepareNode("V0Set", t, -1, -1, "", "", "");
        n.setSysHandle(handle);
        EXPECT_EQ(n.setNodeEditedValue(QString("3")), -1) << t;
        EXPECT_EQ(n.getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED) << t;
    }
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST_F(EditedValue, BoardParameterAndSystemProperty)
{
    boardParam("BdIlk", 1, Raw::u32(0));
    KORUHVNode bd;
    bd.KORUHVPrepareNode("BdIlk", NODE_BOARD_PARAM, 2, -1, "", "", "");
    bd.setParWrapperType(1);
    bd.setSysHandle(handle);
    bd.setBdSlotNr(2);
    EXPECT_EQ(bd.setNodeEditedValue(QVariant(1u)), 0);
    EXPECT_EQ(bd.getNodeValue().KORUHVGetValue(), QVariant(1u));
    EXPECT_EQ(last("KORUHV_SetBdParam").value.asU32(), 1u);

    sysProp("HvFanSpeed", 2, Raw::u16(0), 0, 9);
    KORUHVNode sp;
    sp.KORUHVPrepareNode("HvFanSpeed", NODE_SYSTEM_PROPERTY, 2, -1, "", "", "");
    sp.setParWrapperType(2);
    sp.setSysHandle(handle);
    sp.setNodeValue(KORUHVNodeValue(QVariant::fromValue<unsigned short>(1), QUALITY_GOOD, old));
    EXPECT_EQ(sp.setNodeEditedValue(QVariant(2)), 9);
    EXPECT_EQ(sp.getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_EQ(sp.getNodeValue().KORUHVGetValue(), QVariant::fromValue<unsigned short>(1));
    EXPECT_EQ(last("KORUHV_SetSysProp").name, "HvFanSpeed");
}

/* ---- per-node subscriptions ---- */

TEST_F(WrapperAccess, SubscriptionOfOneNodeUsesTheEventServerPort)
{
    const struct {
        nodeType type;
        bool subscribe;
        const char *function;
        int slot;
        int channel;
    } cases[] = {
        {NODE_CHANNEL_PARAM, true, "KORUHV_SubscribeChannelParams", 2, 1},
        {NODE_CHANNEL_PARAM, false, "KORUHV_UnSubscribeChannelParams", 2, 1},
        {NODE_BOARD_PARAM, true, "KORUHV_SubscribeBoardParams", 2, -1},
        {NODE_BOARD_PARAM, false, "KORUHV_UnSubscribeBoardParams", 2, -1},
        {NODE_SYSTEM_PROPERTY, true, "KORUHV_SubscribeSystemParams", -1, -1},
        {NODE_SYSTEM_PROPERTY, false, "KORUHV_UnSubscribeSystemParams", -1, -1},
    };
    ASSERT_EQ(tcpPort.load(), 4400);
    for (const auto &c : cases) {
        KORUHVNode n;
        n.KORUHVPrepareNode("VMon", c.type, -1, -1, "", "", "");
        n.setSysHandle(handle);
        n.setBdSlotNr(2);
        n.setChIdx(1);
        fakehv::clearCalls();
        EXPECT_EQ(c.subscribe ? n.KORUHVSubscribeNode() : n.KORUHVUnSubscribeNode(), 0);
        ASSERT_EQ(fakehv::calls().size(), 1u);
        const fakehv::Call call = fakehv::calls().front();
        EXPECT_EQ(call.function, c.function);
        EXPECT_EQ(call.port, 4400);
        EXPECT_EQ(call.items, "VMon");
        EXPECT_EQ(call.count, 1u);
        EXPECT_EQ(call.slot, c.slot);
        EXPECT_EQ(call.channel, c.channel);
    }
    /* A port the server moved to above 32767 travels as the same 16 bits. */
    tcpPort = 40000;
    KORUHVNode high;
    high.KORUHVPrepareNode("VMon", NODE_BOARD_PARAM, -1, -1, "", "", "");
    high.setSysHandle(handle);
    fakehv::clearCalls();
    EXPECT_EQ(high.KORUHVSubscribeNode(), 0);
    EXPECT_EQ(static_cast<unsigned short>(fakehv::calls().front().port), 40000);
    tcpPort = 4400;

    fakehv::system(handle).codes["KORUHV_SubscribeChannelParams"] = 22;
    KORUHVNode ch;
    ch.KORUHVPrepareNode("VMon", NODE_CHANNEL_PARAM, -1, -1, "", "", "");
    ch.setSysHandle(handle);
    EXPECT_EQ(ch.KORUHVSubscriptionForNode(true), 22);

    fakehv::clearCalls();
    KORUHVNode channelNode;
    channelNode.KORUHVPrepareNode("Chan001", NODE_CHANNEL, -1, -1, "", "", "");
    EXPECT_EQ(channelNode.KORUHVSubscribeNode(), -1);
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST(AppGlobals, MainWindowIsNullUntilRegistered)
{
    EXPECT_EQ(getMainWindow(), nullptr);
    struct Window : MainWindowServices {
        void removeBoardFromGroups(int h, unsigned short s) override { last = {h, s}; }
        std::pair<int, unsigned short> last{-1, 0};
    } window;
    setMainWindow(&window);
    getMainWindow()->removeBoardFromGroups(3, 7);
    EXPECT_EQ(window.last, (std::pair<int, unsigned short>{3, 7}));
    setMainWindow(nullptr);
    EXPECT_EQ(getMainWindow(), nullptr);
}

} // namespace
