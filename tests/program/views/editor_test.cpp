// The value editor cell: the field chosen per data type, access and wrapper
// type; commits by finished editing and by Return (one write per key);
// refusals, offsets, refreshes that never commit; dialog fields.
#include "FakeWrapper.h"
#include "KORUHVSwitch.h"
#include "KORUHVWidgetItem.h"
#include "QCustomComboBox.h"
#include "QCustomDoubleSpinBox.h"
#include "QCustomLineEdit.h"
#include "QCustomSpinBox.h"
#include "QCustomTableWidget.h"
#include "qt_gtest_print.h"
#include "views_fake_support.h"
#include "views_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace {

using fakehv::Raw;
using vt::makeParam;
using vt::prop;

class Editor : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        fakehv::Board &b = sys.addBoard(0, 1);
        b.channels[0].params = {{"VSet", vt::fakeParam(0, Raw::f32(100))},
                                {"Count", vt::fakeParam(0, Raw::f32(5))},
                                {"Pw", vt::fakeParam(1, Raw::u32(0))},
                                {"Trip", vt::fakeParam(4, Raw::u32(255))},
                                {"Refused", vt::fakeParam(1, Raw::u32(0), {}, 5)},
                                {"Mode", vt::fakeParam(6, Raw::u32(0))}};
        b.params = {{"Fan", vt::fakeParam(1, Raw::u32(0))}};
        h = fakehv::addSystem(sys);
        fakehv::clearCalls();
    }

    /* A shown cell over the node, built as its owner builds it. */
    std::unique_ptr<KORUHVWidgetItem> cell(KORUHVNode *n, bool connect = true, QWidget *parent = nullptr)
    {
        auto item = std::make_unique<KORUHVWidgetItem>(parent, n);
        item->createInternalWidget(n->getDataType(), n->getAccessRights(), n->getExpUnitShortForm(),
                                   n->getNodeValue().KORUHVGetValue(), n->getNodeDecimals(), connect);
        item->setSelectedStyleSheet();
        if (!parent) {
            item->show();
            item->activateWindow();
        }
        return item;
    }

    static size_t writes() { return fakehv::callsOf("KORUHV_SetChParam").size(); }

    int h = -1;
};

TEST_F(Editor, FieldPerDataTypeAndAccess)
{
    struct Case {
        nodeDataType type;
        unsigned wrapper;
        nodeAccessRights access;
        nodeType kind;
        const char *cls;
        bool readOnly;
    };
    const Case cases[] = {
        {DATA_INT32, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, NODE_CHANNEL_PARAM, "QCustomSpinBox", false},
        {DATA_INT32, WRAPPER_TYPE_NUMERIC, ACCESS_READ_ONLY, NODE_CHANNEL_PARAM, "QCustomSpinBox", true},
        {DATA_INT32, WRAPPER_TYPE_CHSTATUS, ACCESS_READ_ONLY, NODE_CHANNEL_PARAM, "QLabel", true},
        {DATA_INT32, WRAPPER_TYPE_BINARY, ACCESS_READ_WRITE, NODE_CHANNEL_PARAM, "QCustomLineEdit", false},
        {DATA_UINT16, WRAPPER_TYPE_NUMERIC, ACCESS_WRITE_ONLY, NODE_SYSTEM_PROPERTY, "QCustomSpinBox", false},
        {DATA_FLOAT, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, NODE_CHANNEL_PARAM, "QCustomDoubleSpinBox",
         false},
        {DATA_STRING, WRAPPER_TYPE_STRING, ACCESS_READ_ONLY, NODE_CHANNEL_PARAM, "QCustomLineEdit", true},
        {DATA_ONOFF, WRAPPER_TYPE_ONOFF, ACCESS_READ_WRITE, NODE_CHANNEL_PARAM, "QCustomComboBox", false},
        {DATA_ONOFF, WRAPPER_TYPE_ONOFF, ACCESS_READ_WRITE, NODE_BOARD_PARAM, "KORUHVSwitch", false},
        {DATA_ONOFF, WRAPPER_TYPE_ONOFF, ACCESS_READ_ONLY, NODE_CHANNEL_PARAM, "QLabel", true},
        {DATA_ENUM, WRAPPER_TYPE_ENUM, ACCESS_READ_WRITE, NODE_CHANNEL_PARAM, "QCustomComboBox", false},
        {DATA_ENUM, WRAPPER_TYPE_ENUM, ACCESS_READ_ONLY, NODE_CHANNEL_PARAM, "QLabel", true},
    };
    for (const Case &c : cases) {
        std::unique_ptr<KORUHVNode> n(makeParam("P", c.kind, c.type, c.wrapper, c.access, QVariant(0), h));
        auto item = cell(n.get());
        QWidget *f = item->getValueFieldWidget();
        ASSERT_NE(f, nullptr);
        EXPECT_STREQ(f->metaObject()->className(), c.cls) << c.type << "/" << c.wrapper << "/" << c.kind;
        if (auto *s = qobject_cast<QAbstractSpinBox *>(f)) {
            EXPECT_EQ(s->isReadOnly(), c.readOnly);
            EXPECT_EQ(s->buttonSymbols(), QAbstractSpinBox::NoButtons);
            EXPECT_EQ(s->font().weight() == QFont::Bold, c.readOnly);
        }
        EXPECT_EQ(item->getUnitLabel() == nullptr, c.type == DATA_ENUM) << "enumerations have no unit";
    }
}

