// Reading side of the local event batch (KORUHV_GetEventData for sockets
// whose peer is 127.0.0.1).
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "local_events.h"
#include "local_events_hooks.h"

namespace koruhv {

namespace {

constexpr int kDefaultReadWaitMs = 15000;
std::atomic<int> g_readWaitMs{0};

int readWaitMs()
{
    const int v = g_readWaitMs.load();
    return v > 0 ? v : kDefaultReadWaitMs;
}

// Receives exactly len bytes; false on failure or when the peer closes.
bool recvAll(int sock, uint8_t *p, size_t len)
{
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::recv(sock, p + done, len - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

void LocalEvents_SetReadWaitForTests(int ms)
{
    g_readWaitMs.store(ms);
}

int ReadLocalEventBatch(int sock, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events, int *count)
{
    if (!status || !events || !count)
        return KORUHV_ERR_BAD_ARGUMENT;
    const int waitMs = readWaitMs();
    struct pollfd pfd {
        sock, POLLIN, 0
    };
    int r;
    do {
        r = ::poll(&pfd, 1, waitMs);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return KORUHV_ERR_EVENT_TIMEOUT;
    if (r < 0)
        return KORUHV_ERR_EVENT_SOCKET;
    struct timeval tv {
        waitMs / 1000, (waitMs % 1000) * 1000
    };
    if (setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return KORUHV_ERR_EVENT_SOCKET;

    uint8_t header[kEventBatchHeaderSize];
    if (!recvAll(sock, header, sizeof header))
        return KORUHV_ERR_EVENT_SOCKET;
    // The magic and a zero first length byte: batches of 16 MiB or more are
    // refused as well.
    static const uint8_t kMagic[7] = {'K', 'O', 'R', 'U', 'H', 'V', 0};
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0)
        return KORUHV_ERR_EVENT_HEADER;
    const uint32_t total = (uint32_t(header[6]) << 24) | (uint32_t(header[7]) << 16) |
                           (uint32_t(header[8]) << 8) | uint32_t(header[9]);
    if (total < kEventBatchHeaderSize)
        return KORUHV_ERR_EVENT_HEADER;

    const size_t bodyLen = total - kEventBatchHeaderSize;
    uint8_t *body = static_cast<uint8_t *>(std::malloc(bodyLen ? bodyLen : 1));
    if (!body)
        return KORUHV_ERR_NO_MEMORY;
    if (!recvAll(sock, body, bodyLen)) {
        std::free(body);
        return KORUHV_ERR_EVENT_SOCKET;
    }

    const size_t n = bodyLen / kEventWireRecordSize;
    auto *out = static_cast<EventRecord *>(std::calloc(n ? n : 1, sizeof(EventRecord)));
    if (!out) {
        std::free(body);
        return KORUHV_ERR_NO_MEMORY;
    }
    for (size_t i = 0; i < n; ++i) {
        const uint8_t *w = body + i * kEventWireRecordSize;
        int32_t ints[4];
        std::memcpy(ints, w, sizeof ints);
        EventRecord &e = out[i];
        e.type = 0;
        e.system = ints[1];
        e.board = ints[2];
        e.channel = ints[3];
        std::memcpy(e.name, w + 16, KORUHV_EVENT_NAME_SIZE);
        const char *value = reinterpret_cast<const char *>(w + 36);
        switch (ints[0]) {
        case EVK_NUMERIC:
        case EVK_ONOFF:
        case EVK_CHSTATUS:
        case EVK_BDSTATUS:
        case EVK_BINARY:
        case EVK_ENUM:
            std::memcpy(&e.value, value, 4);
            break;
        case EVK_STRING:
            std::memcpy(e.value.StringValue, value, strnlen(value, 1023));
            break;
        default:
            break;
        }
    }
    std::memset(status, 0, sizeof *status);
    std::free(body);
    *events = out;
    *count = static_cast<int>(n);
    return KORUHV_OK;
}

} // namespace koruhv
