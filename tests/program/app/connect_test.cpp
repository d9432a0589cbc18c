/* Connecting and disconnecting systems over the fake wrapper. */
#include "KORUHVNode.h"
#include "MainWindowUi.h"
#include "QConnectDialog.h"
#include "QCustomBox.h"
#include "QSystemStatusBar.h"
#include "shell_fixture.h"

#include <QAction>
#include <QFile>

namespace {
std::vector<std::string> subscribeItems()
{
    std::vector<std::string> out;
    for (const auto &c : fakehv::calls())
        if (c.function.rfind("KORUHV_Subscribe", 0) == 0)
            out.push_back(c.function.substr(16) + "/" + std::to_string(c.slot) + "/" +
                          std::to_string(c.channel) + "/" + c.items);
    return out;
}
} // namespace

TEST_F(ShellTest, ConnectBuildsTreeSubscribesAndShowsTheSystem)
{
    ModalAnswerer answer(clickButton());
    ASSERT_EQ(connect(), 0);
    ASSERT_EQ(window->getSysInterfaceVector().size(), 1);
    QSystemInterface *s = window->getSysInterfaceVector()[0];
    EXPECT_TRUE(s->isReady());
    EXPECT_TRUE(s->getIsMainInterface());
    ASSERT_TRUE(s->getSystemNode());
    EXPECT_EQ(s->getSystemNode()->getChildren().size(), 16);
    /* System level without the program's pseudo parameters, then board 0 and its channels. */
    const std::vector<std::string> expected = {
        "SystemParams/-1/-1/ModelName:IPAddr", "BoardParams/0/-1/BdStatus:HVMax",
        "ChannelParams/0/0/Name:VMon:Pw:Status", "ChannelParams/0/1/Name:VMon:Pw:Status"};
    EXPECT_EQ(subscribeItems(), expected);
    for (short p : fakehv::announcedPorts())
        EXPECT_EQ(static_cast<unsigned short>(p), port);
    /* "IPAddr" shows the address typed, not the device's value. */
    KORUHVNode *ip = nullptr;
    for (KORUHVNode *p : s->getSystemNode()->getParameters())
        if (p->getNodeName() == QLatin1String("IPAddr"))
            ip = p;
    ASSERT_TRUE(ip);
    EXPECT_EQ(ip->getNodeValue().KORUHVGetValue().toString(), QStringLiteral("10.0.0.1"));
    ASSERT_TRUE(s->getSystemStatusBarWidget());
    EXPECT_EQ(s->getSystemStatusBarWidget()->connStatText(), QStringLiteral("CONNECTED"));
    EXPECT_EQ(s->getSystemStatusBarWidget()->sysNameText(), QStringLiteral("Crate"));
    EXPECT_EQ(s->getSystemStatusBarWidget()->initParamText(), QStringLiteral("10.0.0.1"));
    EXPECT_TRUE(window->getUi()->menuSave->isEnabled());
    EXPECT_TRUE(answer.seen().isEmpty());
}

TEST_F(ShellTest, NamesAreMadeUniqueCumulatively)
{
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("Crate")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.2"), QStringLiteral("Crate")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.3"), QStringLiteral("Crate")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.4"), QString()), 0);
    const auto v = window->getSysInterfaceVector();
    EXPECT_EQ(v[0]->getSystemNode()->getNodeName(), QStringLiteral("Crate"));
    EXPECT_EQ(v[1]->getSystemNode()->getNodeName(), QStringLiteral("Crate(1)"));
    EXPECT_EQ(v[2]->getSystemNode()->getNodeName(), QStringLiteral("Crate(1)(2)"));
    EXPECT_EQ(v[3]->getSystemNode()->getNodeName(), QStringLiteral("System"));
    EXPECT_EQ(v[3]->getWidgetIndex(), 3);
    /* The fourth system disables "Connect.."; a fifth is refused all the same. */
    EXPECT_FALSE(window->getUi()->menuConnect->isEnabled());
    ModalAnswerer answer(clickButton());
    EXPECT_EQ(connect(QStringLiteral("10.0.0.5"), QStringLiteral("Fifth")), 1);
    EXPECT_EQ(window->getSysInterfaceVector().size(), 4);
    ASSERT_EQ(answer.seen().size(), 1);
    EXPECT_EQ(answer.seen()[0].text, QStringLiteral("Unable to connect to Fifth.\nSome errors occourred."));
}

struct FailureCase {
    const char *what;
    int initCode;
    const char *address;
    const char *expectedText;
    bool initCalled;
};

