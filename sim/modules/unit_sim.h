// The public side every text family without module addresses shares: a
// dialect holding its one unit under the skeleton's lock, and a simulator
// that is the link with that dialect plus the test knobs each such family
// has. A family adds its model, its dialect's Impl and its own knobs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

} // namespace korusim
