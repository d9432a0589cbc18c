/* The KORUHV_* functions of the fake wrapper: each records its call, then
 * answers from the scripted systems (FakeWrapper.h). */
#include "FakeWrapper.h"
#include "FakeWrapperState.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace fakehv {

namespace {

using internal::state;

/* Longest text a fake reads from a caller's pointer. */
constexpr size_t maxText = 8192;

std::string textAt(const void *p)
{
    if (!p)
        return std::string();
    const char *c = static_cast<const char *>(p);
    return std::string(c, strnlen(c, maxText));
}

Raw bytesAt(const void *p, size_t n)
{
    Raw r;
    if (p) {
        const auto *c = static_cast<const unsigned char *>(p);
        r.bytes.assign(c, c + n);
    }
    return r;
}

Raw textRawAt(const void *p)
{
    return Raw::text(textAt(p));
}

void copyOut(const Raw &r, void *dst, size_t limit = SIZE_MAX)
{
    if (dst && !r.bytes.empty())
        std::memcpy(dst, r.bytes.data(), std::min(r.bytes.size(), limit));
}

/* A parameter's value into a caller's cell: a text whole (as the real
 * wrapper does), anything else at most the 4-byte cell. */
void copyParameterOut(const Param &p, void *dst)
{
    copyOut(p.value, dst, p.type == 5 ? SIZE_MAX : 4);
}

/* Bytes of a parameter write: a text for string parameters, a 4-byte cell
 * otherwise. */
Raw parameterValueAt(const Param &p, const void *value)
{
    return p.type == 5 ? textRawAt(value) : bytesAt(value, 4);
}

Call &record(const char *function, int handle)
{
    Call c;
    c.function = function;
    c.handle = handle;
    state().calls.push_back(c);
    return state().calls.back();
}

System *openSystem(int handle)
{
    internal::State &s = state();
    if (handle < 0 || handle >= static_cast<int>(s.systems.size()) || !s.systems[handle].open)
        return nullptr;
    return &s.systems[handle].script;
}

/* The start of every call on a handle: the call recorded (its fields are
 * filled in through call), then its system looked up. decided() holds the
 * code when a closed handle or a forced code ends the call before any
 * scripted item decides; sys is the open system otherwise. */
class Entry {
public:
    Entry(const char *function, int handle) : call(record(function, handle)), sys(openSystem(handle))
    {
        if (!sys) {
            decided_ = KORUHV_ERR_NOT_OPEN;
            return;
        }
        auto it = sys->codes.find(function);
        if (it != sys->codes.end())
            decided_ = it->second;
    }
    /* The count and items of a slot or channel list. */
    void list(unsigned count, const unsigned short *items)
    {
        call.count = count;
        if (items)
            call.list.assign(items, items + count);
    }
    const std::optional<int> &decided() const { return decided_; }

