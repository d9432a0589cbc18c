// Building the system tree against scripted systems: crate shapes, empty
// slotNodes, refused channel names, missing "Type"/"Mode", failed lists, the
// type and access mappings, "Name" and the channel-parameter order.
#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "tree_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using fakehv::Raw;

class TreeBuild : public ::testing::Test {
protected:
    void SetUp() override { fakehv::reset(); }
    void TearDown() override
    {
        for (KORUHVNode *n : owned)
            delete n;
    }
    // The builder's results belong to the caller; the test owns them here.
    QVector<KORUHVNode *> keep(QVector<KORUHVNode *> nodes)
    {
        for (KORUHVNode *n : nodes)
            owned.append(n);
        return nodes;
    }
    QVector<KORUHVNode *> owned;
};

fakehv::Param param(unsigned type, unsigned mode, Raw value)
{
    fakehv::Param p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    return p;
}

QStringList names(const QVector<KORUHVNode *> &nodes)
{
    QStringList out;
    for (KORUHVNode *n : nodes)
        out << n->getNodeName();
    return out;
}

} // namespace

TEST_F(TreeBuild, SlotsKeepTheirPositions)
{
    fakehv::System sys;
    sys.crate.resize(6);
    fakehv::Board &b0 = sys.addBoard(0, 4, "A1833", 1234);
    b0.description = "12 Ch Neg. 3KV";
    b0.fwMajor = 2;
    b0.fwMinor = 11;
    sys.addBoard(2, 12, "A1535", 99);
    sys.addBoard(5, 1, "A1520", 4000000000u);
    const int h = fakehv::addSystem(sys);

    const auto slotNodes = keep(KORUHVConfig::KORUHVConfigCreateBoards(h));
    ASSERT_EQ(slotNodes.size(), 6);
    const struct {
        int slot;
        const char *name;
        int visual;
        unsigned short channels;
    } boards[] = {{0, "Board00", 0, 4}, {2, "Board02", 1, 12}, {5, "Board05", 2, 1}};
    for (const auto &b : boards) {
        KORUHVNode *n = slotNodes[b.slot];
        EXPECT_EQ(n->getNodeType(), NODE_BOARD) << b.slot;
        EXPECT_EQ(n->getNodeName(), QString(b.name));
        EXPECT_EQ(n->getVisualIndex(), b.visual) << "boards counted without gaps";
        EXPECT_EQ(n->getBdSlotNr(), b.slot);
        EXPECT_EQ(n->getBdChCount(), b.channels);
        EXPECT_EQ(n->getSysHandle(), h);
    }
    EXPECT_EQ(slotNodes[0]->getBdModel(), QStringLiteral("A1833"));
    EXPECT_EQ(slotNodes[0]->getBdDescr(), QStringLiteral("12 Ch Neg. 3KV"));
    EXPECT_EQ(slotNodes[0]->getBdSerNr(), 1234u);
    EXPECT_EQ(slotNodes[0]->getBdFwRelMax(), QStringLiteral("02"));
    EXPECT_EQ(slotNodes[0]->getBdFwRelMin(), QStringLiteral("11"));
    EXPECT_EQ(slotNodes[5]->getBdSerNr(), 4000000000u);
    for (int empty : {1, 3, 4}) {
        KORUHVNode *n = slotNodes[empty];
        EXPECT_EQ(n->getNodeType(), NODE_GROUP) << empty;
        EXPECT_EQ(n->getNodeName(), QStringLiteral("KORU")) << "an empty name reads as KORU";
        EXPECT_EQ(n->getSysHandle(), -1);
        EXPECT_EQ(n->getVisualIndex(), -1);
        EXPECT_EQ(n->getBdSlotNr(), 0);
    }
}

TEST_F(TreeBuild, CrateMapEdgeCases)
{
    {
        fakehv::System sys;
        sys.addBoard(100, 2);
        const auto slotNodes = keep(KORUHVConfig::KORUHVConfigCreateBoards(fakehv::addSystem(sys)));
        ASSERT_EQ(slotNodes.size(), 101);
        EXPECT_EQ(slotNodes[100]->getNodeName(), QStringLiteral("Board100")) << "two digits are a minimum";
    }
    {
        fakehv::System sys;
        sys.addBoard(0, 2);
        sys.crateMapCode = 5;
        EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateBoards(fakehv::addSystem(sys)).isEmpty());
    }
    {
        fakehv::System sys; // a crate without slotNodes
        EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateBoards(fakehv::addSystem(sys)).isEmpty());
    }
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateBoards(77).isEmpty()) << "handle not open";
}

