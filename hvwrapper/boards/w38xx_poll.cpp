// W38XX subscriptions and the polling thread: every subscribed register is
// read in one multi-read per cycle and sent as one event batch to the
// subscriber, changed or not.
#include <cstring>
#include <string>
#include <vector>

#include "comm_entries.h"
#include "item_name.h"
#include "w38xx_device.h"

namespace koruhv {

namespace {

constexpr size_t kItemCap = 100; // an item and its NUL

struct Lookup {
    int kind = ITEM_SYSTEM;
    int row = -1;      // 0 board, c + 1 channel c
    int position = -1; // in the row; -1 rejected
};

Lookup lookup(const W38xxDevice &d, const std::string &item)
{
    Lookup l;
    if (item.size() >= kItemCap) {
        l.kind = ITEM_CHANNEL; // too long to be one of ours: rejected
        return l;
    }
    int16_t board = 0;
    uint16_t channel = 0;
    char param[kItemCap];
    l.kind = ParseItemName(item.c_str(), &board, &channel, param, sizeof param);
    if (l.kind != ITEM_CHANNEL && l.kind != ITEM_BOARD)
        return l;
    const int i = W38xx_Find(d, param);
    if (i < 0 || d.desc[i].command())
        return l;
    if (l.kind == ITEM_CHANNEL) {
        if (channel >= d.channelCount)
            return l;
        l.row = channel + 1;
    } else {
        l.row = 0;
    }
    l.position = W38xx_InRow(d, l.row, i);
    return l;
}

} // namespace

int W38xx_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    W38xxDevice *d = W38xx_Device(b.handle);
    if (!d || !d->inUse.load())
        return BD_NOT_OPEN;
    std::vector<std::string> list;
    if (!Board_SplitItems(items, count, &list) || (count && !results))
        return BD_COUNT_MISMATCH;

    std::lock_guard<std::recursive_mutex> g(d->lock);
    std::vector<uint32_t> ids;
    std::vector<std::pair<int, int>> flagged; // (row, position) newly set, taken back on failure
    for (size_t k = 0; k < list.size(); ++k) {
        const Lookup l = lookup(*d, list[k]);
        if (l.kind != ITEM_CHANNEL && l.kind != ITEM_BOARD)
            continue; // system items: the byte stays as the caller set it
        if (l.position < 0) {
            results[k] = char(255);
            continue;
        }
        W38xxRow &row = d->rows[l.row];
        results[k] = 0;
        if (row.subscribed[l.position])
            continue;
        row.subscribed[l.position] = 1;
        flagged.emplace_back(l.row, l.position);
        ids.push_back(row.id[l.position]);
    }
    if (d->events.ensure(static_cast<unsigned short>(port), Board_SlotAddress(b.slot)) != 0) {
        // Nothing of this call stays: a later subscribe of the same items
        // starts afresh.
        for (const auto &f : flagged)
            d->rows[f.first].subscribed[f.second] = 0;
        return BD_EVENT_SOCKET;
    }
    d->subscriptions.insert(d->subscriptions.end(), ids.begin(), ids.end());
    d->changed = true;
    return BD_OK;
}

int W38xx_UnSubscribe(const BackendRef &b, short, uint16_t count, const char *items, char *results)
{
    W38xxDevice *d = W38xx_Device(b.handle);
    if (!d || !d->inUse.load())
        return BD_NOT_OPEN;
    std::vector<std::string> list;
    if (!Board_SplitItems(items, count, &list) || (count && !results))
        return BD_COUNT_MISMATCH;

    std::lock_guard<std::recursive_mutex> g(d->lock);
    std::vector<uint32_t> ids;
    for (size_t k = 0; k < list.size(); ++k) {
        const Lookup l = lookup(*d, list[k]);
        if (l.kind != ITEM_CHANNEL && l.kind != ITEM_BOARD)
            continue;
        if (l.position < 0 || !d->rows[l.row].subscribed[l.position]) {
            results[k] = char(255);
            continue;
        }
        d->rows[l.row].subscribed[l.position] = 0;
        ids.push_back(d->rows[l.row].id[l.position]);
        results[k] = 0;
    }
    std::vector<uint32_t> kept;
    for (uint32_t id : d->subscriptions) {
        bool drop = false;
        for (uint32_t x : ids)
            drop = drop || x == id;
        if (!drop)
            kept.push_back(id);
    }
    d->subscriptions.swap(kept);
    d->changed = true;
    return BD_OK;
}

