/* Where the event server and the event readers report: the one receiver of
 * what arrives from the connected systems (the main window implements it).
 *
 * The readers and the server run on their own threads and call these from
 * there; an implementation hands everything over to the GUI thread and never
 * touches widgets or nodes in the calling thread. The sink in use is given
 * with KORUHVSetEventSink() and taken away (null) before it is destroyed;
 * the threads read it at each report, so one taken away is not called again
 * once the threads that held it are joined. */
#ifndef KORUHVEVENTSINK_H
#define KORUHVEVENTSINK_H

#include "KORUHVWrapper.h"

#include <QString>
#include <QtGlobal>

class QSystemInterface;

class KORUHVEventSink {
public:
    /* A reader's whole batch; the records are taken over and freed once
     * applied. */
    virtual void postEventBatch(QSystemInterface *sysIf, const KORUHV_SYSTEMSTATUS_t &status,
                                EventRecord *records, int count, quint64 serial) = 0;
    /* The reader's connection failed: the system is lost. */
    virtual void emitSystemDisconnected(QSystemInterface *sysIf, int errorCode, quint64 serial) = 0;
    /* The server could not be set up. */
    virtual void emitTcpServerError() = 0;
    /* An accepted connection for the system with that address text; false
     * when none takes it (the caller closes it). */
    virtual bool bindEventConnection(int socket, const QString &ident) = 0;

protected:
    ~KORUHVEventSink() = default;
};

/* Gives the sink the server and the readers report to (null: none; reports
 * are then dropped and the readers end). Any thread. */
void KORUHVSetEventSink(KORUHVEventSink *sink);
KORUHVEventSink *KORUHVGetEventSink();

#endif
