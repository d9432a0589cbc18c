/* Shared helpers of the shell's tests: the answer to modal boxes they share,
 * a temporary working folder and settings path, the event server on a free
 * loopback port, fake systems, and counting the process's threads. */
#ifndef APP_TEST_SUPPORT_H
#define APP_TEST_SUPPORT_H

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <QStringList>

#include <functional>
#include <mutex>

#include "modal_answer.h"
#include "wait_progress.h"

/* Modal boxes: koru_test::ModalAnswerer (modal_answer.h). The shell's tests
 * answer every box they do not script with clickButton(): the button named,
 * else the box's default one; other dialogs are rejected. */
using koru_test::clickButton;
using koru_test::ModalAnswerer;

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

/* The event server moved to 127.0.0.1 and a free port below 32768, with its
 * identification time restored; started. */
unsigned short startTestEventServer();
/* A free TCP port on the address, below 32768. */
unsigned short freeLoopbackPort(const char *address = "127.0.0.1");

/* Threads of this process that carry its own name (entries of
 * /proc/self/task): ours, not the ones Qt starts and names itself. */
int processThreadCount();

/* Open descriptors of this process (entries of /proc/self/fd). */
int openDescriptorCount();

/* Every line of the program's log while it lives, from any thread (passed
 * on to the handler before it). One at a time. */
class ProgramLog {
public:
    ProgramLog();
    ~ProgramLog();
    ProgramLog(const ProgramLog &) = delete;
    ProgramLog &operator=(const ProgramLog &) = delete;
    bool has(const QString &part) const { return !find(part).isNull(); }
    /* The first line holding the text; a null string when none does. */
    QString find(const QString &part) const;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);
    mutable std::mutex mutex;
    QStringList seen;
    QtMessageHandler previous = nullptr;
};

/* Polls until cond holds; processes events meanwhile. The default bound
 * only catches a hang (see wait_progress.h). */
bool waitUntil(const std::function<bool()> &cond, int timeoutMs = koru_test::kHangGuardMs);

#endif
