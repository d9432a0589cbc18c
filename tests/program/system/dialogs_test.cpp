// The system dialogs over hand-made trees and the fake wrapper: what each
// dialog shows for the tree's values, live values reaching open dialogs only,
// switch and limit writes (once per click, none from live values), refused
// writes putting the switch back, and the panel lamps of live updates.
#include "FakeWrapper.h"
#include "KORUHVSwitch.h"
#include "QCrateMapDialog.h"
#include "QSysInfoDialog.h"
#include "QTechInfoDialog.h"
#include "QTechInfoP8080Dialog.h"
#include "SysDialogLaunchers.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"
#include "sysdialog_support.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using sdtest::labelText;
using sdtest::lamp;

namespace {

QStringList rowOf(QTreeWidgetItem *item, int columns)
{
    QStringList cells;
    for (int c = 0; c < columns; ++c)
        cells << item->text(c);
    return cells;
}

QList<QStringList> tableOf(QDialog *dlg)
{
    QList<QStringList> rows;
    auto *tree = dlg->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    if (!tree)
        return rows;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        rows << rowOf(tree->topLevelItem(i), tree->columnCount());
    return rows;
}

QStringList headersOf(QDialog *dlg)
{
    auto *tree = dlg->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    QStringList h;
    for (int c = 0; tree && c < tree->columnCount(); ++c)
        h << tree->headerItem()->text(c);
    return h;
}

/* ---------------------------------------------------------------- sessions */

TEST(SysDlgSessions, TableFromTheSessionsValue)
{
    const struct {
        const char *name;
        const char *value;
        QList<QStringList> rows;
    } cases[] = {
        {"Sessions",
         "admin:3:TCP/IP:10_20_30:127.0.0.5;",
         {{"admin", "3", "TCP/IP", "10:20:30", "127.0.0.5"}}},
        {"SESSIONS", "a:1:b:c:d:e;x:2", {{"x", "2", "", "", ""}}},
        {"sessions", "my_user::TCP/IP:1_2:h", {{"my_user", "", "TCP/IP", "1:2", "h"}}},
        {"Other", "a:1", {}},
    };
    for (const auto &c : cases) {
        auto sys = sdtest::systemNode(2, {{QString::fromLatin1(c.name), QString::fromLatin1(c.value)}});
        QList<QStringList> rows;
        QStringList headers;
        QPointer<QDialog> seen;
        auto reached = koru_test::answerNextModal<QDialog>(
            [&](QDialog *d) {
                seen = d;
                rows = tableOf(d);
                headers = headersOf(d);
            },
            5000, koru_test::AfterAnswer::Close);
        sysdlg::runSessionDialog(sys.get());
        EXPECT_TRUE(*reached) << c.name;
        EXPECT_EQ(rows, c.rows) << c.value;
        EXPECT_EQ(headers, (QStringList{"User", "Level", "Communication", "Login Time", "Ip Address"}));
        EXPECT_TRUE(seen.isNull()); // deleted before exec returned
    }
    EXPECT_EQ(sysdlg::runSessionDialog(nullptr), -1);
}

/* ------------------------------------------------------ system information */

TEST(SysDlgSysInfo, OpensWithTheTreeValuesAndFollowsLiveOnesWhileOpen)
{
    auto sys = sdtest::systemNode(
        2, {{"cpuload", "0.5:0.7"}, {"MemoryStatus", " 100 : 50 :25:5:x"}, {"CmdQueueStatus", ""}});
    sysdlg::SysInfoDialogSlot slot;
    std::unique_ptr<KORUHVNode> liveCpu(sdtest::propNode("MyCPULoad", "1:2:3"));
    std::unique_ptr<KORUHVNode> lowerCase(sdtest::propNode("cpuload", "9:9:9"));
    std::unique_ptr<KORUHVNode> queue(sdtest::propNode("CmdQueueStatus", "busy"));
    QStringList before, after;
    bool queueHidden = false, queueShown = false;
    QString title;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            EXPECT_EQ(slot.dialog(), d);
            title = d->windowTitle();
            before = {labelText(d, "oneMin"), labelText(d, "fiveMin"), labelText(d, "fifteenMin"),
                      labelText(d, "total"),  labelText(d, "free"),    labelText(d, "used"),
                      labelText(d, "buffers")};
            queueHidden = d->findChild<QGroupBox *>(QStringLiteral("groupBox"))->isHidden();
            slot.update(lowerCase.get()); // live path: case-sensitive, ignored
            slot.update(liveCpu.get());
            slot.update(queue.get());
            after = {labelText(d, "oneMin"), labelText(d, "fiveMin"), labelText(d, "fifteenMin"),
                     labelText(d, "cmdQueue")};
            queueShown = !d->findChild<QGroupBox *>(QStringLiteral("groupBox"))->isHidden();
        },
        5000, koru_test::AfterAnswer::Close);
    slot.open(sys.get(), 2, QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(title, QStringLiteral("System Informations"));
    EXPECT_EQ(before, (QStringList{"0.5", "0.7", "", "100", "50", "25", "5"}));
    EXPECT_TRUE(queueHidden);
    EXPECT_EQ(after, (QStringList{"1", "2", "3", "busy"}));
    EXPECT_TRUE(queueShown);
    EXPECT_EQ(slot.dialog(), nullptr);
    slot.update(liveCpu.get()); // no dialog open: nothing happens
    slot.update(nullptr);
}

