// The dialogs the system panel opens, over scripted systems of the fake
// wrapper: the flag and HV dialogs, the about box, the logging controls,
// pictures of panels and dialogs, and the system-dialog launchers under
// live values.
#include "FakeWrapper.h"
#include "KORUHVLogGlobals.h"
#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "QAboutDialog.h"
#include "QGenSignCfgDialog.h"
#include "QHVRecoveryDialog.h"
#include "QHVResetDialog.h"
#include "QResetFlagsDialog.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "SysDialogLamps.h"
#include "panel_fixture.h"
#include "panel_support.h"
#include "qt_gtest_print.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace paneltest;
using syspanel::Cmd;
using syspanel::Lamp;

namespace {

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
