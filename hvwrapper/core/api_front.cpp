// The exports whose front forwards to the family backend, plus the crate
// map, board presence, error texts, free calls and the release text.
#include <cstdlib>
#include <cstring>

#include "api_dispatch.h"

using namespace koruhv;

namespace {

constexpr const char *kConnectionFailed = " Connection failed ";
constexpr int kBad = KORUHV_ERR_BAD_ARGUMENT;

// Total number of slot words in a composition (all crates).
size_t compositionSlots(uint8_t crateCount, const uint16_t *crateWords)
{
    size_t n = 0;
    for (unsigned c = 0; crateWords && c < crateCount; ++c)
        n += crateWords[c] & 0xFFu;
    return n;
}

const char *errorText(const BackendOps &ops, const BackendRef &ref)
{
    if (!ops.GetError)
        return "";
    const bool lock = ops.requestLockOps & opBit(OP_GET_ERROR);
    SystemSlot *s = Sys_Slot(ref.slot);
    if (lock)
        TicketLock_Acquire(&s->requestLock);
    const char *t = ops.GetError(ref);
    if (lock)
        TicketLock_Release(&s->requestLock);
    return t ? t : "";
}

} // namespace

extern "C" int KORUHV_GetCrateMap(int handle, unsigned short *slotCount, unsigned short **channelCounts,
                                  char **models, char **descriptions, unsigned **serialNumbers,
                                  unsigned char **firmwareMinors, unsigned char **firmwareMajors)
{
    if (!slotCount || !channelCounts || !models || !descriptions || !serialNumbers || !firmwareMinors ||
        !firmwareMajors)
        return kBad;
    return Api_InSlot(handle, [&](const BackendOps &ops, const BackendRef &ref) {
        int rc = Api_Call(ops, ref, OP_GET_CRATE_MAP, ops.GetCrateMap, slotCount, models, descriptions,
                          serialNumbers, firmwareMinors, firmwareMajors);
        if (rc != 0)
            return rc;
        uint8_t crateCount = 0;
        uint16_t *crateWords = nullptr;
        uint32_t *slotWords = nullptr;
        rc = Api_Call(ops, ref, OP_GET_SYS_COMP, ops.GetSysComp, &crateCount, &crateWords, &slotWords);
        if (rc != 0)
            return rc;

        // The list is sized by the slot count the caller reads; entries come
        // from the composition as far as it reaches.
        const size_t total = compositionSlots(crateCount, crateWords);
        const bool allCrates = ops.flags & BACKEND_CRATE_MAP_ALL_CRATES;
        const size_t known = allCrates ? total : (crateCount && crateWords ? (crateWords[0] & 0xFFu) : 0);
        const size_t n = *slotCount;
        auto *counts = static_cast<unsigned short *>(std::calloc(n ? n : 1, sizeof(unsigned short)));
        if (!counts) {
            std::free(crateWords);
            std::free(slotWords);
            return int(KORUHV_ERR_NO_MEMORY);
        }
        for (size_t k = 0; k < n && k < known && slotWords; ++k) {
            counts[k] = static_cast<unsigned short>(slotWords[k] & 0xFFFFu);
            if (ops.SizeSubscriptionStore && ops.SizeSubscriptionStore(ref, int(k), counts[k]) != 0) {
                std::free(counts);
                std::free(crateWords);
                std::free(slotWords);
                return int(KORUHV_ERR_NO_MEMORY);
            }
        }
        std::free(crateWords);
        std::free(slotWords);
        // The rack supply's last slot is not a board.
        if (allCrates && *slotCount > 0)
            --*slotCount;
        *channelCounts = counts;
        return 0;
    });
}

extern "C" int KORUHV_GetSysPropList(int handle, unsigned short *propertyCount, char **propertyNames)
{
    if (!propertyCount || !propertyNames)
        return kBad;
    return Api_Forward<&BackendOps::GetSysPropList>(handle, OP_GET_SYS_PROP_LIST, propertyCount,
                                                    propertyNames);
}

extern "C" int KORUHV_GetSysPropInfo(int handle, const char *propertyName, unsigned *propertyMode,
                                     unsigned *propertyType)
{
    if (!propertyName || !propertyMode || !propertyType)
        return kBad;
    return Api_Forward<&BackendOps::GetSysPropInfo>(handle, OP_GET_SYS_PROP_INFO, propertyName, propertyMode,
                                                    propertyType);
}

extern "C" int KORUHV_GetSysProp(int handle, const char *propertyName, void *result)
{
    if (!propertyName || !result)
        return kBad;
    return Api_Forward<&BackendOps::GetSysProp>(handle, OP_GET_SYS_PROP, propertyName, result);
}

