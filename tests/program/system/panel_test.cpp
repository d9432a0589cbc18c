// The system panel over scripted systems of the fake wrapper: texts and
// layout per system type, selection looks, confirmed commands (Yes and No,
// refused ones), 48 V, fan speed, lamps and the parameter and fan rows.
#include "FakeWrapper.h"
#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "KORUHVWidgetItem.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "SysDialogLamps.h"
#include "panel_fixture.h"
#include "panel_support.h"
#include "qt_gtest_print.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace paneltest;
using syspanel::Cmd;
using syspanel::Lamp;

namespace {

// One word per widget of the main layout, top to bottom.
std::vector<QString> layoutSignature(QSystemInformations *panel)
{
    std::vector<QString> out;
    QLayout *layout = panel->layout();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget *w = layout->itemAt(i)->widget();
        if (!w)
            continue;
        if (w->findChild<QLabel *>(QStringLiteral("modelLabel")))
            out.push_back(QStringLiteral("header"));
        else if (w->objectName() == QLatin1String("connLabel"))
            out.push_back(QStringLiteral("conn"));
        else if (auto *b = qobject_cast<QPushButton *>(w))
            out.push_back(b->text());
        else if (w->findChild<QWidget *>(QStringLiteral("advWid")))
            out.push_back(QStringLiteral("advanced"));
        else if (w->findChild<KORUHVSwitch *>(QStringLiteral("logSwitch")))
            out.push_back(QStringLiteral("log"));
        else if (w->objectName() == QLatin1String("buttonRow")) {
            QStringList texts;
            for (QPushButton *b : w->findChildren<QPushButton *>())
                texts << b->text().replace(QLatin1Char('\n'), QLatin1Char(' '));
            out.push_back(QStringLiteral("[%1]").arg(texts.join(QLatin1Char('|'))));
        } else if (auto *label = w->findChild<QLabel *>())
            out.push_back(label->text());
        else
            out.push_back(QStringLiteral("?"));
    }
    return out;
}

std::vector<QString> sig(std::initializer_list<const char *> words)
{
    std::vector<QString> out;
    for (const char *w : words)
        out.push_back(QString::fromUtf8(w));
    return out;
}

TEST_F(PanelTest, ModelTextAndConnectionLabelPerType)
{
    struct Case {
        int type;
        int link;
        const char *address;
        unsigned short slotCount;
        const char *model;
        const char *conn;
    } cases[] = {
        {2, 0, "127.0.0.2", 10, "HX4400LC", "127.0.0.2"},
        {2, 0, "127.0.0.2", 16, "HX4400\n", "127.0.0.2"},
        {3, 0, "127.0.0.2", 4, "HX5500LC", "127.0.0.2"},
        {5, 4, "1_3_32100000", 0, "VME HV Crate", "OPTICAL LINK 1_3"},
        {6, 5, "ttyUSB0_9600", 0, "NIM HV", "ttyUSB0"},
        {8, 0, "127.0.0.4_1", 0, "L317E", "127.0.0.4"},
        {16, 0, "127.0.0.5", 0, "P8080\nBranch Controller", "127.0.0.5"},
    };
    for (const Case &c : cases) {
        make(c.type, scripted({}), QString::fromLatin1(c.address), c.link, c.slotCount);
        auto *model = panel()->findChild<QLabel *>(QStringLiteral("modelLabel"));
        auto *conn = panel()->findChild<QLabel *>(QStringLiteral("connLabel"));
        EXPECT_TRUE(model->text().startsWith(QString::fromLatin1(c.model)))
            << c.type << model->text().toStdString();
        EXPECT_EQ(conn->text(), QString::fromLatin1(c.conn)) << c.type;
        host.reset();
        fakehv::reset();
    }
    // The custom view: no tree, "Misc", no connection text.
    PanelHost custom(-1, -1, QString(), nullptr);
    EXPECT_EQ(custom.panel->findChild<QLabel *>(QStringLiteral("modelLabel"))->text(),
              QStringLiteral("Misc"));
    EXPECT_TRUE(custom.panel->findChild<QLabel *>(QStringLiteral("connLabel"))->text().isEmpty());
    EXPECT_TRUE(custom.panel->getIsCustomView());
}

