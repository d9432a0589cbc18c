// Script files and wizard lines reach the editor as plain text: a file
// written for another crate opens, with what this system's check refuses and
// why (Start still refuses it); only what is no script gives "Incorrect file
// format."; markup in a value stays as written, up to the write.
#include "QScriptDialog.h"
#include "automation_support.h"
#include "dialog_support.h"
#include "locale_scope.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class ScriptLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        fakehv::reset();
        crate = autotest::makeCrate();
        window.show();
        dialog = new QScriptDialog(crate.node(), nullptr, nullptr);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->show();
        QScriptDialog::chooseScriptFileForTest = [this](QWidget *, bool) { return chosen; };
    }
    void TearDown() override
    {
        QScriptDialog::chooseScriptFileForTest = nullptr;
        delete dialog;
    }
    QTextEdit *editor() { return dialog->findChild<QTextEdit *>(QStringLiteral("actionsEdit")); }
    QPushButton *openButton()
    {
        return dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBoxSaveOpen"))
            ->button(QDialogButtonBox::Open);
    }
    void writeFile(const QByteArray &content)
    {
        chosen = dir.filePath(QStringLiteral("script.kas"));
        QFile f(chosen);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    // Opens the chosen file; the text of the box it shows. Where no box is
    // expected, one that comes anyway is answered and the test fails.
    QString open(bool box = true)
    {
        QString shown;
        const std::shared_ptr<bool> reached = koru_test::answerNextModal<QMessageBox>(
            [&](QMessageBox *b) {
                shown = b->text();
                b->accept();
            },
            box ? 60000 : 300);
        QTest::mouseClick(openButton(), Qt::LeftButton);
        if (!box)
            QTest::qWait(400); // the answerer's bound runs out here
        EXPECT_EQ(*reached, box);
        return shown;
    }
    // Runs the editor's script from the dialog and returns the run log.
    QString start()
    {
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("startButton")), Qt::LeftButton);
        EXPECT_TRUE(autotest::waitFor([&] { return !dialog->isRunning(); }));
        auto *log = window.findChild<QTextBrowser *>(QStringLiteral("scriptRunLog"));
        return log ? log->toPlainText() : QString();
    }

    QTemporaryDir dir;
    QString chosen;
    autotest::TestMainWindow window;
    autotest::Crate crate;
    QScriptDialog *dialog = nullptr;
};

TEST_F(ScriptLoad, AFileForAnotherCrateOpensAndSaysWhatTheCheckRefuses)
{
    writeFile("wait 10;\nset V0Set 1{0} 100;\nset V0Set 0{1} 5000;\nset V0Set 0{1} 7;\n");
    const QString box = open();
    EXPECT_EQ(editor()->toPlainText(),
              QStringLiteral("wait 10;\n set V0Set 1{0} 100;\n set V0Set 0{1} 5000;\n set V0Set 0{1} 7;"));
    EXPECT_TRUE(box.contains(QStringLiteral("refuses 2 of its 4 actions"))) << box.toStdString();
    EXPECT_TRUE(box.contains(QStringLiteral("Syntax error in action [2]: slot 1 is empty\n")))
        << box.toStdString();
    EXPECT_TRUE(box.contains(
        QStringLiteral("Syntax error in action [3]: value \"5000\" for V0Set: out of range (0 to 1000)")))
        << box.toStdString();
    EXPECT_FALSE(box.contains(QStringLiteral("[4]"))) << box.toStdString();

    // Start still refuses it as it stands; adapted, it runs.
    EXPECT_TRUE(start().contains(QStringLiteral("Script checking has incountered an error.")));
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChParam").empty());
    editor()->setPlainText(QStringLiteral("wait 10;\n set V0Set 2{0} 100;\n set V0Set 0{1} 500;"));
    EXPECT_TRUE(start().contains(QStringLiteral("Script successfully executed.")));
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam").size(), 2u);
}

