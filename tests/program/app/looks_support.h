/* Shared steps of the look checks: the shipped look on the application, the
 * main window at a screen size, and every system dialog that the panel's
 * command buttons open, each walked for clipped texts. */
#ifndef LOOKS_SUPPORT_H
#define LOOKS_SUPPORT_H

#include "MainWindow.h"
#include "ProgramStartup.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "app_test_support.h"
#include "text_fit.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <set>

namespace looks {

/* The font and the style sheet the program applies at start. */
inline void applyShippedLook()
{
    KORUHVRegisterFont();
    qApp->setStyleSheet(KORUHVReadStyleSheet(QStringLiteral(":/Resources/stylesheet-3.qss")));
}

/* Lets pending layouts and polish run. */
inline void settle()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
}

inline void showAt(MainWindow *w, QSize size)
{
    w->resize(size);
    w->show();
    (void)QTest::qWaitForWindowExposed(w, 60000);
    w->resize(size);
    settle();
}

/* Clicks every visible command button of the panel; each modal window it
 * opens (dialogs and confirmation boxes, and what those open) is walked
 * once shown, then rejected. Returns what was clipped, and counts the
 * buttons clicked and the windows walked. */
inline QVector<textfit::Clip> walkPanelDialogs(QSystemInformations *panel, int *walked, int *clicked)
{
    QVector<textfit::Clip> clips;
    *walked = 0;
    *clicked = 0;
    for (int i = 0; i < syspanel::CommandButtonCount; ++i) {
        QPushButton *b = panel->commandButton(static_cast<syspanel::Cmd>(i));
        /* The 48 V button switches, it opens nothing. */
        if (!b || !b->isVisible() || !b->isEnabled() || b->isCheckable())
            continue;
        std::set<QWidget *> seen;
        QTimer poll;
        int ticks = 0;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (++ticks > 1500) { /* a guard against a hang, not a bound under test */
                poll.stop();
                return;
            }
            QWidget *m = QApplication::activeModalWidget();
            if (!m || seen.count(m))
                return;
            seen.insert(m);
            /* Let it lay itself out at its shown size first. */
            QPointer<QWidget> guard(m);
            QTimer::singleShot(150, m, [&, guard] {
                if (!guard)
                    return;
                const QVector<textfit::Clip> c = textfit::clippedTexts(guard);
                clips += c;
                ++*walked;
                if (auto *box = qobject_cast<QMessageBox *>(guard.data())) {
                    QAbstractButton *no = box->button(QMessageBox::No);
                    if (!no)
                        no = box->button(QMessageBox::Cancel);
                    if (no)
                        no->click();
                    else
                        box->reject();
                } else if (auto *d = qobject_cast<QDialog *>(guard.data())) {
                    d->reject();
                } else {
                    guard->close();
                }
            });
        });
        poll.start();
        ++*clicked;
        b->click();
        poll.stop();
        settle();
    }
    return clips;
}

} // namespace looks

#endif
