// BQ71XX operations: open (identification and calibration), close, and the
// channel parameter operations of the API. The unit has no board parameters,
// no system properties and no commands.
#include "bq71xx_backend.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "bq71xx_device.h"
#include "comm_entries.h"

namespace koruhv {

namespace {

constinit RegisterBoardTable g_table;

constexpr uint32_t kIdentReg = 0x8140, kFirmwareReg = 0x8124, kControlReg = 0x1034;
constexpr uint32_t kScaleReg = 0x1038, kMaxReg = 0x1040, kMinReg = 0x1044;

constexpr uint8_t TM(unsigned type, unsigned mode)
{
    return uint8_t(type | (mode << 3));
}

// Limits, scales, exponents and decimals come from the unit's calibration.
// Unit codes: 1 ampere, 2 volt, 7 volt per second.
const RegisterParamRow kRows[kBq71xxRows] = {
    {"VSet", TM(0, 2), 0x1020, 0xB0, 0, 0, 0, 2, 0, 0, "", ""},
    {"ISet", TM(0, 2), 0x1024, 0xB1, 0, 0, 0, 1, 0, 0, "", ""},
    {"VMon", TM(0, 0), 0x1040, 0xB4, 0, 0, 0, 2, 0, 0, "", ""},
    {"IMRange", TM(1, 2), 0x1034, 0, 0, 0, 0, 0, 0, 0, "Low", "Hi"},
    {"IMonL", TM(0, 0), 0x1044, 0xB5, 0, 0, 0, 1, 0, 0, "", ""},
    {"IMonH", TM(0, 0), 0x1044, 0xB5, 0, 0, 0, 1, 0, 0, "", ""},
    {"RampUp", TM(0, 2), 0x1028, 0xB2, 0, 0, 0, 7, 0, 0, "", ""},
    {"RampDwn", TM(0, 2), 0x102C, 0xB2, 0, 0, 0, 7, 0, 0, "", ""},
    {"VMax", TM(0, 2), 0x1030, 0xB3, 0, 0, 0, 2, 0, 0, "", ""},
    {"Pw", TM(1, 2), 0x1034, 0, 0, 0, 0, 0, 0, 0, "On", "Off"},
    {"PDwn", TM(1, 2), 0x1034, 0, 0, 0, 0, 0, 0, 0, "Ramp", "Kill"},
    {"Status", TM(2, 0), 0x1038, 0, 0, 0, 0, 0, 0, 0, "", ""},
};

Bq71xxInstance *instanceOf(const BackendRef &b)
{
    return static_cast<Bq71xxInstance *>(g_table.open(b.handle));
}

// A limit word in the row's units, kept as the 16-bit word the properties
// read back unsigned.
int16_t limitOf(uint16_t raw, double scale)
{
    double v = scale != 0 ? std::trunc(raw / scale) : raw;
    if (v < 0)
        v = 0;
    if (v > 65535)
        v = 65535;
    return int16_t(uint16_t(v));
}

// Runs the calibration sequence on channel 0; false on any failed access.
bool calibrate(Bq71xxInstance &in, CommRead16 rd, CommRead32 rd32, CommWrite16 wr, uint32_t *firmware)
{
    const int pause = Board_Timing().calibrationMs;
    for (int r = 0; r < kBq71xxRows; ++r) {
        RegisterParamRow &row = in.rows[r];
        if (!row.calibration)
            continue;
        if (wr(in.comm, kControlReg, row.calibration) != 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        if (r == BQ_RAMPDWN) {
            if (rd32(in.comm, kFirmwareReg, firmware) != 0)
                return false;
        } else {
            uint16_t w = 0;
            if (rd(in.comm, kScaleReg, &w) != 0)
                return false;
            if (r == BQ_RAMPUP) {
                in.fwMinor = uint8_t(w & 0xFF);
                in.fwMajor = uint8_t(w >> 8);
            } else if (r == BQ_ISET || r == BQ_IMONH || r == BQ_IMONL) {
                row.exponent = int8_t(-3 * (w >> 14));
                row.scale = double(w & 0x3FFF) * (r == BQ_IMONL ? 10.0 : 1.0);
            } else if (w & 0x8000) {
                // A zero divisor means the unit gave no scale.
                row.scale = (w & 0x7FFF) ? 1.0 / double(w & 0x7FFF) : 0.0;
            } else {
                row.scale = w;
            }
            row.decimals = Board_Decimals(uint32_t(row.scale));
        }
        uint16_t mx = 0, mn = 0;
        if (rd(in.comm, kMaxReg, &mx) != 0 || rd(in.comm, kMinReg, &mn) != 0)
            return false;
        row.maximum = limitOf(mx, row.scale);
        row.minimum = limitOf(mn, row.scale);
    }
    return true;
}

int openDevice(int connType, const char *, int linkNumber, int node, uint32_t base, void *library)
{
    auto rd = CommEntry<CommRead16>(library, "KORUComm_Read16");
    auto rd32 = CommEntry<CommRead32>(library, "KORUComm_Read32");
    auto wr = CommEntry<CommWrite16>(library, "KORUComm_Write16");
    auto open = CommEntry<CommOpenDevice2>(library, "KORUComm_OpenDevice2");
    auto close = CommEntry<CommCloseDevice>(library, "KORUComm_CloseDevice");
    if (!rd || !rd32 || !wr || !open)
        return -1;

    auto *in = new Bq71xxInstance;
    if (!g_table.claim(in))
        return -1;
    auto release = [&](bool closeComm) { return g_table.release(in, close, closeComm); };

    if (open(connType, &linkNumber, node, base, &in->comm) != 0)
        return release(false);
    std::memcpy(in->rows, kRows, sizeof kRows);
    uint16_t ident = 0, control = 0;
    if (rd(in->comm, kIdentReg, &ident) != 0 || (ident & 0xFF) != 0x0A)
        return release(true);
    if (rd(in->comm, kControlReg, &control) != 0)
        return release(true);
    uint32_t firmware = 0;
    const bool calibrated = calibrate(*in, rd, rd32, wr, &firmware);
    // The unit's control word is put back whether or not the calibration
    // went through, so a failed open leaves its outputs as they were.
    const bool restored = wr(in->comm, kControlReg, control) == 0;
    if (!calibrated || !restored)
        return release(true);
    std::snprintf(in->description, sizeof in->description, "%02d.%02d build %x", int(firmware & 0xFF),
                  int((firmware >> 8) & 0xFF), unsigned(firmware >> 16));
    in->connType = connType;
    in->link = linkNumber;
    in->node = node;
    in->base = base;
    in->library = library;
    return g_table.publish(in, close, [in] { Bq71xx_PollThread(in); });
}

int deinit(const BackendRef &b)
{
    return g_table.close(b);
}

int getCrateMap(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                uint32_t **serials, uint8_t **minors, uint8_t **majors)
{
    Bq71xxInstance *in = instanceOf(b);
    if (!in)
        return BD_NOT_OPEN;
    return Board_CrateMap("BQ71XX", in->description, 0, in->fwMinor, in->fwMajor, slotCount, models,
                          descriptions, serials, minors, majors);
}

int getSysComp(const BackendRef &b, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)
{
    if (!instanceOf(b))
        return BD_NOT_OPEN;
    return Board_SysComp(kBq71xxChannels, crateCount, crateWords, slotWords);
}

// Operations with a fixed answer give it whatever the state of the instance.
int getSysProp(const BackendRef &, const char *, void *)
{
    return BD_UNKNOWN;
}
int setSysProp(const BackendRef &, const char *, void *)
{
    return BD_UNKNOWN;
}
int getBdParam(const BackendRef &, uint16_t, const uint16_t *, const char *, void *)
{
    return BD_UNKNOWN;
}
int getBdParamProp(const BackendRef &, uint16_t, const char *, const char *, void *)
{
    return BD_OUT_OF_RANGE;
}

int getBdParamInfo(const BackendRef &b, uint16_t slot, char **names)
{
    if (!instanceOf(b))
        return BD_NOT_OPEN;
    if (slot != 0)
        return BD_OUT_OF_RANGE;
    return Board_NameSlots({}, names);
}

int getChParamProp(const BackendRef &b, uint16_t, uint16_t channel, const char *param, const char *prop,
                   void *out)
{
    Bq71xxInstance *in = instanceOf(b);
    if (!in)
        return BD_NOT_OPEN;
    if (channel >= kBq71xxChannels)
        return BD_OUT_OF_RANGE;
    const int r = param ? Bq71xx_Find(*in, param) : -1;
    if (r < 0)
        return BD_OUT_OF_RANGE;
    const RegisterParamRow &row = in->rows[r];
    BoardParamFacts f;
    f.type = row.type();
    f.writable = row.mode() != 0;
    f.minimum = float(uint16_t(row.minimum));
    f.maximum = float(uint16_t(row.maximum));
    f.unit = row.unit;
    f.exponent = row.exponent;
    f.decimals = row.decimals;
    f.onText = row.onText;
    f.offText = row.offText;
    return Board_ParamProperty(f, prop, out);
}

int getChParamInfo(const BackendRef &b, uint16_t, uint16_t channel, char **names, int *count)
{
    Bq71xxInstance *in = instanceOf(b);
    if (!in)
        return BD_NOT_OPEN;
    if (channel >= kBq71xxChannels)
        return BD_OUT_OF_RANGE;
    if (!count)
        return BD_NO_MEMORY;
    std::vector<const char *> list;
    for (const RegisterParamRow &r : in->rows)
        list.push_back(r.name);
    const int rc = Board_NameSlots(list, names);
    *count = rc == 0 ? kBq71xxRows : 0;
    return rc;
}

int getChName(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels,
              char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    if (!instanceOf(b))
        return BD_NOT_OPEN;
    return Board_ChannelNames(slot, count, channels, kBq71xxChannels, names);
}

int getChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
               void *values)
{
    Bq71xxInstance *in = instanceOf(b);
    if (!in)
        return BD_NOT_OPEN;
    if (slot != 0)
        return BD_OUT_OF_RANGE;
    const int r = name ? Bq71xx_Find(*in, name) : -1;
    if (r < 0)
        return BD_UNKNOWN;
    if (in->rows[r].mode() == 1)
        return BD_READ_FAILED;
    auto rd = CommEntry<CommRead16>(b.library, "KORUComm_Read16");
    if (!rd)
        return BD_READ_FAILED;
    if (count && (!channels || !values))
        return BD_OUT_OF_RANGE;
    for (uint16_t k = 0; k < count; ++k) {
        const int c = channels[k];
        if (c >= kBq71xxChannels)
            return BD_OUT_OF_RANGE;
        uint16_t raw = 0;
        if (rd(in->comm, Bq71xx_Register(in->rows[r], c), &raw) != 0)
            return BD_READ_FAILED;
        if (!Bq71xx_RawToValue(*in, r, c, raw, static_cast<uint8_t *>(values) + 4 * k))
            return BD_READ_FAILED;
    }
    return BD_OK;
}

int controlBit(int row)
{
    return row == BQ_PW ? 0 : row == BQ_PDWN ? 1 : row == BQ_IMRANGE ? 2 : -1;
}

int setChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
               void *value)
{
    Bq71xxInstance *in = instanceOf(b);
    if (!in)
        return BD_NOT_OPEN;
    if (slot != 0)
        return BD_OUT_OF_RANGE;
    const int r = name ? Bq71xx_Find(*in, name) : -1;
    if (r < 0)
        return BD_UNKNOWN;
    const RegisterParamRow &row = in->rows[r];
    if (row.mode() == 0)
        return BD_WRITE_FAILED;
    auto wr = CommEntry<CommWrite16>(b.library, "KORUComm_Write16");
    auto rd = CommEntry<CommRead16>(b.library, "KORUComm_Read16");
    if (!wr)
        return BD_WRITE_FAILED;
    if (!rd)
        return BD_READ_FAILED;
    if (count && (!channels || !value))
        return BD_OUT_OF_RANGE;
    for (uint16_t k = 0; k < count; ++k) {
        const int c = channels[k];
        if (c >= kBq71xxChannels)
            return BD_OUT_OF_RANGE;
        if (row.type() > 4)
            return BD_WRITE_FAILED;
        uint16_t raw = 0;
        int32_t iv = 0;
        std::memcpy(&iv, value, sizeof iv);
        const int bit = controlBit(r);
        if (row.type() == 0) {
            float v;
            std::memcpy(&v, value, sizeof v);
            const double x = std::trunc(row.scale != 0 ? double(v) * row.scale : double(v));
            // A value the 16-bit register cannot hold is refused, not wrapped.
            if (!std::isfinite(x) || x < 0 || x > 65535)
                return BD_WRITE_FAILED;
            raw = uint16_t(x);
        } else if (bit >= 0) {
            if (rd(in->comm, Bq71xx_Register(row, c), &raw) != 0)
                return BD_READ_FAILED;
            raw = uint16_t((raw & ~(1u << bit)) | (unsigned(iv & 1) << bit));
        } else {
            raw = uint16_t(iv);
        }
        if (wr(in->comm, Bq71xx_Register(row, c), raw) != 0)
            return BD_WRITE_FAILED; // the range state stays what the unit has
        if (r == BQ_IMRANGE)
            in->lowRange[c] = uint8_t(iv & 1);
    }
    return BD_OK;
}

int getExecCommList(const BackendRef &, uint16_t *count, char **names)
{
    if (!count || !names)
        return BD_NO_MEMORY;
    char *buf = static_cast<char *>(std::calloc(1, 1));
    if (!buf)
        return BD_NO_MEMORY;
    *count = 0;
    *names = buf;
    return BD_OK;
}

int execComm(const BackendRef &, const char *)
{
    return BD_NO_COMMANDS;
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
    BackendOps o = RegisterBoard_Ops(9, "KORU_BQ71XX_HVW_", 0);
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
    o.Subscribe = Bq71xx_Subscribe;
    o.UnSubscribe = Bq71xx_UnSubscribe;
    o.AnyInstanceOpen = anyOpen;
    o.ResetInstances = resetInstances;
    return o;
}

} // namespace

Bq71xxInstance *Bq71xx_Instance(int index)
{
    return static_cast<Bq71xxInstance *>(g_table.at(index));
}

int Bq71xx_Find(const Bq71xxInstance &in, const char *name)
{
    for (int r = 0; r < kBq71xxRows; ++r)
        if (std::strcmp(in.rows[r].name, name) == 0)
            return r;
    return -1;
}

bool Bq71xx_RawToValue(const Bq71xxInstance &in, int r, int channel, uint16_t raw, void *slot)
{
    const RegisterParamRow &row = in.rows[r];
    switch (row.type()) {
    case 0: {
        float v;
        const uint8_t low = in.lowRange[channel].load();
        if ((r == BQ_IMONL && low != 1) || (r == BQ_IMONH && low != 0))
            v = 0.0f;
        else
            v = float(row.scale != 0 ? raw / row.scale : raw);
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case 1:
    case 2:
    case 4: {
        int32_t v = raw;
        if (const int bit = controlBit(r); bit >= 0)
            v = (raw >> bit) & 1;
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    default:
        return false;
    }
}

const BackendOps kBQ71XXBackend = makeOps();

} // namespace koruhv