void W38xx_PollThread(W38xxDevice *d)
{
    auto multi = CommEntry<CommMultiRead16>(d->library, "KORUComm_MultiRead16");
    if (!multi || !CommEntry<void *>(d->library, "KORUComm_MultiRead32"))
        return;

    std::vector<uint32_t> ids;
    std::vector<uint32_t> addresses; // per id its register, then the high word of 32-bit ones
    std::vector<int> highAt;         // per id the index of its high word, or -1
    std::vector<uint16_t> values;
    std::vector<int> errors;
    bool rebuild = true;
    while (!d->poller.stopping()) {
        const int pollMs = Board_Timing().pollMs;
        int sock = -1;
        {
            std::lock_guard<std::recursive_mutex> g(d->lock);
            const bool changed = d->changed;
            d->changed = false;
            if (d->subscriptions.empty()) {
                d->events.close(); // nothing left to report: the next subscribe reconnects
                ids.clear();
                rebuild = true;
            } else {
                if (changed) {
                    ids = d->subscriptions;
                    rebuild = true;
                }
                sock = d->events.sock;
            }
        }
        if (!d->inUse.load())
            break;
        if (!ids.empty() && sock >= 0) {
            if (rebuild) {
                rebuild = false;
                addresses.clear();
                highAt.assign(ids.size(), -1);
                for (uint32_t id : ids) {
                    const W38xxDescriptor &desc = d->desc[id & 0xFF];
                    const uint32_t ch = (id >> 8) & 0xFFFF;
                    addresses.push_back(W38xx_Register(desc, ch == 0xFFFF ? -1 : int(ch)));
                }
                // A 32-bit value is read whole, not by its low word alone.
                for (size_t k = 0; k < ids.size(); ++k)
                    if (d->desc[ids[k] & 0xFF].wide()) {
                        highAt[k] = int(addresses.size());
                        addresses.push_back(addresses[k] + 2);
                    }
                values.assign(addresses.size(), 0);
                errors.assign(addresses.size(), 0);
            }
            bool alive = true;
            if (multi(d->comm, addresses.data(), int(addresses.size()), values.data(), errors.data()) == 0) {
                EventBatchWriter w;
                for (size_t k = 0; k < ids.size(); ++k) {
                    const W38xxDescriptor &desc = d->desc[ids[k] & 0xFF];
                    const uint32_t ch = (ids[k] >> 8) & 0xFFFF;
                    const int channel = ch == 0xFFFF ? -1 : int(ch);
                    uint32_t raw = values[k];
                    if (highAt[k] >= 0)
                        raw |= uint32_t(values[size_t(highAt[k])]) << 16;
                    uint8_t slot[4] = {};
                    W38xx_RawToValue(desc, raw, slot);
                    int32_t iv;
                    float fv;
                    std::memcpy(&iv, slot, 4);
                    std::memcpy(&fv, slot, 4);
                    if (desc.type() == 0)
                        w.addFloat(int(ids[k]), 0, channel, desc.name, fv);
                    else
                        w.addInt(desc.type(), int(ids[k]), 0, channel, desc.name, desc.type() <= 4 && desc.type() != 3 ? iv : 0);
                }
                alive = Board_SendBatch(d->lock, d->events, sock, w);
            } else {
                // The board did not answer: no batch this cycle, but the
                // connection hears from us within the keep-alive time, and
                // the next read waits for the period like any other.
                alive = Board_KeepAlive(d->lock, d->events, sock);
            }
            (void)alive;
        }
        if (d->poller.sleep(pollMs))
            break;
    }
    std::lock_guard<std::recursive_mutex> g(d->lock);
    d->changed = false;
}

} // namespace koruhv
