// The bridge's own resources in its 16-bit registers: outputs, inputs,
// pulsers, location monitor, display and bus settings. Two register maps
// exist; a bridge whose register 56 reads 0x4860 has the newer one.
#include <cstring>

#include "vme_internal.h"

using namespace koruvme;

namespace {

constexpr uint32_t kNewerId = 0x4860;

// -4 for a bad handle, or a local board type when that matters; else 0.
int32_t check(int32_t handle, bool refuseLocal)
{
    BoardEntry *e = vme_entry(handle);
    if (!e || (refuseLocal && vme_is_local_type(e->boardType)))
        return kInvalidParam;
    return kOk;
}

// One opened link for a sequence of accesses; the first failure sticks.
class Session {
public:
    explicit Session(int32_t h) : h_(h), open_(vme_board_open(h)), ok_(open_) {}
    ~Session()
    {
        if (open_)
            vme_board_close(h_);
    }
    bool opened() const { return open_; }
    uint32_t read(uint32_t reg)
    {
        uint32_t v = 0;
        if (ok_ && !vme_reg_read(h_, reg, &v))
            ok_ = false;
        return v & 0xFFFF;
    }
    void write(uint32_t reg, uint32_t value)
    {
        if (ok_ && !vme_reg_write(h_, reg, value & 0xFFFF))
            ok_ = false;
    }
    int32_t result() const { return ok_ ? kOk : kCommError; }

private:
    int32_t h_;
    bool open_;
    bool ok_;
};

// Newer-map access: each through the exported register calls; results OR-ed.
struct Ored {
    int32_t h;
    int32_t result = 0;
    bool read(uint32_t reg, uint32_t *v)
    {
        int32_t r = KORUVME_ReadRegister(h, static_cast<uint16_t>(reg), v);
        result |= r;
        return r == 0;
    }
    void write(uint32_t reg, uint32_t v)
    {
        result |= KORUVME_WriteRegister(h, static_cast<uint16_t>(reg), v);
    }
};

int32_t mapOf(int32_t handle, bool *newer)
{
    return vme_bridge_is_newer(handle, newer);
}

int translateSource(int32_t s)
{
    switch (s) {
    case 0:
        return 0;
    case 1:
        return 4;
    case 2:
        return 6;
    case 3:
        return 8;
    default:
        return -1;
    }
}

int untranslateSource(uint32_t code)
{
    switch (code) {
    case 4:
        return 1;
    case 6:
        return 2;
    case 8:
        return 3;
    default:
        return -1;
    }
}

int32_t busSetField(int32_t handle, unsigned shift, uint32_t fieldMask, int32_t value)
{
    if (int32_t r = check(handle, true))
        return r;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    uint32_t v = s.read(1);
    s.write(1, (v & ~(fieldMask << shift)) | ((static_cast<uint32_t>(value) & fieldMask) << shift));
    return s.result();
}

int32_t busGetField(int32_t handle, unsigned shift, uint32_t fieldMask, int32_t *value)
{
    if (!value)
        return kInvalidParam;
    if (int32_t r = check(handle, true))
        return r;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    uint32_t v = s.read(1);
    if (s.result() != kOk)
        return s.result();
    *value = static_cast<int32_t>((v >> shift) & fieldMask);
    return kOk;
}

} // namespace

namespace koruvme {

int32_t vme_bridge_is_newer(int32_t handle, bool *newer)
{
    uint32_t v = 0;
    int32_t r = KORUVME_ReadRegister(handle, 56, &v);
    if (r == kOk)
        *newer = v == kNewerId;
    return r;
}

} // namespace koruvme

