// Text forms of system-property values that both crate generations share
// (byte lists, fan groups, the data text), read through a bounds-checked
// cursor so a short reply or event value never reads past its end.
#pragma once

#include <string>
#include <string_view>

#include "crate_protocol.h"

namespace koruhv {

// The next n bytes as signed decimals joined by ':'; fails the cursor when
// fewer than n bytes remain.
std::string CrateText_Decimals(ByteCursor &cur, int n);
// Every whole 3-byte group that remains: the byte (signed) and the following
// 16-bit number, all joined by ':'.
std::string CrateText_FanGroups(ByteCursor &cur);
// The remaining bytes up to the first NUL (or the end), not consumed.
std::string_view CrateText_Data(const ByteCursor &cur);

} // namespace koruhv
