// BQ71XX subscriptions and the polling thread: the subscribed (row, channel)
// pairs are read register by register each cycle and sent as one batch.
#include <cstring>
#include <utility>
#include <vector>

#include "bq71xx_device.h"

namespace koruhv {

namespace {

// Row of a subscribable parameter, or -1. The unit has no board
// parameters: a board item (channel -1) stands for the row's mask byte as a
// whole.
int lookup(const Bq71xxInstance &in, int channel, const char *param)
{
    const int r = Bq71xx_Find(in, param);
    if (r < 0 || in.rows[r].mode() == 1 || channel >= kBq71xxChannels)
        return -1;
    return r;
}

class Subscribe : public RegisterItems {
public:
    explicit Subscribe(Bq71xxInstance &in) : in_(in) {}
    bool apply(int channel, const char *param) override
    {
        const int r = lookup(in_, channel, param);
        if (r < 0)
            return false;
        // A board item subscribes channel 0 when the row has nothing yet.
        const uint8_t bit = uint8_t(1u << (channel < 0 ? 0 : channel));
        if (channel < 0 ? !in_.mask[r] : !(in_.mask[r] & bit)) {
            in_.mask[r] |= bit;
            added_.emplace_back(r, bit);
        }
        return true;
    }
    void takeBack() override
    {
        for (const auto &a : added_)
            in_.mask[a.first] &= uint8_t(~a.second);
    }

private:
    Bq71xxInstance &in_;
    std::vector<std::pair<int, uint8_t>> added_;
};

class UnSubscribe : public RegisterItems {
public:
    explicit UnSubscribe(Bq71xxInstance &in) : in_(in) {}
    bool apply(int channel, const char *param) override
    {
        const int r = lookup(in_, channel, param);
        if (r < 0)
            return false;
        if (channel < 0)
            in_.mask[r] = 0;
        else
            in_.mask[r] &= uint8_t(~(1u << channel));
        return true;
    }

private:
    Bq71xxInstance &in_;
};

class Cycle : public RegisterPollCycle {
public:
    Cycle(Bq71xxInstance &in, CommRead16 rd) : in_(in), rd_(rd) {}

    bool take() override
    {
        bool any = false;
        for (int r = 0; r < kBq71xxRows; ++r)
            any = any || in_.mask[r] != 0;
        std::memcpy(mask_, in_.mask, sizeof mask_);
        return any;
    }

    // True when at least one pair was read; a failed read reports nothing
    // for its pair.
    bool read(EventBatchWriter &w) override
    {
        for (int r = 0; r < kBq71xxRows && !in_.poller.stopping(); ++r) {
            const RegisterParamRow &row = in_.rows[r];
            for (int c = 0; c < kBq71xxChannels; ++c) {
                if (!(mask_[r] & (1u << c)))
                    continue;
                uint16_t raw = 0;
                if (rd_(in_.comm, Bq71xx_Register(row, c), &raw) != 0)
                    continue;
                if (r == BQ_IMRANGE)
                    in_.lowRange[c] = uint8_t((raw >> 2) & 1);
                uint8_t slot[4] = {};
                if (!Bq71xx_RawToValue(in_, r, c, raw, slot))
                    continue;
                if (row.type() == 0) {
                    float v;
                    std::memcpy(&v, slot, 4);
                    w.addFloat(in_.index, 0, c, row.name, v);
                } else {
                    int32_t v;
                    std::memcpy(&v, slot, 4);
                    w.addInt(row.type(), in_.index, 0, c, row.name, v);
                }
            }
        }
        return w.count() > 0;
    }

private:
    Bq71xxInstance &in_;
    CommRead16 rd_;
    uint8_t mask_[kBq71xxRows] = {};
};

} // namespace

int Bq71xx_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    Bq71xxInstance *in = Bq71xx_Instance(b.handle);
    if (!in)
        return BD_NOT_OPEN;
    Subscribe family(*in);
    return RegisterBoard_Items(in, b, true, port, count, items, results, family);
}

int Bq71xx_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    Bq71xxInstance *in = Bq71xx_Instance(b.handle);
    if (!in)
        return BD_NOT_OPEN;
    UnSubscribe family(*in);
    return RegisterBoard_Items(in, b, false, port, count, items, results, family);
}

void Bq71xx_PollThread(Bq71xxInstance *in)
{
    auto rd = CommEntry<CommRead16>(in->library, "KORUComm_Read16");
    if (!rd || !CommEntry<CommMultiRead16>(in->library, "KORUComm_MultiRead16"))
        return;
    Cycle cycle(*in, rd);
    RegisterBoard_Poll(*in, cycle);
}

} // namespace koruhv
