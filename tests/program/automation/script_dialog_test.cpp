// The script dialog offscreen: editor rule, Check, files, runs in the dock of
// a main window, the controls taken away during a run and given back, dock
// buttons, and closing or losing the system mid-run.
#include "KORUHVRunLogView.h"
#include "QScriptDialog.h"
#include "automation_support.h"
#include "dialog_support.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include "QSystemInformations.h"
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>

#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>

#include <gtest/gtest.h>

// The system panel, counting the times the dialog tells it to forget it.
class PanelProbe : public QSystemInformations {
    Q_OBJECT
public:
    PanelProbe() : QSystemInformations(QPixmap(), QStringLiteral("probe"), 0, nullptr) {}
    int closedCalls = 0;
public slots:
    void scriptingClosed() { closedCalls++; }
};

namespace {

class ScriptDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        crate = autotest::makeCrate();
        dialog = new QScriptDialog(crate.node(), &panel, nullptr);
        // Wired as the panel wires the dialogs it opens.
        QObject::connect(dialog, &QScriptDialog::closing, &panel, &PanelProbe::scriptingClosed);
        dialog->show();
    }
    void TearDown() override
    {
        QScriptDialog::chooseScriptFileForTest = nullptr;
        if (dialog)
            delete dialog.data();
    }
    QTextEdit *editor() { return dialog->findChild<QTextEdit *>(QStringLiteral("actionsEdit")); }
    QPushButton *button(const char *name)
    {
        return dialog->findChild<QPushButton *>(QString::fromLatin1(name));
    }
    QPushButton *boxButton(QDialogButtonBox::StandardButton b)
    {
        return dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBoxSaveOpen"))->button(b);
    }
    void type(const QString &text)
    {
        editor()->setFocus();
        QTest::keyClicks(editor(), text);
    }

    PanelProbe panel;
    autotest::Crate crate;
    QPointer<QScriptDialog> dialog;
};

TEST_F(ScriptDialog, EditorRuleEnablesSaveStartCheck)
{
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Create Script"));
    EXPECT_TRUE(editor()->toPlainText().isEmpty());
    for (QPushButton *b : {boxButton(QDialogButtonBox::Save), button("startButton"), button("buildButton")})
        EXPECT_FALSE(b->isEnabled());
    for (QPushButton *b : {boxButton(QDialogButtonBox::Open), button("wizButton"), button("closeButton")})
        EXPECT_TRUE(b->isEnabled());
    type(QStringLiteral(" "));
    EXPECT_TRUE(button("startButton")->isEnabled());
    EXPECT_TRUE(boxButton(QDialogButtonBox::Save)->isEnabled());
    QTest::keyClick(editor(), Qt::Key_Backspace);
    EXPECT_FALSE(button("buildButton")->isEnabled());
}

TEST_F(ScriptDialog, CheckReportsResultAndPosition)
{
    struct {
        const char *script;
        const char *label;
    } cases[] = {
        {"wait 10;\nset V0Set 0{1} 100;\n", "Script format correct."},
        {"wait 10;\nSET V0Set 0{1} 100;",
         "Script not correctly formatted.\nSyntax error in action [2]: unknown keyword "
         "\"SET\" (a four-word action starts with \"set\")"},
        {"set V0Set 0{1} 5000;", "Script not correctly formatted.\nSyntax error in action [1]: value "
                                 "\"5000\" for V0Set: out of range (0 to 1000)"},
        {";;", "Script not correctly formatted."},
    };
    for (const auto &c : cases) {
        editor()->setPlainText(QString::fromLatin1(c.script));
        QTest::mouseClick(button("buildButton"), Qt::LeftButton);
        auto *progress = dialog->findChild<QProgressDialog *>(QStringLiteral("checkProgress"));
        ASSERT_TRUE(progress);
        EXPECT_EQ(progress->value(), 100);
        EXPECT_EQ(progress->labelText(), QString::fromLatin1(c.label));
        auto *ok = progress->findChild<QPushButton *>(QStringLiteral("checkOkButton"));
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->text(), QStringLiteral("Ok"));
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_TRUE(autotest::waitFor([&] { return !dialog->findChild<QProgressDialog *>(); }));
    }
}

