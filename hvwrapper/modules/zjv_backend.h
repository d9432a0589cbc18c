// Backend of the ZJV low-voltage supplies of a detector project (system
// type 10, family 10): two channels of 5 V, 48 V and fan supplies, the
// "$CMD" dialect without a module address, over TCP (port 23) or a serial
// link. Every parameter is a channel parameter.
#pragma once

#include "backend_ops.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kZJVBackend;
extern const TextFamily kZJVFamily;

TEXT_FAMILY_ENTRY_DECLS(ZJV)
// Copies the identity, then checks that the unit still answers.
int ZJV_TestBdPresence(int instance, uint16_t slot, char *model, char *description, uint16_t *serialNumber,
                       uint8_t *firmwareMinor, uint8_t *firmwareMajor);
// Decimals of a resolution (counts per unit): 100 gives 2, 5 gives 1, 1 gives 0.
int ZJV_DecimalsOfResolution(double resolution);

} // namespace koruhv
