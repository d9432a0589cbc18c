// W38XX subscriptions and the polling thread: every subscribed register is
// read in one multi-read per cycle and sent as one event batch to the
// subscriber, changed or not.
#include <cstring>
#include <utility>
#include <vector>

#include "w38xx_device.h"

namespace koruhv {

namespace {

// Position of a board (channel -1) or channel parameter in its row as
// (row, position); position -1 when the board has no such subscribable item.
std::pair<int, int> lookup(const W38xxDevice &d, int channel, const char *param)
{
    const int i = W38xx_Find(d, param);
    if (i < 0 || d.desc[i].command() || channel >= d.channelCount)
        return {-1, -1};
    const int row = channel + 1;
    return {row, W38xx_InRow(d, row, i)};
}

class Subscribe : public RegisterItems {
public:
    explicit Subscribe(W38xxDevice &d) : d_(d) {}
    bool apply(int channel, const char *param) override
    {
        const auto [row, position] = lookup(d_, channel, param);
        if (position < 0)
            return false;
        W38xxRow &r = d_.rows[row];
        if (!r.subscribed[position]) {
            r.subscribed[position] = 1;
            flagged_.emplace_back(row, position);
            ids_.push_back(r.id[position]);
        }
        return true;
    }
    void takeBack() override
    {
        for (const auto &f : flagged_)
            d_.rows[f.first].subscribed[f.second] = 0;
    }
    void done() override
    {
        d_.subscriptions.insert(d_.subscriptions.end(), ids_.begin(), ids_.end());
        d_.changed = true;
    }

private:
    W38xxDevice &d_;
    std::vector<uint32_t> ids_;
    std::vector<std::pair<int, int>> flagged_; // (row, position) newly set
};

class UnSubscribe : public RegisterItems {
public:
    explicit UnSubscribe(W38xxDevice &d) : d_(d) {}
    bool apply(int channel, const char *param) override
    {
        const auto [row, position] = lookup(d_, channel, param);
        if (position < 0 || !d_.rows[row].subscribed[position])
            return false;
        d_.rows[row].subscribed[position] = 0;
        ids_.push_back(d_.rows[row].id[position]);
        return true;
    }
    void done() override
    {
        std::vector<uint32_t> kept;
        for (uint32_t id : d_.subscriptions) {
            bool drop = false;
            for (uint32_t x : ids_)
                drop = drop || x == id;
            if (!drop)
                kept.push_back(id);
        }
        d_.subscriptions.swap(kept);
        d_.changed = true;
    }

private:
    W38xxDevice &d_;
    std::vector<uint32_t> ids_;
};

// One multi-read of the subscribed registers; the address list is rebuilt
// only when the subscriptions changed.
class Cycle : public RegisterPollCycle {
public:
    Cycle(W38xxDevice &d, CommMultiRead16 multi) : d_(d), multi_(multi) {}

    bool take() override
    {
        const bool changed = d_.changed;
        d_.changed = false;
        if (d_.subscriptions.empty()) {
            ids_.clear();
            rebuild_ = true;
        } else if (changed) {
            ids_ = d_.subscriptions;
            rebuild_ = true;
        }
        return !ids_.empty();
    }

    bool read(EventBatchWriter &w) override
    {
        if (rebuild_)
            plan();
        if (multi_(d_.comm, addresses_.data(), int(addresses_.size()), values_.data(), errors_.data()) != 0)
            return false;
        for (size_t k = 0; k < ids_.size(); ++k) {
            const W38xxDescriptor &desc = d_.desc[ids_[k] & 0xFF];
            const uint32_t ch = (ids_[k] >> 8) & 0xFFFF;
            const int channel = ch == 0xFFFF ? -1 : int(ch);
            uint32_t raw = values_[k];
            if (highAt_[k] >= 0)
                raw |= uint32_t(values_[size_t(highAt_[k])]) << 16;
            uint8_t slot[4] = {};
            W38xx_RawToValue(desc, raw, slot);
            int32_t iv;
            float fv;
            std::memcpy(&iv, slot, 4);
            std::memcpy(&fv, slot, 4);
            if (desc.type() == 0)
                w.addFloat(int(ids_[k]), 0, channel, desc.name, fv);
            else
                w.addInt(desc.type(), int(ids_[k]), 0, channel, desc.name,
                         desc.type() <= 4 && desc.type() != 3 ? iv : 0);
        }
        return true;
    }

private:
    void plan()
    {
        rebuild_ = false;
        addresses_.clear();
        highAt_.assign(ids_.size(), -1);
        for (uint32_t id : ids_) {
            const W38xxDescriptor &desc = d_.desc[id & 0xFF];
            const uint32_t ch = (id >> 8) & 0xFFFF;
            addresses_.push_back(W38xx_Register(desc, ch == 0xFFFF ? -1 : int(ch)));
        }
        // A 32-bit value is read whole, not by its low word alone.
        for (size_t k = 0; k < ids_.size(); ++k)
            if (d_.desc[ids_[k] & 0xFF].wide()) {
                highAt_[k] = int(addresses_.size());
                addresses_.push_back(addresses_[k] + 2);
            }
        values_.assign(addresses_.size(), 0);
        errors_.assign(addresses_.size(), 0);
    }

    W38xxDevice &d_;
    CommMultiRead16 multi_;
    std::vector<uint32_t> ids_;
    std::vector<uint32_t> addresses_; // per id its register, then the high word of 32-bit ones
    std::vector<int> highAt_;         // per id the index of its high word, or -1
    std::vector<uint16_t> values_;
    std::vector<int> errors_;
    bool rebuild_ = true;
};

} // namespace

int W38xx_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    W38xxDevice *d = W38xx_Device(b.handle);
    if (!d)
        return BD_NOT_OPEN;
    Subscribe family(*d);
    return RegisterBoard_Items(d, b, true, port, count, items, results, family);
}

int W38xx_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    W38xxDevice *d = W38xx_Device(b.handle);
    if (!d)
        return BD_NOT_OPEN;
    UnSubscribe family(*d);
    return RegisterBoard_Items(d, b, false, port, count, items, results, family);
}

void W38xx_PollThread(W38xxDevice *d)
{
    auto multi = CommEntry<CommMultiRead16>(d->library, "KORUComm_MultiRead16");
    if (!multi || !CommEntry<void *>(d->library, "KORUComm_MultiRead32"))
        return;
    Cycle cycle(*d, multi);
    RegisterBoard_Poll(*d, cycle);
    std::lock_guard<std::recursive_mutex> g(d->lock);
    d->changed = false;
}

} // namespace koruhv
