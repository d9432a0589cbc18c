// Backend of the TRIXHV high-voltage modules (system type 13 and every type
// the front does not know, family 13): one board of up to 32 channels, over
// TCP (port 2290) or a serial link. The unit describes its own parameters:
// at open the backend asks for the board and channel parameter names and a
// description of each, and builds the instance's table from the answers.
#pragma once

#include <cstdint>

#include "backend_ops.h"
#include "modules/text_engine.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kTrixhvBackend;
extern const TextFamily kTrixhvFamily;

// Entry operations (instance index first), as the front reaches them;
// TRIXHV_SetTcpPortForTests moves new links off port 2290 (tests only). The
// board operations take the slot arguments and ignore them: element 0.
// TRIXHV_ExecComm sends the name as a command (a set without value), whether
// or not it is one of the unit's parameters.
TEXT_FAMILY_ENTRY_DECLS(TRIXHV)

} // namespace koruhv
