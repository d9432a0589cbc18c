#include "placeholder_backend.h"

namespace koruhv {

namespace {

int refuseOpen(const char *, const char *, const char *, const char *, int *outHandle)
{
    if (outHandle)
        *outHandle = -1;
    return -1;
}

int refuseDevice(int, const char *, int, int, uint32_t, void *)
{
    return -1;
}

constexpr BackendOps placeholder(int family, const char *prefix, uint32_t flags)
{
    BackendOps ops{};
    ops.family = family;
    ops.namePrefix = prefix;
    ops.flags = flags;
    ops.InitSystem = refuseOpen;
    ops.OpenDevice = refuseDevice;
    return ops;
}

} // namespace

const BackendOps kPlaceholderHX1100 = placeholder(0, "KORU_HX1100_HVW_", BACKEND_DEINIT_RETURNS_CODE);
const BackendOps kPlaceholderHX4400 = placeholder(2, "KORU_HX4400_HVW_", BACKEND_DEINIT_RETURNS_CODE);
const BackendOps kPlaceholderW38XX =
    placeholder(5, "KORU_W38XX_HVW_", BACKEND_LOCAL_EVENTS | BACKEND_REGISTER_LINK | BACKEND_DEINIT_ALWAYS);
const BackendOps kPlaceholderL2290 = placeholder(6, "KORU_L2290_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderW9300 = placeholder(7, "KORU_W9300_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderL317E = placeholder(8, "KORU_L317E_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderBQ71XX =
    placeholder(9, "KORU_BQ71XX_HVW_", BACKEND_LOCAL_EVENTS | BACKEND_REGISTER_LINK);
const BackendOps kPlaceholderZJV = placeholder(10, "KORU_ZJV_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderBQ71XXE = placeholder(11, "KORU_BQ71XXE_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderL5026 = placeholder(12, "KORU_L5026_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderTRIXHV = placeholder(13, "KORU_TRIXHV_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderZORN = placeholder(14, "KORU_ZORN_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderL5126 = placeholder(15, "KORU_L5126_HVW_", BACKEND_LOCAL_EVENTS);
const BackendOps kPlaceholderP8080 = placeholder(16, "KORU_P8080_HVW_", BACKEND_DEINIT_RETURNS_CODE);

} // namespace koruhv
