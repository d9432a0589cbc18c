// Subscriptions and the event connection of the rack supply. "ENABLEMSG"
// gives one id per item and the port of the rack's event service; the store
// of the context maps ids back to names, and the event thread turns each
// batch into records. The event thread reads the store and the system
// information while the API caller changes them, so both hold the context's
// data lock (never across socket I/O).
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "event_sink.h"
#include "item_name.h"
#include "link.h"
#include "p8080_backend.h"

namespace koruhv {

namespace {

constexpr int kItemSlots = 30;
constexpr int kBoards = 150;
constexpr size_t kNameSize = 20;
constexpr int kDefaultIdleMs = 15000;
std::atomic<int> gIdleMs{0};

struct ItemSlot {
    uint8_t inUse = 0;
    uint32_t id = 0;
    int32_t kind = 0;
    char name[kNameSize] = {};
};

struct BoardBlock {
    uint8_t inUse = 0;
    ItemSlot boardSlots[kItemSlots];
    uint32_t channelCount = 0;
    bool hasArrays = false;
    std::vector<std::vector<ItemSlot>> channels;
    std::vector<uint8_t> hasSlots;
    void releaseArrays()
    {
        channels.clear();
        channels.shrink_to_fit();
        hasSlots.clear();
        hasSlots.shrink_to_fit();
        hasArrays = false;
    }
};

struct SubscriptionStore {
    int32_t systemHandle = 0;
    ItemSlot systemSlots[kItemSlots];
    BoardBlock boards[kBoards];
};

SubscriptionStore gStores[kCrateContexts];

bool validHandle(int h)
{
    return h >= 0 && h < kCrateContexts;
}

std::mutex &dataLock(int h)
{
    return P8080_Contexts()[h].dataLock;
}

void setSlot(ItemSlot &s, uint32_t id, int kind, const char *name)
{
    s.inUse = 1;
    s.id = id;
    s.kind = kind;
    // Zero after the text: records take all of it, and a slot taken again
    // may have held a longer name.
    std::memset(s.name, 0, sizeof s.name);
    Crate_CopyText(s.name, sizeof s.name, name);
}

const char *lastPart(const char *item)
{
    const char *dot = std::strrchr(item, '.');
    return dot ? dot + 1 : item;
}

ItemSlot *findByName(ItemSlot *slots, size_t n, const char *name)
{
    char key[kNameSize];
    Crate_CopyText(key, sizeof key, name);
    for (size_t i = 0; i < n; ++i)
        if (slots[i].inUse && std::strcmp(slots[i].name, key) == 0)
            return &slots[i];
    return nullptr;
}

bool hasChannelSlots(const BoardBlock &b, unsigned channel)
{
    return b.hasArrays && channel < b.channels.size() && b.hasSlots[channel];
}

int storeLocked(SubscriptionStore &st, int systemHandle, uint32_t id, const char *item)
{
    st.systemHandle = systemHandle;
    const char *name = lastPart(item);
    const unsigned board = id >> 24, channel = (id >> 8) & 0xFFFFu, slot = id & 0xFFu;
    if (board == unsigned(kP8080SysBoard) || board == 254) {
        if (slot >= kItemSlots)
            return 0;
        setSlot(st.systemSlots[slot], id, board == 254 ? 1 : 0, name);
        return 1;
    }
    if (board >= unsigned(kBoards))
        return 0;
    BoardBlock &blk = st.boards[board];
    if (channel == 0xFFFFu) {
        if (slot >= kItemSlots)
            return 0;
        setSlot(blk.boardSlots[slot], id, 0, name);
        blk.inUse = 1;
        return 1;
    }
    if (!hasChannelSlots(blk, channel))
        return 0;
    if (slot == 0xFFu)
        return 1; // a channel name needs no slot
    // A slot is free by its own flag: id 0 (board 0, channel 0, slot 0) is
    // a valid item.
    for (ItemSlot &s : blk.channels[channel])
        if (!s.inUse) {
            setSlot(s, id, 0, name);
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
        if (!hasChannelSlots(blk, unsigned(channel)))
            return -1;
        std::vector<ItemSlot> &v = blk.channels[channel];
        ItemSlot *s = findByName(v.data(), v.size(), param);
        if (!s)
            return -1;
        *id = s->id;
        *s = ItemSlot(); // free whole, so the slot can be taken again
        return 0;
    }
    ItemSlot *slots = st.systemSlots;
    const char *key = rest;
    if (std::strstr(item, "Board")) {
        if (std::sscanf(rest, "Board%d.%63s", &board, param) != 2 || board < 0 || board >= kBoards)
            return -1;
        slots = st.boards[board].boardSlots;
        key = param;
    }
    ItemSlot *s = findByName(slots, kItemSlots, key);
    if (!s)
        return -1;
    *id = s->id;
    s->inUse = 0;
    s->kind = 0;
    std::memset(s->name, 0, sizeof s->name);
    return 0;
}

// Items the batch walk reads.
struct Walk {
    ByteCursor &cur;
    bool text(std::string_view *out) { return cur.until('#', out); }
};

float scaled(const ParamDescriptor &d, uint32_t w, bool asSigned)
{
    ParamDescriptor c = d;
    c.mode = uint8_t(asSigned ? (c.mode | PARAM_MODE_SIGNED) : (c.mode & ~PARAM_MODE_SIGNED));
    return P8080_RawToValue(c, w);
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
    BoardBlock &blk = gStores[b.handle].boards[board];
    if (channelCount < 1) {
        if (blk.inUse) {
            blk.releaseArrays();
            blk.inUse = 0;
        }
        blk.channelCount = 0;
        return 0;
    }
    if (blk.hasArrays)
        return 0;
    if (!blk.inUse) {
        try {
            blk.channels.assign(size_t(channelCount), {});
            blk.hasSlots.assign(size_t(channelCount), 0);
        } catch (...) {
            blk.releaseArrays();
            return KORUHV_ERR_NO_MEMORY;
        }
        blk.hasArrays = true;
        blk.inUse = 1;
    }
    blk.channelCount = uint32_t(channelCount);
    return 0;
}

bool P8080_PrepareChannelStore(int handle, int board, int channelCount, int channel, int paramCount)
{
    if (!validHandle(handle) || board < 0 || board >= kBoards || channel < 0 || channel >= channelCount)
        return true; // nothing a subscription could use
    std::lock_guard<std::mutex> g(dataLock(handle));
    BoardBlock &blk = gStores[handle].boards[board];
    try {
        if (!blk.hasArrays) {
            blk.channels.assign(size_t(channelCount), {});
            blk.hasSlots.assign(size_t(channelCount), 0);
            blk.hasArrays = true;
            blk.channelCount = uint32_t(channelCount);
            blk.inUse = 1;
        }
        if (size_t(channel) < blk.channels.size() && !blk.hasSlots[channel]) {
            blk.channels[channel].assign(size_t(paramCount), ItemSlot());
            blk.hasSlots[channel] = 1;
        }
    } catch (...) {
        return false;
    }
    return true;
}

void P8080_ClearSubscriptionStore(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(dataLock(handle));
    for (BoardBlock &blk : gStores[handle].boards)
        if (blk.inUse) {
            blk.releaseArrays();
            blk.channelCount = 0;
            blk.inUse = 0;
        }
}

void P8080_ResetSubscriptionStore(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(dataLock(handle));
    SubscriptionStore &st = gStores[handle];
    st.systemHandle = 0;
    for (ItemSlot &s : st.systemSlots)
        s = ItemSlot();
    for (BoardBlock &blk : st.boards) {
        blk.releaseArrays();
        for (ItemSlot &s : blk.boardSlots)
            s = ItemSlot();
        blk.channelCount = 0;
        blk.inUse = 0;
    }
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
        const uint32_t id = cur.u32();
        const unsigned board = id >> 24, channel = (id >> 8) & 0xFFFFu, slot = id & 0xFFu;
        if (board > 151)
            break;
        if (board == unsigned(kP8080SysBoard)) {
            values += 1 + cur.remaining() / 5;
            break;
        }
        std::string_view text;
        if (board != 151 && channel != 0xFFFFu && slot == 0xFFu ? !cur.until('#', &text) : !cur.skip(4))
            break;
        if (board != 151)
            ++values;
        else if (slot <= 2)
            kinds |= 1u << slot;
    }
    const size_t bound = values + size_t(__builtin_popcount(kinds));
    return bound < n ? bound : n;
}

const char kNameItem[kNameSize] = "Name";
const char kMessageNames[3][kNameSize] = {"KeepAlive", "LiveInsertion", "Tr-Mode"};
const int kMessageTypes[3] = {2, 1, 3};

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
    size_t made = 0; // items that gave a record
    bool full = false;
    // The next record with the fields every record has; the value is the caller's.
    auto take = [&](int32_t type, int32_t board, int32_t channel, const char *name) -> EventRecord * {
        EventRecord *r = sink.next();
        full = !r;
        if (r) {
            EventRecord_SetHead(r, type, st.systemHandle, board, channel, name);
            ++made;
        }
        return r;
    };
    auto putText = [](EventRecord *r, std::string_view t) {
        if (r)
            Crate_CopyText(r->value.StringValue, sizeof r->value.StringValue, t);
    };
    for (uint32_t i = 0; i < n && !full && cur.remaining() >= 4; ++i) {
        const uint32_t id = cur.u32();
        const unsigned board = id >> 24, channel = (id >> 8) & 0xFFFFu, slot = id & 0xFFu;
        if (board > 151)
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
        if (board == 151) {
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
            ++made;
            if (slot == 0)
                *keepAlive = true;
            continue;
        }
        const BoardBlock &blk = st.boards[board];
        const CrateBoardEntry *e = info ? info->findBoard(int(board)) : nullptr;
        if (channel == 0xFFFFu) {
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
            if (d->type == PARAM_NUMERIC)
                r->value.FloatValue = scaled(*d, w, d->isSigned());
            else if (d->type == PARAM_ONOFF || d->type == PARAM_BDSTATUS || d->type == PARAM_BINARY)
                r->value.UIntValue = w;
            continue;
        }
        const bool nameItem = slot == 0xFFu;
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
        if (!hasChannelSlots(blk, channel) && !nameItem)
            continue;
        if (channel >= blk.channelCount && channel >= blk.channels.size())
            continue;
        const ItemSlot *s = nullptr;
        if (!nameItem && hasChannelSlots(blk, channel))
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
        if (d->type == PARAM_NUMERIC)
            r->value.FloatValue = scaled(*d, w, d->isSigned());
        else if (d->type == PARAM_ONOFF || d->type == PARAM_CHSTATUS || d->type == PARAM_BINARY)
            r->value.UIntValue = w;
    }
    if (full)
        return P8080_ERR_MEMORY; // more records than one batch may make, or no memory for them
    const size_t records = sink.count();
    EventRecord *rec = sink.release();
    if (!rec)
        return P8080_ERR_MEMORY;
    if (made == 0) {
        EventRecord_SetHead(rec, 2, st.systemHandle, -1, -1, kMessageNames[0]);
    }
    *events = rec;
    *count = records ? int(records) : 1;
    return 0;
}

