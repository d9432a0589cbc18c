// Serial and TCP link layer shared by the text-protocol and rack-supply
// backends. Functions keep no state; a backend serialises every use of one
// descriptor with its link's recursive mutex.
#pragma once

#include <pthread.h>

#include <cstddef>

namespace koruhv {

// Result codes of the link layer.
enum LinkCode {
    LINK_OK = 0,
    LINK_SEND_FAILED = 2,
    LINK_SERIAL_OPEN = 8,
    LINK_NULL_TEXT = 23,
    LINK_FAILED = 29,
    LINK_CLOSE_ZERO = 4101,
};

void Link_InitRecursiveMutex(pthread_mutex_t *m);
void Link_DestroyMutex(pthread_mutex_t *m);
void Link_LockMutex(pthread_mutex_t *m);
void Link_UnlockMutex(pthread_mutex_t *m);

// Opens "/dev/<port>" (raw, non-blocking reads); 0 and *fd, or 8.
int Serial_Open(const char *port, int baud, int dataBits, int stopBits, int parity, int flow, int *fd);
int Serial_Close(int fd);
// Appends one reply (ended by "\r\n" or "\n\r") to buf, which holds at most
// cap bytes including the NUL; 600 ms for the whole reply. 0, or 29 when the
// buffer stays empty.
int Serial_ReadReply(int fd, char *buf, size_t cap);
int Serial_WriteString(int fd, const char *text);

// Connects to an IPv4 address within 5 s; 0 and *sock, or 29 (also for a
// refused connection).
int Tcp_Connect(const char *ip, int *sock, unsigned short port);
int Tcp_Close(int sock);
// Reads one reply ended by '\n' into buf (cap bytes including the NUL). The
// first bytes are awaited 1 s, every later receive is bounded too.
int Tcp_ReadReply(int sock, char *buf, size_t cap);
int Tcp_SendString(int sock, const char *text);

// Locale-independent decimal text to double (devices send '.').
double ParseDecimal(const char *text);
void CommaToDot(char *text);
const char *ErrnoText();

} // namespace koruhv
