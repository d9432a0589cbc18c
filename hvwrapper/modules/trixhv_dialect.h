// The line dialect of the TRIXHV modules, which describe their own
// parameters:
//   $CMD:MON|SET|INFO,[CH:<c>,]PAR:<name>[,VAL:<value>] CR LF
//   ($BD:<n>,CMD:... on a serial bus with unit address n)
//   #CMD:OK[,VAL:<value>]   or an error naming CMD, CH, PAR, VAL, LOC
// and the ten-field description record an INFO request returns:
//   type;mode;min;max;decimals;spare;exponent;unit;on text;off text
#pragma once

#include <cstddef>
#include <cstdint>

#include "modules/text_engine.h"

namespace koruhv {

// Address text: TCP "ip[_...]"; serial "port[_baud[_data[_stop[_parity[_bus]]]]]"
// (bus address -1 when absent: requests then carry none).
int Trixhv_ParseAddress(const TextFamily &f, const char *link, const char *address, LinkParams *out);
int Trixhv_BuildRequest(const TextInstance &in, RequestKind kind, int channel, const char *name,
                        const void *value, char *out, size_t cap);
// Value part ",VAL:<v>" by the row's type: numbers "%0W.Df" (W = integer
// digits + decimals, C locale), on/off the row's on or off text, status
// words "%05d", texts as given (value points at the text). False when the
// value cannot be sent.
bool Trixhv_FormatValue(const ParamRow &row, const void *value, char *out, size_t cap);
int Trixhv_ParseReply(const TextInstance &in, const char *name, const char *line, char *value, size_t cap);
int Trixhv_SetResult(const TextInstance &in, const char *line);
// "ON" and "OFF" set to 0 mean "nothing to do".
bool Trixhv_SkipSet(const char *name, const void *value);

// A parsed description record.
struct TrixhvDescription {
    int type = PT_NONE;
    int mode = 3;
    float minimum = -1, maximum = -1;
    int16_t integerDigits = -1; // decimal digits of the maximum's integer part
    int16_t decimals = -1;
    int8_t exponent = -1;
    uint8_t spare = 255;
    uint8_t unit = 255;
    char onText[64] = "";
    char offText[64] = "";
};
// 0, or -1 when the record does not hold exactly ten fields or a text does
// not fit.
int Trixhv_ParseInfo(const char *record, TrixhvDescription *out);
// Unit code of a unit name (exact): "ampere" 1 ... "bit" 11, else 0.
uint8_t Trixhv_UnitCode(const char *unit);

} // namespace koruhv
