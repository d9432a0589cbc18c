// BQ71XX subscriptions and the polling thread: the subscribed (row, channel)
// pairs are read register by register each cycle and sent as one batch.
#include <cstring>
#include <string>
#include <vector>

#include "bq71xx_device.h"
#include "comm_entries.h"
#include "item_name.h"

namespace koruhv {

namespace {

constexpr size_t kItemCap = 100;

struct Lookup {
    int kind = ITEM_SYSTEM;
    int row = -1; // -1 rejected
    int channel = 0;
};

Lookup lookup(const Bq71xxInstance &in, const std::string &item)
{
    Lookup l;
    if (item.size() >= kItemCap) {
        l.kind = ITEM_CHANNEL;
        return l;
    }
    int16_t board = 0;
    uint16_t channel = 0;
    char param[kItemCap];
    l.kind = ParseItemName(item.c_str(), &board, &channel, param, sizeof param);
    if (l.kind != ITEM_CHANNEL && l.kind != ITEM_BOARD)
        return l;
    const int r = Bq71xx_Find(in, param);
    if (r < 0 || in.rows[r].mode() == 1)
        return l;
    // The unit has no board parameters: a board item stands for the row's
    // mask byte as a whole (channel 0 when it subscribes).
    if (l.kind == ITEM_BOARD)
        channel = 0;
    else if (channel >= kBq71xxChannels)
        return l;
    l.row = r;
    l.channel = channel;
    return l;
}

} // namespace

int Bq71xx_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    Bq71xxInstance *in = Bq71xx_Instance(b.handle);
    if (!in || !in->inUse.load())
        return BD_NOT_OPEN;
    std::vector<std::string> list;
    if (!Board_SplitItems(items, count, &list) || (count && !results))
        return BD_COUNT_MISMATCH;

    std::lock_guard<std::recursive_mutex> g(in->lock);
    std::vector<std::pair<int, uint8_t>> added;
    for (size_t k = 0; k < list.size(); ++k) {
        const Lookup l = lookup(*in, list[k]);
        if (l.kind != ITEM_CHANNEL && l.kind != ITEM_BOARD)
            continue;
        if (l.row < 0) {
            results[k] = char(255);
            continue;
        }
        const uint8_t bit = uint8_t(1u << l.channel);
        if (l.kind == ITEM_BOARD) {
            if (!in->mask[l.row]) {
                in->mask[l.row] = bit;
                added.emplace_back(l.row, bit);
            }
        } else if (!(in->mask[l.row] & bit)) {
            in->mask[l.row] |= bit;
            added.emplace_back(l.row, bit);
        }
        results[k] = 0;
    }
    if (in->events.ensure(static_cast<unsigned short>(port), Board_SlotAddress(b.slot)) != 0) {
        for (const auto &a : added)
            in->mask[a.first] &= uint8_t(~a.second);
        return BD_EVENT_SOCKET;
    }
    return BD_OK;
}

int Bq71xx_UnSubscribe(const BackendRef &b, short, uint16_t count, const char *items, char *results)
{
    Bq71xxInstance *in = Bq71xx_Instance(b.handle);
    if (!in || !in->inUse.load())
        return BD_NOT_OPEN;
    std::vector<std::string> list;
    if (!Board_SplitItems(items, count, &list) || (count && !results))
        return BD_COUNT_MISMATCH;
    std::lock_guard<std::recursive_mutex> g(in->lock);
    for (size_t k = 0; k < list.size(); ++k) {
        const Lookup l = lookup(*in, list[k]);
        if (l.kind != ITEM_CHANNEL && l.kind != ITEM_BOARD)
            continue;
        if (l.row < 0) {
            results[k] = char(255);
            continue;
        }
        if (l.kind == ITEM_BOARD)
            in->mask[l.row] = 0;
        else
            in->mask[l.row] &= uint8_t(~(1u << l.channel));
        results[k] = 0;
    }
    return BD_OK;
}

void Bq71xx_PollThread(Bq71xxInstance *in)
{
    auto rd = CommEntry<CommRead16>(in->library, "KORUComm_Read16");
    if (!rd || !CommEntry<CommMultiRead16>(in->library, "KORUComm_MultiRead16"))
        return;
    while (!in->poller.stopping()) {
        const int pollMs = Board_Timing().pollMs;
        uint8_t mask[kBq71xxRows];
        int sock = -1;
        bool any = false;
        {
            std::lock_guard<std::recursive_mutex> g(in->lock);
            for (int r = 0; r < kBq71xxRows; ++r)
                any = any || in->mask[r] != 0;
            if (!any)
                in->events.close(); // nothing left to report: the next subscribe reconnects
            std::memcpy(mask, in->mask, sizeof mask);
            sock = in->events.sock;
        }
        if (!in->inUse.load())
            break;
        if (any && sock >= 0) {
            EventBatchWriter w;
            for (int r = 0; r < kBq71xxRows && !in->poller.stopping(); ++r) {
                const RegisterParamRow &row = in->rows[r];
                for (int c = 0; c < kBq71xxChannels; ++c) {
                    if (!(mask[r] & (1u << c)))
                        continue;
                    uint16_t raw = 0;
                    if (rd(in->comm, Bq71xx_Register(row, c), &raw) != 0)
                        continue; // a failed read reports nothing for its pair
                    if (r == BQ_IMRANGE)
                        in->lowRange[c] = uint8_t((raw >> 2) & 1);
                    uint8_t slot[4] = {};
                    if (!Bq71xx_RawToValue(*in, r, c, raw, slot))
                        continue;
                    if (row.type() == 0) {
                        float v;
                        std::memcpy(&v, slot, 4);
                        w.addFloat(in->index, 0, c, row.name, v);
                    } else {
                        int32_t v;
                        std::memcpy(&v, slot, 4);
                        w.addInt(row.type(), in->index, 0, c, row.name, v);
                    }
                }
            }
            if (w.count() > 0)
                Board_SendBatch(in->lock, in->events, sock, w);
            else
                Board_KeepAlive(in->lock, in->events, sock); // every read failed: still heard from
        }
        if (in->poller.sleep(pollMs))
            break;
    }
}

} // namespace koruhv