TEST(SysDlgSysInfo, RackHidesTheQueueGroupAtOpening)
{
    auto sys = sdtest::systemNode(16, {{"CmdQueueStatus", "3 pending"}});
    sysdlg::SysInfoDialogSlot slot;
    bool hidden = false;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) { hidden = d->findChild<QGroupBox *>(QStringLiteral("groupBox"))->isHidden(); }, 5000,
        koru_test::AfterAnswer::Close);
    slot.open(sys.get(), 16, QString());
    EXPECT_TRUE(*reached);
    EXPECT_TRUE(hidden);
    // On a mainframe the same value shows the group.
    sys = sdtest::systemNode(2, {{"CmdQueueStatus", "3 pending"}});
    reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) { hidden = d->findChild<QGroupBox *>(QStringLiteral("groupBox"))->isHidden(); }, 5000,
        koru_test::AfterAnswer::Close);
    slot.open(sys.get(), 2, QString());
    EXPECT_TRUE(*reached);
    EXPECT_FALSE(hidden);
}

/* --------------------------------------------------------------- crate map */

KORUHVNode *boardNode(const QString &model, unsigned serial, const QString &fwMax, const QString &fwMin,
                      const QString &init = QString())
{
    auto *b = new KORUHVNode();
    b->KORUHVPrepareNode(model, NODE_BOARD, -1, -1, QString(), QString(), QString());
    b->setInitParam(init);
    b->setBdModel(model);
    b->setBdDescr(QStringLiteral("desc ") + model);
    b->setBdSerNr(serial);
    b->setBdFwRelMax(fwMax);
    b->setBdFwRelMin(fwMin);
    return b;
}

KORUHVNode *emptySlot()
{
    auto *e = new KORUHVNode();
    e->KORUHVPrepareNode(QString(), NODE_GROUP, -1, -1, QString(), QString(), QString());
    return e;
}

struct MapResult {
    bool reached = false;
    QString title;
    QStringList headers;
    QList<QStringList> rows;
};

MapResult runMap(KORUHVNode *sys)
{
    MapResult r;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            r.title = d->windowTitle();
            r.headers = headersOf(d);
            r.rows = tableOf(d);
        },
        5000, koru_test::AfterAnswer::Close);
    sysdlg::runCrateMapDialog(sys, QString());
    r.reached = *reached;
    return r;
}

TEST(SysDlgCrateMap, SixteenSlotsWithAnEmptyOne)
{
    auto sys = sdtest::systemNode(2);
    for (int i = 0; i < 16; ++i)
        sys->addChildNode(i == 3 ? emptySlot() : boardNode(QStringLiteral("A1535"), 4000000000u, "3", "10"));
    const MapResult r = runMap(sys.get());
    ASSERT_TRUE(r.reached);
    EXPECT_EQ(r.title, QStringLiteral("Crate Map"));
    ASSERT_EQ(r.rows.size(), 16);
    EXPECT_EQ(r.rows.at(3), (QStringList{"3", "...", "...", "...", "..."}));
    EXPECT_EQ(r.rows.at(15), (QStringList{"15", "A1535", "desc A1535", "4000000000", "3.10"}));
}

