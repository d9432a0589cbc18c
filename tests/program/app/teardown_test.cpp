/* What points into a system's tree lets go before the tree changes: a cell
 * editor open while its board is pulled or its system disconnected writes
 * nothing, and a running script stops when its system goes. Real main window
 * over the fake wrapper, shown (its accordion and docks react to a shown
 * window); run under the sanitizers as well. */
#include "KORUHVNode.h"
#include "KORUHVScriptExecutor.h"
#include "KORUHVTreeChange.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"
#include "QScriptDialog.h"
#include "QSubWindow.h"
#include "QSystemInformations.h"
#include "shell_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include <vector>

namespace {

/* The shell's crate with a settable voltage on each channel. */
fakehv::System crateWithSetting()
{
    fakehv::System s = ShellTest::crate();
    for (auto &ch : s.crate[0].channels)
        ch.params.push_back({"V0Set", {0, 2, fakehv::Raw::f32(100.f)}});
    return s;
}

size_t writes()
{
    return fakehv::callsOf("KORUHV_SetChParam").size();
}

KORUHVWidgetItem *openEditorIn(QCustomTableWidget *table)
{
    for (KORUHVWidgetItem *i :
         table->viewport()->findChildren<KORUHVWidgetItem *>(Qt::FindDirectChildrenOnly))
        if (!i->isCancelled())
            return i;
    return nullptr;
}

} // namespace

class TeardownTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), crateWithSetting()), 0);
        sys = window->getSysInterfaceVector()[0];
        window->show();
        QCoreApplication::processEvents();
        fakehv::clearCalls();
    }

    /* Opens the editor of a channel's V0Set cell and types a value into it. */
    QPointer<KORUHVWidgetItem> editVoltage(const QString &typed)
    {
        QCustomTableWidget *table = sys->getSystemSubwinWidget()->getTableWidget();
        int column = -1;
        for (int c = 0; c < table->columnCount(); ++c)
            if (table->horizontalHeaderItem(c) &&
                table->horizontalHeaderItem(c)->text() == QLatin1String("V0Set"))
                column = c;
        if (column < 0)
            return nullptr;
        QTableWidgetItem *cell = table->item(0, column);
        table->setCurrentItem(cell);
        table->editItem(cell);
        KORUHVWidgetItem *editor = openEditorIn(table);
        if (!editor)
            return nullptr;
        if (auto *line = editor->findChild<QLineEdit *>()) {
            line->setFocus();
            line->selectAll();
            QTest::keyClicks(line, typed);
        }
        return editor;
    }

    QSystemInterface *sys = nullptr;
};

enum class Change { PullBoard, Disconnect };

class EditorTeardown : public TeardownTest, public ::testing::WithParamInterface<Change> {};

TEST_P(EditorTeardown, AnOpenCellEditorWritesNothing)
{
    ModalAnswerer answerer(clickButton()); // the last removal may open the connection dialog
    QPointer<KORUHVWidgetItem> editor = editVoltage(QStringLiteral("250"));
    ASSERT_TRUE(editor);
    ASSERT_EQ(writes(), 0u);
    if (GetParam() == Change::PullBoard) {
        KORUHVNode *board = sys->getSystemNode()->getChildren().value(0);
        fakehv::system(sys->getSystemHandle()).crate[0] = fakehv::Board{};
        window->handleEventLiveInsertion(sys, true, true, sys->getSerial());
        EXPECT_NE(sys->getSystemNode()->getChildren().value(0), board);
    } else {
        window->disconnectFromSystem(0);
        EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
    }
    QCoreApplication::processEvents();
    /* Whatever still has the focus gets the confirming key. */
    if (QWidget *focus = QApplication::focusWidget())
        QTest::keyClick(focus, Qt::Key_Return);
    if (editor) {
        EXPECT_TRUE(editor->isCancelled());
        EXPECT_EQ(editor->getReferenceNode(), nullptr);
    }
    EXPECT_EQ(writes(), 0u);
    for (const fakehv::Call &c : fakehv::callsOf("KORUHV_SetChParam"))
        ADD_FAILURE() << "written: " << c.name << " slot " << c.slot;
}

