/* Finds texts that do not fit their widgets: every visible label, push
 * button, check box, radio button and on/off switch under a top-level
 * widget, measured with the widget's own font against the rectangle the
 * widget draws its text into, cut further by every ancestor that clips it.
 * A text that is elided ("…") and carries its full text in its tool tip
 * counts as fitting. Fonts differ between display servers, so only the
 * widget's own metrics are used, never fixed pixel numbers. */
#ifndef TEXT_FIT_H
#define TEXT_FIT_H

#include "KORUHVSwitch.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace textfit {

struct Clip {
    QString widget; /* class and object name, and those of the top-level widget */
    QString text;
    QSize need;
    QSize have;
};

inline QString describe(const QWidget *w)
{
    QString s = QLatin1String(w->metaObject()->className());
    if (!w->objectName().isEmpty())
        s += QLatin1Char('#') + w->objectName();
    const QWidget *top = w->window();
    if (top && top != w)
        s += QStringLiteral(" in ") + QLatin1String(top->metaObject()->className()) + QLatin1Char(' ') +
             top->windowTitle();
    return s;
}

/* The part of rect (in w's coordinates) that w's ancestors let show. What a
 * scroll area hides can be scrolled into view: past a scroll area's
 * viewport nothing clips along its scrolling direction (across only when it
 * shows a horizontal scroll bar). */
inline QRect shownPart(const QWidget *w, QRect rect)
{
    QRect r = rect;
    QPoint offset(0, 0);
    bool freeV = false, freeH = false;
    for (const QWidget *p = w; p && !p->isWindow(); p = p->parentWidget()) {
        offset += p->pos();
        const QWidget *parent = p->parentWidget();
        if (!parent)
            break;
        if (auto *area = qobject_cast<const QAbstractScrollArea *>(parent->parentWidget());
            area && area->viewport() == parent) {
            freeV = true;
            freeH = freeH || (area->horizontalScrollBar() && area->horizontalScrollBar()->isVisible());
        }
        QRect clip = parent->rect().translated(-offset);
        if (freeV) {
            clip.setTop(r.top());
            clip.setBottom(r.bottom());
        }
        if (freeH) {
            clip.setLeft(r.left());
            clip.setRight(r.right());
        }
        r &= clip;
    }
    return r;
}

/* The advance of a text includes its last glyph's side bearing: a box one
 * pixel narrower still shows every glyph whole. */
constexpr int kBearing = 1;

inline bool elidedWithToolTip(const QWidget *w, const QString &text)
{
    return text.contains(QChar(0x2026)) && !w->toolTip().isEmpty() && w->toolTip() != text;
}

inline QSize plainTextSize(const QFont &font, const QString &text, bool wrap, int width)
{
    const QFontMetrics fm(font);
    if (!wrap)
        return fm.size(Qt::TextShowMnemonic, text);
    return fm
        .boundingRect(QRect(0, 0, std::max(1, width), 100000), Qt::TextWordWrap | Qt::TextShowMnemonic, text)
        .size();
}

inline QSize richTextSize(const QFont &font, const QString &text, bool wrap, int width)
{
    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    doc.setHtml(text);
    if (wrap) {
        doc.setTextWidth(std::max(1, width));
        return QSize(int(std::ceil(doc.idealWidth())), int(std::ceil(doc.size().height())));
    }
    return doc.size().toSize();
}

