// The public side the text families share: a dialect holding its one unit
// (families without module addresses) or its modules on a "$BD" bus under
// the skeleton's lock, and a simulator that is the link with that dialect
// plus the test knobs each such family has. A family adds its model, its
// dialect's Impl and its own knobs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "modules/text_link_sim.h"
#include "modules/text_unit.h"

namespace korusim {

template <class Unit> class OneUnitDialect : public TextDialect {
public:
    std::string errorReply(std::string_view, DeviceError kind) const override { return cmdError(kind); }

    void withUnit(const std::function<void(Unit &)> &fn) { one_.with(fn); }
    Unit unit() const { return one_.copy(); }

protected:
    explicit OneUnitDialect(Unit unit) : one_(std::move(unit)) {}
    OneUnit<Unit> one_;
};

template <class Dialect, class Unit> class OneUnitSim : public TextLinkSim {
public:
    using Channel = typename decltype(Unit::channels)::value_type;

    ~OneUnitSim() override { stop(); }

    // Runs fn on the unit under the model lock: the way to provoke any change.
    void withUnit(const std::function<void(Unit &)> &fn) { model_->withUnit(fn); }
    Unit unit() const { return model_->unit(); }                               // a copy
    Channel channel(int ch) const { return channelCopy(unit().channels, ch); } // default channel when absent

    // Monitored values held by setMonitored() go back to the physics.
    void release(int ch)
    {
        onUnitChannel(ch, [](Channel &c) { c.hold = false; });
    }
    void setLocal(bool local)
    {
        withUnit([&](Unit &u) { u.local = local; });
    }
    void setExtraStatus(int ch, unsigned bits)
    {
        onUnitChannel(ch, [&](Channel &c) { c.extraStatus = bits; });
    }

protected:
    explicit OneUnitSim(std::shared_ptr<Dialect> d) : TextLinkSim(d), model_(std::move(d)) {}

    // Runs fn on channel ch of the unit, when it exists, under the model lock.
    template <class Fn> void onUnitChannel(int ch, Fn fn)
    {
        withUnit([&](Unit &u) { onChannel(u.channels, ch, fn); });
    }

    std::shared_ptr<Dialect> model_;
};

template <class Unit, int Unit::*Address> class BusDialect : public TextDialect {
public:
    std::string withAddress(std::string_view reply, int address) const override
    {
        return withBdAddress(reply, address);
    }

    void withModule(int address, const std::function<void(Unit &)> &fn) { bus_.with(address, fn); }
    bool copyModule(int address, Unit &out) const { return bus_.copy(address, out); }
    std::vector<int> addresses() const { return bus_.addresses(); }

protected:
    explicit BusDialect(std::vector<Unit> modules) : bus_(std::move(modules)) {}
    UnitBus<Unit, Address> bus_;
};

template <class Dialect, class Unit> class BusSim : public TextLinkSim {
public:
    using Channel = typename decltype(Unit::channels)::value_type;

    ~BusSim() override { stop(); }

    // Runs fn on the module at `address` under the model lock (no-op when
    // there is none); the way to provoke any change of state.
    void withModule(int address, const std::function<void(Unit &)> &fn) { model_->withModule(address, fn); }
    Unit module(int address) const // a copy; default module when absent
    {
        Unit m;
        model_->copyModule(address, m);
        return m;
    }
    Channel channel(int address, int ch) const { return channelCopy(module(address).channels, ch); } // a copy
    std::vector<int> addresses() const { return model_->addresses(); }
    void setLocal(int address, bool local)
    {
        withModule(address, [&](Unit &m) { m.local = local; });
    }

protected:
    explicit BusSim(std::shared_ptr<Dialect> d) : TextLinkSim(d), model_(std::move(d)) {}

    // Runs fn on channel ch of the module at `address`, when both exist, under the model lock.
    template <class Fn> void onModuleChannel(int address, int ch, Fn fn)
    {
        withModule(address, [&](Unit &m) { onChannel(m.channels, ch, fn); });
    }

    std::shared_ptr<Dialect> model_;
};

} // namespace korusim
