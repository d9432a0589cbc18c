// Test hook of the register backends: polling, keep-alive and calibration
// times. Internal only; never exported.
#pragma once

#include "board_common.h"

namespace koruhv {

void Board_SetTimingForTests(const BoardTiming &t);

} // namespace koruhv
