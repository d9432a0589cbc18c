// The custom view's table shows the chosen channels in the order of the
// dialog's list, also after a second configuration that deselects a channel
// (which keeps the index it had) and whatever the hidden rows hold.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "QCustomTableWidget.h"
#include "QCustomViewDialog.h"
#include "QSubWindow.h"
#include "groups_fixture.h"
#include "qt_gtest_print.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

/* The host with a real table window for the custom view, as the main
 * window creates, re-applies and rebuilds it. */
class WindowHost : public gt::FakeHost {
public:
    std::unique_ptr<QSubWindow> customWindow;

    void addCustomViewInterface(KORUHVNode *root, int widgetIndex) override
    {
        gt::FakeHost::addCustomViewInterface(root, widgetIndex);
        customWindow.reset(
            KORUHVCreateSubWindow(nullptr, nullptr, widgetIndex, true, root, "CustomView", {}));
    }
    void reapplyCustomTableMode(int position) override
    {
        gt::FakeHost::reapplyCustomTableMode(position);
        if (customWindow && entries.at(position).isCustomView)
            customWindow->setCustomViewTableMode();
    }
    void rebuildTable(int position) override
    {
        gt::FakeHost::rebuildTable(position);
        if (customWindow && entries.at(position).isCustomView)
            customWindow->rebuildTableWidget();
    }
};

class CustomViewOrder : public gt::CustomizationsTestOf<WindowHost> {
protected:
    void SetUp() override
    {
        CustomizationsTestOf::SetUp();
        a = connect(gt::crate(1, 4), "HV1", "127.0.0.2");
        b = connect(gt::crate(1, 2), "HV2", "127.0.0.3");
    }
    void TearDown() override
    {
        CustomizationsTestOf::TearDown();
        setMainWindow(nullptr);
    }
    void releaseWindows() override { host.customWindow.reset(); }
    QCustomViewDialog *openDialog()
    {
        controller->createDialogForCustomView();
        auto *dialog = qobject_cast<QCustomViewDialog *>(controller->lastDialog());
        if (dialog)
            dialog->show();
        return dialog;
    }
    static QStringList listed(QTreeWidget *list)
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(0) + "/" + list->topLevelItem(i)->text(2);
        return out;
    }
    /* The list in the order given, by moving its rows as a drag does. */
    static void arrange(QTreeWidget *list, const QStringList &order)
    {
        for (int target = 0; target < order.size(); ++target)
            for (int i = target; i < list->topLevelItemCount(); ++i)
                if (list->topLevelItem(i)->text(0) + "/" + list->topLevelItem(i)->text(2) == order[target]) {
                    list->insertTopLevelItem(target, list->takeTopLevelItem(i));
                    break;
                }
        ASSERT_EQ(listed(list), order);
    }
    /* The visible rows of the custom view's table, top to bottom. */
    QStringList tableRows() const
    {
        QStringList out;
        QCustomTableWidget *t = host.customWindow->getTableWidget();
        QHeaderView *vh = t->verticalHeader();
        for (int visual = 0; visual < vh->count(); ++visual) {
            const int row = vh->logicalIndex(visual);
            if (t->isRowHidden(row))
                continue;
            KORUHVNode *cell = nullptr;
            for (int c = 0; c < t->columnCount() && !cell; ++c)
                cell = QCustomTableWidget::cellNode(t->item(row, c));
            out << (cell ? cell->getSysName() + "/" + cell->getChName() : QStringLiteral("?"));
        }
        return out;
    }

    KORUHVNode *a = nullptr;
    KORUHVNode *b = nullptr;
};

} // namespace

TEST_F(CustomViewOrder, TheTableShowsTheDialogsOrderAfterEveryConfiguration)
{
    QCustomViewDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    QTreeWidget *tree = dialog->sourceTree();
    click(tree, tree->topLevelItem(0)); // all of HV1
    click(tree, tree->topLevelItem(1)); // all of HV2
    arrange(dialog->selectedList(),
            {"HV2/Chan001", "HV1/Chan003", "HV1/Chan002", "HV1/Chan001", "HV2/Chan000", "HV1/Chan000"});
    for (QPushButton *p : dialog->findChildren<QPushButton *>())
        if (p->text() == " Check all parameters ")
            QTest::mouseClick(p, Qt::LeftButton);
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(host.customWindow);
    EXPECT_EQ(tableRows(), QStringList({"HV2/Chan001", "HV1/Chan003", "HV1/Chan002", "HV1/Chan001",
                                        "HV2/Chan000", "HV1/Chan000"}));

    // Configured again: two channels deselected (they keep their former
    // indexes 2 and 4), the rest rearranged.
    const struct {
        std::vector<std::pair<int, int>> deselect; // system, channel in the dialog's tree
        QStringList order;
    } rounds[] = {
        {{{0, 2}, {1, 0}}, {"HV1/Chan000", "HV2/Chan001", "HV1/Chan001", "HV1/Chan003"}},
        {{{0, 3}}, {"HV1/Chan001", "HV1/Chan000", "HV2/Chan001"}},
    };
    for (const auto &r : rounds) {
        dialog = openDialog();
        ASSERT_TRUE(dialog);
        tree = dialog->sourceTree();
        for (const auto &[s, ch] : r.deselect)
            click(tree, tree->topLevelItem(s)->child(0)->child(ch));
        arrange(dialog->selectedList(), r.order);
        QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        EXPECT_EQ(tableRows(), r.order);
    }

    // The view's own re-apply (a rebuild, then Custom mode) keeps the order.
    host.customWindow->rebuildTableWidget();
    host.customWindow->setCustomViewTableMode();
    EXPECT_EQ(tableRows(), rounds[1].order);
}