class ConnectFailure : public ShellTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ConnectFailure, ShowsOneWarningAndLeavesNoInterface)
{
    const FailureCase &c = GetParam();
    fakehv::queueInit(crate(), c.initCode);
    ModalAnswerer answer(clickButton());
    EXPECT_EQ(window->connectSystem(2, 0, QString::fromLatin1(c.address), QStringLiteral("Crate"),
                                    QStringLiteral("u"), QStringLiteral("p")),
              1);
    EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
    ASSERT_EQ(answer.seen().size(), 1) << c.what;
    EXPECT_EQ(answer.seen()[0].title, QStringLiteral("LUMO2020"));
    EXPECT_EQ(answer.seen()[0].text, QString::fromLatin1(c.expectedText));
    EXPECT_EQ(fakehv::callsOf("KORUHV_InitSystem").size(), c.initCalled ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectFailure,
    ::testing::Values(
        FailureCase{"login", 4103, "10.0.0.1", "Unable to connect to Crate.\nIncorrect username or password.",
                    true},
        FailureCase{"other", 4100, "10.0.0.1", "Unable to connect to Crate.\nSome errors occourred.", true},
        FailureCase{"empty", 0, "", "Unable to connect to Crate.\nSome errors occourred.", false},
        /* 80 characters: refused, never cut to one that might name another device. */
        FailureCase{"long", 0,
                    "0123456789012345678901234567890123456789012345678901234567890123456789012345678X",
                    "Unable to connect to Crate.\nSome errors occourred.", false}));

TEST_F(ShellTest, InitParameterOf79BytesIsAccepted)
{
    const QString address(79, QLatin1Char('a'));
    ASSERT_EQ(connect(address), 0);
    ASSERT_EQ(fakehv::callsOf("KORUHV_InitSystem").size(), 1u);
    EXPECT_EQ(fakehv::callsOf("KORUHV_InitSystem")[0].address, address.toStdString());
}

struct SizeCase {
    int slotCount;
    int result;
    int typeAfter;
};
class CrateSize : public ShellTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(CrateSize, RetypesOrRefusesBySlotCount)
{
    ModalAnswerer answer(clickButton());
    EXPECT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), crate(GetParam().slotCount)),
              GetParam().result);
    if (GetParam().result == 0) {
        EXPECT_EQ(window->getSysInterfaceVector()[0]->getSysType(), GetParam().typeAfter);
        EXPECT_EQ(window->getSysInterfaceVector()[0]->getSystemNode()->getSystemType(), 2);
    } else {
        EXPECT_EQ(fakehv::callsOf("KORUHV_DeinitSystem").size(), 1u);
        EXPECT_TRUE(fakehv::callsOf("KORUHV_SubscribeSystemParams").empty());
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, CrateSize,
                         ::testing::Values(SizeCase{4, 0, 3}, SizeCase{6, 0, 3}, SizeCase{10, 0, 2},
                                           SizeCase{16, 0, 2}, SizeCase{8, 1, 0}));

TEST_F(ShellTest, FailedSubscriptionClosesTheHandle)
{
    fakehv::System sys = crate();
    sys.codes["KORUHV_SubscribeChannelParams"] = 26;
    ModalAnswerer answer(clickButton());
    EXPECT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), sys), 1);
    EXPECT_EQ(fakehv::callsOf("KORUHV_DeinitSystem").size(), 1u);
    ASSERT_EQ(answer.seen().size(), 1);
    EXPECT_EQ(answer.seen()[0].text, QStringLiteral("Unable to connect to Crate.\nSome errors occourred."));
}

