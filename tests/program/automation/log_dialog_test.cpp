// The data-logging dialog offscreen on the fake crate: population from the
// node flags, clicks on boards and channels, the file name, and the OK
// decisions (nothing changes before an accepted OK).
#include "KORUHVLogGlobals.h"
#include "QLogDialog.h"
#include "automation_support.h"
#include "dialog_support.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

class LogDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        crate = autotest::makeCrate();
        for (const char *name : {"Temp", "FanStat"}) {
            auto *p = new KORUHVNode();
            p->KORUHVPrepareNode(QString::fromLatin1(name), NODE_SYSTEM_PROPERTY, 2, 0, QString(), QString(),
                                 QString());
            crate.node()->addParameter(p);
        }
        savedHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        setLogFilename(QString());
    }
    void TearDown() override
    {
        if (dialog)
            delete dialog.data();
        qputenv("HOME", savedHome);
        setLogFilename(QString());
    }
    void open()
    {
        dialog = new QLogDialog(crate.node(), nullptr);
        dialog->show();
    }
    QTreeWidget *tree() { return dialog->findChild<QTreeWidget *>(QStringLiteral("chanSel")); }
    QTreeWidget *list() { return dialog->findChild<QTreeWidget *>(QStringLiteral("listWidget")); }
    QLineEdit *fileLine() { return dialog->findChild<QLineEdit *>(QStringLiteral("fileLine")); }
    QPushButton *ok()
    {
        return dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Ok);
    }
    QStringList listTexts()
    {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            out << list()->topLevelItem(i)->text(0);
        return out;
    }
    QTreeWidgetItem *listItem(const char *name)
    {
        return list()->findItems(QString::fromLatin1(name), Qt::MatchExactly).value(0);
    }
    void click(QTreeWidgetItem *item)
    {
        tree()->scrollToItem(item);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(item).center());
    }
    static bool on(QTreeWidgetItem *item) { return item->flags() & Qt::ItemIsEnabled; }
    bool flagged(int slot, int ch, const char *name)
    {
        return crate.channelParam(slot, ch, name)->getHasLogEnabled();
    }
    bool sysFlagged(int i) { return crate.node()->getParameters()[i]->getHasLogEnabled(); }
    int flaggedCount()
    {
        int n = 0;
        for (KORUHVNode *b : crate.node()->getChildren())
            for (KORUHVNode *c : b->getChildren())
                for (KORUHVNode *p : c->getParameters())
                    n += p->getHasLogEnabled();
        return n;
    }

    autotest::Crate crate;
    QTemporaryDir home;
    QByteArray savedHome;
    QPointer<QLogDialog> dialog;
};

TEST_F(LogDialog, PopulationFollowsTreeAndFlags)
{
    crate.channelParam(0, 1, "Pw")->setHasLogEnabled(true);
    crate.node()->getParameters()[1]->setHasLogEnabled(true);
    open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Advanced Logging"));
    EXPECT_EQ(listTexts(), (QStringList{"Temp", "FanStat", "V0Set", "Pw", "Mode", "Name", "VSet"}));
    ASSERT_EQ(tree()->topLevelItemCount(), 4);
    EXPECT_TRUE(tree()->topLevelItem(1)->isHidden());
    EXPECT_TRUE(tree()->topLevelItem(3)->isHidden());
    EXPECT_TRUE(on(tree()->topLevelItem(0)));
    EXPECT_TRUE(on(tree()->topLevelItem(0)->child(1)));
    EXPECT_FALSE(on(tree()->topLevelItem(0)->child(0)));
    EXPECT_FALSE(on(tree()->topLevelItem(2)));
    EXPECT_TRUE(listItem("Pw")->isSelected());
    EXPECT_TRUE(listItem("FanStat")->isSelected());
    EXPECT_FALSE(listItem("V0Set")->isSelected());
    EXPECT_FALSE(ok()->isEnabled()); // no file name yet
}