extern "C" {

KORUVME_API int32_t KORUVME_ReadRegister(int32_t handle, uint16_t reg, uint32_t *value)
{
    if (!value || check(handle, false))
        return kInvalidParam;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    uint32_t v = s.read(reg);
    if (s.result() == kOk)
        *value = v;
    return s.result();
}

KORUVME_API int32_t KORUVME_WriteRegister(int32_t handle, uint16_t reg, uint32_t value)
{
    if (check(handle, false))
        return kInvalidParam;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    s.write(reg, value);
    return s.result();
}

KORUVME_API int32_t KORUVME_IRQCheck(int32_t handle, uint8_t *mask)
{
    if (!mask || check(handle, false) || !vme_irq_supported(handle))
        return kInvalidParam;
    uint32_t v = 0;
    int32_t r = KORUVME_ReadRegister(handle, 5, &v);
    if (r == kOk)
        *mask = static_cast<uint8_t>(v & 0xFF);
    return r;
}

KORUVME_API int32_t KORUVME_SetPulserConf(int32_t handle, int32_t pulser, uint8_t valueA, uint8_t valueB,
                                          int32_t codeU, uint8_t countN, int32_t startSource,
                                          int32_t stopSource)
{
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        const uint32_t base = pulser ? 23 : 16;
        const int start = translateSource(startSource);
        const int stop = translateSource(stopSource);
        if (start < 0 || stop < 0 || (codeU != 0 && codeU != 4))
            return kInvalidParam;
        const uint32_t uWord = codeU == 4 ? 0x8000 : 0;
        Ored o{handle};
        uint32_t ctl = 0;
        if (o.read(base, &ctl)) {
            ctl &= ~3u;
            if (start)
                ctl |= 1;
            if (stop)
                ctl |= 2;
            o.write(base, ctl);
        }
        if (start)
            o.write(base + 1, static_cast<uint32_t>(start));
        if (stop)
            o.write(base + 2, static_cast<uint32_t>(stop));
        o.write(base + 6, valueA);
        o.write(base + 4, valueB);
        o.write(base + 3, (countN & 0xFFu) + uWord);
        return o.result;
    }
    if (pulser != 0 && pulser != 1)
        return kInvalidParam;
    const uint32_t rAB = pulser ? 25 : 22, rNU = pulser ? 26 : 23, shift = pulser ? 3 : 0;
    if (startSource < 0 || startSource > 3 || codeU < 0 || codeU > 3)
        return kInvalidParam;
    uint32_t stopFlag;
    if (stopSource == 0)
        stopFlag = 0;
    else if ((stopSource == 1 && pulser == 0) || (stopSource == 2 && pulser == 1))
        stopFlag = 1;
    else
        return kInvalidParam;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    s.write(rAB, (static_cast<uint32_t>(valueB) << 8) | valueA);
    s.write(rNU, countN | (static_cast<uint32_t>(codeU) << 8));
    const uint32_t S = (stopFlag << (shift + 5)) | (static_cast<uint32_t>(startSource) << (shift + 3));
    s.write(11, S);
    s.write(17, ~S & (0x38u << shift) & 0xFFFF);
    return s.result();
}

KORUVME_API int32_t KORUVME_GetPulserConf(int32_t handle, int32_t pulser, uint8_t *valueA, uint8_t *valueB,
                                          int32_t *codeU, uint8_t *countN, int32_t *startSource,
                                          int32_t *stopSource)
{
    if (!valueA || !valueB || !codeU || !countN || !startSource || !stopSource)
        return kInvalidParam;
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        const uint32_t base = pulser ? 23 : 16;
        Ored o{handle};
        uint32_t ctl = 0, v = 0;
        if (o.read(base, &ctl)) {
            if (!(ctl & 1))
                *startSource = 0;
            else if (o.read(base + 1, &v) && untranslateSource(v) >= 0)
                *startSource = untranslateSource(v);
            if (!(ctl & 2))
                *stopSource = 0;
            else if (o.read(base + 2, &v) && untranslateSource(v) >= 0)
                *stopSource = untranslateSource(v);
        }
        if (o.read(base + 6, &v))
            *valueA = v & 0xFF;
        if (o.read(base + 4, &v))
            *valueB = v & 0xFF;
        if (o.read(base + 3, &v)) {
            *codeU = (v & 0x8000) ? 4 : 0;
            *countN = v & 0x7F;
        }
        return o.result;
    }
    if (pulser != 0 && pulser != 1)
        return kInvalidParam;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    const uint32_t ab = s.read(pulser ? 25 : 22);
    const uint32_t nu = s.read(pulser ? 26 : 23);
    const uint32_t sel = s.read(11);
    if (s.result() != kOk)
        return s.result();
    *valueA = ab & 0xFF;
    *valueB = (ab >> 8) & 0xFF;
    *countN = nu & 0xFF;
    *codeU = (nu >> 8) & 3;
    if (pulser == 0) {
        *startSource = (sel >> 3) & 3;
        *stopSource = (sel & 0x20) ? 1 : 0;
    } else {
        *startSource = (sel >> 6) & 3;
        *stopSource = (sel & 0x100) ? 2 : 0;
    }
    return kOk;
}

