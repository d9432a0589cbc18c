// The subscription store the current-generation crates and the rack share:
// the device names each item by a 32-bit id (board << 24 | channel << 8 |
// slot), and the store keeps, per id, the item's name and kind in slots of
// the system, of each board and of each channel. A family keeps one store
// per context, guarded by the context's data lock, and says how a channel
// item finds its slot and how an item name is read back to its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate_protocol.h"
#include "crate_sysinfo.h"

namespace koruhv {

constexpr int kItemSlots = 30;
constexpr size_t kNameSize = KORUHV_EVENT_NAME_SIZE;

// The three parts of an item id.
struct ItemId {
    unsigned board, channel, slot;
    explicit ItemId(uint32_t id) : board(id >> 24), channel((id >> 8) & 0xFFFFu), slot(id & 0xFFu) {}
};
constexpr unsigned kBoardItem = 0xFFFFu;  // the channel part of a board item
constexpr unsigned kNameOnlyItem = 0xFFu; // the slot part of a channel's name
// The board part of a crate's own message in a batch, and of a system item
// of kind 1 in the store.
constexpr unsigned kMessageBoard = 254;

struct ItemSlot {
    uint8_t inUse = 0;
    uint32_t id = 0;
    int32_t kind = 0;
    char name[kNameSize] = {}; // zero after the text: records take all of it
    // The item's descriptor index in the system description of generation
    // descGeneration (0: not looked up yet). Kept by an event reader under
    // the context's data lock, so each item's name is compared once per
    // description instead of once per event.
    mutable uint64_t descGeneration = 0;
    mutable int descIndex = -1;

    // Takes the slot for an item (a new name is looked up anew).
    void set(uint32_t itemId, int itemKind, const char *itemName)
    {
        inUse = 1;
        id = itemId;
        kind = itemKind;
        // A slot taken again may have held a longer name.
        std::memset(name, 0, sizeof name);
        Crate_CopyText(name, sizeof name, itemName);
        descGeneration = 0;
        descIndex = -1;
    }
};

// The slot of that name among n, or null.
inline ItemSlot *ItemSlot_Find(ItemSlot *slots, size_t n, const char *name)
{
    char key[kNameSize];
    Crate_CopyText(key, sizeof key, name);
    for (size_t i = 0; i < n; ++i)
        if (slots[i].inUse && std::strcmp(slots[i].name, key) == 0)
            return &slots[i];
    return nullptr;
}

// Frees the slot of that name among n whole, so it can be taken again: 0
// with its *id, or -1 when none has the name.
inline int ItemSlot_Take(ItemSlot *slots, size_t n, const char *name, uint32_t *id)
{
    ItemSlot *s = ItemSlot_Find(slots, n, name);
    if (!s)
        return -1;
    *id = s->id;
    *s = ItemSlot();
    return 0;
}

// The parameter name of an item: the text after its last '.'.
inline const char *ItemName_LastPart(const char *item)
{
    const char *dot = std::strrchr(item, '.');
    return dot ? dot + 1 : item;
}

// What an item makes: no record (RULE_NONE: the configuration changed;
// RULE_SKIP: nobody subscribed to it), a device message's, or a value made
// from its bytes in one of four ways.
enum ItemRule : uint8_t { RULE_NONE, RULE_SKIP, RULE_MESSAGE, RULE_WORD, RULE_ZERO, RULE_FLOAT, RULE_TEXT };

// How a number item's value is made from its descriptor's type: scaled, the
// word itself (switches, status and binary words), or left zero.
inline ItemRule Crate_NumberRule(const ParamDescriptor &d, bool channelLevel)
{
    if (d.type == PARAM_NUMERIC)
        return RULE_FLOAT;
    if (d.type == PARAM_ONOFF || d.type == PARAM_BINARY ||
        d.type == (channelLevel ? PARAM_CHSTATUS : PARAM_BDSTATUS))
        return RULE_WORD;
    return RULE_ZERO;
}

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

    // The channel's slot array was made.
    bool hasChannelSlots(unsigned channel) const
    {
        return hasArrays && channel < channels.size() && hasSlots[channel];
    }
    void releaseArrays()
    {
        channels.clear();
        channels.shrink_to_fit();
        hasSlots.clear();
        hasSlots.shrink_to_fit();
        hasArrays = false;
    }
    // The block no longer in use, its per-channel arrays released.
    void release()
    {
        releaseArrays();
        channelCount = 0;
        inUse = 0;
    }
    // A board of channelCount channels (as the crate map tells): a block in
    // use without channels is released; one without arrays gets them, empty.
    // False when memory ran out (no arrays then).
    bool size(int count)
    {
        if (count < 1) {
            if (inUse)
                release();
            channelCount = 0;
            return true;
        }
        if (hasArrays)
            return true;
        if (!inUse) {
            try {
                channels.assign(size_t(count), {});
                hasSlots.assign(size_t(count), 0);
            } catch (...) {
                releaseArrays();
                return false;
            }
            hasArrays = true;
            inUse = 1;
        }
        channelCount = uint32_t(count);
        return true;
    }
    // The per-channel arrays for count channels when missing, and the slot
    // array of one of them (paramCount slots) when it has none yet. False
    // when memory ran out.
    bool prepareChannel(size_t count, size_t channel, size_t paramCount)
    {
        try {
            if (!hasArrays) {
                channels.assign(count, {});
                hasSlots.assign(count, 0);
                channelCount = uint32_t(count);
                hasArrays = true;
                inUse = 1;
            }
            if (channel < count && channel < channels.size() && !hasSlots[channel]) {
                channels[channel].assign(paramCount, ItemSlot());
                hasSlots[channel] = 1;
            }
        } catch (...) {
            return false;
        }
        return true;
    }
};

// The store of one context: the system's slots and one block per board.
template <int Boards> struct SlotStore {
    static constexpr int kBoards = Boards;
    int32_t systemHandle = 0;
    ItemSlot systemSlots[kItemSlots];
    BoardBlock boards[Boards];

    // Stores a system item (board part systemBoard, or kMessageBoard for an
    // item of kind 1) or a board item under the item's parameter name: 1,
    // or 0 for a board or slot out of range. A channel item is the family's
    // to place: -1 with *block its board's block.
    int storeLevelItem(unsigned systemBoard, uint32_t id, const char *item, BoardBlock **block)
    {
        const char *name = ItemName_LastPart(item);
        const ItemId at(id);
        if (at.board == systemBoard || at.board == kMessageBoard) {
            if (at.slot >= unsigned(kItemSlots))
                return 0;
            systemSlots[at.slot].set(id, at.board == kMessageBoard ? 1 : 0, name);
            return 1;
        }
        if (at.board >= unsigned(Boards))
            return 0;
        BoardBlock &blk = boards[at.board];
        if (at.channel == kBoardItem) {
            if (at.slot >= unsigned(kItemSlots))
                return 0;
            blk.inUse = 1;
            blk.boardSlots[at.slot].set(id, 0, name);
            return 1;
        }
        *block = &blk;
        return -1;
    }
    // Every board's per-channel arrays released (the items of the system
    // and of the boards stay).
    void releaseBoards()
    {
        for (BoardBlock &blk : boards)
            if (blk.inUse)
                blk.release();
    }
    // Empty, items included.
    void reset()
    {
        systemHandle = 0;
        for (ItemSlot &s : systemSlots)
            s = ItemSlot();
        for (BoardBlock &blk : boards) {
            blk.release();
            for (ItemSlot &s : blk.boardSlots)
                s = ItemSlot();
        }
    }
};

} // namespace koruhv
