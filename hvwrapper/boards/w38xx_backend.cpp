// W38XX operations: open (reading the board's own description), close, and
// the parameter, property and command operations of the API.
#include "w38xx_backend.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comm_entries.h"
#include "w38xx_device.h"

namespace koruhv {

namespace {

constinit RegisterBoardTable g_table;

constexpr uint32_t kTableBase = 0x4000, kMaskBase = 0x4400;
constexpr uint32_t kChannelCountReg = 33024, kDescriptionReg = 0x8102, kModelReg = 0x8116,
                   kFirmwareReg = 0x8120;
constexpr uint32_t kCommandOffset = 0x2000;

W38xxDevice *deviceOf(const BackendRef &b)
{
    return static_cast<W38xxDevice *>(g_table.open(b.handle));
}

struct NameOverride {
    const char *name;
    int type;
    const char *on, *off;
};
const NameOverride kOverrides[] = {
    {"Status", 2, "", ""},     {"Pw", 1, "On", "Off"},        {"PDwn", 1, "Ramp", "Kill"},
    {"Polarity", 1, "+", "-"}, {"ImonRange", 1, "Low", "Hi"},
};

// Reads n words from a into out, low byte first; false on any failure.
bool readText(CommRead16 rd, int comm, uint32_t a, int words, char *out)
{
    for (int w = 0; w < words; ++w) {
        uint16_t v = 0;
        if (rd(comm, a + 2 * uint32_t(w), &v) != 0)
            return false;
        out[2 * w] = char(v & 0xFF);
        out[2 * w + 1] = char(v >> 8);
    }
    out[2 * words] = '\0';
    return true;
}

void fillDescriptor(W38xxDescriptor &d, const uint8_t *e)
{
    std::memcpy(d.name, e, 10);
    d.name[10] = '\0';
    d.attr = e[10];
    int type = e[10] & 7;
    for (const NameOverride &o : kOverrides)
        if (std::strcmp(d.name, o.name) == 0) {
            type = o.type;
            std::snprintf(d.onText, sizeof d.onText, "%s", o.on);
            std::snprintf(d.offText, sizeof d.offText, "%s", o.off);
        }
    d.attr = uint8_t((d.attr & ~7u) | unsigned(type));
    d.offset = int8_t(e[11]);
    d.minimum = uint16_t(e[12] | (e[13] << 8));
    d.maximum = uint16_t(e[14] | (e[15] << 8));
    d.resolution = uint16_t(e[16] | (e[17] << 8));
    d.unit = int8_t(e[18]);
    d.exponent = int8_t(e[19]);
    if (d.exponent > 0)
        d.exponent = int8_t(-d.exponent);
    d.decimals = Board_Decimals(d.resolution);
}

// Reads the description of the board behind comm into dev; false on any
// failed read.
bool readDescription(W38xxDevice &dev, CommRead16 rd)
{
    uint8_t image[1024];
    for (uint32_t n = 0; n < 512; ++n) {
        uint16_t w = 0;
        if (rd(dev.comm, kTableBase + 2 * n, &w) != 0)
            return false;
        image[2 * n] = uint8_t(w);
        image[2 * n + 1] = uint8_t(w >> 8);
    }
    dev.paramCount = 0;
    for (int i = 0; i < kW38xxMaxParams && image[32 * i] != 0; ++i) {
        fillDescriptor(dev.desc[i], image + 32 * i);
        dev.paramCount = i + 1;
    }
    dev.commandCount = 0;
    for (int i = 0; i < dev.paramCount; ++i)
        if (dev.desc[i].command())
            dev.commands[dev.commandCount++] = uint8_t(i);

    uint16_t channels = 0;
    if (rd(dev.comm, kChannelCountReg, &channels) != 0)
        return false;
    // The rows hold at most 32 channels; a board claiming more is served
    // with its first 32.
    dev.channelCount = channels > kW38xxMaxChannels ? kW38xxMaxChannels : channels;
    for (int v = 0; v <= dev.channelCount; ++v) {
        uint16_t lo = 0, hi = 0;
        if (rd(dev.comm, kMaskBase + 4 * uint32_t(v), &lo) != 0 ||
            rd(dev.comm, kMaskBase + 4 * uint32_t(v) + 2, &hi) != 0)
            return false;
        const uint32_t mask = uint32_t(lo) | (uint32_t(hi) << 16);
        W38xxRow &row = dev.rows[v];
        row = W38xxRow{};
        for (int bit = 0; bit < 32; ++bit) {
            // A mask bit without a table entry names nothing.
            if (!(mask & (1u << bit)) || bit >= dev.paramCount)
                continue;
            row.index[row.count] = uint8_t(bit);
            row.id[row.count] =
                v == 0 ? (0xFFFF00u | uint32_t(bit)) : ((uint32_t(v - 1) << 8) | uint32_t(bit));
            ++row.count;
        }
    }

    uint16_t s0 = 0, s1 = 0;
    if (rd(dev.comm, 0xA084, &s0) != 0 || rd(dev.comm, 0xA080, &s1) != 0)
        return false;
    uint32_t serial = uint32_t(s0 & 0xFF) | (uint32_t(s1 & 0xFF) << 8);
    if (serial == 0xFFFF) {
        serial = 0;
        for (uint32_t k = 0; k < 4; ++k) {
            uint16_t b = 0;
            if (rd(dev.comm, 0xA070 + 4 * k, &b) != 0)
                return false;
            serial |= uint32_t(b & 0xFF) << (8 * k);
        }
    }
    dev.serial = serial;
    uint16_t fw = 0;
    if (rd(dev.comm, kFirmwareReg, &fw) != 0)
        return false;
    dev.fwMinor = uint8_t(fw & 0xFF);
    dev.fwMajor = 0;
    return readText(rd, dev.comm, kModelReg, 4, dev.model) &&
           readText(rd, dev.comm, kDescriptionReg, 10, dev.description);
}

int openDevice(int connType, const char *ipText, int linkNumber, int node, uint32_t base, void *library)
{
    auto rd = CommEntry<CommRead16>(library, "KORUComm_Read16");
    auto open = CommEntry<CommOpenDevice2>(library, "KORUComm_OpenDevice2");
    auto close = CommEntry<CommCloseDevice>(library, "KORUComm_CloseDevice");
    if (!rd || !open)
        return -1;
    if (connType == 6 && !ipText)
        return -1;

    auto *dev = new W38xxDevice;
    if (!g_table.claim(dev))
        return -1;

    dev->connType = connType;
    dev->link = linkNumber;
    dev->node = node;
    dev->base = base;
    if (connType == 6)
        std::snprintf(dev->ip, sizeof dev->ip, "%s", ipText);
    const void *linkArg = connType == 6 ? static_cast<const void *>(ipText) : &linkNumber;
    if (open(connType, linkArg, node, base, &dev->comm) != 0)
        return g_table.release(dev, close, false);
    if (!readDescription(*dev, rd))
        return g_table.release(dev, close, true); // the device opened above is closed again
    dev->library = library;
    return g_table.publish(dev, close, [dev] { W38xx_PollThread(dev); });
}

int deinit(const BackendRef &b)
{
    return g_table.close(b);
}

int getCrateMap(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                uint32_t **serials, uint8_t **minors, uint8_t **majors)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    return Board_CrateMap(d->model, d->description, d->serial, d->fwMinor, d->fwMajor, slotCount, models,
                          descriptions, serials, minors, majors);
}

int getSysComp(const BackendRef &b, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    return Board_SysComp(d->channelCount, crateCount, crateWords, slotWords);
}

// Reads a descriptor's register (both words for a 32-bit one).
int readRaw(void *library, const W38xxDevice &d, const W38xxDescriptor &desc, int channel, uint32_t *raw)
{
    auto rd = CommEntry<CommRead16>(library, "KORUComm_Read16");
    if (!rd || !CommEntry<CommRead32>(library, "KORUComm_Read32"))
        return BD_READ_FAILED;
    const uint32_t a = W38xx_Register(desc, channel);
    uint16_t lo = 0, hi = 0;
    if (rd(d.comm, a, &lo) != 0)
        return BD_READ_FAILED;
    if (desc.wide() && rd(d.comm, a + 2, &hi) != 0)
        return BD_READ_FAILED;
    *raw = uint32_t(lo) | (uint32_t(hi) << 16);
    return BD_OK;
}

// The value slot to the raw register value; false when the value cannot be
// written to this parameter (a type without a raw form, or a value outside
// the register's range).
bool valueToRaw(const W38xxDescriptor &d, void *slot, uint32_t *raw, bool writeBack)
{
    const int64_t lo = d.wide() ? (d.isSigned() ? INT32_MIN : 0) : (d.isSigned() ? INT16_MIN : 0);
    const int64_t hi =
        d.wide() ? (d.isSigned() ? INT32_MAX : UINT32_MAX) : (d.isSigned() ? INT16_MAX : UINT16_MAX);
    int64_t r;
    switch (d.type()) {
    case 0: {
        float v;
        std::memcpy(&v, slot, sizeof v);
        if (!std::isfinite(v))
            return false;
        const double x = double(d.scale()) * double(v);
        const double rounded = d.isSigned() ? std::round(x) : std::floor(x + 0.5);
        if (rounded < double(lo) || rounded > double(hi))
            return false;
        r = int64_t(rounded);
        if (writeBack) {
            const float back = float(double(r) / double(d.scale()));
            std::memcpy(slot, &back, sizeof back);
        }
        break;
    }
    case 1:
    case 4: {
        int32_t v;
        std::memcpy(&v, slot, sizeof v);
        // A 16-bit register takes what fits in 16 bits, signed or not.
        const int64_t l = d.wide() ? INT32_MIN : INT16_MIN, h = d.wide() ? UINT32_MAX : UINT16_MAX;
        if (v < l || v > h)
            return false;
        r = v;
        break;
    }
    default:
        return false;
    }
    *raw = uint32_t(r);
    return true;
}

int writeRaw(void *library, const W38xxDevice &d, const W38xxDescriptor &desc, uint32_t a, uint32_t raw)
{
    auto wr = CommEntry<CommWrite16>(library, "KORUComm_Write16");
    if (!wr || !CommEntry<CommWrite32>(library, "KORUComm_Write32"))
        return BD_READ_FAILED;
    if (wr(d.comm, a, uint16_t(raw)) != 0)
        return BD_READ_FAILED;
    if (desc.wide() && wr(d.comm, a + 2, uint16_t(raw >> 16)) != 0)
        return BD_READ_FAILED;
    return BD_OK;
}

// Board-level value as GetBdParam and GetSysProp give it; only GetBdParam
// gives a type-3 value (as an integer).
int boardValue(const BackendRef &b, const W38xxDevice &d, int i, void *slot, bool type3 = true)
{
    const W38xxDescriptor &desc = d.desc[i];
    if (desc.command())
        return BD_READ_FAILED;
    uint32_t raw = 0;
    if (const int rc = readRaw(b.library, d, desc, -1, &raw))
        return rc;
    if (desc.type() == 3) {
        if (!type3)
            return BD_OK;
        const int32_t v = int32_t(raw);
        std::memcpy(slot, &v, sizeof v);
        return BD_OK;
    }
    W38xx_RawToValue(desc, raw, slot);
    return BD_OK;
}

int getSysProp(const BackendRef &b, const char *name, void *result)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    if (!name || std::strcmp(name, "SwRelease") != 0 || !result)
        return BD_UNKNOWN;
    const int i = W38xx_Find(*d, name);
    if (i < 0 || W38xx_InRow(*d, 0, i) < 0)
        return BD_UNKNOWN;
    return boardValue(b, *d, i, result, false);
}