static int32_t pulserAction(int32_t handle, int32_t pulser, bool start)
{
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (pulser != 0 && pulser != 1)
        return kInvalidParam;
    if (!newer)
        return KORUVME_PulseOutputRegister(
            handle, static_cast<uint16_t>(pulser == 0 ? (start ? 1 : 2) : (start ? 4 : 8)));
    if (!vme_board_open(handle))
        return kCommError;
    const uint32_t reg = start ? (pulser ? 24 : 17) : (pulser ? 25 : 18);
    uint32_t v = 0;
    bool ok = vme_reg_read(handle, reg, &v) && vme_reg_write(handle, reg, (v | 1) & 0xFFFF);
    vme_board_close(handle);
    return ok ? kOk : kGenericError;
}

KORUVME_API int32_t KORUVME_StartPulser(int32_t handle, int32_t pulser)
{
    return pulserAction(handle, pulser, true);
}

KORUVME_API int32_t KORUVME_StopPulser(int32_t handle, int32_t pulser)
{
    return pulserAction(handle, pulser, false);
}

KORUVME_API int32_t KORUVME_SetOutputRegister(int32_t handle, uint16_t mask)
{
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        Ored o{handle};
        uint32_t v = 0;
        if (o.read(12, &v))
            o.write(12, (v | mask) & 0xFFFF);
        return o.result;
    }
    Session s(handle);
    if (!s.opened())
        return kCommError;
    s.write(10, mask);
    s.write(16, static_cast<uint16_t>(~mask));
    return s.result();
}

KORUVME_API int32_t KORUVME_ClearOutputRegister(int32_t handle, uint16_t mask)
{
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        Ored o{handle};
        uint32_t v = 0;
        if (o.read(12, &v))
            o.write(12, v & ~static_cast<uint32_t>(mask) & 0xFFFF);
        return o.result;
    }
    Session s(handle);
    if (!s.opened())
        return kCommError;
    s.write(16, mask);
    return s.result();
}

KORUVME_API int32_t KORUVME_PulseOutputRegister(int32_t handle, uint16_t mask)
{
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        int32_t r = KORUVME_SetOutputRegister(handle, mask);
        return r == kOk ? KORUVME_ClearOutputRegister(handle, mask) : r;
    }
    Session s(handle);
    if (!s.opened())
        return kCommError;
    s.write(10, mask);
    s.write(16, mask);
    return s.result();
}

KORUVME_API int32_t KORUVME_SetOutputConf(int32_t handle, int32_t output, int32_t flag, int32_t secondFlag,
                                          int32_t source)
{
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        // Outputs 0..3 exist on the newer map.
        if (output < 0 || output > 3)
            return kInvalidParam;
        int code;
        switch (source) {
        case 0:
            code = 9;
            break;
        case 1:
            code = 13;
            break;
        case 2:
            code = 14;
            break;
        case 3:
            code = 4;
            break;
        case 4:
            code = output;
            break;
        case 7:
            code = 5;
            break;
        case 8:
            code = 6;
            break;
        case 9:
            code = 7;
            break;
        default:
            return kInvalidParam;
        }
        Ored o{handle};
        const uint32_t reg = output < 3 ? 9 : 10;
        const uint32_t shift = output < 3 ? 4 * output : 0;
        uint32_t v = 0;
        if (o.read(reg, &v))
            o.write(reg, ((v & ~(0xFu << shift)) | (static_cast<uint32_t>(code) << shift)) & 0xFFFF);
        if (o.read(8, &v))
            o.write(8, ((v & ~(1u << output)) | ((flag ? 1u : 0u) << output)) & 0xFFFF);
        return o.result;
    }
    int code;
    switch (source) {
    case 0:
        code = 3;
        break;
    case 3:
        code = 1;
        break;
    case 4:
        code = 0;
        break;
    case 6:
        code = 2;
        break;
    default:
        return kInvalidParam;
    }
    if (output < 0 || output > 4)
        return kInvalidParam;
    const uint32_t o = static_cast<uint32_t>(output);
    const uint32_t V =
        ((static_cast<uint32_t>(code) << (2 * o)) | (static_cast<uint32_t>(flag & 1) << (o + 10))) & 0xFFFF;
    const uint32_t M = ((3u << (2 * o)) | (1u << (o + 10))) & ~V & 0xFFFF;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    s.write(12, V);
    s.write(18, M);
    s.write(secondFlag == 1 ? 13 : 19, M);
    return s.result();
}

