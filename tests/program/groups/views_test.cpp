// Table configuration and the custom view through their dialogs: choices
// written to the right nodes (items keep their node), the three validation
// boxes, the custom view's creation, re-apply, membership and trimming.
#include "FakeWrapper.h"
#include "QConfigureViewDialog.h"
#include "QCustomViewDialog.h"
#include "groups_fixture.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

class Views : public gt::CustomizationsTest {
protected:
    static QPushButton *button(QWidget *dialog, const QString &objectName, const QString &text)
    {
        for (QPushButton *b : dialog->findChildren<QPushButton *>(objectName))
            if (b->text() == text)
                return b;
        return nullptr;
    }
    static QStringList rows(QTreeWidget *list)
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem *r = list->topLevelItem(i);
            out << r->text(0) + "/" + r->text(1) + "/" + r->text(2);
        }
        return out;
    }
    static std::shared_ptr<bool> expectCritical(const QString &text)
    {
        return koru_test::answerNextModal<QMessageBox>(
            [text](QMessageBox *box) {
                EXPECT_EQ(box->text(), text);
                EXPECT_EQ(box->windowTitle(), QStringLiteral("LUMO2020"));
                box->accept();
            },
            5000, koru_test::AfterAnswer::CloseAfterBound);
    }
};

} // namespace

TEST_F(Views, ConfigureFindsTheInterfaceOfTheWidgetIndexBehindFurtherBoards)
{
    connect(gt::crate(1, 1), "HV1", "127.0.0.2");
    KORUHVNode *further = connect(gt::crate(1, 1), "W2", "127.0.0.9");
    host.entries[1].isMain = false; // a further board: same widget index as its main one
    host.entries[1].widgetIndex = 0;
    KORUHVNode *b = connect(gt::crate(1, 1), "HV2", "127.0.0.3");
    host.entries[2].widgetIndex = 1;
    controller->createConfigureTableDialog(1);
    auto *dialog = qobject_cast<QConfigureViewDialog *>(controller->lastDialog());
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Configure HV2"));
    EXPECT_EQ(QConfigureViewDialog::nodeOfItem(dialog->tree()->topLevelItem(0)), b->getChildren()[0]);
    dialog->close();
    QPointer<QDialog> last = controller->lastDialog();
    controller->createConfigureTableDialog(7);
    EXPECT_EQ(controller->lastDialog(), last.data()) << "an unknown index opens nothing";
    (void)further;
}

TEST_F(Views, ConfigureWritesFlagsAndOrderToTheNodesOnOkOnly)
{
    KORUHVNode *a = connect(gt::crate(3, 2), "HV1", "127.0.0.2");
    a->getChildren()[0]->setVisualIndex(1);
    a->getChildren()[1]->setVisualIndex(-1); // never set: sorts first
    a->getChildren()[2]->setVisualIndex(2);
    controller->createConfigureTableDialog(0);
    auto *dialog = qobject_cast<QConfigureViewDialog *>(controller->lastDialog());
    ASSERT_TRUE(dialog);
    dialog->show();
    QTreeWidget *tree = dialog->tree();
    EXPECT_EQ(tree->topLevelItem(0)->text(1), QStringLiteral("Board01"));
    EXPECT_EQ(tree->topLevelItem(1)->text(1), QStringLiteral("Board00"));

    // Hide one channel, hide the VMon column, move Pw first.
    click(tree, tree->topLevelItem(1)->child(1));
    QPushButton *vmon = button(dialog, "configParamButton", "VMon");
    ASSERT_TRUE(vmon);
    QTest::mouseClick(vmon, Qt::LeftButton);
    QTableWidget *preview = dialog->previewTable();
    int pwColumn = -1;
    for (int c = 0; c < preview->columnCount(); ++c)
        if (preview->horizontalHeaderItem(c)->text() == "Pw")
            pwColumn = c;
    ASSERT_GE(pwColumn, 0);
    preview->horizontalHeader()->moveSection(preview->horizontalHeader()->visualIndex(pwColumn), 0);
    host.entries[0].customMode = false;
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

    EXPECT_FALSE(gt::channel(a, 0, 1)->isNodeEnabled());
    EXPECT_TRUE(gt::channel(a, 0, 0)->isNodeEnabled());
    EXPECT_EQ(a->getChildren()[1]->getVisualIndex(), 0);
    EXPECT_EQ(a->getChildren()[0]->getVisualIndex(), 1);
    EXPECT_EQ(gt::channel(a, 1, 0)->getVisualIndex(), 0) << "rows counted in board order";
    EXPECT_EQ(gt::channel(a, 0, 0)->getVisualIndex(), 2);
    for (int b = 0; b < 3; ++b)
        for (int c = 0; c < 2; ++c) {
            EXPECT_FALSE(gt::param(gt::channel(a, b, c), "VMon")->isNodeEnabled());
            EXPECT_EQ(gt::param(gt::channel(a, b, c), "Pw")->getVisualIndex(), 0);
        }
    EXPECT_EQ(host.reapplied, 0) << "a table in Full or Minimal view keeps it";

    controller->createConfigureTableDialog(0);
    dialog = qobject_cast<QConfigureViewDialog *>(controller->lastDialog());
    host.entries[0].customMode = true;
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(host.reapplied, 1);
}

