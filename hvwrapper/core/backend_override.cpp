#include "backend_override.h"

#include <atomic>

namespace koruhv {

namespace {

constexpr int kMaxFamily = 32;
std::atomic<const BackendOps *> g_overrides[kMaxFamily];

} // namespace

void Backend_SetOverrideForTests(int family, const BackendOps *ops)
{
    if (family >= 0 && family < kMaxFamily)
        g_overrides[family].store(ops);
}

const BackendOps *Backend_Override(int family)
{
    if (family < 0 || family >= kMaxFamily)
        return nullptr;
    return g_overrides[family].load();
}

} // namespace koruhv