    Call &call;
    System *const sys;

private:
    std::optional<int> decided_;
};

Board *boardAt(System *sys, unsigned short slot)
{
    if (slot >= sys->crate.size() || sys->crate[slot].channelCount == 0)
        return nullptr;
    return &sys->crate[slot];
}

Channel *channelAt(System *sys, unsigned short slot, unsigned short channel)
{
    Board *b = boardAt(sys, slot);
    if (!b || channel >= b->channels.size())
        return nullptr;
    return &b->channels[channel];
}

/* The parameter of a listed board or channel, or null. */
Param *boardParam(System *sys, unsigned short slot, const std::string &name)
{
    Board *b = boardAt(sys, slot);
    return b ? b->find(name) : nullptr;
}

Param *channelParam(System *sys, unsigned short slot, unsigned short channel, const std::string &name)
{
    Channel *ch = channelAt(sys, slot, channel);
    return ch ? ch->find(name) : nullptr;
}

/* Reads the i-th listed item's parameter (find(i)) into the i-th 4-byte
 * cell; the first unknown item or scripted code ends it. */
template <typename Find> int readCells(unsigned count, void *values, Find find)
{
    auto *out = static_cast<unsigned char *>(values);
    for (unsigned i = 0; i < count; ++i) {
        Param *p = find(i);
        if (!p)
            return UNKNOWN_ITEM;
        if (p->getCode)
            return p->getCode;
        copyParameterOut(*p, out + 4 * i);
    }
    return 0;
}

/* Writes value to each listed item's parameter, the bytes recorded with the
 * call (read by the parameter's type); the first unknown item or scripted
 * code ends it. */
template <typename Find> int writeEach(Call &c, unsigned count, const void *value, Find find)
{
    for (unsigned i = 0; i < count; ++i) {
        Param *p = find(i);
        if (!p)
            return UNKNOWN_ITEM;
        c.value = parameterValueAt(*p, value);
        if (p->setCode)
            return p->setCode;
        p->value = c.value;
    }
    return 0;
}

char *mallocBlock(const std::vector<std::string> &texts)
{
    size_t size = 0;
    for (const auto &t : texts)
        size += t.size() + 1;
    char *block = static_cast<char *>(std::calloc(size ? size : 1, 1));
    char *p = block;
    for (const auto &t : texts) {
        std::memcpy(p, t.data(), t.size());
        p += t.size() + 1;
    }
    return block;
}

/* Names in 10-byte cells, followed by one empty cell. */
char *mallocNameCells(const std::vector<NamedParam> &params)
{
    char *cells = static_cast<char *>(std::calloc(params.size() + 1, 10));
    for (size_t i = 0; i < params.size(); ++i)
        std::strncpy(cells + 10 * i, params[i].first.c_str(), 9);
    return cells;
}

/* A property of a parameter (null: an unknown item). "Type" and "Mode" are
 * answered from the parameter unless scripted. */
int readProperty(const Param *p, const std::string &property, void *result)
{
    if (!p)
        return UNKNOWN_ITEM;
    auto code = p->propCodes.find(property);
    if (code != p->propCodes.end() && code->second != 0)
        return code->second;
    auto it = p->props.find(property);
    if (it != p->props.end()) {
        copyOut(it->second, result);
        return 0;
    }
    if (property == "Type") {
        copyOut(Raw::u32(p->type), result);
        return 0;
    }
    if (property == "Mode") {
        copyOut(Raw::u32(p->mode), result);
        return 0;
    }
    return UNKNOWN_ITEM;
}

int subscribeCommon(const char *function, int handle, short port, int slot, int channel, const char *names,
                    unsigned count, char *results)
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    Entry e(function, handle);
    Call &c = e.call;
    c.port = port;
    c.slot = slot;
    c.channel = channel;
    c.items = textAt(names);
    c.count = count;
    if (e.decided())
        return *e.decided();
    if (results) {
        std::memset(results, 0, count);
        /* Names in order: a refused one gets a non-zero byte. */
        std::string all = c.items;
        size_t pos = 0;
        for (unsigned i = 0; i < count; ++i) {
            const size_t end = all.find(':', pos);
            const std::string name =
                all.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            for (const auto &r : e.sys->refusedSubscriptions)
                if (r == name)
                    results[i] = 1;
            if (end == std::string::npos)
                break;
            pos = end + 1;
        }
    }
    return 0;
}

template <typename T> int freeAndClear(T **p)
{
    if (p) {
        std::free(*p);
        *p = nullptr;
    }
    return 0;
}

} // namespace

} // namespace fakehv

using namespace fakehv;
using fakehv::internal::state;

#define FAKE_LOCK std::lock_guard<std::recursive_mutex> guard(state().lock)

extern "C" {

int KORUHV_InitSystem(int systemType, int linkType, void *address, const char *user, const char *password,
                      int *handle)
{
    FAKE_LOCK;
    Call &c = record(__func__, -1);
    c.systemType = systemType;
    c.linkType = linkType;
    c.address = textAt(address);
    c.user = textAt(user);
    c.password = textAt(password);
    System sys;
    int code = 0;
    if (!state().pendingInits.empty()) {
        sys = state().pendingInits.front().first;
        code = state().pendingInits.front().second;
        state().pendingInits.pop_front();
    }
    if (code != 0)
        return code;
    const int h = addSystem(sys);
    if (handle)
        *handle = h;
    return 0;
}

int KORUHV_DeinitSystem(int handle)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    if (e.decided())
        return *e.decided();
    state().systems[handle].open = false;
    return 0;
}