KORUVME_API int32_t KORUVME_GetOutputConf(int32_t handle, int32_t output, int32_t *flag, int32_t *secondFlag,
                                          int32_t *source)
{
    if (!flag || !secondFlag || !source)
        return kInvalidParam;
    if (int32_t r = check(handle, true))
        return r;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        if (output < 0 || output > 3)
            return kInvalidParam;
        Ored o{handle};
        uint32_t v = 0;
        if (o.read(8, &v))
            *flag = (v >> output) & 1;
        const uint32_t reg = output < 3 ? 9 : 10;
        const uint32_t shift = output < 3 ? 4 * output : 0;
        if (o.read(reg, &v)) {
            const uint32_t c = (v >> shift) & 0xF;
            int s = 0;
            if (c <= 3)
                s = 4;
            else if (c == 4)
                s = 3;
            else if (c == 5)
                s = 7;
            else if (c == 6)
                s = 8;
            else if (c == 7)
                s = 9;
            else if (c == 13)
                s = 1;
            else if (c == 14)
                s = 2;
            *source = s;
        }
        return o.result;
    }
    if (output < 0 || output > 4)
        return kInvalidParam;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    const uint32_t sel = s.read(12);
    const uint32_t second = s.read(13);
    if (s.result() != kOk)
        return s.result();
    *flag = (sel >> (output + 10)) & 1;
    static const int fromField[4] = {4, 3, 6, 0};
    *source = fromField[(sel >> (2 * output)) & 3];
    *secondFlag = (second >> output) & 1;
    return kOk;
}

KORUVME_API int32_t KORUVME_SetInputConf(int32_t handle, int32_t input, int32_t value, int32_t flag)
{
    if (int32_t r = check(handle, false))
        return r;
    if (input != 0 && input != 1)
        return kInvalidParam;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        Ored o{handle};
        uint32_t v = 0;
        if (o.read(8, &v))
            o.write(8, ((v & ~(1u << (input + 4))) | ((value ? 1u : 0u) << (input + 4))) & 0xFFFF);
        return o.result;
    }
    if (int32_t r = check(handle, true))
        return r;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    const uint32_t x = (static_cast<uint32_t>(value & 1) << input) & 0xFFFF;
    s.write(11, x);
    s.write(17, x ^ 0xFFFF);
    s.write(flag == 1 ? 13 : 19, 1u << (input + 5));
    return s.result();
}

KORUVME_API int32_t KORUVME_GetInputConf(int32_t handle, int32_t input, int32_t *value, int32_t *flag)
{
    if (!value || !flag)
        return kInvalidParam;
    if (int32_t r = check(handle, true))
        return r;
    if (input != 0 && input != 1)
        return kInvalidParam;
    bool newer = false;
    if (int32_t r = mapOf(handle, &newer))
        return r;
    if (newer) {
        uint32_t v = 0;
        int32_t r = KORUVME_ReadRegister(handle, 8, &v);
        if (r == kOk)
            *value = (v >> (input + 4)) & 1;
        return r;
    }
    Session s(handle);
    if (!s.opened())
        return kCommError;
    const uint32_t sel = s.read(11);
    const uint32_t f = s.read(13);
    if (s.result() != kOk)
        return s.result();
    *value = (sel >> input) & 1;
    *flag = (f >> (input + 5)) & 1;
    return kOk;
}

KORUVME_API int32_t KORUVME_SetLocationMonitor(int32_t handle, uint32_t address, int32_t am, int32_t flag1,
                                               int32_t flag2, int32_t flag3)
{
    if (int32_t r = check(handle, true))
        return r;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    s.write(40, address & 0xFFFF);
    s.write(41, address >> 16);
    s.write(44, static_cast<uint32_t>(am) | (static_cast<uint32_t>(flag1 & 1) << 6) |
                    (static_cast<uint32_t>(flag2 & 1) << 7) | (static_cast<uint32_t>(flag3 & 1) << 8));
    return s.result();
}

