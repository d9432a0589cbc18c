/* W38XX boards behind one bridge share one set of panels. */
#include "KORUHVNode.h"
#include "QBoardInformations.h"
#include "QCustomBox.h"
#include "qt_gtest_print.h"
#include "shell_fixture.h"

namespace {
fakehv::System vmeBoard(const char *model)
{
    fakehv::System s;
    fakehv::Board &b = s.addBoard(0, 1, model, 1);
    b.params.push_back({"BdStatus", {3, 0, fakehv::Raw::u32(0)}});
    b.channels[0].params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
    return s;
}
} // namespace

class W38xxTest : public ShellTest {
protected:
    int connectBoard(const char *init, const char *board)
    {
        fakehv::queueInit(vmeBoard("V1"));
        return window->connectSystem(5, 4, QLatin1String(init), QStringLiteral("VME"), QLatin1String(board),
                                     QString());
    }
};

TEST_F(W38xxTest, BoardsOfOneBridgeFormAGroup)
{
    ASSERT_EQ(connectBoard("0_1_8000", "A"), 0);
    ASSERT_EQ(connectBoard("0_1_9000", "B"), 0);
    ASSERT_EQ(connectBoard("0_2_8000", "C"), 0); /* another node: a group of its own */
    const auto v = window->getSysInterfaceVector();
    ASSERT_EQ(v.size(), 3);
    EXPECT_EQ(window->getW38XXMainInterfaceIndex(QStringLiteral("0_1_7000"), 4), 0);
    EXPECT_EQ(window->getW38XXMainInterfaceIndex(QStringLiteral("0_1_7000"), 3), -1);
    EXPECT_EQ(window->getW38XXMainInterfaceIndex(QStringLiteral("0_2_7000"), 4), 2);
    EXPECT_TRUE(v[0]->getIsMainInterface());
    EXPECT_FALSE(v[1]->getIsMainInterface());
    EXPECT_TRUE(v[2]->getIsMainInterface());
    EXPECT_EQ(v[1]->getWidgetIndex(), 0);
    EXPECT_EQ(v[2]->getWidgetIndex(), 1);
    EXPECT_EQ(v[1]->getSystemBoxWidget(), nullptr);
    /* The group's node holds both boards, the second named Board01. */
    const QVector<KORUHVNode *> boards = v[0]->getSystemNode()->getChildren();
    ASSERT_EQ(boards.size(), 2);
    EXPECT_EQ(boards[1]->getNodeName(), QStringLiteral("Board01"));
    EXPECT_EQ(boards[1]->getSysName(), QStringLiteral("B"));
}

TEST_F(W38xxTest, AFurtherBoardLeavesTheGroup)
{
    ASSERT_EQ(connectBoard("0_1_8000", "A"), 0);
    ASSERT_EQ(connectBoard("0_1_9000", "B"), 0);
    ASSERT_EQ(connectBoard("0_1_a000", "C"), 0);
    window->disconnectDialogCallback(1);
    const auto v = window->getSysInterfaceVector();
    ASSERT_EQ(v.size(), 2);
    const QVector<KORUHVNode *> boards = v[0]->getSystemNode()->getChildren();
    ASSERT_EQ(boards.size(), 2);
    EXPECT_EQ(boards[0]->getNodeName(), QStringLiteral("Board00"));
    EXPECT_EQ(boards[1]->getNodeName(), QStringLiteral("Board01"));
    EXPECT_EQ(boards[1]->getSysName(), QStringLiteral("C"));
}

TEST_F(W38xxTest, TheMainBoardHandsThePanelsToTheNext)
{
    ASSERT_EQ(connectBoard("0_1_8000", "A"), 0);
    ASSERT_EQ(connectBoard("0_1_9000", "B"), 0);
    ASSERT_EQ(connectBoard("0_1_a000", "C"), 0);
    window->disconnectDialogCallback(0);
    const auto v = window->getSysInterfaceVector();
    ASSERT_EQ(v.size(), 2);
    EXPECT_TRUE(v[0]->getIsMainInterface());
    EXPECT_TRUE(v[0]->getSystemBoxWidget());
    const QVector<KORUHVNode *> boards = v[0]->getSystemNode()->getChildren();
    ASSERT_EQ(boards.size(), 2);
    EXPECT_EQ(boards[0]->getSysName(), QStringLiteral("B"));
    EXPECT_EQ(boards[1]->getSysName(), QStringLiteral("C"));
    EXPECT_EQ(boards[1]->getNodeName(), QStringLiteral("Board01"));
}

/* The BOARDS page of a group names every board with its own base address,
 * when the group forms and after its main board leaves. */
TEST_F(W38xxTest, EachBoardOfTheGroupIsTitledWithItsOwnAddress)
{
    ASSERT_EQ(connectBoard("0_1_8000", "A0"), 0);
    ASSERT_EQ(connectBoard("0_1_9000", "B0"), 0);
    ASSERT_EQ(connectBoard("0_1_a000", "C0"), 0);
    auto titles = [&] {
        QStringList names;
        QSystemInterface *main = window->getSysInterfaceVector().value(0);
        if (main && main->getBoardInfoWidget() && main->getBoardInfoWidget()->getInternalWidget())
            for (QCustomBox *box :
                 main->getBoardInfoWidget()->getInternalWidget()->findChildren<QCustomBox *>())
                names << box->getName();
        names.sort();
        return names;
    };
    EXPECT_EQ(titles(), (QStringList{"A0 - V1 - [0x8000]", "B0 - V1 - [0x9000]", "C0 - V1 - [0xa000]"}));
    window->disconnectDialogCallback(0);
    EXPECT_EQ(titles(), (QStringList{"B0 - V1 - [0x9000]", "C0 - V1 - [0xa000]"}));
}
