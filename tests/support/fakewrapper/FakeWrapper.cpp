#include "FakeWrapper.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

namespace fakehv {

namespace {

struct OpenSystem {
    System script;
    bool open = true;
};

struct EventBatch {
    std::vector<EventRecord> events;
    KORUHV_SYSTEMSTATUS_t status;
    int failure = 0; /* non-zero: the call fails with it */
};

struct State {
    std::recursive_mutex lock;
    std::vector<OpenSystem> systems;
    std::deque<std::pair<System, int>> pendingInits;
    std::map<int, std::deque<EventBatch>> events;
    std::vector<Call> calls;
};

State &state()
{
    static State s;
    return s;
}

template <typename T> Raw rawOf(T v)
{
    Raw r;
    r.bytes.resize(sizeof v);
    std::memcpy(r.bytes.data(), &v, sizeof v);
    return r;
}

template <typename T> T rawAs(const Raw &r)
{
    T v{};
    std::memcpy(&v, r.bytes.data(), std::min(sizeof v, r.bytes.size()));
    return v;
}

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
    State &s = state();
    if (handle < 0 || handle >= static_cast<int>(s.systems.size()) || !s.systems[handle].open)
        return nullptr;
    return &s.systems[handle].script;
}

/* The code of a call before any scripted item decides: closed handle or a
 * forced code. Returns true with *code set when the call stops there. */
bool early(System *sys, const char *function, int *code)
{
    if (!sys) {
        *code = KORUHV_ERR_NOT_OPEN;
        return true;
    }
    auto it = sys->codes.find(function);
    if (it != sys->codes.end()) {
        *code = it->second;
        return true;
    }
    return false;
}

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

int readProperty(const Param &p, const std::string &property, void *result)
{
    auto code = p.propCodes.find(property);
    if (code != p.propCodes.end() && code->second != 0)
        return code->second;
    auto it = p.props.find(property);
    if (it != p.props.end()) {
        copyOut(it->second, result);
        return 0;
    }
    if (property == "Type") {
        copyOut(Raw::u32(p.type), result);
        return 0;
    }
    if (property == "Mode") {
        copyOut(Raw::u32(p.mode), result);
        return 0;
    }
    return UNKNOWN_ITEM;
}

/* Bytes of a parameter write: a text for string parameters, a 4-byte cell
 * otherwise. */
Raw parameterValueAt(const Param &p, const void *value)
{
    return p.type == 5 ? textRawAt(value) : bytesAt(value, 4);
}

int subscribeCommon(const char *function, int handle, short port, int slot, int channel, const char *names,
                    unsigned count, char *results)
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    Call &c = record(function, handle);
    c.port = port;
    c.slot = slot;
    c.channel = channel;
    c.items = textAt(names);
    c.count = count;
    int code = 0;
    System *sys = openSystem(handle);
    if (early(sys, function, &code))
        return code;
    if (results) {
        std::memset(results, 0, count);
        /* Names in order: a refused one gets a non-zero byte. */
        std::string all = c.items;
        size_t pos = 0;
        for (unsigned i = 0; i < count; ++i) {
            const size_t end = all.find(':', pos);
            const std::string name =
                all.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            for (const auto &r : sys->refusedSubscriptions)
                if (r == name)
                    results[i] = 1;
            if (end == std::string::npos)
                break;
            pos = end + 1;
        }
    }
    return 0;
}

} // namespace

Raw Raw::f32(float v)
{
    return rawOf(v);
}
Raw Raw::u32(uint32_t v)
{
    return rawOf(v);
}
Raw Raw::i32(int32_t v)
{
    return rawOf(v);
}
Raw Raw::u16(uint16_t v)
{
    return rawOf(v);
}
Raw Raw::i16(int16_t v)
{
    return rawOf(v);
}

Raw Raw::text(const std::string &s)
{
    Raw r;
    r.bytes.assign(s.begin(), s.end());
    r.bytes.push_back(0);
    return r;
}

