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
// 0 when the reply holds "#AK", else -1.
int Zorn_SetResult(const TextInstance &in, const char *line);
// "<prefix>:<major>.<minor>.<revision>": 0 with the three numbers, or -1.
int Zorn_ParseVersion(const char *value, int *major, int *minor, int *revision);

// Entry operations (instance index first), as the front reaches them.
int ZORN_InitSystem(const char *link, const char *address, int *instance);
int ZORN_DeinitSystem(int instance);
const char *ZORN_GetError(int instance);
int ZORN_GetCrateMap(int instance, uint16_t *slotCount, char **models, char **descriptions,
                     uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors);
int ZORN_GetSysComp(int instance, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords);
int ZORN_GetSysPropList(int instance, uint16_t *count, char **names);
int ZORN_GetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name, void *values);
int ZORN_SetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,
                    const void *values);
int ZORN_GetBdParamProp(int instance, uint16_t slot, const char *param, const char *prop, void *result);
int ZORN_GetBdParamInfo(int instance, uint16_t slot, char **names);
int ZORN_GetChParamProp(int instance, uint16_t slot, uint16_t channel, const char *param, const char *prop,
                        void *result);
int ZORN_GetChParamInfo(int instance, uint16_t slot, uint16_t channel, char **names, int *count);
int ZORN_GetChName(int instance, uint16_t slot, uint16_t count, const uint16_t *channels,
                   char (*names)[KORUHV_CHANNEL_NAME_SIZE]);
int ZORN_GetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                    void *values);
int ZORN_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                    const void *values);
int ZORN_GetExecCommList(int instance, uint16_t *count, char **names);
int ZORN_ExecComm(int instance, const char *name);
int ZORN_Subscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results);
int ZORN_UnSubscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results);
void ZORN_ResetInstances();

// Tests only: the TCP port of new links (0 restores 10001).
void ZORN_SetTcpPortForTests(unsigned short port);

} // namespace koruhv
