/* Program-wide statics of the application shell that exist before the main
 * window: the change-log file name and its lock, the connection stop request,
 * and the internal hooks through which tests move the event server and the
 * splash wait (never program options). */
#ifndef SHELLGLOBALS_H
#define SHELLGLOBALS_H

#include <QMutex>
#include <QString>

extern QMutex logfileMutex;
extern QString logFilename;
extern QMutex stopFlagMutex;
extern bool stopFlag;

/* Reads stopFlag under its mutex. */
bool isStopRequested();

/* Event server: the local address bound (default: every address) and the
 * first port tried (default 4400, the value tcpPort starts with). */
void setEventServerAddressForTest(const QString &address);
QString eventServerAddress();
/* Time a local peer has to send its identification text (default 2000 ms,
 * KORUHV_IDENT_TIMEOUT_MS). */
void setIdentificationTimeoutForTest(int ms);
int identificationTimeoutMs();
/* Pause after an event read that found nothing (code 27). */
void setEventRetryPauseForTest(int ms);
int eventRetryPauseMs();
/* Time the start-up keeps the splash screen up (default 3000 ms). */
void setSplashWaitForTest(int ms);
int splashWaitMs();

#endif