Raw Raw::enumTexts(const std::vector<std::string> &texts, size_t cellSize)
{
    Raw r;
    r.bytes.assign(texts.size() * cellSize, 0);
    for (size_t i = 0; i < texts.size(); ++i)
        std::memcpy(r.bytes.data() + i * cellSize, texts[i].data(), std::min(texts[i].size(), cellSize - 1));
    return r;
}

float Raw::asF32() const
{
    return rawAs<float>(*this);
}
uint32_t Raw::asU32() const
{
    return rawAs<uint32_t>(*this);
}
int32_t Raw::asI32() const
{
    return rawAs<int32_t>(*this);
}
uint16_t Raw::asU16() const
{
    return rawAs<uint16_t>(*this);
}
int16_t Raw::asI16() const
{
    return rawAs<int16_t>(*this);
}

std::string Raw::asText() const
{
    const auto *c = reinterpret_cast<const char *>(bytes.data());
    return std::string(c, strnlen(c, bytes.size()));
}

Param *Channel::find(const std::string &parameter)
{
    for (auto &p : params)
        if (p.first == parameter)
            return &p.second;
    return nullptr;
}

Param *Board::find(const std::string &parameter)
{
    for (auto &p : params)
        if (p.first == parameter)
            return &p.second;
    return nullptr;
}

Board &System::addBoard(unsigned short slot, unsigned short channelCount, const std::string &model,
                        uint32_t serial)
{
    if (crate.size() <= slot)
        crate.resize(slot + 1u);
    Board &b = crate[slot];
    b.channelCount = channelCount;
    b.model = model;
    b.serial = serial;
    b.channels.resize(channelCount);
    return b;
}

SysProp *System::findProp(const std::string &property)
{
    for (auto &p : props)
        if (p.first == property)
            return &p.second;
    return nullptr;
}

void reset()
{
    State &s = state();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.systems.clear();
    s.pendingInits.clear();
    s.events.clear();
    s.calls.clear();
}

int addSystem(const System &system)
{
    State &s = state();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.systems.push_back({system, true});
    return static_cast<int>(s.systems.size()) - 1;
}

System &system(int handle)
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    return state().systems.at(static_cast<size_t>(handle)).script;
}

void queueInit(const System &system, int code)
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    state().pendingInits.emplace_back(system, code);
}

void queueEvents(int socket, const std::vector<EventRecord> &events, const KORUHV_SYSTEMSTATUS_t &status)
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    state().events[socket].push_back({events, status, 0});
}

void queueEventFailure(int socket, int code)
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    state().events[socket].push_back({{}, KORUHV_SYSTEMSTATUS_t{}, code});
}

std::vector<short> announcedPorts()
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    std::vector<short> out;
    for (const auto &c : state().calls)
        if (c.function.rfind("KORUHV_Subscribe", 0) == 0)
            out.push_back(c.port);
    return out;
}

std::vector<Call> calls()
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    return state().calls;
}

std::vector<Call> callsOf(const std::string &function)
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    std::vector<Call> out;
    for (const auto &c : state().calls)
        if (c.function == function)
            out.push_back(c);
    return out;
}

void clearCalls()
{
    std::lock_guard<std::recursive_mutex> guard(state().lock);
    state().calls.clear();
}

EventRecord valueEvent(int system, int board, int channel, const std::string &name, const Raw &value)
{
    EventRecord e;
    std::memset(&e, 0, sizeof e);
    e.type = 0;
    e.system = system;
    e.board = board;
    e.channel = channel;
    std::strncpy(e.name, name.c_str(), KORUHV_EVENT_NAME_SIZE - 1);
    std::memcpy(e.value.StringValue, value.bytes.data(), std::min(value.bytes.size(), sizeof e.value));
    return e;
}

} // namespace fakehv

