#include "KORUHVSwitch.h"

#include "KORUHVEditStyles.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

KORUHVSwitchGeometry KORUHVSwitchGeometryFor(int W, int H, bool checked)
{
    KORUHVSwitchGeometry g;
    g.h = std::min(W / 2, H);
    const int h = g.h;
    g.fontPixelSize = h / 2;
    g.track = QRect(2, 2, W - 4, h - 4);
    g.knob = checked ? QRect(W - h + 4, 4, h - 8, h - 8) : QRect(4, 4, h - 8, h - 8);
    g.textBox =
        checked ? QRect(QPoint(4, 4), QPoint(W - 1 - h, h - 5)) : QRect(QPoint(h, 4), QPoint(W - 5, h - 5));
    return g;
}

KORUHVSwitch::KORUHVSwitch(QString onText_, QString offText_, int style_, QWidget *parent)
    : QAbstractButton(parent), onText(onText_), offText(offText_), style(style_)
{
    setCheckable(true);
    setMinimumHeight(30);
    setMinimumWidth(60);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QFont KORUHVSwitch::textFont(bool checked) const
{
    const KORUHVSwitchGeometry g = KORUHVSwitchGeometryFor(width(), height(), checked);
    QFont f = font();
    f.setFamily(QStringLiteral("Antonio"));
    f.setStretch(75);
    const QString text = checked ? onText : offText;
    int size = std::max(1, g.fontPixelSize);
    f.setPixelSize(size);
    /* Shrinks the word into its box rather than cutting it; 6 px is the
     * smallest size still read as a word. */
    while (size > 6 && QFontMetrics(f).horizontalAdvance(text) > g.textBox.width()) {
        f.setPixelSize(--size);
    }
    return f;
}

void KORUHVSwitch::setRefusedLook(bool on)
{
    if (refusedLook == on)
        return;
    refusedLook = on;
    update();
}

/* Every switch of the program uses the rectangular look; another style is
 * drawn the same way. */
void KORUHVSwitch::paintEvent(QPaintEvent *)
{
    const bool on = isChecked();
    const KORUHVSwitchGeometry g = KORUHVSwitchGeometryFor(width(), height(), on);
    if (g.h <= 8)
        return;

    QPainter painter(this);
    const QFont font = textFont(on);

    const QColor trackFill = on ? QColor(104, 204, 56) : QColor(205, 205, 205);
    const QColor trackLine = refusedLook ? koruviews::refusedColour()
                             : on        ? QColor(13, 90, 0)
                                         : QColor(88, 88, 88);
    const QColor knobFill = on ? QColor(Qt::white) : QColor(88, 88, 88);
    const QColor textColour = on ? QColor(240, 240, 240) : QColor(88, 88, 88);

    QPainterPath track;
    track.setFillRule(Qt::WindingFill);
    track.addRect(g.track);
    QPainterPath knob;
    knob.addRect(g.knob);

    painter.fillPath(track, trackFill);
    painter.fillPath(knob, knobFill);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.strokePath(track.simplified(), QPen(trackLine, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.strokePath(knob, QPen(QColor(Qt::gray), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));

    const QString text = on ? onText : offText;
    if (!text.isEmpty()) {
        painter.setFont(font);
        painter.setPen(textColour);
        painter.drawText(g.textBox, Qt::AlignCenter, text);
    }
}