TEST_F(TreeBuild, ChannelsWhoseNameIsRefusedAreLeftOut)
{
    fakehv::System sys;
    fakehv::Board &b = sys.addBoard(3, 4);
    b.channels[1].nameCode = 10;
    b.channels[3].nameCode = 10;
    const int h = fakehv::addSystem(sys);
    const auto channels = keep(KORUHVConfig::KORUHVConfigCreateChannels(h, 3, 4));
    EXPECT_EQ(names(channels), (QStringList{"Chan000", "Chan002"}));
    EXPECT_EQ(channels[1]->getChIdx(), 2) << "positions no longer equal channel numbers";
    EXPECT_EQ(channels[1]->getBdSlotNr(), 3);
    EXPECT_EQ(channels[1]->getNodeType(), NODE_CHANNEL);
    EXPECT_EQ(channels[1]->getSysHandle(), h);
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateChannels(h, 3, 0).isEmpty()) << "a board without channels";
    std::unique_ptr<KORUHVNode> named(KORUHVConfig::KORUHVConfigCreateNodeChannel("ignored", 11, 0));
    EXPECT_EQ(named->getNodeName(), QStringLiteral("Chan011")) << "named from the channel number";
}

TEST_F(TreeBuild, SystemPropertiesTypesAndAccess)
{
    fakehv::System sys;
    sys.props = {
        {"ModelName", {fakehv::SYSPROP_TEXT, 0, Raw::text("HX4400"), 0, 0, 0}},
        {"HvFanSpeed", {fakehv::SYSPROP_FLOAT, 2, Raw::f32(1.5f), 0, 0, 0}},
        {"Broken", {fakehv::SYSPROP_U16, 2, Raw::u16(1), 9, 0, 0}}, // info refused
        {"Word16", {fakehv::SYSPROP_U16, 1, Raw::u16(65535), 0, 0, 0}},
        {"Word32", {fakehv::SYSPROP_U32, 2, Raw::u32(4000000000u), 0, 0, 0}},
        {"Short", {fakehv::SYSPROP_I16, 7, Raw::i16(-3), 0, 0, 0}},
        {"Int", {fakehv::SYSPROP_I32, 0, Raw::i32(-70000), 0, 0, 0}},
        {"OnOff", {fakehv::SYSPROP_ONOFF, 2, Raw::i16(1), 0, 0, 0}},
        {"Future", {9, 0, Raw::u32(1), 0, 0, 0}},
    };
    const int h = fakehv::addSystem(sys);
    const auto props = keep(KORUHVConfig::KORUHVConfigCreateSystemProps(h));
    EXPECT_EQ(names(props), (QStringList{"ModelName", "HvFanSpeed", "Word16", "Word32", "Short", "Int",
                                         "OnOff", "Future"}));
    const struct {
        nodeDataType type;
        nodeAccessRights access;
        QVariant value;
    } expected[] = {
        {DATA_STRING, ACCESS_READ_ONLY, QVariant(QStringLiteral("HX4400"))},
        {DATA_FLOAT, ACCESS_READ_WRITE, QVariant(1.5f)},
        {DATA_UINT16, ACCESS_WRITE_ONLY, QVariant::fromValue<quint16>(65535)},
        {DATA_UINT32, ACCESS_READ_WRITE, QVariant(4000000000u)},
        {DATA_INT16, ACCESS_OTHER, QVariant::fromValue<qint16>(-3)},
        {DATA_INT32, ACCESS_READ_ONLY, QVariant(-70000)},
        {DATA_ONOFF, ACCESS_READ_WRITE, QVariant::fromValue<qint16>(1)},
    };
    for (int i = 0; i < 7; ++i) {
        const KORUHVNode *n = props[i];
        EXPECT_EQ(n->getNodeType(), NODE_SYSTEM_PROPERTY);
        EXPECT_EQ(n->getDataType(), expected[i].type) << i;
        EXPECT_EQ(n->getAccessRights(), expected[i].access) << i;
        EXPECT_EQ(n->getSysHandle(), h);
        EXPECT_EQ(n->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD) << i;
        EXPECT_EQ(n->getNodeValue().KORUHVGetValue(), expected[i].value) << i;
        EXPECT_EQ(n->getNodeValue().KORUHVGetValue().metaType(), expected[i].value.metaType()) << i;
    }
    // A type above 6 gets its node with the default data type and no read.
    EXPECT_EQ(props[7]->getParWrapperType(), 9u);
    EXPECT_EQ(props[7]->getDataType(), KORUHVNode().getDataType());
    EXPECT_EQ(props[7]->getNodeValue().KORUHVGetQuality(), QUALITY_READ_FAILED);

    fakehv::System failing;
    failing.props = sys.props;
    failing.propListCode = 3;
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateSystemProps(fakehv::addSystem(failing)).isEmpty());
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateSystemProps(fakehv::addSystem(fakehv::System())).isEmpty());
}