TEST_F(Editor, RangesFromLimitsOrDefaults)
{
    std::unique_ptr<KORUHVNode> limited(
        makeParam("Count", NODE_CHANNEL_PARAM, DATA_INT32, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, 5, h));
    limited->addProperty(prop("Minval", 0.0f));
    limited->addProperty(prop("Maxval", 4000.0f));
    auto a = cell(limited.get());
    auto *s = qobject_cast<QSpinBox *>(a->getValueFieldWidget());
    // The limits are the cell's, checked on confirming; the field itself
    // takes any number typed (its range would clamp it).
    EXPECT_EQ(a->lowerLimit(), 0.0);
    EXPECT_EQ(a->upperLimit(), 4000.0);
    EXPECT_EQ(s->minimum(), -INT_MAX);
    EXPECT_EQ(s->maximum(), INT_MAX);
    EXPECT_EQ(s->alignment(), Qt::AlignRight | Qt::AlignVCenter);

    std::unique_ptr<KORUHVNode> ro(
        makeParam("Count", NODE_CHANNEL_PARAM, DATA_INT32, WRAPPER_TYPE_NUMERIC, ACCESS_READ_ONLY, -5, h));
    ro->addProperty(prop("Minval", 0.0f));
    auto b = cell(ro.get());
    s = qobject_cast<QSpinBox *>(b->getValueFieldWidget());
    EXPECT_EQ(s->minimum(), -INT_MAX);
    EXPECT_EQ(b->getDataInValueField(), QVariant(-5)) << "signed stays signed";

    std::unique_ptr<KORUHVNode> fl(
        makeParam("VSet", NODE_CHANNEL_PARAM, DATA_FLOAT, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, 1.0f, h));
    auto c = cell(fl.get());
    auto *d = qobject_cast<QDoubleSpinBox *>(c->getValueFieldWidget());
    EXPECT_EQ(d->decimals(), 2);
    EXPECT_DOUBLE_EQ(d->maximum(), 2147483647.0);
    std::unique_ptr<KORUHVNode> flro(
        makeParam("VMon", NODE_CHANNEL_PARAM, DATA_FLOAT, WRAPPER_TYPE_NUMERIC, ACCESS_READ_ONLY, 1.0f, h));
    auto e = std::make_unique<KORUHVWidgetItem>(nullptr, flro.get());
    e->createInternalWidget(DATA_FLOAT, ACCESS_READ_ONLY, "V", 1.0f, 4, true);
    EXPECT_EQ(qobject_cast<QDoubleSpinBox *>(e->getValueFieldWidget())->decimals(), 4);
}

TEST_F(Editor, ReturnWritesOnceAndLeavingAnUnchangedFieldWritesNothing)
{
    std::unique_ptr<KORUHVNode> n(
        makeParam("Count", NODE_CHANNEL_PARAM, DATA_INT32, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, 5, h));
    auto item = cell(n.get());
    QSignalSpy ended(item.get(), &KORUHVWidgetItem::endEditing);
    auto *spin = qobject_cast<QSpinBox *>(item->getValueFieldWidget());

    // Typed the same value, then left: the node already holds it.
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "5");
    QMetaObject::invokeMethod(spin, "editingFinished");
    EXPECT_EQ(writes(), 0u);

    // Return on the unchanged value: written once.
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(writes(), 1u);
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended.at(0).at(0), QVariant(5));

    // A new value confirmed with Return: one write, one announcement.
    fakehv::clearCalls();
    spin->selectAll();
    QTest::keyClicks(spin, "7");
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(writes(), 1u);
    EXPECT_EQ(ended.count(), 2);
    EXPECT_EQ(n->getNodeValue().KORUHVGetValue().toInt(), 7);
}

TEST_F(Editor, UntouchedFieldWritesNothingWhateverTheQuality)
{
    std::unique_ptr<KORUHVNode> n(
        makeParam("Count", NODE_CHANNEL_PARAM, DATA_INT32, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, 5, h));
    n->setNodeValue(vt::good(5, QUALITY_READ_FAILED));
    auto item = cell(n.get());
    auto *spin = qobject_cast<QSpinBox *>(item->getValueFieldWidget());
    QMetaObject::invokeMethod(spin, "editingFinished");
    EXPECT_EQ(writes(), 0u);
    // Typed (the same value) on a node whose read failed: written.
    spin->selectAll();
    QTest::keyClicks(spin, "5");
    QMetaObject::invokeMethod(spin, "editingFinished");
    EXPECT_EQ(writes(), 1u);
}

