// Live board changes (insertion, removal, the removal notification, tables
// that showed the removed cells) and the event lookup before and after.
#include "FakeWrapper.h"
#include "KORUHVConfig.h"
#include "KORUHVMirrorNode.h"
#include "tree_support.h"

#include <QTableWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using fakehv::Raw;

fakehv::Param param(unsigned type, unsigned mode, Raw value)
{
    fakehv::Param p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    return p;
}

void fillBoard(fakehv::Board &b)
{
    b.params = {{"BdStatus", param(3, 0, Raw::u32(0))}};
    for (auto &ch : b.channels)
        ch.params = {{"VSet", param(0, 2, Raw::f32(10))},
                     {"VMon", param(0, 0, Raw::f32(9.5f))},
                     {"Pw", param(1, 2, Raw::u32(1))}};
}

// Adds the content of a board node as the system controller does.
void buildBoard(int h, int sysType, KORUHVNode *board)
{
    const unsigned short slot = board->getBdSlotNr();
    for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateBoardParams(h, slot, sysType))
        board->addParameter(p);
    for (KORUHVNode *ch : KORUHVConfig::KORUHVConfigCreateChannels(h, slot, board->getBdChCount())) {
        board->addChildNode(ch);
        for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateChannelParams(h, sysType, slot, ch->getChIdx()))
            ch->addParameter(p);
    }
}

std::unique_ptr<KORUHVNode> buildTree(int h, int sysType)
{
    std::unique_ptr<KORUHVNode> sys(mt::makeSystem("HV1", sysType, 0, "10.0.0.5"));
    for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateSystemProps(h))
        sys->addParameter(p);
    const auto slotNodes = KORUHVConfig::KORUHVConfigCreateBoards(h);
    for (KORUHVNode *s : slotNodes)
        sys->addChildNode(s);
    for (KORUHVNode *s : slotNodes)
        if (s->getNodeType() == NODE_BOARD)
            buildBoard(h, sysType, s);
    for (KORUHVNode *p :
         KORUHVConfig::KORUHVConfigCreateSystemFurtherParams(CONN_OK, quint16(slotNodes.size())))
        sys->addParameter(p);
    return sys;
}

struct Removal {
    int handle;
    unsigned short slot;
    KORUHVNode *node;
    nodeType type;
    bool stillInTree;
};

class Live : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        removals.clear();
        fakehv::System sys;
        sys.props = {{"ModelName", {fakehv::SYSPROP_TEXT, 0, Raw::text("HX4400"), 0, 0, 0}}};
        sys.crate.resize(6);
        for (unsigned short s : {0, 2, 5}) {
            fakehv::Board &b = sys.addBoard(s, 8, "A1535", 100 + s);
            fillBoard(b);
        }
        h = fakehv::addSystem(sys);
        tree = buildTree(h, 2);
        KORUHVConfig::KORUHVConfigSetBoardRemovalHandler(
            [this](int handle, unsigned short slot, KORUHVNode *n) {
                removals.push_back({handle, slot, n, n->getNodeType(), tree->getChildren().value(slot) == n});
            });
    }
    void TearDown() override { KORUHVConfig::KORUHVConfigSetBoardRemovalHandler({}); }

    fakehv::Board &slot(unsigned short s) { return fakehv::system(h).crate[s]; }

    int h = -1;
    std::unique_ptr<KORUHVNode> tree;
    std::vector<Removal> removals;
};

} // namespace

