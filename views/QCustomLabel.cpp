#include "QCustomLabel.h"

#include <QMouseEvent>

QCustomLabel::QCustomLabel(QWidget *parent) : QLabel(parent) {}

void QCustomLabel::mousePressEvent(QMouseEvent *event)
{
    pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void QCustomLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = pressed && event->button() == Qt::LeftButton;
    pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

void QCustomLabel::focusOutEvent(QFocusEvent *event)
{
    pressed = false;
    QLabel::focusOutEvent(event);
}
