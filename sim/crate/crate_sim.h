// Simulated HX4400/HX5500 crate mainframe: the device side of the crate
// command protocol (length-framed big-endian requests and replies on TCP) and
// of its event stream (the crate connects back to the subscriber's event
// server and sends event batches). It is written independently of the wrapper
// library so that a fault in the library's protocol code shows up here.
//
// The crate's contents are plain data (CrateModel); CrateSim serves one model
// on one loopback address. Tests steer it through the value setters, the
// fault rules and the request log.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crate/sim_journal.h"

namespace korusim {

// ---------------------------------------------------------------- model data

// One parameter as the crate describes it in its system information.
// Values live on the wire as raw 32-bit words; numeric parameters (type 0)
// scale them: value = raw / factor when decimals != 0, else raw * factor.
struct CrateParam {
    std::string name;  // at most 10 characters (the wire field)
    uint16_t type = 0; // 0 numeric, 1 on/off, 2 channel status word, 3 board status word, 4 raw value
    bool writable = false;
    bool isSigned = false;
    int32_t minRaw = 0; // limits of a raw value (not used for type 1)
    int32_t maxRaw = 0;
    uint16_t decimals = 0;
    uint16_t factor = 1;
    int16_t unit = 0; // unit code
    int16_t exp = 0;  // power-of-ten code
    uint16_t reserved = 0;
    std::string onText; // type 1 only, at most 7 characters each
    std::string offText;
    uint32_t initialRaw = 0; // value every channel (or the board) starts with

    bool operator==(const CrateParam &) const = default;
};

// Helpers to write a model briefly.
CrateParam numericParam(const std::string &name, bool writable, int32_t minRaw, int32_t maxRaw,
                        uint16_t decimals, uint16_t factor, int16_t unit, int16_t exp,
                        uint32_t initialRaw = 0, bool isSigned = false);
CrateParam onOffParam(const std::string &name, bool writable, const std::string &onText,
                      const std::string &offText, uint32_t initialRaw = 0);
CrateParam wordParam(const std::string &name, uint16_t type /* 2, 3 or 4 */, bool writable,
                     uint32_t initialRaw = 0);

struct CrateBoard {
    std::string model; // no ':' (the crate map separates fields with it)
    std::string description;
    uint16_t serial = 0;   // in the slot record and the board test
    uint32_t serial32 = 0; // in the serial-number tail of the crate map
    uint8_t fwMajor = 1;
    uint8_t fwMinor = 0;
    unsigned channels = 0;
    std::vector<CrateParam> boardParams;
    std::vector<CrateParam> channelParams;                             // every channel's list
    std::map<unsigned, std::vector<CrateParam>> channelParamsOverride; // channel -> its own list
    std::vector<std::string> channelNames;                             // missing entries read as "CHANnnn"

    const std::vector<CrateParam> &paramsOf(unsigned channel) const;
};

// How a system property's bytes are laid out in the reply data of its get
// keyword, and how its set keyword's value bytes are read.
enum class SysPropKind {
    Text,     // get: the text; set: the text (a trailing ':' or NUL is dropped)
    Byte,     // get: one byte; set: high byte ':' low byte (the low byte is kept)
    Clock,    // get: two bytes; set: a 16-bit number, kept as its two bytes
    Word16,   // get and set: 16-bit big-endian
    Word32,   // get: 32-bit big-endian; set: 32-bit value followed by four more bytes (or alone)
    Raw,      // get: the bytes as they are (read only)
    Sessions, // get: the crate's own session list, generated
};

struct CrateSysProp {
    std::string name;       // API name, also the name of subscriptions ("HVFanStat")
    std::string getKeyword; // "GETHVFANSTAT"; several properties may share one (joined with ',')
    std::string setKeyword; // "" when read only
    SysPropKind kind = SysPropKind::Text;
    std::string value; // the bytes as the get reply carries them
};

struct CrateModel {
    std::vector<CrateSysProp> sysProps;
    std::vector<std::string> commands;            // accepted exec keywords ("KILL_1", ...)
    std::vector<std::optional<CrateBoard>> slots; // usually 16, empty optional = empty slot

