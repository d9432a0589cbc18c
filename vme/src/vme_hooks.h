// Internal hooks for the tests (not exported): ports and time-outs of the
// network link, and the IPv6 address text of kind 2 links.
#pragma once

#include <cstdint>

namespace koruvme {

struct NetSettings {
    uint16_t port = 5860;
    int connectTimeoutMs = 4000;
    int replyTimeoutMs = 10000;
    const char *ipv6Override = nullptr; // used in place of the derived address when set
};

NetSettings &netSettings();

} // namespace koruvme