TEST_F(ShellTest, RefusedNamesAreLoggedAndReported)
{
    fakehv::System sys = crate();
    sys.refusedSubscriptions = {"HVMax", "Status"};
    ModalAnswerer answer(clickButton(QStringLiteral("Ok")));
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A/..B"), sys), 0);
    ASSERT_EQ(answer.seen().size(), 1);
    EXPECT_EQ(
        answer.seen()[0].text,
        QStringLiteral("There have been some troubles in communication.\nSome items will not be updated\n"));
    EXPECT_EQ(answer.seen()[0].buttons, (QStringList{QStringLiteral("Details.."), QStringLiteral("Ok")}));
    /* The name cannot lead the file out of the working folder. */
    QFile log(env->path(QStringLiteral("RORERAVA2020SubscrFail_A___B.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(log.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral(
        "List of unsubscribed parameters:\n\nSYSTEM\t|\tBOARD\t|\tCHANNEL\t|\tPARAMETER\n\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("A/..B\t|\t0\t|\t       \t|\tHVMax\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("A/..B\t|\t0\t|\t1\t|\tStatus\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\n") + QString(87, QLatin1Char('-')) + QStringLiteral("\n\n")));
}

TEST(SubscrFailFile, NamesStayInTheWorkingFolder)
{
    EXPECT_EQ(KORUHVSubscrFailFileName(QStringLiteral("Crate")),
              QStringLiteral("RORERAVA2020SubscrFail_Crate.log"));
    EXPECT_EQ(KORUHVSubscrFailFileName(QStringLiteral("a/b\\c")),
              QStringLiteral("RORERAVA2020SubscrFail_a_b_c.log"));
    EXPECT_EQ(KORUHVSubscrFailFileName(QStringLiteral("..")),
              QStringLiteral("RORERAVA2020SubscrFail___.log"));
    EXPECT_EQ(KORUHVSubscrFailFileName(QStringLiteral("x\ny")),
              QStringLiteral("RORERAVA2020SubscrFail_x_y.log"));
}

TEST_F(ShellTest, DisconnectingTheMiddleSystemRenumbersTheLast)
{
    ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("A")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.2"), QStringLiteral("B")), 0);
    ASSERT_EQ(connect(QStringLiteral("10.0.0.3"), QStringLiteral("C")), 0);
    QSystemInterface *c = window->getSysInterfaceVector()[2];
    const int handleB = window->getSysInterfaceVector()[1]->getSystemHandle();
    fakehv::clearCalls();
    window->disconnectFromSystem(1);
    ASSERT_EQ(window->getSysInterfaceVector().size(), 2);
    EXPECT_EQ(window->getSysInterfaceVector()[1], c);
    EXPECT_EQ(c->getWidgetIndex(), 1);
    EXPECT_EQ(c->getSystemBoxWidget()->getWidgetIdx(), 1);
    const auto deinit = fakehv::callsOf("KORUHV_DeinitSystem");
    ASSERT_EQ(deinit.size(), 1u);
    EXPECT_EQ(deinit[0].handle, handleB);
    EXPECT_FALSE(fakehv::callsOf("KORUHV_UnSubscribeSystemParams").empty());
}

TEST_F(ShellTest, DisconnectingTheLastSystemReopensTheConnectionDialog)
{
    ASSERT_EQ(connect(), 0);
    window->disconnectFromSystem(0);
    EXPECT_TRUE(window->getSysInterfaceVector().isEmpty());
    EXPECT_FALSE(window->getUi()->menuSave->isEnabled());
    EXPECT_FALSE(window->getUi()->menuSystems->isChecked());
    EXPECT_EQ(window->findChildren<QConnectDialog *>().size(), 1);
}

TEST_F(ShellTest, ALostSystemIsRemovedWithoutUnsubscribing)
{
    ASSERT_EQ(connect(), 0);
    QSystemInterface *s = window->getSysInterfaceVector()[0];
    {
        ModalAnswerer answer(clickButton());
        window->handleSystemDisconnected(s, 0, s->getSerial());
        ASSERT_EQ(answer.seen().size(), 1);
        EXPECT_EQ(
            answer.seen()[0].text,
            QStringLiteral("Crate is no longer connected.\nPlease check your network and try to reconnect."));
    }
    EXPECT_EQ(s->getSystemBoxWidget()->getDisconnectButtonText(), QStringLiteral("Close"));
    EXPECT_EQ(s->getSystemStatusBarWidget()->connStatText(), QStringLiteral("DISCONNECTED"));
    EXPECT_EQ(s->getSystemStatusBarWidget()->ledPicture(0),
              QStringLiteral(":/Resources/buttons/led_off.png"));
    fakehv::clearCalls();
    window->disconnectFromSystem(0);
    EXPECT_TRUE(fakehv::callsOf("KORUHV_UnSubscribeSystemParams").empty());
    EXPECT_EQ(fakehv::callsOf("KORUHV_DeinitSystem").size(), 1u);
}

TEST_F(ShellTest, AStaleSignalFindsNoInterface)
{
    ASSERT_EQ(connect(), 0);
    QSystemInterface *s = window->getSysInterfaceVector()[0];
    const quint64 serial = s->getSerial();
    EXPECT_EQ(window->findInterface(s, serial), s);
    EXPECT_EQ(window->findInterface(s, serial + 1000), nullptr);
    ModalAnswerer answer(clickButton());
    window->handleSystemDisconnected(s, 0, serial + 1000);
    EXPECT_TRUE(answer.seen().isEmpty());
}