TEST_F(PanelTest, LayoutOrderAndButtonsPerType)
{
    const auto lamps = sig({"Channel ON", "OVV", "UNV", "OVC", "Trip"});
    struct Case {
        int type;
        std::vector<QString> head; // the signature's beginning
    } cases[] = {
        {2, sig({"header", "conn", "SETTINGS", "advanced", "[SESSIONS|CRATE MAP|TECH INFO|SYS INFO]",
                 "[RESET FLAG CFG|GEN SIGN CFG|KILL|CLEAR ALARM]", "Channel ON"})},
        {3, sig({"header", "conn", "SETTINGS", "advanced", "[SESSIONS|CRATE MAP|TECH INFO|SYS INFO]",
                 "[RESET FLAG CFG|GEN SIGN CFG|KILL|CLEAR ALARM]", "Channel ON"})},
        {16, sig({"header", "conn", "log", "[SESSIONS|RACK MAP|TECH INFO|CPU INFO]",
                  "[RECOVERY FLAG|RESET FLAG CFG|48V PW|SYS INFO]", "[CLEAR ALARM|KILL|GLOBAL ON|GLOBAL OFF]",
                  "Channel ON"})},
        {5, sig({"header", "conn", "log", "[CRATE MAP|KILL]"})},
        {6, sig({"header", "conn", "log", "[KILL|CLEAR ALARM]"})},
        {11, sig({"header", "conn", "log", "[TURN OFF ALL|CLEAR ALARM]"})},
        {13, sig({"header", "conn", "log", "[TURN OFF ALL|CLEAR ALARM]"})},
        {9, sig({"header", "conn", "log"})},
        {8, sig({"header", "conn"})},
    };
    for (const Case &c : cases) {
        make(c.type, scripted(crateProps()));
        const std::vector<QString> got = layoutSignature(panel());
        ASSERT_GE(got.size(), c.head.size()) << c.type;
        EXPECT_EQ(std::vector<QString>(got.begin(), got.begin() + long(c.head.size())), c.head) << c.type;
        if (c.type == 8 || c.type == 9 || c.type == 5 || c.type == 6 || c.type == 11 || c.type == 13) {
            EXPECT_EQ(got.size(), c.head.size()) << c.type; // no parameter area
        }
        // Buttons in no row are never visible.
        int visible = 0;
        for (int i = 0; i < syspanel::CommandButtonCount; ++i)
            visible += panel()->commandButton(Cmd(i))->isVisibleTo(panel()) ? 1 : 0;
        int placed = 0;
        for (const QString &w : c.head)
            placed += w.startsWith(QLatin1Char('[')) ? int(w.count(QLatin1Char('|'))) + 1 : 0;
        EXPECT_EQ(visible, placed) << c.type;
        host.reset();
        fakehv::reset();
    }
    (void)lamps;
}

TEST_F(PanelTest, ParameterRowsHideNamesAndPickWidgets)
{
    make(2, scripted(crateProps()));
    const std::vector<QString> got = layoutSignature(panel());
    // After the two button rows and five lamp rows: one row per shown name.
    const std::vector<QString> rows(got.begin() + 11, got.end());
    EXPECT_EQ(rows, sig({"HVFanSpeed", "HVFanStat", "PWFanStat", "HVFanStatX", "Temp"}));
    EXPECT_NE(panel()->findChild<KORUHVWidgetItem *>(QStringLiteral("Temp")), nullptr);
    EXPECT_NE(panel()->findChild<KORUHVWidgetItem *>(QStringLiteral("HVFanStatX")), nullptr);
    EXPECT_EQ(panel()->findChild<KORUHVWidgetItem *>(QStringLiteral("ipaddr")), nullptr);
    ASSERT_NE(panel()->midFanButton, nullptr);
    EXPECT_TRUE(panel()->midFanButton->isChecked());
    // "PWFanStat" as the crate spells it fills the power fan rows.
    EXPECT_EQ(panel()->hvFanStatWidgets.size(), 2);
    EXPECT_EQ(panel()->pwFanStatWidgets.size(), 1);
}

TEST_F(PanelTest, NullRootBuildsNothingAndCommandsDoNothing)
{
    PanelHost empty(2, 0, QStringLiteral("127.0.0.2"), nullptr);
    const int before = empty.panel->layout()->count();
    empty.panel->createSystemParameterWidgets();
    EXPECT_EQ(empty.panel->layout()->count(), before);
    ModalAnswerer answers;
    empty.panel->killClicked();
    empty.panel->genSignCfgClicked();
    empty.panel->recoveryHVClicked();
    EXPECT_TRUE(answers.seen().empty());
    EXPECT_TRUE(fakehv::calls().empty());
}