using namespace fakehv;

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
    record(__func__, handle);
    int code = 0;
    if (early(openSystem(handle), __func__, &code))
        return code;
    state().systems[handle].open = false;
    return 0;
}

int KORUHV_GetCrateMap(int handle, unsigned short *slotCount, unsigned short **channelCounts, char **models,
                       char **descriptions, unsigned **serialNumbers, unsigned char **firmwareMinors,
                       unsigned char **firmwareMajors)
{
    FAKE_LOCK;
    record(__func__, handle);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
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
    record(__func__, handle);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    if (sys->propListCode)
        return sys->propListCode;
    std::vector<std::string> names;
    for (const auto &p : sys->props)
        names.push_back(p.first);
    *propertyCount = static_cast<unsigned short>(names.size());
    *propertyNames = mallocBlock(names);
    return 0;
}

int KORUHV_GetSysPropInfo(int handle, const char *propertyName, unsigned *propertyMode,
                          unsigned *propertyType)
{
    FAKE_LOCK;
    Call &c = record(__func__, handle);
    c.name = textAt(propertyName);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    SysProp *p = sys->findProp(c.name);
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
    Call &c = record(__func__, handle);
    c.name = textAt(propertyName);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    if (c.name == "EventDataSocket" && sys->eventDataSocket >= 0) {
        copyOut(Raw::i32(sys->eventDataSocket), result);
        return 0;
    }
    SysProp *p = sys->findProp(c.name);
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
    Call &c = record(__func__, handle);
    c.name = textAt(propertyName);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    SysProp *p = sys->findProp(c.name);
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
    Call &c = record(__func__, handle);
    c.name = textAt(parameterName);
    c.count = slotCount;
    if (slotList)
        c.list.assign(slotList, slotList + slotCount);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    auto *out = static_cast<unsigned char *>(values);
    for (unsigned i = 0; i < slotCount; ++i) {
        Board *b = boardAt(sys, slotList[i]);
        Param *p = b ? b->find(c.name) : nullptr;
        if (!p)
            return UNKNOWN_ITEM;
        if (p->getCode)
            return p->getCode;
        copyParameterOut(*p, out + 4 * i);
    }
    return 0;
}

int KORUHV_SetBdParam(int handle, unsigned short slotCount, const unsigned short *slotList,
                      const char *parameterName, void *value)
{
    FAKE_LOCK;
    Call &c = record(__func__, handle);
    c.name = textAt(parameterName);
    c.count = slotCount;
    if (slotList)
        c.list.assign(slotList, slotList + slotCount);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    for (unsigned i = 0; i < slotCount; ++i) {
        Board *b = boardAt(sys, slotList[i]);
        Param *p = b ? b->find(c.name) : nullptr;
        if (!p)
            return UNKNOWN_ITEM;
        c.value = parameterValueAt(*p, value);
        if (p->setCode)
            return p->setCode;
        p->value = c.value;
    }
    return 0;
}

int KORUHV_GetBdParamProp(int handle, unsigned short slot, const char *parameterName,
                          const char *propertyName, void *result)
{
    FAKE_LOCK;
    Call &c = record(__func__, handle);
    c.slot = slot;
    c.name = textAt(parameterName);
    c.property = textAt(propertyName);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    Board *b = boardAt(sys, slot);
    Param *p = b ? b->find(c.name) : nullptr;
    return p ? readProperty(*p, c.property, result) : UNKNOWN_ITEM;
}

int KORUHV_GetBdParamInfo(int handle, unsigned short slot, char **parameterNames)
{
    FAKE_LOCK;
    Call &c = record(__func__, handle);
    c.slot = slot;
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    Board *b = boardAt(sys, slot);
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
    Call &c = record(__func__, handle);
    c.slot = slot;
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    Board *b = boardAt(sys, slot);
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
    Call &c = record(__func__, handle);
    c.slot = slot;
    c.channel = channel;
    c.name = textAt(parameterName);
    c.property = textAt(propertyName);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    Channel *ch = channelAt(sys, slot, channel);
    Param *p = ch ? ch->find(c.name) : nullptr;
    return p ? readProperty(*p, c.property, result) : UNKNOWN_ITEM;
}

