// How the simulators' wire journals (KORU_SIM_JOURNAL) write bytes.
#pragma once

#include <string>

namespace korusim {

// Control characters, DEL and the backslash as \xNN, so that one journal
// entry stays on one line and reads back byte for byte; with escapeHigh
// also the bytes from 0x80 (binary protocols), else those stay as they are.
std::string journalText(const std::string &bytes, bool escapeHigh);

} // namespace korusim
