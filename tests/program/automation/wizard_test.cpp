// The action wizard offscreen: WAIT and SET lines with all and chosen
// channels, value tokens by parameter type, Cancel, Rem, Clear, Discard and
// OK. The wizard is modal: each test drives it from a timer.
#include "KORUHVEditStyles.h"
#include "QScriptDialog.h"
#include "automation_support.h"
#include "dialog_support.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

class Wizard : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        crate = autotest::makeCrate();
        dialog = new QScriptDialog(crate.node(), nullptr, nullptr);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->show();
    }
    void TearDown() override { delete dialog; }

    // Opens the wizard and runs drive() inside it; drive ends the wizard.
    void runWizard(std::function<void()> drive)
    {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            wizard = dialog->findChild<QDialog *>(QStringLiteral("wizardDialog"));
            ASSERT_TRUE(wizard);
            drive();
            ran = true;
        });
        // A wizard left open by a failed step ends the test instead of hanging it.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            ADD_FAILURE() << "wizard still open";
            if (auto *w = dialog->findChild<QDialog *>(QStringLiteral("wizardDialog")))
                w->reject();
        });
        guard.start(10000);
        dialog->createWizardDialog();
        EXPECT_TRUE(ran);
    }
    QPushButton *wbutton(const char *name)
    {
        return wizard->findChild<QPushButton *>(QString::fromLatin1(name));
    }
    QPushButton *okButton() { return wizard->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok); }
    QPushButton *discardButton()
    {
        return wizard->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Discard);
    }
    // The line being edited is the last one.
    QWidget *lastLine()
    {
        QWidget *last = nullptr;
        for (QWidget *w :
             wizard->findChild<QGroupBox *>(QStringLiteral("actBox"))
                 ->findChildren<QWidget *>(QStringLiteral("actionLineWidget"), Qt::FindDirectChildrenOnly))
            last = w; // removed lines leave the box at once
        return last;
    }
    template <typename T> T *inLine(const char *name)
    {
        return lastLine()->findChild<T *>(QString::fromLatin1(name));
    }
    void addLine(int kind)
    {
        QTest::mouseClick(wbutton("addButton"), Qt::LeftButton);
        inLine<QComboBox>("actionKindBox")->setCurrentIndex(kind);
    }
    void chooseParameter(const char *name)
    {
        auto *box = inLine<QComboBox>("parameterBox");
        box->setCurrentIndex(box->findText(QString::fromLatin1(name)));
    }
    // Picks the channel mode; for "Misc." chooser() runs in the chooser.
    void chooseMode(int index, std::function<void(QTreeWidget *)> chooser = {})
    {
        auto *mode = inLine<QComboBox>("channelModeBox");
        mode->setCurrentIndex(index);
        if (index == 1) {
            QTimer::singleShot(0, [this, chooser] {
                auto *tree = dialog->findChild<QTreeWidget *>(QStringLiteral("channelTree"));
                ASSERT_TRUE(tree);
                if (chooser)
                    chooser(tree);
                QTest::mouseClick(
                    tree->window()->findChild<QPushButton *>(QStringLiteral("chooserCloseButton")),
                    Qt::LeftButton);
            });
        }
        QMetaObject::invokeMethod(mode, "activated", Q_ARG(int, index));
    }
    static void clickItem(QTreeWidget *tree, QTreeWidgetItem *item)
    {
        if (item->parent())
            item->parent()->setExpanded(true);
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    }
    void typeValue(const QString &text)
    {
        QWidget *field = inLine<QWidget>("valueItem")->findChild<QAbstractSpinBox *>();
        if (!field)
            field = inLine<QWidget>("valueItem")->findChild<QLineEdit *>();
        ASSERT_TRUE(field);
        field->setFocus();
        QTest::keyClicks(field, text);
    }
    void chooseValueText(const char *text)
    {
        auto *box = inLine<QWidget>("valueItem")->findChild<QComboBox *>();
        box->setCurrentIndex(box->findText(QString::fromLatin1(text)));
    }
    QPushButton *complete() { return inLine<QPushButton>("completeButton"); }
    QString editorText() { return dialog->findChild<QTextEdit *>()->toPlainText(); }

    autotest::Crate crate;
    QScriptDialog *dialog = nullptr;
    QDialog *wizard = nullptr;
};

