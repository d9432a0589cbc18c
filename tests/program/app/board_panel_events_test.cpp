/* Board-panel values following events through the event reader while the
 * operator edits a field of the panel: the field being edited keeps what was
 * typed, the other fields and every switch show the new values. */
#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "KORUHVWidgetItem.h"
#include "QBoardInformations.h"
#include "shell_fixture.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using fakehv::Raw;

/* A 16-slot crate whose board in slot 0 has two set values, a fan switch
 * and a read-only temperature. */
fakehv::System boardCrate()
{
    fakehv::System s = ShellTest::crate(16, 1);
    fakehv::Board &b = s.crate[0];
    const std::map<std::string, Raw> limits = {{"Minval", Raw::f32(0)},
                                               {"Maxval", Raw::f32(4000)},
                                               {"Unit", Raw::u16(2)},
                                               {"Exp", Raw::i16(0)},
                                               {"Decimal", Raw::i16(0)}};
    b.params.push_back({"VLim", {0, 2, Raw::f32(1000.f), limits}});
    b.params.push_back(
        {"Fan", {1, 2, Raw::u32(0), {{"Onstate", Raw::text("On")}, {"Offstate", Raw::text("Off")}}}});
    b.params.push_back({"Temp", {0, 0, Raw::f32(25.f), limits}});
    return s;
}

class BoardPanelEvents : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_EQ(connect(QStringLiteral("10.0.0.1"), QStringLiteral("Crate"), boardCrate()), 0);
        sys = window->getSysInterfaceVector()[0];
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        ASSERT_TRUE(sys->getBoardInfoWidget() && sys->getBoardInfoWidget()->getInternalWidget());
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        for (int p : peers)
            ::close(p);
    }
    KORUHVWidgetItem *item(const char *name) const
    {
        const QString objectName =
            QStringLiteral("%0:0:%1").arg(sys->getSystemHandle()).arg(QLatin1String(name));
        // The panel's page lives in the BOARDS dock's stack.
        return sys->getBoardInfoWidget()->getInternalWidget()->findChild<KORUHVWidgetItem *>(objectName);
    }
    KORUHVNode *node(const char *name) const { return item(name) ? item(name)->getReferenceNode() : nullptr; }
    static QString shown(KORUHVWidgetItem *i)
    {
        auto *spin = qobject_cast<QAbstractSpinBox *>(i->getValueFieldWidget());
        return spin ? spin->text().trimmed() : QString();
    }
    /* One batch of events through a fresh reader; returns once every value
     * has reached its node. */
    void deliver(const std::vector<EventRecord> &events, const std::function<bool()> &arrived)
    {
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        peers.push_back(sv[1]);
        fakehv::queueEvents(sv[0], events);
        ASSERT_TRUE(sys->startEventReader(sv[0]));
        ASSERT_TRUE(waitUntil(arrived, 60000));
        QCoreApplication::processEvents();
    }

    QSystemInterface *sys = nullptr;
    std::vector<int> peers;
};

} // namespace

TEST_F(BoardPanelEvents, TheEditedFieldKeepsTypedTextWhileTheOthersAndTheSwitchFollow)
{
    KORUHVWidgetItem *vlim = item("VLim");
    KORUHVWidgetItem *hvmax = item("HVMax");
    KORUHVWidgetItem *temp = item("Temp");
    KORUHVWidgetItem *fan = item("Fan");
    ASSERT_TRUE(vlim && hvmax && temp && fan);
    auto *fanSwitch = qobject_cast<KORUHVSwitch *>(fan->getValueFieldWidget());
    ASSERT_TRUE(fanSwitch) << "a board's on/off parameter is a switch";
    EXPECT_FALSE(fanSwitch->isChecked());

    // The operator is typing into "VLim".
    auto *vlimField = qobject_cast<QAbstractSpinBox *>(vlim->getValueFieldWidget());
    ASSERT_TRUE(vlimField);
    vlimField->setFocus();
    ASSERT_TRUE(waitUntil([&] { return vlim->hasFocus(); }));
    vlimField->selectAll();
    QTest::keyClicks(vlimField, "1234");
    ASSERT_EQ(shown(vlim), QStringLiteral("1234"));
    fakehv::clearCalls();

    deliver({fakehv::valueEvent(0, 0, -1, "VLim", Raw::f32(2222.f)),
             fakehv::valueEvent(0, 0, -1, "HVMax", Raw::f32(2500.f)),
             fakehv::valueEvent(0, 0, -1, "Temp", Raw::f32(31.f)),
             fakehv::valueEvent(0, 0, -1, "Fan", Raw::u32(1))},
            [&] { return node("Fan")->getNodeValue().KORUHVGetValue().toInt() == 1; });

    auto value = [](KORUHVWidgetItem *i) {
        auto *d = qobject_cast<QDoubleSpinBox *>(i->getValueFieldWidget());
        return d ? d->value() : -1.0;
    };
    EXPECT_EQ(shown(vlim), QStringLiteral("1234")) << "being edited: the typed text stays";
    EXPECT_DOUBLE_EQ(value(hvmax), 2500.0) << "the others follow";
    EXPECT_DOUBLE_EQ(value(temp), 31.0);
    EXPECT_FLOAT_EQ(node("VLim")->getNodeValue().KORUHVGetValue().toFloat(), 2222.f)
        << "the node has the event's value";
    EXPECT_TRUE(fanSwitch->isChecked());
    EXPECT_TRUE(vlim->hasFocus());
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetBdParam").empty()) << "an event writes nothing";

    // Leaving the field commits what was typed, not the event's value; a
    // switch follows even while it has the focus.
    fanSwitch->setFocus();
    ASSERT_TRUE(waitUntil([&] { return fan->hasFocus(); }));
    auto sets = fakehv::callsOf("KORUHV_SetBdParam");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].name, "VLim");
    EXPECT_FLOAT_EQ(sets[0].value.asF32(), 1234.f);
    fakehv::clearCalls();
    deliver({fakehv::valueEvent(0, 0, -1, "Fan", Raw::u32(0)),
             fakehv::valueEvent(0, 0, -1, "VLim", Raw::f32(3333.f))},
            [&] { return node("Fan")->getNodeValue().KORUHVGetValue().toInt() == 0; });
    EXPECT_FALSE(fanSwitch->isChecked());
    EXPECT_DOUBLE_EQ(value(vlim), 3333.0) << "no longer edited: it follows again";
    EXPECT_TRUE(fakehv::callsOf("KORUHV_SetBdParam").empty());
}
