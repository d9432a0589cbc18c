// Backend of the W9300 VME crate power supplies (system type 7, family 7):
// the crate is the one board (crate parameters, its power switch and two
// commands), with up to 8 output channels. The "$CMD" dialect in which every
// request names a channel, the crate being channel 8; over TCP (port 9300,
// one connection per system) or a serial port.
#pragma once

#include "backend_ops.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kW9300Backend;
extern const TextFamily kW9300Family;

TEXT_FAMILY_ENTRY_DECLS(W9300)

// Decimals of a resolution (counts per unit): ceil(log10), 0 for 1 or less.
int W9300_DecimalsOfResolution(int resolution);

} // namespace koruhv
