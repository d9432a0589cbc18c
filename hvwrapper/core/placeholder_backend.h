// Families whose backend is not built yet: every open fails, so such a
// system answers 4100 and no other operation is ever reached.
#pragma once

#include "backend_ops.h"

namespace koruhv {

extern const BackendOps kPlaceholderHX1100;
extern const BackendOps kPlaceholderHX4400;
extern const BackendOps kPlaceholderW38XX;
extern const BackendOps kPlaceholderL2290;
extern const BackendOps kPlaceholderW9300;
extern const BackendOps kPlaceholderL317E;
extern const BackendOps kPlaceholderBQ71XX;
extern const BackendOps kPlaceholderZJV;
extern const BackendOps kPlaceholderBQ71XXE;
extern const BackendOps kPlaceholderL5026;
extern const BackendOps kPlaceholderTRIXHV;
extern const BackendOps kPlaceholderZORN;
extern const BackendOps kPlaceholderL5126;
extern const BackendOps kPlaceholderP8080;

} // namespace koruhv
