// Backend of the L317E 16-channel NIM spectroscopy amplifiers (system type
// 8, family 8): the "$BD" dialect with a module address, over TCP (port
// 317) or a serial link. Gains, shaping and output settings per channel,
// several of them enumerations with labels.
#pragma once

#include "backend_ops.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kL317EBackend;
extern const TextFamily kL317EFamily;

TEXT_FAMILY_ENTRY_DECLS(L317E)

} // namespace koruhv
