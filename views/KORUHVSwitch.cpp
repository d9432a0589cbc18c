#include "KORUHVSwitch.h"

#include <QPainter>

KORUHVSwitch::KORUHVSwitch(QString on, QString off, int style_, QWidget *parent)
    : QAbstractButton(parent), onText(on), offText(off), style(style_)
{
    setCheckable(true);
    setMinimumSize(60, 30);
}

void KORUHVSwitch::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), isChecked() ? QColor(0x43, 0x98, 0x47) : QColor(0x62, 0x62, 0x62));
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, isChecked() ? onText : offText);
}