TEST_F(ScriptDialog, SaveAndLoadScriptFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString chosen = dir.filePath(QStringLiteral("ramp"));
    QScriptDialog::chooseScriptFileForTest = [&](QWidget *, bool) { return chosen; };
    editor()->setPlainText(QStringLiteral("wait 10;\nset V0Set 0{1} 100;"));
    QTest::mouseClick(boxButton(QDialogButtonBox::Save), Qt::LeftButton);
    QFile saved(dir.filePath(QStringLiteral("ramp.kas")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("wait 10;\nset V0Set 0{1} 100;"));

    // Loading into an editor with text asks first; Cancel keeps it.
    chosen = dir.filePath(QStringLiteral("ramp.kas"));
    editor()->setPlainText(QStringLiteral("wait 1;"));
    QString asked;
    koru_test::answerNextModal(
        [&](QWidget *w) {
            asked = static_cast<QMessageBox *>(w)->text();
            static_cast<QMessageBox *>(w)->button(QMessageBox::Cancel)->click();
        },
        60000);
    QTest::mouseClick(boxButton(QDialogButtonBox::Open), Qt::LeftButton);
    EXPECT_TRUE(asked.startsWith(QStringLiteral("There are still actions in the previous script. \n")));
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("wait 1;"));

    editor()->clear();
    QTest::mouseClick(boxButton(QDialogButtonBox::Open), Qt::LeftButton);
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("wait 10;\n set V0Set 0{1} 100;"));

    // A file that is not a script (an action not in the language) is
    // refused with a box; the editor stays.
    QFile bad(dir.filePath(QStringLiteral("bad.kas")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("wait 10; SET V0Set 0{1} 5;");
    bad.close();
    chosen = bad.fileName();
    QString refused;
    koru_test::answerNextModal(
        [&](QWidget *w) {
            refused = static_cast<QMessageBox *>(w)->text();
            static_cast<QMessageBox *>(w)->accept();
        },
        60000);
    QTest::mouseClick(boxButton(QDialogButtonBox::Open), Qt::LeftButton);
    EXPECT_EQ(refused, QStringLiteral("Incorrect file format."));
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("wait 10;\n set V0Set 0{1} 100;"));

    // A save that fails says so.
    chosen = dir.filePath(QStringLiteral("missing/folder/x"));
    QString warned;
    koru_test::answerNextModal(
        [&](QWidget *w) {
            warned = w->windowTitle();
            static_cast<QMessageBox *>(w)->accept();
        },
        60000);
    QTest::mouseClick(boxButton(QDialogButtonBox::Save), Qt::LeftButton);
    EXPECT_EQ(warned, QStringLiteral("LUMO2020"));
}

class ScriptRun : public ScriptDialog {
protected:
    void SetUp() override
    {
        window = new autotest::TestMainWindow();
        menu = window->menuBar()->addMenu(QStringLiteral("File"));
        table = new QTableWidget(2, 1, window);
        window->setCentralWidget(table);
        table->setItem(0, 0, new QTableWidgetItem(QStringLiteral("editable")));
        auto *fixed = new QTableWidgetItem(QStringLiteral("fixed"));
        fixed->setFlags(fixed->flags() & ~Qt::ItemIsEditable);
        table->setItem(1, 0, fixed);
        window->show();
        ScriptDialog::SetUp();
    }
    void TearDown() override
    {
        ScriptDialog::TearDown();
        delete window;
    }
    QTextBrowser *runLog() { return window->findChild<QTextBrowser *>(QStringLiteral("scriptRunLog")); }
    QPushButton *dockButton(const char *name)
    {
        return window->findChild<QPushButton *>(QString::fromLatin1(name));
    }
    bool editable(int row) { return table->item(row, 0)->flags() & Qt::ItemIsEditable; }

    autotest::TestMainWindow *window = nullptr;
    QMenu *menu = nullptr;
    QTableWidget *table = nullptr;
};

