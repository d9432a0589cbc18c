// Plain rules: which value each group member gets, default group names,
// purging groups, untrusted load rows, labels of the custom view.
#include "FakeWrapper.h"
#include "KORUHVCustomizationRules.h"
#include "groups_support.h"
#include "qt_gtest_print.h"

#include <gtest/gtest.h>

using namespace KORUHVCustomizationRules;

namespace {

class Rules : public ::testing::Test {
protected:
    void SetUp() override { fakehv::reset(); }
    void TearDown() override { fakehv::reset(); }
};

} // namespace

TEST_F(Rules, MemberValueFollowsTheMembersOwnTextsAndLimits)
{
    fakehv::System a = gt::crate(1, 1, "On", "Off");
    fakehv::System b = gt::crate(1, 1, "Enabled", "Disabled");
    std::unique_ptr<KORUHVNode> ra(gt::buildTree(fakehv::addSystem(a), "A", "127.0.0.2", 2, 0));
    std::unique_ptr<KORUHVNode> rb(gt::buildTree(fakehv::addSystem(b), "B", "127.0.0.3", 2, 0));
    KORUHVNode *pwA = gt::param(gt::channel(ra.get(), 0, 0), "Pw");
    KORUHVNode *pwB = gt::param(gt::channel(rb.get(), 0, 0), "Pw");
    KORUHVNode *vA = gt::param(gt::channel(ra.get(), 0, 0), "V0Set");
    ASSERT_TRUE(pwA && pwB && vA);

    const struct {
        KORUHVNode *member;
        QVariant shown;
        bool written;
        QVariant value;
        const char *why; // what the operator is told when not written
    } cases[] = {
        {pwA, QStringLiteral("On"), true, QVariant(true), ""},
        {pwA, QStringLiteral("Off"), true, QVariant(false), ""},
        {pwB, QStringLiteral("On"), false, {}, "has no state \"On\""}, // a text it does not know
        {pwB, QStringLiteral("Enabled"), true, QVariant(true), ""},
        {pwB, QVariant(false), true, QVariant(false), ""}, // a state, in any member's words
        {pwB, QVariant(true), true, QVariant(true), ""},
        {vA, QVariant(1500.f), true, QVariant(1500.f), ""},
        {vA, QVariant(0.f), true, QVariant(0.f), ""},
        {vA, QVariant(3000.f), true, QVariant(3000.f), ""},
        {vA, QVariant(3000.5f), false, {}, "outside its limits 0 to 3000"}, // above its own Maxval
        {vA, QVariant(-1.f), false, {}, "outside its limits 0 to 3000"},
        {vA, QStringLiteral("abc"), false, {}, "\"abc\" is not a number"},
    };
    for (const auto &c : cases) {
        QVariant out;
        QString why;
        EXPECT_EQ(valueForMember(c.member, c.shown, &out, &why), c.written)
            << c.shown.toString().toStdString();
        if (c.written) {
            EXPECT_EQ(out, c.value) << c.shown.toString().toStdString();
        } else {
            EXPECT_EQ(why, QString::fromLatin1(c.why));
        }
    }
}

TEST_F(Rules, DefaultGroupNamesTakeTheFirstFreeNumber)
{
    EXPECT_EQ(nextDefaultGroupName({}), QStringLiteral("Group 0"));
    EXPECT_EQ(nextDefaultGroupName({"Group 0", "Group 2"}), QStringLiteral("Group 1"));
    EXPECT_EQ(nextDefaultGroupName({"Group 0", "Group 1", "x"}), QStringLiteral("Group 2"));
    EXPECT_EQ(nextDefaultGroupName({"group 0"}), QStringLiteral("Group 0")) << "exact comparison";
}