TEST(SysDlgCrateMap, RackPositionsAndVmeBaseAddresses)
{
    auto rack = sdtest::systemNode(16);
    for (int i = 0; i < 28; ++i)
        rack->addChildNode(i == 27 ? boardNode(QStringLiteral("M1"), 7, "1", "2") : emptySlot());
    MapResult r = runMap(rack.get());
    EXPECT_EQ(r.title, QStringLiteral("Rack Map"));
    EXPECT_EQ(r.headers.size(), 6);
    ASSERT_EQ(r.rows.size(), 28);
    EXPECT_EQ(r.rows.at(27), (QStringList{"1", "2", "M1", "desc M1", "7", "1.2"}));

    auto vme = sdtest::systemNode(5);
    vme->addChildNode(boardNode(QStringLiteral("V1"), 1, "1", "0", QStringLiteral("usb_0_00EE0000")));
    vme->addChildNode(boardNode(QStringLiteral("V2"), 2, "1", "0", QStringLiteral("odd")));
    r = runMap(vme.get());
    ASSERT_EQ(r.rows.size(), 2);
    EXPECT_EQ(r.headers.first(), QStringLiteral("Base Address"));
    EXPECT_EQ(r.rows.at(0).first(), QStringLiteral("0x00EE0000"));
    EXPECT_EQ(r.rows.at(1).first(), QStringLiteral("0xodd"));

    auto bare = sdtest::systemNode(2);
    r = runMap(bare.get());
    EXPECT_EQ(r.title, QStringLiteral("Dialog"));
    EXPECT_TRUE(r.rows.isEmpty());
}

/* ------------------------------------------------- technical information */

class SysDlgTech : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System s;
        s.props.push_back({"OutputLevel", {fakehv::SYSPROP_U16, 2, fakehv::Raw::u16(0)}});
        s.props.push_back({"Logic", {fakehv::SYSPROP_U16, 2, fakehv::Raw::u16(0)}});
        s.props.push_back({"ACDCIlim", {fakehv::SYSPROP_U16, 2, fakehv::Raw::u16(1)}});
        handle = fakehv::addSystem(s);
    }
    KORUHVNode *writable(KORUHVNode *sys, const char *name, unsigned value)
    {
        KORUHVNode *n =
            sdtest::propNode(QString::fromLatin1(name), QVariant(value), handle, fakehv::SYSPROP_U16);
        sys->addParameter(n);
        return n;
    }
    static std::vector<unsigned> writesTo(const char *name)
    {
        std::vector<unsigned> w;
        for (const fakehv::Call &c : fakehv::callsOf("KORUHV_SetSysProp"))
            if (c.name == name)
                w.push_back(c.value.asU16());
        return w;
    }
    int handle = -1;
};