TEST_F(Editor, OffsetEntryInATableWithOffsetOn)
{
    QCustomTableWidget table(1, 1);
    table.setProperty("Offset_V", true);
    std::unique_ptr<KORUHVNode> n(makeParam("VSet", NODE_CHANNEL_PARAM, DATA_FLOAT, WRAPPER_TYPE_NUMERIC,
                                            ACCESS_READ_WRITE, 100.0f, h));
    n->addProperty(prop("Maxval", 500.0f));
    auto item = cell(n.get(), true);
    item->setOffsetTable(&table);
    QSignalSpy ended(item.get(), &KORUHVWidgetItem::endEditing);
    auto *d = qobject_cast<QDoubleSpinBox *>(item->getValueFieldWidget());

    d->selectAll();
    QTest::keyClicks(d, "450");
    QMetaObject::invokeMethod(d, "editingFinished");
    EXPECT_EQ(writes(), 0u) << "leaving an offset writes nothing";
    QTest::keyClick(d, Qt::Key_Return);
    EXPECT_EQ(writes(), 0u) << "100 + 450 leaves the range";
    EXPECT_DOUBLE_EQ(d->value(), 450.0);
    EXPECT_EQ(ended.count(), 0);

    d->selectAll();
    QTest::keyClicks(d, "50");
    QTest::keyClick(d, Qt::Key_Return);
    ASSERT_EQ(writes(), 1u);
    EXPECT_FLOAT_EQ(fakehv::callsOf("KORUHV_SetChParam")[0].value.asF32(), 150.0f);
    EXPECT_DOUBLE_EQ(d->value(), 150.0);
    EXPECT_FLOAT_EQ(item->property("OffsetAll").toFloat(), 50.0f);
    EXPECT_TRUE(item->property("Entered").toBool());
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended.at(0).at(0), QVariant(150.0f));

    // Outside a table the same node has its limits and no offset.
    auto plain = cell(n.get());
    EXPECT_DOUBLE_EQ(plain->upperLimit(), 500.0);
    EXPECT_FALSE(plain->isOffsetMode());
}

TEST_F(Editor, OnOffComboWritesAChoiceAndReturnsOnRefusal)
{
    for (const char *name : {"Pw", "Refused"}) {
        fakehv::clearCalls();
        std::unique_ptr<KORUHVNode> n(
            makeParam(name, NODE_CHANNEL_PARAM, DATA_ONOFF, WRAPPER_TYPE_ONOFF, ACCESS_READ_WRITE, false, h));
        n->addProperty(prop("Onstate", "On"));
        n->addProperty(prop("Offstate", "Off"));
        auto item = cell(n.get());
        QSignalSpy ended(item.get(), &KORUHVWidgetItem::endEditing);
        auto *combo = qobject_cast<QComboBox *>(item->getValueFieldWidget());
        ASSERT_EQ(combo->itemText(0), "On");
        ASSERT_EQ(combo->currentIndex(), 1);
        combo->activated(0); // as a choice from the list: index first, then activated
        combo->setCurrentIndex(0);
        EXPECT_EQ(writes(), 1u) << name;
        ASSERT_EQ(ended.count(), 1);
        EXPECT_EQ(ended.at(0).at(0), QVariant(true));
        const bool refused = QString(name) == "Refused";
        EXPECT_EQ(combo->currentIndex(), refused ? 1 : 0) << name;
        EXPECT_EQ(n->getNodeValue().KORUHVGetQuality(), refused ? QUALITY_WRITE_FAILED : QUALITY_GOOD);
    }
}

TEST_F(Editor, SwitchClickWritesAndRefreshDoesNot)
{
    std::unique_ptr<KORUHVNode> n(
        makeParam("Fan", NODE_BOARD_PARAM, DATA_ONOFF, WRAPPER_TYPE_ONOFF, ACCESS_READ_WRITE, false, h));
    n->addProperty(prop("Onstate", "On"));
    n->addProperty(prop("Offstate", "Off"));
    auto item = cell(n.get());
    auto *sw = qobject_cast<KORUHVSwitch *>(item->getValueFieldWidget());
    ASSERT_NE(sw, nullptr);
    QTest::mouseClick(sw, Qt::LeftButton);
    auto sets = fakehv::callsOf("KORUHV_SetBdParam");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].value.asU32(), 1u);
    item->setDataInValueField(0);
    EXPECT_FALSE(sw->isChecked());
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetBdParam").size(), 1u);
}

