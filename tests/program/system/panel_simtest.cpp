// The system panel over the simulators through the real wrapper: the crate
// (kill, clear alarm, a refused command, flag writes), the rack supply
// (global on/off, 48 V, HV recovery and reset bits) and the L2290 module
// (kill switches every channel off, clear alarm clears the module).
// The simulators' headers first: they name members "slots", which Qt's
// keyword macro would swallow once a Qt header is in.
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "crate/p8080_backend.h"
#include "crate/p8080_sim.h"
#include "modules/l2290_backend.h"
#include "modules/l2290_sim.h"
#include "modules/text_engine.h"

#include "KORUHVNode.h"
#include "KORUHVWrapper.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "panel_support.h"
#include "qt_gtest_print.h"
#include "sim_crate_fixture.h"

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

// ------------------------------------------------------------------ crate

class PanelOverCrate : public koru_test::OverSimCrate {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OverSimCrate::SetUp());
        host = std::make_unique<PanelHost>(2, 0, QStringLiteral("127.0.0.2"),
                                           buildTree(handle, 2, 0, QStringLiteral("127.0.0.2"), 4));
        host->panel->show();
        sim->clearRequests();
    }
    void TearDown() override
    {
        host.reset();
        OverSimCrate::TearDown();
    }
    QSystemInformations *panel() { return host->panel; }

    std::unique_ptr<PanelHost> host;
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
    EXPECT_TRUE(sim->requestsFor("KILL_1").empty());
    EXPECT_TRUE(sim->requestsFor("CLRALARM_1").empty());
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::Yes);
        answers.thenButton(QMessageBox::Yes);
        click(panel()->commandButton(Cmd::Kill));
        click(panel()->commandButton(Cmd::ClearAlarm));
        EXPECT_EQ(answers.seen().size(), 2u) << "no failure box";
    }
    EXPECT_FALSE(sim->requestsFor("KILL_1").empty());
    EXPECT_FALSE(sim->requestsFor("CLRALARM_1").empty());
    EXPECT_TRUE(sim->protocolErrors().empty());
}

TEST_F(PanelOverCrate, RefusedCommandShowsTheBox)
{
    // The crate's kill has two halves; the second one's status counts.
    korusim::CrateFault fault;
    fault.keyword = "KILL_2";
    fault.count = -1;
    sim->addFault(fault);
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
    EXPECT_EQ(sim->sysProp("GenSignCfg"), std::string(1, char(0x05)));
    EXPECT_EQ(sim->sysProp("ResFlagCfg"), std::string(1, char(0x08)));
    ASSERT_EQ(sim->requestsFor("SETGENCFG").size(), 1u);
    KORUHVNode *gen = paramOf(host->iface->getSystemNode(), QStringLiteral("GenSignCfg"));
    EXPECT_EQ(gen->getNodeValue().KORUHVGetValue().toInt(), 5);
    EXPECT_EQ(gen->getNodeValue().KORUHVGetQuality(), QUALITY_GOOD);
    EXPECT_TRUE(sim->protocolErrors().empty());
}

