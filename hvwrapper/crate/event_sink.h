// The records one crate or rack event batch makes. A record costs about a
// hundred times the bytes of the item it comes from, so what a batch costs
// is bounded here: the decoder walks the batch's items first and sizes the
// array once for the records they can make (never for what a header
// announces alone); the device's own messages (keep-alive, live insertion,
// transparent mode) are states, not values, and make one record each per
// batch, which a later one of the same kind updates in place; and no batch
// makes more than kMaxEventRecords records (the batch is refused).
//
// Records are filled in place over an array that is zero from the start:
// one bulk clear is far cheaper than clearing or copying each 1060-byte
// record on its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KORUHVWrapper.h"

namespace koruhv {

// About 69 MB of records: far more items than a full crate subscribes.
constexpr size_t kMaxEventRecords = 65536;

// Test hook (internal): the largest record array any batch allocated since
// the last reset, in bytes; the fuzz targets hold it against their input.
inline std::atomic<size_t> gEventRecordPeakBytes{0};
inline void EventRecordSink_ResetPeakForTest()
{
    gEventRecordPeakBytes = 0;
}
inline size_t EventRecordSink_PeakBytesForTest()
{
    return gEventRecordPeakBytes.load();
}

// The fields before a record's value, as they lie in the record; name is
// zero after its text.
struct __attribute__((packed)) EventRecordHead {
    int32_t type, system, board, channel;
    char name[KORUHV_EVENT_NAME_SIZE];
};
static_assert(sizeof(EventRecordHead) == offsetof(EventRecord, value));

// name: KORUHV_EVENT_NAME_SIZE bytes, zero after the text.
inline EventRecordHead EventRecord_Head(int32_t type, int32_t system, int32_t board, int32_t channel,
                                        const char *name)
{
    EventRecordHead h{type, system, board, channel, {}};
    std::memcpy(h.name, name, sizeof h.name);
    return h;
}

// The fields every record has; the value is the caller's.
inline void EventRecord_SetHead(EventRecord *r, const EventRecordHead &h)
{
    std::memcpy(static_cast<void *>(r), &h, sizeof h);
}
inline void EventRecord_SetHead(EventRecord *r, int32_t type, int32_t system, int32_t board, int32_t channel,
                                const char *name)
{
    EventRecord_SetHead(r, EventRecord_Head(type, system, board, channel, name));
}

// Names as records hold them (zero after the text): a channel's name item
// and the device's three messages, with their record types.
inline constexpr char kNameItem[KORUHV_EVENT_NAME_SIZE] = "Name";
inline constexpr char kMessageNames[3][KORUHV_EVENT_NAME_SIZE] = {"KeepAlive", "LiveInsertion", "Tr-Mode"};
inline constexpr int kMessageTypes[3] = {2, 1, 3};

class EventRecordSink {
public:
    EventRecordSink() = default;
    EventRecordSink(const EventRecordSink &) = delete;
    EventRecordSink &operator=(const EventRecordSink &) = delete;
    ~EventRecordSink() { std::free(recs_); }

    enum Result { STORED, NO_MEMORY, TOO_MANY };

    // Room for `bound` records, the most the batch's items can make (at
    // least one, for the keep-alive record of a batch that makes none; at
    // most the cap), all zero.
    Result reserve(size_t bound)
    {
        if (bound < 1)
            bound = 1;
        if (bound > kMaxEventRecords)
            bound = kMaxEventRecords;
        return resize(bound) ? STORED : (result_ = NO_MEMORY);
    }

    // The next record, all zero, counted as made: the caller fills its
    // fields. nullptr when the batch would pass the cap or memory ran out
    // (result() says which).
    EventRecord *next()
    {
        if (__builtin_expect(count_ == cap_, 0) && !grow())
            return nullptr;
        return &recs_[count_++];
    }

    // The record of device message kind 0..2 of this batch: the one made
    // before (the caller writes the same fields again, with the new value)
    // or the next one. nullptr for another kind, or as next().
    EventRecord *message(unsigned kind)
    {
        if (kind > 2)
            return nullptr;
        if (messageAt_[kind] >= 0)
            return &recs_[messageAt_[kind]];
        EventRecord *r = next();
        if (r)
            messageAt_[kind] = int(count_ - 1);
        return r;
    }

    // The first n records at once, all zero and counted as made, for a
    // decoder that knows where each of its records goes; null when n is
    // past the room reserved.
    EventRecord *all(size_t n)
    {
        if (n > cap_ || count_ != 0)
            return nullptr;
        count_ = n;
        return recs_;
    }
    // Where record i of this batch is (i below count()).
    size_t indexOf(const EventRecord *r) const { return size_t(r - recs_); }

    Result result() const { return result_; }
    size_t count() const { return count_; }
    // Bytes of the array as allocated now.
    size_t capacityBytes() const { return cap_ * sizeof(EventRecord); }

    // Hands the records over (at least one zeroed record when none
    // was made), given back down to them when the walk's bound was far
    // above them.
    EventRecord *release()
    {
        if (!recs_ && !resize(1))
            return nullptr;
        if (cap_ > 16 && count_ < cap_ / 2)
            if (void *p = std::realloc(recs_, (count_ ? count_ : 1) * sizeof(EventRecord)))
                recs_ = static_cast<EventRecord *>(p);
        EventRecord *r = recs_;
        recs_ = nullptr;
        count_ = cap_ = 0;
        messageAt_[0] = messageAt_[1] = messageAt_[2] = -1;
        result_ = STORED;
        return r;
    }

    // Hands the records over as the event call gives them, *count with
    // them: a batch that made none gives one keep-alive record of the
    // system. Null when memory ran out.
    EventRecord *releaseBatch(int32_t system, int *count)
    {
        const size_t made = count_;
        EventRecord *r = release();
        if (!r)
            return nullptr;
        if (made == 0)
            EventRecord_SetHead(r, kMessageTypes[0], system, -1, -1, kMessageNames[0]);
        *count = made ? int(made) : 1;
        return r;
    }

private:
    // A walk whose bound fell short of the records made would be a fault of
    // its decoder; the array then doubles rather than lose records.
    bool grow()
    {
        if (cap_ == kMaxEventRecords) {
            result_ = TOO_MANY;
            return false;
        }
        size_t cap = cap_ ? cap_ * 2 : 16;
        if (!resize(cap < kMaxEventRecords ? cap : kMaxEventRecords)) {
            result_ = NO_MEMORY;
            return false;
        }
        return true;
    }

    bool resize(size_t cap)
    {
        void *p =
            recs_ ? std::realloc(recs_, cap * sizeof(EventRecord)) : std::calloc(cap, sizeof(EventRecord));
        if (!p)
            return false;
        if (recs_ && cap > cap_)
            std::memset(static_cast<EventRecord *>(p) + cap_, 0, (cap - cap_) * sizeof(EventRecord));
        recs_ = static_cast<EventRecord *>(p);
        cap_ = cap;
        size_t seen = gEventRecordPeakBytes.load(std::memory_order_relaxed);
        while (seen < cap * sizeof(EventRecord) &&
               !gEventRecordPeakBytes.compare_exchange_weak(seen, cap * sizeof(EventRecord)))
            ;
        return true;
    }

    EventRecord *recs_ = nullptr;
    size_t count_ = 0, cap_ = 0;
    int messageAt_[3] = {-1, -1, -1};
    Result result_ = STORED;
};

} // namespace koruhv
