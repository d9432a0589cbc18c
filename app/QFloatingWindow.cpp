#include "QFloatingWindow.h"

#include <QCloseEvent>

QFloatingWindow::QFloatingWindow(QWidget *parent, int index, QString title)
    : QMainWindow(parent), widgetIndex(index)
{
    setWindowFlag(Qt::Window);
    setWindowTitle(title);
    setObjectName(title);
}

void QFloatingWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
}