TEST_F(Wizard, WaitAndSetLinesBecomeTheScript)
{
    runWizard([&] {
        EXPECT_FALSE(okButton()->isEnabled());
        addLine(1);
        EXPECT_FALSE(wbutton("addButton")->isEnabled());
        EXPECT_FALSE(complete()->isEnabled());
        auto *spin = inLine<QSpinBox>("waitTimeBox");
        ASSERT_TRUE(spin);
        EXPECT_TRUE(spin->text().isEmpty());
        EXPECT_EQ(spin->minimum(), 1);
        spin->setFocus();
        QTest::keyClicks(spin, QStringLiteral("500"));
        ASSERT_TRUE(complete()->isEnabled());
        QTest::mouseClick(complete(), Qt::LeftButton);
        EXPECT_TRUE(okButton()->isEnabled());
        EXPECT_TRUE(wbutton("addButton")->isEnabled());

        addLine(0);
        chooseParameter("V0Set");
        chooseMode(1, [&](QTreeWidget *tree) {
            EXPECT_TRUE(tree->topLevelItem(1)->isHidden());   // empty slot keeps its place
            clickItem(tree, tree->topLevelItem(0));           // all channels of slot 0
            clickItem(tree, tree->topLevelItem(0)->child(3)); // but channel 3
            clickItem(tree, tree->topLevelItem(2)->child(2));
        });
        EXPECT_FALSE(complete()->isEnabled());
        typeValue(QStringLiteral("100"));
        ASSERT_TRUE(complete()->isEnabled());
        QTest::mouseClick(complete(), Qt::LeftButton);

        addLine(0);
        chooseParameter("V0Set");
        chooseMode(0);
        typeValue(QStringLiteral("7"));
        QTest::mouseClick(complete(), Qt::LeftButton);
        QTest::mouseClick(okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(editorText(), QStringLiteral("wait 500;\nset V0Set 0{0,1,2}:2{2} 100;\nset V0Set * 7;"));
    EXPECT_EQ(koruscript::checkActions(koruscript::splitActions(editorText()), crate.node()), 0);
}

TEST_F(Wizard, ValueTokensByParameterType)
{
    runWizard([&] {
        addLine(0);
        chooseParameter("VSet");
        chooseMode(0);
        typeValue(QStringLiteral("1500.25"));
        QTest::mouseClick(complete(), Qt::LeftButton);

        addLine(0);
        chooseParameter("Pw");
        chooseMode(0);
        chooseValueText("On");
        QTest::mouseClick(complete(), Qt::LeftButton);

        addLine(0);
        chooseParameter("Pw");
        chooseMode(0);
        chooseValueText("Off");
        QTest::mouseClick(complete(), Qt::LeftButton);

        addLine(0);
        chooseParameter("Mode");
        chooseMode(0);
        chooseValueText("High");
        QTest::mouseClick(complete(), Qt::LeftButton);
        QTest::mouseClick(okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(editorText(), QStringLiteral("set VSet * 1500.25;\nset Pw * 1;\nset Pw * 0;\nset Mode * 2;"));
}

// A value outside the parameter's limits is refused in its field: the line
// is not completed and the script gets no line with another number.
TEST_F(Wizard, AValueOutsideTheLimitsIsRefusedInItsField)
{
    runWizard([&] {
        addLine(0);
        chooseParameter("V0Set");
        chooseMode(0);
        typeValue(QStringLiteral("-10"));
        QTest::mouseClick(complete(), Qt::LeftButton);
        QCoreApplication::processEvents();
        QWidget *line = lastLine();
        EXPECT_TRUE(line && line->findChild<QPushButton *>(QStringLiteral("completeButton")))
            << "the refused line was completed";
        QTest::mouseClick(discardButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(editorText().isEmpty()) << editorText().toStdString();
}

// A text value that would cut the action into other words or actions, or
// that the check refuses, is refused in its field with the reason, as a
// number outside the limits is: it never becomes a script line.
TEST_F(Wizard, ATextValueTheScriptWouldCutIsRefusedInItsField)
{
    struct Case {
        QString value;
        bool typed; // typed key by key, else put in as a paste would
        const char *reason;
    };
    const Case cases[] = {
        {QStringLiteral("A;set Pw * 1"), true, "\";\" ends an action"},
        {QStringLiteral("A B"), true, "white space (here U+0020)"},
        {QStringLiteral("A\tB"), false, "white space (here U+0009)"},
        {QStringLiteral("A\nB"), false, "white space (here U+000A)"},
        {QStringLiteral("A\r\nB"), false, "white space (here U+000D)"},
        {QStringLiteral("A\u00a0B"), false, "white space (here U+00A0)"},
        {QStringLiteral("A\u2029B"), false, "white space (here U+2029)"},
        {QStringLiteral(""), false, "empty value"},
        {QStringLiteral("HV\u20ac"), false, "not a Latin-1 text"},
    };
    runWizard([&] {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.value.toStdString());
            addLine(0);
            chooseParameter("Name");
            chooseMode(0);
            auto *field = inLine<QWidget>("valueItem")->findChild<QLineEdit *>();
            ASSERT_TRUE(field);
            if (c.typed) {
                typeValue(c.value);
            } else {
                field->setText(QStringLiteral("x")); // an edit, so that Complete is usable
                field->setText(c.value);
            }
            ASSERT_TRUE(complete()->isEnabled());
            QTest::mouseClick(complete(), Qt::LeftButton);
            QCoreApplication::processEvents();
            ASSERT_TRUE(complete()) << "the refused line was completed";
            EXPECT_TRUE(field->toolTip().contains(QString::fromUtf8(c.reason))) << field->toolTip();
            EXPECT_TRUE(field->toolTip().endsWith(QStringLiteral(": nothing added"))) << field->toolTip();
            EXPECT_TRUE(field->styleSheet().contains(koruviews::refusedStyleSheet()));
            EXPECT_EQ(field->text(), c.value) << "the field keeps what was entered";
            // The next key takes the refused look away.
            field->setFocus();
            QTest::keyClick(field, Qt::Key_X);
            EXPECT_TRUE(field->toolTip().isEmpty());
            QTest::mouseClick(inLine<QPushButton>("cancelButton"), Qt::LeftButton);
            QCoreApplication::processEvents();
        }
        addLine(0);
        chooseParameter("Name");
        chooseMode(0);
        typeValue(QStringLiteral("HV1"));
        QTest::mouseClick(complete(), Qt::LeftButton);
        QTest::mouseClick(okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(editorText(), QStringLiteral("set Name * HV1;"));
}

TEST_F(Wizard, MiscWithoutChannelKeepsCompleteDisabled)
{
    runWizard([&] {
        addLine(0);
        chooseParameter("V0Set");
        chooseMode(1); // closed with nothing chosen
        typeValue(QStringLiteral("5"));
        EXPECT_FALSE(complete()->isEnabled());
        QTest::mouseClick(discardButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(editorText().isEmpty());
}

TEST_F(Wizard, CancelRemClearAndDiscard)
{
    dialog->findChild<QTextEdit *>()->setPlainText(QStringLiteral("wait 1;"));
    runWizard([&] {
        for (const char *ms : {"10", "20", "30"}) {
            addLine(1);
            QTest::keyClicks(inLine<QSpinBox>("waitTimeBox"), QString::fromLatin1(ms));
            QTest::mouseClick(complete(), Qt::LeftButton);
        }
        addLine(0);
        QTest::mouseClick(inLine<QPushButton>("cancelButton"), Qt::LeftButton); // only the edited line
        QCoreApplication::processEvents();
        EXPECT_TRUE(wbutton("remButton")->isEnabled());
        QTest::mouseClick(wbutton("remButton"), Qt::LeftButton); // drops "wait 30;"
        QCoreApplication::processEvents();
        EXPECT_TRUE(okButton()->isEnabled());
        // OK with text in the editor asks first; Cancel keeps the wizard open.
        koru_test::answerNextModal(
            [](QWidget *w) { static_cast<QMessageBox *>(w)->button(QMessageBox::Cancel)->click(); }, 5000,
            koru_test::AfterAnswer::Leave, wizard);
        QTest::mouseClick(okButton(), Qt::LeftButton);
        EXPECT_TRUE(wizard->isVisible());
        koru_test::answerNextModal(
            [](QWidget *w) { static_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click(); }, 5000,
            koru_test::AfterAnswer::Leave, wizard);
        QTest::mouseClick(okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(editorText(), QStringLiteral("wait 10;\nwait 20;"));

    runWizard([&] {
        addLine(1);
        QTest::keyClicks(inLine<QSpinBox>("waitTimeBox"), QStringLiteral("5"));
        QTest::mouseClick(complete(), Qt::LeftButton);
        QTest::mouseClick(wbutton("clearButton"), Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_FALSE(wbutton("remButton")->isEnabled());
        EXPECT_FALSE(okButton()->isEnabled());
        QTest::mouseClick(wbutton("remButton"), Qt::LeftButton); // nothing left: nothing happens
        QTest::mouseClick(discardButton(), Qt::LeftButton);
    });
    EXPECT_EQ(editorText(), QStringLiteral("wait 10;\nwait 20;"));
}

TEST_F(Wizard, SwitchingKindKeepsParameterAndRestartsText)
{
    runWizard([&] {
        addLine(0);
        chooseParameter("Pw");
        chooseMode(0);
        inLine<QComboBox>("actionKindBox")->setCurrentIndex(1); // WAIT
        EXPECT_FALSE(inLine<QComboBox>("parameterBox"));
        EXPECT_TRUE(inLine<QSpinBox>("waitTimeBox"));
        inLine<QComboBox>("actionKindBox")->setCurrentIndex(0); // SET again
        EXPECT_EQ(inLine<QComboBox>("parameterBox")->currentText(), QStringLiteral("Pw"));
        QTest::mouseClick(discardButton(), Qt::LeftButton);
    });
}

} // namespace