TEST_F(Views, ConfigureValidationBoxesKeepTheDialogOpen)
{
    KORUHVNode *a = connect(gt::crate(1, 1), "HV1", "127.0.0.2");
    controller->createConfigureTableDialog(0);
    QPointer<QConfigureViewDialog> dialog = qobject_cast<QConfigureViewDialog *>(controller->lastDialog());
    dialog->show();
    QPushButton *ok = dialog->buttons()->button(QDialogButtonBox::Ok);
    for (QPushButton *b : dialog->findChildren<QPushButton *>("configParamButton"))
        QTest::mouseClick(b, Qt::LeftButton);
    auto shown = expectCritical("Select at least one parameter");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_TRUE(*shown);
    click(dialog->tree(), dialog->tree()->topLevelItem(0)->child(0));
    shown = expectCritical("Select at least one channel/parameter");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_TRUE(*shown);
    QTest::mouseClick(button(dialog, "configParamButton", "V0Set"), Qt::LeftButton);
    shown = expectCritical("Select at least one channel");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_TRUE(*shown);
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(gt::channel(a, 0, 0)->isNodeEnabled()) << "nothing written";
}

TEST_F(Views, CustomViewIsCreatedOnceAndHoldsEveryConnectedMainSystem)
{
    KORUHVNode *a = connect(gt::crate(2, 2), "HV", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(1, 2), "HV", "127.0.0.3"); // same name
    controller->createDialogForCustomView();
    auto *dialog = qobject_cast<QCustomViewDialog *>(controller->lastDialog());
    ASSERT_TRUE(dialog);
    dialog->show();
    QTreeWidget *tree = dialog->sourceTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_TRUE(rows(dialog->selectedList()).isEmpty());

    auto shown = expectCritical("Select at least one channel/parameter");
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_TRUE(*shown);

    click(tree, tree->topLevelItem(0)); // all of system a
    EXPECT_EQ(rows(dialog->selectedList()).size(), 4);
    click(tree, tree->topLevelItem(0)->child(0)); // board 0 out again
    EXPECT_EQ(rows(dialog->selectedList()), QStringList({"HV/Board01/Chan000", "HV/Board01/Chan001"}));
    click(tree, tree->topLevelItem(1)->child(0)->child(1)); // one channel of b
    EXPECT_EQ(rows(dialog->selectedList()).size(), 3);
    dialog->selectedList()->insertTopLevelItem(0, dialog->selectedList()->takeTopLevelItem(2)); // drag to top
    for (QPushButton *p : dialog->findChildren<QPushButton *>())
        if (p->text() == " Check all parameters ")
            QTest::mouseClick(p, Qt::LeftButton);
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

    ASSERT_EQ(controller->hasCustomView(), 2);
    KORUHVNode *root = host.entries[2].root.get();
    EXPECT_EQ(root->getNodeName(), QStringLiteral("customView"));
    EXPECT_EQ(root->getNodeType(), NODE_GROUP);
    EXPECT_EQ(root->getChildren(), QVector<KORUHVNode *>({a, b}));
    EXPECT_TRUE(gt::channel(b, 0, 1)->isEnabledInCustomView())
        << "the row's own system, not the first of its name";
    EXPECT_FALSE(gt::channel(a, 0, 1)->isEnabledInCustomView());
    EXPECT_EQ(gt::channel(b, 0, 1)->getCustomViewVisualIndex(), 0);
    EXPECT_EQ(gt::channel(a, 1, 0)->getCustomViewVisualIndex(), 1);
    EXPECT_TRUE(gt::param(gt::channel(a, 1, 0), "VMon")->isEnabledInCustomView());

    // A system connected later is offered and, on OK, shown too.
    KORUHVNode *c = connect(gt::crate(1, 1), "HV3", "127.0.0.4");
    controller->createDialogForCustomView();
    dialog = qobject_cast<QCustomViewDialog *>(controller->lastDialog());
    EXPECT_EQ(dialog->sourceTree()->topLevelItemCount(), 3);
    EXPECT_EQ(rows(dialog->selectedList()).first(), QStringLiteral("HV/Board00/Chan001")) << "saved order";
    const int rebuiltBefore = host.rebuilt;
    QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(host.entries.size(), 4u) << "no second custom view";
    EXPECT_EQ(root->getChildren(), QVector<KORUHVNode *>({a, b, c}));
    EXPECT_GT(host.rebuilt, rebuiltBefore);
}

