// Family 2: the current-generation crate mainframes HX4400 and HX5500.
// The operations table the registry lists, and the internal entry points
// the tests reach (context table, subscription store, event batch decoder).
#pragma once

#include <cstddef>
#include <cstdint>

#include "backend_ops.h"
#include "crate_transport.h"

namespace koruhv {

extern const BackendOps kHX4400Backend;

// The family's 33 connection contexts (index = backend handle).
CrateContext *HX4400_Contexts();
// What the shared crate operations need to know of the family (crate_ops.h).
struct CrateFamily;
const CrateFamily &HX4400_Family();

// System properties (current-generation table).
int HX4400_GetSysPropInfo(const BackendRef &b, const char *name, uint32_t *mode, uint32_t *type);
// Text results are cut to kSysPropTextSize - 1 characters and ended by a NUL.
int HX4400_GetSysProp(const BackendRef &b, const char *name, void *result);
int HX4400_SetSysProp(const BackendRef &b, const char *name, void *value);
constexpr size_t kSysPropTextSize = KORUHV_SYSPROP_TEXT_SIZE;

// Subscriptions and events.
int HX4400_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
int HX4400_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
int HX4400_GetEventData(const BackendRef &b, int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events,
                        int *count);
int HX4400_SizeSubscriptionStore(const BackendRef &b, int slot, int channelCount);

// Store of one context. Add: 1 stored (or a channel-name id), 0 refused.
int HX4400_SubStore_Add(int handle, int systemHandle, uint32_t id, const char *item);
// 0 with *id, or -1 when the store has no such item.
int HX4400_SubStore_Remove(int handle, const char *item, uint32_t *id);
int HX4400_SubStore_PrepareChannel(int handle, uint16_t slot, uint16_t channel);
// Releases the per-channel arrays of every board block.
void HX4400_SubStore_Free(int handle);
// Empties the whole store (run at login and logout).
void HX4400_SubStore_Clear(int handle);
int HX4400_EncodeUnsubscribeList(int handle, unsigned count, const char *items, uint8_t **out, size_t *len);

// Decodes one batch whose header (kCrateEventHeaderSize bytes) and body are
// in memory; the context's store and system information name the items.
// status is filled from the header. Codes as HX4400_GetEventData.
int HX4400_DecodeEventBatch(int handle, int systemHandle, const uint8_t *header, const uint8_t *body,
                            size_t bodyLen, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events, int *count);
constexpr size_t kCrateEventHeaderSize = 45;

// Test hook: the event reader's wait (default 16 s); 0 restores it.
void HX4400_SetEventTimeoutForTest(int ms);

} // namespace koruhv