int setSysProp(const BackendRef &b, const char *name, void *value)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    const int i = name ? W38xx_Find(*d, name) : -1;
    if (i < 0 || !value)
        return BD_UNKNOWN;
    const W38xxDescriptor &desc = d->desc[i];
    if (desc.mode() == 0)
        return BD_WRITE_FAILED;
    if (W38xx_InRow(*d, 0, i) < 0)
        return BD_UNKNOWN;
    uint32_t raw = 0;
    if (!valueToRaw(desc, value, &raw, false))
        return BD_WRITE_FAILED;
    return writeRaw(b.library, *d, desc, W38xx_Register(desc, -1), raw);
}

int getBdParam(const BackendRef &b, uint16_t slotCount, const uint16_t *slots, const char *name, void *values)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    const int i = name ? W38xx_Find(*d, name) : -1;
    if (i < 0 || W38xx_InRow(*d, 0, i) < 0)
        return BD_UNKNOWN;
    if (slotCount && (!slots || !values))
        return BD_OUT_OF_RANGE;
    for (uint16_t k = 0; k < slotCount; ++k) {
        if (slots[k] != 0)
            return BD_OUT_OF_RANGE;
        if (const int rc = boardValue(b, *d, i, static_cast<uint8_t *>(values) + 4 * k))
            return rc;
    }
    return BD_OK;
}

