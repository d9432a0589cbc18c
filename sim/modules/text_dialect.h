// The device side of one line-oriented text protocol: what a module answers to
// one request line. The link simulator (text_link_sim.h) owns transports,
// framing, fault injection and the request log; a dialect owns the devices.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korusim {

// Kinds of error reply a module can give; each dialect words them its own way.
enum class DeviceError { Cmd, Ch, Par, Val, Loc };

// One answer of a dialect. No text means the request gets no reply at all
// (for instance a request to an address where no module sits).
struct DialectReply {
    std::optional<std::string> text; // reply line without its line end
    std::string violation;           // non-empty: the request broke the protocol (kept in the log)
};

class TextDialect {
public:
    virtual ~TextDialect() = default;

    // Short family name for messages ("L2290").
    virtual std::string name() const = 0;

    // Handles one request line (line end removed). With execute false the
    // request is answered as usual but changes nothing on the device (used
    // when a fault replaces or swallows the reply of a request that the
    // device never got).
    virtual DialectReply handle(std::string_view line, bool execute) = 0;

    // The device's error reply of the given kind to this request.
    virtual std::string errorReply(std::string_view line, DeviceError kind) const = 0;

    // The reply rewritten as if the module at `address` had sent it. Dialects
    // without module addresses return the reply unchanged.
    virtual std::string withAddress(std::string_view reply, int address) const
    {
        (void)address;
        return std::string(reply);
    }

    // Advances the devices' physics (ramps, trips) by `seconds`.
    virtual void tick(double seconds) { (void)seconds; }
};

} // namespace korusim
