// Backend of the TRIXHV high-voltage modules (system type 13 and every type
// the front does not know, family 13): one board of up to 32 channels, over
// TCP (port 2290) or a serial link. The unit describes its own parameters:
// at open the backend asks for the board and channel parameter names and a
// description of each, and builds the instance's table from the answers.
#pragma once

#include <cstdint>

#include "backend_ops.h"
#include "modules/text_engine.h"

namespace koruhv {

extern const BackendOps kTrixhvBackend;
extern const TextFamily kTrixhvFamily;

// Entry operations (instance index first), as the front reaches them.
int TRIXHV_InitSystem(const char *link, const char *address, int *instance);
int TRIXHV_DeinitSystem(int instance);
const char *TRIXHV_GetError(int instance);
int TRIXHV_GetCrateMap(int instance, uint16_t *slotCount, char **models, char **descriptions,
                       uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors);
int TRIXHV_GetSysComp(int instance, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords);
int TRIXHV_GetSysPropList(int instance, uint16_t *count, char **names);
// The board operations take the slot arguments and ignore them: element 0.
int TRIXHV_GetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,
                      void *values);
int TRIXHV_SetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,
                      const void *values);
int TRIXHV_GetBdParamProp(int instance, uint16_t slot, const char *param, const char *prop, void *result);
int TRIXHV_GetBdParamInfo(int instance, uint16_t slot, char **names);
int TRIXHV_GetChParamProp(int instance, uint16_t slot, uint16_t channel, const char *param, const char *prop,
                          void *result);
int TRIXHV_GetChParamInfo(int instance, uint16_t slot, uint16_t channel, char **names, int *count);
int TRIXHV_GetChName(int instance, uint16_t slot, uint16_t count, const uint16_t *channels,
                     char (*names)[KORUHV_CHANNEL_NAME_SIZE]);
int TRIXHV_GetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                      void *values);
int TRIXHV_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                      const void *values);
int TRIXHV_GetExecCommList(int instance, uint16_t *count, char **names);
// Sends the name as a command (a set without value), whether or not it is
// one of the unit's parameters.
int TRIXHV_ExecComm(int instance, const char *name);
int TRIXHV_Subscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results);
int TRIXHV_UnSubscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results);
void TRIXHV_ResetInstances();

// Tests only: the TCP port of new links (0 restores 2290).
void TRIXHV_SetTcpPortForTests(unsigned short port);

} // namespace koruhv