TEST_F(TreeBuild, PseudoParameters)
{
    const struct {
        connStatus status;
        const char *text;
        int count;
    } cases[] = {{CONN_PENDING, "Connection Pending", 1},
                 {CONN_OK, "Connection Ok", 2},
                 {CONN_KO, "Connection Ko", 1}};
    for (const auto &c : cases) {
        const auto nodes = keep(KORUHVConfig::KORUHVConfigCreateSystemFurtherParams(c.status, 6));
        ASSERT_EQ(nodes.size(), c.count) << c.text;
        EXPECT_EQ(nodes[0]->getNodeName(), QStringLiteral("ConnStat"));
        EXPECT_EQ(nodes[0]->getNodeType(), NODE_SYSTEM_PSEUDO_PARAM);
        EXPECT_EQ(nodes[0]->getDataType(), DATA_STRING);
        EXPECT_EQ(nodes[0]->getAccessRights(), ACCESS_READ_ONLY);
        EXPECT_EQ(nodes[0]->getConnectionStatus(), c.status);
        EXPECT_EQ(nodes[0]->getNodeValue().KORUHVGetValue(), QVariant(QString(c.text)));
        EXPECT_EQ(nodes[0]->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
        if (c.count == 2) {
            EXPECT_EQ(nodes[1]->getNodeName(), QStringLiteral("NrOfSlot"));
            EXPECT_EQ(nodes[1]->getDataType(), DATA_UINT16);
            EXPECT_EQ(nodes[1]->getSlotCount(), 6);
            EXPECT_EQ(nodes[1]->getNodeValue().KORUHVGetValue(), QVariant::fromValue<quint16>(6));
            EXPECT_EQ(nodes[1]->getNodeValue().KORUHVGetTimestamp(),
                      nodes[0]->getNodeValue().KORUHVGetTimestamp());
        }
    }
}

TEST_F(TreeBuild, BoardParametersTypesModesAndGaps)
{
    fakehv::System sys;
    fakehv::Board &b = sys.addBoard(1, 2);
    b.params = {
        {"HVMax", param(0, 0, Raw::f32(3000.0f))},
        {"Clock", param(1, 2, Raw::u32(1))},
        {"BdStatus", param(3, 0, Raw::u32(0x80000001u))},
        {"NoMode", param(0, 2, Raw::f32(1.0f))},
        {"Word", param(4, 1, Raw::u32(0xff))},
        {"Label", param(5, 2, Raw::text("x"))},
        {"Mode6", param(6, 2, Raw::u32(3))},
        {"Odd", param(11, 9, Raw::u32(0))},
    };
    b.params[3].second.propCodes["Mode"] = 7;
    const int h = fakehv::addSystem(sys);
    const auto params = keep(KORUHVConfig::KORUHVConfigCreateBoardParams(h, 1, 6));
    EXPECT_EQ(names(params), (QStringList{"HVMax", "Clock", "BdStatus", "Word", "Label", "Mode6", "Odd"}))
        << "the parameter without Mode is left out, the rest follow";
    const struct {
        nodeDataType type;
        nodeAccessRights access;
        nodeValueQuality quality;
    } expected[] = {
        {DATA_FLOAT, ACCESS_READ_ONLY, QUALITY_GOOD},
        {DATA_ONOFF, ACCESS_READ_WRITE, QUALITY_GOOD},
        {DATA_INT32, ACCESS_READ_ONLY, QUALITY_GOOD},
        {DATA_INT32, ACCESS_WRITE_ONLY, QUALITY_GOOD},
        {DATA_STRING, ACCESS_READ_WRITE, QUALITY_NOT_SUPPORTED},
        {DATA_ENUM, ACCESS_READ_WRITE, QUALITY_GOOD},
        {DATA_STRING, ACCESS_OTHER, QUALITY_NOT_SUPPORTED},
    };
    for (int i = 0; i < params.size(); ++i) {
        EXPECT_EQ(params[i]->getNodeType(), NODE_BOARD_PARAM);
        EXPECT_EQ(params[i]->getDataType(), expected[i].type) << i;
        EXPECT_EQ(params[i]->getAccessRights(), expected[i].access) << i;
        EXPECT_EQ(params[i]->getNodeValue().KORUHVGetQuality(), expected[i].quality) << i;
        EXPECT_EQ(params[i]->getBdSlotNr(), 1);
        EXPECT_EQ(params[i]->getSysHandle(), h);
        EXPECT_TRUE(params[i]->getHasLogEnabled()) << "system type 6 logs its parameters";
    }
    EXPECT_EQ(params[0]->getNodeValue().KORUHVGetValue(), QVariant(3000.0f));
    EXPECT_EQ(params[2]->getNodeValue().KORUHVGetValue().toInt(), int(0x80000001u));
    // "Type" asked before "Mode", both always.
    const auto props = fakehv::callsOf("KORUHV_GetBdParamProp");
    ASSERT_GE(props.size(), 2u);
    EXPECT_EQ(props[0].property, "Type");
    EXPECT_EQ(props[1].property, "Mode");

    const auto crateParams = keep(KORUHVConfig::KORUHVConfigCreateBoardParams(h, 1, 2));
    EXPECT_FALSE(crateParams[0]->getHasLogEnabled()) << "system type 2 does not";
    fakehv::system(h).crate[1].paramInfoCode = 7;
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateBoardParams(h, 1, 6).isEmpty());
}

