// Test hook: replaces the operations table of one family (null restores the
// registered one). Internal only; never exported.
#pragma once

#include "backend_ops.h"

namespace koruhv {

void Backend_SetOverrideForTests(int family, const BackendOps *ops);
// The override for a family code, or null.
const BackendOps *Backend_Override(int family);

} // namespace koruhv