TEST_F(Views, DisconnectionTakesTheSystemsOwnNodeOutOfTheCustomView)
{
    KORUHVNode *a = connect(gt::crate(1, 1), "HV1", "127.0.0.2");
    connect(gt::crate(1, 1), "W2", "127.0.0.9");
    host.entries[1].isMain = false; // a further board stands before b
    KORUHVNode *b = connect(gt::crate(1, 1), "HV2", "127.0.0.3");
    controller->customViewCreationDialogCallback();
    KORUHVNode *root = host.entries[3].root.get();
    ASSERT_EQ(root->getChildren(), QVector<KORUHVNode *>({a, b}));
    controller->createDialogForCustomView();
    QPointer<QDialog> open = controller->lastDialog();
    const int rebuilt = host.rebuilt;

    host.disconnect(*controller, host.positionOf(b)); // position 2, child 1
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(root->getChildren(), QVector<KORUHVNode *>({a}));
    EXPECT_EQ(host.rebuilt, rebuilt + 1) << "the table is rebuilt before the node goes";
    EXPECT_TRUE(open.isNull()) << "the dialog listing it closed unwritten";
    host.disconnect(*controller, host.positionOf(a));
    EXPECT_TRUE(root->getChildren().isEmpty());
}

TEST_F(Views, BoardRemovalClosesTheChoiceDialogsOfThatSystemOnly)
{
    KORUHVNode *a = connect(gt::crate(2, 1), "HV1", "127.0.0.2");
    KORUHVNode *b = connect(gt::crate(1, 1), "HV2", "127.0.0.3");
    host.entries[1].widgetIndex = 1;
    controller->createConfigureTableDialog(0);
    QPointer<QDialog> configureA = controller->lastDialog();
    controller->createConfigureTableDialog(1);
    QPointer<QDialog> configureB = controller->lastDialog();
    controller->createDialogForCustomView();
    QPointer<QDialog> custom = controller->lastDialog();
    controller->removeBoardFromGroups(a->getSysHandle(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(configureA.isNull());
    EXPECT_TRUE(custom.isNull());
    ASSERT_FALSE(configureB.isNull()) << "another system's dialog stays";
    EXPECT_EQ(QConfigureViewDialog::nodeOfItem(
                  qobject_cast<QConfigureViewDialog *>(configureB.data())->tree()->topLevelItem(0)),
              b->getChildren()[0]);
}
