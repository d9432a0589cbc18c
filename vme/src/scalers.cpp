// The bridges' event counters: the first scaler (board types 0, 1, 5, 6, in
// the older register map) and the second scaler (registers 45 to 48).
#include <initializer_list>

#include "vme_internal.h"

using namespace koruvme;

namespace {

bool firstScalerType(uint32_t t)
{
    return t == 0 || t == 1 || t == 5 || t == 6;
}
bool secondScalerType(uint32_t t)
{
    return t >= 8 && t <= 32 && t != 12 && t != 13 && t != 28;
}

int32_t firstCheck(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    if (!e || vme_is_local_type(e->boardType))
        return kInvalidParam;
    return firstScalerType(e->boardType) ? kOk : kNotSupported;
}

// Gate and reset look at the board type only (no local-type step of their own).
int32_t gateCheck(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    if (!e)
        return kInvalidParam;
    return firstScalerType(e->boardType) ? kOk : kNotSupported;
}

int32_t secondCheck(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    if (!e)
        return kInvalidParam;
    return secondScalerType(e->boardType) ? kOk : kNotSupported;
}

// Read-modify-write of a register of the second scaler.
int32_t replaceField(int32_t handle, uint16_t reg, uint32_t keepMask, uint32_t bits)
{
    uint32_t v = 0;
    int32_t r = KORUVME_ReadRegister(handle, reg, &v);
    if (r != kOk)
        return r;
    return KORUVME_WriteRegister(handle, reg, ((v & keepMask) + bits) & 0xFFFF);
}

int32_t setBit48(int32_t handle, unsigned bit, bool set)
{
    if (int32_t r = secondCheck(handle))
        return r;
    uint32_t v = 0;
    int32_t r = KORUVME_ReadRegister(handle, 48, &v);
    if (r != kOk)
        return r;
    return KORUVME_WriteRegister(handle, 48, set ? (v | (1u << bit)) : (v & ~(1u << bit)));
}

template <typename T> int32_t getField(int32_t handle, uint16_t reg, unsigned shift, uint32_t mask, T *out)
{
    if (!out)
        return kInvalidParam;
    if (int32_t r = secondCheck(handle))
        return r;
    uint32_t v = 0;
    int32_t r = KORUVME_ReadRegister(handle, reg, &v);
    if (r == kOk)
        *out = static_cast<T>((v >> shift) & mask);
    return r;
}

bool isIn(int32_t v, std::initializer_list<int32_t> set)
{
    for (int32_t s : set)
        if (s == v)
            return true;
    return false;
}

} // namespace

extern "C" {

KORUVME_API int32_t KORUVME_SetScalerConf(int32_t handle, int16_t limit, int16_t secondValue, int32_t sourceA,
                                          int32_t sourceB, int32_t sourceC)
{
    if (int32_t r = firstCheck(handle))
        return r;
    if (limit < 0 || limit > 1023 || (sourceA != 1 && sourceA != 3) || (sourceB != 0 && sourceB != 2) ||
        (sourceC != 0 && sourceC != 2))
        return kInvalidParam;
    if (!vme_board_open(handle))
        return kCommError;
    const uint32_t e = ((sourceB == 2) << 9) | ((sourceA == 3) << 10) | ((sourceC == 2) << 11);
    bool ok = vme_reg_write(handle, 28,
                            (static_cast<uint32_t>(limit) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(secondValue)) << 10)) &
                                0xFFFF) &&
              vme_reg_write(handle, 11, e) && vme_reg_write(handle, 17, ~e & 0xFFFF);
    vme_board_close(handle);
    return ok ? kOk : kCommError;
}

KORUVME_API int32_t KORUVME_GetScalerConf(int32_t handle, int16_t *limit, int16_t *secondValue,
                                          int32_t *sourceA, int32_t *sourceB, int32_t *sourceC)
{
    if (!limit || !secondValue || !sourceA || !sourceB || !sourceC)
        return kInvalidParam;
    if (int32_t r = firstCheck(handle))
        return r;
    if (!vme_board_open(handle))
        return kCommError;
    uint32_t r28 = 0, r11 = 0;
    bool ok = vme_reg_read(handle, 28, &r28) && vme_reg_read(handle, 11, &r11);
    vme_board_close(handle);
    if (!ok)
        return kCommError;
    *limit = static_cast<int16_t>(r28 & 0x3FF);
    *secondValue = static_cast<int16_t>(r28 & 0x400);
    *sourceB = (r11 & 0x200) ? 2 : 0;
    *sourceA = (r11 & 0x400) ? 3 : 1;
    *sourceC = (r11 & 0x800) ? 2 : 0;
    return kOk;
}

KORUVME_API int32_t KORUVME_EnableScalerGate(int32_t handle)
{
    if (int32_t r = gateCheck(handle))
        return r;
    return KORUVME_SetOutputRegister(handle, 0x10);
}

KORUVME_API int32_t KORUVME_DisableScalerGate(int32_t handle)
{
    if (int32_t r = gateCheck(handle))
        return r;
    return KORUVME_ClearOutputRegister(handle, 0x10);
}

