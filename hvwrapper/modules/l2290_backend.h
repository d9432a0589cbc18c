// Backend of the L2290 NIM high-voltage modules (system type 6, family 6):
// up to 8 channels, reached over TCP (port 2290) or a serial link, with a
// module address in every request.
#pragma once

#include <cstdint>

#include "backend_ops.h"
#include "modules/text_engine.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kL2290Backend;
extern const TextFamily kL2290Family;

// Entry operations (instance index first), as the front reaches them;
// L2290_SetTcpPortForTests moves new links off port 2290 (tests only).
TEXT_FAMILY_ENTRY_DECLS(L2290)

} // namespace koruhv