TEST_F(SysDlgTech, SettersShowThePartsOfEachText)
{
    QTechInfoDialog d(QString(), QString(), QString(), QString(), 0, 0, nullptr);
    d.setHvPwSMWidgets(QStringLiteral("1:1:J7750:J7751:J7752"));
    d.setHvPwSMWidgets(QStringLiteral("1:1:0:-1:J7740"));
    EXPECT_EQ(labelText(&d, "mainStat"), QStringLiteral("Good"));
    EXPECT_EQ(labelText(&d, "primStat"), QStringLiteral("Good"));
    EXPECT_EQ(labelText(&d, "firstStat"), QStringLiteral("Not Present"));
    EXPECT_EQ(labelText(&d, "firstMod"), QString());
    EXPECT_EQ(labelText(&d, "secStat"), QStringLiteral("Fail"));
    EXPECT_EQ(labelText(&d, "secMod"), QStringLiteral("J7751")); // kept
    EXPECT_EQ(labelText(&d, "thirdStat"), QStringLiteral("Good"));
    EXPECT_EQ(labelText(&d, "thirdMod"), QStringLiteral("J7740"));

    d.setPowerModulesWidgets(QStringLiteral("1:2:3:12:5:6:20.5"));
    auto style = [&](const char *n) { return d.findChild<QLabel *>(QString::fromLatin1(n))->styleSheet(); };
    EXPECT_EQ(labelText(&d, "primIdd"), QStringLiteral("1"));
    EXPECT_EQ(labelText(&d, "primIpw"), QStringLiteral("12"));
    EXPECT_EQ(style("primIpw"), QStringLiteral("color: red; font: bold;"));
    EXPECT_EQ(style("thirdIpw"), QStringLiteral("color: #35a912; font: bold;")); // J7740: limit 24
    EXPECT_EQ(style("secIpw"), QStringLiteral("color: #35a912; font: bold;"));
    d.setHvPwSMWidgets(QStringLiteral("1:1:0:-1:J7750"));
    d.setPowerModulesWidgets(QStringLiteral("1:2:3:11:5:x:20.5"));
    EXPECT_EQ(style("thirdIpw"), QStringLiteral("color: red; font: bold;"));
    EXPECT_EQ(style("primIpw"), QStringLiteral("color: #35a912; font: bold;"));
    EXPECT_EQ(labelText(&d, "secIpw"), QStringLiteral("x"));
    EXPECT_EQ(style("secIpw"), QStringLiteral("color: #35a912; font: bold;")); // not a number: kept

    d.setSwRelease(QStringLiteral("1.00-2.00"));
    d.setSwRelease(QStringLiteral("3.01.00"));
    EXPECT_EQ(labelText(&d, "fwRel"), QStringLiteral("3.01.00"));
    EXPECT_EQ(labelText(&d, "fpgaRel"), QStringLiteral("2.00"));

    d.setVoltagesWidgets(QStringLiteral("1:2:3:4:5:6:7"));
    EXPECT_EQ((QStringList{labelText(&d, "vdd"), labelText(&d, "vcc1"), labelText(&d, "vcc2"),
                           labelText(&d, "vfan"), labelText(&d, "vpw"), labelText(&d, "vcpu")}),
              (QStringList{"1", "2", "3", "4", "5", "6"}));

    for (const auto &[word, enable] : {std::pair{0x30, "Remote"}, {0x20, "Local"}, {0x00, "Off"}}) {
        d.setFrontPanIn(ushort(word));
        EXPECT_EQ(labelText(&d, "enable"), QString::fromLatin1(enable)) << word;
    }
    d.setFrontPanIn(0x000C);
    EXPECT_EQ(lamp(&d, "kill"), QStringLiteral("on"));
    EXPECT_EQ(lamp(&d, "interlock"), QStringLiteral("on"));
    d.setFrontPanOut(0x0301);
    EXPECT_EQ((QStringList{lamp(&d, "ovc"), lamp(&d, "unv"), lamp(&d, "ovv"), lamp(&d, "chOn"),
                           lamp(&d, "fanFail"), lamp(&d, "out")}),
              (QStringList{"on", "off", "off", "off", "on", "on"}));
}

TEST_F(SysDlgTech, EmptySystemOpensWithDefaults)
{
    auto sys = sdtest::systemNode(2);
    sysdlg::TechInfoDialogSlot slot;
    QStringList texts, lamps;
    bool ttl = true;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            texts = {labelText(d, "fwRel"), labelText(d, "mainStat"), labelText(d, "primIpw"),
                     labelText(d, "vdd"),   labelText(d, "vsel"),     labelText(d, "isel"),
                     labelText(d, "enable")};
            for (const char *l : {"ovc", "unv", "ovv", "chOn", "fanFail", "out", "kill", "interlock"})
                lamps << lamp(d, l);
            ttl = d->findChild<KORUHVSwitch *>()->isChecked();
        },
        5000, koru_test::AfterAnswer::Close);
    slot.open(sys.get(), QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(texts, (QStringList{"", "", "", "", "V<sub>0</sub>", "I<sub>0</sub>", "Off"}));
    EXPECT_EQ(lamps, QStringList(8, QStringLiteral("off")));
    EXPECT_FALSE(ttl);
}

