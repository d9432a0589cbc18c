// The on-screen keyboard draws pictures of keys, not their names: every key
// of both layouts has its resting and pressed pictures at the key's size,
// and the three shift states have their own pictures.
#include "QVirtualKeyboard.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

TEST(KeyboardPictures, EveryKeyOfBothLayoutsShowsItsPictures)
{
    QVirtualKeyboard kb;
    const QList<QPushButton *> keys = kb.findChildren<QPushButton *>();
    ASSERT_GE(keys.size(), 40 + 21) << "five rows of the full layout and the numeric grid";
    for (QPushButton *key : keys) {
        const std::string name = key->objectName().toStdString();
        EXPECT_TRUE(key->text().isEmpty()) << name << ": a picture, not the key's name";
        const QIcon icon = key->icon();
        ASSERT_FALSE(icon.isNull()) << name;
        EXPECT_EQ(key->iconSize(), key->size()) << name << ": the picture fills the key";
        const QPixmap rest = icon.pixmap(key->iconSize(), QIcon::Normal, QIcon::On);
        ASSERT_FALSE(rest.isNull()) << name;
        EXPECT_EQ(rest.size(), key->size()) << name;
        if (key->objectName() == QLatin1String("UCASE"))
            continue; // its pictures follow the letter case
        const QPixmap pressed = icon.pixmap(key->iconSize(), QIcon::Selected, QIcon::On);
        ASSERT_FALSE(pressed.isNull()) << name;
        EXPECT_NE(pressed.toImage(), rest.toImage()) << name << ": the pressed picture is its own";
    }
}

TEST(KeyboardPictures, ShiftShowsEachLetterCase)
{
    QVirtualKeyboard kb;
    QPushButton *shift = kb.findChild<QPushButton *>(QStringLiteral("UCASE"));
    ASSERT_TRUE(shift);
    QList<QImage> seen;
    for (int step = 0; step < 3; ++step) {
        const QPixmap shown = shift->icon().pixmap(shift->iconSize());
        ASSERT_FALSE(shown.isNull()) << "letter case " << kb.getLetterCase();
        EXPECT_EQ(shown.size(), QSize(103, 45));
        seen << shown.toImage();
        kb.setLetterCase();
    }
    EXPECT_EQ(kb.getLetterCase(), 0);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_NE(seen[1], seen[2]);
    EXPECT_NE(seen[0], seen[2]);
}

} // namespace