int rowProperty(const W38xxDescriptor &d, const char *prop, bool channel, void *out)
{
    BoardParamFacts f;
    f.type = d.type();
    f.writable = d.mode() != 0;
    f.minimum = float(d.minimum / d.scale());
    f.maximum = float(d.maximum / d.scale());
    f.unit = d.unit;
    f.exponent = d.exponent;
    f.decimals = d.decimals;
    if (channel) {
        f.onText = d.onText;
        f.offText = d.offText;
    }
    return Board_ParamProperty(f, prop, out);
}

// Descriptor of a name among one row's parameters, or -1.
int findInRow(const W38xxDevice &d, int row, const char *name)
{
    if (!name)
        return -1;
    const W38xxRow &r = d.rows[row];
    for (int k = 0; k < r.count; ++k)
        if (std::strcmp(d.desc[r.index[k]].name, name) == 0)
            return r.index[k];
    return -1;
}

int getBdParamProp(const BackendRef &b, uint16_t, const char *param, const char *prop, void *result)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    const int i = findInRow(*d, 0, param);
    if (i < 0)
        return BD_OUT_OF_RANGE;
    return rowProperty(d->desc[i], prop, false, result);
}

std::vector<const char *> rowNames(const W38xxDevice &d, int row)
{
    std::vector<const char *> names;
    for (int k = 0; k < d.rows[row].count; ++k)
        names.push_back(d.desc[d.rows[row].index[k]].name);
    return names;
}