TEST_F(ScriptRun, RunUsesTheDockAndGivesControlsBack)
{
    editor()->setPlainText(QStringLiteral("set V0Set 0{1} 100;\nwait 200;\n"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(runLog());
    auto *dock = window->findChild<QDockWidget *>();
    ASSERT_TRUE(dock);
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("Script Execution"));
    EXPECT_EQ(window->dockWidgetArea(dock), Qt::BottomDockWidgetArea);
    EXPECT_TRUE(dialog->isRunning());
    EXPECT_FALSE(dialog->isEnabled());
    EXPECT_FALSE(menu->isEnabled());
    EXPECT_FALSE(editable(0));
    EXPECT_FALSE(dockButton("dockStartButton")->isEnabled());
    EXPECT_TRUE(dockButton("dockStopButton")->isEnabled());
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    EXPECT_TRUE(runLog()->toPlainText().contains(QStringLiteral("Script successfully executed.")))
        << runLog()->toPlainText();
    EXPECT_TRUE(dialog->isEnabled());
    EXPECT_TRUE(menu->isEnabled());
    EXPECT_TRUE(editable(0));
    EXPECT_FALSE(editable(1)); // each cell gets its own flag back
    EXPECT_TRUE(dockButton("dockStartButton")->isEnabled());
    EXPECT_FALSE(dockButton("dockPauseButton")->isEnabled());
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 1u);

    // A second run reuses the dock and starts with an empty log.
    editor()->setPlainText(QStringLiteral("wait 1;"));
    QTest::mouseClick(dockButton("dockStartButton"), Qt::LeftButton);
    EXPECT_EQ(window->findChildren<QDockWidget *>().size(), 1);
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    EXPECT_FALSE(runLog()->toPlainText().contains(QStringLiteral("V0Set")));
}

TEST_F(ScriptRun, DockButtonsPauseResumeAndStop)
{
    editor()->setPlainText(QStringLiteral("wait 300; set V0Set 0{0} 1; wait 60000; set V0Set 0{1} 1;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    QTest::mouseClick(dockButton("dockPauseButton"), Qt::LeftButton);
    EXPECT_TRUE(dockButton("dockStartButton")->isEnabled());
    EXPECT_TRUE(dockButton("dockStopButton")->isEnabled());
    EXPECT_FALSE(dockButton("dockPauseButton")->isEnabled());
    QTest::qWait(400);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
    QTest::mouseClick(dockButton("dockStartButton"), Qt::LeftButton); // resumes
    ASSERT_TRUE(autotest::waitFor([&] { return fakehv::callsOf("KORUHV_SetChParam").size() == 1; }));
    ASSERT_TRUE(
        autotest::waitFor([&] { return runLog()->toPlainText().contains(QStringLiteral("WAIT 60000")); }));
    QTest::mouseClick(dockButton("dockStopButton"), Qt::LeftButton);
    // Stop ends the 60 s wait at once; the margin is for a loaded machine.
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }, 30000));
    EXPECT_TRUE(runLog()->toPlainText().contains(QStringLiteral("Script stopped by the user.")));
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 1u);
    EXPECT_TRUE(dialog->isEnabled());
}

TEST_F(ScriptRun, StartAfterStopWaitsForTheOldRunsEnd)
{
    editor()->setPlainText(QStringLiteral("wait 60000; set V0Set 0{0} 1;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(
        autotest::waitFor([&] { return runLog()->toPlainText().contains(QStringLiteral("WAIT 60000")); }));
    editor()->setPlainText(QStringLiteral("set V0Set 0{1} 3;"));
    QTest::mouseClick(dockButton("dockStopButton"), Qt::LeftButton);
    QTest::mouseClick(dockButton("dockStartButton"), Qt::LeftButton); // the old run has not ended yet
    ASSERT_TRUE(autotest::waitFor([&] { return fakehv::callsOf("KORUHV_SetChParam").size() == 1; }));
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam")[0].list.at(0), 1);
    EXPECT_TRUE(runLog()->toPlainText().contains(QStringLiteral("Script successfully executed.")));
}

TEST_F(ScriptRun, FailingScriptWritesNothing)
{
    editor()->setPlainText(QStringLiteral("set V0Set 0{1} 100;\nset Pw 0{1} On;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    const QString text = runLog()->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Script checking has incountered an error.")));
    EXPECT_TRUE(text.contains(QStringLiteral("Syntax error in action [2]")));
    EXPECT_TRUE(text.contains(QStringLiteral("Some errors occourred in script.")));
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
    EXPECT_TRUE(dialog->isEnabled());
}

