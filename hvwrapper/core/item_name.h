// Item names ("S.Param", "S.Board005.Param", "S.Board05.CHAN012.Param") and
// the re-entrant tokenizer every backend uses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace koruhv {

enum ItemKind { ITEM_CHANNEL = 0, ITEM_BOARD = 1, ITEM_SYSTEM = 2, ITEM_KEEPALIVE = 3 };

enum ItemLevel { LEVEL_SYSTEM = 0, LEVEL_BOARD = 1, LEVEL_CHANNEL = 2 };

// Writes the item of one parameter at a level into out (cap bytes); returns
// the length written, or -1 when it does not fit.
int WriteItemName(char *out, size_t cap, int level, const char *systemName, uint16_t slot, uint16_t channel,
                  const char *param);

// Splits an item name. board is written for kinds 0 and 1, channel for kind
// 0; param (paramCap bytes) always. Never reads past the item's NUL.
int ParseItemName(const char *item, int16_t *board, uint16_t *channel, char *param, size_t paramCap);

// strtok-like, with the position in the caller's cursor. A delimiter at the
// cursor gives an empty token; only the end of the text gives null.
char *NextToken(char *text, const char *delims, char **cursor);

} // namespace koruhv
