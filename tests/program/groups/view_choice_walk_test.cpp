// The walks both view-choice dialogs share, on their own: which channel
// parameters a walk reaches past group systems and group boards, which of a
// node's two sets of view flags the chooser's choice lands in, and when the
// choice tree holds a chosen channel.
#include "KORUHVNode.h"
#include "KORUHVParameterChooser.h"
#include "QConfigureViewDialog.h"
#include "ViewChoiceWalk.h"

#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using viewchoice::Skip;
using viewchoice::View;

namespace {

KORUHVNode *node(const char *name, nodeType type)
{
    auto *n = new KORUHVNode();
    n->setNodeName(QString::fromLatin1(name));
    n->setNodeType(type);
    return n;
}

// A board holding one channel with the named parameters.
KORUHVNode *board(const char *name, nodeType type, std::initializer_list<const char *> params)
{
    KORUHVNode *b = node(name, type);
    KORUHVNode *ch = node("ch", NODE_CHANNEL);
    for (const char *p : params)
        ch->addParameter(node(p, NODE_CHANNEL_PARAM));
    b->addChildNode(ch);
    return b;
}

// A real system with a real board ("VSet", "ISet") and a group board
// ("IMon"), and a group system whose board has "Pw". Group nodes own no
// children: those belong to the holder.
struct Trees {
    Trees()
    {
        real->addChildNode(board("b", NODE_BOARD, {"VSet", "ISet"}));
        KORUHVNode *groupBoard = board("g", NODE_GROUP, {"IMon"});
        real->addChildNode(groupBoard);
        holder->addChildNode(groupBoard->getChildren().first());
        KORUHVNode *groupedBoard = board("gb", NODE_BOARD, {"Pw"});
        holder->addChildNode(groupedBoard);
        group->addChildNode(groupedBoard);
    }
    QVector<KORUHVNode *> systems() const { return {real.get(), group.get()}; }
    KORUHVNode *param(const char *name) const
    {
        KORUHVNode *found = nullptr;
        viewchoice::forEachChannelParameter(systems(), Skip{false, false}, [&](KORUHVNode *p) {
            if (p->getNodeName() == QLatin1String(name))
                found = p;
        });
        return found;
    }

    std::unique_ptr<KORUHVNode> holder{node("holder", NODE_SYSTEM)};
    std::unique_ptr<KORUHVNode> real{node("real", NODE_SYSTEM)};
    std::unique_ptr<KORUHVNode> group{node("group", NODE_GROUP)};
};

} // namespace

TEST(ViewChoiceWalk, GroupNodesArePassedOverAsAsked)
{
    Trees t;
    const struct {
        Skip skip;
        QStringList reached;
    } cases[] = {
        {{false, false}, {"VSet", "ISet", "IMon", "Pw"}},
        {{false, true}, {"VSet", "ISet", "Pw"}},
        {{true, false}, {"VSet", "ISet", "IMon"}},
        {{true, true}, {"VSet", "ISet"}},
    };
    for (const auto &c : cases) {
        QStringList reached;
        viewchoice::forEachChannelParameter(t.systems(), c.skip,
                                            [&](KORUHVNode *p) { reached << p->getNodeName(); });
        EXPECT_EQ(reached, c.reached) << c.skip.groupSystems << c.skip.groupBoards;
    }
}

TEST(ViewChoiceWalk, TheChoiceLandsInTheEditedViewOnly)
{
    for (View view : {View::Table, View::CustomView}) {
        const View other = view == View::Table ? View::CustomView : View::Table;
        Trees t;
        for (const char *name : {"VSet", "ISet", "IMon", "Pw"}) {
            KORUHVNode *p = t.param(name);
            viewchoice::setShown(p, other, true);
            viewchoice::setVisualIndex(p, other, 7);
        }
        QTableWidget preview;
        KORUHVParameterChooser chooser(&preview, QStringLiteral("b"));
        std::vector<std::unique_ptr<QPushButton>> buttons;
        buttons.emplace_back(chooser.addName(QStringLiteral("ISet"), false));
        buttons.emplace_back(chooser.addName(QStringLiteral("VSet"), true));
        buttons.emplace_back(chooser.addName(QStringLiteral("IMon"), true));
        chooser.moveToVisualIndex(QStringLiteral("VSet"), 0);
        viewchoice::applyChooser(t.systems(), Skip{false, false}, chooser, view);
        const struct {
            const char *name;
            bool shown;
            int index;
        } cases[] = {
            {"VSet", true, 0},
            {"ISet", false, 1},
            {"IMon", true, 2},
            {"Pw", false, -1}, // unknown to the chooser: as it was
        };
        for (const auto &c : cases) {
            KORUHVNode *p = t.param(c.name);
            if (c.index >= 0) {
                EXPECT_EQ(viewchoice::shown(p, view), c.shown) << c.name;
                EXPECT_EQ(viewchoice::visualIndex(p, view), c.index) << c.name;
            }
            EXPECT_TRUE(viewchoice::shown(p, other)) << c.name;
            EXPECT_EQ(viewchoice::visualIndex(p, other), 7) << c.name;
        }
    }
}

TEST(ViewChoiceWalk, AChannelIsChosenUnderShownVisibleParentsOnly)
{
    enum Parent { Shown, Unshown, Hidden };
    const struct {
        int depth;
        Parent parent;
        bool channelShown;
        bool chosen;
    } cases[] = {
        {1, Shown, true, true},   {1, Shown, false, false}, {1, Unshown, true, false},
        {1, Hidden, true, false}, {2, Shown, true, true},   {2, Hidden, true, false},
    };
    for (const auto &c : cases) {
        QTreeWidget tree;
        auto *top = new QTreeWidgetItem();
        tree.addTopLevelItem(top);
        QTreeWidgetItem *parent = top;
        if (c.depth == 2)
            parent = new QTreeWidgetItem(top);
        KORUHVSetChoiceItemShown(top, true);
        KORUHVSetChoiceItemShown(parent, c.parent != Unshown);
        parent->setHidden(c.parent == Hidden);
        KORUHVSetChoiceItemShown(new QTreeWidgetItem(parent), c.channelShown);
        EXPECT_EQ(viewchoice::anyChannelChosen(&tree, c.depth), c.chosen) << c.depth << c.parent;
    }
}

TEST(ViewChoiceWalk, OkNamesWhatIsMissing)
{
    const struct {
        bool channel, parameter;
        const char *problem;
    } cases[] = {
        {false, false, "Select at least one channel/parameter"},
        {false, true, "Select at least one channel"},
        {true, false, "Select at least one parameter"},
        {true, true, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(viewchoice::choiceProblem(c.channel, c.parameter), QString::fromLatin1(c.problem))
            << c.channel << c.parameter;
}