TEST_F(SysDlgTech, SwitchWritesOncePerClickAndLiveValuesReachOnlyTheOpenDialog)
{
    auto sys = sdtest::systemNode(2, {{"hvpwsm", "1:1:0:-1:J7740"},
                                      {"SwRelease", "1.0-2.0"},
                                      {"FrontPanOut", 0x0301u},
                                      {"FrontPanIn", 0x0030u}});
    KORUHVNode *level = writable(sys.get(), "OutputLevel", 0);
    std::unique_ptr<KORUHVNode> liveLevel(sdtest::propNode("OutputLevel", 1u));
    std::unique_ptr<KORUHVNode> liveIn(sdtest::propNode("FrontPanIn", 0x0020u));
    std::unique_ptr<KORUHVNode> liveRel(sdtest::propNode("SwRelease", "9.9-9.9"));
    std::unique_ptr<KORUHVNode> livePsm(sdtest::propNode("HvPwSM", "-1:0:0:0:0"));
    sysdlg::TechInfoDialogSlot slot;
    std::vector<unsigned> afterClicks;
    QStringList seen;
    bool ttlAfterLive = false;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            seen << labelText(d, "mainStat") << labelText(d, "thirdMod") << labelText(d, "fwRel")
                 << labelText(d, "enable") << lamp(d, "out");
            auto *sw = d->findChild<KORUHVSwitch *>();
            QTest::mouseClick(sw, Qt::LeftButton);
            QTest::mouseClick(sw, Qt::LeftButton);
            afterClicks = writesTo("OutputLevel");
            fakehv::clearCalls();
            slot.update(liveLevel.get());
            ttlAfterLive = sw->isChecked();
            slot.update(liveIn.get());
            slot.update(liveRel.get());
            slot.update(livePsm.get());
            seen << labelText(d, "enable") << labelText(d, "fwRel") << labelText(d, "mainStat");
        },
        5000, koru_test::AfterAnswer::Close);
    slot.open(sys.get(), QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(seen, (QStringList{"Good", "J7740", "1.0", "Remote", "on", "Local", "1.0", "Fail"}));
    EXPECT_EQ(afterClicks, (std::vector<unsigned>{1, 0}));
    EXPECT_TRUE(ttlAfterLive);
    EXPECT_TRUE(writesTo("OutputLevel").empty()); // live values write nothing
    EXPECT_EQ(level->getNodeValue().KORUHVGetValue().toUInt(), 0u);
    slot.update(liveLevel.get()); // closed: nothing to reach
}

TEST_F(SysDlgTech, RefusedWritePutsTheSwitchBack)
{
    fakehv::system(handle).findProp("OutputLevel")->setCode = 2;
    auto sys = sdtest::systemNode(2);
    KORUHVNode *level = writable(sys.get(), "OutputLevel", 0);
    QTechInfoDialog d(QString(), QString(), QString(), QString(), 0, 0, level);
    auto *sw = d.findChild<KORUHVSwitch *>();
    d.show();
    QTest::mouseClick(sw, Qt::LeftButton);
    EXPECT_EQ(writesTo("OutputLevel").size(), 1u);
    EXPECT_FALSE(sw->isChecked());
    EXPECT_EQ(level->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    // Without a node a click only toggles.
    QTechInfoDialog bare(QString(), QString(), QString(), QString(), 0, 0, nullptr);
    fakehv::clearCalls();
    QTest::mouseClick(bare.findChild<KORUHVSwitch *>(), Qt::LeftButton);
    EXPECT_TRUE(bare.findChild<KORUHVSwitch *>()->isChecked());
    EXPECT_TRUE(fakehv::calls().empty());
}

/* ------------------------------------------------------------ rack supply */

TEST_F(SysDlgTech, RackTechInfoShowsTheTreeAndWritesLogic)
{
    auto sys = sdtest::systemNode(16, {{"SwRelease", "1.2"},
                                       {"fwrelease", "3.4"},
                                       {"HwRelease", "5.6"},
                                       {"SerialNumber", QVariant(quint32(0x80000001u))},
                                       {"FrontPanOut", 0x0301u},
                                       {"ACDCStatus", 0x10005u}});
    writable(sys.get(), "Logic", 0);
    QStringList texts, lamps;
    std::vector<unsigned> writes;
    int tab = -1;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            texts = {d->windowTitle(),      labelText(d, "PIDValue"), labelText(d, "swRel"),
                     labelText(d, "fwRel"), labelText(d, "fpgaRel"),  labelText(d, "mainStat")};
            for (const char *l : {"ovc", "unv", "ovv", "chOn", "fanFail", "out", "kill", "isel"})
                lamps << lamp(d, l);
            tab = d->findChild<QTabWidget *>()->currentIndex();
            auto *sw = d->findChild<KORUHVSwitch *>();
            QTest::mouseClick(sw, Qt::LeftButton);
            QTest::mouseClick(sw, Qt::LeftButton);
            writes = writesTo("Logic");
        },
        5000, koru_test::AfterAnswer::Close);
    sysdlg::runTechInfoP8080Dialog(sys.get(), QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(texts, (QStringList{"Technical Information", "2147483649", "1.2", "3.4", "5.6", "5"}));
    EXPECT_EQ(lamps, (QStringList{"on", "off", "off", "off", "on", "on", "", ""}));
    EXPECT_EQ(tab, 1);
    EXPECT_EQ(writes, (std::vector<unsigned>{1, 0}));
}

