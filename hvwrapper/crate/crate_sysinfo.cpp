#include "crate_sysinfo.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace koruhv {

const CrateBoardEntry *CrateSystemInfo::findBoard(int slot) const
{
    for (const CrateBoardEntry &b : boards)
        if (b.slot == slot)
            return &b;
    return nullptr;
}

int CrateSystemInfo::findParam(const std::vector<uint16_t> &list, const char *name) const
{
    if (!name)
        return -1;
    for (uint16_t idx : list)
        if (idx < descriptors.size() && std::strcmp(descriptors[idx].name, name) == 0)
            return idx;
    return -1;
}

const ParamDescriptor *CrateSystemInfo::boardParam(const CrateBoardEntry &b, const char *name) const
{
    int i = findParam(b.params, name);
    return i < 0 ? nullptr : &descriptors[i];
}

const ParamDescriptor *CrateSystemInfo::channelParam(const CrateBoardEntry &b, unsigned channel,
                                                     const char *name) const
{
    if (channel >= b.channels.size())
        return nullptr;
    int i = findParam(b.channels[channel].params, name);
    return i < 0 ? nullptr : &descriptors[i];
}

int ChannelParamLookup::index(unsigned channel)
{
    if (channel >= board_.channels.size())
        return -2;
    const std::vector<uint16_t> &list = board_.channels[channel].params;
    if (!last_ || (&list != last_ && list != *last_))
        lastIndex_ = info_.findParam(list, name_);
    last_ = &list;
    return lastIndex_;
}

namespace {

constexpr size_t kDescriptorWireSize = 32;

std::string_view cutAtNul(std::string_view v)
{
    if (v.empty())
        return v;
    const void *z = std::memchr(v.data(), 0, v.size());
    return z ? v.substr(0, static_cast<const char *>(z) - v.data()) : v;
}

bool readIndexList(ByteCursor &cur, size_t descriptorCount, std::vector<uint16_t> *out)
{
    uint16_t n = cur.u16();
    cur.expect(':');
    if (!cur.ok() || cur.remaining() < size_t(n) * 2)
        return false;
    out->resize(n);
    for (uint16_t i = 0; i < n; ++i) {
        uint16_t idx = cur.u16();
        if (idx >= descriptorCount)
            return false; // an index without descriptor is a broken reply
        (*out)[i] = idx;
    }
    cur.expect(':');
    return cur.ok();
}

} // namespace

int Crate_ParseSystemInfo(ByteCursor &cur, CrateSystemInfo **out)
{
    *out = nullptr;
    CrateSystemInfo *info = new (std::nothrow) CrateSystemInfo;
    if (!info)
        return CRATE_ERR_NO_MEMORY;
    try {
        uint16_t n = cur.u16();
        cur.expect(':');
        if (!cur.ok() || cur.remaining() < size_t(n) * kDescriptorWireSize)
            throw 0;
        info->descriptors.resize(n);
        for (ParamDescriptor &d : info->descriptors) {
            std::string_view name;
            cur.take(10, &name);
            Crate_CopyText(d.name, sizeof d.name, cutAtNul(name));
            uint32_t word = cur.u32();
            d.type = uint16_t(word >> 16);
            d.mode = uint8_t((word & 0x8000u) ? PARAM_MODE_WRITABLE : 0) |
                     uint8_t((word & 0x4000u) ? PARAM_MODE_SIGNED : 0);
            if (d.type == PARAM_ONOFF) {
                std::string_view on, off;
                cur.take(8, &on);
                cur.take(8, &off);
                cur.skip(2);
                Crate_CopyText(d.onText, sizeof d.onText, cutAtNul(on));
                Crate_CopyText(d.offText, sizeof d.offText, cutAtNul(off));
            } else {
                d.minimum = int32_t(cur.u32());
                d.maximum = int32_t(cur.u32());
                d.decimals = cur.u16();
                d.factor = cur.u16();
                d.unit = cur.s16();
                d.exponent = cur.s16();
                d.reserved = cur.u16();
            }
        }
        cur.expect(':');
        uint16_t m = cur.u16();
        cur.expect(':');
        if (!cur.ok() || cur.remaining() < size_t(m) * 4)
            throw 0;
        info->boards.resize(m);
        for (CrateBoardEntry &b : info->boards)
            b.slot = cur.s16();
        cur.expect(':');
        std::vector<uint16_t> channelCounts(m);
        for (uint16_t &c : channelCounts)
            c = cur.u16();
        cur.expect(':');
        if (!cur.ok())
            throw 0;
        for (uint16_t i = 0; i < m; ++i) {
            CrateBoardEntry &b = info->boards[i];
            if (!readIndexList(cur, n, &b.params))
                throw 0;
            // Each channel needs at least its count and two separators.
            if (cur.remaining() < size_t(channelCounts[i]) * 4)
                throw 0;
            b.channels.resize(channelCounts[i]);
            for (CrateChannelEntry &c : b.channels)
                if (!readIndexList(cur, n, &c.params))
                    throw 0;
        }
    } catch (const std::bad_alloc &) {
        delete info;
        return CRATE_ERR_NO_MEMORY;
    } catch (int) {
        delete info;
        return CRATE_ERR_RECEIVE;
    }
    *out = info;
    return CRATE_OK;
}

// ---- scaling ----

namespace {

float effectiveFactor(const ParamDescriptor &d)
{
    return d.factor ? float(d.factor) : 1.0f;
}

} // namespace

uint32_t Crate_ValueToRaw(const ParamDescriptor &d, float value)
{
    if (std::isnan(value))
        return 0;
    float f = effectiveFactor(d);
    float scaled = d.decimals ? value * f : value / f;
    if (d.isSigned()) {
        float s = value < 0 ? -0.5f : 0.5f;
        float r = std::trunc(scaled + s);
        if (r <= -2147483648.0f)
            return uint32_t(std::numeric_limits<int32_t>::min());
        if (r >= 2147483648.0f)
            return uint32_t(std::numeric_limits<int32_t>::max());
        return uint32_t(int32_t(r));
    }
    double r = std::trunc(double(scaled) + 0.5);
    if (!(r > 0.0))
        return 0; // negative values of unsigned parameters
    if (r >= 4294967295.0)
        return 0xFFFFFFFFu;
    return uint32_t(r);
}

int Crate_DescriptorProperty(const ParamDescriptor &d, int propIndex, void *result)
{
    switch (propIndex) {
    case 0:
        *static_cast<uint32_t *>(result) = d.type;
        return 0;
    case 1:
        *static_cast<int32_t *>(result) = d.writable() ? 2 : 0;
        return 0;
    case 2:
        *static_cast<int32_t *>(result) = d.isSigned() ? 1 : 0;
        return 0;
    case 3:
        *static_cast<float *>(result) = Crate_RawToValue(d, uint32_t(d.minimum));
        return 0;
    case 4:
        *static_cast<float *>(result) = Crate_RawToValue(d, uint32_t(d.maximum));
        return 0;
    case 5:
        *static_cast<int16_t *>(result) = d.unit;
        return 0;
    case 6:
        *static_cast<int16_t *>(result) = d.exponent;
        return 0;
    case 7:
        Crate_CopyText(static_cast<char *>(result), sizeof d.onText, d.onText);
        return 0;
    case 8:
        Crate_CopyText(static_cast<char *>(result), sizeof d.offText, d.offText);
        return 0;
    case 9:
        *static_cast<uint16_t *>(result) = d.decimals;
        return 0;
    default:
        return CRATE_ERR_PARAM_PROP_NOT_FOUND;
    }
}

} // namespace koruhv
