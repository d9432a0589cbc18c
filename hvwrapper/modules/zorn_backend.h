// Backend of the ZORN power supplies (system type 14, family 14): a
// single-channel unit reached over TCP only (port 10001), 48 instances, with
// a query grammar of its own:
//   <mnemonic>:?          ->  #<echo>:<value>
//   <mnemonic>:<value>    ->  #AK (refused: anything else)
//   <mnemonic>            ->  #AK (a command)
#pragma once

#include <cstddef>
#include <cstdint>

#include "backend_ops.h"
#include "modules/text_engine.h"
#include "modules/text_entries.h"

namespace koruhv {

extern const BackendOps kZornBackend;
extern const TextFamily kZornFamily;

// Dialect pieces (line ends excluded from replies).
int Zorn_BuildRequest(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                      const void *value, char *out, size_t cap);
// A query reply must hold '#' and the first n - 2 characters of the
// mnemonic (n: its length up to a ':'); the value follows the reply's first
// ':'. 0, or -1.
int Zorn_ParseReply(const TextInstance &in, const char *mnemonic, const char *line, char *value, size_t cap);
// False for a line that answers another request: a value echoing another
// query of the unit, or "#AK" to a query.
bool Zorn_IsReplyTo(const TextInstance &in, RequestKind kind, const char *mnemonic, const char *line);
// 0 when the reply holds "#AK", else -1.
int Zorn_SetResult(const TextInstance &in, const char *line);
// "<prefix>:<major>.<minor>.<revision>": 0 with the three numbers, or -1.
int Zorn_ParseVersion(const char *value, int *major, int *minor, int *revision);

// Entry operations (instance index first), as the front reaches them;
// ZORN_SetTcpPortForTests moves new links off port 10001 (tests only).
TEXT_FAMILY_ENTRY_DECLS(ZORN)

} // namespace koruhv