TEST_F(Live, BoardInsertedIntoAnEmptySlot)
{
    KORUHVNode *oldPlaceholder = tree->getChildren()[3];
    fakehv::Board &b = fakehv::system(h).addBoard(3, 12, "A1833", 777);
    b.fwMajor = 1;
    b.fwMinor = 5;
    fillBoard(b);
    const auto added = KORUHVConfig::KORUHVConfigChangeBoardsLive(h, tree.get());
    ASSERT_EQ(added.size(), 1);
    KORUHVNode *board = added[0];
    EXPECT_EQ(tree->getChildren().size(), 6);
    EXPECT_EQ(tree->getChildren()[3], board);
    EXPECT_EQ(board->getNodeName(), QStringLiteral("Board03"));
    EXPECT_EQ(board->getVisualIndex(), 3) << "the slot number, not a running count";
    EXPECT_EQ(board->getBdChCount(), 12);
    EXPECT_EQ(board->getBdSerNr(), 777u);
    EXPECT_EQ(board->getBdFwRelMax(), QStringLiteral("01"));
    EXPECT_EQ(board->getSysHandle(), h);
    EXPECT_EQ(board->getSystemType(), 2) << "inserted under the system node";
    EXPECT_TRUE(board->getChildren().isEmpty()) << "the caller builds its content";
    // The placeholder it replaced was announced before it went.
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].slot, 3);
    EXPECT_EQ(removals[0].node, oldPlaceholder);
    EXPECT_EQ(removals[0].type, NODE_GROUP);
    EXPECT_TRUE(removals[0].stillInTree);

    // Its events find their nodes once its content is built, not before.
    EXPECT_EQ(KORUHVConfig::KORUHVConfigGetNodeFromItemId(tree.get(), "VMon", 3, 11), nullptr);
    buildBoard(h, 2, board);
    KORUHVNode *vmon = KORUHVConfig::KORUHVConfigGetNodeFromItemId(tree.get(), "VMon", 3, 11);
    ASSERT_NE(vmon, nullptr);
    EXPECT_EQ(vmon->getChIdx(), 11);
    EXPECT_EQ(vmon->getBdSlotNr(), 3);
}

TEST_F(Live, BoardPulledFromItsSlot)
{
    KORUHVNode *pulled = tree->getChildren()[5];
    KORUHVNode *cell = pulled->getChildren()[0]->getParameters()[2]; // Name, VSet, VMon, Pw
    // Its cells are shown in a channel table and, through the mirror, in a
    // custom view; both tables must let go of them when the board goes.
    QTableWidget table(1, 1);
    QTableWidget customView(1, 1);
    table.setItem(0, 0, cell);
    customView.setItem(0, 0, cell->getMirrorNode());
    ASSERT_EQ(table.item(0, 0), cell);

    slot(5).channelCount = 0;
    const auto added = KORUHVConfig::KORUHVConfigChangeBoardsLive(h, tree.get());
    EXPECT_TRUE(added.isEmpty());
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].handle, h);
    EXPECT_EQ(removals[0].slot, 5);
    EXPECT_EQ(removals[0].node, pulled);
    EXPECT_EQ(removals[0].type, NODE_BOARD);
    EXPECT_TRUE(removals[0].stillInTree) << "told before anything is deleted";

    KORUHVNode *empty = tree->getChildren()[5];
    EXPECT_NE(empty, pulled);
    EXPECT_EQ(empty->getNodeType(), NODE_GROUP);
    EXPECT_EQ(empty->getVisualIndex(), 5);
    EXPECT_EQ(tree->getChildren().size(), 6);
    EXPECT_EQ(table.item(0, 0), nullptr);
    EXPECT_EQ(customView.item(0, 0), nullptr);
    EXPECT_EQ(KORUHVConfig::KORUHVConfigGetNodeFromItemId(tree.get(), "VMon", 5, 0), nullptr);
    EXPECT_EQ(KORUHVConfig::KORUHVConfigGetNodeFromItemId(tree.get(), "BdStatus", 5, -1), nullptr);
}