    // 16 slots, boards of 12 to 48 channels, every current-generation
    // system property, the kill and clear-alarm commands.
    static CrateModel fullCrate();
    // 4 slots, for tests: slot 0 a 4-channel HV board (hvBoard), slot 1
    // empty, slot 2 a 3-channel board with two board parameters (BdStatus,
    // Temp), a signed writable channel parameter VCal (-100.0..100.0,
    // factor 10, decimals 1), and on channel 1 its own V0Set descriptor
    // (factor 100, decimals 2); slot 3 empty.
    static CrateModel smallCrate();
};

// Standard HV board of the presets (V0Set, I0Set, VMon, IMon, RUp, RDWn,
// Trip, SVMax, Pw, POn, PDwn, Status; board parameters BdStatus, HVMax, Temp,
// IntlkMode).
CrateBoard hvBoard(const std::string &model, unsigned channels, uint16_t serial);

// Raw <-> value conversions of a numeric parameter, as the crate defines them.
double rawToValue(const CrateParam &p, uint32_t raw);
uint32_t valueToRaw(const CrateParam &p, double value);

// --------------------------------------------------------------- simulator

// Statuses this crate answers with (its own choice; 0 is success).
enum CrateStatus : int16_t {
    kStatusOk = 0,
    kStatusLoginFailed = 101,    // "Login failed"
    kStatusBadSession = 102,     // "Session not valid"
    kStatusUnknownCommand = 103, // "Command not found"
    kStatusMalformed = 104,      // "Malformed request"
    kStatusSlotEmpty = 105,      // "Slot empty"
    kStatusChannelRange = 106,   // "Channel out of range"
    kStatusParamNotFound = 107,  // "Parameter not found"
    kStatusReadOnly = 108,       // "Parameter read only"
    kStatusValueRange = 109,     // "Value out of range"
};

// One request as it arrived: the frame body byte-exactly (without the 4
// length bytes) and what the simulator made of it.
struct CrateRequest {
    int connection = 0; // running number of the command connection, from 1
    uint32_t declaredLength = 0;
    std::string body;    // exact request bytes
    std::string keyword; // up to the first ':' (the whole body when none)
    int16_t status = 0;  // status the simulator answered with (or would have)
};

// A fault applied to requests whose keyword matches.
struct CrateFault {
    enum Action {
        Refuse,        // answer with `status` and `message` instead of the normal reply
        Close,         // close the connection without replying
        Silent,        // never reply; the connection stays open
        Delay,         // wait `delay`, then reply normally
        SplitLength,   // send the 4 length bytes as 2 + 2, `delay` apart, then the body
        SplitReply,    // send the frame in pieces of `chunk` bytes, `delay` apart
        CutFrame,      // announce the whole reply, send only `bytes` bytes of the frame body, close
        CutData,       // a correctly framed reply whose body is cut to `bytes` bytes
        ReplaceBody,   // send `body` as the framed reply instead
        WrongKeyword,  // echo another keyword ("XXXX" + keyword)
        LengthOverride // announce `bytes` as the length, send the real body, close
    };
    std::string keyword; // "" matches every request; otherwise the exact keyword
    Action action = Refuse;
    int count = 1; // requests it applies to; -1 = every matching request
    int16_t status = kStatusMalformed;
    std::string message = "Refused by test";
    std::chrono::milliseconds delay{0};
    size_t chunk = 1;
    size_t bytes = 0;
    std::string body;
};

// A fault applied to the next event batches.
struct EventFault {
    enum Action {
        BadMagic,     // the first six bytes are not "KORUHV"
        CutBatch,     // send only `bytes` bytes of the batch, then close the event connection
        ItemPastEnd,  // the last item announces more value bytes than the batch holds
        CountTooHigh, // header item count higher than the items sent
        SplitBatch,   // send the batch in pieces of `bytes`, 20 ms apart
        CloseAfter,   // close the event connection after the batch
        // First generation only:
        WrongTotalLength, // the datagram's total-length field is one more than its size
        BadItemMarker,    // the first item's marker byte (offset 1) is 2, not 1
    };
    Action action = BadMagic;
    int count = 1; // batches it applies to; -1 = all
    size_t bytes = 0;
};

// One event item of a hand-made batch.
struct EventItem {
    uint32_t id = 0;
    bool text = false;
    std::string value; // 4 bytes big-endian for a number (use number()), the text for text
    static EventItem number(uint32_t id, uint32_t word);
    static EventItem word16(uint32_t id, uint16_t word);
    static EventItem textItem(uint32_t id, const std::string &text);
};

// The first generation (HX1100) differs in login keyword, crate map,
// subscription keywords, system properties, session log and event transport
// (UDP datagrams in place of TCP batches); see hx1100_sim.h.
enum class CrateGeneration { Current, First };

struct CrateSimOptions {
    CrateGeneration generation = CrateGeneration::Current;
    std::string user = "admin";
    std::string password = "admin";
    std::chrono::milliseconds tickPeriod{100};       // ramp and event period
    std::chrono::milliseconds keepAlivePeriod{5000}; // 0: no keep-alive records
    // Each tick VMon moves toward V0Set (Pw on) or 0 (Pw off) at RUp/RDWn
    // volts per second, IMon follows VMon, Status bits 0-2 (on, up, down)
    // follow. Tests that set VMon, IMon or Status themselves turn it off.
    bool ramp = true;
    uint32_t firstSessionId = 0x3A00003A; // ':' bytes on purpose
    size_t maxRequest = 1 << 20;          // longer announced lengths close the connection
};

// Subscription as the crate keeps it (for tests to inspect). The id the
// crate gives: bits 31-24 the board (255 system property, 254 crate message),
// bits 23-8 the channel (0xFFFF for board, system and crate items), bits 7-0
// the parameter's position in the board's or channel's list, in the model's
// system-property list, 255 for a channel's "Name", 0 "KeepAlive" and
// 1 "LiveInsRem"; 0xFFFFFFFF for an item the crate does not know. Events
// carry channel and board values as their raw 32-bit word, a channel name
// and text, raw and session properties as text, other properties as a
// number. New subscriptions send their current value in the next batch; one
// event connection per session and event port, opened from the crate's
// address to the port on the address the subscribing session came from.
struct CrateSubscription {
    uint32_t id = 0;
    uint32_t session = 0;
    uint16_t port = 0;
    int kind = 0; // 0 channel, 1 board, 2 system, 3 crate message
    int board = -1;
    int channel = -1;
    std::string name;
};

class CrateSim : public SimJournal<CrateFault, EventFault, CrateRequest> {
public:
    // bindAddress: 127.0.0.2 and up. port 0 picks an ephemeral port.
    CrateSim(CrateModel model, std::string bindAddress, uint16_t port = 0, CrateSimOptions options = {});
    ~CrateSim();
    CrateSim(const CrateSim &) = delete;
    CrateSim &operator=(const CrateSim &) = delete;

