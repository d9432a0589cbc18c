// The "$BD" request dialect of the addressed modules (L2290; the L317E and
// L5026/L5126 amplifiers speak it too):
//   $BD:<aa>,CMD:MON|SET,[CH:<n>,]PAR:<mnemonic>[,VAL:<value>] CR LF
//   #BD:<aa>,CMD:OK[,VAL:<value>]    or an error naming CMD, CH, PAR, VAL, LOC
#pragma once

#include <cstddef>

#include "modules/text_engine.h"
#include "modules/text_family.h"

namespace koruhv {

// Address text: TCP "ip[_address]"; serial
// "port[_baud[_databits[_stopbits[_parity[_address]]]]]". Module address 0..99.
int Bd_ParseAddress(const TextFamily &f, const char *link, const char *address, LinkParams *out);
// The request line with the given value part (may be empty), CR LF included.
int Bd_BuildRequest(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                    const char *valuePart, char *out, size_t cap);
// A line headed "#BD:<n>" belongs to module n.
bool Bd_IsOwnReply(const TextInstance &in, const char *line);
int Bd_ParseReply(const TextInstance &in, const char *mnemonic, const char *line, char *value, size_t cap);
int Bd_SetResult(const TextInstance &in, const char *line);

// Value part ",VAL:<v>" of a set, by the row's type: numeric with the row's
// text digits and decimals ("%0W.Df", W = digits + decimals, C locale),
// on/off as the device word, status words as "%05d"; other types none.
// False when the value cannot be sent (not finite, too long).
bool Bd_FormatValuePart(const ParamRow &row, const void *value, char *out, size_t cap);
// The amplifiers' value part: numbers without decimals, zero-padded to the
// row's digits ("012"); on/off and enumerations as their integer; status
// words "%05d"; other types none.
bool Bd_FormatWholeValuePart(const ParamRow &row, const void *value, char *out, size_t cap);

// The dialect with a family's address rule, request builder and idle sets.
constexpr TextDialect Bd_Dialect(decltype(TextDialect::parseAddress) parseAddress,
                                 decltype(TextDialect::buildRequest) buildRequest,
                                 decltype(TextDialect::skipSet) skipSet)
{
    return {.parseAddress = parseAddress,
            .buildRequest = buildRequest,
            .isOwnReply = Bd_IsOwnReply,
            .parseReply = Bd_ParseReply,
            .setResult = Bd_SetResult,
            .skipSet = skipSet};
}

// The amplifiers' (L317E, L5026/L5126) addresses: serial ports are known by
// their number, a port name without a digit is refused.
int Bd_ParseAmplifierAddress(const TextFamily &f, const char *link, const char *address, LinkParams *out);

// The amplifiers send "On" and "Off" without a value.
inline constexpr const char *kBdAmplifierBareSets[] = {"On", "Off", nullptr};

// The amplifiers' dialect: whole-number values, no idle sets.
constexpr TextDialect Bd_AmplifierDialect()
{
    return Bd_Dialect(Bd_ParseAmplifierAddress,
                      Text_BuildRequest<kBdAmplifierBareSets, Bd_FormatWholeValuePart, Bd_BuildRequest>,
                      nullptr);
}

} // namespace koruhv
