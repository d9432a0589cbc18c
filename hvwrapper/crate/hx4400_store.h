// The subscription store of the current-generation crates, shared by the
// subscription calls and the event batch reader (internal). Guarded by the
// context's data lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "crate_sysinfo.h"
#include "event_sink.h"
#include "slot_store.h"

namespace koruhv {
namespace hx4400store {

constexpr int kBoards = 16;
constexpr unsigned kSystemBoard = 255; // the board part of a system item

// What the item at one place of a batch made the last time. A crate sends
// the items of its ramping channels in the same order batch after batch:
// an item is looked up in the store once, and afterwards only its 8 header
// bytes are compared with the ones remembered for its place, while neither
// the store nor the system description changed.
struct RecentItem {
    uint64_t header = 0; // id, kind and length as they came
    uint32_t offset = 0; // in the body
    uint8_t rule = RULE_NONE;
    uint8_t message = 0; // RULE_MESSAGE: its kind 0..2
    RawScale scale;      // RULE_FLOAT
    EventRecordHead head{};
    uint32_t record = 0; // the index of the record it made
};
constexpr size_t kRecentItems = 4096;

// The event reader's memo: what each place of the last batches made, and
// for the last batch, when every one of its items is remembered, its size
// and the records it made, so that a batch with the same 8 header bytes at
// every place is made again from the memo alone.
struct RecentBatch {
    std::vector<RecentItem> items;
    // The whole last batch's header bytes and places, apart: compared at
    // every batch, they take a sixth of the cache lines of the items.
    std::vector<uint64_t> headers;
    std::vector<uint32_t> offsets;
    uint64_t store = 0, description = 0; // the generations it was made under
    const CrateSystemInfo *info = nullptr;
    int32_t system = 0;
    bool whole = false; // items[0 .. count) are the last batch
    size_t count = 0, bodyLen = 0, records = 0;
    uint32_t announced = 0;
};

struct SubscriptionStore : SlotStore<kBoards> {
    uint64_t generation = 0; // counts changes of the slots
    RecentBatch recent;
    void forgetRecent()
    {
        ++generation;
        recent = RecentBatch();
    }
};

// The store of a context (handle 0 .. kCrateContexts - 1).
SubscriptionStore &storeOf(int handle);

} // namespace hx4400store
} // namespace koruhv
