// Family code -> operations table. Adding a family is one line here and the
// family's own files. Families not built yet are served by the placeholder,
// whose open fails (4100).
#include "backend_ops.h"
#include "backend_override.h"
#include "boards/bq71xx_backend.h"
#include "boards/w38xx_backend.h"
#include "crate/hx1100_backend.h"
#include "crate/hx4400_backend.h"
#include "crate/p8080_backend.h"
#include "modules/bq71xxe_backend.h"
#include "modules/l2290_backend.h"
#include "modules/l317e_backend.h"
#include "modules/l5026_backend.h"
#include "modules/trixhv_backend.h"
#include "modules/w9300_backend.h"
#include "modules/zjv_backend.h"
#include "modules/zorn_backend.h"
#include "placeholder_backend.h"

namespace koruhv {

namespace {

const BackendOps *const kFamilies[] = {
    &kHX1100Backend, &kHX4400Backend, &kW38XXBackend, &kL2290Backend,   &kW9300Backend,
    &kL317EBackend,  &kBQ71XXBackend, &kZJVBackend,   &kBQ71XXEBackend, &kL5026Backend,
    &kTrixhvBackend, &kZornBackend,   &kL5126Backend, &kP8080Backend,   nullptr,
};

} // namespace

const BackendOps *Backend_ForFamily(int family)
{
    if (const BackendOps *ops = Backend_Override(family))
        return ops;
    for (const BackendOps *const *p = kFamilies; *p; ++p)
        if ((*p)->family == family)
            return *p;
    return nullptr;
}

const BackendOps *const *Backend_All()
{
    return kFamilies;
}

} // namespace koruhv
