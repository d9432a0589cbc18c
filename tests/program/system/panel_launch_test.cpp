// The data-logging and script dialogs the system panel opens, over scripted
// systems of the fake wrapper: one dialog per click, a run stopped with its
// panel.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVNode.h"
#include "QLogDialog.h"
#include "QScriptDialog.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "SysDialogLamps.h"
#include "panel_fixture.h"
#include "panel_support.h"
#include "qt_gtest_print.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace paneltest;

// ------------------------------------------- data-logging and script dialogs

// Runs events until `done` holds; the bound only catches a hang.
template <typename Pred> bool waitUntil(Pred done, int boundMs = koru_test::kHangGuardMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs)
            return false;
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(10);
    }
    return true;
}

// A main window registered as the program's, which a script run needs for
// its dock.
class RunWindow : public QMainWindow, public MainWindowServices {
public:
    RunWindow() { setMainWindow(this); }
    ~RunWindow() override { setMainWindow(nullptr); }
    void removeBoardFromGroups(int, unsigned short) override {}
    QMainWindow *mainWindowWidget() override { return this; }
};

class PanelLaunchTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        savedHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        setLogFilename(QString());
    }
    void TearDown() override
    {
        host.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qputenv("HOME", savedHome);
        setLogFilename(QString());
    }
    // The SCRIPT or LOG button of the advanced area, opened first.
    QPushButton *advancedButton(const char *text)
    {
        QPushButton *toggle = nullptr;
        QPushButton *wanted = nullptr;
        for (QPushButton *b : panel()->findChildren<QPushButton *>()) {
            if (b->text() == QLatin1String("ADVANCED FEATURES"))
                toggle = b;
            if (b->text() == QLatin1String(text))
                wanted = b;
        }
        if (toggle && !toggle->isChecked())
            click(toggle);
        return wanted;
    }
    QPushButton *logOnOff(const char *text)
    {
        for (QPushButton *b : panel()->findChildren<QPushButton *>(QStringLiteral("onOffLogButton")))
            if (b->text() == QLatin1String(text))
                return b;
        return nullptr;
    }
    QList<QScriptDialog *> scriptDialogs() const
    {
        QList<QScriptDialog *> out;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QScriptDialog *>(w); d && d->isVisible())
                out << d;
        return out;
    }

    QTemporaryDir home;
    QByteArray savedHome;
};

TEST_F(PanelLaunchTest, LogOpensTheSetupDialogOncePerClick)
{
    make(2, scripted(crateProps()));
    QPushButton *log = advancedButton("LOG");
    ASSERT_NE(log, nullptr);
    QPushButton *on = logOnOff("ON");
    QPushButton *off = logOnOff("OFF");
    ASSERT_TRUE(on && off);

    // Cancel, twice: one dialog per click, nothing changes.
    for (int i = 0; i < 2; ++i) {
        ModalAnswerer answers;
        answers.then([](QWidget *w) {
            ASSERT_NE(qobject_cast<QLogDialog *>(w), nullptr);
            EXPECT_EQ(w->parentWidget(), nullptr);
            click(w->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                      ->button(QDialogButtonBox::Cancel));
        });
        click(log);
        EXPECT_FALSE(answers.timedOut());
        EXPECT_EQ(answers.seen().size(), 1u);
        EXPECT_EQ(answers.pending(), 0);
        EXPECT_FALSE(on->isEnabled());
        EXPECT_FALSE(off->isEnabled());
        EXPECT_EQ(on->toolTip(), QStringLiteral("No parameters/channels selected"));
        EXPECT_TRUE(currentLogFilename().isEmpty());
        EXPECT_FALSE(host->iface->getIsLogStarted());
    }

    // OK with a system parameter chosen: ON/OFF usable, OFF pressed and
    // lit, logging itself not started.
    ModalAnswerer answers;
    answers.then([](QWidget *w) {
        QTest::keyClicks(w->findChild<QLineEdit *>(QStringLiteral("fileLine")), QStringLiteral("run"));
        auto *list = w->findChild<QTreeWidget *>(QStringLiteral("listWidget"));
        const auto items = list->findItems(QStringLiteral("Temp"), Qt::MatchExactly);
        ASSERT_FALSE(items.isEmpty());
        items.first()->setSelected(true);
        click(w->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok));
    });
    click(log);
    EXPECT_FALSE(answers.timedOut());
    EXPECT_EQ(answers.seen().size(), 1u);
    EXPECT_TRUE(on->isEnabled());
    EXPECT_TRUE(off->isEnabled());
    EXPECT_TRUE(on->toolTip().isEmpty());
    EXPECT_TRUE(off->isChecked());
    EXPECT_FALSE(on->isChecked());
    EXPECT_TRUE(hasLitLook(off));
    EXPECT_FALSE(hasLitLook(on));
    EXPECT_FALSE(host->iface->getIsLogStarted());
    EXPECT_EQ(currentLogFilename(), QDir(home.path()).filePath(QStringLiteral("run.log")));
    EXPECT_TRUE(param(QStringLiteral("Temp"))->getHasLogEnabled());
    click(on);
    EXPECT_TRUE(host->iface->getIsLogStarted());
}