INSTANTIATE_TEST_SUITE_P(Changes, EditorTeardown, ::testing::Values(Change::PullBoard, Change::Disconnect),
                         [](const auto &info) {
                             return info.param == Change::PullBoard ? "PullBoard" : "Disconnect";
                         });

TEST_F(TeardownTest, ARunningScriptStopsWhenItsSystemDisconnects)
{
    ModalAnswerer answerer(clickButton());
    sys->getSystemInfoWidget()->scriptingClicked();
    QPointer<QScriptDialog> dialog;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QScriptDialog *>(w))
            dialog = d;
    ASSERT_TRUE(dialog);
    dialog->findChild<QTextEdit *>(QStringLiteral("actionsEdit"))
        ->setPlainText(QStringLiteral("wait 300;\nset Pw 0{0} 1;\nset V0Set 0{*} 5;"));
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("startButton")), Qt::LeftButton);
    ASSERT_TRUE(dialog->isRunning());

    window->disconnectFromSystem(0);
    ASSERT_TRUE(waitUntil([&] { return !dialog || !dialog->isRunning(); })) << "the script still runs";
    /* Past the script's wait: a run still going would have written by now. */
    waitUntil([] { return writes() > 0; }, 600);
    EXPECT_EQ(writes(), 0u);
}

TEST_F(TeardownTest, DisconnectingAndClosingAShownWindowIsClean)
{
    ModalAnswerer answerer(clickButton());
    window->disconnectFromSystem(0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
}

/* The system interface says "tree is about to change" while the tree is still
 * whole: before a live insertion, before a board goes and before teardown;
 * a dialog opened from the panel afterwards is told as well. */
TEST_F(TeardownTest, TreeChangeIsAnnouncedBeforeEachChange)
{
    ModalAnswerer answerer(clickButton()); // the last removal may open the connection dialog
    struct Notice {
        int slot;
        KORUHVNode *system; // the tree as it was when told
        KORUHVNode *firstBoard;
    };
    std::vector<Notice> notices;
    QObject::connect(sys, &QSystemInterface::treeAboutToChange, [&](int slot) {
        KORUHVNode *node = sys->getSystemNode();
        notices.push_back({slot, node, node ? node->getChildren().value(0) : nullptr});
    });
    KORUHVNode *board = sys->getSystemNode()->getChildren().value(0);
    ASSERT_TRUE(board);

    sys->getSystemInfoWidget()->scriptingClicked();
    QPointer<QScriptDialog> dialog;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QScriptDialog *>(w))
            dialog = d;
    ASSERT_TRUE(dialog);
    QPointer<KORUHVScriptExecutor> executor =
        dialog->findChild<KORUHVScriptExecutor *>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_TRUE(executor);

    fakehv::system(sys->getSystemHandle()).crate[0] = fakehv::Board{};
    window->handleEventLiveInsertion(sys, true, true, sys->getSerial());
    ASSERT_GE(notices.size(), 2u);
    EXPECT_EQ(notices[0].slot, KORUHVTreeChange::SomeSlots);
    EXPECT_EQ(notices[0].firstBoard, board);
    EXPECT_EQ(notices[1].slot, 0);
    EXPECT_EQ(notices[1].firstBoard, board);
    /* Only the whole tree going lets the script dialog go. */
    EXPECT_EQ(executor->systemNode(), sys->getSystemNode());

    KORUHVNode *tree = sys->getSystemNode();
    const size_t before = notices.size();
    window->disconnectFromSystem(0);
    ASSERT_GT(notices.size(), before);
    EXPECT_EQ(notices[before].slot, KORUHVTreeChange::WholeTree);
    EXPECT_EQ(notices[before].system, tree);
    ASSERT_TRUE(executor); // the dialog stays open, without the tree
    EXPECT_EQ(executor->systemNode(), nullptr);
}