TEST_F(PanelTest, SelectionLooks)
{
    make(2, scripted(crateProps()));
    panel()->setSelected(true);
    EXPECT_EQ(panel()->styleSheet(), QStringLiteral("background: #f4f5f7;"));
    EXPECT_TRUE(hasSelectedLook(panel()->commandButton(Cmd::Kill)));
    EXPECT_TRUE(hasSelectedLook(panel()->commandButton(Cmd::SysInfo)));
    EXPECT_TRUE(panel()->commandButton(Cmd::GlobalOn)->styleSheet().isEmpty());
    panel()->setSelected(false);
    EXPECT_EQ(panel()->styleSheet(), QStringLiteral("background: #d5d5d5;"));
    EXPECT_TRUE(hasUnselectedLook(panel()->commandButton(Cmd::Kill)));
    EXPECT_FALSE(panel()->getIsSelected());
    host.reset();

    make(16, scripted(rackProps(true, 1)));
    QPushButton *pw = panel()->commandButton(Cmd::Pw48);
    ASSERT_TRUE(pw->isChecked());
    panel()->setSelected(true);
    EXPECT_TRUE(hasUnselectedLook(pw)) << "a switched-on 48 V keeps its grey look";
    EXPECT_TRUE(hasSelectedLook(panel()->commandButton(Cmd::GlobalOff)));
}

