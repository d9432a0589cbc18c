// Event batches of the current-generation crates: the items of one batch
// turned into records, by the subscription store of the context.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "crate_ops.h"
#include "event_sink.h"
#include "hx4400_backend.h"
#include "hx4400_store.h"

namespace koruhv {

using namespace hx4400store;

namespace {

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

// The most records a batch body can make, from its items alone: one per
// item that may be a value (system, board or channel item), one per kind of
// crate message, and no more than the header announces.
size_t recordBound(const uint8_t *body, size_t len, uint32_t announced)
{
    size_t values = 0;
    unsigned kinds = 0;
    for (size_t at = 0; len - at >= 8 && values < announced;) {
        const unsigned board = body[at], slot = body[at + 3];
        const size_t vlen = size_t(body[at + 6]) << 8 | body[at + 7];
        if (len - at - 8 < vlen)
            break; // where the decoder's walk ends too
        if (board == kMessageBoard) {
            if (slot <= 2 && vlen >= 2)
                kinds |= 1u << slot;
        } else if (board < unsigned(kBoards) || board == kSystemBoard) {
            ++values;
        }
        // Number items are the usual ones: the step taken on that guess
        // lets the next item's load start before this one's length is in.
        if (vlen == 4) {
            at += 12;
        } else {
            at += 8 + vlen;
            asm("" : "+r"(at));
        }
    }
    const size_t bound = values + size_t(__builtin_popcount(kinds));
    return bound < announced ? bound : announced;
}

// The slot of a channel item, or null.
inline const ItemSlot *channelSlot(const BoardBlock &blk, unsigned channel, unsigned slot)
{
    // A channel's slot array is made with its flag set, and stays empty
    // without it.
    if (channel >= blk.channelCount || channel >= blk.channels.size() || slot >= blk.channels[channel].size())
        return nullptr;
    const ItemSlot *s = &blk.channels[channel][slot];
    return s->inUse ? s : nullptr;
}

enum Outcome { SKIP, CHANGED, MADE };

// Looks a system, board or channel item up: what its record holds (*out),
// or why it makes none (an item nobody subscribed to is passed over; a
// number item without a descriptor means the crate's configuration changed).
Outcome resolve(const SubscriptionStore &st, const CrateSystemInfo *info, uint64_t generation,
                int32_t systemHandle, uint32_t id, uint16_t kind, RecentItem *out)
{
    const ItemId at(id);
    const unsigned board = at.board, channel = at.channel, slot = at.slot;
    const ItemSlot *s = nullptr;
    int32_t recBoard = -1, recChannel = -1;
    const ParamDescriptor *d = nullptr;
    ItemRule rule = kind == 0 ? RULE_WORD : RULE_TEXT;
    if (board == kSystemBoard) {
        if (slot >= kItemSlots || !st.systemSlots[slot].inUse)
            return SKIP;
        s = &st.systemSlots[slot];
    } else if (channel == kBoardItem) {
        if (slot >= kItemSlots || !st.boards[board].boardSlots[slot].inUse)
            return SKIP;
        s = &st.boards[board].boardSlots[slot];
        recBoard = int32_t(board);
        if (kind == 0) {
            if (!info)
                return SKIP;
            d = cachedDescriptor(s, info, generation, [&]() -> const ParamDescriptor * {
                const CrateBoardEntry *e = info->findBoard(int(board));
                return e ? info->boardParam(*e, s->name) : nullptr;
            });
            if (!d)
                return info->findBoard(int(board)) ? CHANGED : SKIP;
            rule = Crate_NumberRule(*d, false);
        }
    } else {
        const BoardBlock &blk = st.boards[board];
        if (channel >= blk.channelCount)
            return SKIP;
        if (slot != kNameOnlyItem && !(s = channelSlot(blk, channel, slot)))
            return SKIP;
        recBoard = int32_t(board);
        recChannel = int32_t(channel);
        if (kind == 0) {
            const char *param = s ? s->name : kNameItem;
            d = info ? cachedDescriptor(s, info, generation,
                                        [&]() -> const ParamDescriptor * {
                                            const CrateBoardEntry *e = info->findBoard(int(board));
                                            return e ? info->channelParam(*e, channel, param) : nullptr;
                                        })
                     : nullptr;
            if (!d)
                return CHANGED;
            rule = Crate_NumberRule(*d, true);
        }
    }
    out->rule = rule;
    if (d)
        out->scale = Crate_ScaleOf(*d);
    out->head =
        EventRecord_Head(s ? s->kind : 0, systemHandle, recBoard, recChannel, s ? s->name : kNameItem);
    return MADE;
}

// What an item makes (RULE_NONE: the configuration changed).
RecentItem settle(const SubscriptionStore &st, const CrateSystemInfo *info, uint64_t generation,
                  int32_t systemHandle, uint64_t header, uint32_t offset, uint32_t id, uint16_t kind,
                  uint16_t len)
{
    RecentItem e;
    e.header = header;
    e.offset = offset;
    e.rule = RULE_SKIP;
    const ItemId at(id);
    const unsigned board = at.board, slot = at.slot;
    if (board >= unsigned(kBoards) && board < kMessageBoard)
        return e;
    if (board == kMessageBoard) {
        if (slot <= 2 && len >= 2) {
            e.rule = RULE_MESSAGE;
            e.message = uint8_t(slot);
            e.head = EventRecord_Head(kMessageTypes[slot], systemHandle, -1, -1, kMessageNames[slot]);
        }
        return e;
    }
    if (kind == 0 && len < 4)
        return e;
    if (resolve(st, info, generation, systemHandle, id, kind, &e) == CHANGED)
        e.rule = RULE_NONE;
    return e;
}

// Fills the record of an item whose value bytes are at v.
inline __attribute__((always_inline)) void fill(EventRecord *r, const RecentItem &e, const uint8_t *v)
{
    EventRecord_SetHead(r, e.head);
    switch (e.rule) {
    case RULE_MESSAGE:
        r->value.IntValue = int32_t(Crate_Load16(v, ByteOrder::Big));
        break;
    case RULE_WORD:
        r->value.UIntValue = Crate_Load32(v, ByteOrder::Big);
        break;
    case RULE_FLOAT:
        r->value.FloatValue = Crate_Scale(e.scale, Crate_Load32(v, ByteOrder::Big));
        break;
    case RULE_TEXT: {
        const size_t len = Crate_Load16(v - 2, ByteOrder::Big);
        std::memcpy(r->value.StringValue, v, len < 1023 ? len : 1023);
        break;
    }
    default:
        break;
    }
}

// Makes the record of an item at v (its value bytes); null when the batch
// passed the cap or memory ran out.
inline __attribute__((always_inline)) EventRecord *make(EventRecordSink &sink, const RecentItem &e,
                                                        const uint8_t *v)
{
    EventRecord *r = e.rule == RULE_MESSAGE ? sink.message(e.message) : sink.next();
    if (r)
        fill(r, e, v);
    return r;
}

uint64_t load64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Whether the batch has, at every place, the 8 header bytes of the last
// batch: then it makes the same records from the same places.
bool sameItems(const RecentBatch &m, const uint8_t *body, size_t bodyLen, uint32_t n)
{
    if (!m.whole || m.bodyLen != bodyLen || m.announced != n)
        return false;
    uint64_t differ = 0;
    for (size_t i = 0; i < m.count; ++i)
        differ |= load64(body + m.offsets[i]) ^ m.headers[i];
    return differ == 0;
}

// Keeps what the item at place `at` makes, for the next batches; false
// when it could not.
bool remember(RecentBatch &m, size_t at, const RecentItem &e)
{
    if (at >= kRecentItems)
        return false;
    if (at >= m.items.size()) {
        try {
            m.items.resize(at + 1);
        } catch (const std::bad_alloc &) {
            return false; // the item is looked up again next time
        }
    }
    m.items[at] = e;
    return true;
}

// Copies the header bytes and places of the first `count` items apart.
bool keepPlaces(RecentBatch &m, size_t count)
{
    try {
        m.headers.resize(count);
        m.offsets.resize(count);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        m.headers[i] = m.items[i].header;
        m.offsets[i] = m.items[i].offset;
    }
    return true;
}

} // namespace

int HX4400_DecodeEventBatch(int handle, int systemHandle, const uint8_t *header, const uint8_t *body,
                            size_t bodyLen, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events, int *count)
{
    *events = nullptr;
    *count = 0;
    if (handle < 0 || handle >= kCrateContexts)
        return KORUHV_ERR_NO_EVENT_READER;
    // Records past the announced count are not made.
    const uint32_t n = Crate_Load32(header + 20, ByteOrder::Big);
    if (status) {
        status->System = statusWord(int8_t(header[40]));
        for (int i = 0; i < 16; ++i)
            status->Board[i] = statusWord(int8_t(header[24 + i]));
    }
    CrateContext &ctx = HX4400_Contexts()[handle];
    std::lock_guard<std::mutex> g(ctx.dataLock);
    SubscriptionStore &st = storeOf(handle);
    RecentBatch &m = st.recent;
    const CrateSystemInfo *info = ctx.inUse ? ctx.sysInfo : nullptr;
    const uint64_t generation = ctx.sysInfoGeneration;
    if (m.store != st.generation || m.description != generation || m.info != info ||
        m.system != systemHandle) {
        m.items.clear();
        m.whole = false;
        m.store = st.generation;
        m.description = generation;
        m.info = info;
        m.system = systemHandle;
    }
    const bool same = sameItems(m, body, bodyLen, n);
    EventRecordSink sink;
    if (sink.reserve(same ? m.records : recordBound(body, bodyLen, n)) != EventRecordSink::STORED)
        return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
    bool changed = false, full = false;
    if (same) {
        // Each record goes where it went in the remembered batch.
        EventRecord *recs = sink.all(m.records);
        full = !recs;
        const RecentItem *items = m.items.data();
        const uint32_t *offsets = m.offsets.data();
        for (size_t i = 0, count = recs ? m.count : 0; i < count; ++i)
            if (items[i].rule != RULE_SKIP)
                fill(recs + items[i].record, items[i], body + offsets[i] + 8);
    } else {
        size_t made = 0; // items that gave a record
        size_t at = 0;   // the item's place in the batch
        bool whole = true;
        const uint8_t *p = body, *const end = body + bodyLen;
        for (; end - p >= 8; ++at) {
            const uint64_t raw = load64(p);
            const uint32_t id = Crate_Load32(p, ByteOrder::Big);
            const uint16_t kind = Crate_Load16(p + 4, ByteOrder::Big);
            const uint16_t len = Crate_Load16(p + 6, ByteOrder::Big);
            const uint8_t *v = p + 8;
            if (size_t(end - v) < len)
                break; // the item runs past the body: the walk ends here
            const uint32_t offset = uint32_t(p - body);
            p = v + len;
            if (made >= n) {
                whole = false;
                continue;
            }
            const RecentItem *e = at < m.items.size() ? &m.items[at] : nullptr;
            RecentItem fresh;
            if (e && e->header == raw && e->rule != RULE_NONE) {
                m.items[at].offset = offset;
            } else {
                fresh = settle(st, info, generation, systemHandle, raw, offset, id, kind, len);
                if (fresh.rule == RULE_NONE) {
                    changed = true;
                    break;
                }
                whole = remember(m, at, fresh) && whole;
                e = &fresh;
            }
            if (e->rule == RULE_SKIP)
                continue;
            const EventRecord *r = make(sink, *e, v);
            if (!r) {
                full = true;
                break;
            }
            if (at < m.items.size())
                m.items[at].record = uint32_t(sink.indexOf(r));
            ++made;
        }
        m.whole = whole && !changed && !full && end - p < 8 && keepPlaces(m, at);
        m.count = at;
        m.bodyLen = bodyLen;
        m.announced = n;
        m.records = sink.count();
    }
    if (changed) {
        Crate_SetError(ctx, CRATE_ERR_CONFIG_CHANGED, kTextConfigChanged);
        return CRATE_ERR_CONFIG_CHANGED;
    }
    if (full)
        return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY,
                              sink.result() == EventRecordSink::TOO_MANY ? kTextEventBatchTooLarge
                                                                         : kTextNoMemoryTransport);
    EventRecord *recs = sink.releaseBatch(systemHandle, count);
    if (!recs)
        return KORUHV_ERR_NO_MEMORY;
    *events = recs;
    return 0;
}

} // namespace koruhv
