/* Shared helpers of the connection tests: a main window stand-in that
 * records every connection request, and a settings store in a temporary
 * folder. */
#ifndef CONNECT_TEST_SUPPORT_H
#define CONNECT_TEST_SUPPORT_H

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include <gtest/gtest.h>

#include "AppGlobals.h"
#include "ConnectionRequest.h"
#include "qt_gtest_print.h"

inline void PrintTo(const koruconnect::ConnectionRequest &r, std::ostream *os)
{
    *os << "{" << r.sysType << ", " << r.linkType << ", \"" << r.initParam.toStdString() << "\", \""
        << r.name.toStdString() << "\", \"" << r.userOrBoard.toStdString() << "\", \""
        << r.password.toStdString() << "\"}";
}

/* Records each request and, like the real main window, processes events
 * while it connects. */
class RecordingMainWindow : public MainWindowServices {
public:
    QList<koruconnect::ConnectionRequest> requests;
    void removeBoardFromGroups(int, unsigned short) override {}
    void connectDialogCallback(int sysType, int linkType, QString initParam, QString name,
                               QString userOrBoard, QString password) override
    {
        requests.append({sysType, linkType, initParam, name, userOrBoard, password});
        QCoreApplication::processEvents();
    }
};

/* Runs fn inside a running event loop, as the program's clicks run, then
 * lets deferred deletions happen (the dialog deletes itself on close). */
inline void inEventLoop(const std::function<void()> &fn)
{
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        fn();
        // Behind whatever fn queued (the dialog's requests run from the loop).
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
    });
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

/* Settings of the run in a fresh temporary folder. */
class TempSettings {
public:
    TempSettings()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }
    QTemporaryDir dir;
};

#endif
