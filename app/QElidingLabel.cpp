#include "QElidingLabel.h"

#include <QEvent>
#include <QFontMetrics>

#include <algorithm>

QElidingLabel::QElidingLabel(const QString &text, QWidget *parent) : QLabel(text, parent), full(text)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void QElidingLabel::setFullText(const QString &text)
{
    full = text;
    updateGeometry();
    elide();
}

QSize QElidingLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(full) + m.left() + m.right() + 2 * margin(),
                 fm.height() + m.top() + m.bottom() + 2 * margin());
}

QSize QElidingLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    const QFontMetrics fm(font());
    const int few = fm.horizontalAdvance(full.left(3) + QChar(0x2026));
    return QSize(std::min(few, sizeHint().width()) + m.left() + m.right() + 2 * margin(),
                 fm.height() + m.top() + m.bottom() + 2 * margin());
}

void QElidingLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void QElidingLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    /* A style sheet may bring a bolder font. */
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        elide();
}

void QElidingLabel::elide()
{
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = QFontMetrics(font()).elidedText(full, Qt::ElideRight, std::max(0, room));
    if (shown != text())
        setText(shown);
    setToolTip(shown == full ? QString() : full);
}