int KORUHV_GetCrateMap(int handle, unsigned short *slotCount, unsigned short **channelCounts, char **models,
                       char **descriptions, unsigned **serialNumbers, unsigned char **firmwareMinors,
                       unsigned char **firmwareMajors)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    if (e.decided())
        return *e.decided();
    System *sys = e.sys;
    if (sys->crateMapCode)
        return sys->crateMapCode;
    const size_t n = sys->crate.size();
    std::vector<std::string> modelTexts, descriptionTexts;
    auto *counts = static_cast<unsigned short *>(std::calloc(n ? n : 1, sizeof(unsigned short)));
    auto *serials = static_cast<unsigned *>(std::calloc(n ? n : 1, sizeof(unsigned)));
    auto *minors = static_cast<unsigned char *>(std::calloc(n ? n : 1, 1));
    auto *majors = static_cast<unsigned char *>(std::calloc(n ? n : 1, 1));
    for (size_t i = 0; i < n; ++i) {
        const Board &b = sys->crate[i];
        counts[i] = b.channelCount;
        serials[i] = b.serial;
        minors[i] = b.fwMinor;
        majors[i] = b.fwMajor;
        modelTexts.push_back(b.model);
        descriptionTexts.push_back(b.description);
    }
    *slotCount = static_cast<unsigned short>(n);
    *channelCounts = counts;
    *models = mallocBlock(modelTexts);
    *descriptions = mallocBlock(descriptionTexts);
    *serialNumbers = serials;
    *firmwareMinors = minors;
    *firmwareMajors = majors;
    return 0;
}

int KORUHV_GetSysPropList(int handle, unsigned short *propertyCount, char **propertyNames)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    if (e.decided())
        return *e.decided();
    if (e.sys->propListCode)
        return e.sys->propListCode;
    std::vector<std::string> names;
    for (const auto &p : e.sys->props)
        names.push_back(p.first);
    *propertyCount = static_cast<unsigned short>(names.size());
    *propertyNames = mallocBlock(names);
    return 0;
}

int KORUHV_GetSysPropInfo(int handle, const char *propertyName, unsigned *propertyMode,
                          unsigned *propertyType)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.name = textAt(propertyName);
    if (e.decided())
        return *e.decided();
    SysProp *p = e.sys->findProp(e.call.name);
    if (!p)
        return UNKNOWN_ITEM;
    if (p->infoCode)
        return p->infoCode;
    *propertyMode = p->mode;
    *propertyType = p->type;
    return 0;
}

int KORUHV_GetSysProp(int handle, const char *propertyName, void *result)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.name = textAt(propertyName);
    if (e.decided())
        return *e.decided();
    if (e.call.name == "EventDataSocket" && e.sys->eventDataSocket >= 0) {
        copyOut(Raw::i32(e.sys->eventDataSocket), result);
        return 0;
    }
    SysProp *p = e.sys->findProp(e.call.name);
    if (!p)
        return UNKNOWN_ITEM;
    if (p->getCode)
        return p->getCode;
    /* Like the real wrapper: a text whole, a number into the 8-byte cell. */
    copyOut(p->value, result, p->type == SYSPROP_TEXT ? SIZE_MAX : 8);
    return 0;
}

int KORUHV_SetSysProp(int handle, const char *propertyName, void *value)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    Call &c = e.call;
    c.name = textAt(propertyName);
    if (e.decided())
        return *e.decided();
    SysProp *p = e.sys->findProp(c.name);
    if (!p)
        return UNKNOWN_ITEM;
    if (p->type == SYSPROP_TEXT)
        c.value = textRawAt(value);
    else if (p->type == SYSPROP_U16 || p->type == SYSPROP_I16 || p->type == SYSPROP_ONOFF)
        c.value = bytesAt(value, 2);
    else
        c.value = bytesAt(value, 4);
    if (p->setCode)
        return p->setCode;
    p->value = c.value;
    return 0;
}

int KORUHV_GetBdParam(int handle, unsigned short slotCount, const unsigned short *slotList,
                      const char *parameterName, void *values)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.name = textAt(parameterName);
    e.list(slotCount, slotList);
    if (e.decided())
        return *e.decided();
    return readCells(slotCount, values,
                     [&](unsigned i) { return boardParam(e.sys, slotList[i], e.call.name); });
}

int KORUHV_SetBdParam(int handle, unsigned short slotCount, const unsigned short *slotList,
                      const char *parameterName, void *value)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.name = textAt(parameterName);
    e.list(slotCount, slotList);
    if (e.decided())
        return *e.decided();
    return writeEach(e.call, slotCount, value,
                     [&](unsigned i) { return boardParam(e.sys, slotList[i], e.call.name); });
}

int KORUHV_GetBdParamProp(int handle, unsigned short slot, const char *parameterName,
                          const char *propertyName, void *result)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    Call &c = e.call;
    c.slot = slot;
    c.name = textAt(parameterName);
    c.property = textAt(propertyName);
    if (e.decided())
        return *e.decided();
    return readProperty(boardParam(e.sys, slot, c.name), c.property, result);
}

