// Further rack presets for the program's tests.
#pragma once

#include "crate/p8080_sim.h"

namespace korusim {

// smallRack() plus the system parameters the rack's technical-information
// and settings views read (the wire's names hold 11 characters, so not
// "SerialNumber"): FwRelease and
// HwRelease (text), FrontPanOut (u16, 0x0301), FrontPan (u16, 0), ACDCStatus
// (u16, 5), Logic (u16, writable 0..1, 0), LowFreq, HighFreq (u16, 50, 60),
// RecPeriod, RstPeriod (u16, 100, 200), ACDCIlim (u16, writable 0..3, 1).
P8080Model techInfoRack();

} // namespace korusim
