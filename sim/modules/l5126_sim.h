// The L5126 amplifier simulator is the L5026 one with the L5126 family's
// model (AmpModule::make(AmpFamily::L5126)); this header only names it.
#pragma once

#include "modules/l5026_sim.h"
