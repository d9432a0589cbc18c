// Serial ports: raw mode, reads that return at once, replies ended by a
// CR/LF pair within 600 ms.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link.h"

namespace koruhv {

namespace {

constexpr int kSerialReplyBudgetMs = 600;
constexpr int kSerialWriteWaitMs = 2000;

speed_t speedFor(int baud)
{
    switch (baud) {
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 230400:
        return B230400;
    default:
        return B115200;
    }
}

tcflag_t sizeFor(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

long long nowMs()
{
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

int Serial_Open(const char *port, int baud, int dataBits, int stopBits, int parity, int flow, int *fd)
{
    if (fd)
        *fd = -1;
    if (!port || !*port || !fd)
        return LINK_SERIAL_OPEN;
    char path[256];
    if (std::snprintf(path, sizeof path, "/dev/%s", port) >= static_cast<int>(sizeof path))
        return LINK_SERIAL_OPEN;

    struct termios tio {};
    const speed_t speed = speedFor(baud);
    tio.c_cflag = sizeFor(dataBits) | CREAD | CLOCAL;
    if (parity == 1) {
        tio.c_cflag |= PARENB;
    } else if (parity == 2) {
        tio.c_cflag |= PARENB | PARODD;
    } else {
        tio.c_iflag |= IGNPAR;
    }
    if (stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (flow == 1)
        tio.c_cflag |= CRTSCTS;
    else if (flow == 2)
        tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VEOF] = 4;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VMIN] = 1;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);

    // Opened without waiting for the modem lines, then used in blocking mode.
    const int d = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (d < 0)
        return LINK_SERIAL_OPEN;
    fcntl(d, F_SETFL, fcntl(d, F_GETFL, 0) & ~O_NONBLOCK);
    tcflush(d, TCIFLUSH);
    tcsetattr(d, TCSANOW, &tio);

    struct serial_struct ss {};
    if (ioctl(d, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ioctl(d, TIOCSSERIAL, &ss);
    }

    // Raw mode with reads that return at once; the control flags stay.
    struct termios raw {};
    if (tcgetattr(d, &raw) == 0) {
        raw.c_iflag = 0;
        raw.c_oflag = 0;
        raw.c_lflag = 0;
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        tcsetattr(d, TCSANOW, &raw);
    }

    char junk[256];
    while (::read(d, junk, sizeof junk) > 0) {
    }
    *fd = d;
    return LINK_OK;
}

int Serial_Close(int fd)
{
    if (fd >= 0)
        ::close(fd);
    return LINK_OK;
}

int Serial_ReadReply(int fd, char *buf, size_t cap)
{
    if (!buf || cap == 0)
        return LINK_FAILED;
    size_t len = strnlen(buf, cap - 1);
    buf[len] = '\0';
    const long long deadline = nowMs() + kSerialReplyBudgetMs;
    while (len + 1 < cap) {
        const long long left = deadline - nowMs();
        if (left <= 0)
            break;
        struct pollfd p {
            fd, POLLIN, 0
        };
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        size_t want = cap - 1 - len;
        if (want > 1023)
            want = 1023;
        const ssize_t n = ::read(fd, buf + len, want);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        len += static_cast<size_t>(n);
        buf[len] = '\0';
        if (len >= 2 && ((buf[len - 2] == '\r' && buf[len - 1] == '\n') ||
                         (buf[len - 2] == '\n' && buf[len - 1] == '\r')))
            break;
    }
    return len == 0 ? LINK_FAILED : LINK_OK;
}

int Serial_WriteString(int fd, const char *text)
{
    if (!text)
        return LINK_FAILED;
    const size_t len = std::strlen(text);
    // Non-blocking while writing, so that a port that stops taking bytes
    // (flow control, a unit gone) ends the write after a bounded wait.
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return LINK_FAILED;
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    size_t done = 0;
    int rc = LINK_OK;
    while (done < len) {
        const ssize_t n = ::write(fd, text + done, len - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p {
                fd, POLLOUT, 0
            };
            if (::poll(&p, 1, kSerialWriteWaitMs) > 0)
                continue;
        }
        rc = LINK_FAILED;
        break;
    }
    fcntl(fd, F_SETFL, flags);
    return rc;
}

} // namespace koruhv