int KORUHV_GetBdParamInfo(int handle, unsigned short slot, char **parameterNames)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.slot = slot;
    if (e.decided())
        return *e.decided();
    Board *b = boardAt(e.sys, slot);
    if (!b)
        return UNKNOWN_ITEM;
    if (b->paramInfoCode)
        return b->paramInfoCode;
    *parameterNames = mallocNameCells(b->params);
    return 0;
}

int KORUHV_TestBdPresence(int handle, unsigned short slot, unsigned short *channelCount, char **model,
                          char **description, unsigned short *serialNumber, unsigned char *firmwareMinor,
                          unsigned char *firmwareMajor)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.slot = slot;
    if (e.decided())
        return *e.decided();
    Board *b = boardAt(e.sys, slot);
    if (!b)
        return UNKNOWN_ITEM;
    if (b->presenceCode)
        return b->presenceCode;
    *channelCount = b->channelCount;
    *model = static_cast<char *>(std::calloc(KORUHV_BOARD_TEXT_SIZE, 1));
    *description = static_cast<char *>(std::calloc(KORUHV_BOARD_TEXT_SIZE, 1));
    std::strncpy(*model, b->model.c_str(), KORUHV_BOARD_TEXT_SIZE - 1);
    std::strncpy(*description, b->description.c_str(), KORUHV_BOARD_TEXT_SIZE - 1);
    *serialNumber = static_cast<unsigned short>(b->serial);
    *firmwareMinor = b->fwMinor;
    *firmwareMajor = b->fwMajor;
    return 0;
}

int KORUHV_GetChParamProp(int handle, unsigned short slot, unsigned short channel, const char *parameterName,
                          const char *propertyName, void *result)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    Call &c = e.call;
    c.slot = slot;
    c.channel = channel;
    c.name = textAt(parameterName);
    c.property = textAt(propertyName);
    if (e.decided())
        return *e.decided();
    return readProperty(channelParam(e.sys, slot, channel, c.name), c.property, result);
}

int KORUHV_GetChParamInfo(int handle, unsigned short slot, unsigned short channel, char **parameterNames,
                          int *parameterCount)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.slot = slot;
    e.call.channel = channel;
    if (e.decided())
        return *e.decided();
    Channel *ch = channelAt(e.sys, slot, channel);
    if (!ch)
        return UNKNOWN_ITEM;
    if (ch->paramInfoCode)
        return ch->paramInfoCode;
    *parameterNames = mallocNameCells(ch->params);
    *parameterCount = static_cast<int>(ch->params.size());
    return 0;
}

int KORUHV_GetChName(int handle, unsigned short slot, unsigned short channelCount,
                     const unsigned short *channels, char names[][KORUHV_CHANNEL_NAME_SIZE])
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.slot = slot;
    e.list(channelCount, channels);
    if (e.decided())
        return *e.decided();
    for (unsigned i = 0; i < channelCount; ++i) {
        Channel *ch = channelAt(e.sys, slot, channels[i]);
        if (!ch)
            return UNKNOWN_ITEM;
        if (ch->nameCode)
            return ch->nameCode;
        std::memset(names[i], 0, KORUHV_CHANNEL_NAME_SIZE);
        std::strncpy(names[i], ch->name.c_str(), KORUHV_CHANNEL_NAME_SIZE - 1);
    }
    return 0;
}

int KORUHV_SetChName(int handle, unsigned short slot, unsigned short channelCount,
                     const unsigned short *channels, const char *name)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    Call &c = e.call;
    c.slot = slot;
    e.list(channelCount, channels);
    c.name = textAt(name);
    c.value = Raw::text(c.name);
    if (e.decided())
        return *e.decided();
    for (unsigned i = 0; i < channelCount; ++i) {
        Channel *ch = channelAt(e.sys, slot, channels[i]);
        if (!ch)
            return UNKNOWN_ITEM;
        if (ch->setNameCode)
            return ch->setNameCode;
        ch->name = c.name;
    }
    return 0;
}

int KORUHV_GetChParam(int handle, unsigned short slot, const char *parameterName, unsigned short channelCount,
                      const unsigned short *channels, void *values)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.slot = slot;
    e.call.name = textAt(parameterName);
    e.list(channelCount, channels);
    if (e.decided())
        return *e.decided();
    return readCells(channelCount, values,
                     [&](unsigned i) { return channelParam(e.sys, slot, channels[i], e.call.name); });
}

