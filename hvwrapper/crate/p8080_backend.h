// Family 16: the rack supply. It speaks the keyword commands of the crate
// protocol little-endian on TCP port 9146, logs in with an RSA-encrypted
// password, and reports changes on a second connection of its own. The
// operations table the registry lists and the internal entry points the
// tests reach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "backend_ops.h"
#include "crate_protocol.h"
#include "crate_sysinfo.h"
#include "crate_transport.h"

namespace koruhv {

extern const BackendOps kP8080Backend;

constexpr uint16_t kP8080Port = 9146;
constexpr int kP8080SysBoard = 150;  // pseudo-board of the system parameters
constexpr int kP8080MaxModule = 149; // highest module board number

// Codes of the rack-supply backend.
enum P8080Code {
    P8080_ERR_SEND = 2,
    P8080_ERR_RECEIVE = 3,
    P8080_ERR_SLOT = 7,
    P8080_ERR_MEMORY = 9,
    P8080_ERR_RANGE = 10,
    P8080_ERR_CONFIG = 20,
    P8080_ERR_PROP = 21,
    P8080_ERR_PARAM = 22,
    P8080_ERR_REPLY = 23,
    P8080_ERR_LOGOUT = 4101,
};

// Per-context state beside the shared CrateContext.
struct P8080Link {
    std::string deviceAddress; // login address, for the event connection
    int eventSocket = -1;
    int itemCount = 0;
    // Serialises every operation of the context, the event thread's
    // keep-alive answer included (the front takes the slot's request lock
    // for only a few of them). Never taken by the event reader's wait.
    std::mutex opLock;
    // Serialises the frames on the command connection, whoever sends them
    // (operations, the event thread's keep-alive answer, the login).
    std::mutex cmdLock;
    // Guards eventSocket, readerActive and pendingClose against the event
    // thread. A connection closed while the event thread reads it is shut
    // down at once and released by the reader, so its descriptor is
    // closed once and never reused beneath a read.
    std::mutex eventLock;
    bool readerActive = false;
    int pendingClose = -1;
    // Command connection out of step (a reply timed out or came unasked,
    // or did not echo its request): the next exchange first sends a request
    // whose reply it can tell apart and drops every frame before that
    // reply. late: keyword of the request whose reply may still come; sent:
    // of the last request that went out. Under cmdLock.
    bool outOfStep = false;
    char late[24] = {};
    char sent[24] = {};
};

// Shuts the context's event connection down (closing it now or, while the
// event thread reads it, when the read ends).
void P8080_CloseEventLink(P8080Link &l);

CrateContext *P8080_Contexts();
P8080Link *P8080_Links();

// Little-endian framing primitives.
int16_t Le_ReadI16(const uint8_t *p);
uint32_t Le_ReadU32(const uint8_t *p);
void Le_PutU16(uint8_t *buf, size_t index, uint16_t v);
void Le_PutU32(uint8_t *buf, size_t index, uint32_t v);

// A request payload under construction: keyword ':' session id, then the
// operation's fields (RequestBuffer little-endian).
bool P8080_BeginRequest(RequestBuffer &buf, const char *keyword, uint32_t session);

// One request and its reply on the command connection, under the
// context's command lock, every wait bounded. 0 with *reply (malloc'ed),
// 2 send failure, 3 receive failure. A connection out of step is brought
// back in step first (see P8080Link); one whose stream broke, or that
// cannot be brought back, is shut, and every later exchange gives 2.
int P8080_Exchange(int handle, const RequestBuffer &req, uint8_t **reply, size_t *len);
// Receives one frame (length, then exactly that many bytes) within the
// reply bound: the payload (malloc'ed) with *status 0, or null with *status
// 3 when a receive fails, the peer closes early or memory runs out.
uint8_t *P8080_RecvFrame(int *status, int socket, size_t *len);
// Takes the token up to ':' and compares it with keyword: 0, else 23.
int P8080_ExpectKeyword(ByteCursor &cur, const char *keyword);
// A frame sent without waiting for a reply (exec commands).
int P8080_SendOnly(int handle, const RequestBuffer &req);

// Checks a reply header: keyword, ':', session id, status, ':', message,
// ':'. 0 with *data positioned at the operation data; 23 for a wrong
// keyword, foreign session, missing separator or short reply; for a
// non-zero status 7 when mapSlot and the status is -3, else 23.
int P8080_CheckReply(const uint8_t *reply, size_t len, const char *keyword, uint32_t session, bool mapSlot,
                     ByteCursor *data);

// One request and its checked reply: the reply header checked against
// keyword (P8080_CheckReply; when that fails and alsoKeyword is given,
// against alsoKeyword), then onData(ByteCursor &) reads the reply data.
// The code of the first step that failed; the reply is freed.
template <typename F>
int P8080_Transact(int handle, const RequestBuffer &req, const char *keyword, bool mapSlot, F onData,
                   const char *alsoKeyword = nullptr)
{
    uint8_t *reply = nullptr;
    size_t len = 0;
    int rc = P8080_Exchange(handle, req, &reply, &len);
    if (rc)
        return rc;
    const uint32_t session = P8080_Contexts()[handle].sessionId;
    ByteCursor data(nullptr, 0);
    rc = P8080_CheckReply(reply, len, keyword, session, mapSlot, &data);
    if (rc && alsoKeyword)
        rc = P8080_CheckReply(reply, len, alsoKeyword, session, mapSlot, &data);
    if (rc == 0)
        rc = onData(data);
    std::free(reply);
    return rc;
}

// Parses "GETSYSINFO" data in the rack's wire form. 0 with *out, or 9.
int P8080_ParseSystemInfo(ByteCursor &cur, CrateSystemInfo **out);

// Scaling of the rack's values.
float P8080_RawToValue(const ParamDescriptor &d, uint32_t raw);
uint32_t P8080_ValueToRaw(const ParamDescriptor &d, float value);

// Operations (also reached by the tests).
int P8080_InitSystem(const char *link, const char *address, const char *user, const char *password,
                     int *outHandle);
int P8080_DeinitSystem(const BackendRef &b);
int P8080_GetCrateMap(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                      uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors);
int P8080_GetSysInfo(int handle);
int P8080_GetSysProp(const BackendRef &b, const char *name, void *result);
int P8080_ExecComm(const BackendRef &b, const char *name);

// Subscriptions and events.
int P8080_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
int P8080_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
int P8080_GetEventData(const BackendRef &b, int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events,
                       int *count);
int P8080_SizeSubscriptionStore(const BackendRef &b, int board, int channelCount);
// Store of one context: 1 stored, 0 refused.
int P8080_StoreSubscription(int handle, int systemHandle, uint32_t id, const char *item);
// 0 with *id, or -1 when not found.
int P8080_RemoveSubscription(int handle, const char *item, uint32_t *id);
// Makes the channel's slot array (one slot per channel parameter) and the
// board's per-channel arrays when missing; false when memory runs out.
bool P8080_PrepareChannelStore(int handle, int board, int channelCount, int channel, int paramCount);
void P8080_ClearSubscriptionStore(int handle);
// Empties the whole store, items included (a new login starts clean).
void P8080_ResetSubscriptionStore(int handle);
// Decodes one event batch payload with the context's store and system
// information. *keepAlive is set when the rack asked for a keep-alive
// answer. Codes as P8080_GetEventData.
int P8080_DecodeEventBatch(int handle, const uint8_t *payload, size_t len, EventRecord **events, int *count,
                           bool *keepAlive);

// Test hooks (internal): the command port, the public key and the wait of
// the event reader for a batch to start (default 15 s; on silence it
// answers 27, nothing to read). 0 / null restore the defaults.
void P8080_SetPortForTest(uint16_t port);
void P8080_SetPublicKeyForTest(const char *pem);
void P8080_SetEventIdleForTest(int ms);
const char *P8080_PublicKey();

} // namespace koruhv
