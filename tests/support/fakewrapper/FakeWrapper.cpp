/* The script side of the fake wrapper: raw values, the scripted systems and
 * what tests queue and read back (FakeWrapper.h). */
#include "FakeWrapper.h"
#include "FakeWrapperState.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace fakehv {

namespace internal {

State &state()
{
    static State s;
    return s;
}

} // namespace internal

using internal::State;
using internal::state;

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

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

/* The value of the first (name, value) pair of that name, or null. */
template <typename T> T *named(std::vector<std::pair<std::string, T>> &list, const std::string &name)
{
    for (auto &entry : list)
        if (entry.first == name)
            return &entry.second;
    return nullptr;
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
    return named(params, parameter);
}

Param *Board::find(const std::string &parameter)
{
    return named(params, parameter);
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
    return named(props, property);
}

void reset()
{
    State &s = state();
    Guard guard(s.lock);
    s.systems.clear();
    s.pendingInits.clear();
    s.events.clear();
    s.calls.clear();
}

int addSystem(const System &system)
{
    State &s = state();
    Guard guard(s.lock);
    s.systems.push_back({system, true});
    return static_cast<int>(s.systems.size()) - 1;
}

System &system(int handle)
{
    Guard guard(state().lock);
    return state().systems.at(static_cast<size_t>(handle)).script;
}

void queueInit(const System &system, int code)
{
    Guard guard(state().lock);
    state().pendingInits.emplace_back(system, code);
}

void queueEvents(int socket, const std::vector<EventRecord> &events, const KORUHV_SYSTEMSTATUS_t &status)
{
    Guard guard(state().lock);
    state().events[socket].push_back({events, status, 0});
}

void queueEventFailure(int socket, int code)
{
    Guard guard(state().lock);
    state().events[socket].push_back({{}, KORUHV_SYSTEMSTATUS_t{}, code});
}

std::vector<short> announcedPorts()
{
    Guard guard(state().lock);
    std::vector<short> out;
    for (const auto &c : state().calls)
        if (c.function.rfind("KORUHV_Subscribe", 0) == 0)
            out.push_back(c.port);
    return out;
}

std::vector<Call> calls()
{
    Guard guard(state().lock);
    return state().calls;
}

std::vector<Call> callsOf(const std::string &function)
{
    Guard guard(state().lock);
    std::vector<Call> out;
    for (const auto &c : state().calls)
        if (c.function == function)
            out.push_back(c);
    return out;
}

void clearCalls()
{
    Guard guard(state().lock);
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
