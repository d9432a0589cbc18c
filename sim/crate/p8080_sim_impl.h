// The rack simulator's state and the steps its command, event and connection code share.
#pragma once

#include "crate/crate_panel.h"
#include "crate/p8080_key.h"
#include "crate/p8080_sim.h"
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
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace korusim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace simserver;

namespace rack_detail {

inline std::string frameOf(const std::string &payload)
{
    std::string f;
    putLe32(f, uint32_t(payload.size()));
    return f + payload;
}

inline const char *statusText(int16_t st)
{
    switch (st) {
    case kP8080Ok:
        return "Command Ok";
    case kP8080UnknownCommand:
        return "Unknown command";
    case kP8080Malformed:
        return "Malformed request";
    case kP8080SlotNotPresent:
        return "Slot not present";
    case kP8080BadSession:
        return "Session not valid";
    case kP8080ParamNotFound:
        return "Parameter not found";
    case kP8080ReadOnly:
        return "Parameter read only";
    case kP8080ValueRange:
        return "Value out of range";
    case kP8080ChannelRange:
        return "Channel out of range";
    case kP8080LoginRefused:
        return "Login refused";
    case kP8080ConnectionRefused:
        return "Too many connections";
    default:
        return "Error";
    }
}

constexpr uint32_t kRefused = 0xFFFFFFFFu;
constexpr unsigned kNameSlot = 0xFF;
const char *const kExecKeywords[] = {"KILL", "CLRALARM", "GLOBALON", "GLOBALOFF", "KEEPALIVE"};

inline EVP_PKEY *readPrivateKey(const std::string &pem)
{
    BIO *bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
    if (!bio)
        return nullptr;
    EVP_PKEY *k = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return k;
}

} // namespace rack_detail

using namespace rack_detail;

// ------------------------------------------------------------------ state

struct P8080Sim::Impl : SimCore<P8080Fault, P8080EventFault, P8080Request> {
    using Chan = SimChannel;
    using Module = SimSlot;
    struct Sub {
        P8080Subscription s;
        int index = 0;
        bool dirty = true;
    };
    struct Session {
        uint32_t id = 0;
        std::string user;
        std::string peer;
        int conn = 0;
    };
    struct EvConn {
        uint32_t session = 0; // 0: the session has ended
        int fd = -1;
        bool dead = false;
        Clock::time_point lastSend{};
        bool keepAliveDue = false; // a periodic keep-alive waits for its answer
        Clock::time_point keepAliveSent{};
    };
    struct Pending {
        uint32_t session;
        std::string peer;
    };
    using Conn = simserver::Conn;
    struct Reply {
        std::string body;
        int16_t status = 0;
        bool none = false; // exec frames get no reply
        bool close = false;
        bool silent = false;
        std::optional<P8080Fault> fault;
    };

    std::string address;
    uint16_t port = 0;
    uint16_t evPort = 0;
    P8080SimOptions opt;

    std::vector<Module> modules;
    std::vector<P8080SystemParam> sysDesc;
    std::vector<uint32_t> sysRaw;
    std::vector<std::string> sysText;
    std::string ctlModel, ctlDescription;
    uint32_t ctlSerial = 0;
    bool panelFollows = false;
    std::vector<Session> sessions;
    std::vector<Sub> subs;
    std::vector<EvConn> evconns;
    std::vector<Pending> pending;
    std::vector<std::string> rawQueue; // payloads for every event connection
    uint32_t nextSession = 0;
    int keepAliveAnswers = 0;
    std::string lastPassword;
    std::string errorText;
    EVP_PKEY *key = nullptr;

    int listenFd = -1;
    int evListenFd = -1;
    std::atomic<bool> stopping{false};
    bool started = false;
    std::thread acceptTh;
    std::thread eventTh;
    simserver::ConnSet conns;

    Impl(P8080Model model, std::string addr, uint16_t p, P8080SimOptions o);
    ~Impl();

    static Module makeModule(std::optional<CrateBoard> b) { return makeSimSlot(std::move(b)); }

    void protocolError(const std::string &e) { errors.push_back(e); }

    Module *module(unsigned b) { return findSlot(modules, b); }
    Chan *chan(unsigned b, unsigned c) { return findChannel(modules, b, c); }
    int sysIndex(const std::string &name) const;

    // ---------------------------------------------------------- changes

    void markSubs(int kind, int board, int ch, int idx);
    void setChRaw(unsigned b, unsigned c, int idx, uint32_t raw);
    void setSysRaw(int i, uint32_t raw);

    // Recomputes "FrontPanOut" from every channel's status (its "Pw" when it
    // has none) and the rack temperature, when the model asks for it.
    void refreshPanel();

    void rampStep(double dt);

    void forEachChannel(const char *param, uint32_t raw);

    void runExec(const std::string &kw);

    void keepAliveAnswered(uint32_t session);

    // --------------------------------------------------------- replies

    static std::string head(const std::string &kw, const std::string &sid, int16_t st,
                            const std::string &msg);
    Reply plain(const std::string &kw, const std::string &sid, int16_t st);
    Reply data(const std::string &kw, const std::string &sid, const std::string &bytes);
    Reply malformed(const std::string &kw, const std::string &sid, const FieldReader &rd);

    // ------------------------------------------------------ system data

    std::string sysInfo() const;

    // Module slots and, last, the rack controller (which the library drops).
    std::string crateMap() const;

    std::string sysComp() const;

    // ----------------------------------------------------- subscriptions

    uint32_t subscribe(uint32_t session, int kind, int board, int ch, const std::string &name);

    Reply cmdEnable(const std::string &kw, const std::string &sid, FieldReader &rd, const Session &ses);

    // ------------------------------------------------------ the requests

    Reply login(const std::string &body, Conn &conn, std::optional<Session> &ses);

    Reply execute(const std::string &body, Conn &conn, std::optional<Session> &ses);

    // SETBDPARAM ':' name ':' value ':' n ':' slots; the value is a 32-bit
    // word, or for a text parameter of the pseudo-board its text.
    Reply setBdParam(const std::string &kw, const std::string &sid, FieldReader &rd);

    void endSession(uint32_t id);

    std::optional<P8080Fault> takeFault(const std::string &kw) { return simserver::takeFault(faults, kw); }

    // ------------------------------------------------ command connection

    void serve(Conn &c);

    // -------------------------------------------------------- acceptor

    void acceptCommand();

    // An event connection belongs to the oldest session from that address
    // that subscribed and has none yet.
    void acceptEvent();

    void acceptLoop();

    // ----------------------------------------------------- event stream

    static std::string batchPayload(const std::vector<P8080EventItem> &items, bool noHash);

    std::optional<P8080EventItem> itemOf(const Sub &s);

    struct Out {
        int fd;
        std::string frame;
        size_t split = 0;
        bool closeAfter = false;
    };

    // Builds the frame of a batch, applying the next event fault.
    Out makeOut(int fd, const std::vector<P8080EventItem> &items, const std::string *raw);

    void eventLoop();

    void queueRaw(std::string payload);

    void rackMessage(unsigned slot, uint32_t word);

    int listenOn(uint16_t &p) { return simserver::listenOn(address, p, errorText); }
};

} // namespace korusim
