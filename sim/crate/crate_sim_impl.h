// The crate simulator's state and the steps its command, event and connection code share.
#pragma once

#include "crate/crate_panel.h"
#include "crate/crate_sim.h"
#include "crate/hx1100_sim.h"
#include "crate/sim_server.h"
#include "crate/sim_slots.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace korusim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace simserver;

namespace crate_detail {

inline const char *statusText(int16_t st)
{
    switch (st) {
    case kStatusOk:
        return "Command Ok";
    case kStatusLoginFailed:
        return "Login failed";
    case kStatusBadSession:
        return "Session not valid";
    case kStatusUnknownCommand:
        return "Command not found";
    case kStatusMalformed:
        return "Malformed request";
    case kStatusSlotEmpty:
        return "Slot empty";
    case kStatusChannelRange:
        return "Channel out of range";
    case kStatusParamNotFound:
        return "Parameter not found";
    case kStatusReadOnly:
        return "Parameter read only";
    case kStatusValueRange:
        return "Value out of range";
    default:
        return "Error";
    }
}

constexpr uint32_t kBadId = 0xFFFFFFFFu;
constexpr int kSlotName = 255; // slot field of a channel-name item

} // namespace crate_detail

using namespace crate_detail;

// ------------------------------------------------------------------ state

struct CrateSim::Impl : SimCore<CrateFault, EventFault, CrateRequest> {
    using Chan = SimChannel;
    using Slot = SimSlot;
    struct Sub {
        CrateSubscription s;
        int index = 0; // parameter index, 255 for a channel name
        bool dirty = true;
    };
    struct Link {
        uint32_t session = 0;
        std::string peer;
        uint16_t port = 0;
        int fd = -1;
        bool dead = false;
        Clock::time_point lastSend{};
        Clock::time_point lastTry{};
        bool tried = false;
    };
    struct Session {
        uint32_t id = 0;
        std::string user;
        std::string peer;
        int conn = 0;
        time_t since = 0;
    };
    using Conn = simserver::Conn;
    struct Reply {
        std::string body;
        int16_t status = 0;
        bool close = false;
        bool silent = false;
        std::optional<CrateFault> fault;
    };

    std::string address;
    uint16_t port = 0;
    CrateSimOptions opt;

    std::vector<CrateSysProp> sysProps;
    std::vector<std::string> commands;
    std::vector<Slot> slots;
    uint8_t syncStatus[17]; // 0..15 slots, 16 the system
    std::vector<Sub> subs;
    std::vector<Link> links;
    std::vector<Session> sessions;
    // Hand-made batches for every link; with needId only for links whose
    // session subscribed that id (first-generation keep-alive and live insertion).
    struct RawOut {
        std::string bytes;
        uint32_t needId = 0;
    };
    std::vector<RawOut> rawQueue;
    uint32_t nextSession = 0;
    std::string errorText;
    uint16_t keepAliveWord = 0;
    // The front-panel word and the fan readings follow the channels and the
    // fans unless a test set the property itself (then it stays as set).
    bool panelPinned = false;
    std::map<std::string, bool> fansPinned;
    std::map<std::string, uint32_t> failedFans; // property -> mask of failed fans

    int listenFd = -1;
    std::atomic<bool> stopping{false};
    bool started = false;
    std::thread acceptTh;
    std::thread eventTh;
    simserver::ConnSet conns;

    Impl(CrateModel model, std::string addr, uint16_t p, CrateSimOptions o);

    // Recomputes "FrontPanOut" from every channel's status (its "Pw" when it
    // has none) and the fan-status properties from "HVFanSpeed" and the
    // failed fans; marks what changed.
    void refreshDerived();

    bool firstGen() const { return opt.generation == CrateGeneration::First; }

    static Slot makeSlot(std::optional<CrateBoard> b) { return makeSimSlot(std::move(b)); }

    void protocolError(const std::string &e) { errors.push_back(e); }

    // ---------------------------------------------------------- changes

