// A system tree built from a simulated crate through the real wrapper: its
// shape, units, decimals, ranges and access rights follow the crate's model,
// and edited values reach the crate (or are refused and marked).
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVWrapper.h"
#include "sim_crate_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class ModelOverCrate : public koru_test::OverSimCrate {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OverSimCrate::SetUp());
        // The connect sequence of the system controller, level by level.
        root.reset(crateTree({.systemProps = true, .boardParams = true}));
    }
    void TearDown() override
    {
        root.reset();
        OverSimCrate::TearDown();
    }

    static KORUHVNode *param(KORUHVNode *owner, const QString &name)
    {
        for (KORUHVNode *p : owner->getParameters())
            if (p->getNodeName() == name)
                return p;
        return nullptr;
    }
    static QVariant prop(KORUHVNode *p, const QString &name)
    {
        for (KORUHVNodeProperty *q : p->getProperties())
            if (q->getPropName() == name)
                return q->getPropVal().KORUHVGetValue();
        return QVariant();
    }

    std::unique_ptr<KORUHVNode> root;
};

TEST_F(ModelOverCrate, TreeFollowsTheCrateModel)
{
    const auto slots_ = root->getChildren();
    ASSERT_EQ(slots_.size(), 4);
    const int expectedTypes[] = {NODE_BOARD, NODE_GROUP, NODE_BOARD, NODE_GROUP};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(slots_[i]->getNodeType(), expectedTypes[i]) << "slot " << i;
    EXPECT_EQ(slots_[0]->getChildren().size(), 4);
    EXPECT_EQ(slots_[2]->getChildren().size(), 3);
    EXPECT_FALSE(root->getParameters().isEmpty()) << "system properties";

    struct Case {
        const char *name;
        int dataType;
        int access;
        double min, max;
        int decimals;
    };
    const Case cases[] = {
        {"V0Set", DATA_FLOAT, ACCESS_READ_WRITE, 0.0, 3000.0, 1},
        {"I0Set", DATA_FLOAT, ACCESS_READ_WRITE, 0.0, 300.0, 2},
        {"VMon", DATA_FLOAT, ACCESS_READ_ONLY, 0.0, 3100.0, 1},
    };
    KORUHVNode *ch0 = slots_[0]->getChildren()[0];
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KORUHVNode *p = param(ch0, c.name);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->getDataType(), c.dataType);
        EXPECT_EQ(p->getAccessRights(), c.access);
        EXPECT_NEAR(prop(p, "Minval").toDouble(), c.min, 1e-3);
        EXPECT_NEAR(prop(p, "Maxval").toDouble(), c.max, 1e-3);
        EXPECT_EQ(prop(p, "Decimal").toInt(), c.decimals);
        EXPECT_EQ(p->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
    }
    KORUHVNode *pw = param(ch0, "Pw");
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(pw->getDataType(), DATA_ONOFF);
    EXPECT_EQ(prop(pw, "Onstate").toString(), QStringLiteral("On"));
    EXPECT_EQ(prop(pw, "Offstate").toString(), QStringLiteral("Off"));
    EXPECT_EQ(prop(param(ch0, "I0Set"), "Exp").toInt(), -6);
    // Channel 1 of slot 2 has its own V0Set descriptor (two decimals).
    EXPECT_EQ(prop(param(slots_[2]->getChildren()[1], "V0Set"), "Decimal").toInt(), 2);
}

TEST_F(ModelOverCrate, EditedValuesReachTheCrateOrAreMarkedRefused)
{
    KORUHVNode *ch1 = root->getChildren()[0]->getChildren()[1];
    KORUHVNode *v0set = param(ch1, "V0Set");
    ASSERT_NE(v0set, nullptr);

    ASSERT_EQ(v0set->setNodeEditedValue(QVariant(QStringLiteral("1234.5"))), 0);
    EXPECT_NEAR(sim->channelValue(0, 1, "V0Set").value_or(-1), 1234.5, 1e-3);
    EXPECT_EQ(v0set->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_NEAR(v0set->getNodeValue().KORUHVGetValue().toDouble(), 1234.5, 1e-3);

    // Above the crate's range: refused by the crate, old value kept and marked.
    EXPECT_NE(v0set->setNodeEditedValue(QVariant(QStringLiteral("5000"))), 0);
    EXPECT_NEAR(sim->channelValue(0, 1, "V0Set").value_or(-1), 1234.5, 1e-3);
    EXPECT_EQ(v0set->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_NEAR(v0set->getNodeValue().KORUHVGetValue().toDouble(), 1234.5, 1e-3);

    // Not a number: never sent.
    const size_t before = sim->requests().size();
    EXPECT_NE(v0set->setNodeEditedValue(QVariant(QStringLiteral("12x"))), 0);
    EXPECT_EQ(sim->requests().size(), before);

    KORUHVNode *pw = param(ch1, "Pw");
    ASSERT_EQ(pw->setNodeEditedValue(QVariant(true)), 0);
    EXPECT_EQ(sim->channelRaw(0, 1, "Pw").value_or(99), 1u);
    ASSERT_EQ(pw->setNodeEditedValue(QVariant(false)), 0);
    EXPECT_EQ(sim->channelRaw(0, 1, "Pw").value_or(99), 0u);
    EXPECT_TRUE(sim->protocolErrors().empty());
}

} // namespace
