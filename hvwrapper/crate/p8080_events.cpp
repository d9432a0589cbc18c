// Subscriptions and the event connection of the rack supply. "ENABLEMSG"
// gives one id per item and the port of the rack's event service; the store
// of the context maps ids back to names, and the event thread turns each
// batch into records. The event thread reads the store and the system
// information while the API caller changes them, so both hold the context's
// data lock (never across socket I/O).
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "crate_events.h"
#include "event_sink.h"
#include "item_name.h"
#include "link.h"
#include "p8080_backend.h"
#include "slot_store.h"

namespace koruhv {

namespace {

EventWait gIdle{15000}; // for a batch to start

// Module boards 0..149, the system's parameters on board 150.
using SubscriptionStore = SlotStore<kP8080SysBoard>;
constexpr int kBoards = SubscriptionStore::kBoards;
constexpr unsigned kRackMessageBoard = 151; // the board part of the rack's messages

SubscriptionStore gStores[kCrateContexts];

bool validHandle(int h)
{
    return h >= 0 && h < kCrateContexts;
}

std::mutex &dataLock(int h)
{
    return P8080_Contexts()[h].dataLock;
}

int storeLocked(SubscriptionStore &st, int systemHandle, uint32_t id, const char *item)
{
    st.systemHandle = systemHandle;
    BoardBlock *blk = nullptr;
    const int level = st.storeLevelItem(unsigned(kP8080SysBoard), id, item, &blk);
    if (level >= 0)
        return level;
    const ItemId at(id);
    if (!blk->hasChannelSlots(at.channel))
        return 0;
    if (at.slot == kNameOnlyItem)
        return 1; // a channel name needs no slot
    // A channel item takes the first free slot, by its own flag: id 0
    // (board 0, channel 0, slot 0) is a valid item.
    for (ItemSlot &s : blk->channels[at.channel])
        if (!s.inUse) {
            s.set(id, 0, ItemName_LastPart(item));
            return 1;
        }
    return 0;
}

int removeLocked(SubscriptionStore &st, const char *item, uint32_t *id)
{
    const char *dot = std::strchr(item, '.');
    const char *rest = dot ? dot + 1 : item;
    char param[64] = {};
    int board = -1, channel = -1;
    if (std::strstr(item, "CHAN")) {
        if (std::sscanf(rest, "Board%d.CHAN%d.%63s", &board, &channel, param) != 3 || board < 0 ||
            board >= kBoards || channel < 0)
            return -1;
        BoardBlock &blk = st.boards[board];
        if (!blk.hasChannelSlots(unsigned(channel)))
            return -1;
        std::vector<ItemSlot> &v = blk.channels[channel];
        return ItemSlot_Take(v.data(), v.size(), param, id);
    }
    ItemSlot *slots = st.systemSlots;
    const char *key = rest;
    if (std::strstr(item, "Board")) {
        if (std::sscanf(rest, "Board%d.%63s", &board, param) != 2 || board < 0 || board >= kBoards)
            return -1;
        slots = st.boards[board].boardSlots;
        key = param;
    }
    return ItemSlot_Take(slots, kItemSlots, key, id);
}

float scaled(const ParamDescriptor &d, uint32_t w, bool asSigned)
{
    ParamDescriptor c = d;
    c.mode = uint8_t(asSigned ? (c.mode | PARAM_MODE_SIGNED) : (c.mode & ~PARAM_MODE_SIGNED));
    return P8080_RawToValue(c, w);
}

// The value of a board or channel number item.
void putNumber(EventRecord *r, const ParamDescriptor &d, uint32_t w, bool channelLevel)
{
    const ItemRule rule = Crate_NumberRule(d, channelLevel);
    if (rule == RULE_FLOAT)
        r->value.FloatValue = scaled(d, w, d.isSigned());
    else if (rule == RULE_WORD)
        r->value.UIntValue = w;
}

int32_t truncated(float v)
{
    if (std::isnan(v))
        return 0;
    if (v <= -2147483648.0f)
        return std::numeric_limits<int32_t>::min();
    if (v >= 2147483648.0f)
        return std::numeric_limits<int32_t>::max();
    return int32_t(v);
}

} // namespace

void P8080_CloseEventLink(P8080Link &l)
{
    std::lock_guard<std::mutex> g(l.eventLock);
    if (l.eventSocket < 0)
        return;
    ::shutdown(l.eventSocket, SHUT_RDWR);
    if (l.readerActive)
        l.pendingClose = l.eventSocket;
    else
        Tcp_Close(l.eventSocket);
    l.eventSocket = -1;
}

int P8080_StoreSubscription(int handle, int systemHandle, uint32_t id, const char *item)
{
    if (!validHandle(handle) || !item)
        return 0;
    std::lock_guard<std::mutex> g(dataLock(handle));
    return storeLocked(gStores[handle], systemHandle, id, item);
}

int P8080_RemoveSubscription(int handle, const char *item, uint32_t *id)
{
    if (!validHandle(handle) || !item || !id)
        return -1;
    std::lock_guard<std::mutex> g(dataLock(handle));
    return removeLocked(gStores[handle], item, id);
}

int P8080_SizeSubscriptionStore(const BackendRef &b, int board, int channelCount)
{
    if (!validHandle(b.handle) || board < 0 || board >= kBoards)
        return 0;
    std::lock_guard<std::mutex> g(dataLock(b.handle));
    return gStores[b.handle].boards[board].size(channelCount) ? 0 : KORUHV_ERR_NO_MEMORY;
}

bool P8080_PrepareChannelStore(int handle, int board, int channelCount, int channel, int paramCount)
{
    if (!validHandle(handle) || board < 0 || board >= kBoards || channel < 0 || channel >= channelCount)
        return true; // nothing a subscription could use
    std::lock_guard<std::mutex> g(dataLock(handle));
    return gStores[handle].boards[board].prepareChannel(size_t(channelCount), size_t(channel),
                                                        size_t(paramCount));
}

void P8080_ClearSubscriptionStore(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(dataLock(handle));
    gStores[handle].releaseBoards();
}

void P8080_ResetSubscriptionStore(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(dataLock(handle));
    gStores[handle].reset();
}

namespace {

// The most records a batch's items can make: one per item that may be a
// value, one per kind of rack message, no more than the count announced.
// A system item's width is in its descriptor; from there on the bytes
// bound the rest (each item takes at least five).
size_t recordBound(ByteCursor cur, uint32_t n)
{
    size_t values = 0;
    unsigned kinds = 0;
    for (uint32_t i = 0; i < n && cur.remaining() >= 4; ++i) {
        const auto [board, channel, slot] = ItemId(cur.u32());
        if (board > kRackMessageBoard)
            break;
        if (board == unsigned(kP8080SysBoard)) {
            values += 1 + cur.remaining() / 5;
            break;
        }
        std::string_view text;
        if (board != kRackMessageBoard && channel != kBoardItem && slot == kNameOnlyItem
                ? !cur.until('#', &text)
                : !cur.skip(4))
            break;
        if (board != kRackMessageBoard)
            ++values;
        else if (slot <= 2)
            kinds |= 1u << slot;
    }
    const size_t bound = values + size_t(__builtin_popcount(kinds));
    return bound < n ? bound : n;
}

} // namespace

int P8080_DecodeEventBatch(int handle, const uint8_t *payload, size_t len, EventRecord **events, int *count,
                           bool *keepAlive)
{
    *events = nullptr;
    *count = 0;
    *keepAlive = false;
    if (!validHandle(handle))
        return P8080_ERR_RECEIVE;
    ByteCursor cur(payload, len, ByteOrder::Little);
    uint32_t n = cur.u32();
    if (!cur.ok())
        return P8080_ERR_RECEIVE;
    cur.skip(1);
    if (n == 0) {
        *events = static_cast<EventRecord *>(std::calloc(1, sizeof(EventRecord)));
        return *events ? 0 : P8080_ERR_MEMORY;
    }
    EventRecordSink sink;
    if (sink.reserve(recordBound(cur, n)) != EventRecordSink::STORED)
        return P8080_ERR_MEMORY;
    std::lock_guard<std::mutex> g(dataLock(handle));
    SubscriptionStore &st = gStores[handle];
    const CrateSystemInfo *info = P8080_Contexts()[handle].sysInfo;
    bool full = false;
    // The next record with the fields every record has; the value is the caller's.
    auto take = [&](int32_t type, int32_t board, int32_t channel, const char *name) -> EventRecord * {
        EventRecord *r = sink.next();
        full = !r;
        if (r)
            EventRecord_SetHead(r, type, st.systemHandle, board, channel, name);
        return r;
    };
    auto putText = [](EventRecord *r, std::string_view t) {
        if (r)
            Crate_CopyText(r->value.StringValue, sizeof r->value.StringValue, t);
    };
    for (uint32_t i = 0; i < n && !full && cur.remaining() >= 4; ++i) {
        const uint32_t id = cur.u32();
        const auto [board, channel, slot] = ItemId(id);
        if (board > kRackMessageBoard)
            break; // the value's width is unknown: nothing after it can be read
        if (board == unsigned(kP8080SysBoard)) {
            const ItemSlot *s =
                slot < kItemSlots && st.systemSlots[slot].inUse ? &st.systemSlots[slot] : nullptr;
            const CrateBoardEntry *e = info ? info->findBoard(kP8080SysBoard) : nullptr;
            if (!s || !e)
                break; // width unknown without the parameter's descriptor
            const ParamDescriptor *d = info->boardParam(*e, s->name);
            if (!d)
                return P8080_ERR_CONFIG;
            if (d->type == 0) {
                std::string_view t;
                if (!cur.until('#', &t))
                    break;
                putText(take(s->kind, -1, -1, s->name), t);
                continue;
            }
            uint32_t w = cur.u32();
            if (!cur.ok())
                break;
            EventRecord *r = take(s->kind, -1, -1, s->name);
            if (!r)
                break;
            float v = scaled(*d, w, false);
            if (d->type == 1)
                r->value.FloatValue = v;
            else if (d->type >= 2 && d->type <= 5)
                r->value.IntValue = truncated(v);
            else if (d->type == 6)
                r->value.UIntValue = w;
            continue;
        }
        if (board == kRackMessageBoard) {
            uint32_t w = cur.u32();
            if (!cur.ok())
                break;
            if (slot > 2)
                continue;
            // A later message of the kind updates its record: the same
            // fields, the new word.
            EventRecord *r = sink.message(slot);
            if (!r) {
                full = true;
                break;
            }
            EventRecord_SetHead(r, kMessageTypes[slot], st.systemHandle, -1, -1, kMessageNames[slot]);
            r->value.IntValue = int32_t(w);
            if (slot == 0)
                *keepAlive = true;
            continue;
        }
        const BoardBlock &blk = st.boards[board];
        const CrateBoardEntry *e = info ? info->findBoard(int(board)) : nullptr;
        if (channel == kBoardItem) {
            uint32_t w = cur.u32();
            if (!cur.ok())
                break;
            const ItemSlot *s =
                slot < kItemSlots && blk.boardSlots[slot].inUse ? &blk.boardSlots[slot] : nullptr;
            if (!s || !e)
                continue;
            const ParamDescriptor *d = info->boardParam(*e, s->name);
            if (!d)
                return P8080_ERR_CONFIG;
            EventRecord *r = take(s->kind, int32_t(board), -1, s->name);
            if (!r)
                break;
            putNumber(r, *d, w, false);
            continue;
        }
        const bool nameItem = slot == kNameOnlyItem;
        std::string_view text;
        uint32_t w = 0;
        if (nameItem) {
            if (!cur.until('#', &text))
                break;
        } else {
            w = cur.u32();
            if (!cur.ok())
                break;
        }
        if (!blk.hasChannelSlots(channel) && !nameItem)
            continue;
        if (channel >= blk.channelCount && channel >= blk.channels.size())
            continue;
        const ItemSlot *s = nullptr;
        if (!nameItem && blk.hasChannelSlots(channel))
            for (const ItemSlot &c : blk.channels[channel])
                if (c.inUse && c.id == id) {
                    s = &c;
                    break;
                }
        if (!nameItem && !s)
            continue;
        if (!e)
            return P8080_ERR_CONFIG;
        if (nameItem) {
            putText(take(0, int32_t(board), int32_t(channel), kNameItem), text);
            continue;
        }
        const ParamDescriptor *d = info->channelParam(*e, channel, s->name);
        if (!d)
            return P8080_ERR_CONFIG;
        EventRecord *r = take(s->kind, int32_t(board), int32_t(channel), s->name);
        if (!r)
            break;
        putNumber(r, *d, w, true);
    }
    if (full)
        return P8080_ERR_MEMORY; // more records than one batch may make, or no memory for them
    EventRecord *rec = sink.releaseBatch(st.systemHandle, count);
    if (!rec)
        return P8080_ERR_MEMORY;
    *events = rec;
    return 0;
}

void P8080_SetEventIdleForTest(int ms)
{
    gIdle.setForTest(ms);
}

int P8080_GetEventData(const BackendRef &b, int, KORUHV_SYSTEMSTATUS_t *, EventRecord **events, int *count)
{
    *events = nullptr;
    *count = 0;
    if (!validHandle(b.handle))
        return P8080_ERR_RECEIVE;
    P8080Link &l = P8080_Links()[b.handle];
    int sock;
    {
        std::lock_guard<std::mutex> g(l.eventLock);
        sock = l.eventSocket;
        if (sock < 0 || l.readerActive)
            return P8080_ERR_RECEIVE;
        l.readerActive = true;
    }
    const int r = Crate_WaitReadable(sock, gIdle.ms());
    uint8_t *payload = nullptr;
    size_t len = 0;
    int rc = 0;
    if (r == 0)
        rc = KORUHV_ERR_NO_EVENT_READER; // nothing yet: the caller reads again
    else if (r < 0)
        rc = P8080_ERR_RECEIVE;
    else
        payload = P8080_RecvFrame(&rc, sock, &len);
    {
        std::lock_guard<std::mutex> g(l.eventLock);
        l.readerActive = false;
        if (l.pendingClose == sock) {
            Tcp_Close(sock);
            l.pendingClose = -1;
        }
    }
    if (rc) {
        std::free(payload);
        return rc;
    }
    bool keepAlive = false;
    rc = P8080_DecodeEventBatch(b.handle, payload, len, events, count, &keepAlive);
    std::free(payload);
    // The rack waits for an answer on the command connection, also when a
    // later item of the batch ended the call. It goes out under the
    // context's operation lock, after any request in flight, so frames never
    // interleave and a logout cannot close the socket beneath it.
    if (keepAlive)
        P8080_ExecComm(b, "KeepAlive");
    return rc;
}

int P8080_Subscribe(const BackendRef &b, short, uint16_t count, const char *items, char *results)
{
    if (!validHandle(b.handle))
        return -1;
    P8080Link &l = P8080_Links()[b.handle];
    std::lock_guard<std::mutex> g(l.opLock);
    CrateContext &ctx = P8080_Contexts()[b.handle];
    if (!ctx.inUse || !ctx.sessionId)
        return -1;
    uint8_t *list = nullptr;
    size_t listLen = 0;
    // The item list is the crate protocol's own encoding (big-endian) inside
    // the rack's little-endian request.
    if (Crate_EncodeSubscribeList(count, items, ByteOrder::Big, &list, &listLen) != 0)
        return P8080_ERR_PARAM;
    RequestBuffer req(ByteOrder::Little);
    bool built = P8080_BeginRequest(req, "ENABLEMSG", ctx.sessionId) && req.colon() && req.put16(count) &&
                 req.raw(list, listLen);
    std::free(list);
    if (!built)
        return -1;
    uint16_t eventPort = 0;
    std::vector<uint32_t> ids;
    int rc = P8080_Transact(b.handle, req, "ENABLEMSG", false, [&](ByteCursor &cur) {
        eventPort = cur.u16();
        cur.expect(':');
        if (!cur.ok() || cur.remaining() / 4 < count)
            return int(P8080_ERR_REPLY); // fewer ids than items
        for (uint16_t i = 0; i < count; ++i)
            ids.push_back(cur.u32());
        return 0;
    });
    if (rc)
        return rc;
    std::string work(items);
    char *cursor = nullptr;
    char *name = NextToken(work.data(), ":", &cursor);
    for (uint16_t i = 0; i < count; ++i, name = NextToken(nullptr, ":", &cursor)) {
        if (int32_t(ids[i]) == -1) {
            if (results)
                results[i] = char(255);
            continue;
        }
        if (!P8080_StoreSubscription(b.handle, b.slot, ids[i], name ? name : ""))
            return P8080_ERR_MEMORY;
        if (results)
            results[i] = 0;
        ++l.itemCount;
    }
    std::lock_guard<std::mutex> ge(l.eventLock);
    if (l.eventSocket < 0) {
        int sock = -1;
        if (Tcp_Connect(l.deviceAddress.c_str(), &sock, eventPort) != 0)
            return -1;
        l.eventSocket = sock;
    }
    return 0;
}

int P8080_UnSubscribe(const BackendRef &b, short, uint16_t count, const char *items, char *)
{
    if (!validHandle(b.handle))
        return -1;
    P8080Link &l = P8080_Links()[b.handle];
    std::lock_guard<std::mutex> g(l.opLock);
    CrateContext &ctx = P8080_Contexts()[b.handle];
    if (!ctx.inUse || !ctx.sessionId)
        return -1;
    if (!items || Crate_CountItems(items) != count)
        return P8080_ERR_PARAM;
    std::string work(items);
    char *cursor = nullptr;
    for (char *tok = NextToken(work.data(), ":", &cursor); tok; tok = NextToken(nullptr, ":", &cursor)) {
        uint32_t id = 0;
        if (P8080_RemoveSubscription(b.handle, tok, &id) == 0 && l.itemCount > 0)
            --l.itemCount;
    }
    if (l.itemCount > 0)
        return 0;
    RequestBuffer req(ByteOrder::Little);
    if (!P8080_BeginRequest(req, "DISABLEMSG", ctx.sessionId))
        return -1;
    // Which keyword the rack echoes here is not settled: either is taken.
    const int rc = P8080_Transact(
        b.handle, req, "DISABLEMSG", false, [](ByteCursor &) { return 0; }, "ENABLEMSG");
    if (rc)
        return rc;
    P8080_CloseEventLink(l);
    return 0;
}

} // namespace koruhv
