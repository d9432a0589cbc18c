#include "QCustomDoubleSpinBox.h"

#include "KORUHVEditStyles.h"

#include <QLocale>

QCustomDoubleSpinBox::QCustomDoubleSpinBox(bool flag, QWidget *parent)
    : QDoubleSpinBox(parent), constructorFlag(flag)
{
    setContextMenuPolicy(Qt::NoContextMenu);
    restStyleSheet = styleSheet();
    /* "." is the decimal separator whatever the system locale. */
    setLocale(QLocale::c());
    setDecimals(1);
}

void QCustomDoubleSpinBox::setAlignmentRight()
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void QCustomDoubleSpinBox::restyle()
{
    QString sheet;
    if (koruviews::workingStyleSheet(isTableWidgetChild, isDialogChild, &sheet))
        setStyleSheet(sheet);
}

void QCustomDoubleSpinBox::mousePressEvent(QMouseEvent *event)
{
    if (isReadOnly())
        return;
    restyle();
    QDoubleSpinBox::mousePressEvent(event);
}

/* A double click selects nothing by itself here: it restyles and then acts
 * as a press, like the first click. */
void QCustomDoubleSpinBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (isReadOnly())
        return;
    restyle();
    QDoubleSpinBox::mousePressEvent(event);
}

void QCustomDoubleSpinBox::keyPressEvent(QKeyEvent *event)
{
    restyle();
    if (koruviews::fieldRefusesKey(event->key(), isTableWidgetChild)) {
        event->ignore();
        return;
    }
    QDoubleSpinBox::keyPressEvent(event);
}

void QCustomDoubleSpinBox::focusInEvent(QFocusEvent *event)
{
    if (isReadOnly())
        return;
    restyle();
    QDoubleSpinBox::focusInEvent(event);
}

void QCustomDoubleSpinBox::focusOutEvent(QFocusEvent *event)
{
    setStyleSheet(restStyleSheet);
    QDoubleSpinBox::focusOutEvent(event);
}