TEST_F(TreeBuild, ChannelParametersNameAndOrder)
{
    const std::vector<std::string> wrapperOrder = {"V0Set", "I0Set", "V1Set", "I1Set",  "RUp", "RDWn",
                                                   "Trip",  "VMon",  "IMon",  "Status", "Pw"};
    fakehv::System sys;
    fakehv::Board &b = sys.addBoard(0, 2);
    b.channels[0].name = "Det-1";
    for (const std::string &n : wrapperOrder)
        b.channels[0].params.push_back({n, param(n == "Pw" ? 1 : n == "Status" ? 2 : 0, 2, Raw::f32(1.0f))});
    b.channels[1].params = {{"VMon", param(0, 0, Raw::f32(1))},
                            {"Trip", param(0, 2, Raw::f32(1))},
                            {"IMon", param(0, 0, Raw::f32(1))}};
    const int h = fakehv::addSystem(sys);

    struct Case {
        int systemType;
        unsigned short channel;
        QStringList expected;
    };
    const Case cases[] = {
        {2,
         0,
         {"Name", "I0Set", "V0Set", "IMon", "VMon", "Pw", "Status", "RUp", "RDWn", "Trip", "V1Set", "I1Set"}},
        {16,
         0,
         {"Name", "I0Set", "V0Set", "IMon", "VMon", "Pw", "Status", "RUp", "RDWn", "Trip", "V1Set", "I1Set"}},
        {6, 0, {"I0Set", "V0Set", "IMon", "VMon", "Pw", "Status", "RUp", "RDWn", "Trip", "V1Set", "I1Set"}},
        // Three entries: passes 1 and 2 find nothing, pass 3 does not run.
        {6, 1, {"VMon", "Trip", "IMon"}},
        // With "Name" the list holds four: pass 3 runs and moves IMon.
        {3, 1, {"Name", "IMon", "VMon", "Trip"}},
    };
    for (const Case &c : cases) {
        const auto params =
            keep(KORUHVConfig::KORUHVConfigCreateChannelParams(h, c.systemType, 0, c.channel));
        EXPECT_EQ(names(params), c.expected) << c.systemType << "/" << c.channel;
        for (KORUHVNode *p : params) {
            EXPECT_EQ(p->getNodeType(), NODE_CHANNEL_PARAM);
            EXPECT_EQ(p->getChIdx(), c.channel);
            EXPECT_EQ(p->getSysHandle(), h);
            EXPECT_NE(p->getMirrorNode(), nullptr);
        }
    }
    const auto withName = keep(KORUHVConfig::KORUHVConfigCreateChannelParams(h, 2, 0, 0));
    KORUHVNode *name = withName[0];
    EXPECT_EQ(name->getParWrapperType(), 5u);
    EXPECT_EQ(name->getDataType(), DATA_STRING);
    EXPECT_EQ(name->getAccessRights(), ACCESS_READ_WRITE);
    EXPECT_FALSE(name->getHasLogEnabled());
    EXPECT_EQ(name->getNodeValue().KORUHVGetValue(), QVariant(QStringLiteral("Det-1")));
    EXPECT_EQ(name->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);

    // A failed list leaves "Name" alone (or nothing).
    fakehv::system(h).crate[0].channels[0].paramInfoCode = 10;
    EXPECT_EQ(names(keep(KORUHVConfig::KORUHVConfigCreateChannelParams(h, 2, 0, 0))), QStringList{"Name"});
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigCreateChannelParams(h, 6, 0, 0).isEmpty());
}

