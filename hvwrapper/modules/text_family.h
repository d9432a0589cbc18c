// What the text families do alike beyond the engine: the value part of a
// set, the sets that send nothing, the on state of a status word, the
// identification at open and the limits a unit reports per row.
#pragma once

#include <cstddef>

#include "modules/text_engine.h"

namespace koruhv {

// Writes a set's value part (",VAL:...") into out, or nothing.
using ValueFormat = bool (*)(const ParamRow &row, const void *value, char *out, size_t cap);

// The value part of a request: only a set with a value whose mnemonic is a
// row of the instance and not one of `bare` (a null-ended list of the
// mnemonics sent without a value) gets one. False when the value cannot be
// sent. out is cleared first.
bool Text_ValuePart(const TextInstance &in, RequestKind kind, const char *mnemonic, const void *value,
                    const char *const *bare, ValueFormat format, char *out, size_t cap);

// A request line around a value part (Bd_BuildRequest's shape).
using RequestLine = int (*)(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                            const char *valuePart, char *out, size_t cap);

// A dialect's buildRequest: the value part by Format, except for the
// mnemonics of Bare, in the line Line writes.
template <const char *const *Bare, ValueFormat Format, RequestLine Line>
int Text_BuildRequest(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                      const void *value, char *out, size_t cap)
{
    char part[160];
    if (!Text_ValuePart(in, kind, mnemonic, value, Bare, Format, part, sizeof part))
        return -1;
    return Line(in, kind, channel, mnemonic, part, out, cap);
}

// True when value is 0 and mnemonic is one of `words` (null-ended): a set
// that means "nothing to do".
bool Text_ZeroSetOf(const char *const *words, const char *mnemonic, const void *value);

// A channel (or crate) is on when its status has bit 0.
int Text_SwitchFromBit0(long status);

// 0..255 of a device number.
uint8_t Text_ByteValue(int v);

// How a unit says who it is: the queries in the order they are asked
// (families list the fields in this order, one identity a line).
struct TextIdentity {
    const char *modelQuery;    // "BDNAME"
    size_t modelMax;           // characters kept of the answer
    const char *modelMustHave; // null, or a text the answer must contain
    const char *channelQuery;  // null: fixedChannels, the unit is not asked
    int fixedChannels;         //
    int maxChannels;           // channels served of those the unit has
    const char *firmwareQuery; // "BDFREL": "<major>.<minor>"
    bool firmwareNeedsMajor;   // a '.' first refuses the unit
    bool firmwareNeedsDigits;  // both parts start with a digit
    const char *serialQuery;   // null: serial number 0
};
// Identity, channel count and channel lists; 0 or -1 (the open fails).
int Text_ReadIdentity(TextInstance &in, const TextIdentity &id);

// Limits and decimals a unit reports for one channel row. The current rows
// of units with current ranges have a second, low-range query: the larger
// answer of the two counts.
struct LimitQuery {
    const char *mnemonic, *min, *max, *maxLow, *decimals, *decimalsLow;
};
// Only an unanswered decimals query fails the row (-1).
int Text_ReadLimits(TextInstance &in, int channel, ParamRow &row, const LimitQuery *queries, size_t count,
                    bool ranges);

} // namespace koruhv
