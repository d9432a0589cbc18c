// The system panel over scripted systems of the fake wrapper: texts and
// layout per system type, selection looks, confirmed commands (Yes and No,
// refused ones), 48 V, fan speed, lamps, parameter and fan rows, the flag
// and HV dialogs, the about box, the logging controls and the data-logging
// and script dialogs they open.
#include "AppGlobals.h"
#include "FakeWrapper.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "KORUHVWidgetItem.h"
#include "QAboutDialog.h"
#include "QGenSignCfgDialog.h"
#include "QHVRecoveryDialog.h"
#include "QHVResetDialog.h"
#include "QLogDialog.h"
#include "QResetFlagsDialog.h"
#include "QScriptDialog.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "SysDialogLamps.h"
#include "panel_support.h"
#include "qt_gtest_print.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace paneltest;
using syspanel::Cmd;
using syspanel::Lamp;

namespace {

using fakehv::Raw;

fakehv::SysProp prop(unsigned type, unsigned mode, Raw value, int setCode = 0)
{
    fakehv::SysProp p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    p.setCode = setCode;
    return p;
}

// A system with the given properties and `boards` boards of two channels
// (each channel has "Pw" and a look-alike "pw"), "ClrAlarm" on the boards:
// write-only on the first, read-write on the others.
fakehv::System scripted(std::vector<fakehv::NamedSysProp> props, int boards = 2)
{
    fakehv::System sys;
    sys.props = std::move(props);
    for (int b = 0; b < boards; ++b) {
        fakehv::Board &board = sys.addBoard(static_cast<unsigned short>(b), 2);
        board.params.push_back({"ClrAlarm", {1, b == 0 ? 1u : 2u, Raw::u32(0)}});
        for (fakehv::Channel &ch : board.channels) {
            ch.params.push_back({"Pw", {1, 2, Raw::u32(1)}});
            ch.params.push_back({"pw", {1, 2, Raw::u32(1)}});
        }
    }
    sys.errorText = "Refused by the device";
    return sys;
}

std::vector<fakehv::NamedSysProp> crateProps(uint16_t frontPanOut = 0)
{
    return {
        {"Sessions", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("admin"))},
        {"FrontPanOut", prop(fakehv::SYSPROP_U16, 0, Raw::u16(frontPanOut))},
        {"GenSignCfg", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0x25))},
        {"ResFlagCfg", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0x3F))},
        {"ipaddr", prop(fakehv::SYSPROP_TEXT, 2, Raw::text("10.0.0.1"))},
        {"HVFanSpeed", prop(fakehv::SYSPROP_U16, 2, Raw::u16(1))},
        {"HVFanStat", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("1:1500:0:0"))},
        {"PWFanStat", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("1:1500:0"))},
        {"HVFanStatX", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("x"))},
        {"Temp", prop(fakehv::SYSPROP_FLOAT, 0, Raw::f32(21.5f))},
    };
}

std::vector<fakehv::NamedSysProp> rackProps(bool withAcdcStatus, uint16_t acdc = 1, int acdcPwrCode = 0)
{
    std::vector<fakehv::NamedSysProp> props = {
        {"FrontPanOut", prop(fakehv::SYSPROP_U16, 0, Raw::u16(0))},
        {"acdcpwr", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0), acdcPwrCode)},
        {"RstRecFlag", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0))},
    };
    if (withAcdcStatus)
        props.push_back({"ACDCStatus", prop(fakehv::SYSPROP_U16, 0, Raw::u16(acdc))});
    return props;
}

void click(QWidget *w)
{
    QTest::mouseClick(w, Qt::LeftButton);
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override { fakehv::reset(); }

    // Opens the scripted system and builds its panel.
    QSystemInformations *make(int type, fakehv::System sys, QString address = QStringLiteral("127.0.0.2"),
                              int link = 0, unsigned short slotCount = 16)
    {
        handle = fakehv::addSystem(sys);
        KORUHVNode *root = buildTree(handle, type, link, address, slotCount);
        host = std::make_unique<PanelHost>(type, link, address, root);
        host->panel->show();
        fakehv::clearCalls();
        return host->panel;
    }
    QSystemInformations *panel() const { return host->panel; }
    KORUHVNode *root() const { return host->iface->getSystemNode(); }
    KORUHVNode *param(const QString &name) const
    {
        for (KORUHVNode *p : root()->getParameters())
            if (p->getNodeName() == name)
                return p;
        return nullptr;
    }
    void setLive(const QString &name, const QVariant &value)
    {
        param(name)->setNodeValue(KORUHVNodeValue(value, QUALITY_GOOD, QDateTime::currentDateTime()));
    }

    int handle = -1;
    std::unique_ptr<PanelHost> host;
};

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

