// Backend of the BQ71XXE desktop HV supplies (system type 11, family 11):
// up to 8 channels, the "$CMD" dialect without a module address, over TCP
// (port 23) or a USB virtual COM port.
#pragma once

#include "backend_ops.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kBQ71XXEBackend;
extern const TextFamily kBQ71XXEFamily;

TEXT_FAMILY_ENTRY_DECLS(BQ71XXE)

} // namespace koruhv
