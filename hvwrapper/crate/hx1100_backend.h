// Family 0: the first-generation crate mainframes (system types 0 and 1).
// The operations table the registry lists and the internal entry points the
// tests reach (context table, subscription list, value decoders, datagram
// decoder).
#pragma once

#include <cstddef>
#include <cstdint>

#include "backend_ops.h"
#include "crate_sysinfo.h"
#include "crate_transport.h"

namespace koruhv {

extern const BackendOps kHX1100Backend;

CrateContext *HX1100_Contexts();
// What the shared crate operations need to know of the family (crate_ops.h).
struct CrateFamily;
const CrateFamily &HX1100_Family();

// System properties (first-generation table). Texts are cut to
// KORUHV_SYSPROP_TEXT_SIZE - 1 characters.
int HX1100_GetSysPropInfo(const BackendRef &b, const char *name, uint32_t *mode, uint32_t *type);
int HX1100_GetSysProp(const BackendRef &b, const char *name, void *result);
int HX1100_SetSysProp(const BackendRef &b, const char *name, void *value);

// Subscriptions.
int HX1100_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
int HX1100_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);

// Subscription list of one context: id -> item name, kind and a copy of the
// item's descriptor. Guarded by the context's data lock.
struct HX1100SubNode {
    int32_t id = -1;
    int16_t kind = 0;
    char itemName[50] = {};     // at most 49 characters
    ParamDescriptor descriptor; // empty name: none
};
constexpr size_t kHX1100ItemNameMax = 49;
// Adds a node in front (descriptor looked up in the context's system
// information). false when memory runs out.
bool HX1100_SubList_Add(int handle, int32_t id, const char *itemName);
// Copy of the node with that id; false when none.
bool HX1100_SubList_FindById(int handle, int32_t id, HX1100SubNode *out);
void HX1100_SubList_RemoveByName(int handle, const char *itemName);
void HX1100_SubList_Clear(int handle);
size_t HX1100_SubList_Size(int handle);
// Ids of a ':'-joined list (-2 for items not in the list), each followed by
// ':', the last ':' replaced by a NUL. 0, or -1 when the count is wrong.
int Crate_EncodeUnsubscribeList(int handle, unsigned count, const char *items, uint8_t **out, size_t *len);

// Value decoders of one event item. value: the item's value bytes (a 32-bit
// big-endian length L followed by L bytes) of at most n bytes.
int HX1100_DecodeParamEvent(const uint8_t *value, size_t n, const ParamDescriptor &d, OldEventRecord *rec);
void HX1100_DecodeSysPropEvent(const uint8_t *value, size_t n, OldEventRecord *rec);
void HX1100_DecodeSpecialEvent(const uint8_t *value, size_t n, OldEventRecord *rec);

// Decodes one datagram of the context's crate: 0 with *events (malloc'ed)
// and *count, or 23. Items cut short by the datagram's end stop the walk.
int HX1100_DecodeDatagram(int handle, const uint8_t *dgram, size_t n, OldEventRecord **events, int *count);
// KORUHVGetEventData: receives one datagram from socket (bounded wait).
int HX1100_GetEventData(int socket, OldEventRecord **events, int *count);
constexpr size_t kHX1100MaxDatagram = 4096;

// Test hook: the datagram wait (default 15 s); 0 restores it.
void HX1100_SetEventTimeoutForTest(int ms);

} // namespace koruhv