TEST_F(PanelOverCrate, RefusedFlagWriteRestoresTheNode)
{
    korusim::CrateFault fault;
    fault.keyword = "SETGENCFG";
    fault.count = -1;
    sim->addFault(fault);
    KORUHVNode *gen = paramOf(host->iface->getSystemNode(), QStringLiteral("GenSignCfg"));
    const int before = gen->getNodeValue().KORUHVGetValue().toInt();
    ModalAnswerer answers;
    answers.then([](QWidget *w) { checkBoxesAndOk(w, {0, 5}); });
    click(panel()->commandButton(Cmd::GenSignCfg));
    ASSERT_EQ(answers.seen().size(), 1u);
    ASSERT_EQ(sim->requestsFor("SETGENCFG").size(), 1u);
    EXPECT_EQ(gen->getNodeValue().KORUHVGetValue().toInt(), before);
    EXPECT_EQ(gen->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_EQ(sim->sysProp("GenSignCfg"), std::string(1, char(0)));
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

class PanelOverRack : public ::testing::Test {
protected:
    void SetUp() override
    {
        korusim::P8080SimOptions opts;
        opts.ramp = false;
        opts.keepAlivePeriod = std::chrono::milliseconds(0);
        sim = std::make_unique<korusim::P8080Sim>(panelRack(), "127.0.0.3", 0, opts);
        ASSERT_TRUE(sim->start()) << sim->errorText();
        key = sim->publicKeyPem();
        koruhv::P8080_SetPortForTest(sim->port());
        koruhv::P8080_SetPublicKeyForTest(key.c_str());
        char address[] = "127.0.0.3";
        ASSERT_EQ(KORUHV_InitSystem(16, 0, address, "admin", "admin", &handle), 0);
        host = std::make_unique<PanelHost>(16, 0, QStringLiteral("127.0.0.3"),
                                           buildTree(handle, 16, 0, QStringLiteral("127.0.0.3"), 3));
        host->panel->show();
        sim->clearRequests();
    }
    void TearDown() override
    {
        host.reset();
        if (handle >= 0)
            KORUHV_DeinitSystem(handle);
        koruhv::P8080_SetPortForTest(0);
        koruhv::P8080_SetPublicKeyForTest(nullptr);
        sim->stop();
    }
    QSystemInformations *panel() { return host->panel; }

    std::unique_ptr<korusim::P8080Sim> sim;
    std::string key;
    std::unique_ptr<PanelHost> host;
    int handle = -1;
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
    EXPECT_EQ(sim->requestsFor("GLOBALON").size(), 1u);
    EXPECT_EQ(sim->requestsFor("GLOBALOFF").size(), 1u);
    EXPECT_EQ(sim->systemRaw("ACDCPwr"), 1u);
    EXPECT_TRUE(panel()->commandButton(Cmd::Pw48)->isChecked());
    {
        ModalAnswerer answers;
        answers.thenButton(QMessageBox::No);
        click(panel()->commandButton(Cmd::Pw48));
    }
    EXPECT_EQ(sim->systemRaw("ACDCPwr"), 1u);
    EXPECT_TRUE(panel()->commandButton(Cmd::Pw48)->isChecked());
    EXPECT_TRUE(sim->protocolErrors().empty());
}

TEST_F(PanelOverRack, RecoveryAndResetBits)
{
    std::vector<uint32_t> seen;
    ModalAnswerer answers;
    answers.then([&](QWidget *w) {
        for (int i : {0, 5}) {
            click(w->findChild<QPushButton *>(QStringLiteral("pushButton_%1").arg(i)));
            seen.push_back(sim->systemRaw("RstRecFlag").value_or(0));
        }
        click(w->findChild<QPushButton *>(QStringLiteral("okButton")));
    });
    answers.then([&](QWidget *w) {
        for (int i : {1, 4}) {
            click(w->findChild<QPushButton *>(QStringLiteral("pushButton_%1").arg(i)));
            seen.push_back(sim->systemRaw("RstRecFlag").value_or(0));
        }
        click(w->findChild<QPushButton *>(QStringLiteral("okButton")));
    });
    click(panel()->commandButton(Cmd::RecoveryFlag));
    click(panel()->commandButton(Cmd::ResetFlagCfg));
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 32, 512, 4096}));
}

// ------------------------------------------------------------------ L2290

class PanelOverL2290 : public ::testing::Test {
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
        char address[] = "127.0.0.4_3";
        ASSERT_EQ(KORUHV_InitSystem(6, 0, address, "", "", &handle), 0);
        host = std::make_unique<PanelHost>(6, 0, QStringLiteral("127.0.0.4_3"),
                                           buildTree(handle, 6, 0, QStringLiteral("127.0.0.4_3"), 1));
        host->panel->show();
    }
    void TearDown() override
    {
        host.reset();
        if (handle >= 0)
            KORUHV_DeinitSystem(handle);
        if (sim) {
            EXPECT_TRUE(sim->violations().empty()) << sim->violations().front();
            sim->stop();
        }
        koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
        koruhv::L2290_SetTcpPortForTests(0);
    }
    QSystemInformations *panel() { return host->panel; }

    std::unique_ptr<korusim::L2290Sim> sim;
    std::unique_ptr<PanelHost> host;
    int handle = -1;
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
