// The "$CMD" request dialect of the units without a module address
// (BQ71XXE, ZJV, W9300):
//   $CMD:MON|SET,[CH:<n>,]PAR:<mnemonic>[,VAL:<value>] CR LF
//   #CMD:OK[,VAL:<value>]    or an error naming CMD, CH, PAR, VAL, LOC
#pragma once

#include <cstddef>

#include "modules/text_engine.h"

namespace koruhv {

// Address text: TCP "ip" (anything after a '_' is ignored); serial
// "port[_baud[_databits[_stopbits[_parity]]]]". No module address.
int Cmd_ParseAddress(const TextFamily &f, const char *link, const char *address, LinkParams *out);
// The request line with the given value part (may be empty), CR LF included;
// channel -1 names none.
int Cmd_BuildRequest(RequestKind kind, int channel, const char *mnemonic, const char *valuePart, char *out,
                     size_t cap);
// The same for any instance (a RequestLine).
int Cmd_RequestLine(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                    const char *valuePart, char *out, size_t cap);
// "#CMD:OK,VAL:<value>": the value is everything after the first ':' of the
// second field (values such as MAC addresses hold ':' themselves).
int Cmd_ParseReply(const TextInstance &in, const char *mnemonic, const char *line, char *value, size_t cap);
int Cmd_SetResult(const TextInstance &in, const char *line);

// The dialect with a family's address rule, request builder and idle sets.
constexpr TextDialect Cmd_Dialect(decltype(TextDialect::parseAddress) parseAddress,
                                  decltype(TextDialect::buildRequest) buildRequest,
                                  decltype(TextDialect::skipSet) skipSet)
{
    return {.parseAddress = parseAddress,
            .buildRequest = buildRequest,
            .isOwnReply = nullptr,
            .parseReply = Cmd_ParseReply,
            .setResult = Cmd_SetResult,
            .skipSet = skipSet};
}

} // namespace koruhv
