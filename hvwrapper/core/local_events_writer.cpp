// Writing side of the local event batch: the polling threads of the local
// backends build a batch and send it from 127.0.0.1 to the event server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link.h"
#include "local_events.h"

namespace koruhv {

namespace {

constexpr int kSendTimeoutSec = 5;

void putBE32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace

EventBatchWriter::EventBatchWriter()
{
    clear();
}

void EventBatchWriter::clear()
{
    buf_.assign(kEventBatchHeaderSize, 0);
    std::memcpy(buf_.data(), "KORUHV", 6);
    putBE32(buf_.data() + 6, uint32_t(kEventBatchHeaderSize));
}

size_t EventBatchWriter::count() const
{
    return (buf_.size() - kEventBatchHeaderSize) / kEventWireRecordSize;
}

void EventBatchWriter::addRecord(int kind, int instance, int board, int channel, const char *name,
                                 const void *value, size_t len)
{
    const size_t at = buf_.size();
    buf_.resize(at + kEventWireRecordSize, 0);
    uint8_t *r = buf_.data() + at;
    const int32_t ints[4] = {kind, instance, board, channel};
    std::memcpy(r, ints, sizeof ints);
    if (name)
        std::memcpy(r + 16, name, strnlen(name, KORUHV_EVENT_NAME_SIZE - 1));
    if (value && len)
        std::memcpy(r + 36, value, len < 1024 ? len : 1024);
}

void EventBatchWriter::addFloat(int instance, int board, int channel, const char *name, float value)
{
    addRecord(EVK_NUMERIC, instance, board, channel, name, &value, sizeof value);
}

void EventBatchWriter::addInt(int kind, int instance, int board, int channel, const char *name, int32_t value)
{
    addRecord(kind, instance, board, channel, name, &value, sizeof value);
}

void EventBatchWriter::addText(int instance, int board, int channel, const char *name, const char *text)
{
    addRecord(EVK_STRING, instance, board, channel, name, text, text ? strnlen(text, 1023) : 0);
}

const std::vector<uint8_t> &EventBatchWriter::bytes()
{
    putBE32(buf_.data() + 6, uint32_t(buf_.size()));
    return buf_;
}

int LocalEvent_Connect(unsigned short port, const char *identText, int *sock)
{
    if (sock)
        *sock = -1;
    if (!identText || !sock)
        return -1;
    int s = -1;
    if (Tcp_Connect("127.0.0.1", &s, port) != LINK_OK)
        return -1;
    struct timeval tv {
        kSendTimeoutSec, 0
    };
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    // The event server tells the instances apart by this text, NUL included,
    // so it goes out in one piece.
    const size_t len = std::strlen(identText) + 1;
    ssize_t n;
    do {
        n = ::send(s, identText, len, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(len)) {
        ::close(s);
        return -1;
    }
    *sock = s;
    return 0;
}

int LocalEvent_Send(int sock, const void *data, size_t len)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::send(sock, p + done, len - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return -1; // peer gone or the send time-out ran out
    }
    return 0;
}

} // namespace koruhv
