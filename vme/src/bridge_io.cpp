// The bridge's own resources in its 16-bit registers: outputs, inputs,
// pulsers, location monitor, display and bus settings. Two register maps
// exist; a bridge whose register 56 reads 0x4860 has the newer one.
#include <cstring>
#include <type_traits>

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
    // Writes change(old value) back, only when the read went through.
    template <class Change> void update(uint32_t reg, Change change)
    {
        uint32_t v = 0;
        if (read(reg, &v))
            write(reg, change(v) & 0xFFFF);
    }
};

// Runs body on an opened link: kCommError when it does not open, else what
// body returns (a body returning nothing gives the session's result).
template <class Body> int32_t withSession(int32_t handle, Body body)
{
    Session s(handle);
    if (!s.opened())
        return kCommError;
    if constexpr (std::is_void_v<decltype(body(s))>) {
        body(s);
        return s.result();
    } else {
        return body(s);
    }
}

// The handle checked (local board types refused), then body on an opened link.
template <class Body> int32_t onBridge(int32_t handle, Body body)
{
    if (int32_t r = check(handle, true))
        return r;
    return withSession(handle, body);
}

// The handle checked (local types refused unless allowed), the register map
// read, then the newer map's body (register calls OR-ed, their result unless
// it returns its own) or the older map's body.
template <class Newer, class Older>
int32_t byMap(int32_t handle, Newer newer, Older older, bool refuseLocal = true)
{
    if (int32_t r = check(handle, refuseLocal))
        return r;
    bool isNewer = false;
    if (int32_t r = vme_bridge_is_newer(handle, &isNewer))
        return r;
    if (!isNewer)
        return older();
    Ored o{handle};
    if constexpr (std::is_void_v<decltype(newer(o))>) {
        newer(o);
        return o.result;
    } else {
        return newer(o);
    }
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
    return onBridge(handle, [&](Session &s) {
        uint32_t v = s.read(1);
        s.write(1, (v & ~(fieldMask << shift)) | ((static_cast<uint32_t>(value) & fieldMask) << shift));
    });
}

int32_t busGetField(int32_t handle, unsigned shift, uint32_t fieldMask, int32_t *value)
{
    if (!value)
        return kInvalidParam;
    return onBridge(handle, [&](Session &s) -> int32_t {
        uint32_t v = s.read(1);
        if (s.result() != kOk)
            return s.result();
        *value = static_cast<int32_t>((v >> shift) & fieldMask);
        return kOk;
    });
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
    return withSession(handle, [&](Session &s) {
        uint32_t v = s.read(reg);
        if (s.result() == kOk)
            *value = v;
    });
}

KORUVME_API int32_t KORUVME_WriteRegister(int32_t handle, uint16_t reg, uint32_t value)
{
    if (check(handle, false))
        return kInvalidParam;
    return withSession(handle, [&](Session &s) { s.write(reg, value); });
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
    auto newer = [&](Ored &o) -> int32_t {
        const uint32_t base = pulser ? 23 : 16;
        const int start = translateSource(startSource);
        const int stop = translateSource(stopSource);
        if (start < 0 || stop < 0 || (codeU != 0 && codeU != 4))
            return kInvalidParam;
        const uint32_t uWord = codeU == 4 ? 0x8000 : 0;
        o.update(base, [&](uint32_t ctl) { return (ctl & ~3u) | (start ? 1u : 0u) | (stop ? 2u : 0u); });
        if (start)
            o.write(base + 1, static_cast<uint32_t>(start));
        if (stop)
            o.write(base + 2, static_cast<uint32_t>(stop));
        o.write(base + 6, valueA);
        o.write(base + 4, valueB);
        o.write(base + 3, (countN & 0xFFu) + uWord);
        return o.result;
    };
    auto older = [&]() -> int32_t {
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
        return withSession(handle, [&](Session &s) {
            s.write(rAB, (static_cast<uint32_t>(valueB) << 8) | valueA);
            s.write(rNU, countN | (static_cast<uint32_t>(codeU) << 8));
            const uint32_t S =
                (stopFlag << (shift + 5)) | (static_cast<uint32_t>(startSource) << (shift + 3));
            s.write(11, S);
            s.write(17, ~S & (0x38u << shift) & 0xFFFF);
        });
    };
    return byMap(handle, newer, older);
}

KORUVME_API int32_t KORUVME_GetPulserConf(int32_t handle, int32_t pulser, uint8_t *valueA, uint8_t *valueB,
                                          int32_t *codeU, uint8_t *countN, int32_t *startSource,
                                          int32_t *stopSource)
{
    if (!valueA || !valueB || !codeU || !countN || !startSource || !stopSource)
        return kInvalidParam;
    auto newer = [&](Ored &o) {
        const uint32_t base = pulser ? 23 : 16;
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
    };
    auto older = [&]() -> int32_t {
        if (pulser != 0 && pulser != 1)
            return kInvalidParam;
        return withSession(handle, [&](Session &s) -> int32_t {
            const uint32_t ab = s.read(pulser ? 25 : 22);
            const uint32_t nu = s.read(pulser ? 26 : 23);
            const uint32_t sel = s.read(11);
            if (s.result() != kOk)
                return s.result();
            *valueA = ab & 0xFF;
            *valueB = (ab >> 8) & 0xFF;
            *countN = nu & 0xFF;
            *codeU = (nu >> 8) & 3;
            *startSource = pulser == 0 ? (sel >> 3) & 3 : (sel >> 6) & 3;
            *stopSource = pulser == 0 ? ((sel & 0x20) ? 1 : 0) : ((sel & 0x100) ? 2 : 0);
            return kOk;
        });
    };
    return byMap(handle, newer, older);
}