TEST_F(TreeBuild, LongListsGetAllPassesAndMissingTypesAreSkipped)
{
    fakehv::System sys;
    fakehv::Board &b = sys.addBoard(0, 1);
    const char *order[] = {"A",      "B",  "Trip", "C",    "RDwn", "RUp",
                           "Status", "Pw", "VMon", "imon", "VSet", "ISet"};
    for (const char *n : order)
        b.channels[0].params.push_back({n, param(0, 2, Raw::f32(0))});
    b.channels[0].params[1].second.propCodes["Type"] = 7; // B: no type
    const int h = fakehv::addSystem(sys);
    const auto params = keep(KORUHVConfig::KORUHVConfigCreateChannelParams(h, 6, 0, 0));
    EXPECT_EQ(names(params),
              (QStringList{"ISet", "VSet", "imon", "VMon", "Pw", "Status", "RUp", "RDwn", "Trip", "A", "C"}));
}

TEST_F(TreeBuild, WholeTreeOfAModuleFamily)
{
    // A desktop module (system type 6): no system properties, one board in
    // slot 0 with four channels, one of which the wrapper refuses.
    fakehv::System sys;
    fakehv::Board &b = sys.addBoard(0, 4, "L2290", 42);
    b.params = {{"BdStatus", param(3, 0, Raw::u32(0))}};
    for (int c = 0; c < 4; ++c)
        b.channels[c].params = {{"VSet", param(0, 2, Raw::f32(100.0f + c))},
                                {"VMon", param(0, 0, Raw::f32(0))}};
    b.channels[2].nameCode = 4;
    const int h = fakehv::addSystem(sys);

    std::unique_ptr<KORUHVNode> root(mt::makeSystem("M1", 6, 5, "ttyUSB0_9600_8_0_0"));
    for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateSystemProps(h))
        root->addParameter(p);
    const auto slotNodes = KORUHVConfig::KORUHVConfigCreateBoards(h);
    for (KORUHVNode *s : slotNodes)
        root->addChildNode(s);
    for (KORUHVNode *s : slotNodes) {
        if (s->getNodeType() != NODE_BOARD)
            continue;
        for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateBoardParams(h, s->getBdSlotNr(), 6))
            s->addParameter(p);
        for (KORUHVNode *ch :
             KORUHVConfig::KORUHVConfigCreateChannels(h, s->getBdSlotNr(), s->getBdChCount())) {
            s->addChildNode(ch);
            for (KORUHVNode *p :
                 KORUHVConfig::KORUHVConfigCreateChannelParams(h, 6, s->getBdSlotNr(), ch->getChIdx()))
                ch->addParameter(p);
        }
    }
    for (KORUHVNode *p :
         KORUHVConfig::KORUHVConfigCreateSystemFurtherParams(CONN_OK, quint16(slotNodes.size())))
        root->addParameter(p);

    EXPECT_EQ(names(root->getParameters()), (QStringList{"ConnStat", "NrOfSlot"}));
    ASSERT_EQ(root->getChildren().size(), 1);
    KORUHVNode *board = root->getChildren()[0];
    EXPECT_EQ(board->getSystemType(), 6) << "taken from the parent when added";
    EXPECT_EQ(names(board->getChildren()), (QStringList{"Chan000", "Chan001", "Chan003"}));
    KORUHVNode *vset3 = board->getChildren()[2]->getParameters()[0];
    EXPECT_EQ(vset3->getNodeName(), QStringLiteral("VSet"));
    EXPECT_EQ(vset3->getNodeValue().KORUHVGetValue(), QVariant(103.0f));
    EXPECT_EQ(vset3->getChIdx(), 3);
}
