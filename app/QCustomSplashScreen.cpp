#include "QCustomSplashScreen.h"

#include <QMainWindow>

QCustomSplashScreen::QCustomSplashScreen(QWidget *parent, const QPixmap &pixmap, Qt::WindowFlags flags)
    : QSplashScreen(pixmap, flags), mainWindow(qobject_cast<QMainWindow *>(parent))
{
    /* Qt 6 gives a splash no parent widget: the main window is only kept. */
    setAttribute(Qt::WA_DeleteOnClose);
}

void QCustomSplashScreen::clickedWhileWaiting()
{
    showMessage(QStringLiteral("Please wait..."), Qt::AlignLeft | Qt::AlignBottom, Qt::white);
    if (mainWindow)
        finish(mainWindow);
}

void QCustomSplashScreen::mousePressEvent(QMouseEvent *)
{
    clickedWhileWaiting();
}

void QCustomSplashScreen::mouseDoubleClickEvent(QMouseEvent *)
{
    clickedWhileWaiting();
}