int KORUHV_SetChParam(int handle, unsigned short slot, const char *parameterName, unsigned short channelCount,
                      const unsigned short *channels, void *value)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.slot = slot;
    e.call.name = textAt(parameterName);
    e.list(channelCount, channels);
    if (e.decided())
        return *e.decided();
    return writeEach(e.call, channelCount, value,
                     [&](unsigned i) { return channelParam(e.sys, slot, channels[i], e.call.name); });
}

int KORUHV_GetExecCommList(int handle, unsigned short *commandCount, char **commandNames)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    if (e.decided())
        return *e.decided();
    *commandCount = static_cast<unsigned short>(e.sys->commands.size());
    *commandNames = mallocBlock(e.sys->commands);
    return 0;
}

int KORUHV_ExecComm(int handle, const char *commandName)
{
    FAKE_LOCK;
    Entry e(__func__, handle);
    e.call.name = textAt(commandName);
    if (e.decided())
        return *e.decided();
    auto it = e.sys->commandCodes.find(e.call.name);
    return it != e.sys->commandCodes.end() ? it->second : 0;
}

int KORUHV_Subscribe(int handle, short port, unsigned short itemCount, const char *items, char *results)
{
    return subscribeCommon(__func__, handle, port, -1, -1, items, itemCount, results);
}

int KORUHV_UnSubscribe(int handle, short port, unsigned short itemCount, const char *items, char *results)
{
    return subscribeCommon(__func__, handle, port, -1, -1, items, itemCount, results);
}

int KORUHV_SubscribeSystemParams(int handle, short port, const char *paramNames, unsigned paramCount,
                                 char *results)
{
    return subscribeCommon(__func__, handle, port, -1, -1, paramNames, paramCount, results);
}

int KORUHV_SubscribeBoardParams(int handle, short port, unsigned short slot, const char *paramNames,
                                unsigned paramCount, char *results)
{
    return subscribeCommon(__func__, handle, port, slot, -1, paramNames, paramCount, results);
}

int KORUHV_SubscribeChannelParams(int handle, short port, unsigned short slot, unsigned short channel,
                                  const char *paramNames, unsigned paramCount, char *results)
{
    return subscribeCommon(__func__, handle, port, slot, channel, paramNames, paramCount, results);
}

int KORUHV_UnSubscribeSystemParams(int handle, short port, const char *paramNames, unsigned paramCount,
                                   char *results)
{
    return subscribeCommon(__func__, handle, port, -1, -1, paramNames, paramCount, results);
}

int KORUHV_UnSubscribeBoardParams(int handle, short port, unsigned short slot, const char *paramNames,
                                  unsigned paramCount, char *results)
{
    return subscribeCommon(__func__, handle, port, slot, -1, paramNames, paramCount, results);
}

int KORUHV_UnSubscribeChannelParams(int handle, short port, unsigned short slot, unsigned short channel,
                                    const char *paramNames, unsigned paramCount, char *results)
{
    return subscribeCommon(__func__, handle, port, slot, channel, paramNames, paramCount, results);
}

int KORUHV_GetEventData(int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events, int *count)
{
    FAKE_LOCK;
    record(__func__, -1).port = static_cast<short>(socket);
    if (events)
        *events = nullptr;
    if (count)
        *count = 0;
    auto it = state().events.find(socket);
    if (it == state().events.end() || it->second.empty())
        return KORUHV_ERR_NO_EVENT_READER;
    internal::EventBatch batch = it->second.front();
    it->second.pop_front();
    if (batch.failure)
        return batch.failure;
    if (status)
        *status = batch.status;
    const size_t n = batch.events.size();
    auto *array = static_cast<EventRecord *>(std::calloc(n ? n : 1, sizeof(EventRecord)));
    if (n)
        std::memcpy(array, batch.events.data(), n * sizeof(EventRecord));
    *events = array;
    *count = static_cast<int>(n);
    return 0;
}

int KORUHV_FreeEventData(EventRecord **events)
{
    return freeAndClear(events);
}

int KORUHVGetEventData(int, OldEventRecord **events, int *count)
{
    if (events)
        *events = nullptr;
    if (count)
        *count = 0;
    return KORUHV_ERR_NO_EVENT_READER;
}

int KORUHVFreeEventData(OldEventRecord **events)
{
    return freeAndClear(events);
}

int KORUHV_Free(void *p)
{
    std::free(p);
    return 0;
}

const char *KORUHV_GetError(int handle)
{
    FAKE_LOCK;
    System *sys = openSystem(handle);
    return sys ? sys->errorText.c_str() : "";
}

const char *KORUHVGetError(const char *)
{
    return "";
}

const char *KORUHVLibSwRel(void)
{
    return "fake";
}

} // extern "C"
