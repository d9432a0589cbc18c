// The named entry operations of a text family (PREFIX_InitSystem, ...),
// instance index first, as thin forwards to the engine. A family header uses
// TEXT_FAMILY_ENTRY_DECLS(PREFIX); its source TEXT_FAMILY_ENTRY_DEFS(PREFIX,
// family) inside namespace koruhv.
#pragma once

#include <cstdint>

#include "modules/text_engine.h"

#define TEXT_FAMILY_ENTRY_DECLS(P)                                                                           \
    int P##_InitSystem(const char *link, const char *address, int *instance);                                \
    int P##_DeinitSystem(int instance);                                                                      \
    const char *P##_GetError(int instance);                                                                  \
    int P##_GetCrateMap(int instance, uint16_t *slotCount, char **models, char **descriptions,               \
                        uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors);       \
    int P##_GetSysComp(int instance, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords);      \
    int P##_GetSysPropList(int instance, uint16_t *count, char **names);                                     \
    int P##_GetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,            \
                       void *values);                                                                        \
    int P##_SetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,            \
                       const void *values);                                                                  \
    int P##_GetBdParamProp(int instance, uint16_t slot, const char *param, const char *prop, void *result);  \
    int P##_GetBdParamInfo(int instance, uint16_t slot, char **names);                                       \
    int P##_GetChParamProp(int instance, uint16_t slot, uint16_t channel, const char *param,                 \
                           const char *prop, void *result);                                                  \
    int P##_GetChParamInfo(int instance, uint16_t slot, uint16_t channel, char **names, int *count);         \
    int P##_GetChName(int instance, uint16_t slot, uint16_t count, const uint16_t *channels,                 \
                      char(*names)[KORUHV_CHANNEL_NAME_SIZE]);                                               \
    int P##_GetChParam(int instance, uint16_t slot, const char *name, uint16_t count,                        \
                       const uint16_t *channels, void *values);                                              \
    int P##_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count,                        \
                       const uint16_t *channels, const void *values);                                        \
    int P##_GetExecCommList(int instance, uint16_t *count, char **names);                                    \
    int P##_ExecComm(int instance, const char *name);                                                        \
    int P##_Subscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results);  \
    int P##_UnSubscribe(int instance, unsigned short port, uint16_t count, const char *items,                \
                        char *results);                                                                      \
    void P##_ResetInstances();                                                                               \
    /* Tests only: the TCP port of new links (0 restores the default). */                                    \
    void P##_SetTcpPortForTests(unsigned short port);

#define TEXT_FAMILY_ENTRY_DEFS(P, F)                                                                         \
    int P##_InitSystem(const char *link, const char *address, int *instance)                                 \
    {                                                                                                        \
        return Text_InitSystem(F, link, address, instance);                                                  \
    }                                                                                                        \
    int P##_DeinitSystem(int instance)                                                                       \
    {                                                                                                        \
        return Text_DeinitSystem(F, instance);                                                               \
    }                                                                                                        \
    const char *P##_GetError(int)                                                                            \
    {                                                                                                        \
        return "";                                                                                           \
    }                                                                                                        \
    int P##_GetCrateMap(int instance, uint16_t *slotCount, char **models, char **descriptions,               \
                        uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors)        \
    {                                                                                                        \
        return Text_GetCrateMap(F, instance, slotCount, models, descriptions, serialNumbers, firmwareMinors, \
                                firmwareMajors);                                                             \
    }                                                                                                        \
    int P##_GetSysComp(int instance, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)       \
    {                                                                                                        \
        return Text_GetSysComp(F, instance, crateCount, crateWords, slotWords);                              \
    }                                                                                                        \
    int P##_GetSysPropList(int instance, uint16_t *count, char **names)                                      \
    {                                                                                                        \
        return Text_GetSysPropList(F, instance, count, names);                                               \
    }                                                                                                        \
    int P##_GetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,            \
                       void *values)                                                                         \
    {                                                                                                        \
        return Text_GetBdParam(F, instance, slotCount, slots, name, values);                                 \
    }                                                                                                        \
    int P##_SetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,            \
                       const void *values)                                                                   \
    {                                                                                                        \
        return Text_SetBdParam(F, instance, slotCount, slots, name, values);                                 \
    }                                                                                                        \
    int P##_GetBdParamProp(int instance, uint16_t slot, const char *param, const char *prop, void *result)   \
    {                                                                                                        \
        return Text_GetBdParamProp(F, instance, slot, param, prop, result);                                  \
    }                                                                                                        \
    int P##_GetBdParamInfo(int instance, uint16_t slot, char **names)                                        \
    {                                                                                                        \
        return Text_GetBdParamInfo(F, instance, slot, names);                                                \
    }                                                                                                        \
    int P##_GetChParamProp(int instance, uint16_t slot, uint16_t channel, const char *param,                 \
                           const char *prop, void *result)                                                   \
    {                                                                                                        \
        return Text_GetChParamProp(F, instance, slot, channel, param, prop, result);                         \
    }                                                                                                        \
    int P##_GetChParamInfo(int instance, uint16_t slot, uint16_t channel, char **names, int *count)          \
    {                                                                                                        \
        return Text_GetChParamInfo(F, instance, slot, channel, names, count);                                \
    }                                                                                                        \
    int P##_GetChName(int instance, uint16_t slot, uint16_t count, const uint16_t *channels,                 \
                      char(*names)[KORUHV_CHANNEL_NAME_SIZE])                                                \
    {                                                                                                        \
        return Text_GetChName(F, instance, slot, count, channels, names);                                    \
    }                                                                                                        \
    int P##_GetChParam(int instance, uint16_t slot, const char *name, uint16_t count,                        \
                       const uint16_t *channels, void *values)                                               \
    {                                                                                                        \
        return Text_GetChParam(F, instance, slot, name, count, channels, values);                            \
    }                                                                                                        \
    int P##_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count,                        \
                       const uint16_t *channels, const void *values)                                         \
    {                                                                                                        \
        return Text_SetChParam(F, instance, slot, name, count, channels, values);                            \
    }                                                                                                        \
    int P##_GetExecCommList(int instance, uint16_t *count, char **names)                                     \
    {                                                                                                        \
        return Text_GetExecCommList(F, instance, count, names);                                              \
    }                                                                                                        \
    int P##_ExecComm(int instance, const char *name)                                                         \
    {                                                                                                        \
        return Text_ExecComm(F, instance, name);                                                             \
    }                                                                                                        \
    int P##_Subscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results)   \
    {                                                                                                        \
        return Text_Subscribe(F, instance, port, count, items, results);                                     \
    }                                                                                                        \
    int P##_UnSubscribe(int instance, unsigned short, uint16_t count, const char *items, char *results)      \
    {                                                                                                        \
        return Text_UnSubscribe(F, instance, count, items, results);                                         \
    }                                                                                                        \
    void P##_ResetInstances()                                                                                \
    {                                                                                                        \
        Text_ResetInstances(F);                                                                              \
    }                                                                                                        \
    void P##_SetTcpPortForTests(unsigned short port)                                                         \
    {                                                                                                        \
        Text_SetTcpPortForTests(F, port);                                                                    \
    }
