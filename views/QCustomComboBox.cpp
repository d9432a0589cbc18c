#include "QCustomComboBox.h"

#include "KORUHVEditStyles.h"

#include <QLineEdit>
#include <QWheelEvent>

QCustomComboBox::QCustomComboBox(QWidget *parent) : QComboBox(parent)
{
    restStyleSheet = QStringLiteral("QAbstractItemView { background-color:lightgrey; "
                                    "selection-background-color:#383838; selection-color:#bfff27; }");
    setStyleSheet(restStyleSheet);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void QCustomComboBox::setAlignmentRight()
{
    setEditable(true);
    lineEdit()->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (int i = 0; i < count(); ++i)
        setItemData(i, int(Qt::AlignRight), Qt::TextAlignmentRole);
    lineEdit()->setReadOnly(true);
}

void QCustomComboBox::setIsTableWidgetChild()
{
    isTableWidgetChild = true;
    setObjectName(QStringLiteral("tableWidgetChild"));
}

void QCustomComboBox::setIsDialogChild()
{
    isDialogChild = true;
    setObjectName(QStringLiteral("comboDialogChild"));
}

void QCustomComboBox::clearComboCurrentText()
{
    if (isTableWidgetChild && lineEdit())
        lineEdit()->setText(QString());
}

void QCustomComboBox::mousePressEvent(QMouseEvent *event)
{
    QComboBox::mousePressEvent(event);
}

/* The wheel never changes a choice: it scrolls the view around the combo. */
void QCustomComboBox::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}

void QCustomComboBox::keyPressEvent(QKeyEvent *event)
{
    if (!isTableWidgetChild) {
        QComboBox::keyPressEvent(event);
        return;
    }
    setStyleSheet(koruviews::cellStyleSheet());
    const int key = event->key();
    if (key >= Qt::Key_Left && key <= Qt::Key_Down) {
        event->ignore();
        return;
    }
    if (key == Qt::Key_Space) {
        const int next = currentIndex() + 1;
        setCurrentIndex(next >= count() ? 0 : next);
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void QCustomComboBox::focusInEvent(QFocusEvent *event)
{
    if (isTableWidgetChild)
        setStyleSheet(koruviews::cellStyleSheet());
    QComboBox::focusInEvent(event);
}

void QCustomComboBox::focusOutEvent(QFocusEvent *event)
{
    setStyleSheet(restStyleSheet);
    QComboBox::focusOutEvent(event);
}