    // Binds and starts serving; false with errorText() when binding failed.
    bool start();
    void stop(); // closes every connection and joins every thread; idempotent
    uint16_t port() const;
    const std::string &address() const;
    std::string errorText() const;

    void setCredentials(const std::string &user, const std::string &password);

    // Values. Each setter marks subscribed items changed; their event goes
    // out with the next batch (at once, not at the next tick).
    bool setChannelValue(unsigned slot, unsigned channel, const std::string &param, double value);
    bool setChannelRaw(unsigned slot, unsigned channel, const std::string &param, uint32_t raw);
    bool setBoardRaw(unsigned slot, const std::string &param, uint32_t raw);
    bool setBoardValue(unsigned slot, const std::string &param, double value);
    bool setChannelName(unsigned slot, unsigned channel, const std::string &name);
    bool setSysProp(const std::string &name, const std::string &bytes);
    // Fault knobs of the model. Raises or lowers conditions of a channel's
    // "Status" (CrateChannelBit of crate_panel.h: over-current, trips...);
    // a raised one stays until lowered here or cleared by the clear-alarm
    // command. The front-panel word follows.
    bool setChannelAlarm(unsigned slot, unsigned channel, uint32_t statusBits, bool raised);
    // A fan of a fan-status property ("HVFanStat", 0 = first fan) fails:
    // it reads status 0 at 0 rpm and the front panel shows a fan failure.
    bool setFanFailed(const std::string &property, unsigned fan, bool failed);
    std::optional<uint32_t> channelRaw(unsigned slot, unsigned channel, const std::string &param) const;
    std::optional<double> channelValue(unsigned slot, unsigned channel, const std::string &param) const;
    std::optional<uint32_t> boardRaw(unsigned slot, const std::string &param) const;
    std::optional<std::string> channelName(unsigned slot, unsigned channel) const;
    std::optional<std::string> sysProp(const std::string &name) const;

    // Live insertion: changes the model and sends a live-insertion message
    // (board 254, slot 1, the word = the slot number) to every subscriber.
    void insertBoard(unsigned slot, CrateBoard board);
    void removeBoard(unsigned slot);

    // Event stream.
    void setSlotSyncStatus(int slotOrMinusOneForSystem, uint8_t statusByte); // default 1
    void sendKeepAlive();                                                    // to every event connection now
    void sendEventBatch(const std::vector<EventItem> &items); // a hand-made batch to every event connection
    void sendRawEvent(const std::string &bytes);              // bytes as they are to every event connection
    void closeEventConnections();
    int eventConnectionCount() const;
    // Waits until an event connection is up (at most `timeout`).
    bool waitEventConnection(std::chrono::milliseconds timeout) const;
    std::vector<CrateSubscription> subscriptions() const;
    // One ramp step of one tick period and an event pass, now; it ramps
    // also when the options turned the periodic ramp off (deterministic tests).
    void tickNow();

    int activeSessions() const;
    // Faults, the request log, protocol errors and the connection count:
    // SimJournal (sim_journal.h).

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace korusim
