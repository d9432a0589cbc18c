/* A scripted stand-in for libkoruhvwrapper: implements the KORUHV_* C API of
 * KORUHVWrapper.h over systems described in C++, and records every call with
 * its arguments. For tests of the program side (model, views, application):
 * link `korufakewrapper` in place of the real wrapper.
 *
 *   fakehv::reset();
 *   fakehv::System sys;
 *   sys.props.push_back({"Name", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("crate")}});
 *   fakehv::Board &b = sys.addBoard(0, 2);            // slot 0, 2 channels
 *   b.params.push_back({"BdStatus", {3, 0, fakehv::Raw::u32(0)}});
 *   b.channels[0].params.push_back({"V0Set", {0, 2, fakehv::Raw::f32(12.5f)}});
 *   int h = fakehv::addSystem(sys);
 *   ... code under test calls KORUHV_* with handle h ...
 *   fakehv::callsOf("KORUHV_SetChParam")  // what was written
 *
 * Reads copy the scripted raw bytes into the caller's buffer; successful
 * writes store the written bytes as the new value. Codes: per item (getCode,
 * setCode, ...), or per function for a whole system (System::codes, checked
 * first). Unknown items answer UNKNOWN_ITEM, closed or unknown handles
 * KORUHV_ERR_NOT_OPEN. All functions are serialised by one lock. */
#ifndef FAKEWRAPPER_H
#define FAKEWRAPPER_H

#include "KORUHVWrapper.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fakehv {

/* Code of a call that names a parameter, property, slot or channel that the
 * script does not have. */
constexpr int UNKNOWN_ITEM = 7;

/* System-property types of the wrapper. */
enum : unsigned {
    SYSPROP_TEXT = 0,
    SYSPROP_FLOAT = 1,
    SYSPROP_U16 = 2,
    SYSPROP_U32 = 3,
    SYSPROP_I16 = 4,
    SYSPROP_I32 = 5,
    SYSPROP_ONOFF = 6
};

/* Raw bytes as the wrapper writes them into a caller's buffer. */
struct Raw {
    std::vector<unsigned char> bytes;

    static Raw f32(float v);
    static Raw u32(uint32_t v);
    static Raw i32(int32_t v);
    static Raw u16(uint16_t v);
    static Raw i16(int16_t v);
    /* The text and its NUL. */
    static Raw text(const std::string &s);
    /* Consecutive cells of cellSize bytes, each a NUL-terminated text (the
     * form of an "Enum" property). */
    static Raw enumTexts(const std::vector<std::string> &texts, size_t cellSize = 15);

    float asF32() const;
    uint32_t asU32() const;
    int32_t asI32() const;
    uint16_t asU16() const;
    int16_t asI16() const;
    /* Up to the first NUL (or the end). */
    std::string asText() const;
};

/* A board or channel parameter. "Type" and "Mode" properties are answered
 * from type and mode unless props holds them. */
struct Param {
    unsigned type = 0;
    unsigned mode = 2;
    Raw value;
    std::map<std::string, Raw> props = {};
    int getCode = 0;
    int setCode = 0;
    std::map<std::string, int> propCodes = {};
};

using NamedParam = std::pair<std::string, Param>;

struct Channel {
    std::string name;
    int nameCode = 0;    /* KORUHV_GetChName */
    int setNameCode = 0; /* KORUHV_SetChName */
    int paramInfoCode = 0;
    std::vector<NamedParam> params;
    Param *find(const std::string &parameter);
};

struct Board {
    unsigned short channelCount = 0; /* 0: empty slot */
    std::string model;
    std::string description;
    uint32_t serial = 0;
    uint8_t fwMinor = 0;
    uint8_t fwMajor = 0;
    int paramInfoCode = 0;
    int presenceCode = 0; /* KORUHV_TestBdPresence */
    std::vector<NamedParam> params;
    std::vector<Channel> channels; /* channelCount entries */
    Param *find(const std::string &parameter);
};

struct SysProp {
    unsigned type = SYSPROP_TEXT;
    unsigned mode = 0;
    Raw value;
    int infoCode = 0;
    int getCode = 0;
    int setCode = 0;
};

using NamedSysProp = std::pair<std::string, SysProp>;

struct System {
    std::vector<NamedSysProp> props;
    int propListCode = 0;
    std::vector<Board> crate; /* index = slot; channelCount 0 is an empty slot */
    int crateMapCode = 0;
    std::vector<std::string> commands;
    std::map<std::string, int> commandCodes;
    std::string errorText;
    /* Forced code per exported function name, e.g. {"KORUHV_GetChParam", 5}. */
    std::map<std::string, int> codes;
    /* Parameter names that subscribe calls refuse (code byte 1 at their place). */
    std::vector<std::string> refusedSubscriptions;
    /* Answer of KORUHV_GetSysProp(handle, "EventDataSocket") (a P8080's own
     * event socket); -1: not a property of this system. */
    int eventDataSocket = -1;

    /* Makes the slot (growing the crate) a board with that many channels. */
    Board &addBoard(unsigned short slot, unsigned short channelCount, const std::string &model = "A1535",
                    uint32_t serial = 0);
    SysProp *findProp(const std::string &property);
};

/* One recorded call. Fields that a function does not have stay at their
 * defaults. value holds the bytes a set call handed over (read by the
 * scripted item's type; empty when the item is unknown). */
struct Call {
    std::string function;
    int handle = -1;
    int slot = -1;
    int channel = -1;
    std::string name;                 /* parameter, property, command or channel name */
    std::string property;             /* property name of a ...ParamProp call */
    std::vector<unsigned short> list; /* slot or channel list */
    Raw value;
    short port = 0;
    unsigned count = 0;
    std::string items; /* names joined by ':' of subscriptions */
    int systemType = -1, linkType = -1;
    std::string address, user, password;
};

/* Forget every system, pending open, event and recorded call. */
void reset();
/* Adds an open system; returns its handle. */
int addSystem(const System &system);
/* The script of an open system, to change it between calls (the reference
 * holds until the next addSystem or KORUHV_InitSystem). */
System &system(int handle);
/* The next KORUHV_InitSystem opens this system (code 0) or fails with the
 * code; without one queued, it opens an empty system. */
void queueInit(const System &system, int code = 0);
/* Events that KORUHV_GetEventData hands out for the socket, one batch per
 * call; with nothing queued it answers KORUHV_ERR_NO_EVENT_READER. */
void queueEvents(int socket, const std::vector<EventRecord> &events,
                 const KORUHV_SYSTEMSTATUS_t &status = {});

/* The next KORUHV_GetEventData on the socket fails with this code (after
 * the batches queued before it). */
void queueEventFailure(int socket, int code);
/* Every port announced by a subscribe call, in call order. */
std::vector<short> announcedPorts();

std::vector<Call> calls();
std::vector<Call> callsOf(const std::string &function);
void clearCalls();

/* Helper for tests: an event record of a value change. */
EventRecord valueEvent(int system, int board, int channel, const std::string &name, const Raw &value);

} // namespace fakehv

#endif