TEST_F(SysDlgTech, RackTechInfoEmptyAndRefused)
{
    auto empty = sdtest::systemNode(16);
    QStringList texts;
    bool ttl = true;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            texts = {labelText(d, "PIDValue"), labelText(d, "mainStat"), labelText(d, "swRel"),
                     lamp(d, "ovc")};
            ttl = d->findChild<KORUHVSwitch *>()->isChecked();
        },
        5000, koru_test::AfterAnswer::Close);
    sysdlg::runTechInfoP8080Dialog(empty.get(), QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(texts, (QStringList{"0", "0", "", "off"}));
    EXPECT_FALSE(ttl);

    fakehv::system(handle).findProp("Logic")->setCode = 2;
    auto sys = sdtest::systemNode(16);
    KORUHVNode *logic = writable(sys.get(), "Logic", 1);
    QTechInfoP8080Dialog d(QString(), QString(), QString(), 0, 0, logic, 0);
    auto *sw = d.findChild<KORUHVSwitch *>();
    ASSERT_TRUE(sw->isChecked());
    d.show();
    QTest::mouseClick(sw, Qt::LeftButton);
    EXPECT_TRUE(sw->isChecked()); // back to the device's TTL
    EXPECT_EQ(writesTo("Logic"), (std::vector<unsigned>{0}));
}

struct IlimCase {
    const char *what;
    int stored;      // -1: no ACDCIlim parameter
    int expectIndex; // selected at opening
    std::vector<int> choices;
    std::vector<unsigned> writes;
};