KORUVME_API int32_t KORUVME_ReadDisplay(int32_t handle, BridgeDisplay *d)
{
    if (!d)
        return kInvalidParam;
    if (int32_t r = check(handle, true))
        return r;
    if (!vme_board_open(handle))
        return kCommError;
    uint32_t r[6] = {};
    int i = 0;
    for (; i < 6; ++i)
        if (!vme_reg_read(handle, 32 + i, &r[i]))
            break;
    vme_board_close(handle);
    auto flag = [](uint32_t v, unsigned bit) { return (v >> bit) & 1 ? -1 : 0; };
    if (i > 1)
        d->address = (r[0] & 0xFFFF) | ((r[1] & 0xFFFF) << 16);
    else if (i > 0)
        d->address = r[0] & 0xFFFF;
    if (i > 3)
        d->data = (r[2] & 0xFFFF) | ((r[3] & 0xFFFF) << 16);
    else if (i > 2)
        d->data = r[2] & 0xFFFF;
    if (i > 4) {
        d->am = r[4] & 0x3F;
        for (int k = 0; k < 6; ++k)
            d->flags[k] = flag(r[4], 6 + k);
    }
    if (i > 5) {
        d->irq = r[5] & 0x7F;
        static const unsigned bits[5] = {10, 11, 9, 7, 8};
        for (int k = 0; k < 5; ++k)
            d->flags[6 + k] = flag(r[5], bits[k]);
    }
    return i == 6 ? kOk : kCommError;
}

KORUVME_API int32_t KORUVME_SetArbiterType(int32_t h, int32_t v)
{
    return busSetField(h, 1, 1, v);
}
KORUVME_API int32_t KORUVME_SetRequesterType(int32_t h, int32_t v)
{
    return busSetField(h, 2, 1, v);
}
KORUVME_API int32_t KORUVME_SetReleaseType(int32_t h, int32_t v)
{
    return busSetField(h, 3, 1, v);
}
KORUVME_API int32_t KORUVME_SetBusReqLevel(int32_t h, int32_t v)
{
    return busSetField(h, 4, 3, v);
}
KORUVME_API int32_t KORUVME_SetTimeout(int32_t h, int32_t v)
{
    return busSetField(h, 8, 1, v);
}
KORUVME_API int32_t KORUVME_GetArbiterType(int32_t h, int32_t *v)
{
    return busGetField(h, 1, 1, v);
}
KORUVME_API int32_t KORUVME_GetRequesterType(int32_t h, int32_t *v)
{
    return busGetField(h, 2, 1, v);
}
KORUVME_API int32_t KORUVME_GetReleaseType(int32_t h, int32_t *v)
{
    return busGetField(h, 3, 1, v);
}
KORUVME_API int32_t KORUVME_GetBusReqLevel(int32_t h, int32_t *v)
{
    return busGetField(h, 4, 3, v);
}
KORUVME_API int32_t KORUVME_GetTimeout(int32_t h, int32_t *v)
{
    return busGetField(h, 8, 1, v);
}

KORUVME_API int32_t KORUVME_SetFIFOMode(int32_t handle, int16_t mode)
{
    if (int32_t r = check(handle, true))
        return r;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    uint32_t v = s.read(1);
    s.write(1, mode ? (v | 0x200) : (v & ~0x200u));
    if (s.result() == kOk)
        g_boards[handle].fifo = mode;
    return s.result();
}

KORUVME_API int32_t KORUVME_GetFIFOMode(int32_t handle, int16_t *mode)
{
    if (!mode)
        return kInvalidParam;
    if (int32_t r = check(handle, true))
        return r;
    Session s(handle);
    if (!s.opened())
        return kCommError;
    uint32_t v = s.read(1);
    if (s.result() != kOk)
        return s.result();
    const int16_t m = (v & 0x200) ? -1 : 0;
    *mode = m;
    g_boards[handle].fifo = m;
    return kOk;
}

} // extern "C"
