#include "crate_events.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace koruhv {

int Crate_WaitReadable(int sock, int ms)
{
    pollfd p{sock, POLLIN, 0};
    int r;
    do
        r = ::poll(&p, 1, ms);
    while (r < 0 && errno == EINTR);
    return r;
}

int Crate_SendItemList(CrateContext &ctx, const char *keyword, short port, uint16_t count, uint8_t *list,
                       size_t listLen, CrateReply *reply)
{
    RequestBuffer args(ByteOrder::Big);
    const bool built = args.put16(uint16_t(port)) && args.put16(count) && args.raw(list, listLen);
    std::free(list);
    if (!built)
        return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
    return Crate_Request(ctx, keyword, &args, reply);
}

int Crate_SendUnsubscribe(CrateContext &ctx, const char *keyword, short port, uint16_t count, uint8_t *ids,
                          size_t idsLen, char *results)
{
    const int rc = Crate_SendItemList(ctx, keyword, port, count, ids, idsLen, nullptr);
    if (rc)
        return rc;
    if (results)
        std::memset(results, 0, count);
    ctx.status = 0;
    return 0;
}

bool Crate_ReplyIds(const CrateReply &reply, uint16_t count, ByteCursor *ids)
{
    ByteCursor cur = reply.data(ByteOrder::Big);
    cur.skip(3);
    if (!cur.ok() || cur.remaining() < size_t(count) * 4)
        return false;
    *ids = cur;
    return true;
}

} // namespace koruhv
