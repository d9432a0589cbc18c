// Configuration hash of a system tree: what each level holds, and applying a
// hash back (boards by serial number, channels and parameters by position
// and name, flags carried to the other boards).
#include "KORUHVUtils.h"
#include "tree_support.h"

#include <gtest/gtest.h>

#include <memory>

using KvcStream::Hash;

namespace {

const QStringList kParams = {"VSet", "VMon", "Pw"};

// Slots: board A (serial 100, 2 channels), empty slot, board B (serial 200,
// 2 channels); every channel holds VSet, VMon, Pw.
std::unique_ptr<KORUHVNode> threeSlots()
{
    std::unique_ptr<KORUHVNode> sys(mt::makeSystem("HV1", 2, 0, "10.0.0.5"));
    sys->addChildNode(mt::makeBoard(0, 100, 2, kParams));
    sys->addChildNode(mt::makeNode(QString(), NODE_GROUP));
    sys->addChildNode(mt::makeBoard(2, 200, 2, kParams));
    return sys;
}

KORUHVNode *channel(KORUHVNode *sys, int slot, int ch)
{
    return sys->getChildren()[slot]->getChildren()[ch];
}
KORUHVNode *param(KORUHVNode *sys, int slot, int ch, int p)
{
    return channel(sys, slot, ch)->getParameters()[p];
}

QStringList sortedKeys(const Hash &h)
{
    QStringList k = h.uniqueKeys();
    k.sort();
    return k;
}

Hash entry(std::initializer_list<std::pair<const char *, QVariant>> values)
{
    Hash h;
    for (const auto &v : values)
        h.insert(QString::fromLatin1(v.first), v.second);
    return h;
}

// Every view value of every slot, channel and parameter, for comparisons.
struct Snapshot {
    QVector<bool> enabled, enabledCv;
    QVector<int> visual, visualCv;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(KORUHVNode *sys)
{
    Snapshot s;
    auto take = [&](KORUHVNode *n) {
        s.enabled.append(n->isNodeEnabled());
        s.enabledCv.append(n->isEnabledInCustomView());
        s.visual.append(n->getVisualIndex());
        s.visualCv.append(n->getCustomViewVisualIndex());
    };
    for (KORUHVNode *slot : sys->getChildren()) {
        take(slot);
        for (KORUHVNode *ch : slot->getChildren()) {
            take(ch);
            for (KORUHVNode *p : ch->getParameters())
                take(p);
        }
    }
    return s;
}

} // namespace

TEST(ConfigHash, NullAndCustomViewNodes)
{
    EXPECT_TRUE(KORUHVUtils::KORUHVCreateHashFromNodeVector(nullptr, true, true).isEmpty());
    std::unique_ptr<KORUHVNode> view(mt::makeNode("Custom View", NODE_GROUP));
    view->addChildNode(mt::makeBoard(0, 1, 1, kParams)); // gathered, not owned... and not stored
    const Hash h = KORUHVUtils::KORUHVCreateHashFromNodeVector(view.get(), true, true);
    EXPECT_EQ(sortedKeys(h), (QStringList{"connType", "initParam", "isCustomView", "name", "psType"}));
    EXPECT_EQ(h.value("isCustomView"), QVariant(1));
    delete view->getChildren()[0];
}

TEST(ConfigHash, KeysPerLevelFollowTheFlags)
{
    struct Case {
        bool view, customView;
        QStringList board, channel, parameter;
    };
    const Case cases[] = {
        {false,
         false,
         {"channels", "isPresent", "serialNumber"},
         {"parameters", "vectorIndex"},
         {"name", "vectorIndex"}},
        {true,
         false,
         {"channels", "isPresent", "serialNumber", "visualIndex"},
         {"isEnabled", "parameters", "vectorIndex", "visualIndex"},
         {"isEnabled", "name", "vectorIndex", "visualIndex"}},
        {false,
         true,
         {"channels", "isPresent", "serialNumber"},
         {"customViewVisualIndex", "isEnabledInCustomView", "parameters", "vectorIndex"},
         {"customViewVisualIndex", "isEnabledInCustomView", "name", "vectorIndex"}},
        {true,
         true,
         {"channels", "isPresent", "serialNumber", "visualIndex"},
         {"customViewVisualIndex", "isEnabled", "isEnabledInCustomView", "parameters", "vectorIndex",
          "visualIndex"},
         {"customViewVisualIndex", "isEnabled", "isEnabledInCustomView", "name", "vectorIndex",
          "visualIndex"}},
    };
    auto sys = threeSlots();
    for (const Case &c : cases) {
        const Hash h = KORUHVUtils::KORUHVCreateHashFromNodeVector(sys.get(), c.view, c.customView);
        EXPECT_EQ(sortedKeys(h),
                  (QStringList{"boards", "connType", "initParam", "isCustomView", "name", "psType"}));
        EXPECT_EQ(h.value("name"), QVariant(QStringLiteral("HV1")));
        EXPECT_EQ(h.value("initParam"), QVariant(QStringLiteral("10.0.0.5")));
        EXPECT_EQ(h.value("psType"), QVariant(2));
        EXPECT_EQ(h.value("connType"), QVariant(0));
        EXPECT_EQ(h.value("isCustomView"), QVariant(0));

        const QList<QVariant> boards = h.values("boards");
        ASSERT_EQ(boards.size(), 3) << "one entry per slot";
        // Newest first: the last slot comes first.
        const Hash slot2 = KvcStream::hashFromVariant(boards[0]);
        const Hash slot1 = KvcStream::hashFromVariant(boards[1]);
        EXPECT_EQ(sortedKeys(slot1), QStringList{"isPresent"});
        EXPECT_EQ(slot1.value("isPresent"), QVariant(0));
        EXPECT_EQ(sortedKeys(slot2), c.board);
        EXPECT_EQ(slot2.value("serialNumber"), QVariant(200u));

        const QList<QVariant> channels = slot2.values("channels");
        ASSERT_EQ(channels.size(), 2);
        const Hash ch1 = KvcStream::hashFromVariant(channels[0]);
        EXPECT_EQ(ch1.value("vectorIndex"), QVariant(1));
        EXPECT_EQ(sortedKeys(ch1), c.channel);
        const QList<QVariant> params = ch1.values("parameters");
        ASSERT_EQ(params.size(), 3);
        const Hash last = KvcStream::hashFromVariant(params[0]);
        EXPECT_EQ(sortedKeys(last), c.parameter);
        EXPECT_EQ(last.value("vectorIndex"), QVariant(2));
        EXPECT_EQ(last.value("name"), QVariant(QStringLiteral("Pw")));
    }
}

TEST(ConfigHash, FixtureTreeGivesTheFixtureBytes)
{
    std::unique_ptr<KORUHVNode> sys(mt::fixtureTree());
    bool ok = false;
    const QByteArray bytes =
        KvcStream::encode(KORUHVUtils::KORUHVCreateHashFromNodeVector(sys.get(), true, true), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bytes.toHex().toStdString(), mt::fixtureBytes().toHex().toStdString());
}

TEST(ConfigHash, ApplyingNothingChangesNothing)
{
    auto sys = threeSlots();
    const Snapshot before = snapshot(sys.get());
    Hash h = KORUHVUtils::KORUHVCreateHashFromNodeVector(sys.get(), true, true);
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(nullptr, &h);
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(sys.get(), nullptr);
    EXPECT_TRUE(snapshot(sys.get()) == before);
}

TEST(ConfigHash, EmptyHashDisablesEverythingAndKeepsIndexes)
{
    auto sys = threeSlots();
    channel(sys.get(), 0, 0)->setEnabledInCustomView(true);
    const Snapshot before = snapshot(sys.get());
    Hash empty;
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(sys.get(), &empty);
    const Snapshot after = snapshot(sys.get());
    EXPECT_EQ(after.visual, before.visual);
    EXPECT_EQ(after.visualCv, before.visualCv);
    EXPECT_EQ(after.enabled, QVector<bool>(before.enabled.size(), false));
    // Boards keep their custom-view flag; channels and parameters lose it.
    EXPECT_FALSE(channel(sys.get(), 0, 0)->isEnabledInCustomView());
}

TEST(ConfigHash, RoundTripRestoresTheViews)
{
    auto sys = threeSlots();
    // An arbitrary arrangement of both views.
    int k = 0;
    for (KORUHVNode *slot : sys->getChildren())
        for (KORUHVNode *ch : slot->getChildren()) {
            ch->setVisualIndex(10 + k);
            ch->setEnabledInCustomView(k % 2 == 0);
            ch->setCustomViewVisualIndex(20 + k);
            for (KORUHVNode *p : ch->getParameters()) {
                p->setVisualIndex(30 + k);
                p->setCustomViewVisualIndex(40 + k);
                ++k;
            }
        }
    // Pw shown nowhere, VSet and VMon in every channel (so carrying agrees).
    for (KORUHVNode *slot : sys->getChildren())
        for (KORUHVNode *ch : slot->getChildren()) {
            ch->getParameters()[2]->setNodeEnabled(false);
            ch->getParameters()[1]->setEnabledInCustomView(true);
        }
    sys->getChildren()[1]->setNodeEnabled(false); // the empty slot stays off
    const Snapshot wanted = snapshot(sys.get());
    Hash h = KORUHVUtils::KORUHVCreateHashFromNodeVector(sys.get(), true, true);

    for (KORUHVNode *slot : sys->getChildren()) {
        slot->setVisualIndex(-1);
        for (KORUHVNode *ch : slot->getChildren()) {
            ch->setVisualIndex(-1);
            ch->setCustomViewVisualIndex(-1);
            for (KORUHVNode *p : ch->getParameters()) {
                p->setVisualIndex(-1);
                p->setCustomViewVisualIndex(-1);
            }
        }
    }
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(sys.get(), &h);
    EXPECT_TRUE(snapshot(sys.get()) == wanted);
}

TEST(ConfigHash, BoardsAreFoundBySerialNumber)
{
    auto saved = threeSlots();
    saved->getChildren()[0]->setVisualIndex(5);      // A
    saved->getChildren()[2]->setVisualIndex(6);      // B
    param(saved.get(), 0, 1, 0)->setVisualIndex(77); // A, channel 1, VSet
    Hash h = KORUHVUtils::KORUHVCreateHashFromNodeVector(saved.get(), true, false);

    // The boards have changed slotNodes since, and a third one is unknown.
    std::unique_ptr<KORUHVNode> now(mt::makeSystem("HV1", 2, 0, "10.0.0.5"));
    now->addChildNode(mt::makeBoard(0, 200, 2, kParams)); // B
    now->addChildNode(mt::makeBoard(1, 300, 2, kParams)); // unknown
    now->addChildNode(mt::makeBoard(2, 100, 2, kParams)); // A
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(now.get(), &h);
    EXPECT_EQ(now->getChildren()[0]->getVisualIndex(), 6);
    EXPECT_EQ(now->getChildren()[2]->getVisualIndex(), 5);
    EXPECT_EQ(param(now.get(), 2, 1, 0)->getVisualIndex(), 77);
    EXPECT_TRUE(now->getChildren()[0]->isNodeEnabled());
    EXPECT_TRUE(now->getChildren()[2]->isNodeEnabled());
    // The unknown board stays off, its channels too; its parameters only
    // take flags carried from the known boards.
    EXPECT_FALSE(now->getChildren()[1]->isNodeEnabled());
    EXPECT_FALSE(channel(now.get(), 1, 0)->isNodeEnabled());
    EXPECT_TRUE(param(now.get(), 1, 0, 0)->isNodeEnabled()) << "carried";
    EXPECT_EQ(param(now.get(), 1, 0, 0)->getVisualIndex(), 0) << "carrying keeps indexes";
}

TEST(ConfigHash, DuplicateSerialNumbersApplyToTheLowerPosition)
{
    auto sys = threeSlots();
    sys->getChildren()[2]->setBdSerNr(100); // both boards now 100
    sys->getChildren()[0]->setVisualIndex(3);
    sys->getChildren()[2]->setVisualIndex(4);
    Hash h = KORUHVUtils::KORUHVCreateHashFromNodeVector(sys.get(), true, false);
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(sys.get(), &h);
    // Both entries went to slot 0; the slot 0 entry came last and stays.
    EXPECT_EQ(sys->getChildren()[0]->getVisualIndex(), 3);
    EXPECT_TRUE(sys->getChildren()[0]->isNodeEnabled());
    EXPECT_FALSE(sys->getChildren()[2]->isNodeEnabled());
    EXPECT_FALSE(channel(sys.get(), 2, 0)->isNodeEnabled());
}

TEST(ConfigHash, EntriesThatNoLongerFitAreSkipped)
{
    auto sys = threeSlots();
    for (int s : {0, 2})
        for (int c = 0; c < 2; ++c)
            for (int p = 0; p < 3; ++p)
                param(sys.get(), s, c, p)->setNodeEnabled(false);

    // Board A entry by hand. Inserted last is visited first.
    Hash ch0 = entry({{"vectorIndex", 0}, {"isEnabled", true}, {"visualIndex", 50}});
    ch0.insert("parameters",
               KvcStream::toVariant(entry({{"vectorIndex", 0}, {"name", "VSet"}, {"isEnabled", true}})));
    ch0.insert("parameters",
               KvcStream::toVariant(entry({{"vectorIndex", 99}, {"name", "VSet"}, {"isEnabled", true}})));
    Hash ch1 = entry({{"vectorIndex", 1}, {"isEnabled", true}, {"visualIndex", 51}});
    ch1.insert("parameters",
               KvcStream::toVariant(entry({{"vectorIndex", 0}, {"name", "VSet"}, {"isEnabled", true}})));
    ch1.insert("parameters",
               KvcStream::toVariant(entry({{"vectorIndex", 1}, {"name", "Renamed"}, {"isEnabled", true}})));
    Hash board = entry({{"isPresent", 1}, {"serialNumber", 100u}});
    board.insert("channels", KvcStream::toVariant(ch0));
    board.insert("channels", KvcStream::toVariant(ch1));
    board.insert("channels", KvcStream::toVariant(entry({{"vectorIndex", 7}, {"isEnabled", true}})));
    board.insert("channels", KvcStream::toVariant(entry({{"vectorIndex", -1}, {"isEnabled", true}})));
    Hash h;
    h.insert("boards", KvcStream::toVariant(entry({{"isPresent", 0}, {"serialNumber", 200u}})));
    h.insert("boards", KvcStream::toVariant(entry({{"isPresent", 1}, {"serialNumber", 999u}})));
    h.insert("boards", KvcStream::toVariant(board));
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(sys.get(), &h);

    EXPECT_TRUE(sys->getChildren()[0]->isNodeEnabled());
    EXPECT_FALSE(sys->getChildren()[2]->isNodeEnabled()) << "isPresent 0 and unknown serials match nothing";
    // Channel entries beyond the board are ignored; the others still apply.
    EXPECT_EQ(channel(sys.get(), 0, 0)->getVisualIndex(), 50);
    EXPECT_EQ(channel(sys.get(), 0, 1)->getVisualIndex(), 51);
    // Channel 0: the entry at position 99 ended its parameter entries.
    EXPECT_FALSE(param(sys.get(), 0, 0, 0)->isNodeEnabled());
    // Channel 1: the renamed entry is ignored, VSet applied.
    EXPECT_FALSE(param(sys.get(), 0, 1, 1)->isNodeEnabled());
    EXPECT_TRUE(param(sys.get(), 0, 1, 0)->isNodeEnabled());
}

TEST(ConfigHash, FlagsCarryToOtherBoardsOnly)
{
    auto sys = threeSlots();
    Hash board = entry({{"isPresent", 1}, {"serialNumber", 100u}});
    Hash ch0 = entry({{"vectorIndex", 0}, {"isEnabled", true}});
    ch0.insert("parameters",
               KvcStream::toVariant(
                   entry({{"vectorIndex", 1}, {"name", "VMon"}, {"isEnabled", true}, {"visualIndex", 8}})));
    ch0.insert(
        "parameters",
        KvcStream::toVariant(entry(
            {{"vectorIndex", 2}, {"name", "Pw"}, {"isEnabled", false}, {"isEnabledInCustomView", true}})));
    board.insert("channels", KvcStream::toVariant(ch0));
    Hash h;
    h.insert("boards", KvcStream::toVariant(board));
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(sys.get(), &h);

    // Board A: only channel 0 was named.
    EXPECT_TRUE(param(sys.get(), 0, 0, 1)->isNodeEnabled());
    EXPECT_FALSE(param(sys.get(), 0, 1, 1)->isNodeEnabled()) << "not carried within its own board";
    // Board B: every channel, without touching indexes or other flags.
    for (int c = 0; c < 2; ++c) {
        EXPECT_TRUE(param(sys.get(), 2, c, 1)->isNodeEnabled()) << c;
        EXPECT_FALSE(param(sys.get(), 2, c, 1)->isEnabledInCustomView()) << c;
        EXPECT_EQ(param(sys.get(), 2, c, 1)->getVisualIndex(), 1) << c;
        EXPECT_TRUE(param(sys.get(), 2, c, 2)->isEnabledInCustomView()) << c;
        EXPECT_FALSE(param(sys.get(), 2, c, 2)->isNodeEnabled()) << c;
        EXPECT_FALSE(param(sys.get(), 2, c, 0)->isNodeEnabled()) << c;
    }
}

TEST(ConfigHash, WithoutViewDataBoardsOnlyAreEnabled)
{
    auto sys = threeSlots();
    const Snapshot before = snapshot(sys.get());
    Hash h = KORUHVUtils::KORUHVCreateHashFromNodeVector(sys.get(), false, false);
    KORUHVUtils::KORUHVSetConfigurationToSystemTreeFromHash(sys.get(), &h);
    const Snapshot after = snapshot(sys.get());
    EXPECT_EQ(after.visual, before.visual);
    EXPECT_EQ(after.visualCv, before.visualCv);
    EXPECT_TRUE(sys->getChildren()[0]->isNodeEnabled());
    EXPECT_FALSE(sys->getChildren()[1]->isNodeEnabled());
    EXPECT_TRUE(sys->getChildren()[2]->isNodeEnabled());
    EXPECT_FALSE(channel(sys.get(), 0, 0)->isNodeEnabled());
    EXPECT_FALSE(param(sys.get(), 2, 1, 2)->isNodeEnabled());
    EXPECT_FALSE(param(sys.get(), 2, 1, 2)->isEnabledInCustomView());
}
