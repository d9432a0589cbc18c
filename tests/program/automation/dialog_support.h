// Helpers of the dialog tests: a main window that registers itself as the
// program's, and answers to modal boxes from a bounded timer.
#ifndef AUTOMATION_DIALOG_SUPPORT_H
#define AUTOMATION_DIALOG_SUPPORT_H

#include "AppGlobals.h"

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace autotest {

class TestMainWindow : public QMainWindow, public MainWindowServices {
public:
    TestMainWindow() { setMainWindow(this); }
    ~TestMainWindow() override { setMainWindow(nullptr); }
    void removeBoardFromGroups(int, unsigned short) override {}
    QMainWindow *mainWindowWidget() override { return this; }
};

// Calls answer(box) once on the next modal widget that shows up within
// timeoutMs; the timer stops itself either way.
inline void answerNextModal(std::function<void(QWidget *)> answer, int timeoutMs = 60000,
                            QWidget *notThis = nullptr)
{
    auto *timer = new QTimer();
    auto *elapsed = new int(0);
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, answer, timeoutMs, notThis] {
        *elapsed += 10;
        QWidget *w = QApplication::activeModalWidget();
        if ((w && w != notThis) || *elapsed > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete elapsed;
            if (w && w != notThis)
                answer(w);
        }
    });
    timer->start(10);
}

} // namespace autotest

#endif
