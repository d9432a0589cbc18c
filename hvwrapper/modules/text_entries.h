// The named entry operations of a text family (PREFIX_InitSystem, ...),
// instance index first, as thin forwards to the engine. A family header uses
// TEXT_FAMILY_ENTRY_DECLS(PREFIX); its source TEXT_FAMILY_ENTRY_DEFS(PREFIX,
// family) inside namespace koruhv, or, when it writes some operations itself,
// TEXT_ENTRY_<operation>(PREFIX, family) for each of the others.
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

namespace koruhv {

// A BackendOps entry that calls one of the family's own named operations
// with the slot's instance: ops.GetBdParam = TextEntryOp<ZORN_GetBdParam>::call.
template <auto Entry> struct TextEntryOp {
    template <typename... A> static int call(const BackendRef &b, A... args)
    {
        return Entry(b.handle, args...);
    }
};

} // namespace koruhv

// One forward per operation.
#define TEXT_ENTRY_InitSystem(P, F)                                                                          \
    int P##_InitSystem(const char *link, const char *address, int *instance)                                 \
    {                                                                                                        \
        return Text_InitSystem(F, link, address, instance);                                                  \
    }

#define TEXT_ENTRY_DeinitSystem(P, F)                                                                        \
    int P##_DeinitSystem(int instance)                                                                       \
    {                                                                                                        \
        return Text_DeinitSystem(F, instance);                                                               \
    }

#define TEXT_ENTRY_GetError(P, F)                                                                            \
    const char *P##_GetError(int)                                                                            \
    {                                                                                                        \
        return "";                                                                                           \
    }

#define TEXT_ENTRY_GetCrateMap(P, F)                                                                         \
    int P##_GetCrateMap(int instance, uint16_t *slotCount, char **models, char **descriptions,               \
                        uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors)        \
    {                                                                                                        \
        return Text_GetCrateMap(F, instance, slotCount, models, descriptions, serialNumbers, firmwareMinors, \
                                firmwareMajors);                                                             \
    }

#define TEXT_ENTRY_GetSysComp(P, F)                                                                          \
    int P##_GetSysComp(int instance, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)       \
    {                                                                                                        \
        return Text_GetSysComp(F, instance, crateCount, crateWords, slotWords);                              \
    }

#define TEXT_ENTRY_GetSysPropList(P, F)                                                                      \
    int P##_GetSysPropList(int instance, uint16_t *count, char **names)                                      \
    {                                                                                                        \
        return Text_GetSysPropList(F, instance, count, names);                                               \
    }

#define TEXT_ENTRY_GetBdParam(P, F)                                                                          \
    int P##_GetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,            \
                       void *values)                                                                         \
    {                                                                                                        \
        return Text_GetBdParam(F, instance, slotCount, slots, name, values);                                 \
    }

#define TEXT_ENTRY_SetBdParam(P, F)                                                                          \
    int P##_SetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,            \
                       const void *values)                                                                   \
    {                                                                                                        \
        return Text_SetBdParam(F, instance, slotCount, slots, name, values);                                 \
    }

#define TEXT_ENTRY_GetBdParamProp(P, F)                                                                      \
    int P##_GetBdParamProp(int instance, uint16_t slot, const char *param, const char *prop, void *result)   \
    {                                                                                                        \
        return Text_GetBdParamProp(F, instance, slot, param, prop, result);                                  \
    }

#define TEXT_ENTRY_GetBdParamInfo(P, F)                                                                      \
    int P##_GetBdParamInfo(int instance, uint16_t slot, char **names)                                        \
    {                                                                                                        \
        return Text_GetBdParamInfo(F, instance, slot, names);                                                \
    }

#define TEXT_ENTRY_GetChParamProp(P, F)                                                                      \
    int P##_GetChParamProp(int instance, uint16_t slot, uint16_t channel, const char *param,                 \
                           const char *prop, void *result)                                                   \
    {                                                                                                        \
        return Text_GetChParamProp(F, instance, slot, channel, param, prop, result);                         \
    }

#define TEXT_ENTRY_GetChParamInfo(P, F)                                                                      \
    int P##_GetChParamInfo(int instance, uint16_t slot, uint16_t channel, char **names, int *count)          \
    {                                                                                                        \
        return Text_GetChParamInfo(F, instance, slot, channel, names, count);                                \
    }

