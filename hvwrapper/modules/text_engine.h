// The engine of the text-protocol module backends. A family is a dialect
// (request and reply grammar, address text, set rules), a parameter table and
// an open hook that identifies the unit and copies its rows; the engine does
// the rest: instances and shared links, transactions, the entry operations of
// BackendOps, subscriptions and the polling thread that raises events.
// Every family keeps its own state (instances, links, locks, threads).
//
// Adding a family: its ParamRow tables, a TextDialect (or the pieces of an
// existing one, bd_dialect.h), an openUnit hook, a TextFamilyState, one
// TextFamily, and MakeTextBackendOps<family>() in the registry.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend_ops.h"

namespace koruhv {

// Value types of a row (flags bits 0-2) and access modes (bits 3-4).
enum ParamType : uint8_t {
    PT_NUMERIC = 0,
    PT_ONOFF = 1,
    PT_CHSTATUS = 2,
    PT_BDSTATUS = 3,
    PT_INTEGER = 4,
    PT_TEXT = 5,
    PT_ENUM = 6,
    PT_NONE = 7,
};
enum ParamMode : uint8_t { PM_READ = 0, PM_COMMAND = 1, PM_READWRITE = 2 };

constexpr uint8_t TypeMode(unsigned type, unsigned mode)
{
    return uint8_t((type & 7u) | ((mode & 3u) << 3));
}

// Behaviour of a row beyond its type, as data so that families stay tables.
enum RowRule : uint8_t {
    RULE_NONE = 0,
    // On/off switch: read from the family's status word, switched by sending
    // the device on or off word as a command without a value.
    RULE_SWITCH,
    // Selects the channel's current range (on word = low range); reads and
    // writes keep the range in the channel's range flag.
    RULE_RANGE_SELECT,
    // Monitor of the low (high) current range: 0 unless the channel is in it.
    RULE_RANGE_LOW,
    RULE_RANGE_HIGH,
    // On/off read: the on word compared without regard to letter case.
    RULE_ONOFF_NOCASE,
    // Status and integer reads: the text is a hexadecimal number.
    RULE_HEX,
};

// One parameter of a text backend. Static tables are copied into every
// instance at open, where limits and decimals may be replaced by the unit's.
struct ParamRow {
    char name[15];         // API name ("VSet")
    char mnemonic[15];     // word on the wire ("VSET")
    uint8_t flags;         // TypeMode()
    float minimum;         // "Minval"
    float maximum;         // "Maxval"
    int16_t decimals;      // "Decimal": decimals the unit reports
    uint16_t textDigits;   // integer digits of a value the library sends
    uint16_t textDecimals; // decimals of a value the library sends
    int8_t unit;           // UnitCode ("Unit")
    int8_t exponent;       // power of ten of the unit ("Exp")
    char onWord[100];      // the unit's text for state 1
    char offWord[100];     // the unit's text for state 0
    char onLabel[100];     // "Onstate"
    char offLabel[100];    // "Offstate"
    char enumLabels[10][15];
    uint8_t rule; // RowRule

