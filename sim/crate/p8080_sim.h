// Simulated P8080 rack power supply: the device side of the rack's protocol.
// Every frame is a 32-bit little-endian payload length and the payload; all
// numbers are little-endian. The command connection (TCP 9146) carries
// keyword requests ("GETBDPARAM", ':', session id, fields...) and their
// replies (keyword, ':', session id, status, ':', message, ':', data); the
// login ("LOGIN", ':', user, ':', RSA-encrypted password) is the one request
// without a session id. The rack holds the RSA private key; the library
// encrypts with the matching PEM public key (publicKeyPem()). Subscriptions
// ("ENABLEMSG") name the rack's event port; the library opens a second
// connection there and receives event batches (item count, ':', items);
// the rack sends a keep-alive rack message that the library answers with a
// "KEEPALIVE" exec frame on the command connection. Exec frames (KILL,
// CLRALARM, GLOBALON, GLOBALOFF, KEEPALIVE) get no reply.
//
// Written independently of the wrapper library so that a fault in the
// library's protocol code shows up here. Model data reuses CrateParam and
// CrateBoard of crate_sim.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crate/crate_sim.h"

namespace korusim {

constexpr uint16_t kP8080Port = 9146;
constexpr uint16_t kP8080EventPort = 9147;  // the program mode's event port (tests: ephemeral)
constexpr int kP8080SystemBoard = 150;      // pseudo-board of the system parameters
constexpr int kP8080RackMessageBoard = 151; // id board of keep-alive, live insertion, transparent mode
constexpr int kP8080SpecialBoard = 254;     // id board given to "KeepAlive" / "LiveInsRem" items

// Statuses this rack answers with (its own choice, besides the ones the
// library maps: -3 slot not present, -12 login refused, -13 connection
// refused).
enum P8080Status : int16_t {
    kP8080Ok = 0,
    kP8080UnknownCommand = -1,
    kP8080Malformed = -2,
    kP8080SlotNotPresent = -3,
    kP8080BadSession = -4,
    kP8080ParamNotFound = -5,
    kP8080ReadOnly = -6,
    kP8080ValueRange = -7,
    kP8080ChannelRange = -8,
    kP8080LoginRefused = -12,
    kP8080ConnectionRefused = -13,
};

// System-property types of the pseudo-board's parameters.
enum P8080SysType : uint16_t {
    kSysText = 0,
    kSysReal = 1,
    kSysU16 = 2,
    kSysU32 = 3,
    kSysS16 = 4,
    kSysS32 = 5,
    kSysBool = 6,
};

// One parameter of the pseudo-board 150. desc.type is the system-property
// type; text is the value of a text parameter, desc.initialRaw that of the
// others. A kSysReal parameter travels with the on/off descriptor layout
// (the descriptor's layout is chosen by its type byte 1), so the presets
// have none.
struct P8080SystemParam {
    CrateParam desc;
    std::string text;
};

struct P8080Model {
    // Board number = index (0..149); empty optional = empty slot. The crate
    // map and the composition list one slot more than the modules: the
    // rack controller, which the library drops.
    std::vector<std::optional<CrateBoard>> modules;
    std::vector<P8080SystemParam> systemParams;
    std::string controllerModel = "P8080";
    std::string controllerDescription = "Rack controller";
    uint32_t controllerSerial = 8080001;
    // When set, "FrontPanOut" is derived from the channels' status words
    // and the "Temp" parameter instead of keeping the preset's value.
    bool panelFollowsChannels = false;