TEST_F(PanelTest, ClickingThePanelReachesItsInterface)
{
    make(6, scripted({}));
    QSignalSpy spy(host->iface, &QSystemInterface::clicked);
    QTest::mouseClick(panel(), Qt::LeftButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
}

// ---------------------------------------------------------------- commands

struct CommandCase {
    int type;
    void (QSystemInformations::*slot)();
    Cmd button;
    const char *question;
    // What Yes sends: a command, or "Pw" 0 / "ClrAlarm" 1 writes.
    const char *command;
    const char *write;
};

std::vector<std::string> written(const char *function, const char *name)
{
    std::vector<std::string> out;
    for (const fakehv::Call &c : fakehv::callsOf(function))
        if (c.name == name)
            for (unsigned short item : c.list)
                out.push_back((c.slot >= 0 ? std::to_string(c.slot) + "/" : std::string()) +
                              std::to_string(item) + "=" + std::to_string(c.value.asU32()));
    return out;
}

TEST_F(PanelTest, ConfirmedCommandsYesSendsNoDoesNot)
{
    const CommandCase cases[] = {
        {2, &QSystemInformations::killClicked, Cmd::Kill, "You are sending kill signal to system HVSYS.",
         "Kill", ""},
        {3, &QSystemInformations::clearAlarmClicked, Cmd::ClearAlarm,
         "You are sending Clear Alarm signal to system HVSYS.", "ClearAlarm", ""},
        {13, &QSystemInformations::clearAlarmClicked, Cmd::ClearAlarm,
         "You are sending Clear Alarm signal to system HVSYS.", "BdClr", ""},
        {16, &QSystemInformations::globalOnClicked, Cmd::GlobalOn,
         "You are sending Global ON signal to system HVSYS.", "GlobalOn", ""},
        {16, &QSystemInformations::globalOffClicked, Cmd::GlobalOff,
         "You are sending Global OFF signal to system HVSYS.", "GlobalOff", ""},
        {6, &QSystemInformations::killClicked, Cmd::Kill, "You are sending kill signal to system HVSYS.", "",
         "Pw"},
        {5, &QSystemInformations::killClicked, Cmd::Kill, "You are sending kill signal to system HVSYS.", "",
         "Pw"},
        {11, &QSystemInformations::turnOffAllClicked, Cmd::Kill,
         "You are turning off all channels of the system HVSYS.", "", "Pw"},
        {6, &QSystemInformations::clearAlarmClicked, Cmd::ClearAlarm,
         "You are sending Clear Alarm signal to system HVSYS.", "", "ClrAlarm"},
    };
    for (const CommandCase &c : cases) {
        for (bool yes : {false, true}) {
            make(c.type, scripted({}));
            panel()->setSelected(true);
            bool pressedWhileAsking = false;
            ModalAnswerer answers;
            answers.then([&](QWidget *w) {
                pressedWhileAsking = hasPressedLook(panel()->commandButton(c.button));
                qobject_cast<QMessageBox *>(w)->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            (panel()->*c.slot)();
            ASSERT_EQ(answers.seen().size(), 1u) << c.type << c.command << c.write;
            EXPECT_EQ(answers.seen()[0].text, QString::fromLatin1(c.question));
            EXPECT_EQ(answers.seen()[0].informative, QStringLiteral("Are you sure?"));
            EXPECT_TRUE(pressedWhileAsking);
            EXPECT_TRUE(hasSelectedLook(panel()->commandButton(c.button))) << "looks restored";
            const auto commands = fakehv::callsOf("KORUHV_ExecComm");
            const auto pw = written("KORUHV_SetChParam", "Pw");
            const auto clr = written("KORUHV_SetBdParam", "ClrAlarm");
            if (!yes) {
                EXPECT_TRUE(commands.empty());
                EXPECT_TRUE(pw.empty());
                EXPECT_TRUE(clr.empty());
            } else if (*c.command) {
                ASSERT_EQ(commands.size(), 1u);
                EXPECT_EQ(commands[0].name, c.command);
                EXPECT_EQ(commands[0].handle, handle);
            } else if (std::string(c.write) == "Pw") {
                EXPECT_TRUE(commands.empty());
                // Every channel in order, and never the look-alike "pw".
                EXPECT_EQ(pw, (std::vector<std::string>{"0/0=0", "0/1=0", "1/0=0", "1/1=0"}));
                EXPECT_TRUE(written("KORUHV_SetChParam", "pw").empty());
            } else {
                EXPECT_EQ(clr, (std::vector<std::string>{"0=1"})) << "write-only rows only";
            }
            host.reset();
            fakehv::reset();
        }
    }
}

TEST_F(PanelTest, RefusedCommandShowsOneWarning)
{
    fakehv::System sys = scripted({});
    sys.commandCodes["Kill"] = 5;
    make(2, sys);
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::Yes);
        answers.thenButton(QMessageBox::Ok);
        panel()->killClicked();
        ASSERT_EQ(answers.seen().size(), 2u);
        EXPECT_EQ(answers.seen()[1].title, QStringLiteral("LUMO2020"));
        EXPECT_TRUE(answers.seen()[1].text.contains(QLatin1String("\"Kill\"")));
        EXPECT_TRUE(answers.seen()[1].text.contains(QLatin1String("Refused by the device")));
    }
    // A command that works shows nothing more than its question.
    host.reset();
    fakehv::reset();
    make(2, scripted({}));
    ModalAnswerer quiet;
    quiet.thenButton(QMessageBox::Yes);
    panel()->clearAlarmClicked();
    EXPECT_EQ(quiet.seen().size(), 1u);
}

TEST_F(PanelTest, RefusedChannelWritesAreCountedInOneWarning)
{
    fakehv::System sys = scripted({});
    sys.crate[0].channels[1].find("Pw")->setCode = 2;
    sys.crate[1].channels[0].find("Pw")->setCode = 2;
    make(6, sys);
    ModalAnswerer answers;
    answers.thenButton(QMessageBox::Yes);
    answers.thenButton(QMessageBox::Ok);
    panel()->killClicked();
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(answers.seen()[1].title, QStringLiteral("LUMO2020"));
    EXPECT_TRUE(answers.seen()[1].text.startsWith(QLatin1String("2 channel(s)")));
    // Every channel was still asked.
    EXPECT_EQ(written("KORUHV_SetChParam", "Pw").size(), 4u);
}

// -------------------------------------------------------------------- 48 V

TEST_F(PanelTest, Pw48YesNoCheckedUncheckedAndRefused)
{
    struct Case {
        bool startsOn;
        bool yes;
        int writeCode;
        bool endsOn;
        int sent; // -1: nothing
    } cases[] = {
        {false, true, 0, true, 1},  {false, false, 0, false, -1}, {true, true, 0, false, 0},
        {true, false, 0, true, -1}, {false, true, 2, false, 1},   {true, true, 2, true, 0},
    };
    for (const Case &c : cases) {
        make(16, scripted(rackProps(true, c.startsOn ? 1 : 0, c.writeCode)));
        panel()->setSelected(true);
        QPushButton *pw = panel()->commandButton(Cmd::Pw48);
        ASSERT_EQ(pw->isChecked(), c.startsOn);
        EXPECT_TRUE(showsLamp(panel()->pw48Led, c.startsOn ? Lamp::On : Lamp::Off));
        ModalAnswerer answers;
        answers.thenButton(c.yes ? QMessageBox::Yes : QMessageBox::No);
        click(pw);
        ASSERT_EQ(answers.seen().size(), 1u);
        EXPECT_EQ(answers.seen()[0].text, c.startsOn ? QStringLiteral("You are powering OFF the 48V")
                                                     : QStringLiteral("You are powering ON the 48V"));
        EXPECT_EQ(pw->isChecked(), c.endsOn) << c.startsOn << c.yes << c.writeCode;
        EXPECT_TRUE(c.endsOn ? hasUnselectedLook(pw) : hasSelectedLook(pw));
        const auto sets = fakehv::callsOf("KORUHV_SetSysProp");
        if (c.sent < 0) {
            EXPECT_TRUE(sets.empty());
        } else {
            ASSERT_EQ(sets.size(), 1u);
            EXPECT_EQ(sets[0].name, "acdcpwr");
            EXPECT_EQ(sets[0].value.asU16(), c.sent);
            EXPECT_EQ(param(QStringLiteral("acdcpwr"))->getNodeValue().KORUHVGetQuality(),
                      c.writeCode ? QUALITY_WRITE_FAILED : QUALITY_GOOD);
        }
        host.reset();
        fakehv::reset();
    }
}

TEST_F(PanelTest, Pw48WithoutAcdcPwrOnlyChangesItsLook)
{
    make(16, scripted({{"FrontPanOut", prop(fakehv::SYSPROP_U16, 0, Raw::u16(0))}}));
    QPushButton *pw = panel()->commandButton(Cmd::Pw48);
    EXPECT_FALSE(pw->isChecked());
    EXPECT_TRUE(hasSelectedLook(pw)) << "no ACDCStatus: off and green";
    EXPECT_TRUE(showsLamp(panel()->pw48Led, Lamp::Off));
    ModalAnswerer answers;
    click(pw);
    EXPECT_TRUE(answers.seen().empty());
    EXPECT_TRUE(hasUnselectedLook(pw));
    EXPECT_TRUE(fakehv::calls().empty());
}

// --------------------------------------------------------------- fan speed

TEST_F(PanelTest, FanSpeedLowWithFlagTrueFalseAbsent)
{
    enum Flag { True, False, Absent };
    struct Case {
        Flag flag;
        bool yes; // answer to the caution box
        bool asks;
        std::vector<std::pair<std::string, int>> writes; // in order
        Cmd dummy;
    } cases[] = {
        {True, true, false, {{"HVFanSpeed", 0}}, Cmd::Kill},
        {False, true, true, {{"LowFanEnable", 1}, {"HVFanSpeed", 0}}, Cmd::Kill},
        {False, false, true, {{"HVFanSpeed", 1}}, Cmd::Kill},
        {Absent, true, true, {{"HVFanSpeed", 0}}, Cmd::Kill},
        {Absent, false, true, {{"HVFanSpeed", 1}}, Cmd::Kill},
    };
    for (const Case &c : cases) {
        auto props = crateProps();
        props.insert(props.begin() + 1, {"HVFanSpeed", prop(fakehv::SYSPROP_U16, 2, Raw::u16(2))});
        props.erase(
            std::find_if(props.begin() + 2, props.end(), [](auto &p) { return p.first == "HVFanSpeed"; }));
        if (c.flag != Absent)
            props.push_back(
                {"LowFanEnable", prop(fakehv::SYSPROP_ONOFF, 2, Raw::u16(c.flag == True ? 1 : 0))});
        make(2, scripted(props));
        ASSERT_TRUE(panel()->hiFanButton->isChecked());
        EXPECT_TRUE(hasLitLook(panel()->hiFanButton));
        ModalAnswerer answers;
        if (c.asks)
            answers.thenButton(c.yes ? QMessageBox::Yes : QMessageBox::No);
        click(panel()->lowFanButton);
        EXPECT_EQ(answers.seen().size(), c.asks ? 1u : 0u);
        if (c.asks) {
            EXPECT_EQ(answers.seen()[0].title, QStringLiteral("ENABLE FAN LOW SPEED"));
        }
        std::vector<std::pair<std::string, int>> got;
        for (const fakehv::Call &call : fakehv::callsOf("KORUHV_SetSysProp"))
            got.push_back({call.name, call.value.asU16()});
        EXPECT_EQ(got, c.writes) << c.flag << c.yes;
        const bool low = c.writes.back().second == 0;
        EXPECT_EQ(panel()->lowFanButton->isChecked(), low);
        EXPECT_EQ(panel()->midFanButton->isChecked(), !low);
        EXPECT_TRUE(hasLitLook(low ? panel()->lowFanButton : panel()->midFanButton));
        host.reset();
        fakehv::reset();
    }
}

TEST_F(PanelTest, FanSpeedRefusedWriteShowsTheSystemsSpeedAndLiveValues)
{
    auto props = crateProps();
    for (auto &p : props)
        if (p.first == "HVFanSpeed")
            p.second.setCode = 2;
    make(2, scripted(props));
    ASSERT_TRUE(panel()->midFanButton->isChecked());
    click(panel()->hiFanButton);
    EXPECT_TRUE(panel()->midFanButton->isChecked()) << "back to the speed the system has";
    EXPECT_EQ(param(QStringLiteral("HVFanSpeed"))->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);

    // Live values: 2 checks HI, 3 changes nothing, 0 checks LOW; nothing is written.
    fakehv::clearCalls();
    for (auto [value, expected] : std::vector<std::pair<int, QPushButton *>>{
             {2, panel()->hiFanButton}, {3, panel()->hiFanButton}, {0, panel()->lowFanButton}}) {
        setLive(QStringLiteral("HVFanSpeed"), value);
        panel()->updateFanSpeedSlider(param(QStringLiteral("HVFanSpeed")));
        EXPECT_TRUE(expected->isChecked()) << value;
    }
    EXPECT_TRUE(fakehv::calls().empty());
}

// The parameter rows are value editor cells: a write the system refuses
// shows the system's value again and says so on the cell.
TEST_F(PanelTest, RefusedParameterWritesShowTheSystemsValue)
{
    auto props = crateProps();
    props.push_back({"ClkOut", prop(fakehv::SYSPROP_ONOFF, 2, Raw::u16(0), 5)});
    props.push_back({"VSel", prop(fakehv::SYSPROP_FLOAT, 2, Raw::f32(10.f), 5)});
    make(2, scripted(props));
    panel()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel()));

    auto *clock = panel()->findChild<KORUHVWidgetItem *>(QStringLiteral("ClkOut"));
    ASSERT_TRUE(clock);
    auto *sw = qobject_cast<KORUHVSwitch *>(clock->getValueFieldWidget());
    ASSERT_TRUE(sw);
    click(sw);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetSysProp").size(), 1u);
    EXPECT_FALSE(sw->isChecked()) << "the system kept it off";
    EXPECT_TRUE(sw->hasRefusedLook());
    EXPECT_TRUE(sw->toolTip().contains("code 5")) << sw->toolTip().toStdString();

    auto *vsel = panel()->findChild<KORUHVWidgetItem *>(QStringLiteral("VSel"));
    ASSERT_TRUE(vsel);
    auto *spin = qobject_cast<QAbstractSpinBox *>(vsel->getValueFieldWidget());
    ASSERT_TRUE(spin);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "55");
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetSysProp").size(), 2u);
    EXPECT_FLOAT_EQ(param(QStringLiteral("VSel"))->getNodeValue().KORUHVGetValue().toFloat(), 10.f);
    EXPECT_EQ(spin->text().trimmed(), "10.00") << "the system's value, not the refused one";
    EXPECT_TRUE(spin->styleSheet().contains("#ff3030"));
    EXPECT_TRUE(spin->toolTip().contains("Refused by the device")) << spin->toolTip().toStdString();
}

