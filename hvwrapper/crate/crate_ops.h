// Operations the crate-protocol backends share: one request and its reply,
// the system information, crate map, composition, board test, board and
// channel parameters, channel names, parameter information and properties,
// and exec commands, and opening and closing a system. A CrateFamily names
// what differs between the generations (property table, crate-map tail,
// write-back of set values, login); each backend keeps its own context
// table and calls these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "KORUHVWrapper.h"
#include "crate_protocol.h"
#include "crate_transport.h"

namespace koruhv {

struct CrateFamily {
    CrateContext *contexts;   // kCrateContexts entries
    int generation;           // CrateGeneration: property table
    bool crateMapSerialTail;  // crate map ends with one 32-bit serial number per slot
    bool writeBackSetValue;   // numeric SetChParam hands back the value actually sent
    const char *loginKeyword; // "LOGINSYSTEM", "LOGIN"
    int loginRefused;         // InitSystem's code for a login the crate refuses
    bool addressPrefix;       // the front may hand the address as "FAMILY:a.b.c.d"
    // Empties the family's subscription bookkeeping of a context (at login and logout).
    void (*clearSubscriptions)(int handle);
};

// A parsed reply: owns the bytes; data() is the reply data from the offset.
struct CrateReply {
    uint8_t *bytes = nullptr;
    size_t len = 0;
    uint32_t offset = 0;
    CrateReply() = default;
    CrateReply(const CrateReply &) = delete;
    CrateReply &operator=(const CrateReply &) = delete;
    ~CrateReply() { std::free(bytes); }
    ByteCursor data(ByteOrder o) const
    {
        size_t off = offset <= len ? offset : len;
        return ByteCursor(bytes ? bytes + off : nullptr, len - off, o);
    }
};

// Context of a handle, or null when out of range or not logged in.
CrateContext *CrateFamily_Context(const CrateFamily &f, int handle);

// Sends the header of keyword plus the argument bytes in args (which start
// after the header) and parses the reply. raw: hand the reply back unparsed.
int Crate_Request(CrateContext &ctx, const char *keyword, const RequestBuffer *args, CrateReply *reply,
                  bool raw = false);
// Reports reply data shorter than its counts: code 3 with our text.
int Crate_Malformed(CrateContext &ctx);

int CrateOp_GetSysInfo(CrateContext &ctx);
int CrateOp_GetCrateMap(const CrateFamily &f, CrateContext &ctx, uint16_t *slotCount, char **models,
                        char **descriptions, uint32_t **serialNumbers, uint8_t **firmwareMinors,
                        uint8_t **firmwareMajors);
int CrateOp_GetSysComp(CrateContext &ctx, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords);
int CrateOp_TestBdPresence(CrateContext &ctx, uint16_t slot, char *model, char *description,
                           uint16_t *serialNumber, uint8_t *firmwareMinor, uint8_t *firmwareMajor);

int CrateOp_GetBdParam(CrateContext &ctx, uint16_t n, const uint16_t *slots, const char *name, void *values);
int CrateOp_SetBdParam(CrateContext &ctx, uint16_t n, const uint16_t *slots, const char *name, void *value);
int CrateOp_GetChParam(CrateContext &ctx, uint16_t slot, const char *name, uint16_t n,
                       const uint16_t *channels, void *values);
int CrateOp_SetChParam(const CrateFamily &f, CrateContext &ctx, uint16_t slot, const char *name, uint16_t n,
                       const uint16_t *channels, void *value);
int CrateOp_GetChName(CrateContext &ctx, uint16_t slot, uint16_t n, const uint16_t *channels,
                      char (*names)[KORUHV_CHANNEL_NAME_SIZE]);
int CrateOp_SetChName(CrateContext &ctx, uint16_t slot, uint16_t n, const uint16_t *channels,
                      const char *name);

// Parameter names in 10-byte cells (NUL-padded; a 10-character name fills
// its cell) followed by one empty cell.
int CrateOp_GetBdParamInfo(CrateContext &ctx, uint16_t slot, char **names);
int CrateOp_GetChParamInfo(CrateContext &ctx, uint16_t slot, uint16_t channel, char **names, int *count);
int CrateOp_GetBdParamProp(CrateContext &ctx, uint16_t slot, const char *param, const char *prop,
                           void *result);
int CrateOp_GetChParamProp(CrateContext &ctx, uint16_t slot, uint16_t channel, const char *param,
                           const char *prop, void *result);

// Property and exec-command name lists of the family's table.
int CrateOp_GetSysPropList(const CrateFamily &f, CrateContext &ctx, uint16_t *count, char **names);
int CrateOp_GetExecCommList(const CrateFamily &f, CrateContext &ctx, uint16_t *count, char **names);
int CrateOp_ExecComm(const CrateFamily &f, CrateContext &ctx, const char *name);

// Sends "LOGOUT"; 0 or the code.
int CrateOp_Logout(CrateContext &ctx);

// Opening a system: claims the first free context, opens the command
// connection, logs in and reads the system information; 0 with *outHandle
// (-1 on failure), -1, or f.loginRefused when the crate refused the login.
int CrateFamily_Open(const CrateFamily &f, const char *link, const char *address, const char *user,
                     const char *password, int *outHandle);
// Closing it: the logout's code; whatever the crate answered, the connection
// is closed once and everything it named is gone.
int CrateFamily_Close(const CrateFamily &f, CrateContext &ctx, int handle);
// The last message of a context ("" for a handle out of range).
const char *CrateFamily_Error(const CrateFamily &f, int handle);

constexpr size_t kParamNameCell = 10;

} // namespace koruhv
