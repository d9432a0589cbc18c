// Backends of the L5026 (system type 12, family 12) and L5126 (type 15,
// family 15) 16-channel NIM amplifiers: one board of settings per module,
// reached over TCP (port 23) or a serial link with a module address in every
// request ("$BD" dialect). Both families are built from the same code; each
// has its own tables, instances, links and threads.
#pragma once

#include <cstdint>

#include "backend_ops.h"
#include "modules/text_engine.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kL5026Backend;
extern const BackendOps kL5126Backend;
extern const TextFamily kL5026Family;
extern const TextFamily kL5126Family;

// Value part ",VAL:<v>" of a set by the row's type: numbers whole, zero-filled
// to the row's width ("%0W.0f", C locale); on/off and enumerations "%d";
// status words "%05d"; other types none. False when the value cannot be sent.
bool L5x26_FormatValue(const ParamRow &row, const void *value, char *out, size_t cap);

// Entry operations (instance index first) of both families, as the front
// reaches them; L5026_SetTcpPortForTests and L5126_SetTcpPortForTests move
// new links off port 23 (tests only).
TEXT_FAMILY_ENTRY_DECLS(L5026)
TEXT_FAMILY_ENTRY_DECLS(L5126)

} // namespace koruhv
