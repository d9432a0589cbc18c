// Test hook of the local batch reader: the 15 s waits (readable, receive
// time-out) in milliseconds; 0 restores the default. Internal only.
#pragma once

namespace koruhv {

void LocalEvents_SetReadWaitForTests(int ms);

} // namespace koruhv
