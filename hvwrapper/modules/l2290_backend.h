// Backend of the L2290 NIM high-voltage modules (system type 6, family 6):
// up to 8 channels, reached over TCP (port 2290) or a serial link, with a
// module address in every request.
#pragma once

#include <cstdint>

#include "backend_ops.h"
#include "modules/text_engine.h"

namespace koruhv {

extern const BackendOps kL2290Backend;
extern const TextFamily kL2290Family;

// Entry operations (instance index first), as the front reaches them.
int L2290_InitSystem(const char *link, const char *address, int *instance);
int L2290_DeinitSystem(int instance);
const char *L2290_GetError(int instance);
int L2290_GetCrateMap(int instance, uint16_t *slotCount, char **models, char **descriptions,
                      uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors);
int L2290_GetSysComp(int instance, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords);
int L2290_GetSysPropList(int instance, uint16_t *count, char **names);
int L2290_GetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name, void *values);
int L2290_SetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,
                     const void *values);
int L2290_GetBdParamProp(int instance, uint16_t slot, const char *param, const char *prop, void *result);
int L2290_GetBdParamInfo(int instance, uint16_t slot, char **names);
int L2290_GetChParamProp(int instance, uint16_t slot, uint16_t channel, const char *param, const char *prop,
                         void *result);
int L2290_GetChParamInfo(int instance, uint16_t slot, uint16_t channel, char **names, int *count);
int L2290_GetChName(int instance, uint16_t slot, uint16_t count, const uint16_t *channels,
                    char (*names)[KORUHV_CHANNEL_NAME_SIZE]);
int L2290_GetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                     void *values);
int L2290_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                     const void *values);
int L2290_GetExecCommList(int instance, uint16_t *count, char **names);
int L2290_ExecComm(int instance, const char *name);
int L2290_Subscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results);
int L2290_UnSubscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results);
void L2290_ResetInstances();

// Tests only: the TCP port of new links (0 restores 2290).
void L2290_SetTcpPortForTests(unsigned short port);

} // namespace koruhv