TEST_F(PanelTest, FanSpeedRowOfTheSmallHX5500ShowsNothing)
{
    make(3, scripted(crateProps()), QStringLiteral("127.0.0.2"), 0, 4);
    ASSERT_NE(panel()->lowFanButton, nullptr);
    EXPECT_FALSE(panel()->lowFanButton->isVisibleTo(panel()));
    EXPECT_FALSE(panel()->hiFanButton->isVisibleTo(panel()));
}

// ------------------------------------------------------------------- lamps

TEST_F(PanelTest, StatusLampsFromFrontPanelWords)
{
    make(2, scripted(crateProps(0)));
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::Off));
    for (QLabel *l : {panel()->ovvLed, panel()->unvLed, panel()->ovcLed, panel()->tripLed})
        EXPECT_TRUE(showsLamp(l, Lamp::On));
    EXPECT_EQ(panel()->pw48Led, nullptr);
    host.reset();
    fakehv::reset();

    make(2, scripted(crateProps(0x1F)));
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::On));
    for (QLabel *l : {panel()->ovvLed, panel()->unvLed, panel()->ovcLed, panel()->tripLed})
        EXPECT_TRUE(showsLamp(l, Lamp::Err));

    // Live: the output word, the front-panel word; "FrontPanIn" and
    // "ACDCStatus" leave a crate's lamps alone.
    setLive(QStringLiteral("FrontPanOut"), 0x18);
    panel()->updateTechInfo(param(QStringLiteral("FrontPanOut")));
    EXPECT_TRUE(showsLamp(panel()->tripLed, Lamp::Err));
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::On));
    EXPECT_TRUE(showsLamp(panel()->ovvLed, Lamp::On));

    KORUHVNode frontPan, frontPanIn, acdc;
    frontPan.KORUHVPrepareNode("FrontPan", NODE_SYSTEM_PROPERTY, 2, 0, "", "", "");
    frontPan.setNodeValue(KORUHVNodeValue(0x21, QUALITY_GOOD, QDateTime::currentDateTime()));
    frontPanIn.KORUHVPrepareNode("FrontPanIn", NODE_SYSTEM_PROPERTY, 2, 0, "", "", "");
    frontPanIn.setNodeValue(KORUHVNodeValue(0xFFFF, QUALITY_GOOD, QDateTime::currentDateTime()));
    acdc.KORUHVPrepareNode("ACDCStatus", NODE_SYSTEM_PROPERTY, 2, 0, "", "", "");
    acdc.setNodeValue(KORUHVNodeValue(1, QUALITY_GOOD, QDateTime::currentDateTime()));
    setLive(QStringLiteral("FrontPanOut"), 0);
    panel()->updateTechInfo(param(QStringLiteral("FrontPanOut")));
    panel()->updateTechInfo(&frontPan);
    EXPECT_TRUE(showsLamp(panel()->tripLed, Lamp::Err));
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::On));
    EXPECT_TRUE(showsLamp(panel()->ovcLed, Lamp::On));
    panel()->updateTechInfo(&frontPanIn);
    panel()->updateTechInfo(&acdc);
    panel()->updateTechInfo(nullptr);
    EXPECT_TRUE(showsLamp(panel()->tripLed, Lamp::Err));
    EXPECT_TRUE(showsLamp(panel()->ovvLed, Lamp::On));
}