KORUVME_API int32_t KORUVME_ResetScalerCount(int32_t handle)
{
    if (int32_t r = gateCheck(handle))
        return r;
    return KORUVME_PulseOutputRegister(handle, 0x20);
}

KORUVME_API int32_t KORUVME_SetScaler_InputSource(int32_t h, int32_t v)
{
    if (!vme_entry(h) || v == 8 || v == 9)
        return kInvalidParam;
    if (int32_t r = secondCheck(h))
        return r;
    return replaceField(h, 45, 0xFFF0, static_cast<uint32_t>(v) & 0xF);
}

KORUVME_API int32_t KORUVME_GetScaler_InputSource(int32_t h, int32_t *v)
{
    return getField(h, 45, 0, 7, v);
}

KORUVME_API int32_t KORUVME_SetScaler_GateSource(int32_t h, int32_t v)
{
    if (!vme_entry(h) || !isIn(v, {2, 3, 8}))
        return kInvalidParam;
    if (int32_t r = secondCheck(h))
        return r;
    return replaceField(h, 45, 0xFF0F, static_cast<uint32_t>(v) << 4);
}

KORUVME_API int32_t KORUVME_GetScaler_GateSource(int32_t h, int32_t *v)
{
    return getField(h, 45, 4, 0xF, v);
}

KORUVME_API int32_t KORUVME_SetScaler_ClearSource(int32_t h, int32_t v)
{
    if (!vme_entry(h) || !isIn(v, {2, 3, 8, 9}))
        return kInvalidParam;
    if (int32_t r = secondCheck(h))
        return r;
    return replaceField(h, 45, 0xF0FF, static_cast<uint32_t>(v) << 8);
}

KORUVME_API int32_t KORUVME_GetScaler_ClearSource(int32_t h, int32_t *v)
{
    return getField(h, 45, 8, 0xF, v);
}

KORUVME_API int32_t KORUVME_SetScaler_StartSource(int32_t h, int32_t v)
{
    if (!vme_entry(h) || !isIn(v, {2, 3, 8, 9}))
        return kInvalidParam;
    if (int32_t r = secondCheck(h))
        return r;
    return replaceField(h, 45, 0x0FFF, static_cast<uint32_t>(v) << 12);
}

KORUVME_API int32_t KORUVME_GetScaler_StartSource(int32_t h, int32_t *v)
{
    return getField(h, 45, 12, 0xF, v);
}

KORUVME_API int32_t KORUVME_SetScaler_Mode(int32_t h, int32_t v)
{
    if (!vme_entry(h))
        return kInvalidParam;
    if (int32_t r = secondCheck(h))
        return r;
    return replaceField(h, 48, 0xFFCF, (static_cast<uint32_t>(v) & 3) << 4);
}

KORUVME_API int32_t KORUVME_GetScaler_Mode(int32_t h, int32_t *v)
{
    return getField(h, 48, 4, 0xF, v);
}

KORUVME_API int32_t KORUVME_SetScaler_ContinuousRun(int32_t h, int32_t v)
{
    if (!vme_entry(h))
        return kInvalidParam;
    if (int32_t r = secondCheck(h))
        return r;
    return replaceField(h, 48, 0xFFFF & ~8u, (static_cast<uint32_t>(v) & 1) << 3);
}

KORUVME_API int32_t KORUVME_GetScaler_ContinuousRun(int32_t h, int32_t *v)
{
    return getField(h, 48, 3, 1, v);
}

KORUVME_API int32_t KORUVME_SetScaler_MaxHits(int32_t h, uint16_t v)
{
    if (int32_t r = secondCheck(h))
        return r;
    return KORUVME_WriteRegister(h, 46, v);
}

KORUVME_API int32_t KORUVME_GetScaler_MaxHits(int32_t h, uint16_t *v)
{
    return getField(h, 46, 0, 0xFFFF, v);
}

KORUVME_API int32_t KORUVME_SetScaler_DWellTime(int32_t h, uint16_t v)
{
    if (int32_t r = secondCheck(h))
        return r;
    return KORUVME_WriteRegister(h, 47, v);
}

KORUVME_API int32_t KORUVME_GetScaler_DWellTime(int32_t h, uint16_t *v)
{
    return getField(h, 47, 0, 0xFFFF, v);
}

KORUVME_API int32_t KORUVME_SetScaler_SWStart(int32_t h)
{
    return setBit48(h, 2, true);
}
KORUVME_API int32_t KORUVME_SetScaler_SWStop(int32_t h)
{
    return setBit48(h, 2, false);
}
KORUVME_API int32_t KORUVME_SetScaler_SWReset(int32_t h)
{
    return setBit48(h, 1, true);
}
KORUVME_API int32_t KORUVME_SetScaler_SWOpenGate(int32_t h)
{
    return setBit48(h, 0, true);
}
KORUVME_API int32_t KORUVME_SetScaler_SWCloseGate(int32_t h)
{
    return setBit48(h, 0, false);
}

} // extern "C"
