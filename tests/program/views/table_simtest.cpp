// End to end: a table window over a crate simulator on loopback through the
// real wrapper; edits typed as keys reach the crate once, refusals leave the
// old value marked.
#include "KORUHVWrapper.h"
#include "sim_crate_fixture.h"
#include "views_support.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using korusim::CrateFault;

class TableOverCrate : public vt::TableWindowTestOn<koru_test::OverSimCrate> {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OverSimCrate::SetUp());
        showWindow(handle, {1400, 500});
    }
    void typeInto(int row, const QString &name, const QString &text)
    {
        QTableWidgetItem *it = table->item(row, column(name));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(it).center());
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() != nullptr; }));
        vt::type(text, table);
        vt::key(Qt::Key_Return, table);
        ASSERT_TRUE(vt::waitFor([&] { return openEditor() == nullptr; }));
    }
};

TEST_F(TableOverCrate, TypedV0SetReachesTheCrateOnce)
{
    ASSERT_GE(column("V0Set"), 0);
    sim->clearRequests();
    typeInto(0, "V0Set", "1234.5");
    EXPECT_EQ(sim->requestsFor("SETCHPARAM").size(), 1u);
    EXPECT_EQ(sim->channelRaw(0, 0, "V0Set").value_or(0), 12345u);
    KORUHVNode *n = QCustomTableWidget::cellNode(table->item(0, column("V0Set")));
    EXPECT_EQ(n->text(), n->cellText());
    EXPECT_TRUE(n->text().startsWith("1234.5 ") && n->text().endsWith("V")) << n->text().toStdString();
    EXPECT_EQ(n->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
}

TEST_F(TableOverCrate, RefusedWriteKeepsTheOldValueMarked)
{
    CrateFault refuse;
    refuse.keyword = "SETCHPARAM";
    refuse.status = korusim::kStatusValueRange;
    sim->addFault(refuse);
    const auto before = sim->channelRaw(0, 1, "V0Set");
    KORUHVNode *n = QCustomTableWidget::cellNode(table->item(1, column("V0Set")));
    const QString oldText = n->cellText();
    typeInto(1, "V0Set", "12.5");
    EXPECT_EQ(sim->channelRaw(0, 1, "V0Set"), before);
    EXPECT_EQ(n->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_EQ(n->text(), oldText) << "the cell shows the node's old value";
}

} // namespace