TEST_F(Rules, PurgeDropsOneBoardOrOneSystemAndEmptiedGroups)
{
    std::unique_ptr<KORUHVNode> ra(gt::buildTree(fakehv::addSystem(gt::crate(2, 2)), "A", "127.0.0.2", 2, 0));
    std::unique_ptr<KORUHVNode> rb(gt::buildTree(fakehv::addSystem(gt::crate(2, 2)), "B", "127.0.0.3", 2, 0));
    auto pair = [](KORUHVNode *root, int slot, int ch) {
        KORUHVNode *c = gt::channel(root, slot, ch);
        return Group{c, gt::param(c, "V0Set")};
    };
    QVector<Group> groups = {pair(ra.get(), 1, 0) + pair(ra.get(), 1, 1), // only board 1 of A
                             pair(ra.get(), 0, 0) + pair(rb.get(), 1, 0), // mixed
                             pair(rb.get(), 0, 0) + pair(ra.get(), 1, 1)};
    QVector<int> removed;
    purgeGroups(groups, ra->getSysHandle(), 1, &removed);
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(removed, QVector<int>({0}));
    EXPECT_EQ(groups[0], pair(ra.get(), 0, 0) + pair(rb.get(), 1, 0));
    EXPECT_EQ(groups[1], pair(rb.get(), 0, 0)) << "other members keep their order";

    removed.clear();
    purgeGroups(groups, rb->getSysHandle(), -1, &removed);
    EXPECT_EQ(removed, QVector<int>({1}));
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(groups[0], pair(ra.get(), 0, 0));
}

TEST_F(Rules, LoadRowsFromUntrustedHashes)
{
    auto hash = [](QVariant name, QVariant init, QVariant ps, QVariant conn, QVariant cv) {
        QMultiHash<QString, QVariant> h;
        h.insert("name", name);
        h.insert("initParam", init);
        h.insert("psType", ps);
        h.insert("connType", conn);
        h.insert("isCustomView", cv);
        return h;
    };
    const struct {
        const char *what;
        QMultiHash<QString, QVariant> hash;
        bool usable;
        bool customView;
    } cases[] = {
        {"unreadable file", {}, false, false},
        {"crate over TCP/IP", hash("HV1", "127.0.0.2", 2, 0, 0), true, false},
        {"P8080", hash("R", "127.0.0.9", 16, 0, 0), true, false},
        {"VME over USB", hash("V", "0_0_0", 5, 3, 0), true, false},
        {"empty address", hash("HV1", "", 2, 0, 0), false, false},
        {"80 characters", hash("HV1", QString(80, 'a'), 2, 0, 0), false, false},
        {"79 characters", hash("HV1", QString(79, 'a'), 2, 0, 0), true, false},
        {"unknown supply", hash("X", "1.2.3.4", 0, 0, 0), false, false},
        {"supply without that link", hash("X", "1.2.3.4", 2, 3, 0), false, false},
        {"text types", hash("X", "1.2.3.4", "two", 0, 0), false, false},
        {"custom view", hash("customView", "", -1, -1, 1), true, true},
    };
    for (const auto &c : cases) {
        const LoadRow row = loadRowFromHash(c.hash);
        EXPECT_EQ(row.usable, c.usable) << c.what;
        EXPECT_EQ(row.isCustomView, c.customView) << c.what;
    }
}

TEST_F(Rules, TypeTextsAndBoardLabels)
{
    EXPECT_EQ(psTypeText(3), QStringLiteral("HX4400 / HX5500"));
    EXPECT_EQ(psTypeText(16), QStringLiteral("P8080"));
    EXPECT_EQ(psTypeText(13), QString());
    EXPECT_EQ(connTypeText(4), QStringLiteral("PCI OPTICAL LINK"));
    EXPECT_EQ(connTypeText(7), QString());

    KORUHVNode board;
    board.KORUHVPrepareNode("Board27", NODE_BOARD, 16, 0, QString(), QString(), QString());
    board.setNodeName("Board27");
    board.setSystemType(16);
    EXPECT_EQ(customViewBoardLabel(&board), QStringLiteral("Crate1.Board02 [Board27]"));
    EXPECT_EQ(boardKeyOfLabel(customViewBoardLabel(&board)), QStringLiteral("Board27"));
    board.setSystemType(2);
    EXPECT_EQ(customViewBoardLabel(&board), QStringLiteral("Board27"));
    EXPECT_EQ(boardKeyOfLabel("Board03"), QStringLiteral("Board03"));
}