TEST_F(ScriptRun, ClosingMidRunStopsAndFreesDock)
{
    editor()->setPlainText(QStringLiteral("wait 60000; set V0Set 0{0} 1;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(dialog->isRunning());
    EXPECT_FALSE(editable(0));
    dialog->setEnabled(true); // the operator reaches the window's close box
    dialog->close();
    EXPECT_EQ(panel.closedCalls, 1);
    ASSERT_TRUE(autotest::waitFor([&] { return dialog.isNull(); }));
    EXPECT_TRUE(window->findChildren<QDockWidget *>().isEmpty());
    EXPECT_TRUE(editable(0));
    EXPECT_TRUE(menu->isEnabled());
    QTest::qWait(50);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
}

TEST_F(ScriptRun, DeletedMidRunGivesControlsBack)
{
    editor()->setPlainText(QStringLiteral("wait 60000;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(dialog->isRunning());
    delete dialog.data();
    EXPECT_TRUE(editable(0));
    EXPECT_TRUE(menu->isEnabled());
    EXPECT_TRUE(window->findChildren<QDockWidget *>().isEmpty());
}

TEST_F(ScriptRun, SystemRemovedMidRun)
{
    editor()->setPlainText(QStringLiteral("set V0Set * 1; wait 60000; set V0Set * 2;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(autotest::waitFor([&] { return !fakehv::callsOf("KORUHV_SetChParam").empty(); }));
    dialog->systemRemoved();
    crate.root.reset();
    EXPECT_FALSE(dialog->isRunning());
    const size_t n = fakehv::callsOf("KORUHV_SetChParam").size();
    QTest::qWait(50);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), n);
    EXPECT_TRUE(runLog()->toPlainText().contains(QStringLiteral("Script stopped by the user.")));
}

// A long run: every line of the log is a block of its own (an insertion lays
// out one short line, not the whole log), the view keeps the newest lines,
// and its first line says how many earlier ones, and errors among them, are
// no longer shown.
TEST_F(ScriptRun, ALongRunKeepsTheNewestLinesAndSaysWhatItNoLongerShows)
{
    constexpr int Pairs = 1500; // a refused write and a wait of 0 ms each
    fakehv::system(crate.handle).codes["KORUHV_SetChParam"] = 5;
    QString script;
    for (int i = 0; i < Pairs; ++i)
        script += QStringLiteral("set V0Set 0{1} %1;\nwait 0;\n").arg(i % 100);
    editor()->setPlainText(script);
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), size_t(Pairs));

    QTextDocument *doc = runLog()->document();
    EXPECT_LE(doc->blockCount(), KORUHVRunLogView::MaxLines + KORUHVRunLogView::MaxLines / 10 + 1);
    int shownErrors = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        EXPECT_FALSE(b.text().contains(QChar::LineSeparator)) << "several lines in one block: " << b.text();
        shownErrors += b.text().contains(QStringLiteral("ERROR - SET [V0Set] for bd[0] ch[1]")) ? 1 : 0;
    }
    const QString text = runLog()->toPlainText();
    const QString first = doc->begin().text();
    const QRegularExpression note(QStringLiteral(
        "^\\[(\\d+) earlier lines of this run are no longer shown: the view keeps the last (\\d+) lines; "
        "(\\d+) of the lines not shown reported an ERROR\\]$"));
    const QRegularExpressionMatch m = note.match(first);
    ASSERT_TRUE(m.hasMatch()) << first;
    EXPECT_EQ(m.captured(2).toInt(), KORUHVRunLogView::MaxLines);
    EXPECT_GT(m.captured(1).toInt(), 0);
    EXPECT_EQ(m.captured(3).toInt() + shownErrors, Pairs) << "each refused write is shown or counted";
    // The newest lines are all there, the last action and the end of the run.
    EXPECT_TRUE(text.endsWith(QStringLiteral("WAIT 0 ms... OK\n\nSome errors occourred in script.\n\n")))
        << text.right(200);
    EXPECT_TRUE(text.contains(QStringLiteral("SET [V0Set] for [0{1}] to [%1]... ").arg((Pairs - 1) % 100)));
}

TEST_F(ScriptRun, ARefusedRunSaysWhyAndAfterItsSystemWentThatItWent)
{
    editor()->setPlainText(QStringLiteral("set VOSet 0{1} 100;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    EXPECT_TRUE(runLog()->toPlainText().contains(QStringLiteral(
        "Syntax error in action [1]: unknown parameter \"VOSet\" (no selected channel has it)")))
        << runLog()->toPlainText();

    dialog->systemRemoved();
    crate.root.reset();
    editor()->setPlainText(QStringLiteral("wait 1;"));
    QTest::mouseClick(dockButton("dockStartButton"), Qt::LeftButton);
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    const QString text = runLog()->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Script checking has incountered an error.")));
    EXPECT_TRUE(text.contains(QStringLiteral("The system of this script is no longer connected."))) << text;
    EXPECT_FALSE(text.contains(QStringLiteral("Syntax error"))) << text;
}

