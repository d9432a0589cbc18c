// Set groups over a register parameter ("TripInt", "TripExt"): the group's
// editor shows the word in hexadecimal, and every member gets the word the
// operator typed, read the way the editor shows it.
#include "FakeWrapper.h"
#include "KORUHVCustomizationRules.h"
#include "KORUHVWidgetItem.h"
#include "QSetGroupValueDialog.h"
#include "groups_fixture.h"
#include "qt_gtest_print.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// One board of two channels whose "TripInt" register (wrapper type 4,
// read-write) holds initial.
fakehv::System registerCrate(uint32_t initial)
{
    fakehv::System sys;
    fakehv::Board &board = sys.addBoard(0, 2, "A1535", 100);
    for (auto &ch : board.channels)
        ch.params.push_back({"TripInt", gt::param(4, 2, fakehv::Raw::u32(initial))});
    return sys;
}

class RegisterGroups : public gt::CustomizationsTest {
protected:
    QVector<KORUHVNode *> members(KORUHVNode *root)
    {
        QVector<KORUHVNode *> out;
        for (int c = 0; c < 2; ++c) {
            KORUHVNode *ch = gt::channel(root, 0, c);
            out << ch << gt::param(ch, "TripInt");
        }
        return out;
    }
};

} // namespace

TEST_F(RegisterGroups, TypedHexadecimalTextIsTheWordEveryMemberGets)
{
    const struct {
        const char *typed;
        bool written;
        uint32_t word;
    } cases[] = {
        {"00000100", true, 0x100u}, // not 100 (0x64)
        {"000000FF", true, 0xFFu},  // letters are digits, not a refusal
        {"7f", true, 0x7Fu},
        {"FFFFFFFF", true, 0xFFFFFFFFu},
        {"", false, 0u}, // nothing typed: nothing written, members marked
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        KORUHVNode *a = host.connectTree(fakehv::addSystem(registerCrate(0x5u)), "HV1", "127.0.0.2");
        KORUHVNode *b = host.connectTree(fakehv::addSystem(registerCrate(0x5u)), "HV2", "127.0.0.3");
        controller->groupCreatedCallback(members(a) + members(b), "Trips");
        host.menu.actions().last()->trigger();
        auto *dialog = qobject_cast<QSetGroupValueDialog *>(controller->lastDialog());
        ASSERT_TRUE(dialog);
        auto *edit = dialog->editor()->findChild<QLineEdit *>();
        ASSERT_TRUE(edit) << "a register is edited as hexadecimal text";
        EXPECT_EQ(edit->text(), QStringLiteral("00000005"));
        dialog->show();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, QString::fromLatin1(c.typed));
        ASSERT_EQ(edit->text(), QString::fromLatin1(c.typed)) << "the field takes what was typed";
        fakehv::clearCalls();
        QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

        const auto calls = fakehv::callsOf("KORUHV_SetChParam");
        ASSERT_EQ(calls.size(), c.written ? 4u : 0u) << "one write per member";
        for (const auto &call : calls) {
            EXPECT_EQ(call.name, "TripInt");
            EXPECT_EQ(call.value.asU32(), c.word);
        }
        for (KORUHVNode *root : {a, b})
            for (int ch = 0; ch < 2; ++ch) {
                KORUHVNode *p = gt::param(gt::channel(root, 0, ch), "TripInt");
                EXPECT_EQ(p->getNodeValue().KORUHVGetQuality(),
                          c.written ? QUALITY_GOOD : QUALITY_WRITE_FAILED);
                EXPECT_EQ(
                    fakehv::system(root->getSysHandle()).crate[0].channels[ch].find("TripInt")->value.asU32(),
                    c.written ? c.word : 0x5u);
            }
        TearDown();
        host.menu.clear();
        SetUp();
    }
}

TEST_F(RegisterGroups, RuleReadsTextInBaseSixteenAndNumbersAsTheWord)
{
    KORUHVNode *root = host.connectTree(fakehv::addSystem(registerCrate(0u)), "HV1", "127.0.0.2");
    KORUHVNode *trip = gt::param(gt::channel(root, 0, 0), "TripInt");
    ASSERT_TRUE(trip);
    const struct {
        QVariant shown;
        bool written;
        int word;
    } cases[] = {
        {QStringLiteral("00000100"), true, 0x100},
        {QStringLiteral("0x1A"), true, 0x1A},
        {QStringLiteral("80000000"), true, int(0x80000000u)},
        {QVariant(256), true, 256}, // a number is the word itself
        {QStringLiteral("12G"), false, 0},
        {QStringLiteral("123456789"), false, 0}, // more than 32 bits
    };
    for (const auto &c : cases) {
        QVariant out;
        EXPECT_EQ(KORUHVCustomizationRules::valueForMember(trip, c.shown, &out), c.written)
            << c.shown.toString().toStdString();
        if (c.written) {
            EXPECT_EQ(out.toInt(), c.word) << c.shown.toString().toStdString();
        }
    }
}