static int32_t pulserAction(int32_t handle, int32_t pulser, bool start)
{
    const bool known = pulser == 0 || pulser == 1;
    auto newer = [&](Ored &) -> int32_t {
        if (!known)
            return kInvalidParam;
        if (!vme_board_open(handle))
            return kCommError;
        const uint32_t reg = start ? (pulser ? 24 : 17) : (pulser ? 25 : 18);
        uint32_t v = 0;
        bool ok = vme_reg_read(handle, reg, &v) && vme_reg_write(handle, reg, (v | 1) & 0xFFFF);
        vme_board_close(handle);
        return ok ? kOk : kGenericError;
    };
    // The older map starts and stops a pulser through the output pulse register.
    auto older = [&]() -> int32_t {
        if (!known)
            return kInvalidParam;
        return KORUVME_PulseOutputRegister(
            handle, static_cast<uint16_t>(pulser == 0 ? (start ? 1 : 2) : (start ? 4 : 8)));
    };
    return byMap(handle, newer, older);
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
    return byMap(
        handle, [&](Ored &o) { o.update(12, [&](uint32_t v) { return v | mask; }); },
        [&]() -> int32_t {
            return withSession(handle, [&](Session &s) {
                s.write(10, mask);
                s.write(16, static_cast<uint16_t>(~mask));
            });
        });
}

KORUVME_API int32_t KORUVME_ClearOutputRegister(int32_t handle, uint16_t mask)
{
    return byMap(
        handle, [&](Ored &o) { o.update(12, [&](uint32_t v) { return v & ~static_cast<uint32_t>(mask); }); },
        [&]() -> int32_t { return withSession(handle, [&](Session &s) { s.write(16, mask); }); });
}

KORUVME_API int32_t KORUVME_PulseOutputRegister(int32_t handle, uint16_t mask)
{
    auto newer = [&](Ored &) -> int32_t {
        int32_t r = KORUVME_SetOutputRegister(handle, mask);
        return r == kOk ? KORUVME_ClearOutputRegister(handle, mask) : r;
    };
    auto older = [&]() -> int32_t {
        return withSession(handle, [&](Session &s) {
            s.write(10, mask);
            s.write(16, mask);
        });
    };
    return byMap(handle, newer, older);
}

namespace {

// Newer map: the source code of an output's selector field; -1 for none.
int newerOutputCode(int32_t output, int32_t source)
{
    switch (source) {
    case 0:
        return 9;
    case 1:
        return 13;
    case 2:
        return 14;
    case 3:
        return 4;
    case 4:
        return output;
    case 7:
        return 5;
    case 8:
        return 6;
    case 9:
        return 7;
    default:
        return -1;
    }
}

// Newer map: the source a selector field's code stands for.
int32_t newerOutputSource(uint32_t code)
{
    if (code <= 3)
        return 4;
    switch (code) {
    case 4:
        return 3;
    case 5:
        return 7;
    case 6:
        return 8;
    case 7:
        return 9;
    case 13:
        return 1;
    case 14:
        return 2;
    default:
        return 0;
    }
}

// Older map: the two-bit selector code of a source; -1 for none.
int olderOutputCode(int32_t source)
{
    switch (source) {
    case 0:
        return 3;
    case 3:
        return 1;
    case 4:
        return 0;
    case 6:
        return 2;
    default:
        return -1;
    }
}

} // namespace

KORUVME_API int32_t KORUVME_SetOutputConf(int32_t handle, int32_t output, int32_t flag, int32_t secondFlag,
                                          int32_t source)
{
    auto newer = [&](Ored &o) -> int32_t {
        // Outputs 0..3 exist on the newer map.
        if (output < 0 || output > 3)
            return kInvalidParam;
        const int code = newerOutputCode(output, source);
        if (code < 0)
            return kInvalidParam;
        const uint32_t reg = output < 3 ? 9 : 10;
        const uint32_t shift = output < 3 ? 4 * output : 0;
        o.update(reg,
                 [&](uint32_t v) { return (v & ~(0xFu << shift)) | (static_cast<uint32_t>(code) << shift); });
        o.update(8, [&](uint32_t v) { return (v & ~(1u << output)) | ((flag ? 1u : 0u) << output); });
        return o.result;
    };
    auto older = [&]() -> int32_t {
        const int code = olderOutputCode(source);
        if (code < 0 || output < 0 || output > 4)
            return kInvalidParam;
        const uint32_t o = static_cast<uint32_t>(output);
        const uint32_t V =
            ((static_cast<uint32_t>(code) << (2 * o)) | (static_cast<uint32_t>(flag & 1) << (o + 10))) &
            0xFFFF;
        const uint32_t M = ((3u << (2 * o)) | (1u << (o + 10))) & ~V & 0xFFFF;
        return withSession(handle, [&](Session &s) {
            s.write(12, V);
            s.write(18, M);
            s.write(secondFlag == 1 ? 13 : 19, M);
        });
    };
    return byMap(handle, newer, older);
}