    int type() const { return flags & 7; }
    int mode() const { return (flags >> 3) & 3; }
};

enum TextLinkKind { TEXT_LINK_TCP = 0, TEXT_LINK_SERIAL = 1 };

// What an address text says.
struct LinkParams {
    int kind = TEXT_LINK_TCP;
    std::string ip; // TCP
    unsigned short tcpPort = 0;
    std::string port; // serial, the name under /dev
    int baud = 9600, dataBits = 8, stopBits = 0, parity = 0, flow = 0;
    int moduleAddress = 0; // -1: the dialect has none
};

// One open link, shared by every instance on the same port or address. Its
// lock serialises each request with its reply; it lives as long as the link.
struct TextLink {
    int kind = TEXT_LINK_TCP;
    std::string key;
    int fd = -1;
    int refs = 0;
    pthread_mutex_t lock;
    // A request timed out: its reply may still come and must not be taken
    // for the next one's (steady-clock milliseconds).
    int64_t quietUntilMs = 0;
    // TCP: where the link connects; a request that got no whole reply
    // leaves the connection to be replaced before the next request, so a
    // late line can only reach the old one.
    std::string ip;
    unsigned short tcpPort = 0;
    bool reopen = false;
    int64_t reopenAtMs = 0; // no new try before (steady-clock milliseconds)
    // How long the unit took for its recent answers (microseconds, a ring):
    // a reply much faster than these may belong to an earlier request.
    static constexpr int kReplySamples = 8;
    int64_t replyUs[kReplySamples] = {};
    int replySamples = 0;
};

struct TextFamily;

// Where a read of a text row puts its texts (each at most kTextValueMax
// bytes with its NUL: a reply line is never longer).
enum TextValueLayout : uint8_t {
    TEXT_VALUES_NONE = 0,     // not at all (the value cells are 4 bytes)
    TEXT_VALUES_PACKED = 1,   // one after another, each with its NUL, in the values buffer
    TEXT_VALUES_POINTERS = 2, // values holds one char * per listed item, each to a caller's buffer
};
constexpr size_t kTextValueMax = 1024;

constexpr int kTextMaxChannels = 32; // channel bits of a subscription mask

struct TextInstance {
    const TextFamily *family = nullptr;
    int index = -1;
    std::string address; // the text the system was opened with (identifies the event connection)
    LinkParams params;
    TextLink *link = nullptr;

    // Identity.
    std::string model;
    int32_t serialNumber = 0;
    uint8_t firmwareMinor = 0, firmwareMajor = 0;
    int channelCount = 0;     // channels served (at most the family's maximum)
    int unitChannelCount = 0; // channels the unit has: "all channels" requests name this

    // Parameters: board rows first, then channel rows.
    std::vector<ParamRow> rows;
    int boardRowCount = 0;
    std::vector<std::vector<uint16_t>> channelLists; // per channel: row indexes
    // Per channel, for RULE_RANGE_* rows: 1 low range, 0 high. Callers and the
    // polling thread both use it.
    std::atomic<int> rangeFlag[kTextMaxChannels] = {};

    // Subscriptions and the event connection (guarded by lock).
    std::mutex lock;
    std::vector<uint32_t> masks; // per row: board row 1, channel row bit c
    int pollCount = 0;           // subscribed (row, channel) pairs
    int eventSock = -1;
    std::atomic<int64_t> lastSendMs{0};
    // Set by the keep-alive thread when a send failed; the polling thread
    // closes the connection (guarded by lock).
    bool eventSockBroken = false;
    // Serialises the batches of the polling and keep-alive threads.
    std::mutex sendLock;

