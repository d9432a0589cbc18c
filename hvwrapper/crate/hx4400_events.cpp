// Subscription store and event stream of the current-generation crates.
// The crate names each item of an event batch by the 32-bit id it gave at
// "NEWSUBSCRIBE"; the store of the context maps ids back to names. The
// event thread reads the store and the system information while the GUI
// thread changes them, so both sides hold the context's data lock (never
// across socket I/O).
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "crate_ops.h"
#include "event_sink.h"
#include "hx4400_backend.h"
#include "item_name.h"

namespace koruhv {

namespace {

constexpr int kItemSlots = 30;
constexpr int kBoards = 16;
constexpr size_t kNameSize = 20;
constexpr int kDefaultEventMs = 16000;
std::atomic<int> gEventMs{0};

struct ItemSlot {
    uint8_t inUse = 0;
    uint32_t id = 0;
    int32_t kind = 0;
    char name[kNameSize] = {};
    // The item's descriptor index in the system description of generation
    // descGeneration (0: not looked up yet). Kept by the event reader under
    // the context's data lock, so each item's name is compared once per
    // description instead of once per event.
    mutable uint64_t descGeneration = 0;
    mutable int descIndex = -1;
};

// The descriptor of an item: the cached index while the description is the
// one it was found in, else lookup() (by name) and remember the result.
template <typename Lookup>
const ParamDescriptor *cachedDescriptor(const ItemSlot *s, const CrateSystemInfo *info, uint64_t generation,
                                        Lookup lookup)
{
    if (s && s->descGeneration == generation && s->descIndex >= 0 &&
        size_t(s->descIndex) < info->descriptors.size())
        return &info->descriptors[size_t(s->descIndex)];
    const ParamDescriptor *d = lookup();
    if (s && d) {
        s->descGeneration = generation;
        s->descIndex = int(d - info->descriptors.data());
    }
    return d;
}

struct BoardBlock {
    uint8_t inUse = 0;
    ItemSlot boardSlots[kItemSlots];
    uint32_t channelCount = 0;
    bool hasArrays = false;
    std::vector<std::vector<ItemSlot>> channels; // slot array per channel
    std::vector<uint8_t> hasSlots;               // the channel's slot array was made
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

void setSlot(ItemSlot &s, uint32_t id, int kind, const char *name)
{
    s.inUse = 1;
    s.id = id;
    s.kind = kind;
    Crate_CopyText(s.name, sizeof s.name, name);
    s.descGeneration = 0; // a new name is looked up anew
    s.descIndex = -1;
}

void clearSlot(ItemSlot &s)
{
    s = ItemSlot();
}

// Parameter name of an item: the text after its last '.'.
const char *lastPart(const char *item)
{
    const char *dot = std::strrchr(item, '.');
    return dot ? dot + 1 : item;
}

int findAndClear(ItemSlot *slots, size_t n, const char *name, uint32_t *id)
{
    char key[kNameSize];
    Crate_CopyText(key, sizeof key, name);
    for (size_t i = 0; i < n; ++i)
        if (slots[i].inUse && std::strcmp(slots[i].name, key) == 0) {
            *id = slots[i].id;
            clearSlot(slots[i]);
            return 0;
        }
    return -1;
}

int addLocked(SubscriptionStore &st, int systemHandle, uint32_t id, const char *item)
{
    st.systemHandle = systemHandle;
    const char *name = lastPart(item);
    unsigned board = id >> 24, channel = (id >> 8) & 0xFFFFu, slot = id & 0xFFu;
    if (board == 255 || board == 254) {
        if (slot >= kItemSlots)
            return 0;
        setSlot(st.systemSlots[slot], id, board == 255 ? 0 : 1, name);
        return 1;
    }
    if (board >= kBoards)
        return 0;
    BoardBlock &blk = st.boards[board];
    if (channel == 0xFFFFu) {
        if (slot >= kItemSlots)
            return 0;
        blk.inUse = 1;
        setSlot(blk.boardSlots[slot], id, 0, name);
        return 1;
    }
    if (channel >= blk.channelCount || !blk.hasArrays || channel >= blk.channels.size() ||
        !blk.hasSlots[channel])
        return 0;
    if (slot == 255)
        return 1; // a channel name needs no slot
    std::vector<ItemSlot> &slots = blk.channels[channel];
    if (slot >= slots.size())
        return 0;
    setSlot(slots[slot], id, 0, name);
    return 1;
}

int removeLocked(SubscriptionStore &st, const char *item, uint32_t *id)
{
    int16_t board = 0;
    uint16_t channel = 0;
    char param[256] = {};
    int kind = ParseItemName(item, &board, &channel, param, sizeof param);
    if (kind == ITEM_CHANNEL) {
        if (board < 0 || board >= kBoards)
            return -1;
        BoardBlock &blk = st.boards[board];
        if (channel >= blk.channelCount || !blk.hasArrays || channel >= blk.channels.size() ||
            !blk.hasSlots[channel])
            return -1;
        return findAndClear(blk.channels[channel].data(), blk.channels[channel].size(), param, id);
    }
    if (kind == ITEM_BOARD) {
        if (board < 0 || board >= kBoards)
            return -1;
        return findAndClear(st.boards[board].boardSlots, kItemSlots, param, id);
    }
    return findAndClear(st.systemSlots, kItemSlots, param, id);
}

CrateContext *liveContext(int handle)
{
    if (!validHandle(handle) || !HX4400_Contexts()[handle].inUse)
        return nullptr;
    return &HX4400_Contexts()[handle];
}

int statusWord(int8_t b)
{
    if (b == 1)
        return 0;
    if (b >= 2 && b <= 10)
        return 1;
    if (b == 11)
        return 2;
    return 3;
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Receives exactly n bytes within the deadline: 0, 23 silence, 28 failure.
// Silence after part of the bytes came is a broken stream (28), as a
// receive that runs into the socket's time-out is.
int recvAll(int sock, uint8_t *p, size_t n, Clock::time_point deadline)
{
    bool started = false;
    while (n) {
        ssize_t k = ::recv(sock, p, n, MSG_DONTWAIT);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pf{sock, POLLIN, 0};
            int r = ::poll(&pf, 1, remainingMs(deadline));
            if (r == 0)
                return started ? KORUHV_ERR_EVENT_SOCKET : KORUHV_ERR_EVENT_TIMEOUT;
            if (r < 0 && errno != EINTR)
                return KORUHV_ERR_EVENT_SOCKET;
            continue;
        }
        if (k <= 0)
            return KORUHV_ERR_EVENT_SOCKET;
        started = true;
        p += k;
        n -= size_t(k);
    }
    return 0;
}

// Discards n bytes (a body nobody needs) within the deadline.
int drain(int sock, size_t n, Clock::time_point deadline)
{
    uint8_t buf[4096];
    bool drained = false;
    while (n) {
        size_t k = n < sizeof buf ? n : sizeof buf;
        int rc = recvAll(sock, buf, k, deadline);
        if (rc == KORUHV_ERR_EVENT_TIMEOUT && drained)
            return KORUHV_ERR_EVENT_SOCKET; // silence inside the body
        if (rc)
            return rc;
        drained = true;
        n -= k;
    }
    return 0;
}

} // namespace

void HX4400_SetEventTimeoutForTest(int ms)
{
    gEventMs = ms;
}

int HX4400_SubStore_Add(int handle, int systemHandle, uint32_t id, const char *item)
{
    if (!validHandle(handle) || !item)
        return 0;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    return addLocked(gStores[handle], systemHandle, id, item);
}

int HX4400_SubStore_Remove(int handle, const char *item, uint32_t *id)
{
    if (!validHandle(handle) || !item)
        return -1;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    return removeLocked(gStores[handle], item, id);
}

int HX4400_SubStore_PrepareChannel(int handle, uint16_t slot, uint16_t channel)
{
    if (!validHandle(handle) || slot >= kBoards)
        return 0;
    CrateContext &ctx = HX4400_Contexts()[handle];
    std::lock_guard<std::mutex> g(ctx.dataLock);
    const CrateBoardEntry *entry = ctx.sysInfo ? ctx.sysInfo->findBoard(slot) : nullptr;
    if (!entry)
        return 0;
    BoardBlock &blk = gStores[handle].boards[slot];
    try {
        if (!blk.hasArrays) {
            blk.channels.assign(entry->channels.size(), {});
            blk.hasSlots.assign(entry->channels.size(), 0);
            blk.channelCount = uint32_t(entry->channels.size());
            blk.hasArrays = true;
            blk.inUse = 1;
        }
        if (channel < blk.channels.size() && channel < entry->channels.size() && !blk.hasSlots[channel]) {
            blk.channels[channel].assign(entry->channels[channel].params.size(), ItemSlot());
            blk.hasSlots[channel] = 1;
        }
    } catch (const std::bad_alloc &) {
        return CRATE_ERR_NO_MEMORY;
    }
    return 0;
}

int HX4400_SizeSubscriptionStore(const BackendRef &b, int slot, int channelCount)
{
    if (!validHandle(b.handle) || slot < 0 || slot >= kBoards)
        return 0;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[b.handle].dataLock);
    BoardBlock &blk = gStores[b.handle].boards[slot];
    if (blk.inUse && channelCount < 1) {
        blk.releaseArrays();
        blk.channelCount = 0;
        blk.inUse = 0;
        return 0;
    }
    if (blk.hasArrays)
        return 0;
    if (channelCount > 0 && !blk.inUse) {
        try {
            blk.channels.assign(size_t(channelCount), {});
            blk.hasSlots.assign(size_t(channelCount), 0);
        } catch (const std::bad_alloc &) {
            blk.releaseArrays();
            return CRATE_ERR_NO_MEMORY;
        }
        blk.hasArrays = true;
        blk.inUse = 1;
    }
    blk.channelCount = channelCount > 0 ? uint32_t(channelCount) : 0;
    return 0;
}

void HX4400_SubStore_Free(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    for (BoardBlock &blk : gStores[handle].boards)
        if (blk.inUse) {
            blk.releaseArrays();
            blk.channelCount = 0;
            blk.inUse = 0;
        }
}

void HX4400_SubStore_Clear(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    SubscriptionStore &st = gStores[handle];
    st.systemHandle = 0;
    for (ItemSlot &s : st.systemSlots)
        clearSlot(s);
    for (BoardBlock &blk : st.boards) {
        blk.releaseArrays();
        blk.channelCount = 0;
        blk.inUse = 0;
        for (ItemSlot &s : blk.boardSlots)
            clearSlot(s);
    }
}

int HX4400_EncodeUnsubscribeList(int handle, unsigned count, const char *items, uint8_t **out, size_t *len)
{
    *out = nullptr;
    *len = 0;
    if (!validHandle(handle) || !items || Crate_CountItems(items) != count)
        return -1;
    std::string work(items);
    RequestBuffer buf(ByteOrder::Big);
    char *cursor = nullptr;
    bool built = true;
    for (char *tok = NextToken(work.data(), ":", &cursor); tok && built;
         tok = NextToken(nullptr, ":", &cursor)) {
        uint32_t id = 0;
        if (HX4400_SubStore_Remove(handle, tok, &id) != 0)
            id = uint32_t(-2);
        built = buf.put32(id);
    }
    if (!built)
        return -1;
    size_t n = buf.size();
    uint8_t *p = static_cast<uint8_t *>(std::malloc(n ? n : 1));
    if (!p)
        return -1;
    if (n) {
        std::memcpy(p, buf.data(), n);
        p[n - 1] = '\0';
    }
    *out = p;
    *len = n;
    return 0;
}

int HX4400_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    CrateContext *ctx = liveContext(b.handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    uint8_t *list = nullptr;
    size_t listLen = 0;
    if (Crate_EncodeSubscribeList(count, items, ByteOrder::Big, &list, &listLen) != 0)
        return Crate_SetError(*ctx, CRATE_ERR_PARAM_NOT_FOUND, kTextParamNotFound);
    RequestBuffer args(ByteOrder::Big);
    bool built = args.put16(uint16_t(port)) && args.put16(count) && args.raw(list, listLen);
    std::free(list);
    if (!built)
        return Crate_SetError(*ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
    CrateReply reply;
    int rc = Crate_Request(*ctx, "NEWSUBSCRIBE", &args, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ByteOrder::Big);
    cur.skip(3);
    if (!cur.ok() || cur.remaining() < size_t(count) * 4) {
        if (results)
            std::memset(results, 255, count);
        return Crate_Malformed(*ctx);
    }
    std::string work(items);
    char *cursor = nullptr;
    char *tok = NextToken(work.data(), ":", &cursor);
    rc = 0;
    for (uint16_t i = 0; i < count; ++i, tok = tok ? NextToken(nullptr, ":", &cursor) : nullptr) {
        uint32_t id = cur.u32();
        char result = 0;
        if (id == 0xFFFFFFFFu)
            result = char(255);
        else if (!HX4400_SubStore_Add(b.handle, b.slot, id, tok ? tok : "")) {
            result = char(CRATE_ERR_NO_MEMORY); // refused by the store; later items still go in
            rc = CRATE_ERR_NO_MEMORY;
        }
        if (results)
            results[i] = result;
    }
    if (rc)
        return Crate_SetError(*ctx, rc, kTextNoMemoryTransport);
    ctx->status = 0;
    return 0;
}

int HX4400_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    CrateContext *ctx = liveContext(b.handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    uint8_t *ids = nullptr;
    size_t idsLen = 0;
    // The store forgets the items here, whatever the crate answers.
    if (HX4400_EncodeUnsubscribeList(b.handle, count, items, &ids, &idsLen) != 0)
        return Crate_SetError(*ctx, CRATE_ERR_PARAM_NOT_FOUND, kTextParamNotFound);
    RequestBuffer args(ByteOrder::Big);
    bool built = args.put16(uint16_t(port)) && args.put16(count) && args.raw(ids, idsLen);
    std::free(ids);
    if (!built)
        return Crate_SetError(*ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
    int rc = Crate_Request(*ctx, "NEWUNSUBSCRIBE", &args, nullptr);
    if (rc)
        return rc;
    if (results)
        std::memset(results, 0, count);
    ctx->status = 0;
    return 0;
}

namespace {

// A record as a zero-filled one would be, header and name first: what
// follows a short name or value stays zero.
inline void clearRecord(EventRecord &r)
{
    // The size is hidden from the compiler, which would otherwise inline a
    // string store several times slower than the library's vector fill.
    size_t n = sizeof r;
    asm("" : "+r"(n));
    std::memset(static_cast<void *>(&r), 0, n);
}

} // namespace

int HX4400_DecodeEventBatch(int handle, int systemHandle, const uint8_t *header, const uint8_t *body,
                            size_t bodyLen, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events, int *count)
{
    *events = nullptr;
    *count = 0;
    if (!validHandle(handle))
        return KORUHV_ERR_NO_EVENT_READER;
    ByteCursor head(header, kCrateEventHeaderSize);
    head.skip(20);
    uint32_t n = head.u32();
    if (status) {
        status->System = statusWord(int8_t(header[40]));
        for (int i = 0; i < 16; ++i)
            status->Board[i] = statusWord(int8_t(header[24 + i]));
    }
    // Records past the announced count are not made.
    const size_t cap = n;
    EventRecordSink sink;
    EventRecord r;

    CrateContext &ctx = HX4400_Contexts()[handle];
    std::lock_guard<std::mutex> g(ctx.dataLock);
    const SubscriptionStore &st = gStores[handle];
    const CrateSystemInfo *info = ctx.inUse ? ctx.sysInfo : nullptr;
    const uint64_t generation = ctx.sysInfoGeneration;
    size_t made = 0; // items that gave a record
    ByteCursor cur(body, bodyLen);
    bool changed = false;
    EventRecordSink::Result stored = EventRecordSink::STORED;
    while (cur.remaining() >= 8 && !changed && stored == EventRecordSink::STORED) {
        uint32_t id = cur.u32();
        uint16_t kind = cur.u16();
        uint16_t len = cur.u16();
        std::string_view value;
        if (!cur.take(len, &value))
            break; // the item runs past the body: the walk ends here
        if (made >= cap)
            continue;
        const uint8_t *v = reinterpret_cast<const uint8_t *>(value.data());
        unsigned board = id >> 24, channel = (id >> 8) & 0xFFFFu, slot = id & 0xFFu;
        clearRecord(r);
        auto setText = [&] { std::memcpy(r.value.StringValue, v, len < 1023 ? len : 1023); };
        auto word = [&](uint32_t *w) {
            if (len < 4)
                return false;
            *w = Crate_Load32(v, ByteOrder::Big);
            return true;
        };
        auto setNumber = [&](const ParamDescriptor &d, uint32_t w, bool channelLevel) {
            if (d.type == PARAM_NUMERIC)
                r.value.FloatValue = Crate_RawToValue(d, w);
            else if (d.type == PARAM_ONOFF || d.type == PARAM_BINARY ||
                     d.type == (channelLevel ? PARAM_CHSTATUS : PARAM_BDSTATUS))
                r.value.UIntValue = w;
            else
                r.value.UIntValue = 0;
        };
        uint32_t w = 0;
        if (board >= 16 && board <= 253)
            continue;
        if (board == 255) {
            if (slot >= kItemSlots || !st.systemSlots[slot].inUse)
                continue;
            const ItemSlot &s = st.systemSlots[slot];
            if (kind == 0 && !word(&w))
                continue;
            r.type = s.kind;
            r.board = -1;
            r.channel = -1;
            std::memcpy(r.name, s.name, kNameSize);
            if (kind != 0)
                setText();
            else
                r.value.UIntValue = w;
        } else if (board == 254) {
            static const char *const kNames[] = {"KeepAlive", "LiveInsertion", "Tr-Mode"};
            static const int kTypes[] = {2, 1, 3};
            if (slot > 2 || len < 2)
                continue;
            r.type = kTypes[slot];
            r.system = systemHandle;
            r.board = -1;
            r.channel = -1;
            Crate_CopyText(r.name, kNameSize, kNames[slot]);
            r.value.IntValue = int32_t(Crate_Load16(v, ByteOrder::Big));
            stored = sink.message(int(slot), r);
            ++made;
            continue;
        } else if (channel == 0xFFFFu) {
            if (slot >= kItemSlots || !st.boards[board].boardSlots[slot].inUse)
                continue;
            const ItemSlot &s = st.boards[board].boardSlots[slot];
            if (kind == 0) {
                if (!info || !word(&w))
                    continue;
                const ParamDescriptor *d =
                    cachedDescriptor(&s, info, generation, [&]() -> const ParamDescriptor * {
                        const CrateBoardEntry *e = info->findBoard(int(board));
                        return e ? info->boardParam(*e, s.name) : nullptr;
                    });
                if (!d && !info->findBoard(int(board)))
                    continue;
                if (!d) {
                    changed = true;
                    break;
                }
                setNumber(*d, w, false);
            } else {
                setText();
            }
            r.type = s.kind;
            r.board = int32_t(board);
            r.channel = -1;
            std::memcpy(r.name, s.name, kNameSize);
        } else {
            const BoardBlock &blk = st.boards[board];
            if (channel >= blk.channelCount)
                continue;
            const ItemSlot *s = nullptr;
            if (slot != 255) {
                if (!blk.hasArrays || channel >= blk.channels.size() || !blk.hasSlots[channel] ||
                    slot >= blk.channels[channel].size() || !blk.channels[channel][slot].inUse)
                    continue;
                s = &blk.channels[channel][slot];
            }
            const char *name = s ? s->name : "Name";
            if (kind == 0) {
                if (!word(&w))
                    continue;
                const ParamDescriptor *d =
                    info ? cachedDescriptor(s, info, generation,
                                            [&]() -> const ParamDescriptor * {
                                                const CrateBoardEntry *e = info->findBoard(int(board));
                                                return e ? info->channelParam(*e, channel, name) : nullptr;
                                            })
                         : nullptr;
                if (!d) {
                    changed = true;
                    break;
                }
                setNumber(*d, w, true);
            } else {
                setText();
            }
            r.type = s ? s->kind : 0;
            r.board = int32_t(board);
            r.channel = int32_t(channel);
            Crate_CopyText(r.name, kNameSize, name);
        }
        r.system = systemHandle;
        stored = sink.add(r);
        ++made;
    }
    if (changed) {
        Crate_SetError(ctx, CRATE_ERR_CONFIG_CHANGED, kTextConfigChanged);
        return CRATE_ERR_CONFIG_CHANGED;
    }
    if (stored != EventRecordSink::STORED)
        return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY,
                              stored == EventRecordSink::TOO_MANY ? kTextEventBatchTooLarge
                                                                  : kTextNoMemoryTransport);
    const size_t records = sink.count();
    EventRecord *recs = sink.release();
    if (!recs)
        return KORUHV_ERR_NO_MEMORY;
    if (records == 0) {
        recs[0].type = 2;
        recs[0].system = systemHandle;
        recs[0].board = -1;
        recs[0].channel = -1;
        Crate_CopyText(recs[0].name, kNameSize, "KeepAlive");
    }
    *events = recs;
    *count = records ? int(records) : 1;
    return 0;
}

int HX4400_GetEventData(const BackendRef &b, int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events,
                        int *count)
{
    *events = nullptr;
    *count = 0;
    if (!validHandle(b.handle))
        return KORUHV_ERR_NO_EVENT_READER;
    int ms = gEventMs.load() > 0 ? gEventMs.load() : kDefaultEventMs;
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return KORUHV_ERR_EVENT_SOCKET;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t header[kCrateEventHeaderSize];
    int rc = recvAll(socket, header, sizeof header, deadline);
    if (rc)
        return rc;
    if (std::memcmp(header, "KORUHV", 6) != 0)
        return KORUHV_ERR_EVENT_HEADER;
    uint32_t total = Crate_Load32(header + 41, ByteOrder::Big);
    bool totalOk = total >= kCrateEventHeaderSize && total <= kCrateMaxFrame;
    uint32_t n = Crate_Load32(header + 20, ByteOrder::Big);
    if (n == 0) // nothing to report; a body it carries is read so the next batch starts in step
        return totalOk ? drain(socket, total - kCrateEventHeaderSize, deadline) : 0;
    if (!totalOk)
        return KORUHV_ERR_EVENT_HEADER;
    size_t bodyLen = total - kCrateEventHeaderSize;
    uint8_t *body = static_cast<uint8_t *>(std::malloc(bodyLen ? bodyLen : 1));
    if (!body)
        return KORUHV_ERR_NO_MEMORY;
    rc = recvAll(socket, body, bodyLen, deadline);
    if (rc == 0)
        rc = HX4400_DecodeEventBatch(b.handle, b.slot, header, body, bodyLen, status, events, count);
    std::free(body);
    return rc;
}

} // namespace koruhv