TEST_F(ScriptRun, RowsInsertedDuringARunAreLockedToo)
{
    editor()->setPlainText(QStringLiteral("wait 60000;"));
    QTest::mouseClick(button("startButton"), Qt::LeftButton);
    ASSERT_TRUE(dialog->isRunning());
    // A board inserted meanwhile: its rows come in above and below the old ones.
    table->insertRow(0);
    table->setItem(0, 0, new QTableWidgetItem(QStringLiteral("new above")));
    table->insertRow(3);
    table->setItem(3, 0, new QTableWidgetItem(QStringLiteral("new below")));
    auto *readOnly = new QTableWidgetItem(QStringLiteral("new fixed"));
    readOnly->setFlags(readOnly->flags() & ~Qt::ItemIsEditable);
    table->insertRow(4);
    table->setItem(4, 0, readOnly);
    for (int r = 0; r < table->rowCount(); ++r)
        EXPECT_FALSE(editable(r)) << "row " << r << " is editable while the script writes";
    // Sorted, a new cell is placed by a layout change.
    table->setSortingEnabled(true);
    table->sortByColumn(0, Qt::AscendingOrder);
    table->insertRow(5);
    table->setItem(5, 0, new QTableWidgetItem(QStringLiteral("a sorted one")));
    for (int r = 0; r < table->rowCount(); ++r)
        EXPECT_FALSE(editable(r)) << "row " << r << " (sorted) is editable while the script writes";

    QTest::mouseClick(dockButton("dockStopButton"), Qt::LeftButton);
    ASSERT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
    // Every cell gets its own flag back, wherever its row went.
    const struct {
        const char *text;
        bool editable;
    } cells[] = {{"editable", true},  {"fixed", false},     {"new above", true},
                 {"new below", true}, {"new fixed", false}, {"a sorted one", true}};
    for (const auto &c : cells) {
        QTableWidgetItem *item = table->findItems(QString::fromLatin1(c.text), Qt::MatchExactly).value(0);
        ASSERT_TRUE(item) << c.text;
        EXPECT_EQ(bool(item->flags() & Qt::ItemIsEditable), c.editable) << c.text;
    }
}

TEST(ScriptDialogAlone, WithoutMainWindowARunOnlyMinimises)
{
    fakehv::reset();
    autotest::Crate crate = autotest::makeCrate();
    QScriptDialog d(crate.node(), nullptr, nullptr);
    d.setAttribute(Qt::WA_DeleteOnClose, false);
    d.findChild<QTextEdit *>()->setPlainText(QStringLiteral("set V0Set 0{0} 1;"));
    d.handleExecActions();
    EXPECT_FALSE(d.isRunning());
    QTest::qWait(20);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
}

} // namespace

#include "script_dialog_test.moc"