// ------------------------------------------------------------ flag dialogs

QCheckBox *box(QWidget *dialog, int i)
{
    return dialog->findChild<QCheckBox *>(QStringLiteral("checkBox%1").arg(i));
}

void pressOk(QWidget *dialog, bool ok = true)
{
    dialog->findChild<QDialogButtonBox *>()
        ->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)
        ->click();
}

TEST_F(PanelTest, FlagDialogsShowMasksAndSendThem)
{
    struct Case {
        bool reset;
        uint16_t start;
        std::vector<int> clicks; // boxes to toggle
        bool ok;
        std::vector<bool> checked;
        std::vector<bool> visible;
        int stored; // -1: unchanged
        int sent;   // -1: nothing
    } cases[] = {
        {false, 0x25, {5}, true, {1, 0, 1, 0, 0, 1}, {1, 1, 1, 1, 1, 1}, 0x05, 0xFF05},
        {true, 0x3F, {2}, true, {1, 1, 1, 1, 1, 1}, {1, 0, 1, 1, 0, 0}, 0x3B, 0xFF3B},
        {false, 0xC1, {}, true, {1, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1}, 0x01, 0xFF01},
        {false, 0x25, {1, 3, 3}, false, {1, 0, 1, 0, 0, 1}, {1, 1, 1, 1, 1, 1}, -1, -1},
        {true, 0x00, {0, 3, 0}, true, {0, 0, 0, 0, 0, 0}, {1, 0, 1, 1, 0, 0}, 0x08, 0xFF08},
    };
    for (const Case &c : cases) {
        auto props = crateProps();
        for (auto &p : props)
            if (p.first == (c.reset ? "ResFlagCfg" : "GenSignCfg"))
                p.second.value = Raw::u16(c.start);
        make(2, scripted(props));
        const QString name = c.reset ? QStringLiteral("ResFlagCfg") : QStringLiteral("GenSignCfg");
        const Cmd button = c.reset ? Cmd::ResetFlagCfg : Cmd::GenSignCfg;
        bool pressed = false;
        std::vector<bool> checked, visible;
        ModalAnswerer answers;
        answers.then([&](QWidget *w) {
            pressed = hasPressedLook(panel()->commandButton(button));
            for (int i = 0; i < 6; ++i) {
                checked.push_back(box(w, i)->isChecked());
                visible.push_back(box(w, i)->isVisible());
                if (checked.back()) {
                    EXPECT_EQ(box(w, i)->styleSheet(), QStringLiteral("color: #35a912; font: bold;"));
                }
            }
            for (int i : c.clicks)
                QTest::mouseClick(box(w, i), Qt::LeftButton, {}, QPoint(5, box(w, i)->height() / 2));
            pressOk(w, c.ok);
        });
        if (c.reset)
            click(panel()->commandButton(Cmd::ResetFlagCfg));
        else
            click(panel()->commandButton(Cmd::GenSignCfg));
        ASSERT_EQ(answers.seen().size(), 1u);
        EXPECT_EQ(answers.seen()[0].title,
                  c.reset ? QStringLiteral("Reset Flag Configuration") : QStringLiteral("Gen Sign Cfg"));
        EXPECT_TRUE(pressed);
        EXPECT_FALSE(hasPressedLook(panel()->commandButton(button)));
        EXPECT_EQ(checked, c.checked);
        EXPECT_EQ(visible, c.visible);
        const auto sets = fakehv::callsOf("KORUHV_SetSysProp");
        const KORUHVNodeValue v = param(name)->getNodeValue();
        if (c.sent < 0) {
            EXPECT_TRUE(sets.empty());
            EXPECT_EQ(v.KORUHVGetValue().toInt(), c.start);
        } else {
            ASSERT_EQ(sets.size(), 1u);
            EXPECT_EQ(sets[0].name, name.toStdString());
            EXPECT_EQ(sets[0].value.asU16(), c.sent);
            EXPECT_EQ(v.KORUHVGetValue().toInt(), c.stored);
            EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_GOOD);
        }
        host.reset();
        fakehv::reset();
    }
}

