// The trip-line editor: line counts and masks as 32-bit words, the "Result"
// texts, writes on OK and Apply, the warning for masks with several lines,
// and a board pulled while the editor is open.
#include "FakeWrapper.h"
#include "QSubWindow.h"
#include "QTripHandlingDialog.h"
#include "qt_gtest_print.h"
#include "views_support.h"

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using fakehv::Raw;

TEST(TripMasks, LinesMasksAndTexts)
{
    EXPECT_EQ(koruviews::tripLineCount(false, 12), 6);
    EXPECT_EQ(koruviews::tripLineCount(false, 40), 16);
    EXPECT_EQ(koruviews::tripLineCount(true, 12), 4);
    EXPECT_EQ(koruviews::tripLineMask(2, 6), 0x104u);
    EXPECT_EQ(koruviews::tripLineMask(3, 4), 0x88u);
    EXPECT_EQ(koruviews::tripLineMask(15, 16), 0x80008000u);
    EXPECT_EQ(koruviews::tripResultText("", 0x80008000u, false), "80008000");
    EXPECT_EQ(koruviews::tripResultText("A", 0xABu, true), "A000000AB");
    quint32 m = 0;
    ASSERT_TRUE(koruviews::tripMaskFromResult("A000000AB", "A", &m));
    EXPECT_EQ(m, 0xABu) << "only the leading unit is removed";
    ASSERT_TRUE(koruviews::tripMaskFromResult("80008000", "", &m));
    EXPECT_EQ(m, 0x80008000u);
    EXPECT_FALSE(koruviews::tripMaskFromResult("zz", "", &m));
    EXPECT_FALSE(koruviews::tripMaskFromResult("", "", &m));
}

class TripEditor : public ::testing::Test {
protected:
    void make(int channels, uint32_t firstMask = 0)
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, (unsigned short)channels);
        for (auto &ch : b.channels) {
            fakehv::Param p;
            p.type = 4;
            p.value = Raw::u32(0);
            ch.params = {{"TripInt", p}, {"TripExt", p}};
        }
        b.channels[0].params[0].second.value = Raw::u32(firstMask);
        h = fakehv::addSystem(sys);
        tree.reset(vt::buildTree(h, 2));
        fakehv::clearCalls();
    }
    QTableWidget *boardTable(QTripHandlingDialog *d) { return d->boardTables().value(0); }
    void clickLine(QTripHandlingDialog *d, int line)
    {
        for (QPushButton *b : d->findChildren<QPushButton *>("colorButt"))
            if (b->property("line").toInt() == line)
                b->click();
    }

    int h = -1;
    std::unique_ptr<KORUHVNode> tree;
};

TEST_F(TripEditor, Line15Of32ChannelsIsWrittenAsOneWord)
{
    make(32);
    QPointer<QTripHandlingDialog> d = new QTripHandlingDialog(0, tree.get(), nullptr);
    QTableWidget *t = boardTable(d);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rowCount(), 32);
    EXPECT_EQ(d->findChildren<QPushButton *>("colorButt").size(), 16);
    clickLine(d, 15);
    emit t->itemClicked(t->item(0, 0));
    EXPECT_EQ(t->item(0, 1)->text(), "80008000");
    d->getButtonBox()->button(QDialogButtonBox::Apply)->click();
    auto sets = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(sets.size(), 32u) << "every channel is written";
    EXPECT_EQ(sets[0].value.asU32(), 0x80008000u);
    EXPECT_EQ(sets[1].value.asU32(), 0u);

    // Clicking a cell that shows a line clears it.
    emit t->itemClicked(t->item(0, 0));
    EXPECT_EQ(t->item(0, 1)->text(), "00000000");
    EXPECT_EQ(t->item(0, 0)->text(), "");
    delete d;
}

TEST_F(TripEditor, ExternalLinesAndComplexMasksWarn)
{
    make(12, 0x3); // bits 0 and 1: two lines at once
    QString warned;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            warned = box->windowTitle();
            box->accept();
        }
    });
    answer.start();
    auto *internal = new QTripHandlingDialog(0, tree.get(), nullptr);
    EXPECT_TRUE(internal->hasComplexValues());
    EXPECT_EQ(boardTable(internal)->item(0, 0)->text(), "1") << "the last line wins";
    ASSERT_TRUE(vt::waitFor([&] { return !warned.isEmpty(); }));
    EXPECT_EQ(warned, "LUMO2020");
    delete internal;

    make(12);
    auto *external = new QTripHandlingDialog(1, tree.get(), nullptr);
    EXPECT_EQ(external->windowTitle(), "External Trip Configuration");
    clickLine(external, 3);
    QTableWidget *t = boardTable(external);
    emit t->itemClicked(t->item(5, 0));
    EXPECT_EQ(t->item(5, 1)->text(), "00000088");
    delete external;
}

TEST_F(TripEditor, BoardPulledWhileOpenRejectsWithoutWriting)
{
    make(12);
    QPointer<QTripHandlingDialog> d = new QTripHandlingDialog(0, tree.get(), nullptr);
    // Routed as the main window routes the tree notices to the dialog it opened.
    KORUHVConfig::KORUHVConfigSetBoardRemovalHandler([&](int, unsigned short slot, KORUHVNode *) {
        if (d)
            d->treeAboutToChange(slot);
    });
    clickLine(d, 2);
    emit boardTable(d)->itemClicked(boardTable(d)->item(0, 0));
    QTimer::singleShot(30, [&] {
        fakehv::system(h).crate[0].channelCount = 0;
        fakehv::system(h).crate[0].channels.clear();
        KORUHVConfig::KORUHVConfigChangeBoardsLive(h, tree.get());
        // A late Apply finds nothing to write.
        if (d)
            d->getButtonBox()->button(QDialogButtonBox::Apply)->click();
    });
    QTimer guard; // bound: reject whatever is still open after 3 s
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (d)
            d->reject();
    });
    guard.start(3000);
    const int result = d->exec();
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(guard.isActive()) << "rejected by the board change, not by the guard";
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 0u);
    KORUHVConfig::KORUHVConfigSetBoardRemovalHandler(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
