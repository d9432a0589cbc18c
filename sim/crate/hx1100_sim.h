// Simulated HX1100 first-generation crate mainframe. It is the crate
// simulator of crate_sim.h run as the first generation: the same command
// framing on TCP (big-endian length-framed requests and replies), with the
// first generation's differences:
//   - login with "LOGIN" only ("LOGINSYSTEM" is an unknown command);
//   - the crate map has no tail of 32-bit serial numbers;
//   - subscriptions with "SUBSCRIBE" / "UNSUBSCRIBE" (the current
//     generation's "NEWSUBSCRIBE" / "NEWUNSUBSCRIBE" are unknown);
//   - the first generation's system properties ("FanStat", "RS232Par", ...)
//     and a session log of four fields per line, the last ended by '\n';
//   - events go out as UDP datagrams ("KORU" magic) from the crate's own
//     address to the subscribing session's address and the port named in
//     "SUBSCRIBE"; keep-alive and live-insertion items go only to sessions
//     that subscribed "KeepAlive" / "LiveInsRem".
// Tests use the whole CrateSim interface (values, faults, request log,
// protocol errors); EventFault's WrongTotalLength, BadItemMarker and
// CountTooHigh apply to datagrams.
#pragma once

#include "crate/crate_sim.h"

namespace korusim {

// Datagram forms (the byte at offset 4 / 5 of a datagram).
constexpr uint8_t kHx1100Form = 1;
constexpr uint8_t kHx1100SingleFlag = 0; // form 1, flag 0: one item right after the header
constexpr uint8_t kHx1100MultiFlag = 1;  // anything else: total length, count, items
constexpr size_t kHx1100MaxDatagram = 4096;

// The first generation's system properties with plausible contents, in the
// first generation's table order (no exec rows).
std::vector<CrateSysProp> hx1100SysProps();

struct Hx1100Model {
    // 16 slots like CrateModel::fullCrate, first-generation properties.
    static CrateModel fullCrate();
    // The 4 slots of CrateModel::smallCrate, first-generation properties.
    static CrateModel smallCrate();
};

// Options with generation = First (keep-alive items every 5 s by default,
// to sessions that subscribed "KeepAlive").
CrateSimOptions hx1100Options();

class Hx1100Sim : public CrateSim {
public:
    // bindAddress: 127.0.0.2 and up; port 0 picks an ephemeral port (2200 in
    // the program mode). The options' generation is forced to First.
    Hx1100Sim(CrateModel model, std::string bindAddress, uint16_t port = 0,
              CrateSimOptions options = hx1100Options());
};

// Builds one first-generation datagram of hand-made items (for tests that
// send odd datagrams with sendRawEvent). Items are encoded as text flag,
// 1, eight unused bytes, id, 32-bit length, value. `multi` chooses the
// multi-item form even for one item.
std::string hx1100Datagram(const std::vector<EventItem> &items, bool multi);

} // namespace korusim
