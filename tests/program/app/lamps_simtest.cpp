/* The system panel's lamps tell what the crate's channels do: the program
 * against the crate simulator through the real wrapper. A channel switched
 * on from the program lights "Channel ON"; an over-current raised in the
 * simulator's model turns "OVC" red and back; no lamp is red, and no fan,
 * while the model has no alarm. */
#include "shell_sim_fixture.h"

#include "crate/crate_panel.h"

#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "QSystemInformations.h"
#include "SystemPanelLayout.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

namespace {

bool shows(const QLabel *lamp, syspanel::Lamp picture)
{
    return lamp && lamp->property("lamp").toString() == syspanel::lampPicture(picture);
}

class CrateLamps : public CrateShellTest {
protected:
    void SetUp() override
    {
        startCrate("127.0.0.6");
        system = connectCrate("127.0.0.6");
        ASSERT_TRUE(system);
        panel = system->getSystemInfoWidget();
        ASSERT_TRUE(panel);
    }

    /* The alarm lamps of the panel, each green (no alarm) or red. */
    bool alarmLampsGreen() const
    {
        for (const QLabel *l : {panel->ovvLed, panel->unvLed, panel->ovcLed, panel->tripLed})
            if (!shows(l, syspanel::Lamp::On))
                return false;
        return true;
    }

    QSystemInterface *system = nullptr;
    QSystemInformations *panel = nullptr;
};

} // namespace

TEST_F(CrateLamps, ChannelOnLightsAndAnOverCurrentTurnsOvcRedAndBack)
{
    /* At rest: every channel off, no alarm, every fan turning. */
    EXPECT_TRUE(shows(panel->chOnLed, syspanel::Lamp::Off));
    EXPECT_TRUE(alarmLampsGreen());
    ASSERT_FALSE(panel->hvFanStatWidgets.isEmpty());
    for (QWidget *row : panel->hvFanStatWidgets) {
        auto *lamp = row->findChild<QLabel *>();
        ASSERT_TRUE(lamp);
        EXPECT_FALSE(lamp->pixmap().toImage() ==
                     QPixmap(syspanel::lampPicture(syspanel::Lamp::Err)).toImage());
    }

    /* Switched on from the program. */
    KORUHVNode *pw =
        KORUHVConfig::KORUHVConfigGetNodeFromItemId(system->getSystemNode(), QStringLiteral("Pw"), 0, 0);
    ASSERT_TRUE(pw);
    EXPECT_EQ(pw->setNodeEditedValue(QVariant(1)), 0);
    EXPECT_TRUE(waitUntil([&] { return shows(panel->chOnLed, syspanel::Lamp::On); }, 60000));
    EXPECT_TRUE(alarmLampsGreen());

    /* An over-current in the model: OVC red, and back when it goes. */
    ASSERT_TRUE(sim->setChannelAlarm(0, 0, korusim::kChannelOverCurrent, true));
    EXPECT_TRUE(waitUntil([&] { return shows(panel->ovcLed, syspanel::Lamp::Err); }, 60000));
    EXPECT_TRUE(shows(panel->ovvLed, syspanel::Lamp::On));
    ASSERT_TRUE(sim->setChannelAlarm(0, 0, korusim::kChannelOverCurrent, false));
    EXPECT_TRUE(waitUntil([&] { return shows(panel->ovcLed, syspanel::Lamp::On); }, 60000));

    /* Switched off again: the lamp goes dark once the channel is. */
    EXPECT_EQ(pw->setNodeEditedValue(QVariant(0)), 0);
    EXPECT_TRUE(waitUntil([&] { return shows(panel->chOnLed, syspanel::Lamp::Off); }, 60000));
    EXPECT_TRUE(alarmLampsGreen());
}
