// Level subscriptions behind the six KORUHV_(Un)Subscribe*Params exports.
#pragma once

#include <cstdint>

namespace koruhv {

// level 0 system, 1 board, 2 channel; slot and channel 0xFFFF where the
// level has none.
int SubscribeParamsByLevel(int handle, short port, uint16_t slot, uint16_t channel, const char *paramNames,
                           unsigned paramCount, char *results, int level, bool subscribe);

} // namespace koruhv