TEST_F(PanelTest, RackLampAndButtonFollowAcdcStatus)
{
    make(16, scripted(rackProps(true, 0)));
    EXPECT_TRUE(showsLamp(panel()->pw48Led, Lamp::Off));
    // Live, the word reads as when the panel was built: bit 0 alone.
    setLive(QStringLiteral("ACDCStatus"), 2);
    panel()->updateTechInfo(param(QStringLiteral("ACDCStatus")));
    EXPECT_TRUE(showsLamp(panel()->pw48Led, Lamp::Off)) << "live: bit 0 clear";
    setLive(QStringLiteral("ACDCStatus"), 3);
    panel()->updateTechInfo(param(QStringLiteral("ACDCStatus")));
    EXPECT_TRUE(showsLamp(panel()->pw48Led, Lamp::On)) << "live: bit 0 set";
    // Only the low 16 bits count, and the name test respects case.
    KORUHVNode lowerCase;
    lowerCase.KORUHVPrepareNode("acdcstatus", NODE_SYSTEM_PROPERTY, 16, 0, "", "", "");
    lowerCase.setNodeValue(KORUHVNodeValue(0, QUALITY_GOOD, QDateTime::currentDateTime()));
    panel()->updateTechInfo(&lowerCase);
    EXPECT_TRUE(showsLamp(panel()->pw48Led, Lamp::On));
    setLive(QStringLiteral("ACDCStatus"), 0x10000u);
    panel()->updateTechInfo(param(QStringLiteral("ACDCStatus")));
    EXPECT_TRUE(showsLamp(panel()->pw48Led, Lamp::Off));
}