TEST_F(LogDialog, ClicksChooseBoardsAndChannels)
{
    open();
    QTreeWidgetItem *board = tree()->topLevelItem(0);
    click(board); // a disabled board takes the click: it and its channels are chosen
    EXPECT_TRUE(on(board));
    for (int c = 0; c < board->childCount(); ++c)
        EXPECT_TRUE(on(board->child(c)));
    EXPECT_EQ(board->font(1).weight(), QFont::Bold);
    board->setExpanded(true);
    click(board->child(0));
    EXPECT_FALSE(on(board->child(0)));
    EXPECT_TRUE(on(board));
    click(board); // drops all
    EXPECT_FALSE(on(board));
    EXPECT_FALSE(on(board->child(3)));
    click(board->child(2)); // a channel of a dropped board chooses both
    EXPECT_TRUE(on(board->child(2)));
    EXPECT_TRUE(on(board));
    click(board->child(2)); // its last chosen channel: the board goes too
    EXPECT_FALSE(on(board));
}

TEST_F(LogDialog, FileNameFromField)
{
    const QString h = QStringLiteral("/home/u");
    struct {
        const char *field;
        const char *name;
    } cases[] = {
        {"run", "/home/u/run.log"},
        {"logs/run.log", "/home/u/logs/run.log"},
        {"/tmp/x.log", "/tmp/x.log"},
        {"/tmp/x.LOG", "/tmp/x.LOG.log"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(QLogDialog::logFileNameFromField(QString::fromLatin1(c.field), h),
                  QString::fromLatin1(c.name));
}

TEST_F(LogDialog, OkWithSystemParametersOnlyAccepts)
{
    open();
    QTest::keyClicks(fileLine(), QStringLiteral("run"));
    EXPECT_TRUE(ok()->isEnabled());
    EXPECT_TRUE(currentLogFilename().isEmpty()); // not before OK
    listItem("Temp")->setSelected(true);
    QTest::mouseClick(ok(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isNull() || dialog->result() == QDialog::Accepted);
    EXPECT_TRUE(sysFlagged(0));
    EXPECT_FALSE(sysFlagged(1));
    EXPECT_EQ(flaggedCount(), 0);
    EXPECT_EQ(currentLogFilename(), QDir(home.path()).filePath(QStringLiteral("run.log")));
}

TEST_F(LogDialog, OkWithChannelParameters)
{
    crate.channelParam(2, 0, "VSet")->setHasLogEnabled(true); // cleared by the new choice
    open();
    QTest::keyClicks(fileLine(), QStringLiteral("/tmp/a.log"));
    list()->clearSelection();
    click(tree()->topLevelItem(0));
    listItem("V0Set")->setSelected(true);
    QTest::mouseClick(ok(), Qt::LeftButton);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_TRUE(flagged(0, ch, "V0Set"));
    EXPECT_FALSE(flagged(0, 0, "Pw"));
    EXPECT_FALSE(flagged(2, 0, "VSet"));
    EXPECT_TRUE(flagged(2, 0, "V0Set")); // still chosen from its earlier flag
    EXPECT_EQ(flaggedCount(), 5);
    EXPECT_EQ(currentLogFilename(), QStringLiteral("/tmp/a.log"));
}

TEST_F(LogDialog, RefusedOkAndCancelChangeNothing)
{
    crate.channelParam(0, 1, "Pw")->setHasLogEnabled(true);
    setLogFilename(QStringLiteral("/tmp/keep.log"));
    open();
    EXPECT_EQ(fileLine()->text(), QStringLiteral("/tmp/keep.log"));
    fileLine()->setText(QStringLiteral("/tmp/other"));

    // Nothing chosen at all: error box, dialog stays.
    list()->clearSelection();
    click(tree()->topLevelItem(0)); // drops board 0 (it was chosen by Pw)
    QString text;
    koru_test::answerNextModal(
        [&](QWidget *w) {
            text = static_cast<QMessageBox *>(w)->text();
            static_cast<QMessageBox *>(w)->accept();
        },
        60000);
    QTest::mouseClick(ok(), Qt::LeftButton);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Please select at least a channel and a parameter.")));
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(flagged(0, 1, "Pw"));

    // A channel without parameters but a system parameter: asked, No stays.
    click(tree()->topLevelItem(0));
    listItem("Temp")->setSelected(true);
    koru_test::answerNextModal(
        [&](QWidget *w) {
            text = static_cast<QMessageBox *>(w)->text();
            static_cast<QMessageBox *>(w)->button(QMessageBox::No)->click();
        },
        60000);
    QTest::mouseClick(ok(), Qt::LeftButton);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Some channels or channel parameters has been selected,")));
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(flagged(0, 1, "Pw"));
    EXPECT_FALSE(sysFlagged(0));
    EXPECT_EQ(currentLogFilename(), QStringLiteral("/tmp/keep.log"));

    // Cancel: nothing changes.
    QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel),
                      Qt::LeftButton);
    EXPECT_TRUE(flagged(0, 1, "Pw"));
    EXPECT_EQ(currentLogFilename(), QStringLiteral("/tmp/keep.log"));
}

TEST_F(LogDialog, WarningAnsweredYesAccepts)
{
    open();
    fileLine()->setText(QStringLiteral("x"));
    click(tree()->topLevelItem(2));
    listItem("FanStat")->setSelected(true);
    koru_test::answerNextModal(
        [](QWidget *w) { static_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click(); }, 60000);
    QTest::mouseClick(ok(), Qt::LeftButton);
    EXPECT_TRUE(sysFlagged(1));
    EXPECT_EQ(flaggedCount(), 0);
    EXPECT_EQ(currentLogFilename(), QDir(home.path()).filePath(QStringLiteral("x.log")));
}

TEST_F(LogDialog, ABoardInsertedWhileOpenIsShownWithTheChoiceKeptBeforeOkActs)
{
    open();
    fileLine()->setText(QStringLiteral("x"));
    list()->clearSelection();
    click(tree()->topLevelItem(0));
    listItem("V0Set")->setSelected(true);
    // A board goes live into a new slot while the dialog is open.
    KORUHVNode *board = KORUHVConfig::KORUHVConfigCreateNodeBoard(4, 2, QStringLiteral("A1536"), QString(), 0,
                                                                  QString(), QString());
    for (unsigned short ch = 0; ch < 2; ++ch) {
        KORUHVNode *channel = KORUHVConfig::KORUHVConfigCreateNodeChannel(QString(), ch, 4);
        channel->addParameter(autotest::param("IMon", WRAPPER_TYPE_NUMERIC, 4, ch));
        board->addChildNode(channel);
    }
    crate.node()->addChildNode(board);

    QString text;
    koru_test::answerNextModal(
        [&](QWidget *w) {
            text = static_cast<QMessageBox *>(w)->text();
            static_cast<QMessageBox *>(w)->accept();
        },
        60000);
    QTest::mouseClick(ok(), Qt::LeftButton);
    EXPECT_TRUE(text.startsWith(QStringLiteral("The boards of crate changed while this dialog was open.")))
        << text;
    ASSERT_FALSE(dialog.isNull());
    EXPECT_NE(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(flaggedCount(), 0) << "nothing changes before the operator confirms";
    ASSERT_EQ(tree()->topLevelItemCount(), 5);
    EXPECT_EQ(tree()->topLevelItem(4)->childCount(), 2);
    EXPECT_TRUE(listItem("IMon"));
    EXPECT_TRUE(on(tree()->topLevelItem(0)->child(3))) << "the choice is kept";
    EXPECT_FALSE(on(tree()->topLevelItem(4)));
    EXPECT_TRUE(listItem("V0Set")->isSelected());

    QTest::mouseClick(ok(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isNull() || dialog->result() == QDialog::Accepted);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_TRUE(flagged(0, ch, "V0Set"));
}

TEST(LogDialogAlone, WithoutSystemOkDoesNothing)
{
    QLogDialog d(nullptr);
    d.setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(d.findChild<QTreeWidget *>(QStringLiteral("chanSel"))->topLevelItemCount(), 0);
    d.okButtonClicked();
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

} // namespace