TEST_F(SysDlgTech, RackSettingsWriteTheLimitOnlyWhenChanged)
{
    const IlimCase cases[] = {
        {"change", 1, 1, {2}, {2}},
        {"no change", 1, 1, {}, {}},
        {"change and back", 1, 1, {3, 1}, {}},
        {"no parameter", -1, 0, {2}, {}},
        {"outside the items", 7, -1, {}, {}},
        {"outside, then chosen", 7, -1, {0}, {0}},
    };
    for (const IlimCase &c : cases) {
        fakehv::clearCalls();
        auto sys = sdtest::systemNode(
            16, {{"LowFreq", 50}, {"HighFreq", "60"}, {"RecPeriod", 10}, {"RstPeriod", 20}});
        if (c.stored >= 0)
            writable(sys.get(), "ACDCIlim", unsigned(c.stored));
        int opened = -2;
        QStringList labels;
        auto reached = koru_test::answerNextModal<QDialog>(
            [&](QDialog *d) {
                labels = {labelText(d, "ql_LowFreq"), labelText(d, "ql_HiFreq"), labelText(d, "ql_RecPeriod"),
                          labelText(d, "ql_RstPeriod"), d->windowTitle()};
                auto *cb = d->findChild<QComboBox *>(QStringLiteral("cb_48VIl"));
                opened = cb->currentIndex();
                for (int i : c.choices)
                    cb->setCurrentIndex(i);
                QTest::mouseClick(d->findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
            },
            5000, koru_test::AfterAnswer::Close);
        const int result = sysdlg::runSysInfoP8080Dialog(sys.get(), QString());
        ASSERT_TRUE(*reached) << c.what;
        EXPECT_EQ(result, int(QDialog::Accepted)) << c.what;
        EXPECT_EQ(labels, (QStringList{"50", "60", "10", "20", "System Information"})) << c.what;
        EXPECT_EQ(opened, c.expectIndex) << c.what;
        EXPECT_EQ(writesTo("ACDCIlim"), c.writes) << c.what;
    }
}

/* ------------------------------------------- repeated opening with live values */

TEST_F(SysDlgTech, OpeningAndClosingRepeatedlyWithLiveValues)
{
    auto sys =
        sdtest::systemNode(2, {{"CPULoad", "1:2:3"}, {"HvPwSM", "1:1:1:1:1"}, {"Sessions", "a:1:b:c:d;"}});
    writable(sys.get(), "OutputLevel", 0);
    std::unique_ptr<KORUHVNode> cpu(sdtest::propNode("CPULoad", "4:5:6"));
    std::unique_ptr<KORUHVNode> psm(sdtest::propNode("HvPwSM", "0:0:0:0:0"));
    sysdlg::SysInfoDialogSlot info;
    sysdlg::TechInfoDialogSlot tech;
    QTimer live; // values keep arriving whatever is open
    QObject::connect(&live, &QTimer::timeout, [&]() {
        info.update(cpu.get());
        tech.update(psm.get());
    });
    live.start(1);
    for (int i = 0; i < 5; ++i) {
        koru_test::answerNextModal<QDialog>(
            [](QDialog *d) {
                QTest::qWait(10);
                d->close();
            },
            5000, koru_test::AfterAnswer::Close);
        info.open(sys.get(), 2, QString());
        koru_test::answerNextModal<QDialog>(
            [](QDialog *d) {
                QTest::qWait(10);
                d->close();
            },
            5000, koru_test::AfterAnswer::Close);
        tech.open(sys.get(), QString());
        koru_test::answerNextModal<QDialog>([](QDialog *) { QTest::qWait(5); }, 5000,
                                            koru_test::AfterAnswer::Close);
        sysdlg::runSessionDialog(sys.get());
        koru_test::answerNextModal<QDialog>([](QDialog *) {}, 5000, koru_test::AfterAnswer::Close);
        sysdlg::runCrateMapDialog(sys.get(), QString());
        koru_test::answerNextModal<QDialog>([](QDialog *) {}, 5000, koru_test::AfterAnswer::Close);
        sysdlg::runTechInfoP8080Dialog(sys.get(), QString());
        koru_test::answerNextModal<QDialog>([](QDialog *) {}, 5000, koru_test::AfterAnswer::Close);
        sysdlg::runSysInfoP8080Dialog(sys.get(), QString());
        EXPECT_EQ(info.dialog(), nullptr);
        EXPECT_EQ(tech.dialog(), nullptr);
    }
    live.stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(QApplication::topLevelWidgets().size() < 5);
}

} // namespace