// -------------------------------------------------------------- fan values

TEST_F(PanelTest, FanRowsAreBuiltFromCompletePairs)
{
    struct Case {
        const char *value;
        std::vector<std::pair<Lamp, QString>> rows;
    } cases[] = {
        {"1:1500:0:0", {{Lamp::On, "1500"}, {Lamp::Err, "0"}}},
        {"1:1500:0", {{Lamp::On, "1500"}}},
        {"", {}},
        {"on:fast", {{Lamp::Err, "0"}}},
        {"-1:5:1:6", {{Lamp::Err, "5"}, {Lamp::On, "6"}}},
    };
    for (const Case &c : cases) {
        auto props = crateProps();
        for (auto &p : props)
            if (p.first == "HVFanStat")
                p.second.value = Raw::text(c.value);
        make(2, scripted(props));
        const QVector<QWidget *> rows = panel()->hvFanStatWidgets;
        ASSERT_EQ(size_t(rows.size()), c.rows.size()) << c.value;
        for (size_t i = 0; i < c.rows.size(); ++i) {
            EXPECT_TRUE(showsLamp(rows[int(i)]->findChild<QLabel *>(), c.rows[i].first)) << c.value << i;
            EXPECT_EQ(rows[int(i)]->findChild<KORUHVWidgetItem *>()->getDataInValueField().toString(),
                      c.rows[i].second);
        }
        // Lines are numbered from Fan0.
        if (!c.rows.empty()) {
            QStringList labels;
            for (QLabel *l : panel()->findChildren<QLabel *>())
                if (l->text().startsWith(QLatin1String("Fan")))
                    labels << l->text();
            EXPECT_TRUE(labels.contains(QStringLiteral("Fan0")));
        }
        host.reset();
        fakehv::reset();
    }
}