TEST_F(Editor, RefreshNeverCommits)
{
    std::unique_ptr<KORUHVNode> n(
        makeParam("Pw", NODE_CHANNEL_PARAM, DATA_ONOFF, WRAPPER_TYPE_ONOFF, ACCESS_READ_WRITE, false, h));
    n->addProperty(prop("Onstate", "On"));
    n->addProperty(prop("Offstate", "Off"));
    n->setNodeValue(vt::good(false, QUALITY_READ_FAILED));
    auto item = cell(n.get());
    item->setDataInValueField(true);
    EXPECT_EQ(qobject_cast<QComboBox *>(item->getValueFieldWidget())->currentIndex(), 0);
    EXPECT_EQ(writes(), 0u);
}

TEST_F(Editor, HexRegisterTextsAndBadInput)
{
    std::unique_ptr<KORUHVNode> n(
        makeParam("Trip", NODE_CHANNEL_PARAM, DATA_INT32, WRAPPER_TYPE_BINARY, ACCESS_READ_WRITE, 255, h));
    n->setExpUnitShortForm("u");
    auto item = cell(n.get());
    auto *e = qobject_cast<QLineEdit *>(item->getValueFieldWidget());
    EXPECT_EQ(e->text(), "000000FF");
    EXPECT_EQ(e->maxLength(), 8);
    EXPECT_EQ(item->getStringDataAndExpUnit(), "u 000000FF");
    e->selectAll();
    QTest::keyClicks(e, "XYZ");
    QTest::keyClick(e, Qt::Key_Return);
    EXPECT_EQ(writes(), 0u) << "text that is no hexadecimal is not written";
    e->selectAll();
    QTest::keyClicks(e, "1F");
    QTest::keyClick(e, Qt::Key_Return);
    ASSERT_EQ(writes(), 1u);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetChParam")[0].value.asU32(), 0x1Fu);
}

TEST_F(Editor, CellTextsAndReadOnlyReads)
{
    std::unique_ptr<KORUHVNode> f(
        makeParam("VSet", NODE_CHANNEL_PARAM, DATA_FLOAT, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, 12.5f, h));
    f->setNodeDecimals(2);
    auto a = std::make_unique<KORUHVWidgetItem>(nullptr, f.get());
    a->createInternalWidget(DATA_FLOAT, ACCESS_READ_WRITE, "V", 12.5f, 2, true);
    EXPECT_EQ(a->getStringDataAndExpUnit(), "12.50 V");

    std::unique_ptr<KORUHVNode> l(
        makeParam("Pw", NODE_CHANNEL_PARAM, DATA_ONOFF, WRAPPER_TYPE_ONOFF, ACCESS_READ_ONLY, true, h));
    auto b = cell(l.get());
    EXPECT_EQ(b->getDataInValueField(), QVariant(0));
}

TEST_F(Editor, DialogFieldCommitsOnlyOnReturn)
{
    std::unique_ptr<KORUHVNode> n(
        makeParam("Count", NODE_CHANNEL_PARAM, DATA_INT32, WRAPPER_TYPE_NUMERIC, ACCESS_READ_WRITE, 5, h));
    auto item = cell(n.get());
    QSignalSpy edited(item.get(), &KORUHVWidgetItem::valueFieldEdited);
    item->setValueFieldAsDialogChild();
    auto *spin = qobject_cast<QCustomSpinBox *>(item->getValueFieldWidget());
    EXPECT_TRUE(spin->getIsDialogChild());
    EXPECT_EQ(spin->styleSheet(), "min-width: 40px;");
    QTest::keyClicks(spin, "9");
    QMetaObject::invokeMethod(spin, "editingFinished");
    EXPECT_EQ(writes(), 0u);
    EXPECT_GE(edited.count(), 1);
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(writes(), 1u);
}

TEST_F(Editor, EnumComboReadsTheEntryNotTheBlankFace)
{
    std::unique_ptr<KORUHVNode> n(
        makeParam("Mode", NODE_CHANNEL_PARAM, DATA_ENUM, WRAPPER_TYPE_ENUM, ACCESS_READ_WRITE, 0, h));
    n->addProperty(prop("Minval", 0.0f));
    n->addProperty(prop("Maxval", 2.0f));
    n->addProperty(prop("Enum", QStringList{"Slow", "Mid", "Fast"}));
    auto item = cell(n.get());
    item->setValueFieldAsTableWidgetChild();
    auto *combo = qobject_cast<QCustomComboBox *>(item->getValueFieldWidget());
    EXPECT_EQ(combo->lineEdit()->text(), "") << "a table cell opens blank";
    combo->setCurrentIndex(2);
    ASSERT_EQ(writes(), 1u);
    EXPECT_EQ(n->getNodeValue().KORUHVGetValue().toInt(), 2);
    EXPECT_EQ(item->getDataInValueField(), QVariant("Fast"));
}

} // namespace