    // Polling thread, and the keep-alive thread that keeps the event
    // connection from falling silent while a request waits on the unit.
    std::thread thread;
    std::thread keepAliveThread;
    std::mutex stopMutex;
    std::condition_variable stopCv;
    std::atomic<bool> stop{false};
};

enum RequestKind { REQ_MONITOR, REQ_SET, REQ_INFO };

// The grammar of one family.
struct TextDialect {
    // Address text to link parameters; 0, or -1 when it is unusable.
    int (*parseAddress)(const TextFamily &f, const char *link, const char *address, LinkParams *out);
    // The request line, line end included. value is null for a monitor and
    // for a command (a set without a value). 0, or -1 when the value cannot
    // be sent or the line does not fit.
    int (*buildRequest)(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                        const void *value, char *out, size_t cap);
    // False for a line that another module on the link sent; it is not the
    // answer, and the transaction reads on.
    bool (*isOwnReply)(const TextInstance &in, const char *line);
    // Monitor reply (line end already removed) to the value text: 0, the
    // device's error 1..5, or -1.
    int (*parseReply)(const TextInstance &in, const char *mnemonic, const char *line, char *value,
                      size_t cap);
    // Set reply: 0 acknowledged, 1..5 device error, -1 anything else.
    int (*setResult)(const TextInstance &in, const char *line);
    // True when a set of this mnemonic with this value sends nothing.
    bool (*skipSet)(const char *mnemonic, const void *value);
    // Optional, for dialects whose replies name what they answer: false for
    // a line that answers another request. It is read past and puts the
    // link out of step.
    bool (*isReplyTo)(const TextInstance &in, RequestKind kind, const char *mnemonic,
                      const char *line) = nullptr;
};

// Live state of a family. Zero-initialised statics; nothing runs at load.
constexpr int kTextMaxInstances = 48;
struct TextFamilyState {
    pthread_mutex_t tableLock = PTHREAD_MUTEX_INITIALIZER; // instance and link tables
    std::atomic<TextInstance *> instances[kTextMaxInstances] = {};
    TextLink *links[kTextMaxInstances] = {};
    std::atomic<unsigned short> tcpPortOverride{0};
};

struct TextFamily {
    const char *name;
    unsigned short tcpPort;        // default TCP port of the family
    int maxInstances;              // at most kTextMaxInstances
    int maxChannels;               // channel lists and mask bits (at most kTextMaxChannels)
    bool pauseAfterTcpOpen;        // the unit needs a moment after a TCP connect
    bool shareTcpLinks;            // instances on one address share one connection
    const char *channelNameFormat; // GetChName, filled with the channel number
    // Switch rows: the status word's mnemonic and the on state derived from it.
    const char *statusMnemonic;
    int (*switchFromStatus)(long status);
    TextDialect dialect;
    // Identifies the unit and fills the instance's rows (Text_Add*Row); runs
    // after the link is open. 0, or -1 (the open fails).
    int (*openUnit)(TextInstance &in);
    TextFamilyState *state;
    // Optional: the family's own property set (null: Text_RowProperty).
    int (*rowProperty)(const ParamRow &row, const char *prop, void *result) = nullptr;
    // Optional: what makes two links one (null: the serial device the port
    // name leads to, else the name; TCP address and port).
    std::string (*linkKey)(const LinkParams &p) = nullptr;
    // Optional: properties the unit reports itself (channel -1 for a board
    // row): 0 written, 21 refused, -1 not one of them (the table's apply).
    int (*liveProperty)(TextInstance &in, int channel, const ParamRow &row, const char *prop,
                        void *result) = nullptr;
    // Channel rows are polled with one request per subscribed channel (for
    // units without an all-channels request).
    bool pollEachChannel = false;
    // Texts of board and channel reads (default: none).
    TextValueLayout boardTexts = TEXT_VALUES_NONE;
    TextValueLayout channelTexts = TEXT_VALUES_NONE;
    // A write of a row whose type cannot be sent fails (2) instead of
    // succeeding without a request.
    bool refuseUnsendableSets = false;
    // Board rows give a record only when their value changed since the last
    // one sent on the connection (channel rows are sent every cycle).
    bool boardChangesOnly = false;
    // Channel reads and writes take slot 1 as well as slot 0 (the one board).
    bool acceptSlotOne = false;
    // The status word of switch rows (statusMnemonic) is hexadecimal.
    bool statusIsHex = false;
    // GetChParamProp: the answer for a name the channel's list lacks (slot 0),
    // and whether a found row is answered whatever the slot.
    int chPropUnknownParam = 22; // TEXT_UNKNOWN_PARAM
    bool chPropFoundIgnoresSlot = false;
    // Value reads and writes send whatever channel the caller lists (the
    // other channel operations still refuse one at or above the count).
    bool valuesAnyChannel = false;
    // Board reads answer every listed slot as the one board (the value
    // still lands at the slot's position in the list).
    bool bdReadsAnySlot = false;
    // GetChName names the listed channels in order and stops with 10 at the
    // first one at or above the count, the names before it written (else a
    // refused list writes no name).
    bool chNamesUpToRefused = false;
};

// ---- Services for families (open hooks, dialects) ---------------------------

int Text_Monitor(TextInstance &in, int channel, const char *mnemonic, char *value, size_t cap);
// A description request (REQ_INFO), answered like a monitor.
int Text_Info(TextInstance &in, int channel, const char *mnemonic, char *value, size_t cap);
// value null: a command, always sent.
int Text_Set(TextInstance &in, int channel, const char *mnemonic, const void *value);
void Text_AddBoardRow(TextInstance &in, const ParamRow &row);
// Adds the row to the list of every channel; returns its row index.
int Text_AddChannelRow(TextInstance &in, const ParamRow &row);
const ParamRow *Text_FindRowByMnemonic(const TextInstance &in, const char *mnemonic);
// The row of an API name (null name or none: null).
const ParamRow *Text_FindRowByName(const TextInstance &in, const char *name);
int Text_ErrorToken(const char *reply);
// The common properties of a row ("Type", "Mode", "Minval", "Maxval", "Unit",
// "Exp", "Decimal", "Onstate", "Offstate"): 0 written, 21 unknown property.
int Text_RowProperty(const ParamRow &row, const char *prop,
                     void *result); // "CMD" 1, "CH" 2, "PAR" 3, "VAL" 4, "LOC" 5, else -1
void Text_SleepMs(int ms);
// The open instance at an index, or null.
TextInstance *Text_FindInstance(const TextFamily &f, int index);

// Timing; tests shorten it through Text_SetTimingForTests only.
struct TextTiming {
    int pollMs = 500;       // polling period
    int keepAliveMs = 4000; // longest silence on an event connection
    int rowPauseMs = 100;   // pause between the rows read at open
    int tcpSettleMs = 1000; // pause after a TCP open
};
TextTiming Text_Timing();
void Text_SetTimingForTests(const TextTiming &t);
// Port of a family's TCP links (0 restores the family's default).
void Text_SetTcpPortForTests(const TextFamily &f, unsigned short port);
unsigned short Text_TcpPort(const TextFamily &f);

// ---- Entry operations, instance index first ---------------------------------

int Text_InitSystem(const TextFamily &f, const char *link, const char *address, int *index);
int Text_DeinitSystem(const TextFamily &f, int index);
int Text_GetCrateMap(const TextFamily &f, int index, uint16_t *slotCount, char **models, char **descriptions,
                     uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors);
int Text_GetSysComp(const TextFamily &f, int index, uint8_t *crateCount, uint16_t **crateWords,
                    uint32_t **slotWords);
int Text_GetSysPropList(const TextFamily &f, int index, uint16_t *count, char **names);
int Text_GetBdParam(const TextFamily &f, int index, uint16_t slotCount, const uint16_t *slots,
                    const char *name, void *values);
int Text_SetBdParam(const TextFamily &f, int index, uint16_t slotCount, const uint16_t *slots,
                    const char *name, const void *values);
int Text_GetBdParamProp(const TextFamily &f, int index, uint16_t slot, const char *param, const char *prop,
                        void *result);
int Text_GetBdParamInfo(const TextFamily &f, int index, uint16_t slot, char **names);
int Text_GetChParamProp(const TextFamily &f, int index, uint16_t slot, uint16_t channel, const char *param,
                        const char *prop, void *result);
int Text_GetChParamInfo(const TextFamily &f, int index, uint16_t slot, uint16_t channel, char **names,
                        int *count);
int Text_GetChName(const TextFamily &f, int index, uint16_t slot, uint16_t count, const uint16_t *channels,
                   char (*names)[KORUHV_CHANNEL_NAME_SIZE]);
int Text_GetChParam(const TextFamily &f, int index, uint16_t slot, const char *name, uint16_t count,
                    const uint16_t *channels, void *values);
int Text_SetChParam(const TextFamily &f, int index, uint16_t slot, const char *name, uint16_t count,
                    const uint16_t *channels, const void *values);
int Text_GetExecCommList(const TextFamily &f, int index, uint16_t *count, char **names);
int Text_ExecComm(const TextFamily &f, int index, const char *name);
int Text_Subscribe(const TextFamily &f, int index, unsigned short port, uint16_t count, const char *items,
                   char *results);
int Text_UnSubscribe(const TextFamily &f, int index, uint16_t count, const char *items, char *results);
bool Text_AnyInstanceOpen(const TextFamily &f);
void Text_ResetInstances(const TextFamily &f);

// Entry-operation codes.
enum TextCode {
    TEXT_WRITE_FAILED = 2,
    TEXT_READ_FAILED = 3,
    TEXT_NO_PRESENCE_TEST = 6,
    TEXT_NO_MEMORY = 9,
    TEXT_OUT_OF_RANGE = 10,
    TEXT_UNKNOWN_PROPERTY = 21,
    TEXT_UNKNOWN_PARAM = 22,
    TEXT_COUNT_MISMATCH = 26,
    TEXT_EVENT_SOCKET = 28,
    TEXT_NOT_OPEN = 4098,
};

// Internal to the engine (polling thread, started and stopped by init/deinit).
void TextPoll_Run(TextInstance *in);
void TextPoll_KeepAlive(TextInstance *in);
// Closes the event connection of an instance (under its lock).
void TextPoll_CloseEventSocket(TextInstance &in);

// ---- BackendOps of a family -------------------------------------------------

template <const TextFamily &F> struct TextBackendAdapter {
    static int InitSystem(const char *link, const char *address, const char *, const char *, int *out)
    {
        return Text_InitSystem(F, link, address, out);
    }
    static int DeinitSystem(const BackendRef &b) { return Text_DeinitSystem(F, b.handle); }
    static int GetCrateMap(const BackendRef &b, uint16_t *n, char **m, char **d, uint32_t **s, uint8_t **mi,
                           uint8_t **ma)
    {
        return Text_GetCrateMap(F, b.handle, n, m, d, s, mi, ma);
    }
    static int GetSysComp(const BackendRef &b, uint8_t *c, uint16_t **cw, uint32_t **sw)
    {
        return Text_GetSysComp(F, b.handle, c, cw, sw);
    }
    static int GetSysPropList(const BackendRef &b, uint16_t *c, char **n)
    {
        return Text_GetSysPropList(F, b.handle, c, n);
    }
    static int GetSysPropInfo(const BackendRef &, const char *, uint32_t *, uint32_t *)
    {
        return TEXT_UNKNOWN_PARAM;
    }
    static int GetSysProp(const BackendRef &, const char *, void *) { return TEXT_UNKNOWN_PARAM; }
    static int SetSysProp(const BackendRef &, const char *, void *) { return TEXT_UNKNOWN_PARAM; }
    static int GetBdParam(const BackendRef &b, uint16_t n, const uint16_t *s, const char *p, void *v)
    {
        return Text_GetBdParam(F, b.handle, n, s, p, v);
    }
    static int SetBdParam(const BackendRef &b, uint16_t n, const uint16_t *s, const char *p, void *v)
    {
        return Text_SetBdParam(F, b.handle, n, s, p, v);
    }
    static int GetBdParamProp(const BackendRef &b, uint16_t s, const char *p, const char *q, void *r)
    {
        return Text_GetBdParamProp(F, b.handle, s, p, q, r);
    }
    static int GetBdParamInfo(const BackendRef &b, uint16_t s, char **n)
    {
        return Text_GetBdParamInfo(F, b.handle, s, n);
    }
    static int TestBdPresence(const BackendRef &, uint16_t, char *, char *, uint16_t *, uint8_t *, uint8_t *)
    {
        return TEXT_NO_PRESENCE_TEST;
    }
    static int GetChParamProp(const BackendRef &b, uint16_t s, uint16_t c, const char *p, const char *q,
                              void *r)
    {
        return Text_GetChParamProp(F, b.handle, s, c, p, q, r);
    }
    static int GetChParamInfo(const BackendRef &b, uint16_t s, uint16_t c, char **n, int *k)
    {
        return Text_GetChParamInfo(F, b.handle, s, c, n, k);
    }
    static int GetChName(const BackendRef &b, uint16_t s, uint16_t n, const uint16_t *c,
                         char (*names)[KORUHV_CHANNEL_NAME_SIZE])
    {
        return Text_GetChName(F, b.handle, s, n, c, names);
    }
    static int SetChName(const BackendRef &, uint16_t, uint16_t, const uint16_t *, const char *)
    {
        return TEXT_WRITE_FAILED;
    }
    static int GetChParam(const BackendRef &b, uint16_t s, const char *p, uint16_t n, const uint16_t *c,
                          void *v)
    {
        return Text_GetChParam(F, b.handle, s, p, n, c, v);
    }
    static int SetChParam(const BackendRef &b, uint16_t s, const char *p, uint16_t n, const uint16_t *c,
                          void *v)
    {
        return Text_SetChParam(F, b.handle, s, p, n, c, v);
    }
    static int GetExecCommList(const BackendRef &b, uint16_t *n, char **l)
    {
        return Text_GetExecCommList(F, b.handle, n, l);
    }
    static int ExecComm(const BackendRef &b, const char *c) { return Text_ExecComm(F, b.handle, c); }
    static int Subscribe(const BackendRef &b, short port, uint16_t n, const char *items, char *results)
    {
        return Text_Subscribe(F, b.handle, static_cast<unsigned short>(port), n, items, results);
    }
    static int UnSubscribe(const BackendRef &b, short, uint16_t n, const char *items, char *results)
    {
        return Text_UnSubscribe(F, b.handle, n, items, results);
    }
    static const char *GetError(const BackendRef &) { return ""; }
    static bool AnyInstanceOpen() { return Text_AnyInstanceOpen(F); }
    static void ResetInstances() { Text_ResetInstances(F); }
};

template <const TextFamily &F> constexpr BackendOps MakeTextBackendOps(int family, const char *namePrefix)
{
    using A = TextBackendAdapter<F>;
    BackendOps ops{};
    ops.family = family;
    ops.namePrefix = namePrefix;
    ops.flags = BACKEND_LOCAL_EVENTS;
    ops.requestLockOps = 0;
    ops.InitSystem = A::InitSystem;
    ops.DeinitSystem = A::DeinitSystem;
    ops.GetCrateMap = A::GetCrateMap;
    ops.GetSysComp = A::GetSysComp;
    ops.GetSysPropList = A::GetSysPropList;
    ops.GetSysPropInfo = A::GetSysPropInfo;
    ops.GetSysProp = A::GetSysProp;
    ops.SetSysProp = A::SetSysProp;
    ops.GetBdParam = A::GetBdParam;
    ops.SetBdParam = A::SetBdParam;
    ops.GetBdParamProp = A::GetBdParamProp;
    ops.GetBdParamInfo = A::GetBdParamInfo;
    ops.TestBdPresence = A::TestBdPresence;
    ops.GetChParamProp = A::GetChParamProp;
    ops.GetChParamInfo = A::GetChParamInfo;
    ops.GetChName = A::GetChName;
    ops.SetChName = A::SetChName;
    ops.GetChParam = A::GetChParam;
    ops.SetChParam = A::SetChParam;
    ops.GetExecCommList = A::GetExecCommList;
    ops.ExecComm = A::ExecComm;
    ops.Subscribe = A::Subscribe;
    ops.UnSubscribe = A::UnSubscribe;
    ops.GetError = A::GetError;
    ops.AnyInstanceOpen = A::AnyInstanceOpen;
    ops.ResetInstances = A::ResetInstances;
    return ops;
}

} // namespace koruhv