TEST_F(PanelTest, FanRowsFollowLiveValuesWithTheSameRule)
{
    make(2, scripted(crateProps()));
    KORUHVNode *hv = param(QStringLiteral("HVFanStat"));
    KORUHVNode *pw = param(QStringLiteral("PWFanStat"));
    auto reading = [](QWidget *row) {
        return row->findChild<KORUHVWidgetItem *>()->getDataInValueField().toString();
    };

    setLive(QStringLiteral("HVFanStat"), QStringLiteral("0:1600:1:1700"));
    panel()->updateReadFanStatValues(hv);
    EXPECT_TRUE(showsLamp(panel()->hvFanStatWidgets[0]->findChild<QLabel *>(), Lamp::Err));
    EXPECT_EQ(reading(panel()->hvFanStatWidgets[0]), QStringLiteral("1600"));
    EXPECT_EQ(reading(panel()->hvFanStatWidgets[1]), QStringLiteral("1700"));
    EXPECT_EQ(reading(panel()->pwFanStatWidgets[0]), QStringLiteral("1500")) << "only the HV rows";

    // Another number of pairs changes nothing.
    setLive(QStringLiteral("HVFanStat"), QStringLiteral("1:10:1:20:1:30"));
    panel()->updateReadFanStatValues(hv);
    EXPECT_EQ(reading(panel()->hvFanStatWidgets[0]), QStringLiteral("1600"));

    // The one row built from "1:1500:0" takes a value with a trailing field.
    setLive(QStringLiteral("PWFanStat"), QStringLiteral("0:900:0"));
    panel()->updateReadFanStatValues(pw);
    EXPECT_EQ(reading(panel()->pwFanStatWidgets[0]), QStringLiteral("900"));
    EXPECT_TRUE(showsLamp(panel()->pwFanStatWidgets[0]->findChild<QLabel *>(), Lamp::Err));
    EXPECT_EQ(reading(panel()->hvFanStatWidgets[1]), QStringLiteral("1700")) << "only the power rows";
    panel()->updateReadFanStatValues(nullptr);
    // Readings are never written back.
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetSysProp").empty());
}

TEST_F(PanelTest, SelectionRestylesTheButtonsOfEachType)
{
    using C = Cmd;
    struct Case {
        int type;
        std::vector<Cmd> restyled;
    } cases[] = {
        {2,
         {C::Sessions, C::Kill, C::ClearAlarm, C::ResetFlagCfg, C::CrateMap, C::GenSignCfg, C::TechInfo,
          C::SysInfo}},
        {5, {C::CrateMap, C::Kill}},
        {6, {C::Kill, C::ClearAlarm}},
        {11, {C::Kill, C::ClearAlarm}},
        {8, {}},
        {9, {}},
        {16,
         {C::Sessions, C::Kill, C::ClearAlarm, C::TechInfo, C::CrateMap, C::GlobalOn, C::GlobalOff,
          C::CpuInfo, C::SysInfo, C::Pw48, C::RecoveryFlag, C::ResetFlagCfg}},
    };
    for (const Case &c : cases) {
        make(c.type, scripted({}));
        panel()->setSelected(false);
        for (int i = 0; i < syspanel::CommandButtonCount; ++i) {
            const bool restyled = std::find(c.restyled.begin(), c.restyled.end(), Cmd(i)) != c.restyled.end();
            EXPECT_EQ(hasUnselectedLook(panel()->commandButton(Cmd(i))), restyled)
                << c.type << " button " << i;
        }
        host.reset();
        fakehv::reset();
    }
    PanelHost custom(-1, -1, QString(), nullptr);
    custom.panel->setSelected(false);
    EXPECT_EQ(custom.panel->styleSheet(), QStringLiteral("background: #d5d5d5;"));
    for (int i = 0; i < syspanel::CommandButtonCount; ++i)
        EXPECT_TRUE(custom.panel->commandButton(Cmd(i))->styleSheet().isEmpty());
}

} // namespace