KORUVME_API int32_t KORUVME_GetOutputConf(int32_t handle, int32_t output, int32_t *flag, int32_t *secondFlag,
                                          int32_t *source)
{
    if (!flag || !secondFlag || !source)
        return kInvalidParam;
    auto newer = [&](Ored &o) -> int32_t {
        if (output < 0 || output > 3)
            return kInvalidParam;
        uint32_t v = 0;
        if (o.read(8, &v))
            *flag = (v >> output) & 1;
        const uint32_t reg = output < 3 ? 9 : 10;
        const uint32_t shift = output < 3 ? 4 * output : 0;
        if (o.read(reg, &v))
            *source = newerOutputSource((v >> shift) & 0xF);
        return o.result;
    };
    auto older = [&]() -> int32_t {
        if (output < 0 || output > 4)
            return kInvalidParam;
        return withSession(handle, [&](Session &s) -> int32_t {
            const uint32_t sel = s.read(12);
            const uint32_t second = s.read(13);
            if (s.result() != kOk)
                return s.result();
            *flag = (sel >> (output + 10)) & 1;
            static const int fromField[4] = {4, 3, 6, 0};
            *source = fromField[(sel >> (2 * output)) & 3];
            *secondFlag = (second >> output) & 1;
            return kOk;
        });
    };
    return byMap(handle, newer, older);
}

KORUVME_API int32_t KORUVME_SetInputConf(int32_t handle, int32_t input, int32_t value, int32_t flag)
{
    if (int32_t r = check(handle, false))
        return r;
    if (input != 0 && input != 1)
        return kInvalidParam;
    auto newer = [&](Ored &o) {
        o.update(8,
                 [&](uint32_t v) { return (v & ~(1u << (input + 4))) | ((value ? 1u : 0u) << (input + 4)); });
    };
    // The older map has no inputs on a local board type.
    auto older = [&]() -> int32_t {
        return onBridge(handle, [&](Session &s) {
            const uint32_t x = (static_cast<uint32_t>(value & 1) << input) & 0xFFFF;
            s.write(11, x);
            s.write(17, x ^ 0xFFFF);
            s.write(flag == 1 ? 13 : 19, 1u << (input + 5));
        });
    };
    return byMap(handle, newer, older, false);
}

KORUVME_API int32_t KORUVME_GetInputConf(int32_t handle, int32_t input, int32_t *value, int32_t *flag)
{
    if (!value || !flag)
        return kInvalidParam;
    if (int32_t r = check(handle, true))
        return r;
    if (input != 0 && input != 1)
        return kInvalidParam;
    auto newer = [&](Ored &o) {
        uint32_t v = 0;
        if (o.read(8, &v))
            *value = (v >> (input + 4)) & 1;
    };
    auto older = [&]() -> int32_t {
        return withSession(handle, [&](Session &s) -> int32_t {
            const uint32_t sel = s.read(11);
            const uint32_t f = s.read(13);
            if (s.result() != kOk)
                return s.result();
            *value = (sel >> input) & 1;
            *flag = (f >> (input + 5)) & 1;
            return kOk;
        });
    };
    return byMap(handle, newer, older);
}

KORUVME_API int32_t KORUVME_SetLocationMonitor(int32_t handle, uint32_t address, int32_t am, int32_t flag1,
                                               int32_t flag2, int32_t flag3)
{
    return onBridge(handle, [&](Session &s) {
        s.write(40, address & 0xFFFF);
        s.write(41, address >> 16);
        s.write(44, static_cast<uint32_t>(am) | (static_cast<uint32_t>(flag1 & 1) << 6) |
                        (static_cast<uint32_t>(flag2 & 1) << 7) | (static_cast<uint32_t>(flag3 & 1) << 8));
    });
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
    return onBridge(handle, [&](Session &s) {
        uint32_t v = s.read(1);
        s.write(1, mode ? (v | 0x200) : (v & ~0x200u));
        if (s.result() == kOk)
            g_boards[handle].fifo = mode;
    });
}

KORUVME_API int32_t KORUVME_GetFIFOMode(int32_t handle, int16_t *mode)
{
    if (!mode)
        return kInvalidParam;
    return onBridge(handle, [&](Session &s) -> int32_t {
        uint32_t v = s.read(1);
        if (s.result() != kOk)
            return s.result();
        const int16_t m = (v & 0x200) ? -1 : 0;
        *mode = m;
        g_boards[handle].fifo = m;
        return kOk;
    });
}

} // extern "C"