int KORUHV_GetChParamInfo(int handle, unsigned short slot, unsigned short channel, char **parameterNames,
                          int *parameterCount)
{
    FAKE_LOCK;
    Call &c = record(__func__, handle);
    c.slot = slot;
    c.channel = channel;
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    Channel *ch = channelAt(sys, slot, channel);
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
    Call &c = record(__func__, handle);
    c.slot = slot;
    c.count = channelCount;
    if (channels)
        c.list.assign(channels, channels + channelCount);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    for (unsigned i = 0; i < channelCount; ++i) {
        Channel *ch = channelAt(sys, slot, channels[i]);
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
    Call &c = record(__func__, handle);
    c.slot = slot;
    c.count = channelCount;
    if (channels)
        c.list.assign(channels, channels + channelCount);
    c.name = textAt(name);
    c.value = Raw::text(c.name);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    for (unsigned i = 0; i < channelCount; ++i) {
        Channel *ch = channelAt(sys, slot, channels[i]);
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
    Call &c = record(__func__, handle);
    c.slot = slot;
    c.name = textAt(parameterName);
    c.count = channelCount;
    if (channels)
        c.list.assign(channels, channels + channelCount);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    auto *out = static_cast<unsigned char *>(values);
    for (unsigned i = 0; i < channelCount; ++i) {
        Channel *ch = channelAt(sys, slot, channels[i]);
        Param *p = ch ? ch->find(c.name) : nullptr;
        if (!p)
            return UNKNOWN_ITEM;
        if (p->getCode)
            return p->getCode;
        copyParameterOut(*p, out + 4 * i);
    }
    return 0;
}

int KORUHV_SetChParam(int handle, unsigned short slot, const char *parameterName, unsigned short channelCount,
                      const unsigned short *channels, void *value)
{
    FAKE_LOCK;
    Call &c = record(__func__, handle);
    c.slot = slot;
    c.name = textAt(parameterName);
    c.count = channelCount;
    if (channels)
        c.list.assign(channels, channels + channelCount);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    for (unsigned i = 0; i < channelCount; ++i) {
        Channel *ch = channelAt(sys, slot, channels[i]);
        Param *p = ch ? ch->find(c.name) : nullptr;
        if (!p)
            return UNKNOWN_ITEM;
        c.value = parameterValueAt(*p, value);
        if (p->setCode)
            return p->setCode;
        p->value = c.value;
    }
    return 0;
}

int KORUHV_GetExecCommList(int handle, unsigned short *commandCount, char **commandNames)
{
    FAKE_LOCK;
    record(__func__, handle);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    *commandCount = static_cast<unsigned short>(sys->commands.size());
    *commandNames = mallocBlock(sys->commands);
    return 0;
}

int KORUHV_ExecComm(int handle, const char *commandName)
{
    FAKE_LOCK;
    Call &c = record(__func__, handle);
    c.name = textAt(commandName);
    System *sys = openSystem(handle);
    int code = 0;
    if (early(sys, __func__, &code))
        return code;
    auto it = sys->commandCodes.find(c.name);
    return it != sys->commandCodes.end() ? it->second : 0;
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
    Call &c = record(__func__, -1);
    c.port = static_cast<short>(socket);
    if (events)
        *events = nullptr;
    if (count)
        *count = 0;
    auto it = state().events.find(socket);
    if (it == state().events.end() || it->second.empty())
        return KORUHV_ERR_NO_EVENT_READER;
    EventBatch batch = it->second.front();
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
    if (events) {
        std::free(*events);
        *events = nullptr;
    }
    return 0;
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
    if (events) {
        std::free(*events);
        *events = nullptr;
    }
    return 0;
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
