// Event data: routes an event socket to the reader it belongs to by the
// socket's peer address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "api_dispatch.h"
#include "local_events.h"

using namespace koruhv;

namespace {

constexpr int kNothingWaitMs = 100;

// Code 27 must not make the caller's loop spin: wait up to 100 ms for the
// socket to become readable; when data is already waiting (data that no
// reader takes), pause the whole time.
int nothingToRead(int sock)
{
    struct pollfd p {
        sock, POLLIN, 0
    };
    if (::poll(&p, 1, 0) != 0) {
        struct timespec t {
            0, kNothingWaitMs * 1000000L
        };
        while (nanosleep(&t, &t) != 0 && errno == EINTR) {
        }
    } else {
        p.revents = 0;
        ::poll(&p, 1, kNothingWaitMs);
    }
    return KORUHV_ERR_NO_EVENT_READER;
}

// The dotted text of the four address bytes at a, as inet_ntop writes it
// (which formats through printf, a cost at every batch).
bool dotted(const uint8_t *a, char *out, size_t cap)
{
    if (cap < INET_ADDRSTRLEN)
        return false;
    for (int i = 0; i < 4; ++i) {
        const unsigned v = a[i];
        if (v >= 100)
            *out++ = char('0' + v / 100);
        if (v >= 10)
            *out++ = char('0' + v / 10 % 10);
        *out++ = char('0' + v % 10);
        *out++ = i < 3 ? '.' : '\0';
    }
    return true;
}

bool peerText(int sock, char *out, size_t cap)
{
    struct sockaddr_storage ss {};
    socklen_t len = sizeof ss;
    if (getpeername(sock, reinterpret_cast<struct sockaddr *>(&ss), &len) != 0)
        return false;
    if (ss.ss_family == AF_INET) {
        const auto *a = reinterpret_cast<const struct sockaddr_in *>(&ss);
        return dotted(reinterpret_cast<const uint8_t *>(&a->sin_addr), out, cap);
    }
    if (ss.ss_family == AF_INET6) {
        const auto *a = reinterpret_cast<const struct sockaddr_in6 *>(&ss);
        if (IN6_IS_ADDR_V4MAPPED(&a->sin6_addr))
            return dotted(&a->sin6_addr.s6_addr[12], out, cap);
    }
    return false;
}

bool anyLocalInstanceOpen()
{
    for (const BackendOps *const *p = Backend_All(); *p; ++p) {
        const BackendOps *ops = Backend_ForFamily((*p)->family);
        if (ops && (ops->flags & BACKEND_LOCAL_EVENTS) && ops->AnyInstanceOpen && ops->AnyInstanceOpen())
            return true;
    }
    return false;
}

} // namespace

extern "C" int KORUHV_GetEventData(int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events,
                                   int *count)
{
    if (!status || !events || !count)
        return KORUHV_ERR_BAD_ARGUMENT;
    Sys_EnsureInit();
    char peer[INET_ADDRSTRLEN];
    if (!peerText(socket, peer, sizeof peer))
        return KORUHV_ERR_PEER_ADDRESS;
    if (std::strcmp(peer, "127.0.0.1") == 0) {
        if (!anyLocalInstanceOpen())
            return nothingToRead(socket);
        return ReadLocalEventBatch(socket, status, events, count);
    }
    SlotRoute route{};
    if (!Sys_RouteByAddress(peer, &route))
        return nothingToRead(socket);
    // No slot lock: the event thread reads beside the requests on the slot.
    const BackendOps *ops = Backend_ForFamily(route.family);
    if (!ops || !ops->GetEventData)
        return nothingToRead(socket);
    const BackendRef ref{route.backendHandle, route.libraryHandle, route.index};
    return ops->GetEventData(ref, socket, status, events, count);
}

extern "C" int KORUHVGetEventData(int socket, OldEventRecord **events, int *count)
{
    if (!events || !count)
        return KORUHV_ERR_BAD_ARGUMENT;
    Sys_EnsureInit();
    const BackendOps *ops = Backend_ForFamily(0);
    if (!ops || !ops->GetOldEventData)
        return nothingToRead(socket);
    return ops->GetOldEventData(socket, events, count);
}
