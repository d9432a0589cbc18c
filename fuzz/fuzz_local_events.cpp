// Local event batches (text modules and register-mapped units) as the
// event reader takes them from its socket: the input is what the peer sent,
// followed by the end of the connection.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "KORUHVWrapper.h"
#include "local_events.h"
#include "local_events_hooks.h"

using namespace koruhv;

namespace {
constexpr uint32_t kSlack = 1 << 16;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    static const bool once = [] {
        LocalEvents_SetReadWaitForTests(50);
        return true;
    }();
    (void)once;
    if (n > 60000)
        return 0; // stays within one socket buffer, so the write never blocks
    // The reader allocates the declared length before the body arrives. A
    // length far past the input only ends in the same short read, so such
    // inputs are left out rather than paying a fresh multi-megabyte mapping
    // each (which cut the runs per second tenfold).
    if (n >= 10) {
        const uint32_t total = (uint32_t(d[6]) << 24) | (uint32_t(d[7]) << 16) | (uint32_t(d[8]) << 8) | d[9];
        if (total > n + kSlack)
            return -1;
    }
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return 0;
    int size = 1 << 18;
    ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (n)
        (void)!::write(sv[0], d, n);
    ::shutdown(sv[0], SHUT_WR);
    for (int i = 0; i < 4; ++i) {
        KORUHV_SYSTEMSTATUS_t status{};
        EventRecord *events = nullptr;
        int count = 0;
        const int rc = ReadLocalEventBatch(sv[1], &status, &events, &count);
        if (rc != 0)
            break;
        KORUHV_FreeEventData(&events);
        // One record per 1060 bytes of the batch: never more than came.
        if (size_t(count) * kEventWireRecordSize > n)
            std::abort();
    }
    ::close(sv[0]);
    ::close(sv[1]);
    return 0;
}
