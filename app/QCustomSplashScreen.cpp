#include "QCustomSplashScreen.h"

#include <QMainWindow>

QCustomSplashScreen::QCustomSplashScreen(QWidget *parent, const QPixmap &pixmap, Qt::WindowFlags flags)
    : QSplashScreen(pixmap, flags), mainWindow(qobject_cast<QMainWindow *>(parent))
{
    /* Qt 6 gives a splash no parent widget: the main window is only kept. */
    setAttribute(Qt::WA_DeleteOnClose);
}

void QCustomSplashScreen::finishOnce(QWidget *mainWin)
{
    /* finish() processes events (deferred deletes included) while it waits
     * for the main window: a click then would finish again, the inner call
     * would close and so free the splash, and the outer one would go on
     * over the freed object. */
    if (ending)
        return;
    ending = true;
    finish(mainWin);
}

void QCustomSplashScreen::clickedWhileWaiting()
{
    showMessage(QStringLiteral("Please wait..."), Qt::AlignLeft | Qt::AlignBottom, Qt::white);
    if (mainWindow)
        finishOnce(mainWindow);
}

void QCustomSplashScreen::mousePressEvent(QMouseEvent *)
{
    clickedWhileWaiting();
}

void QCustomSplashScreen::mouseDoubleClickEvent(QMouseEvent *)
{
    clickedWhileWaiting();
}
