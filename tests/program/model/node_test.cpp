/* Node tree, values, properties, mirror cells and cell texts. */
#include "KORUHVMirrorNode.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVNodeValue.h"
#include "views/QCustomTableWidget.h"

#include "qt_gtest_print.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QTableWidget>

namespace {

int deletedNodes = 0;

struct CountedNode : KORUHVNode {
    ~CountedNode() override { ++deletedNodes; }
};

KORUHVNodeProperty *property(const QString &name, const QVariant &value)
{
    auto *p = new KORUHVNodeProperty();
    p->setPropName(name);
    p->setPropVal(value);
    return p;
}

KORUHVNode *channelParam(const QString &name, nodeDataType dataType, unsigned wrapperType,
                         nodeAccessRights access = ACCESS_READ_WRITE)
{
    auto *n = new KORUHVNode();
    n->KORUHVPrepareNode(name, NODE_CHANNEL_PARAM, -1, -1, "", "", "");
    n->setDataType(dataType);
    n->setParWrapperType(wrapperType);
    n->setAccessRights(access);
    return n;
}

KORUHVNodeValue good(const QVariant &v, nodeValueQuality q = QUALITY_GOOD)
{
    return KORUHVNodeValue(v, q, QDateTime::currentDateTime());
}

TEST(NodeValue, Defaults)
{
    const QDateTime before = QDateTime::currentDateTime();
    KORUHVNodeValue v;
    EXPECT_EQ(v.KORUHVGetValue().typeId(), QMetaType::Int);
    EXPECT_EQ(v.KORUHVGetValue(), QVariant(0));
    EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_NOT_READ);
    EXPECT_GE(v.KORUHVGetTimestamp(), before);

    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    KORUHVNodeValue refused(QVariant(1.5f), QUALITY_WRITE_FAILED, old);
    refused.KORUHVSetValue(QVariant(2.5f));
    EXPECT_EQ(refused.KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_EQ(refused.KORUHVGetTimestamp(), old);
}

TEST(NodeProperty, DefaultsAndSetters)
{
    KORUHVNodeProperty p;
    EXPECT_EQ(p.getHandle(), -1);
    EXPECT_EQ(p.getDataType(), DATA_INT32);
    EXPECT_TRUE(p.getPropName().isEmpty());
    EXPECT_EQ(p.getPropVal().KORUHVGetQuality(), QUALITY_NOT_READ);
    EXPECT_STREQ(p.metaObject()->className(), "KORUHVNodeProperty");

    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    p.setPropVal(KORUHVNodeValue(QVariant(1), QUALITY_WRITE_FAILED, old));
    EXPECT_EQ(p.getPropVal().KORUHVGetTimestamp(), old);
    p.setPropVal(QVariant(2));
    EXPECT_EQ(p.getPropVal().KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_GT(p.getPropVal().KORUHVGetTimestamp(), old);
    p.setPropVal(QVariant(3), QUALITY_READ_FAILED);
    EXPECT_EQ(p.getPropVal().KORUHVGetQuality(), QUALITY_READ_FAILED);
    EXPECT_EQ(p.getPropVal().KORUHVGetValue(), QVariant(3));
}

TEST(Node, Defaults)
{
    KORUHVNode n;
    EXPECT_EQ(n.type(), 0);
    EXPECT_EQ(n.getNodeName(), "KORU");
    EXPECT_EQ(n.getNodeType(), NODE_GROUP);
    EXPECT_EQ(n.getSysHandle(), -1);
    EXPECT_EQ(n.getSystemType(), -1);
    EXPECT_EQ(n.getVisualIndex(), -1);
    EXPECT_EQ(n.getCustomViewVisualIndex(), -1);
    EXPECT_EQ(n.getSystemConnType(), -1);
    EXPECT_EQ(n.getNodeDecimals(), 2);
    EXPECT_EQ(n.getNodeValue().KORUHVGetQuality(), QUALITY_NOT_READ);
    EXPECT_FALSE(n.getNodeValue().KORUHVGetValue().isValid());
    EXPECT_TRUE(n.isNodeEnabled());
    EXPECT_FALSE(n.isEnabledInCustomView());
    EXPECT_FALSE(n.getHasLogEnabled());
    EXPECT_FALSE(n.getIsAlarmed());
    EXPECT_FALSE(n.isMirrorNode());
    EXPECT_EQ(n.getMirrorNode(), nullptr);
    EXPECT_EQ(n.getConnectionStatus(), CONN_PENDING);
    n.setNodeName("Pw");
    EXPECT_EQ(n.getNodeName(), "Pw");
}

TEST(Node, PrepareSystemNodeAndMirror)
{
    KORUHVNode sys;
    sys.KORUHVPrepareNode("crate", NODE_SYSTEM, 2, 0, "10.0.0.1", "admin", "secret");
    EXPECT_EQ(sys.getSystemType(), 2);
    EXPECT_EQ(sys.getSystemConnType(), 0);
    EXPECT_EQ(sys.getInitParam(), "10.0.0.1");
    EXPECT_EQ(sys.getUsername(), "admin");
    EXPECT_EQ(sys.getPassword(), "secret");
    EXPECT_EQ(sys.getMirrorNode(), nullptr);

    KORUHVNode param;
    param.KORUHVPrepareNode("V0Set", NODE_CHANNEL_PARAM, 2, -1, "", "", "");
    KORUHVMirrorNode *mirror = param.getMirrorNode();
    ASSERT_NE(mirror, nullptr);
    param.KORUHVPrepareNode("V0Set", NODE_CHANNEL_PARAM, 2, -1, "", "", "");
    EXPECT_EQ(param.getMirrorNode(), mirror);
    EXPECT_EQ(param.getSystemType(), -1); /* arrives when added to a parent */
    EXPECT_TRUE(mirror->isMirrorNode());
    EXPECT_EQ(mirror->type(), 0);
    EXPECT_EQ(mirror->getReferenceNode(), &param);
    EXPECT_TRUE(KORUHVNode::cellIsMirror(mirror));
    EXPECT_FALSE(KORUHVNode::cellIsMirror(&param));
    EXPECT_EQ(KORUHVNode::nodeOfCell(mirror), &param);
    EXPECT_EQ(KORUHVNode::nodeOfCell(&param), &param);
    QTableWidgetItem plain;
    EXPECT_EQ(KORUHVNode::nodeOfCell(&plain), nullptr);
    EXPECT_FALSE(KORUHVNode::cellIsMirror(&plain));

    for (nodeType t : {NODE_BOARD_PARAM, NODE_SYSTEM_PROPERTY, NODE_CHANNEL, NODE_GROUP}) {
        KORUHVNode other;
        other.KORUHVPrepareNode("x", t, 2, -1, "", "", "");
        EXPECT_EQ(other.getMirrorNode(), nullptr) << t;
    }
}

TEST(Node, PrepareSetsLogFlagBySystemType)
{
    for (int sysType = -2; sysType <= 17; ++sysType) {
        const bool logs = sysType >= 0 && sysType != 2 && sysType != 3 && sysType != 8 && sysType != 12;
        for (nodeType t : {NODE_SYSTEM, NODE_CHANNEL_PARAM, NODE_BOARD}) {
            KORUHVNode n;
            n.KORUHVPrepareNode("n", t, sysType, -1, "", "", "");
            EXPECT_EQ(n.getHasLogEnabled(), logs) << "system type " << sysType;
        }
    }
    KORUHVNode kept;
    kept.setHasLogEnabled(true);
    kept.KORUHVPrepareNode("n", NODE_BOARD, 2, -1, "", "", "");
    EXPECT_TRUE(kept.getHasLogEnabled());
}

TEST(NodeTree, SystemTypePropagation)
{
    KORUHVNode sys;
    sys.KORUHVPrepareNode("s", NODE_SYSTEM, 13, 0, "", "", "");
    auto *board = new KORUHVNode();
    board->KORUHVPrepareNode("Board00", NODE_BOARD, -1, -1, "", "", "");
    sys.addChildNode(board);
    EXPECT_EQ(board->getSystemType(), 13);
    auto *param = new KORUHVNode();
    board->addParameter(param);
    EXPECT_EQ(param->getSystemType(), 13);
    sys.addChildNode(nullptr);
    sys.addParameter(nullptr);
    sys.addProperty(nullptr);
    sys.insertChildNode(nullptr, 0);
    EXPECT_EQ(sys.getChildren().size(), 1);
    EXPECT_TRUE(sys.getParameters().isEmpty());
    EXPECT_TRUE(sys.getProperties().isEmpty());

    KORUHVNode group; /* type 8: gathers nodes of other trees */
    group.setSystemType(5);
    group.addChildNode(board);
    EXPECT_EQ(board->getSystemType(), 13);
    group.removeChildNode(0);
}

TEST(NodeTree, RemoveAndInsertChildren)
{
    KORUHVNode sys;
    sys.KORUHVPrepareNode("s", NODE_SYSTEM, 2, 0, "", "", "");
    auto *a = new CountedNode();
    auto *b = new CountedNode();
    sys.addChildNode(a);
    sys.addChildNode(b);
    deletedNodes = 0;
    sys.removeChildNode(2); /* == count: ignored */
    sys.removeChildNode(-1);
    EXPECT_EQ(sys.getChildren().size(), 2);
    sys.removeChildNode(0);
    EXPECT_EQ(deletedNodes, 0);
    EXPECT_EQ(sys.getChildren(), (QVector<KORUHVNode *>{b}));
    sys.insertChildNode(a, 1);
    EXPECT_EQ(sys.getChildren(), (QVector<KORUHVNode *>{b, a}));
    auto *c = new KORUHVNode();
    sys.insertChildNode(c, 0);
    EXPECT_EQ(sys.getChildren(), (QVector<KORUHVNode *>{c, b, a}));
    /* An index past the end appends, so the node is still owned. */
    auto *d = new KORUHVNode();
    sys.insertChildNode(d, 10);
    EXPECT_EQ(sys.getChildren().last(), d);
}

TEST(NodeTree, SysHandleReachesChildrenAndParametersNotProperties)
{
    KORUHVNode sys;
    sys.KORUHVPrepareNode("s", NODE_SYSTEM, 2, 0, "", "", "");
    auto *board = new KORUHVNode();
    board->KORUHVPrepareNode("Board00", NODE_BOARD, -1, -1, "", "", "");
    auto *channel = new KORUHVNode();
    channel->KORUHVPrepareNode("Chan000", NODE_CHANNEL, -1, -1, "", "", "");
    auto *chParam = channelParam("V0Set", DATA_FLOAT, 0);
    auto *sysProp = new KORUHVNode();
    KORUHVNodeProperty *prop = property("Minval", 0.0f);
    chParam->addProperty(prop);
    channel->addParameter(chParam);
    board->addChildNode(channel);
    sys.addChildNode(board);
    sys.addParameter(sysProp);
    sys.setSysHandle(7);
    for (KORUHVNode *n : {&sys, board, channel, chParam, sysProp})
        EXPECT_EQ(n->getSysHandle(), 7);
    EXPECT_EQ(prop->getHandle(), -1);
}

TEST(NodeTree, BoardNameReachesTwoLevels)
{
    KORUHVNode board;
    board.KORUHVPrepareNode("Board03", NODE_BOARD, -1, -1, "", "", "");
    auto *bdParam = new KORUHVNode();
    auto *channel = new KORUHVNode();
    channel->KORUHVPrepareNode("Chan000", NODE_CHANNEL, -1, -1, "", "", "");
    auto *chParam = channelParam("V0Set", DATA_FLOAT, 0);
    channel->addParameter(chParam);
    board.addParameter(bdParam);
    board.addChildNode(channel);
    board.updateBdNameForAllChildren("left crate");
    for (KORUHVNode *n : {&board, bdParam, channel, chParam})
        EXPECT_EQ(n->getBdName(), "left crate");
}

TEST(Node, InitParamOnlyOnce)
{
    KORUHVNode n;
    n.setInitParam("");
    n.setInitParam("10.0.0.2");
    n.setInitParam("10.0.0.3");
    EXPECT_EQ(n.getInitParam(), "10.0.0.2");
}

TEST(NodeTree, ConnectionLossInvalidatesChildrenOnly)
{
    KORUHVNode sys;
    sys.KORUHVPrepareNode("s", NODE_SYSTEM, 2, 0, "", "", "");
    auto *sysProp = new KORUHVNode();
    sysProp->KORUHVPrepareNode("Name", NODE_SYSTEM_PROPERTY, -1, -1, "", "", "");
    sysProp->setNodeValue(good(QString("crate")));
    sys.addParameter(sysProp);
    auto *board = new KORUHVNode();
    board->KORUHVPrepareNode("Board00", NODE_BOARD, -1, -1, "", "", "");
    auto *empty = new KORUHVNode();
    sys.addChildNode(board);
    sys.addChildNode(empty);
    auto *ch0 = new KORUHVNode();
    auto *ch1 = new KORUHVNode();
    ch0->KORUHVPrepareNode("Chan000", NODE_CHANNEL, -1, -1, "", "", "");
    ch1->KORUHVPrepareNode("Chan001", NODE_CHANNEL, -1, -1, "", "", "");
    board->addChildNode(ch0);
    board->addChildNode(ch1);
    auto *chParam = channelParam("V0Set", DATA_FLOAT, 0);
    chParam->setNodeValue(good(12.5f));
    ch0->addParameter(chParam);
    for (KORUHVNode *n : {board, empty, ch0, ch1})
        n->setNodeValue(good(QVariant(1)));

    sys.setConnectionStatus(CONN_OK);
    for (KORUHVNode *n : {board, empty, ch0, ch1})
        EXPECT_EQ(n->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);

    sys.setConnectionStatus(CONN_KO);
    EXPECT_EQ(sys.getConnectionStatus(), CONN_KO);
    for (KORUHVNode *n : {board, empty, ch0, ch1}) {
        EXPECT_EQ(n->getNodeValue().KORUHVGetQuality(), QUALITY_READ_FAILED);
        EXPECT_EQ(n->getNodeValue().KORUHVGetValue(), QVariant(1)); /* value kept */
    }
    EXPECT_EQ(ch0->getNodeValue().KORUHVGetTimestamp(), ch1->getNodeValue().KORUHVGetTimestamp());
    EXPECT_EQ(sysProp->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_EQ(chParam->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
}

TEST(NodeTree, DeletionCascadesExceptFromGroupingNodes)
{
    deletedNodes = 0;
    int deletedProperties = 0;
    auto *sys = new CountedNode();
    sys->KORUHVPrepareNode("s", NODE_SYSTEM, 2, 0, "", "", "");
    auto *board = new CountedNode();
    board->KORUHVPrepareNode("Board00", NODE_BOARD, -1, -1, "", "", "");
    auto *channel = new CountedNode();
    channel->KORUHVPrepareNode("Chan000", NODE_CHANNEL, -1, -1, "", "", "");
    auto *chParam = new CountedNode();
    chParam->KORUHVPrepareNode("V0Set", NODE_CHANNEL_PARAM, -1, -1, "", "", "");
    KORUHVNodeProperty *prop = property("Minval", 0.0f);
    QObject::connect(prop, &QObject::destroyed, [&] { ++deletedProperties; });
    chParam->addProperty(prop);
    channel->addParameter(chParam);
    board->addChildNode(channel);
    sys->addChildNode(board);

    /* The mirror sits in a custom view; the node in the system's table. */
    QTableWidget view(1, 1);
    view.setItem(0, 0, chParam->getMirrorNode());
    QCustomTableWidget table(1, 1);
    table.setItem(0, 0, chParam);

    auto *group = new KORUHVNode(); /* custom-view root */
    group->addChildNode(channel);
    delete group;
    EXPECT_EQ(deletedNodes, 0);
    EXPECT_EQ(view.item(0, 0), chParam->getMirrorNode());

    delete sys;
    EXPECT_EQ(deletedNodes, 4);
    EXPECT_EQ(deletedProperties, 1);
    EXPECT_EQ(view.item(0, 0), nullptr);  /* mirror deleted and out of its table */
    EXPECT_EQ(table.item(0, 0), nullptr); /* node out of its table */
}

TEST(BoardInfo, ValuesByName)
{
    KORUHVNode board;
    board.setBdChCount(24);
    board.setBdModel("A1535");
    board.setBdDescr("24 Ch 3.5KV");
    board.setBdSerNr(0x12345);
    board.setBdFwRelMax("01");
    board.setBdFwRelMin("05");
    KORUHVNode other;
    const struct {
        const char *name;
        QVariant value;
    } cases[] = {
        {"ChCount", QVariant::fromValue<unsigned short>(24)},
        {"BdModel", QString("A1535")},
        {"BdDescr", QString("24 Ch 3.5KV")},
        {"SerNum", QVariant::fromValue<unsigned short>(0x2345)},
        {"FmwRel", QString("01.05")},
        {"chcount", QVariant()},
    };
    for (const auto &c : cases) {
        const KORUHVNodeValue v = other.KORUHVGetBoardInfoValue(&board, c.name);
        EXPECT_EQ(v.KORUHVGetValue(), c.value) << c.name;
        EXPECT_EQ(v.KORUHVGetValue().typeId(), c.value.typeId()) << c.name;
        EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_GOOD) << c.name;
    }
    const KORUHVNodeValue none = other.KORUHVGetBoardInfoValue(nullptr, "BdModel");
    EXPECT_FALSE(none.KORUHVGetValue().isValid());
    EXPECT_EQ(none.KORUHVGetQuality(), QUALITY_READ_FAILED);
}

struct CellCase {
    nodeDataType dataType;
    unsigned wrapperType;
    QVariant value;
    QString unit;
    int decimals;
    QString text;
};

TEST(CellText, ByTypeWithUnit)
{
    const CellCase cases[] = {
        {DATA_FLOAT, 0, QVariant(12.3456f), "V", 2, "12.35 V"},
        {DATA_FLOAT, 0, QVariant(12.3456f), "", 2, "12.35 "},
        {DATA_FLOAT, 0, QVariant(1234567.0), "uA", 0, "1234567 uA"},
        {DATA_FLOAT, 0, QVariant(-0.5f), " V", 3, "-0.500  V"},
        {DATA_INT32, WRAPPER_TYPE_BINARY, QVariant(255), "", 2, " 000000FF"},
        {DATA_INT32, WRAPPER_TYPE_BINARY, QVariant(int(0x80000001)), "mask", 2, "mask 80000001"},
        {DATA_INT32, WRAPPER_TYPE_CHSTATUS, QVariant(1 << 1), "", 2, "Up "},
        {DATA_INT32, WRAPPER_TYPE_BDSTATUS, QVariant(3), "", 2, "3 "},
        {DATA_STRING, WRAPPER_TYPE_STRING, QVariant(QString("left")), "", 2, "left "},
        {DATA_UINT16, 0, QVariant(7), "sec", 2, "7 sec"},
    };
    for (const auto &c : cases) {
        std::unique_ptr<KORUHVNode> n(channelParam("P", c.dataType, c.wrapperType));
        n->setSystemType(2);
        n->setExpUnitShortForm(c.unit);
        n->setNodeDecimals(c.decimals);
        n->setNodeValue(good(c.value));
        EXPECT_EQ(n->text(), c.text) << c.text.toStdString();
        EXPECT_EQ(n->getMirrorNode()->text(), c.text);
        /* The quality does not change the text. */
        n->setNodeValue(good(c.value, QUALITY_WRITE_FAILED));
        EXPECT_EQ(n->text(), c.text);
    }
}

TEST(CellText, OnOffAndEnumFromProperties)
{
    std::unique_ptr<KORUHVNode> onoff(channelParam("Trip", DATA_ONOFF, WRAPPER_TYPE_ONOFF));
    onoff->addProperty(property("Onstate", QString("Enabled")));
    onoff->addProperty(property("Offstate", QString("Disabled")));
    onoff->setNodeValue(good(QVariant(1u)));
    EXPECT_EQ(onoff->text(), "Enabled ");
    onoff->setNodeValue(good(QVariant(false)));
    EXPECT_EQ(onoff->text(), "Disabled ");

    std::unique_ptr<KORUHVNode> en(channelParam("Mode", DATA_ENUM, WRAPPER_TYPE_ENUM));
    en->addProperty(property("Minval", 0.0f));
    en->addProperty(property("Maxval", 1.0f));
    en->addProperty(property("Enum", QVariantList{QString("Slow"), QString("Fast")}));
    en->setNodeValue(good(QVariant(1.0f)));
    EXPECT_EQ(en->text(), "Fast ");
}

TEST(CellText, OnlyChannelParametersHaveText)
{
    for (nodeType t :
         {NODE_SYSTEM, NODE_SYSTEM_PROPERTY, NODE_BOARD, NODE_BOARD_PARAM, NODE_CHANNEL, NODE_GROUP}) {
        KORUHVNode n;
        n.KORUHVPrepareNode("P", t, -1, -1, "", "", "");
        n.setDataType(DATA_FLOAT);
        const QDateTime at = QDateTime::currentDateTime().addSecs(-5);
        n.setNodeValue(KORUHVNodeValue(QVariant(3.5f), QUALITY_READ_FAILED, at));
        EXPECT_TRUE(n.text().isEmpty()) << t;
        EXPECT_EQ(n.getNodeValue().KORUHVGetValue(), QVariant(3.5f));
        EXPECT_EQ(n.getNodeValue().KORUHVGetQuality(), QUALITY_READ_FAILED);
        EXPECT_EQ(n.getNodeValue().KORUHVGetTimestamp(), at);
    }
}

TEST(CellText, NewUnitShowsAtOnce)
{
    std::unique_ptr<KORUHVNode> n(channelParam("I0Set", DATA_FLOAT, 0));
    n->setNodeValue(good(2.0f));
    EXPECT_EQ(n->text(), "2.00 ");
    n->setExpUnitShortForm("uA");
    EXPECT_EQ(n->text(), "2.00 uA");
}

class PowerSwitch : public ::testing::Test {
protected:
    void SetUp() override
    {
        table = std::make_unique<QCustomTableWidget>(3, 1);
        pw = channelParam("Pw", DATA_ONOFF, WRAPPER_TYPE_ONOFF);
        pw->addProperty(property("Onstate", QString("On")));
        pw->addProperty(property("Offstate", QString("Off")));
        pw->setExpUnitShortForm("");
        table->setItem(1, 0, pw);
    }
    void TearDown() override
    {
        table->takeItem(1, 0);
        delete pw;
    }

    std::unique_ptr<QCustomTableWidget> table;
    KORUHVNode *pw = nullptr;
};

TEST_F(PowerSwitch, OnIsGreenBoldWithGreenHeaderOffIsBlackNormal)
{
    pw->setNodeValue(good(QVariant(1u)));
    EXPECT_EQ(pw->text(), "On ");
    EXPECT_EQ(pw->foreground().color(), QColor(53, 169, 18));
    EXPECT_EQ(pw->font().weight(), QFont::Bold);
    ASSERT_NE(table->verticalHeaderItem(1), nullptr);
    EXPECT_EQ(table->verticalHeaderItem(1)->background().color(), QColor(53, 169, 18));
    EXPECT_EQ(table->verticalHeaderItem(1)->foreground().color(), QColor(Qt::white));

    pw->setNodeValue(good(QVariant(0u)));
    EXPECT_EQ(pw->text(), "Off ");
    EXPECT_EQ(pw->foreground().color(), QColor(0, 0, 0));
    EXPECT_EQ(pw->font().weight(), QFont::Normal);
    EXPECT_EQ(table->verticalHeaderItem(1)->background().color(), QColor(128, 128, 128));
}

TEST_F(PowerSwitch, MirrorColouredInItsOwnTable)
{
    QCustomTableWidget view(4, 1);
    view.setItem(3, 0, pw->getMirrorNode());
    QFont italic;
    italic.setItalic(true);
    pw->setFont(italic); /* the mirror starts from the node's own cell font */
    pw->setNodeValue(good(QVariant(true)));
    EXPECT_EQ(pw->getMirrorNode()->text(), "On ");
    EXPECT_EQ(pw->getMirrorNode()->foreground().color(), QColor(53, 169, 18));
    EXPECT_TRUE(pw->getMirrorNode()->font().italic());
    EXPECT_EQ(pw->getMirrorNode()->font().weight(), QFont::Bold);
    ASSERT_NE(view.verticalHeaderItem(3), nullptr);
    EXPECT_EQ(view.verticalHeaderItem(3)->background().color(), QColor(53, 169, 18));
    view.takeItem(3, 0);
}

TEST(PowerSwitchName, OtherCaseKeepsItsColours)
{
    QCustomTableWidget table(1, 1);
    KORUHVNode *pw = channelParam("PW", DATA_ONOFF, WRAPPER_TYPE_ONOFF);
    table.setItem(0, 0, pw);
    pw->setNodeValue(good(QVariant(1u)));
    EXPECT_FALSE(pw->data(Qt::ForegroundRole).isValid());
    EXPECT_EQ(table.verticalHeaderItem(0), nullptr);
    table.takeItem(0, 0);
    delete pw;
}

TEST(PowerSwitchName, OutsideACustomTableNoHeaderChange)
{
    QTableWidget plain(1, 1);
    KORUHVNode *pw = channelParam("Pw", DATA_ONOFF, WRAPPER_TYPE_ONOFF);
    plain.setItem(0, 0, pw);
    pw->setNodeValue(good(QVariant(1u)));
    EXPECT_EQ(pw->foreground().color(), QColor(53, 169, 18));
    EXPECT_EQ(plain.verticalHeaderItem(0), nullptr);
    plain.takeItem(0, 0);
    delete pw;
}

TEST(CurrentCell, EditableTextCellKeepsWhatIsTyped)
{
    QCustomTableWidget table(2, 1);
    KORUHVNode *v0 = channelParam("V0Set", DATA_FLOAT, 0);
    KORUHVNode *vmon = channelParam("VMon", DATA_FLOAT, 0, ACCESS_READ_ONLY);
    KORUHVNode *onoff = channelParam("Trip", DATA_ONOFF, WRAPPER_TYPE_ONOFF);
    table.setItem(0, 0, v0);
    table.setItem(1, 0, vmon);
    v0->setNodeValue(good(1.0f));
    table.setCurrentItem(v0);
    v0->setText("12.");
    v0->setNodeValue(good(2.0f, QUALITY_READ_FAILED));
    EXPECT_EQ(v0->text(), "12.");
    EXPECT_EQ(v0->getNodeValue().KORUHVGetValue(), QVariant(2.0f));
    EXPECT_EQ(v0->getNodeValue().KORUHVGetQuality(), QUALITY_READ_FAILED);
    EXPECT_EQ(v0->getMirrorNode()->text(), "2.00 "); /* the mirror is in no table */

    table.setCurrentItem(vmon);
    vmon->setNodeValue(good(3.0f));
    EXPECT_EQ(vmon->text(), "3.00 ");

    table.setItem(1, 0, onoff); /* deletes vmon */
    table.setCurrentItem(onoff);
    onoff->setNodeValue(good(QVariant(1u)));
    EXPECT_EQ(onoff->text(), " ");

    table.takeItem(0, 0);
    table.takeItem(1, 0);
    delete v0;
    delete onoff;
}

TEST(CurrentCell, MirrorThatIsCurrentKeepsItsText)
{
    QCustomTableWidget own(1, 1);
    QCustomTableWidget view(1, 1);
    KORUHVNode *v0 = channelParam("V0Set", DATA_FLOAT, 0);
    own.setItem(0, 0, v0);
    view.setItem(0, 0, v0->getMirrorNode());
    v0->setNodeValue(good(1.0f));
    view.setCurrentItem(v0->getMirrorNode());
    v0->setNodeValue(good(5.0f));
    EXPECT_EQ(v0->text(), "5.00 ");
    EXPECT_EQ(v0->getMirrorNode()->text(), "1.00 ");
    view.takeItem(0, 0);
    own.takeItem(0, 0);
    delete v0;
}

TEST(CustomTable, HeaderColoursIgnoreRowsOutsideTheTable)
{
    QCustomTableWidget table(2, 1);
    table.setVerticalHeaderColorToGreen(2);
    table.setVerticalHeaderColorToBase(-1);
    EXPECT_EQ(table.verticalHeaderItem(0), nullptr);
    EXPECT_EQ(table.verticalHeaderItem(1), nullptr);
    table.setVerticalHeaderItem(1, new QTableWidgetItem("ch1"));
    table.setVerticalHeaderColorToGreen(1);
    EXPECT_EQ(table.verticalHeaderItem(1)->text(), "ch1");
    EXPECT_EQ(table.verticalHeaderItem(1)->background(), table.getGreenHeaderBrush());
    table.setVerticalHeaderColorToBase(1);
    EXPECT_EQ(table.verticalHeaderItem(1)->background(), table.getBaseHeaderBrush());
    EXPECT_EQ(table.verticalHeaderItem(1)->foreground().color(), QColor(Qt::white));
}

} // namespace