int getBdParamInfo(const BackendRef &b, uint16_t slot, char **names)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    if (slot != 0)
        return BD_OUT_OF_RANGE;
    return Board_NameSlots(rowNames(*d, 0), names);
}

int getChParamProp(const BackendRef &b, uint16_t, uint16_t channel, const char *param, const char *prop,
                   void *result)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    if (channel >= d->channelCount)
        return BD_OUT_OF_RANGE;
    const int i = findInRow(*d, channel + 1, param);
    if (i < 0)
        return BD_OUT_OF_RANGE;
    return rowProperty(d->desc[i], prop, true, result);
}

int getChParamInfo(const BackendRef &b, uint16_t, uint16_t channel, char **names, int *count)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    if (channel >= d->channelCount)
        return BD_OUT_OF_RANGE;
    if (!count)
        return BD_NO_MEMORY;
    const int rc = Board_NameSlots(rowNames(*d, channel + 1), names);
    *count = rc == 0 ? d->rows[channel + 1].count : 0;
    return rc;
}

int getChName(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels,
              char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    return Board_ChannelNames(slot, count, channels, d->channelCount, names);
}

int getChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
               void *values)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    if (slot != 0)
        return BD_OUT_OF_RANGE;
    const int i = name ? W38xx_Find(*d, name) : -1;
    if (i < 0)
        return BD_UNKNOWN;
    const W38xxDescriptor &desc = d->desc[i];
    if (desc.command())
        return BD_READ_FAILED;
    if (count && (!channels || !values))
        return BD_OUT_OF_RANGE;
    for (uint16_t k = 0; k < count; ++k) {
        const int c = channels[k];
        if (c >= d->channelCount)
            return BD_OUT_OF_RANGE;
        if (W38xx_InRow(*d, c + 1, i) < 0)
            return BD_UNKNOWN;
        uint32_t raw = 0;
        if (const int rc = readRaw(b.library, *d, desc, c, &raw))
            return rc;
        W38xx_RawToValue(desc, raw, static_cast<uint8_t *>(values) + 4 * k);
    }
    return BD_OK;
}

int setChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
               void *value)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    if (slot != 0)
        return BD_OUT_OF_RANGE;
    const int i = name ? W38xx_Find(*d, name) : -1;
    if (i < 0)
        return BD_UNKNOWN;
    const W38xxDescriptor &desc = d->desc[i];
    if (desc.mode() == 0)
        return BD_WRITE_FAILED;
    if (count && (!channels || !value))
        return BD_OUT_OF_RANGE;
    for (uint16_t k = 0; k < count; ++k) {
        const int c = channels[k];
        if (c >= d->channelCount)
            return BD_OUT_OF_RANGE;
        if (W38xx_InRow(*d, c + 1, i) < 0)
            return BD_UNKNOWN;
        uint32_t raw = 0;
        if (!valueToRaw(desc, value, &raw, true))
            return BD_WRITE_FAILED;
        if (const int rc = writeRaw(b.library, *d, desc, W38xx_Register(desc, c), raw))
            return rc;
    }
    return BD_OK;
}