TEST_F(PanelTest, RefusedFlagWriteRestoresTheNode)
{
    auto props = crateProps();
    for (auto &p : props)
        if (p.first == "GenSignCfg")
            p.second.setCode = 2;
    make(2, scripted(props));
    ModalAnswerer answers;
    answers.then([](QWidget *w) {
        QTest::mouseClick(box(w, 1), Qt::LeftButton, {}, QPoint(5, box(w, 1)->height() / 2));
        pressOk(w);
    });
    panel()->genSignCfgClicked();
    ASSERT_EQ(fakehv::callsOf("KORUHV_SetSysProp").size(), 1u);
    EXPECT_EQ(fakehv::callsOf("KORUHV_SetSysProp")[0].value.asU16(), 0xFF27);
    const KORUHVNodeValue v = param(QStringLiteral("GenSignCfg"))->getNodeValue();
    EXPECT_EQ(v.KORUHVGetValue().toInt(), 0x25);
    EXPECT_EQ(v.KORUHVGetQuality(), QUALITY_WRITE_FAILED);
}

TEST_F(PanelTest, NoFlagParameterOpensNothing)
{
    make(2, scripted({}));
    ModalAnswerer answers;
    panel()->resetFlagsClicked();
    panel()->genSignCfgClicked();
    EXPECT_TRUE(answers.seen().empty());
    EXPECT_FALSE(hasPressedLook(panel()->commandButton(Cmd::ResetFlagCfg)));
}

// -------------------------------------------------------------- HV dialogs

TEST_F(PanelTest, RecoveryAndResetButtonsWriteOneBitEach)
{
    for (bool reset : {false, true}) {
        make(16, scripted(rackProps(true)));
        ModalAnswerer answers;
        bool pressed = false;
        answers.then([&](QWidget *w) {
            pressed = hasPressedLook(panel()->commandButton(reset ? Cmd::ResetFlagCfg : Cmd::RecoveryFlag));
            for (int i = 0; i < 6; ++i)
                click(w->findChild<QPushButton *>(QStringLiteral("pushButton_%1").arg(i)));
            click(w->findChild<QPushButton *>(QStringLiteral("okButton")));
        });
        click(panel()->commandButton(reset ? Cmd::ResetFlagCfg : Cmd::RecoveryFlag));
        ASSERT_EQ(answers.seen().size(), 1u);
        EXPECT_EQ(answers.seen()[0].title,
                  reset ? QStringLiteral("HW Reset") : QStringLiteral("HW Recovery"));
        EXPECT_TRUE(pressed);
        std::vector<int> sent;
        for (const fakehv::Call &call : fakehv::callsOf("KORUHV_SetSysProp")) {
            EXPECT_EQ(call.name, "RstRecFlag");
            sent.push_back(call.value.asU16());
        }
        const std::vector<int> expected =
            reset ? std::vector<int>{256, 512, 1024, 2048, 4096, 8192} : std::vector<int>{1, 2, 4, 8, 16, 32};
        EXPECT_EQ(sent, expected);
        EXPECT_EQ(param(QStringLiteral("RstRecFlag"))->getNodeValue().KORUHVGetValue().toInt(),
                  reset ? 8192 : 32);
        host.reset();
        fakehv::reset();
    }
    // Without "RstRecFlag" the dialog opens and writes nothing.
    make(16, scripted({}));
    ModalAnswerer answers;
    answers.then([&](QWidget *w) {
        click(w->findChild<QPushButton *>(QStringLiteral("pushButton_3")));
        click(w->findChild<QPushButton *>(QStringLiteral("okButton")));
    });
    panel()->recoveryHVClicked();
    EXPECT_EQ(answers.seen().size(), 1u);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetSysProp").empty());
}

TEST_F(PanelTest, EveryDialogOpensAndClosesTwentyTimes)
{
    make(2, scripted(crateProps()));
    for (int i = 0; i < 20; ++i) {
        ModalAnswerer answers;
        answers.then([](QWidget *w) { pressOk(w, false); });
        answers.then([](QWidget *w) { pressOk(w, true); });
        answers.then([](QWidget *w) { click(w->findChild<QPushButton *>(QStringLiteral("okButton"))); });
        answers.then([](QWidget *w) { qobject_cast<QDialog *>(w)->reject(); });
        answers.then([](QWidget *w) { click(w->findChild<QPushButton *>(QStringLiteral("pushButton"))); });
        panel()->genSignCfgClicked();
        panel()->resetFlagsClicked();
        panel()->recoveryHVClicked();
        panel()->resetHVClicked();
        auto *about = new QAboutDialog(panel());
        about->exec();
        EXPECT_EQ(answers.seen().size(), 5u);
        EXPECT_FALSE(answers.timedOut());
    }
    EXPECT_TRUE(panel()->findChildren<QAboutDialog *>().isEmpty()) << "the about box deletes itself";
}

