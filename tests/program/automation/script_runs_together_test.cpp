// Scripts of two systems running at once: the controls stay taken away until
// the last run ends, whichever ends first; then every cell has its own flag
// back, also after later runs; both runs share one "Script Execution" dock,
// each with its own buttons and log.
#include "QScriptDialog.h"
#include "automation_support.h"
#include "dialog_support.h"
#include "qt_gtest_print.h"

#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>

#include <gtest/gtest.h>

namespace {

class ScriptsTogether : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        crates[0] = autotest::makeCrate();
        crates[1] = autotest::makeCrate();
        menu = window.menuBar()->addMenu(QStringLiteral("File"));
        table = new QTableWidget(4, 2, &window);
        window.setCentralWidget(table);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 2; ++c) {
                auto *item = new QTableWidgetItem(QStringLiteral("%1.%2").arg(r).arg(c));
                if (r == 3 && c == 1)
                    item->setFlags(item->flags() & ~Qt::ItemIsEditable); // a read-only cell
                table->setItem(r, c, item);
            }
        window.show();
        for (int i = 0; i < 2; ++i) {
            dialogs[i] = new QScriptDialog(crates[i].node(), nullptr, nullptr);
            dialogs[i]->setAttribute(Qt::WA_DeleteOnClose, false);
            dialogs[i]->show();
        }
    }
    void TearDown() override
    {
        for (QScriptDialog *d : dialogs)
            delete d;
    }
    int editableCells()
    {
        int n = 0;
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c)
                n += bool(table->item(r, c)->flags() & Qt::ItemIsEditable);
        return n;
    }
    void start(int i, const char *script)
    {
        dialogs[i]->findChild<QTextEdit *>()->setPlainText(QString::fromLatin1(script));
        QTest::mouseClick(dialogs[i]->findChild<QPushButton *>(QStringLiteral("startButton")),
                          Qt::LeftButton);
        ASSERT_TRUE(dialogs[i]->isRunning());
    }
    void stop(int i)
    {
        dialogs[i]->stopButtonClicked();
        ASSERT_TRUE(autotest::waitFor([&] { return !dialogs[i]->isRunning(); }));
    }

    autotest::TestMainWindow window;
    autotest::Crate crates[2];
    QScriptDialog *dialogs[2] = {nullptr, nullptr};
    QMenu *menu = nullptr;
    QTableWidget *table = nullptr;
};

TEST_F(ScriptsTogether, ControlsComeBackWhenTheLastRunEndsAndEachCellGetsItsOwnFlag)
{
    ASSERT_EQ(editableCells(), 7);
    start(0, "wait 60000;");
    start(1, "wait 60000;");
    EXPECT_EQ(editableCells(), 0);
    EXPECT_FALSE(menu->isEnabled());
    EXPECT_EQ(window.findChildren<QDockWidget *>().size(), 1);
    EXPECT_EQ(window.findChildren<QTextBrowser *>(QStringLiteral("scriptRunLog")).size(), 2);

    // The first started ends first: the second still writes.
    stop(0);
    EXPECT_TRUE(dialogs[1]->isRunning());
    EXPECT_EQ(editableCells(), 0);
    EXPECT_FALSE(menu->isEnabled());

    stop(1);
    EXPECT_EQ(editableCells(), 7);
    EXPECT_FALSE(table->item(3, 1)->flags() & Qt::ItemIsEditable);
    EXPECT_TRUE(menu->isEnabled());

    // A later single run takes them and gives them back as before.
    start(1, "wait 60000;");
    EXPECT_EQ(editableCells(), 0);
    stop(1);
    EXPECT_EQ(editableCells(), 7);
    EXPECT_TRUE(menu->isEnabled());
    EXPECT_EQ(window.findChildren<QDockWidget *>().size(), 1);
}

TEST_F(ScriptsTogether, TheSecondStartedEndingFirstAndADialogClosedMidRunHoldNothing)
{
    start(0, "wait 60000;");
    start(1, "set V0Set 0{1} 5;");
    ASSERT_TRUE(autotest::waitFor([&] { return !dialogs[1]->isRunning(); }));
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 1u);
    EXPECT_EQ(editableCells(), 0);
    EXPECT_FALSE(menu->isEnabled());

    // The other dialog goes mid-run: its page goes, the dock stays for the
    // page left, and the controls come back.
    start(1, "wait 60000;");
    delete dialogs[0];
    dialogs[0] = nullptr;
    EXPECT_EQ(editableCells(), 0);
    EXPECT_EQ(window.findChildren<QDockWidget *>().size(), 1);
    EXPECT_EQ(window.findChildren<QTextBrowser *>(QStringLiteral("scriptRunLog")).size(), 1);
    stop(1);
    EXPECT_EQ(editableCells(), 7);
    EXPECT_TRUE(menu->isEnabled());
    delete dialogs[1];
    dialogs[1] = nullptr;
    EXPECT_TRUE(window.findChildren<QDockWidget *>().isEmpty());
}

/* A cell whose memory the next one takes at once, as a deleted node's
 * memory goes to the next node built (a board pulled, another inserted). */
struct ReusedCell : QTableWidgetItem {
    using QTableWidgetItem::QTableWidgetItem;
    static void *operator new(std::size_t size)
    {
        void *block = spare && spareSize == size ? spare : ::operator new(size);
        if (block == spare)
            spare = nullptr;
        return block;
    }
    static void operator delete(void *block, std::size_t size)
    {
        ::operator delete(spare);
        spare = block;
        spareSize = size;
    }
    static inline void *spare = nullptr;
    static inline std::size_t spareSize = 0;
};

TEST_F(ScriptsTogether, ACellDeletedMidRunAndANewOneAtItsAddressEachEndWithTheirOwnFlag)
{
    struct Case {
        const char *what;
        bool oldEditable;
        bool newEditable;
    };
    const Case cases[] = {
        {"a writable cell where a read-only one was", false, true},
        {"a read-only cell where a writable one was", true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto *old = new ReusedCell(QStringLiteral("old"));
        if (!c.oldEditable)
            old->setFlags(old->flags() & ~Qt::ItemIsEditable);
        table->setItem(0, 0, old);
        start(0, "wait 60000;");
        const void *oldAddress = old;
        delete old; // its board is pulled mid-run
        auto *cell = new ReusedCell(QStringLiteral("new"));
        ASSERT_EQ(static_cast<void *>(cell), oldAddress);
        if (!c.newEditable)
            cell->setFlags(cell->flags() & ~Qt::ItemIsEditable);
        table->setItem(0, 0, cell); // and another board inserted
        EXPECT_FALSE(cell->flags() & Qt::ItemIsEditable);
        stop(0);
        EXPECT_EQ(bool(cell->flags() & Qt::ItemIsEditable), c.newEditable);
        EXPECT_EQ(editableCells(), 6 + (c.newEditable ? 1 : 0));
    }
}

} // namespace
