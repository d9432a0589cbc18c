// Link mutex wrappers and the small text helpers of the link layer.
#include <cerrno>
#include <cstring>

#include "link.h"

namespace koruhv {

void Link_InitRecursiveMutex(pthread_mutex_t *m)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
}

void Link_DestroyMutex(pthread_mutex_t *m)
{
    pthread_mutex_destroy(m);
}
void Link_LockMutex(pthread_mutex_t *m)
{
    pthread_mutex_lock(m);
}
void Link_UnlockMutex(pthread_mutex_t *m)
{
    pthread_mutex_unlock(m);
}

double ParseDecimal(const char *text)
{
    if (!text || !*text)
        return 0.0;
    const char *p = text;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    // Mantissa of every digit read, divided once by the power of ten of the
    // fraction digits: exact for the short numbers devices send.
    long double mantissa = 0;
    int intDigits = 0;
    while (*p >= '0' && *p <= '9' && intDigits < 39) {
        mantissa = mantissa * 10 + (*p++ - '0');
        ++intDigits;
    }
    long double scale = 1;
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') {
            mantissa = mantissa * 10 + (*p++ - '0');
            scale *= 10;
        }
    }
    double v = static_cast<double>(mantissa / scale);
    return negative ? -v : v;
}

void CommaToDot(char *text)
{
    if (!text)
        return;
    for (; *text; ++text)
        if (*text == ',')
            *text = '.';
}

const char *ErrnoText()
{
    thread_local char buf[256];
    const int saved = errno;
    const char *t = strerror_r(saved, buf, sizeof buf); // GNU form: may return a static text
    errno = saved;
    return t;
}

} // namespace koruhv