    // 6 module slots: 0, 1, 3 modules of 8, 4 and 12 channels, 2, 4, 5 empty;
    // its front-panel word follows the channels, and "ACDCPwr" (writable
    // 0..1) switches the 48 V supply whose state "ACDCStatus" bit 0 shows.
    static P8080Model rack();
    // 3 module slots: slot 0 a 4-channel module (hvBoard), slot 1 empty,
    // slot 2 a 2-channel module with a signed VCal; the system parameters
    // ModelName (text), SwRelease (text), Temp (s16, decimals 1, factor
    // 10), ACVolt (u16), Uptime (u32), Interlock (bool, writable), Alarm
    // (s32, writable), Label (text, writable).
    static P8080Model smallRack();
};

struct P8080Request {
    int connection = 0; // running number of the command connection, from 1
    uint32_t declaredLength = 0;
    std::string body;    // exact payload bytes
    std::string keyword; // up to the first ':'
    int16_t status = 0;  // status answered (0 for exec frames, which get no reply)
    bool replied = false;
};

struct P8080Fault {
    enum Action {
        Refuse,         // answer with `status` instead of the normal reply
        Close,          // close the command connection without replying
        Silent,         // never reply; the connection stays open
        Delay,          // wait `delay`, then reply normally
        SplitLength,    // send the 4 length bytes as 2 + 2, `delay` apart, then the payload
        SplitReply,     // send the frame in pieces of `chunk` bytes, `delay` apart
        CutFrame,       // announce the whole reply, send only `bytes` payload bytes, close
        CutData,        // a correctly framed reply whose payload is cut to `bytes` bytes
        ReplaceBody,    // send `body` as the framed payload instead
        WrongKeyword,   // the reply's keyword is "XXXX" + keyword
        WrongSession,   // the reply carries another session id
        LengthOverride, // announce `bytes` as the length, send the real payload, close
    };
    std::string keyword; // "" matches every request; otherwise the exact keyword
    Action action = Refuse;
    int count = 1; // -1 = every matching request
    int16_t status = kP8080Malformed;
    std::chrono::milliseconds delay{0};
    size_t chunk = 1;
    size_t bytes = 0;
    std::string body;
};

struct P8080EventFault {
    enum Action {
        CutBatch,     // send only `bytes` bytes of the frame, then close the event connection
        CountTooHigh, // the item count is 5 more than the items sent
        SplitBatch,   // send the frame in pieces of `bytes`, 20 ms apart
        CloseAfter,   // close the event connection after the batch
        NoHash,       // text values without their ending '#'
    };
    Action action = CutBatch;
    int count = 1;
    size_t bytes = 0;
};

// One item of a hand-made event batch.
struct P8080EventItem {
    uint32_t id = 0;
    std::string value; // 4 bytes little-endian for a word (word()), the text and '#' for text
    static P8080EventItem word(uint32_t id, uint32_t w);
    static P8080EventItem text(uint32_t id, const std::string &t); // appends '#'
};

// Id of an item as the rack gives it.
constexpr uint32_t p8080Id(unsigned board, unsigned channel, unsigned slot)
{
    return (uint32_t(board & 0xFF) << 24) | (uint32_t(channel & 0xFFFF) << 8) | uint32_t(slot & 0xFF);
}

struct P8080Subscription {
    uint32_t id = 0;
    uint32_t session = 0;
    int kind = 0; // 0 channel, 1 board, 2 system, 3 keep-alive / live insertion
    int board = -1;
    int channel = -1;
    std::string name;
};

struct P8080SimOptions {
    std::string user = "admin";
    std::string password = "admin";
    uint16_t eventPort = 0; // 0: ephemeral
    std::chrono::milliseconds tickPeriod{100};
    std::chrono::milliseconds keepAlivePeriod{5000}; // 0: no keep-alive messages
    // A periodic keep-alive not answered by "KEEPALIVE" within this time
    // closes the event connection (noted in protocolErrors); 0: not enforced.
    std::chrono::milliseconds keepAliveTimeout{0};
    bool ramp = true;                     // VMon follows V0Set while Pw is on (as the crate simulator)
    uint32_t firstSessionId = 0x3A3A0001; // ':' bytes on purpose
    size_t maxRequest = 1 << 20;
    int maxSessions = 32; // a login beyond it is refused with -13
    // The keyword the rack echoes in its reply to "DISABLEMSG".
    std::string disableReplyKeyword = "DISABLEMSG";
    // PEM private key; empty: the built-in key (publicKeyPem() matches it).
    std::string privateKeyPem;
};

class P8080Sim : public SimJournal<P8080Fault, P8080EventFault, P8080Request> {
public:
    P8080Sim(P8080Model model, std::string bindAddress, uint16_t port = 0, P8080SimOptions options = {});
    ~P8080Sim();
    P8080Sim(const P8080Sim &) = delete;
    P8080Sim &operator=(const P8080Sim &) = delete;

    // The built-in key pair's public half (a 451-character PEM block), and
    // the public half of this instance's key. The library encrypts the
    // login password with it: give it through the library's public-key hook.
    static const std::string &builtinPublicKeyPem();
    std::string publicKeyPem() const;

    bool start(); // false with errorText() when binding or the key failed
    void stop();  // closes every connection, joins every thread; idempotent
    uint16_t port() const;
    uint16_t eventPort() const;
    const std::string &address() const;
    std::string errorText() const;

    void setCredentials(const std::string &user, const std::string &password);

    // Values; subscribed items changed by a setter go out with the next batch.
    bool setChannelRaw(unsigned board, unsigned channel, const std::string &param, uint32_t raw);
    bool setChannelValue(unsigned board, unsigned channel, const std::string &param, double value);
    bool setBoardRaw(unsigned board, const std::string &param, uint32_t raw);
    bool setChannelName(unsigned board, unsigned channel, const std::string &name);
    bool setSystemRaw(const std::string &param, uint32_t raw);
    bool setSystemText(const std::string &param, const std::string &text);
    std::optional<uint32_t> channelRaw(unsigned board, unsigned channel, const std::string &param) const;
    std::optional<double> channelValue(unsigned board, unsigned channel, const std::string &param) const;
    std::optional<uint32_t> boardRaw(unsigned board, const std::string &param) const;
    std::optional<std::string> channelName(unsigned board, unsigned channel) const;
    std::optional<uint32_t> systemRaw(const std::string &param) const;
    std::optional<std::string> systemText(const std::string &param) const;

    // Rack messages to every event connection: live insertion (slot 1, the
    // word = board number; the model changes), transparent mode (slot 2).
    void insertModule(unsigned board, CrateBoard module);
    void removeModule(unsigned board);
    void sendTransparentMode(uint32_t word);
    void sendKeepAlive(uint32_t word = 0);                         // slot 0; the library answers "KEEPALIVE"
    void sendEventBatch(const std::vector<P8080EventItem> &items); // hand-made, every event connection
    void sendRawEvent(const std::string &payload);                 // framed as it is
    void closeEventConnections();
    int eventConnectionCount() const;
    bool waitEventConnection(std::chrono::milliseconds timeout) const;
    std::vector<P8080Subscription> subscriptions() const;
    int keepAliveAnswers() const; // "KEEPALIVE" exec frames received
    void tickNow();               // one ramp step and an event pass now

    std::string lastPassword() const; // the last decrypted login password
    int activeSessions() const;
    // Faults, the request log, protocol errors and the connection count:
    // SimJournal (sim_journal.h).

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace korusim