#define TEXT_ENTRY_GetChName(P, F)                                                                           \
    int P##_GetChName(int instance, uint16_t slot, uint16_t count, const uint16_t *channels,                 \
                      char(*names)[KORUHV_CHANNEL_NAME_SIZE])                                                \
    {                                                                                                        \
        return Text_GetChName(F, instance, slot, count, channels, names);                                    \
    }

#define TEXT_ENTRY_GetChParam(P, F)                                                                          \
    int P##_GetChParam(int instance, uint16_t slot, const char *name, uint16_t count,                        \
                       const uint16_t *channels, void *values)                                               \
    {                                                                                                        \
        return Text_GetChParam(F, instance, slot, name, count, channels, values);                            \
    }

#define TEXT_ENTRY_SetChParam(P, F)                                                                          \
    int P##_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count,                        \
                       const uint16_t *channels, const void *values)                                         \
    {                                                                                                        \
        return Text_SetChParam(F, instance, slot, name, count, channels, values);                            \
    }

#define TEXT_ENTRY_GetExecCommList(P, F)                                                                     \
    int P##_GetExecCommList(int instance, uint16_t *count, char **names)                                     \
    {                                                                                                        \
        return Text_GetExecCommList(F, instance, count, names);                                              \
    }

#define TEXT_ENTRY_ExecComm(P, F)                                                                            \
    int P##_ExecComm(int instance, const char *name)                                                         \
    {                                                                                                        \
        return Text_ExecComm(F, instance, name);                                                             \
    }

#define TEXT_ENTRY_Subscribe(P, F)                                                                           \
    int P##_Subscribe(int instance, unsigned short port, uint16_t count, const char *items, char *results)   \
    {                                                                                                        \
        return Text_Subscribe(F, instance, port, count, items, results);                                     \
    }

#define TEXT_ENTRY_UnSubscribe(P, F)                                                                         \
    int P##_UnSubscribe(int instance, unsigned short, uint16_t count, const char *items, char *results)      \
    {                                                                                                        \
        return Text_UnSubscribe(F, instance, count, items, results);                                         \
    }

#define TEXT_ENTRY_ResetInstances(P, F)                                                                      \
    void P##_ResetInstances()                                                                                \
    {                                                                                                        \
        Text_ResetInstances(F);                                                                              \
    }

#define TEXT_ENTRY_SetTcpPortForTests(P, F)                                                                  \
    void P##_SetTcpPortForTests(unsigned short port)                                                         \
    {                                                                                                        \
        Text_SetTcpPortForTests(F, port);                                                                    \
    }

// Every operation.
// clang-format off
#define TEXT_FAMILY_ENTRY_DEFS(P, F) \
    TEXT_ENTRY_InitSystem(P, F) \
    TEXT_ENTRY_DeinitSystem(P, F) \
    TEXT_ENTRY_GetError(P, F) \
    TEXT_ENTRY_GetCrateMap(P, F) \
    TEXT_ENTRY_GetSysComp(P, F) \
    TEXT_ENTRY_GetSysPropList(P, F) \
    TEXT_ENTRY_GetBdParam(P, F) \
    TEXT_ENTRY_SetBdParam(P, F) \
    TEXT_ENTRY_GetBdParamProp(P, F) \
    TEXT_ENTRY_GetBdParamInfo(P, F) \
    TEXT_ENTRY_GetChParamProp(P, F) \
    TEXT_ENTRY_GetChParamInfo(P, F) \
    TEXT_ENTRY_GetChName(P, F) \
    TEXT_ENTRY_GetChParam(P, F) \
    TEXT_ENTRY_SetChParam(P, F) \
    TEXT_ENTRY_GetExecCommList(P, F) \
    TEXT_ENTRY_ExecComm(P, F) \
    TEXT_ENTRY_Subscribe(P, F) \
    TEXT_ENTRY_UnSubscribe(P, F) \
    TEXT_ENTRY_ResetInstances(P, F) \
    TEXT_ENTRY_SetTcpPortForTests(P, F)
// clang-format on