TEST_F(Live, OnlyOccupancyChangesCount)
{
    struct Case {
        const char *what;
        void (*change)(fakehv::System &);
        int added;
        std::vector<unsigned short> removed;
    };
    const Case cases[] = {
        {"board exchanged for another model",
         [](fakehv::System &s) {
             s.crate[2].model = "A1520";
             s.crate[2].serial = 9;
             s.crate[2].channelCount = 4;
         },
         0,
         {}},
        {"insertion and removal at once",
         [](fakehv::System &s) {
             fillBoard(s.addBoard(1, 2));
             s.crate[4].channelCount = 0; // was empty already
             s.crate[0].channelCount = 0;
         },
         1,
         {0, 1}},
        {"more slotNodes than the tree",
         [](fakehv::System &s) {
             s.crate.resize(8);
             s.crate[0].channelCount = 0;
         },
         0,
         {}},
        {"crate map refused",
         [](fakehv::System &s) {
             s.crateMapCode = 4;
             s.crate[0].channelCount = 0;
         },
         0,
         {}},
        {"nothing changed", [](fakehv::System &) {}, 0, {}},
    };
    for (const Case &c : cases) {
        SetUp();
        std::vector<KORUHVNode *> before;
        for (KORUHVNode *n : tree->getChildren())
            before.push_back(n);
        c.change(fakehv::system(h));
        const auto added = KORUHVConfig::KORUHVConfigChangeBoardsLive(h, tree.get());
        EXPECT_EQ(added.size(), c.added) << c.what;
        std::vector<unsigned short> removedSlots;
        for (const Removal &r : removals)
            removedSlots.push_back(r.slot);
        EXPECT_EQ(removedSlots, c.removed) << c.what;
        for (int s = 0; s < 6; ++s) {
            const bool replaced = std::find(c.removed.begin(), c.removed.end(), s) != c.removed.end();
            EXPECT_EQ(tree->getChildren()[s] == before[size_t(s)], !replaced) << c.what << " slot " << s;
        }
        TearDown();
    }
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigChangeBoardsLive(h, nullptr).isEmpty());
}

TEST_F(Live, WithoutAHandlerTheChangeStillHappens)
{
    KORUHVConfig::KORUHVConfigSetBoardRemovalHandler({});
    slot(0).channelCount = 0;
    EXPECT_TRUE(KORUHVConfig::KORUHVConfigChangeBoardsLive(h, tree.get()).isEmpty());
    EXPECT_EQ(tree->getChildren()[0]->getNodeType(), NODE_GROUP);
    EXPECT_TRUE(removals.empty());
}

TEST_F(Live, EventLookup)
{
    KORUHVNode *sys = tree.get();
    struct Case {
        const char *name;
        int board, channel;
        bool found;
    };
    const Case cases[] = {
        {"ModelName", -1, -1, true}, {"ConnStat", -1, -1, true}, {"NrOfSlot", -1, -1, true},
        {"VMon", -1, -1, false},     {"BdStatus", 2, -1, true},  {"BdStatus", 1, -1, false},
        {"VMon", 2, 7, true},        {"vmon", 2, 7, false},      {"Name", 5, 0, true},
        {"VMon", 4, 0, false},       {"VMon", -1, 0, false},     {"VMon", 6, 0, false},
        {"VMon", 2, 8, false},       {"", -1, -1, false},        {"VMon", 100, 100, false},
    };
    for (const Case &c : cases) {
        KORUHVNode *n = KORUHVConfig::KORUHVConfigGetNodeFromItemId(sys, c.name, c.board, c.channel);
        EXPECT_EQ(n != nullptr, c.found) << c.name << " " << c.board << "/" << c.channel;
        if (n) {
            EXPECT_EQ(n->getNodeName(), QString(c.name));
        }
    }
    KORUHVNode *vmon = KORUHVConfig::KORUHVConfigGetNodeFromItemId(sys, "VMon", 2, 7);
    EXPECT_EQ(vmon, sys->getChildren()[2]->getChildren()[7]->getParameters()[2]);
    EXPECT_EQ(KORUHVConfig::KORUHVConfigGetNodeFromItemId(nullptr, "VMon", 2, 7), nullptr);
    EXPECT_EQ(KORUHVConfig::KORUHVConfigGetNodeFromItemId(sys->getChildren()[2], "BdStatus", -1, -1), nullptr)
        << "only a system node is searched";
}

TEST_F(Live, LookupGoesByPositionWhenAChannelWasLeftOut)
{
    slot(0).channels[1].nameCode = 10;
    tree = buildTree(h, 2);
    KORUHVNode *board = tree->getChildren()[0];
    ASSERT_EQ(board->getChildren().size(), 7);
    // An event for channel 1 lands on the channel now at position 1 (Chan002).
    KORUHVNode *n = KORUHVConfig::KORUHVConfigGetNodeFromItemId(tree.get(), "VMon", 0, 1);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->getChIdx(), 2);
}
