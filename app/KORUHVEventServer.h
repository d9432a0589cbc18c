/* The program's inbound event server and the per-system event readers.
 *
 * One server thread for the run accepts the event connections of the
 * connected systems (a crate from its own address, a local backend from
 * 127.0.0.1 with its identification text first) and hands each to the first
 * matching system, which starts a reader on it. Server and readers report to
 * the event sink they are given (KORUHVEventSink.h) and never touch widgets
 * or nodes. The server is stopped and joined by stopEventServer(). */
#ifndef KORUHVEVENTSERVER_H
#define KORUHVEVENTSERVER_H

#include <QByteArray>
#include <QString>

class QSystemInterface;

/* Starts the server thread; false when it cannot be created. */
bool startEventServer();
/* Wakes the server, closes its sockets and joins it (idempotent). */
void stopEventServer();
bool eventServerRunning();

/* Thread entry of the server (the argument is not used). */
void *TcpServerThread(void *);
/* Tells the main window that the server could not be set up. */
void TcpServerWarning();
/* Thread entry of an event reader over the interface's current socket. */
void *KORUHVEventsThread(void *interface);
/* The reader's loop on one socket (-1: a P8080's "EventDataSocket"). */
void KORUHVRunEventReader(QSystemInterface *sysIf, int socket);

/* Identification text of a local peer, gathered from what has arrived so
 * far: returns 1 with the text (bytes before the NUL) and the number of bytes
 * it used (NUL included), 0 when more is needed, -1 when 80 bytes came
 * without a NUL. Never uses a byte behind the NUL. */
int KORUHVParseIdentification(const QByteArray &received, QByteArray *text, int *used);

/* Longest identification text (NUL included) and its time limit. */
constexpr int KORUHV_IDENT_MAX = 80;
constexpr int KORUHV_IDENT_TIMEOUT_MS = 2000;
/* Bounds no installation reaches, against anyone on the machine who opens
 * connections: local peers waiting for their identification at a time
 * (more are refused), and streams of one system beside its first (a
 * reconnecting device, or anyone connecting from its address). */
constexpr int KORUHV_MAX_WAITING_PEERS = 32;
constexpr int KORUHV_MAX_FURTHER_STREAMS = 3;
/* Pause of the accepts while the process or the system is out of
 * descriptors (or of memory for sockets). */
constexpr int KORUHV_ACCEPT_PAUSE_MS = 100;
/* Accepts that failed so since the program started. */
int eventServerAcceptFailures();

#endif