// --------------------------------------------------------------- about box

TEST_F(PanelTest, AboutTextsByTerritory)
{
    const QLocale saved;
    for (bool regional : {false, true}) {
        QLocale::setDefault(regional ? QLocale(QLocale::English, QLocale::India) : QLocale::c());
        QAboutDialog about(nullptr);
        about.setAttribute(Qt::WA_DeleteOnClose, false);
        EXPECT_EQ(about.windowTitle(), QStringLiteral("About LUMO2020"));
        EXPECT_EQ(about.findChild<QLabel *>(QStringLiteral("nameLabel"))->text(), QStringLiteral("LUMO2020"));
        EXPECT_EQ(about.findChild<QLabel *>(QStringLiteral("versionLabel"))->text(),
                  QStringLiteral("Version 1.14.0"));
        for (const char *label : {"label_4", "label_7", "label_8"})
            EXPECT_EQ(about.findChild<QLabel *>(QString::fromLatin1(label))
                          ->text()
                          .contains(QLatin1String("regional"), Qt::CaseInsensitive),
                      regional)
                << label;
        EXPECT_FALSE(
            about.findChild<QLabel *>(QStringLiteral("label_7"))->text().contains(QLatin1String("mailto")));
        EXPECT_TRUE(
            about.findChild<QLabel *>(QStringLiteral("label_5"))
                ->text()
                .contains(QLatin1String("Our Software Support Group is available for questions, support and "
                                        "any other software related issue concerning KORU Power Supplies.")));
        EXPECT_FALSE(about.findChild<QLabel *>(QStringLiteral("imgLabel"))->pixmap().isNull());
    }
    QLocale::setDefault(saved);
}

// ----------------------------------------------------------------- logging

TEST_F(PanelTest, LogSwitchAndLogButtons)
{
    make(6, scripted({}));
    auto *sw = panel()->findChild<KORUHVSwitch *>(QStringLiteral("logSwitch"));
    ASSERT_NE(sw, nullptr);
    click(sw);
    EXPECT_TRUE(host->iface->getIsLogStarted());
    click(sw);
    EXPECT_FALSE(host->iface->getIsLogStarted());
    host.reset();
    fakehv::reset();

    make(2, scripted({}));
    const auto logButtons = panel()->findChildren<QPushButton *>(QStringLiteral("onOffLogButton"));
    ASSERT_EQ(logButtons.size(), 2);
    QPushButton *on = logButtons[0]->text() == QLatin1String("ON") ? logButtons[0] : logButtons[1];
    QPushButton *off = on == logButtons[0] ? logButtons[1] : logButtons[0];
    EXPECT_FALSE(on->isEnabled());
    EXPECT_EQ(on->toolTip(), QStringLiteral("No parameters/channels selected"));
    panel()->logSetupAccepted();
    EXPECT_TRUE(on->isEnabled());
    EXPECT_TRUE(off->isChecked());
    EXPECT_TRUE(hasLitLook(off));
    EXPECT_TRUE(on->toolTip().isEmpty());
    panel()->startLogClicked();
    EXPECT_TRUE(host->iface->getIsLogStarted());
    EXPECT_TRUE(hasLitLook(on));
    panel()->stopLogClicked();
    EXPECT_FALSE(host->iface->getIsLogStarted());
    EXPECT_TRUE(hasLitLook(off));

    // The advanced area opens with its toggle.
    auto *advWid = panel()->findChild<QWidget *>(QStringLiteral("advWid"));
    EXPECT_FALSE(advWid->isVisibleTo(panel()));
    QPushButton *toggle = nullptr;
    for (QPushButton *b : panel()->findChildren<QPushButton *>())
        if (b->text() == QLatin1String("ADVANCED FEATURES"))
            toggle = b;
    ASSERT_NE(toggle, nullptr);
    click(toggle);
    EXPECT_TRUE(advWid->isVisibleTo(panel()));
}

} // namespace

