// The records one crate or rack event batch makes. A record costs about a
// hundred times the bytes of the item it comes from, so what a batch costs
// is bounded here: the array grows with the records actually made, never
// with what a header announces; the device's own messages (keep-alive, live
// insertion, transparent mode) are states, not values, and make one record
// each per batch, which a later one of the same kind updates in place; and
// no batch makes more than kMaxEventRecords records (the batch is refused).
#pragma once

#include <atomic>
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

class EventRecordSink {
public:
    EventRecordSink() = default;
    EventRecordSink(const EventRecordSink &) = delete;
    EventRecordSink &operator=(const EventRecordSink &) = delete;
    ~EventRecordSink() { std::free(recs_); }

    enum Result { STORED, NO_MEMORY, TOO_MANY };

    // Appends r.
    Result add(const EventRecord &r)
    {
        if (count_ == kMaxEventRecords)
            return TOO_MANY;
        if (!grow())
            return NO_MEMORY;
        std::memcpy(static_cast<void *>(&recs_[count_++]), &r, sizeof r);
        return STORED;
    }

    // A device message of kind 0..2: its record of this batch is replaced by
    // r, or r is appended as it.
    Result message(int kind, const EventRecord &r)
    {
        if (kind < 0 || kind > 2)
            return STORED;
        if (messageAt_[kind] >= 0) {
            std::memcpy(static_cast<void *>(&recs_[messageAt_[kind]]), &r, sizeof r);
            return STORED;
        }
        Result res = add(r);
        if (res == STORED)
            messageAt_[kind] = int(count_ - 1);
        return res;
    }

    size_t count() const { return count_; }
    // Bytes of the array as allocated now.
    size_t capacityBytes() const { return cap_ * sizeof(EventRecord); }

    // Hands the array over (at least one zeroed record when none was made).
    EventRecord *release()
    {
        if (!recs_)
            recs_ = static_cast<EventRecord *>(std::calloc(1, sizeof(EventRecord)));
        EventRecord *r = recs_;
        recs_ = nullptr;
        count_ = cap_ = 0;
        messageAt_[0] = messageAt_[1] = messageAt_[2] = -1;
        return r;
    }

private:
    bool grow()
    {
        if (count_ < cap_)
            return true;
        size_t cap = cap_ ? cap_ * 2 : 16;
        if (cap > kMaxEventRecords)
            cap = kMaxEventRecords;
        void *p = std::realloc(recs_, cap * sizeof(EventRecord));
        if (!p)
            return false;
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
};

} // namespace koruhv
