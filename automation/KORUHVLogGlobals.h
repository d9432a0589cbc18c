/* The change log's file choice shared by the data-logging dialog (GUI
 * thread, writes) and the log writer threads (read once per batch):
 * logFilename is read and written only under logfileMutex, which is never
 * held together with a queue lock or the append lock. Empty = the default
 * file in the home folder. */
#ifndef KORUHVLOGGLOBALS_H
#define KORUHVLOGGLOBALS_H

#include <QMutex>
#include <QString>

extern QMutex logfileMutex;
extern QString logFilename;

/* A copy of logFilename taken under its lock. */
QString currentLogFilename();
/* Sets logFilename under its lock. */
void setLogFilename(const QString &name);

#endif
