#include "SysDialogLamps.h"

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

QString lampStateOf(const QLabel *lamp)
{
    return lamp ? lamp->property("lampState").toString() : QString();
}

} // namespace sysdlg