    void markChannel(unsigned slot, unsigned ch, int idx);
    void markBoard(unsigned slot, int idx);
    void markSys(int idx);

    Chan *chan(unsigned slot, unsigned ch) { return findChannel(slots, slot, ch); }

    bool setChRaw(unsigned slot, unsigned ch, int idx, uint32_t raw);

    int sysPropIndex(const std::string &name) const;

    // ------------------------------------------------------------ ramp

    void rampStep(double dt);

    void kill();

    void clearAlarms();

    // --------------------------------------------------------- replies

    static std::string head(const std::string &kw, bool login, const std::string &sid, int16_t st);

    Reply plain(const std::string &kw, bool login, const std::string &sid, int16_t st,
                const std::string &msg = {});

    Reply data(const std::string &kw, const std::string &sid, const std::string &bytes);

    Reply malformed(const std::string &kw, bool login, const std::string &sid, const FieldReader &rd);

    // -------------------------------------------------------- commands

    std::string sysInfo() const;

    std::string crateMap() const;

    std::string sysComp() const;

    // First generation: the lines alone (four fields, the last ended by '\n').
    std::string sessionLines() const;

    // Reply data of a get keyword: the values of every property it serves, joined with ','.
    std::string getData(const std::string &kw) const;

    std::string sessionLog() const;

    // Subscription id of one encoded item, or kBadId.
    uint32_t subscribe(uint32_t session, uint16_t evPort, int kind, int board, int ch,
                       const std::string &name, const std::string &peer);

    Reply cmdSubscribe(const std::string &kw, const std::string &sid, FieldReader &rd, const Session &ses);

    Reply cmdUnsubscribe(const std::string &kw, const std::string &sid, FieldReader &rd, const Session &ses);

    // The value bytes of a system property's set request.
    bool decodeSet(const CrateSysProp &p, const std::string &v, std::string &out, std::string &why);

    Reply execute(const std::string &body, Conn &conn, std::optional<Session> &ses, int16_t &status);

    void endSession(uint32_t id);

    std::optional<CrateFault> takeFault(const std::string &kw) { return simserver::takeFault(faults, kw); }

    // ------------------------------------------------ command connection

    void serve(Conn &c);

    // -------------------------------------------------------- acceptor

    void acceptLoop();

    // ----------------------------------------------------- event stream

    // The events of one pass as they go out: one batch, or for the first
    // generation datagrams of at most 4096 bytes each.
    std::vector<std::string> encode(const std::vector<EventItem> &items);

    // Keep-alive (index 0) and live-insertion (index 1) items: a 16-bit word
    // in the current generation's batches, a 32-bit one in datagrams.
    EventItem specialItem(uint32_t idx, uint32_t word) const;

    void queueSpecial(uint32_t idx, uint32_t word);

    bool linkHas(const Link &l, uint32_t id) const;

    // First-generation values fill at least the crate's 32-bit value field
    // (NUL-padded), so that no single-item datagram is shorter than 28 bytes.
    static EventItem padded(EventItem i);

    // A first-generation system property as its event carries it: the get
    // reply's bytes, but 16-bit numbers as 32-bit words and the session log
    // as its lines.
    EventItem firstGenSysItem(uint32_t id, const CrateSysProp &p) const;

    std::string batch(const std::vector<EventItem> &items);

    std::optional<EventItem> itemOf(const Sub &s);

    // Applies the next event fault to a batch; returns whether to close after sending.
    bool mangle(std::string &b, size_t &split);

    // Datagram faults; a datagram has no connection to close.
    static bool mangleDatagram(const EventFault &f, std::string &b);

    int connectLink(const std::string &peer, uint16_t p);

    // A UDP socket from the crate's own address (the subscriber finds the
    // crate by the sender address), connected to the subscriber's port.
    int datagramLink(const std::string &peer, uint16_t p);

    struct Out {
        size_t link;
        int fd;
        std::string bytes;
        size_t split = 0;
        bool closeAfter = false;
    };

    void eventLoop();

    void queueRaw(std::string bytes, uint32_t needId = 0);
};

} // namespace korusim