namespace {

/* The dialogs draw at a sensible size; with SYSDLG_SHOTS set to a folder the
 * pictures are kept there for a person to look at (run under Xvfb). */
TEST(SysDlgLooks, DialogsDrawAtTheirSize)
{
    const QString folder = qEnvironmentVariable("SYSDLG_SHOTS");
    QTechInfoDialog tech(QStringLiteral("3.01-2.04"), QStringLiteral("1:1:J7740:-1:0"),
                         QStringLiteral("1.2:0.5:0.4:12.5:20.5:3:0"),
                         QStringLiteral("5.0:-12.1:12.0:24.1:48.0:3.3"), 0x0301, 0x0035, nullptr);
    tech.show();
    QSysInfoDialog info(QStringLiteral("0.15:0.20:0.31"), QStringLiteral("255 MB: 120 MB: 135 MB: 12 MB"),
                        QStringLiteral("idle"));
    info.show();
    auto *tabs = tech.findChild<QTabWidget *>();
    const QImage techInfo = tech.grab().toImage();
    tabs->setCurrentIndex(1);
    const QImage techFront = tech.grab().toImage();
    const QImage sysInfo = info.grab().toImage();
    EXPECT_EQ(techInfo.size(), QSize(575, 740));
    EXPECT_EQ(sysInfo.size(), QSize(490, 371));
    EXPECT_NE(techInfo, techFront);
    if (!folder.isEmpty()) {
        techInfo.save(folder + QStringLiteral("/techinfo.png"));
        techFront.save(folder + QStringLiteral("/techinfo_front.png"));
        sysInfo.save(folder + QStringLiteral("/sysinfo.png"));
    }
}

} // namespace

/* Both front-panel tabs come from one builder and a table of lamp captions:
 * each lamp sits right of its caption, first-column and output captions are
 * widened, and the rack keeps its input group below the scroll area. */
TEST(TechInfoFrontPanel, EachLampSitsRightOfItsCaption)
{
    QTechInfoDialog crate(QString(), QString(), QString(), QString(), 0, 0, nullptr);
    QTechInfoP8080Dialog rack(QString(), QString(), QString(), 0, 0, nullptr, 0);
    const struct {
        QDialog *dialog;
        const char *lamp;
        const char *caption;
        bool wide;    // the caption is at least 100 pixels wide
        bool scrolls; // the lamp's group is inside the tab's scroll area
    } cases[] = {
        {&crate, "ovc", "Over Current", true, true},
        {&crate, "out", "Out", true, true},
        {&crate, "fanFail", "Fan Failure", true, true},
        {&crate, "vsel", "V<sub>SEL</sub>", true, true},
        {&crate, "isel", "I<sub>SEL</sub>", false, true},
        {&crate, "enable", "Enable", true, true},
        {&rack, "fanFail", "Over Temp", true, true},
        {&rack, "out", "Trip", true, true},
        {&rack, "isel", "VSel", true, false},
        {&rack, "vsel", "ISel", false, false},
        {&rack, "hvclock", "HV Clock", false, false},
        {&rack, "Hz50", "50 Hz", true, false},
    };
    for (const auto &c : cases) {
        const QString what = c.dialog->objectName() + QLatin1Char('/') + QLatin1String(c.lamp);
        auto *lamp = c.dialog->findChild<QLabel *>(QString::fromLatin1(c.lamp));
        ASSERT_NE(lamp, nullptr) << what.toStdString();
        auto *grid = qobject_cast<QGridLayout *>(lamp->parentWidget()->layout());
        ASSERT_NE(grid, nullptr) << what.toStdString();
        int row = -1, col = -1, rs = 0, cs = 0;
        grid->getItemPosition(grid->indexOf(lamp), &row, &col, &rs, &cs);
        ASSERT_GT(col, 0) << what.toStdString();
        auto *caption = qobject_cast<QLabel *>(grid->itemAtPosition(row, col - 1)->widget());
        ASSERT_NE(caption, nullptr) << what.toStdString();
        EXPECT_EQ(caption->text(), QString::fromLatin1(c.caption)) << what.toStdString();
        EXPECT_EQ(caption->minimumWidth() >= 100, c.wide) << what.toStdString();
        auto *area = c.dialog->findChild<QScrollArea *>(QStringLiteral("scrollArea_2"));
        ASSERT_NE(area, nullptr);
        EXPECT_EQ(area->widget()->isAncestorOf(lamp), c.scrolls) << what.toStdString();
    }
    // The NIM/TTL switch sits in the input group of each.
    for (QDialog *d : {static_cast<QDialog *>(&crate), static_cast<QDialog *>(&rack)})
        EXPECT_TRUE(d->findChild<QGroupBox *>(QStringLiteral("groupBox_9"))
                        ->isAncestorOf(d->findChild<KORUHVSwitch *>()));
}
