#include "KORUHVSwitch.h"

#include <QPainter>

KORUHVSwitch::KORUHVSwitch(QString on, QString off, int v, QWidget *parent)
    : QAbstractButton(parent), onText(on), offText(off), value(v)
{
    setCheckable(true);
    setMinimumSize(60, 30);
}

QSize KORUHVSwitch::sizeHint() const
{
    return QSize(60, 30);
}

void KORUHVSwitch::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    p.setPen(Qt::gray);
    p.setBrush(isChecked() ? QColor(0x35, 0xa9, 0x12) : QColor(0x74, 0x74, 0x74));
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, isChecked() ? onText : offText);
}