void P8080_SetEventIdleForTest(int ms)
{
    gIdleMs = ms;
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
    const int idle = gIdleMs.load() > 0 ? gIdleMs.load() : kDefaultIdleMs;
    pollfd p{sock, POLLIN, 0};
    int r;
    do
        r = ::poll(&p, 1, idle);
    while (r < 0 && errno == EINTR);
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
    uint8_t *reply = nullptr;
    size_t len = 0;
    int rc = P8080_Exchange(b.handle, req, &reply, &len);
    if (rc)
        return rc;
    ByteCursor cur(nullptr, 0);
    rc = P8080_CheckReply(reply, len, "ENABLEMSG", ctx.sessionId, false, &cur);
    uint16_t eventPort = 0;
    std::vector<uint32_t> ids;
    if (rc == 0) {
        eventPort = cur.u16();
        cur.expect(':');
        if (!cur.ok() || cur.remaining() / 4 < count)
            rc = P8080_ERR_REPLY; // fewer ids than items
        else
            for (uint16_t i = 0; i < count; ++i)
                ids.push_back(cur.u32());
    }
    std::free(reply);
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
    uint8_t *reply = nullptr;
    size_t len = 0;
    int rc = P8080_Exchange(b.handle, req, &reply, &len);
    if (rc)
        return rc;
    ByteCursor cur(nullptr, 0);
    // Which keyword the rack echoes here is not settled: either is taken.
    rc = P8080_CheckReply(reply, len, "DISABLEMSG", ctx.sessionId, false, &cur);
    if (rc)
        rc = P8080_CheckReply(reply, len, "ENABLEMSG", ctx.sessionId, false, &cur);
    std::free(reply);
    if (rc)
        return rc;
    P8080_CloseEventLink(l);
    return 0;
}

} // namespace koruhv
