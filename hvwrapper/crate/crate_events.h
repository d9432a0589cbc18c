// What the subscription calls and event readers of the crate families
// share: the wait of an event reader, the id list of an unsubscription,
// and the request that carries an item list with its reply of ids.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "crate_ops.h"
#include "crate_protocol.h"
#include "crate_transport.h"
#include "item_name.h"

namespace koruhv {

// How long an event reader waits for the device: the family's default, or
// what a test set (0 restores the default).
class EventWait {
public:
    explicit constexpr EventWait(int defaultMs) : defaultMs_(defaultMs) {}
    void setForTest(int ms) { testMs_ = ms; }
    int ms() const
    {
        const int t = testMs_.load();
        return t > 0 ? t : defaultMs_;
    }

private:
    const int defaultMs_;
    std::atomic<int> testMs_{0};
};

// Waits up to ms for bytes on sock (a signal does not end the wait): poll's
// result, 1 readable, 0 silence, -1 failure.
int Crate_WaitReadable(int sock, int ms);

// The ids of a ':'-joined list of count items, idOf(item) each, as 32-bit
// big-endian words followed by ':', the last ':' made a NUL: 0 with *out
// (malloc'ed) and *len, or -1 when the list does not hold count items or
// memory ran out.
template <typename IdOf>
int Crate_EncodeIdList(unsigned count, const char *items, IdOf idOf, uint8_t **out, size_t *len)
{
    *out = nullptr;
    *len = 0;
    if (!items || Crate_CountItems(items) != count)
        return -1;
    std::string work(items);
    RequestBuffer buf(ByteOrder::Big);
    char *cursor = nullptr;
    for (char *tok = NextToken(work.data(), ":", &cursor); tok; tok = NextToken(nullptr, ":", &cursor))
        if (!buf.put32(idOf(tok)))
            return -1;
    return Crate_TakeList(buf, out, len);
}

// Sends keyword with the event port, the item count and an encoded item
// list (freed here), and takes the reply when one is wanted: the request's
// code, or 9 when the request could not be built.
int Crate_SendItemList(CrateContext &ctx, const char *keyword, short port, uint16_t count, uint8_t *list,
                       size_t listLen, CrateReply *reply);

// An unsubscription: the items' encoded ids sent with keyword (as
// Crate_SendItemList); once the device took them, every item's result is
// 0 and the context's status too.
int Crate_SendUnsubscribe(CrateContext &ctx, const char *keyword, short port, uint16_t count, uint8_t *ids,
                          size_t idsLen, char *results);

// The reply's ids, one 32-bit word per item after the reply's three bytes
// of count and ':': false when fewer came.
bool Crate_ReplyIds(const CrateReply &reply, uint16_t count, ByteCursor *ids);

} // namespace koruhv