int getExecCommList(const BackendRef &b, uint16_t *count, char **names)
{
    if (!count || !names)
        return BD_NO_MEMORY;
    W38xxDevice *d = deviceOf(b);
    const int n = d ? d->commandCount : 0;
    size_t len = 0;
    for (int k = 0; k < n; ++k)
        len += std::strlen(d->desc[d->commands[k]].name) + 1;
    char *buf = static_cast<char *>(std::calloc(len ? len : 1, 1));
    if (!buf)
        return BD_NO_MEMORY;
    char *p = buf;
    for (int k = 0; k < n; ++k) {
        const char *s = d->desc[d->commands[k]].name;
        std::memcpy(p, s, std::strlen(s) + 1);
        p += std::strlen(s) + 1;
    }
    *count = uint16_t(n);
    *names = buf;
    return BD_OK;
}

int execComm(const BackendRef &b, const char *name)
{
    W38xxDevice *d = deviceOf(b);
    if (!d)
        return BD_NOT_OPEN;
    const int i = name ? W38xx_Find(*d, name) : -1;
    if (i < 0 || !d->desc[i].command())
        return BD_UNKNOWN;
    auto wr = CommEntry<CommWrite16>(b.library, "KORUComm_Write16");
    if (!wr || !CommEntry<CommWrite32>(b.library, "KORUComm_Write32"))
        return BD_READ_FAILED;
    return wr(d->comm, W38xx_Register(d->desc[i], -1) + kCommandOffset, 1) == 0 ? BD_OK : BD_READ_FAILED;
}

bool anyOpen()
{
    return g_table.anyOpen();
}
void resetInstances()
{
    g_table.reset();
}

constexpr BackendOps makeOps()
{
    BackendOps o = RegisterBoard_Ops(5, "KORU_W38XX_HVW_", BACKEND_DEINIT_ALWAYS);
    o.OpenDevice = openDevice;
    o.DeinitSystem = deinit;
    o.GetCrateMap = getCrateMap;
    o.GetSysComp = getSysComp;
    o.GetSysProp = getSysProp;
    o.SetSysProp = setSysProp;
    o.GetBdParam = getBdParam;
    o.GetBdParamProp = getBdParamProp;
    o.GetBdParamInfo = getBdParamInfo;
    o.GetChParamProp = getChParamProp;
    o.GetChParamInfo = getChParamInfo;
    o.GetChName = getChName;
    o.GetChParam = getChParam;
    o.SetChParam = setChParam;
    o.GetExecCommList = getExecCommList;
    o.ExecComm = execComm;
    o.Subscribe = W38xx_Subscribe;
    o.UnSubscribe = W38xx_UnSubscribe;
    o.AnyInstanceOpen = anyOpen;
    o.ResetInstances = resetInstances;
    return o;
}

} // namespace

W38xxDevice *W38xx_Device(int index)
{
    return static_cast<W38xxDevice *>(g_table.at(index));
}

int W38xx_Find(const W38xxDevice &dev, const char *name)
{
    for (int i = 0; i < dev.paramCount; ++i)
        if (std::strcmp(dev.desc[i].name, name) == 0)
            return i;
    return -1;
}

int W38xx_InRow(const W38xxDevice &dev, int row, int descriptor)
{
    if (row < 0 || row > dev.channelCount)
        return -1;
    const W38xxRow &r = dev.rows[row];
    for (int k = 0; k < r.count; ++k)
        if (r.index[k] == descriptor)
            return k;
    return -1;
}

bool W38xx_RawToValue(const W38xxDescriptor &d, uint32_t raw, void *slot)
{
    switch (d.type()) {
    case 0: {
        double x;
        if (d.isSigned())
            x = d.wide() ? double(int32_t(raw)) : double(int16_t(uint16_t(raw)));
        else
            x = double(raw);
        const float v = float(x / double(d.scale()));
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case 1:
    case 2:
    case 4: {
        const int32_t v = int32_t(raw);
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    default:
        return false;
    }
}

const BackendOps kW38XXBackend = makeOps();

} // namespace koruhv