namespace {

// A crate panel and a rack panel as the operator sees them; with
// KORU_SCREENSHOT_DIR set the pictures are saved there to look at.
TEST_F(PanelTest, CrateAndRackPanelsDraw)
{
    const QString dir = qEnvironmentVariable("KORU_SCREENSHOT_DIR");
    struct Case {
        int type;
        std::vector<fakehv::NamedSysProp> props;
        const char *file;
    } cases[] = {
        {2, crateProps(0x19), "panel-crate.png"},
        {16, rackProps(true, 1), "panel-rack.png"},
    };
    for (Case &c : cases) {
        c.props.push_back({"HVFanSpeed", prop(fakehv::SYSPROP_U16, 2, Raw::u16(2))});
        make(c.type, scripted(c.props));
        panel()->setSelected(true);
        panel()->showAdvancedFeatWidget(true);
        panel()->resize(260, panel()->sizeHint().height());
        QApplication::processEvents();
        const QPixmap shot = panel()->grab();
        EXPECT_FALSE(shot.isNull());
        if (!dir.isEmpty())
            shot.save(dir + QLatin1Char('/') + QString::fromLatin1(c.file));
        host.reset();
        fakehv::reset();
    }
}

TEST_F(PanelTest, PanelDialogsDraw)
{
    const QString dir = qEnvironmentVariable("KORU_SCREENSHOT_DIR");
    make(16, scripted(rackProps(true)));
    QGenSignCfgDialog gen(panel(), 0x25, nullptr);
    QResetFlagsDialog flags(panel(), 0x3F, nullptr);
    QHVRecoveryDialog recovery(root(), nullptr);
    QHVResetDialog reset(root(), nullptr);
    QAboutDialog about(nullptr);
    gen.setAttribute(Qt::WA_DeleteOnClose, false);
    flags.setAttribute(Qt::WA_DeleteOnClose, false);
    about.setAttribute(Qt::WA_DeleteOnClose, false);
    const std::pair<QWidget *, const char *> dialogs[] = {{&gen, "dialog-gensign.png"},
                                                          {&flags, "dialog-resetflags.png"},
                                                          {&recovery, "dialog-recovery.png"},
                                                          {&reset, "dialog-reset.png"},
                                                          {&about, "dialog-about.png"}};
    for (const auto &[w, file] : dialogs) {
        w->show();
        QApplication::processEvents();
        const QPixmap shot = w->grab();
        EXPECT_FALSE(shot.isNull());
        if (!dir.isEmpty())
            shot.save(dir + QLatin1Char('/') + QString::fromLatin1(file));
        w->hide();
    }
}

} // namespace

namespace {

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

// ------------------------------------------------------ system dialogs

// The crate's values the technical- and system-information dialogs read.
std::vector<fakehv::NamedSysProp> crateInfoProps()
{
    std::vector<fakehv::NamedSysProp> props = crateProps(0);
    props.push_back({"CPULoad", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("0.1:0.2:0.3"))});
    props.push_back({"MemoryStatus", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("100:50:25:5"))});
    props.push_back({"CmdQueueStatus", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("idle"))});
    props.push_back({"HvPwSM", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("1:1:J7740:1:1"))});
    props.push_back({"OutputLevel", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0))});
    return props;
}

QString childText(QWidget *w, const char *name)
{
    auto *label = w->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

int openDialogsOf(const char *className)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        n += w->inherits(className) ? 1 : 0;
    return n;
}

struct LaunchCase {
    Cmd button;
    const char *dialog;
    bool panelStyle; // the session list takes no style sheet of the panel
};

