// The system panel over the simulators through the real wrapper: the crate
// (kill, clear alarm, a refused command, flag writes), the rack supply
// (global on/off, 48 V, HV recovery and reset bits) and the L2290 module
// (kill switches every channel off, clear alarm clears the module).
#include "system_sim_fixture.h"

#include "modules/l2290_backend.h"
#include "modules/l2290_sim.h"
#include "modules/text_engine.h"

#include "KORUHVNode.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "panel_support.h"
#include "qt_gtest_print.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace paneltest;
using syspanel::Cmd;

namespace {

void click(QWidget *w)
{
    QTest::mouseClick(w, Qt::LeftButton);
}

KORUHVNode *paramOf(KORUHVNode *root, const QString &name)
{
    for (KORUHVNode *p : root->getParameters())
        if (p->getNodeName() == name)
            return p;
    return nullptr;
}

// The panel of a system opened over a simulator, shown.
class PanelOverSim : public systest::SimSystemTest {
protected:
    void openPanel(int systemType, const char *address, unsigned short slots, const char *user = "admin",
                   const char *password = "admin")
    {
        ASSERT_NO_FATAL_FAILURE(open(systemType, address, user, password));
        const QString a = QString::fromLatin1(address);
        host = std::make_unique<PanelHost>(systemType, 0, a, buildTree(handle, systemType, 0, a, slots));
        host->panel->show();
    }
    void TearDown() override
    {
        host.reset();
        SimSystemTest::TearDown();
    }
    QSystemInformations *panel() { return host->panel; }

    std::unique_ptr<PanelHost> host;
};

// ------------------------------------------------------------------ crate

class PanelOverCrate : public PanelOverSim {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startCrate("127.0.0.2"));
        ASSERT_NO_FATAL_FAILURE(openPanel(2, "127.0.0.2", 4));
        crate->clearRequests();
    }
};

TEST_F(PanelOverCrate, KillAndClearAlarmReachTheCrateOnlyAfterYes)
{
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::No);
        answers.thenButton(QMessageBox::No);
        click(panel()->commandButton(Cmd::Kill));
        click(panel()->commandButton(Cmd::ClearAlarm));
        EXPECT_EQ(answers.seen().size(), 2u);
    }
    EXPECT_TRUE(crate->requestsFor("KILL_1").empty());
    EXPECT_TRUE(crate->requestsFor("CLRALARM_1").empty());
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::Yes);
        answers.thenButton(QMessageBox::Yes);
        click(panel()->commandButton(Cmd::Kill));
        click(panel()->commandButton(Cmd::ClearAlarm));
        EXPECT_EQ(answers.seen().size(), 2u) << "no failure box";
    }
    EXPECT_FALSE(crate->requestsFor("KILL_1").empty());
    EXPECT_FALSE(crate->requestsFor("CLRALARM_1").empty());
    EXPECT_TRUE(crate->protocolErrors().empty());
}

TEST_F(PanelOverCrate, RefusedCommandShowsTheBox)
{
    // The crate's kill has two halves; the second one's status counts.
    korusim::CrateFault fault;
    fault.keyword = "KILL_2";
    fault.count = -1;
    crate->addFault(fault);
    ModalAnswerer answers;
    answers.thenButton(QMessageBox::Yes);
    answers.thenButton(QMessageBox::Ok);
    click(panel()->commandButton(Cmd::Kill));
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(answers.seen()[1].title, QStringLiteral("LUMO2020"));
    EXPECT_TRUE(answers.seen()[1].text.contains(QLatin1String("\"Kill\"")));
}

void checkBoxesAndOk(QWidget *dialog, std::initializer_list<int> boxes)
{
    for (int i : boxes) {
        auto *b = dialog->findChild<QCheckBox *>(QStringLiteral("checkBox%1").arg(i));
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, b->height() / 2));
    }
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
}

