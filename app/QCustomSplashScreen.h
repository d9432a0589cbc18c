/* The start-up splash: a click repaints "Please wait..." and ends it. */
#ifndef QCUSTOMSPLASHSCREEN_H
#define QCUSTOMSPLASHSCREEN_H

#include <QSplashScreen>

class QMainWindow;

class QCustomSplashScreen : public QSplashScreen {
    Q_OBJECT
public:
    QCustomSplashScreen(QWidget *parent, const QPixmap &pixmap, Qt::WindowFlags flags = {});

    /* finish(mainWin) the first time; every later call, and every click
     * while or after the splash ends, does nothing. */
    void finishOnce(QWidget *mainWin);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void clickedWhileWaiting();
    QMainWindow *mainWindow;
    bool ending = false;
};

#endif