// Every launcher button of a crate and of the rack supply: one modal dialog
// of its class per click, its button pressed while it runs and restored
// after, the panel's style sheet on the dialog, nothing written, nothing left.
TEST_F(PanelTest, LaunchersOpenTheirDialogOncePerClick)
{
    const std::vector<std::pair<int, std::vector<LaunchCase>>> types = {
        {2,
         {{Cmd::Sessions, "QSessionDialog", false},
          {Cmd::CrateMap, "QCrateMapDialog", true},
          {Cmd::TechInfo, "QTechInfoDialog", true},
          {Cmd::SysInfo, "QSysInfoDialog", true}}},
        {16,
         {{Cmd::Sessions, "QSessionDialog", false},
          {Cmd::CrateMap, "QCrateMapDialog", true},
          {Cmd::TechInfo, "QTechInfoP8080Dialog", true},
          {Cmd::CpuInfo, "QSysInfoDialog", true},
          {Cmd::SysInfo, "QSysInfoP8080Dialog", true}}},
    };
    for (const auto &[type, cases] : types) {
        make(type, scripted(type == 16 ? rackProps(true) : crateInfoProps()));
        panel()->setSelected(true);
        for (const LaunchCase &c : cases) {
            QPushButton *button = panel()->commandButton(c.button);
            ASSERT_TRUE(button->isVisibleTo(panel())) << type << " " << c.dialog;
            ModalAnswerer answers;
            std::vector<bool> pressed;
            QStringList sheets;
            for (int click = 0; click < 2; ++click)
                answers.then([&](QWidget *w) {
                    pressed.push_back(hasPressedLook(button));
                    sheets << w->styleSheet();
                    qobject_cast<QDialog *>(w)->reject();
                });
            click(button);
            click(button);
            EXPECT_FALSE(answers.timedOut());
            ASSERT_EQ(answers.seen().size(), 2u) << type << " " << c.dialog;
            for (const SeenModal &seen : answers.seen())
                EXPECT_EQ(seen.className, QString::fromLatin1(c.dialog)) << type;
            EXPECT_EQ(pressed, (std::vector<bool>{true, true})) << c.dialog;
            const QString sheet = c.panelStyle ? panel()->getDialogStyleSheet() : QString();
            EXPECT_EQ(sheets, (QStringList{sheet, sheet})) << c.dialog;
            EXPECT_TRUE(hasSelectedLook(button)) << c.dialog << ": looks restored";
            EXPECT_EQ(openDialogsOf(c.dialog), 0) << c.dialog;
        }
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SetSysProp").empty()) << "opening and closing writes nothing";
        host.reset();
        fakehv::reset();
    }
}

TEST_F(PanelTest, LaunchersWithoutRootOpenNothing)
{
    PanelHost empty(2, 0, QStringLiteral("127.0.0.2"), nullptr);
    ModalAnswerer answers;
    QSystemInformations *p = empty.panel;
    for (void (QSystemInformations::*slot)() :
         {&QSystemInformations::sessionClicked, &QSystemInformations::crateMapClicked,
          &QSystemInformations::techInfoClicked, &QSystemInformations::techInfoP8080Clicked,
          &QSystemInformations::sysInfoClicked, &QSystemInformations::sysInfoP8080Clicked,
          &QSystemInformations::webminClicked})
        (p->*slot)();
    QCoreApplication::processEvents();
    EXPECT_TRUE(answers.seen().empty());
    EXPECT_EQ(openDialogsOf("QDialog"), 0);
}

