#include "QCustomLineEdit.h"

#include "KORUHVEditStyles.h"

QCustomLineEdit::QCustomLineEdit(bool flag, QWidget *parent) : QLineEdit(parent), constructorFlag(flag)
{
    setContextMenuPolicy(Qt::NoContextMenu);
}

void QCustomLineEdit::setAlignmentRight()
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void QCustomLineEdit::restyle()
{
    QString sheet;
    if (koruviews::workingStyleSheet(isTableWidgetChild, isDialogChild, &sheet))
        setStyleSheet(sheet);
}

void QCustomLineEdit::mousePressEvent(QMouseEvent *event)
{
    if (isReadOnly())
        return;
    restyle();
    QLineEdit::mousePressEvent(event);
}

void QCustomLineEdit::keyPressEvent(QKeyEvent *event)
{
    restyle();
    if (koruviews::fieldRefusesKey(event->key(), isTableWidgetChild)) {
        event->ignore();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void QCustomLineEdit::focusInEvent(QFocusEvent *event)
{
    if (isReadOnly())
        return;
    restyle();
    QLineEdit::focusInEvent(event);
}

void QCustomLineEdit::focusOutEvent(QFocusEvent *event)
{
    setStyleSheet(restStyleSheet);
    QLineEdit::focusOutEvent(event);
}
