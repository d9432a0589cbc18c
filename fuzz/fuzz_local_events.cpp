// Local event batches (text modules and register-mapped units) as the
// event reader takes them from its socket: the input is what the peer sent,
// followed by the end of the connection.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "KORUHVWrapper.h"
#include "local_events.h"
#include "local_events_hooks.h"

using namespace koruhv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    static const bool once = [] {
        LocalEvents_SetReadWaitForTests(50);
        return true;
    }();
    (void)once;
    if (n > 60000)
        return 0; // stays within one socket buffer, so the write never blocks
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
    }
    ::close(sv[0]);
    ::close(sv[1]);
    return 0;
}