// Live values reach the technical- and system-information dialogs while
// they run, beside the panel's own lamps; with none open they only move the
// lamps, and the rack supply's technical dialog is never refreshed.
TEST_F(PanelTest, LiveValuesReachTheOpenDialogOnly)
{
    make(2, scripted(crateInfoProps()));
    auto liveTech = [this](const char *name, const QVariant &value) {
        setLive(QString::fromLatin1(name), value);
        panel()->updateTechInfo(param(QString::fromLatin1(name)));
    };
    auto liveSys = [this](const char *name, const QVariant &value) {
        setLive(QString::fromLatin1(name), value);
        panel()->updateSysInfo(param(QString::fromLatin1(name)));
    };

    // Nothing open: lamps move, nothing else happens.
    for (KORUHVNode *p : root()->getParameters()) {
        panel()->updateTechInfo(p);
        panel()->updateSysInfo(p);
    }
    panel()->updateTechInfo(nullptr);
    panel()->updateSysInfo(nullptr);
    liveTech("FrontPanOut", 0x08);
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::On));

    auto answers = std::make_unique<ModalAnswerer>();
    QStringList seen;
    bool ttl = false;
    answers->then([&](QWidget *w) {
        liveTech("FrontPanOut", 0x10);
        liveTech("HvPwSM", QStringLiteral("-1:0:0:0:0"));
        liveTech("OutputLevel", 1);
        liveSys("CPULoad", QStringLiteral("7:8:9")); // not this dialog's value
        seen << sysdlg::lampStateOf(w->findChild<QLabel *>(QStringLiteral("chOn")))
             << childText(w, "mainStat");
        ttl = w->findChild<KORUHVSwitch *>()->isChecked();
        qobject_cast<QDialog *>(w)->reject();
    });
    answers->then([&](QWidget *w) {
        liveSys("CPULoad", QStringLiteral("4:5:6"));
        liveSys("CmdQueueStatus", QStringLiteral("busy"));
        liveTech("HvPwSM", QStringLiteral("1:1:1:1:1")); // not this dialog's value
        seen << childText(w, "oneMin") << childText(w, "fifteenMin") << childText(w, "cmdQueue");
        qobject_cast<QDialog *>(w)->reject();
    });
    click(panel()->commandButton(Cmd::TechInfo));
    EXPECT_TRUE(showsLamp(panel()->tripLed, Lamp::Err)) << "the panel lamps follow too";
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::Off));
    click(panel()->commandButton(Cmd::SysInfo));
    EXPECT_FALSE(answers->timedOut());
    EXPECT_EQ(answers->seen().size(), 2u);
    answers.reset();
    EXPECT_EQ(seen, (QStringList{"off", "Fail", "4", "6", "busy"}));
    EXPECT_TRUE(ttl);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetSysProp").empty()) << "a live level writes nothing back";

    // Closed again: the values change nothing but the lamps.
    liveTech("OutputLevel", 0);
    liveSys("CPULoad", QStringLiteral("1:1:1"));
    liveTech("FrontPanOut", 0x08);
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::On));
    host.reset();
    fakehv::reset();

    // The rack supply: its technical dialog keeps what it showed at opening.
    make(16, scripted(rackProps(true, 0)));
    ModalAnswerer rack;
    QString lampBefore, lampAfter;
    rack.then([&](QWidget *w) {
        QLabel *chOn = w->findChild<QLabel *>(QStringLiteral("chOn"));
        lampBefore = sysdlg::lampStateOf(chOn);
        liveTech("FrontPanOut", 0x08);
        liveTech("ACDCStatus", 1);
        lampAfter = sysdlg::lampStateOf(chOn);
        qobject_cast<QDialog *>(w)->reject();
    });
    click(panel()->commandButton(Cmd::TechInfo));
    EXPECT_EQ(rack.seen().size(), 1u);
    EXPECT_EQ(lampBefore, QStringLiteral("off"));
    EXPECT_EQ(lampAfter, QStringLiteral("off"));
    EXPECT_TRUE(showsLamp(panel()->chOnLed, Lamp::On));
    EXPECT_TRUE(showsLamp(panel()->pw48Led, Lamp::On));
}

// Each launcher twenty times while live values keep arriving every
// millisecond (run under AddressSanitizer in CI): a value never reaches a
// closed dialog.
TEST_F(PanelTest, LaunchersOpenAndCloseTwentyTimesUnderLiveValues)
{
    for (int type : {2, 16}) {
        make(type, scripted(type == 16 ? rackProps(true) : crateInfoProps()));
        QTimer live;
        int ticks = 0;
        QObject::connect(&live, &QTimer::timeout, [&] {
            ++ticks;
            for (KORUHVNode *p : root()->getParameters()) {
                panel()->updateTechInfo(p);
                panel()->updateSysInfo(p);
            }
        });
        live.start(1);
        const std::vector<Cmd> buttons =
            type == 16
                ? std::vector<Cmd>{Cmd::Sessions, Cmd::CrateMap, Cmd::TechInfo, Cmd::CpuInfo, Cmd::SysInfo}
                : std::vector<Cmd>{Cmd::Sessions, Cmd::CrateMap, Cmd::TechInfo, Cmd::SysInfo};
        for (int i = 0; i < 20; ++i) {
            ModalAnswerer answers;
            for (size_t b = 0; b < buttons.size(); ++b)
                answers.then([](QWidget *w) {
                    QTest::qWait(2);
                    qobject_cast<QDialog *>(w)->reject();
                });
            for (Cmd b : buttons)
                click(panel()->commandButton(b));
            ASSERT_EQ(answers.seen().size(), buttons.size()) << type << " round " << i;
            ASSERT_FALSE(answers.timedOut());
        }
        live.stop();
        EXPECT_GT(ticks, 0);
        EXPECT_EQ(openDialogsOf("QDialog"), 0) << type;
        host.reset();
        fakehv::reset();
    }
}

} // namespace

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