inline void checkLabel(QLabel *l, QVector<Clip> &out)
{
    const QRect cr = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
    const QPixmap picture = l->pixmap();
    if (!picture.isNull()) {
        /* A picture (a panel's, with its own words on it) is cut as well. */
        const QSize need = picture.deviceIndependentSize().toSize();
        const QRect shown = shownPart(l, cr);
        if (!l->hasScaledContents() && (need.width() > shown.width() || need.height() > shown.height()))
            out.append({describe(l),
                        QStringLiteral("[picture] in a label of %1x%2").arg(l->width()).arg(l->height()),
                        need, shown.size()});
        return;
    }
    const QString text = l->text();
    if (text.isEmpty())
        return;
    const bool rich =
        l->textFormat() == Qt::RichText || (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    const QSize need = rich ? richTextSize(l->font(), text, l->wordWrap(), cr.width())
                            : plainTextSize(l->font(), text, l->wordWrap(), cr.width());
    const QRect shown = shownPart(l, cr);
    /* A line's leading may hang one pixel below a box that holds its glyphs. */
    if (need.width() <= shown.width() + kBearing && need.height() <= shown.height() + 1)
        return;
    if (elidedWithToolTip(l, text) && need.width() <= shown.width())
        return;
    out.append({describe(l), text, need, shown.size()});
}

inline void checkButton(QAbstractButton *b, QVector<Clip> &out)
{
    const QString text = b->text();
    if (text.isEmpty())
        return;
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = text;
    opt.icon = b->icon();
    opt.iconSize = b->iconSize();
    QStyle::SubElement element = QStyle::SE_PushButtonContents;
    if (auto *p = qobject_cast<QPushButton *>(b)) {
        if (p->isFlat())
            opt.features |= QStyleOptionButton::Flat;
    } else if (qobject_cast<QCheckBox *>(b)) {
        element = QStyle::SE_CheckBoxContents;
    } else if (qobject_cast<QRadioButton *>(b)) {
        element = QStyle::SE_RadioButtonContents;
    } else {
        return;
    }
    const QRect cr = b->style()->subElementRect(element, &opt, b);
    QSize need = QFontMetrics(b->font()).size(Qt::TextShowMnemonic, text);
    if (!opt.icon.isNull())
        need.rwidth() += opt.iconSize.width() + 4;
    const QRect shown = shownPart(b, cr);
    if (need.width() <= shown.width() + kBearing && need.height() <= shown.height() + 1)
        return;
    if (elidedWithToolTip(b, text) && need.width() <= shown.width())
        return;
    out.append({describe(b), text, need, shown.size()});
}

inline void checkSwitch(KORUHVSwitch *s, QVector<Clip> &out)
{
    for (const bool checked : {true, false}) {
        const QString text = checked ? s->getOnString() : s->getOffString();
        if (text.isEmpty())
            continue;
        const KORUHVSwitchGeometry g = KORUHVSwitchGeometryFor(s->width(), s->height(), checked);
        const QSize need = QFontMetrics(s->textFont(checked)).size(0, text);
        const QRect shown = shownPart(s, g.textBox);
        if (need.width() > shown.width() + kBearing || need.height() > shown.height() + 1)
            out.append({describe(s), text, need, shown.size()});
    }
}

/* Every visible text under top (top included) that does not fit. */
inline QVector<Clip> clippedTexts(QWidget *top)
{
    QVector<Clip> out;
    QList<QWidget *> all = top->findChildren<QWidget *>();
    all.prepend(top);
    for (QWidget *w : all) {
        if (!w->isVisible() || (w != top && w->window() != top->window()))
            continue;
        if (auto *s = qobject_cast<KORUHVSwitch *>(w))
            checkSwitch(s, out);
        else if (auto *l = qobject_cast<QLabel *>(w))
            checkLabel(l, out);
        else if (auto *b = qobject_cast<QAbstractButton *>(w))
            checkButton(b, out);
    }
    return out;
}

inline QString report(const QVector<Clip> &clips)
{
    QString s;
    for (const Clip &c : clips)
        s += QStringLiteral("  \"%1\" needs %2x%3, has %4x%5: %6\n")
                 .arg(QString(c.text).replace(QLatin1Char('\n'), QLatin1String("\\n")))
                 .arg(c.need.width())
                 .arg(c.need.height())
                 .arg(c.have.width())
                 .arg(c.have.height())
                 .arg(c.widget);
    return s;
}

} // namespace textfit

#endif