TEST_F(ScriptLoad, WhatIsNoScriptStaysRefused)
{
    for (const char *content : {"", "hello world", "wait 10; SET V0Set 0{1} 5;", "set V0Set 0{1 5;", ";;;",
                                "wait 10; set V0Set 0{1};", "wait soon;"}) {
        SCOPED_TRACE(content);
        editor()->setPlainText(QStringLiteral("wait 1;"));
        writeFile(QByteArray(content));
        EXPECT_EQ(open(), QStringLiteral("Incorrect file format."));
        EXPECT_EQ(editor()->toPlainText(), QStringLiteral("wait 1;"));
    }
}

TEST_F(ScriptLoad, MarkupInAValueIsLoadedAndWrittenAsText)
{
    writeFile("set Name 0{0} <b>HV1</b>;");
    open(false); // a valid script: no box
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("set Name 0{0} <b>HV1</b>;"));
    EXPECT_TRUE(start().contains(QStringLiteral("Script successfully executed.")));
    ASSERT_EQ(fakehv::callsOf("KORUHV_SetChName").size(), 1u);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChName")[0].name, "<b>HV1</b>");
}

// Under the C locale a character its 8-bit encoding lacks is saved and
// loaded as it is (the file is UTF-8), so the check sees the real name and
// refuses it, where a "?" in its place would have been written.
TEST_F(ScriptLoad, ACharacterTheLocaleLacksIsSavedAndLoadedAsItIs)
{
    koru_test::LocaleScope scope("C");
    const QString script = QStringLiteral("set Name 0{0} HV\u20ac;");
    editor()->setPlainText(script);
    chosen = dir.filePath(QStringLiteral("euro.kas"));
    QTest::mouseClick(dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBoxSaveOpen"))
                          ->button(QDialogButtonBox::Save),
                      Qt::LeftButton);
    QFile saved(chosen);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), script.toUtf8());

    editor()->clear();
    const QString box = open();
    EXPECT_EQ(editor()->toPlainText(), script);
    EXPECT_TRUE(box.contains(QStringLiteral("not a Latin-1 text"))) << box.toStdString();
    EXPECT_TRUE(start().contains(QStringLiteral("Script checking has incountered an error.")));
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetChName").empty());
}

TEST_F(ScriptLoad, MarkupInAWizardValueReachesTheEditorAsText)
{
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto *wizard = dialog->findChild<QDialog *>(QStringLiteral("wizardDialog"));
        ASSERT_TRUE(wizard);
        const auto line = [wizard] {
            QWidget *last = nullptr;
            for (QWidget *w : wizard->findChild<QGroupBox *>(QStringLiteral("actBox"))
                                  ->findChildren<QWidget *>(QStringLiteral("actionLineWidget"),
                                                            Qt::FindDirectChildrenOnly))
                last = w;
            return last;
        };
        QTest::mouseClick(wizard->findChild<QPushButton *>(QStringLiteral("addButton")), Qt::LeftButton);
        line()->findChild<QComboBox *>(QStringLiteral("actionKindBox"))->setCurrentIndex(0);
        auto *param = line()->findChild<QComboBox *>(QStringLiteral("parameterBox"));
        param->setCurrentIndex(param->findText(QStringLiteral("Name")));
        auto *mode = line()->findChild<QComboBox *>(QStringLiteral("channelModeBox"));
        mode->setCurrentIndex(0);
        QMetaObject::invokeMethod(mode, "activated", Q_ARG(int, 0));
        auto *field = line()->findChild<QWidget *>(QStringLiteral("valueItem"))->findChild<QLineEdit *>();
        ASSERT_TRUE(field);
        field->setFocus();
        QTest::keyClicks(field, QStringLiteral("<b>HV1</b>"));
        QTest::mouseClick(line()->findChild<QPushButton *>(QStringLiteral("completeButton")), Qt::LeftButton);
        QTest::mouseClick(wizard->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
        ran = true;
    });
    QTimer guard; // a wizard left open by a failed step ends the test
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        ADD_FAILURE() << "wizard still open";
        if (auto *w = dialog->findChild<QDialog *>(QStringLiteral("wizardDialog")))
            w->reject();
    });
    guard.start(60000);
    dialog->createWizardDialog();
    EXPECT_TRUE(ran);
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("set Name * <b>HV1</b>;"));
}

} // namespace
