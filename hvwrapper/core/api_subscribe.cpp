// Level subscriptions: parameter names of one level (system, board,
// channel) turned into item names and handed to the family's Subscribe or
// UnSubscribe as one ':'-joined list.
#include <cstdlib>
#include <cstring>

#include "api_dispatch.h"
#include "api_subscribe.h"
#include "item_name.h"

using namespace koruhv;

namespace {

constexpr size_t kWorkBufferSize = 8192;
constexpr size_t kNameBufferSize = 64;
constexpr size_t kItemBufferSize = kSlotTextSize + kNameBufferSize + 32;

int slotState(int handle)
{
    return Api_InSlot(handle, [](const BackendOps &, const BackendRef &) { return 0; });
}

} // namespace

namespace koruhv {

int SubscribeParamsByLevel(int handle, short port, uint16_t slot, uint16_t channel, const char *paramNames,
                           unsigned paramCount, char *results, int level, bool subscribe)
{
    if (const int rc = slotState(handle); rc != 0)
        return rc;
    if (paramCount == 0 || !paramNames || !results)
        return KORUHV_ERR_BAD_ARGUMENT;
    // The whole list and every name are checked before anything is sent.
    const size_t len = strnlen(paramNames, kWorkBufferSize);
    if (len >= kWorkBufferSize)
        return KORUHV_ERR_BAD_ARGUMENT;
    char work[kWorkBufferSize];
    std::memcpy(work, paramNames, len + 1);

    char systemName[kSlotTextSize];
    Sys_LockNames();
    std::memcpy(systemName, Sys_Slot(handle)->name, sizeof systemName);
    Sys_UnlockNames();
    systemName[kSlotTextSize - 1] = '\0';

    // Names one after another as terminated texts inside work.
    const char *names[kWorkBufferSize / 2 + 1];
    unsigned n = 0;
    if (paramCount == 1) {
        names[n++] = work; // one name: the whole text
    } else {
        char *cursor = nullptr;
        for (char *t = NextToken(work, ":", &cursor); t && n < paramCount;
             t = NextToken(nullptr, ":", &cursor))
            names[n++] = t;
        if (n < paramCount)
            return KORUHV_ERR_BAD_ARGUMENT; // fewer names than announced
    }
    for (unsigned i = 0; i < n; ++i)
        if (std::strlen(names[i]) >= kNameBufferSize)
            return KORUHV_ERR_BAD_ARGUMENT;

    char *list = nullptr;
    size_t used = 0;
    unsigned items = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (level == LEVEL_SYSTEM &&
            (std::strcmp(names[i], "KeepAlive") == 0 || std::strcmp(names[i], "LiveInsertion") == 0))
            continue; // pseudo-parameters of the program, never subscribed by name
        char item[kItemBufferSize];
        const int w = WriteItemName(item, sizeof item, level, systemName, slot, channel, names[i]);
        if (w < 0) {
            std::free(list);
            return KORUHV_ERR_BAD_ARGUMENT;
        }
        const size_t need = used + (items ? 1 : 0) + size_t(w) + 1;
        char *grown = static_cast<char *>(std::realloc(list, need));
        if (!grown) {
            std::free(list);
            return KORUHV_ERR_NO_MEMORY;
        }
        list = grown;
        if (items)
            list[used++] = ':';
        std::memcpy(list + used, item, size_t(w) + 1);
        used += size_t(w);
        ++items;
    }
    if (items == 0)
        return KORUHV_OK;
    const int rc = subscribe ? KORUHV_Subscribe(handle, port, uint16_t(items), list, results)
                             : KORUHV_UnSubscribe(handle, port, uint16_t(items), list, results);
    std::free(list);
    return rc;
}

} // namespace koruhv

extern "C" int KORUHV_SubscribeSystemParams(int handle, short port, const char *paramNames,
                                            unsigned paramCount, char *results)
{
    return SubscribeParamsByLevel(handle, port, 0xFFFF, 0xFFFF, paramNames, paramCount, results, LEVEL_SYSTEM,
                                  true);
}

extern "C" int KORUHV_SubscribeBoardParams(int handle, short port, unsigned short slot,
                                           const char *paramNames, unsigned paramCount, char *results)
{
    return SubscribeParamsByLevel(handle, port, slot, 0xFFFF, paramNames, paramCount, results, LEVEL_BOARD,
                                  true);
}

extern "C" int KORUHV_SubscribeChannelParams(int handle, short port, unsigned short slot,
                                             unsigned short channel, const char *paramNames,
                                             unsigned paramCount, char *results)
{
    return SubscribeParamsByLevel(handle, port, slot, channel, paramNames, paramCount, results, LEVEL_CHANNEL,
                                  true);
}

extern "C" int KORUHV_UnSubscribeSystemParams(int handle, short port, const char *paramNames,
                                              unsigned paramCount, char *results)
{
    return SubscribeParamsByLevel(handle, port, 0xFFFF, 0xFFFF, paramNames, paramCount, results, LEVEL_SYSTEM,
                                  false);
}

extern "C" int KORUHV_UnSubscribeBoardParams(int handle, short port, unsigned short slot,
                                             const char *paramNames, unsigned paramCount, char *results)
{
    return SubscribeParamsByLevel(handle, port, slot, 0xFFFF, paramNames, paramCount, results, LEVEL_BOARD,
                                  false);
}

extern "C" int KORUHV_UnSubscribeChannelParams(int handle, short port, unsigned short slot,
                                               unsigned short channel, const char *paramNames,
                                               unsigned paramCount, char *results)
{
    return SubscribeParamsByLevel(handle, port, slot, channel, paramNames, paramCount, results, LEVEL_CHANNEL,
                                  false);
}
