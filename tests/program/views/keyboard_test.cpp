// The on-screen keyboard: key names to key presses, letter case, targets of
// the program's input widgets only, show/hide and the single instance.
#include "QCustomLineEdit.h"
#include "QVirtualKeyboard.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

void press(QVirtualKeyboard *kb, const char *name)
{
    QPushButton *key = nullptr;
    for (QPushButton *b : kb->findChildren<QPushButton *>(QString::fromLatin1(name)))
        if (b->isVisibleTo(kb))
            key = b;
    ASSERT_NE(key, nullptr) << name;
    key->click();
}

TEST(Keyboard, KeyNamesToPresses)
{
    QVirtualKeyboard kb;
    struct Case {
        char key;
        int code;
        const char *text;
    };
    const Case cases[] = {{'7', Qt::Key_7, "7"},     {'q', Qt::Key_Q, "q"},        {',', Qt::Key_Period, "."},
                          {'-', Qt::Key_Minus, "-"}, {'<', Qt::Key_Backspace, ""}, {'_', Qt::Key_Space, " "},
                          {'/', Qt::Key_Space, ""},  {'$', Qt::Key_Return, ""}};
    for (const Case &c : cases) {
        auto ev = kb.getKeyEventObject(QLatin1Char(c.key));
        ASSERT_TRUE(ev) << c.key;
        EXPECT_EQ(ev->key(), c.code) << c.key;
        EXPECT_EQ(ev->text(), QString::fromLatin1(c.text)) << c.key;
    }
    EXPECT_FALSE(kb.getKeyEventObject(QLatin1Char('%')));
}

TEST(Keyboard, TypesIntoCustomFieldsOnlyWithLetterCase)
{
    QVirtualKeyboard *kb = getVirtualKeyboard();
    EXPECT_EQ(getVirtualKeyboard(), kb);
    QCustomLineEdit edit(false, nullptr);
    kb->show(&edit, true);
    EXPECT_TRUE(kb->isVisible());
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(kb->y() + kb->height(), screen.height());

    press(kb, "UCASE");
    EXPECT_EQ(kb->getLetterCase(), 1);
    press(kb, "a");
    press(kb, "b");
    press(kb, ",");
    press(kb, "5");
    EXPECT_EQ(edit.text(), "Ab.5") << "upper case for one key; the comma key sends a period";
    EXPECT_EQ(kb->getLetterCase(), 0);

    QLineEdit plain;
    kb->show(&plain, false); // visible: only the target changes
    EXPECT_TRUE(kb->isFullLayoutShown());
    press(kb, "x");
    EXPECT_EQ(plain.text(), "") << "a plain line edit gets nothing";

    press(kb, "@");
    EXPECT_FALSE(kb->isVisible());
    kb->setKeyboardEnabled(false);
    kb->show(&edit, true);
    EXPECT_FALSE(kb->isVisible());
    delete kb;
    EXPECT_NE(getVirtualKeyboard(), nullptr) << "a deleted keyboard is forgotten";
    delete getVirtualKeyboard();
}

} // namespace