extern "C" int KORUHV_SetSysProp(int handle, const char *propertyName, void *value)
{
    if (!propertyName || !value)
        return kBad;
    return Api_Forward<&BackendOps::SetSysProp>(handle, OP_SET_SYS_PROP, propertyName, value);
}

extern "C" int KORUHV_GetBdParam(int handle, unsigned short slotCount, const unsigned short *slots,
                                 const char *parameterName, void *values)
{
    if ((slotCount && !slots) || !parameterName || !values)
        return kBad;
    return Api_Forward<&BackendOps::GetBdParam>(handle, OP_GET_BD_PARAM, uint16_t(slotCount), slots,
                                                parameterName, values);
}

extern "C" int KORUHV_SetBdParam(int handle, unsigned short slotCount, const unsigned short *slots,
                                 const char *parameterName, void *value)
{
    if ((slotCount && !slots) || !parameterName || !value)
        return kBad;
    return Api_Forward<&BackendOps::SetBdParam>(handle, OP_SET_BD_PARAM, uint16_t(slotCount), slots,
                                                parameterName, value);
}

extern "C" int KORUHV_GetBdParamProp(int handle, unsigned short slot, const char *parameterName,
                                     const char *propertyName, void *result)
{
    if (!parameterName || !propertyName || !result)
        return kBad;
    return Api_Forward<&BackendOps::GetBdParamProp>(handle, OP_GET_BD_PARAM_PROP, uint16_t(slot),
                                                    parameterName, propertyName, result);
}

extern "C" int KORUHV_GetBdParamInfo(int handle, unsigned short slot, char **parameterNames)
{
    if (!parameterNames)
        return kBad;
    return Api_Forward<&BackendOps::GetBdParamInfo>(handle, OP_GET_BD_PARAM_INFO, uint16_t(slot),
                                                    parameterNames);
}

extern "C" int KORUHV_TestBdPresence(int handle, unsigned short slot, unsigned short *channelCount,
                                     char **model, char **description, unsigned short *serialNumber,
                                     unsigned char *firmwareMinor, unsigned char *firmwareMajor)
{
    if (!model || !description || *model || *description || !channelCount || !serialNumber ||
        !firmwareMinor || !firmwareMajor)
        return kBad;
    if (!Sys_Slot(handle))
        return kBad;
    char *m = static_cast<char *>(std::calloc(1, KORUHV_BOARD_TEXT_SIZE));
    char *d = static_cast<char *>(std::calloc(1, KORUHV_BOARD_TEXT_SIZE));
    if (!m || !d) {
        std::free(m);
        std::free(d);
        return int(KORUHV_ERR_NO_MEMORY);
    }
    const int rc = Api_InSlot(handle, [&](const BackendOps &ops, const BackendRef &ref) {
        int r = Api_Call(ops, ref, OP_TEST_BD_PRESENCE, ops.TestBdPresence, uint16_t(slot), m, d,
                         serialNumber, firmwareMinor, firmwareMajor);
        m[KORUHV_BOARD_TEXT_SIZE - 1] = '\0';
        d[KORUHV_BOARD_TEXT_SIZE - 1] = '\0';
        if (r != 0)
            return r;
        uint8_t crateCount = 0;
        uint16_t *crateWords = nullptr;
        uint32_t *slotWords = nullptr;
        r = Api_Call(ops, ref, OP_GET_SYS_COMP, ops.GetSysComp, &crateCount, &crateWords, &slotWords);
        if (r != 0)
            return r;
        // Only a slot the composition has a word for.
        if (slotWords && slot < compositionSlots(crateCount, crateWords))
            *channelCount = static_cast<unsigned short>(slotWords[slot] & 0xFFFFu);
        else
            r = kBad;
        std::free(crateWords);
        std::free(slotWords);
        return r;
    });
    if (rc != 0) {
        std::free(m);
        std::free(d);
        return rc;
    }
    *model = m;
    *description = d;
    return 0;
}

extern "C" int KORUHV_GetChParamProp(int handle, unsigned short slot, unsigned short channel,
                                     const char *parameterName, const char *propertyName, void *result)
{
    if (!parameterName || !propertyName || !result)
        return kBad;
    return Api_Forward<&BackendOps::GetChParamProp>(handle, OP_GET_CH_PARAM_PROP, uint16_t(slot),
                                                    uint16_t(channel), parameterName, propertyName, result);
}

extern "C" int KORUHV_GetChParamInfo(int handle, unsigned short slot, unsigned short channel,
                                     char **parameterNames, int *parameterCount)
{
    if (!parameterNames || !parameterCount)
        return kBad;
    return Api_Forward<&BackendOps::GetChParamInfo>(handle, OP_GET_CH_PARAM_INFO, uint16_t(slot),
                                                    uint16_t(channel), parameterNames, parameterCount);
}

