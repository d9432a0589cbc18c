/* Shared helpers of the shell's tests: answering modal boxes, a temporary
 * working folder and settings path, the event server on a free loopback
 * port, fake systems, and counting the process's threads. */
#ifndef APP_TEST_SUPPORT_H
#define APP_TEST_SUPPORT_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QVector>

#include <functional>

#include "wait_progress.h"

/* One modal box seen by the answerer. */
struct BoxRecord {
    QString className;
    QString title;
    QString text;
    QString informativeText;
    QStringList buttons;
};

/* Answers every modal box (never a progress dialog) from a timer: records it
 * and clicks the button whose text is `click` (the default button, else the
 * first, when none matches); other modal dialogs are rejected. Stops after
 * `limitMs` so that no test can hang on it (only a hang: the default
 * bound counts minutes). */
class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    explicit ModalAnswerer(QString click = QString(), int limitMs = koru_test::kHangGuardMs);
    QVector<BoxRecord> boxes;
    QString click;

private:
    void poll();
    QTimer timer;
    int limit;
    int elapsed = 0;
};

/* Working folder, settings folder and manual handler of one test. */
class ShellTestEnvironment : public QObject {
    Q_OBJECT
public:
    ShellTestEnvironment();
    ~ShellTestEnvironment() override;
    QString path(const QString &name) const { return dir.filePath(name); }
    QVector<QUrl> openedUrls;
    bool urlHandlerResult = true;

public Q_SLOTS:
    void openUrl(const QUrl &url);

private:
    QTemporaryDir dir;
    QString oldCurrent;
};

/* The event server moved to 127.0.0.1 and a free port below 32768; started. */
unsigned short startTestEventServer();
/* A free TCP port on the address, below 32768. */
unsigned short freeLoopbackPort(const char *address = "127.0.0.1");

/* Threads of this process that carry its own name (entries of
 * /proc/self/task): ours, not the ones Qt starts and names itself. */
int processThreadCount();

/* Polls until cond holds; processes events meanwhile. The default bound
 * only catches a hang (see wait_progress.h). */
bool waitUntil(const std::function<bool()> &cond, int timeoutMs = koru_test::kHangGuardMs);

#endif