TEST_F(PanelOverCrate, FlagWritesArriveAsSent)
{
    ModalAnswerer answers;
    answers.then([](QWidget *w) { checkBoxesAndOk(w, {0, 2}); });
    answers.then([](QWidget *w) { checkBoxesAndOk(w, {3}); });
    click(panel()->commandButton(Cmd::GenSignCfg));
    click(panel()->commandButton(Cmd::ResetFlagCfg));
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(crate->sysProp("GenSignCfg"), std::string(1, char(0x05)));
    EXPECT_EQ(crate->sysProp("ResFlagCfg"), std::string(1, char(0x08)));
    ASSERT_EQ(crate->requestsFor("SETGENCFG").size(), 1u);
    KORUHVNode *gen = paramOf(host->iface->getSystemNode(), QStringLiteral("GenSignCfg"));
    EXPECT_EQ(gen->getNodeValue().KORUHVGetValue().toInt(), 5);
    EXPECT_EQ(gen->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_TRUE(crate->protocolErrors().empty());
}

TEST_F(PanelOverCrate, RefusedFlagWriteRestoresTheNode)
{
    korusim::CrateFault fault;
    fault.keyword = "SETGENCFG";
    fault.count = -1;
    crate->addFault(fault);
    KORUHVNode *gen = paramOf(host->iface->getSystemNode(), QStringLiteral("GenSignCfg"));
    const int before = gen->getNodeValue().KORUHVGetValue().toInt();
    ModalAnswerer answers;
    answers.then([](QWidget *w) { checkBoxesAndOk(w, {0, 5}); });
    click(panel()->commandButton(Cmd::GenSignCfg));
    ASSERT_EQ(answers.seen().size(), 1u);
    ASSERT_EQ(crate->requestsFor("SETGENCFG").size(), 1u);
    EXPECT_EQ(gen->getNodeValue().KORUHVGetValue().toInt(), before);
    EXPECT_EQ(gen->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_EQ(crate->sysProp("GenSignCfg"), std::string(1, char(0)));
}

// ------------------------------------------------------------------- rack

korusim::P8080SystemParam rackParam(const char *name, bool writable, uint32_t initial)
{
    korusim::P8080SystemParam p;
    p.desc.name = name;
    p.desc.type = korusim::kSysU16;
    p.desc.writable = writable;
    p.desc.minRaw = 0;
    p.desc.maxRaw = 65535;
    p.desc.initialRaw = initial;
    return p;
}

// The small rack with the rack supply's panel parameters.
korusim::P8080Model panelRack()
{
    korusim::P8080Model m = korusim::P8080Model::smallRack();
    m.systemParams.push_back(rackParam("ACDCPwr", true, 0));
    m.systemParams.push_back(rackParam("ACDCStatus", false, 0));
    m.systemParams.push_back(rackParam("RstRecFlag", true, 0));
    m.systemParams.push_back(rackParam("FrontPanOut", false, 0x08));
    return m;
}

class PanelOverRack : public PanelOverSim {
protected:
    void SetUp() override
    {
        korusim::P8080SimOptions opts;
        opts.ramp = false;
        opts.keepAlivePeriod = std::chrono::milliseconds(0);
        ASSERT_NO_FATAL_FAILURE(startRack("127.0.0.3", panelRack(), opts));
        ASSERT_NO_FATAL_FAILURE(openPanel(16, "127.0.0.3", 3));
        rack->clearRequests();
    }
};

TEST_F(PanelOverRack, GlobalOnOffAnd48V)
{
    EXPECT_TRUE(showsLamp(panel()->chOnLed, syspanel::Lamp::On)) << "FrontPanOut 0x08";
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::Yes);
        answers.thenButton(QMessageBox::Yes);
        answers.thenButton(QMessageBox::Yes);
        click(panel()->commandButton(Cmd::GlobalOn));
        click(panel()->commandButton(Cmd::GlobalOff));
        click(panel()->commandButton(Cmd::Pw48));
        EXPECT_EQ(answers.seen().size(), 3u);
    }
    EXPECT_EQ(rack->requestsFor("GLOBALON").size(), 1u);
    EXPECT_EQ(rack->requestsFor("GLOBALOFF").size(), 1u);
    EXPECT_EQ(rack->systemRaw("ACDCPwr"), 1u);
    EXPECT_TRUE(panel()->commandButton(Cmd::Pw48)->isChecked());
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::No);
        click(panel()->commandButton(Cmd::Pw48));
    }
    EXPECT_EQ(rack->systemRaw("ACDCPwr"), 1u);
    EXPECT_TRUE(panel()->commandButton(Cmd::Pw48)->isChecked());
    EXPECT_TRUE(rack->protocolErrors().empty());
}

TEST_F(PanelOverRack, RecoveryAndResetBits)
{
    std::vector<uint32_t> seen;
    ModalAnswerer answers;
    answers.then([&](QWidget *w) {
        for (int i : {0, 5}) {
            click(w->findChild<QPushButton *>(QStringLiteral("pushButton_%1").arg(i)));
            seen.push_back(rack->systemRaw("RstRecFlag").value_or(0));
        }
        click(w->findChild<QPushButton *>(QStringLiteral("okButton")));
    });
    answers.then([&](QWidget *w) {
        for (int i : {1, 4}) {
            click(w->findChild<QPushButton *>(QStringLiteral("pushButton_%1").arg(i)));
            seen.push_back(rack->systemRaw("RstRecFlag").value_or(0));
        }
        click(w->findChild<QPushButton *>(QStringLiteral("okButton")));
    });
    click(panel()->commandButton(Cmd::RecoveryFlag));
    click(panel()->commandButton(Cmd::ResetFlagCfg));
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 32, 512, 4096}));
}

// ------------------------------------------------------------------ L2290

class PanelOverL2290 : public PanelOverSim {
protected:
    void SetUp() override
    {
        koruhv::TextTiming t;
        t.rowPauseMs = 0;
        t.tcpSettleMs = 0;
        koruhv::Text_SetTimingForTests(t);
        sim = std::make_unique<korusim::L2290Sim>(
            std::vector<korusim::L2290Module>{korusim::L2290Module::make(3)});
        ASSERT_TRUE(sim->startTcp("127.0.0.4", 0)) << sim->error();
        koruhv::L2290_SetTcpPortForTests(sim->port());
        ASSERT_NO_FATAL_FAILURE(openPanel(6, "127.0.0.4_3", 1, "", ""));
    }
    void TearDown() override
    {
        PanelOverSim::TearDown();
        if (sim) {
            EXPECT_TRUE(sim->violations().empty()) << sim->violations().front();
            sim->stop();
        }
        koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
        koruhv::L2290_SetTcpPortForTests(0);
    }

    std::unique_ptr<korusim::L2290Sim> sim;
};

TEST_F(PanelOverL2290, KillSwitchesEveryChannelOffAndClearAlarmClearsTheModule)
{
    sim->withModule(3, [](korusim::L2290Module &m) {
        for (auto &c : m.channels)
            c.on = true;
        m.alarm = 0x3;
    });
    ModalAnswerer answers;
    answers.thenButton(QMessageBox::Yes);
    answers.thenButton(QMessageBox::Yes);
    click(panel()->commandButton(Cmd::Kill));
    click(panel()->commandButton(Cmd::ClearAlarm));
    EXPECT_EQ(answers.seen().size(), 2u) << "no failure box";
    const korusim::L2290Module m = sim->module(3);
    ASSERT_EQ(m.channels.size(), 4u);
    for (const auto &c : m.channels)
        EXPECT_FALSE(c.on);
    EXPECT_EQ(m.alarm, 0u);
}

} // namespace