extern "C" int KORUHV_GetChName(int handle, unsigned short slot, unsigned short channelCount,
                                const unsigned short *channels, char names[][KORUHV_CHANNEL_NAME_SIZE])
{
    if ((channelCount && (!channels || !names)))
        return kBad;
    return Api_InSlot(handle, [&](const BackendOps &ops, const BackendRef &ref) {
        const int rc = Api_Call(ops, ref, OP_GET_CH_NAME, ops.GetChName, uint16_t(slot),
                                uint16_t(channelCount), channels, names);
        // Every entry the backend filled stays a terminated text of at most
        // 11 characters.
        if (ops.GetChName)
            for (unsigned i = 0; i < channelCount; ++i)
                names[i][KORUHV_CHANNEL_NAME_SIZE - 1] = '\0';
        return rc;
    });
}

extern "C" int KORUHV_SetChName(int handle, unsigned short slot, unsigned short channelCount,
                                const unsigned short *channels, const char *name)
{
    if ((channelCount && !channels) || !name)
        return kBad;
    return Api_Forward<&BackendOps::SetChName>(handle, OP_SET_CH_NAME, uint16_t(slot), uint16_t(channelCount),
                                               channels, name);
}

extern "C" int KORUHV_GetChParam(int handle, unsigned short slot, const char *parameterName,
                                 unsigned short channelCount, const unsigned short *channels, void *values)
{
    if (!parameterName || (channelCount && !channels) || !values)
        return kBad;
    return Api_Forward<&BackendOps::GetChParam>(handle, OP_GET_CH_PARAM, uint16_t(slot), parameterName,
                                                uint16_t(channelCount), channels, values);
}

extern "C" int KORUHV_SetChParam(int handle, unsigned short slot, const char *parameterName,
                                 unsigned short channelCount, const unsigned short *channels, void *value)
{
    if (!parameterName || (channelCount && !channels) || !value)
        return kBad;
    return Api_Forward<&BackendOps::SetChParam>(handle, OP_SET_CH_PARAM, uint16_t(slot), parameterName,
                                                uint16_t(channelCount), channels, value);
}

extern "C" int KORUHV_GetExecCommList(int handle, unsigned short *commandCount, char **commandNames)
{
    if (!commandCount || !commandNames)
        return kBad;
    return Api_Forward<&BackendOps::GetExecCommList>(handle, OP_GET_EXEC_COMM_LIST, commandCount,
                                                     commandNames);
}

extern "C" int KORUHV_ExecComm(int handle, const char *commandName)
{
    if (!commandName)
        return kBad;
    return Api_Forward<&BackendOps::ExecComm>(handle, OP_EXEC_COMM, commandName);
}

extern "C" int KORUHV_Subscribe(int handle, short port, unsigned short itemCount, const char *items,
                                char *results)
{
    if (!items || !results)
        return kBad;
    return Api_Forward<&BackendOps::Subscribe>(handle, OP_SUBSCRIBE, port, uint16_t(itemCount), items,
                                               results);
}

extern "C" int KORUHV_UnSubscribe(int handle, short port, unsigned short itemCount, const char *items,
                                  char *results)
{
    if (!items || !results)
        return kBad;
    return Api_Forward<&BackendOps::UnSubscribe>(handle, OP_UNSUBSCRIBE, port, uint16_t(itemCount), items,
                                                 results);
}

extern "C" const char *KORUHV_GetError(int handle)
{
    const char *text = kConnectionFailed;
    Api_InSlot(handle, [&](const BackendOps &ops, const BackendRef &ref) {
        text = errorText(ops, ref);
        return 0;
    });
    return text;
}

extern "C" const char *KORUHVGetError(const char *systemName)
{
    const int i = Sys_FindByName(systemName);
    if (i >= kMaxSystems)
        return kConnectionFailed;
    const char *text = kConnectionFailed;
    Api_InSlot(i, [&](const BackendOps &ops, const BackendRef &ref) {
        // The slot may have been closed and reopened in between.
        Sys_LockNames();
        const bool same = std::strncmp(Sys_Slot(i)->name, systemName, kSlotTextSize) == 0;
        Sys_UnlockNames();
        if (same)
            text = errorText(ops, ref);
        return 0;
    });
    return text;
}

extern "C" int KORUHV_Free(void *p)
{
    std::free(p);
    return 0;
}

extern "C" int KORUHV_FreeEventData(EventRecord **events)
{
    if (events && *events) {
        std::free(*events);
        *events = nullptr;
    }
    return 0;
}

extern "C" int KORUHVFreeEventData(OldEventRecord **events)
{
    if (events && *events) {
        std::free(*events);
        *events = nullptr;
    }
    return 0;
}

extern "C" const char *KORUHVLibSwRel(void)
{
    return "7.0.0";
}
