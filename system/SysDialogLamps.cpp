#include "SysDialogLamps.h"

#include "KORUHVNode.h"

#include <QLabel>
#include <QPixmap>

namespace sysdlg {

void setDialogLamp(QLabel *lamp, bool on)
{
    if (!lamp)
        return;
    QPixmap pic(on ? QStringLiteral(":/Resources/buttons/led_on_mid.png")
                   : QStringLiteral(":/Resources/buttons/led_off_mid.png"));
    if (!pic.isNull())
        pic = pic.scaled(12, 12, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    lamp->setPixmap(pic);
    lamp->setProperty("lampState", on ? QStringLiteral("on") : QStringLiteral("off"));
}

void setPanelLamp(QLabel *lamp, LampState state)
{
    if (!lamp)
        return;
    const char *file = ":/Resources/buttons/led_off.png";
    const char *text = "off";
    if (state == LampState::On) {
        file = ":/Resources/buttons/led_on.png";
        text = "on";
    } else if (state == LampState::Fault) {
        file = ":/Resources/buttons/led_err.png";
        text = "fault";
    }
    lamp->setPixmap(QPixmap(QString::fromLatin1(file)));
    lamp->setProperty("lampState", QString::fromLatin1(text));
}

QString lampStateOf(const QLabel *lamp)
{
    return lamp ? lamp->property("lampState").toString() : QString();
}

void drawStatusLamps(const PanelTechLamps &lamps, const StatusLamps &s)
{
    setPanelLamp(lamps.trip, s.trip);
    setPanelLamp(lamps.channelOn, s.channelOn);
    setPanelLamp(lamps.ovv, s.ovv);
    setPanelLamp(lamps.unv, s.unv);
    setPanelLamp(lamps.ovc, s.ovc);
}

void updatePanelTechLamps(KORUHVNode *node, const PanelTechLamps &lamps)
{
    if (!node)
        return;
    const QString name = node->getNodeName();
    const unsigned short word = lowWord(node->getNodeValue().KORUHVGetValue());
    if (namesAcdcStatus(name))
        setPanelLamp(lamps.pw48, word != 0 ? LampState::On : LampState::Off);
    if (namesOutputWord(name))
        drawStatusLamps(lamps, statusLampsFromOutputWord(word));
    if (namesFrontPanWord(name))
        drawStatusLamps(lamps, statusLampsFromFrontPanWord(word));
}

} // namespace sysdlg
