#include "QCustomLabel.h"

#include <QMouseEvent>

QCustomLabel::QCustomLabel(QWidget *parent) : QLabel(parent) {}

void QCustomLabel::mousePressEvent(QMouseEvent *event)
{
    pressed = event && event->button() == Qt::LeftButton;
}

void QCustomLabel::mouseReleaseEvent(QMouseEvent *)
{
    const bool wasPressed = pressed;
    pressed = false;
    if (wasPressed)
        Q_EMIT clicked();
}

void QCustomLabel::focusOutEvent(QFocusEvent *event)
{
    pressed = false;
    QLabel::focusOutEvent(event);
}