TEST_F(PanelLaunchTest, ScriptButtonKeepsOneDialogUntilItCloses)
{
    make(2, scripted(crateProps()));
    QPushButton *script = advancedButton("SCRIPT");
    ASSERT_NE(script, nullptr);
    click(script);
    ASSERT_EQ(scriptDialogs().size(), 1);
    QPointer<QScriptDialog> first = scriptDialogs().first();
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_FALSE(first->isModal());

    click(script); // brought back, not a second one
    ASSERT_EQ(scriptDialogs().size(), 1);
    EXPECT_EQ(scriptDialogs().first(), first.data());
    EXPECT_FALSE(first->isMinimized());

    // Closed, the panel forgets it at once: the next click makes a new
    // one even before the old one's deferred deletion.
    first->close();
    EXPECT_TRUE(scriptDialogs().isEmpty());
    click(script);
    ASSERT_EQ(scriptDialogs().size(), 1);
    QPointer<QScriptDialog> second = scriptDialogs().first();
    EXPECT_NE(second.data(), first.data());
    ASSERT_TRUE(waitUntil([&] { return first.isNull(); }));
    EXPECT_EQ(scriptDialogs().size(), 1);

    // The panel going closes its dialog (deleted once events run).
    host.reset();
    EXPECT_TRUE(second.isNull() || !second->isVisible());
    ASSERT_TRUE(waitUntil([&] { return second.isNull(); }));
}

TEST_F(PanelLaunchTest, PanelDestroyedDuringARunStopsIt)
{
    RunWindow window;
    window.show();
    make(2, scripted(crateProps()));
    QPushButton *script = advancedButton("SCRIPT");
    ASSERT_NE(script, nullptr);
    click(script);
    ASSERT_EQ(scriptDialogs().size(), 1);
    QPointer<QScriptDialog> dialog = scriptDialogs().first();
    dialog->findChild<QTextEdit *>(QStringLiteral("actionsEdit"))
        ->setPlainText(QStringLiteral("set Pw * 1; wait 60000; set Pw * 0;"));
    click(dialog->findChild<QPushButton *>(QStringLiteral("startButton")));
    ASSERT_TRUE(dialog->isRunning());
    ASSERT_TRUE(waitUntil([&] { return !fakehv::callsOf("KORUHV_SetChParam").empty(); }));
    const size_t writes = fakehv::callsOf("KORUHV_SetChParam").size();

    // Panel, interface and the system's tree go while the run waits; the
    // dialog's deferred deletion comes after the tree is gone.
    host.reset();
    ASSERT_FALSE(dialog.isNull()); // closed, its deletion still pending
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->isRunning());
    auto *runLog = window.findChild<QTextBrowser *>(QStringLiteral("scriptRunLog"));
    ASSERT_NE(runLog, nullptr);
    EXPECT_TRUE(runLog->toPlainText().contains(QStringLiteral("Script stopped by the user.")))
        << runLog->toPlainText().toStdString();
    ASSERT_TRUE(waitUntil([&] { return dialog.isNull(); }));
    QTest::qWait(50);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), writes);
    EXPECT_TRUE(window.findChildren<QDockWidget *>().isEmpty());
}
