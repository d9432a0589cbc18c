// The skeleton of a text-module family's device side: its units under one
// lock (one unit, or several on a bus by address), the reply words of the
// "$CMD" and "$BD" grammars, answers for one channel or all of them, and
// tables from the protocol's mnemonics to what they read. A family is its
// model, its tables and the few rules of its own.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "modules/text_request.h"

namespace korusim {

// Replies of a unit without an address: "#CMD:OK", "#CMD:OK,VAL:v",
// "#<CMD|CH|PAR|VAL|LOC>:ERR".
std::string cmdOk();
std::string cmdValue(const std::string &v);
std::string cmdError(DeviceError kind);

// Replies of the module at `address` ("%02d"): "#BD:aa,CMD:OK",
// "#BD:aa,CMD:OK,VAL:v", "#BD:aa,<CMD|CH|PAR|VAL|LOC>:ERR".
std::string bdOk(int address);
std::string bdValue(int address, const std::string &v);
std::string bdError(int address, DeviceError kind);
// A "#BD:" reply as if the module at `address` (modulo 100) had sent it.
std::string withBdAddress(std::string_view reply, int address);
// The error reply of the module the request names (0 when it names none).
std::string bdErrorFor(std::string_view line, DeviceError kind, int maxAddressDigits = 2);

std::string twoDigits(int v);   // "%02d"
std::string threeDigits(int v); // "%03d"
std::string word5(unsigned v);  // "%05u" of the low 16 bits
// Decimals of a resolution in counts per unit (100 -> 2, 10 -> 1, 1 -> 0).
int decimalsOf(int res);

// A reply under construction; fail() gives the error reply and the
// violation of a refused request.
class Answer {
public:
    explicit Answer(std::function<std::string(DeviceError)> error) : error_(std::move(error)) {}
    DialectReply fail(DeviceError kind, std::string why = {})
    {
        DialectReply out;
        out.text = error_(kind);
        out.violation = std::move(why);
        return out;
    }
    static DialectReply text(std::string reply)
    {
        DialectReply out;
        out.text = std::move(reply);
        return out;
    }

private:
    std::function<std::string(DeviceError)> error_;
};

// The value of channel `ch`, or of every channel joined with ';' when `ch`
// is the channel count `n` (the address of all channels).
template <class Value> std::string eachChannelValue(int ch, int n, Value value)
{
    if (ch < n)
        return value(ch);
    std::string v;
    for (int c = 0; c < n; ++c)
        v += (c ? ";" : "") + value(c);
    return v;
}

// Applies `apply` to channel `ch`, or to every channel when `ch` is their count.
template <class Channel, class Apply> void eachChannel(std::vector<Channel> &channels, int ch, Apply apply)
{
    if (ch >= 0 && size_t(ch) < channels.size())
        apply(channels[size_t(ch)]);
    else
        for (Channel &c : channels)
            apply(c);
}

// Runs fn on channel `ch` when it exists.
template <class Channel, class Fn> void onChannel(std::vector<Channel> &channels, int ch, Fn fn)
{
    if (ch >= 0 && size_t(ch) < channels.size())
        fn(channels[size_t(ch)]);
}

// A copy of channel `ch`; a default channel when there is none.
template <class Channel> Channel channelCopy(const std::vector<Channel> &channels, int ch)
{
    return ch >= 0 && size_t(ch) < channels.size() ? channels[size_t(ch)] : Channel{};
}

// One row of a mnemonic table: what a monitor request of `name` reads.
template <class Unit, class Channel> struct ReadRow {
    const char *name;
    std::string (*read)(const Unit &, const Channel &);
};

// A board-level row: what a monitor request of `name` reads from the unit.
template <class Unit> struct BoardRow {
    const char *name;
    std::string (*read)(const Unit &);
};

// The row of `name`, or null.
template <class Row, size_t N> const Row *findRow(const Row (&table)[N], std::string_view name)
{
    for (const Row &r : table)
        if (name == r.name)
            return &r;
    return nullptr;
}

template <size_t N> bool isOneOf(const char *const (&names)[N], std::string_view name)
{
    for (const char *n : names)
        if (name == n)
            return true;
    return false;
}

// The module a "$BD" request names, under the bus lock the caller holds.
// Null when it is not to be asked: `out` then holds the reply (an error
// from the module the request names, or none) and the violation.
template <class Bus>
auto *bdTarget(Bus &bus, std::string_view line, TextRequest &r, DialectReply &out, int maxAddressDigits = 2)
{
    const std::string bad = parseBdRequest(line, r, maxAddressDigits);
    auto *unit = r.address >= 0 ? bus.find(r.address) : nullptr;
    if (bad.empty())
        return unit;
    out.violation = bad;
    if (unit)
        out.text = bdError(r.address, DeviceError::Cmd);
    return decltype(unit)(nullptr);
}

// The units of a family that sit on one bus, found by their address
// (`Unit::*address`), under one lock.
template <class Unit, int Unit::*Address> class UnitBus {
public:
    explicit UnitBus(std::vector<Unit> units) : units(std::move(units)) {}

    // Caller holds m.
    Unit *find(int address)
    {
        for (Unit &u : units)
            if (u.*Address == address)
                return &u;
        return nullptr;
    }
    // Runs fn on the unit at `address` under the lock (no-op when there is none).
    void with(int address, const std::function<void(Unit &)> &fn)
    {
        std::lock_guard<std::mutex> lk(m);
        if (Unit *u = find(address))
            fn(*u);
    }
    bool copy(int address, Unit &out) const
    {
        std::lock_guard<std::mutex> lk(m);
        for (const Unit &u : units)
            if (u.*Address == address) {
                out = u;
                return true;
            }
        return false;
    }
    std::vector<int> addresses() const
    {
        std::lock_guard<std::mutex> lk(m);
        std::vector<int> out;
        for (const Unit &u : units)
            out.push_back(u.*Address);
        return out;
    }

    mutable std::mutex m;
    std::vector<Unit> units;
};

// The one unit of a family without addresses, under one lock.
template <class Unit> class OneUnit {
public:
    explicit OneUnit(Unit unit) : unit(std::move(unit)) {}
    void with(const std::function<void(Unit &)> &fn)
    {
        std::lock_guard<std::mutex> lk(m);
        fn(unit);
    }
    Unit copy() const
    {
        std::lock_guard<std::mutex> lk(m);
        return unit;
    }

    mutable std::mutex m;
    Unit unit;
};

} // namespace korusim
