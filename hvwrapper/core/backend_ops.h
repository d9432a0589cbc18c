// The operations every device family implements behind the API front.
// A family is one BackendOps table plus its own files; the front looks the
// table up by the slot's family code and never knows a family by name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KORUHVWrapper.h"

namespace koruhv {

// What the front hands to every operation after the open.
struct BackendRef {
    int handle;    // backend handle stored in the slot (context, instance or device index)
    void *library; // handle of the outside communication library, register families only
    int slot;      // wrapper slot index (0..99)
};

// Operation numbers, used for the request-lock mask.
enum BackendOp : unsigned {
    OP_DEINIT,
    OP_GET_CRATE_MAP,
    OP_GET_SYS_COMP,
    OP_GET_SYS_PROP_LIST,
    OP_GET_SYS_PROP_INFO,
    OP_GET_SYS_PROP,
    OP_SET_SYS_PROP,
    OP_GET_BD_PARAM,
    OP_SET_BD_PARAM,
    OP_GET_BD_PARAM_PROP,
    OP_GET_BD_PARAM_INFO,
    OP_TEST_BD_PRESENCE,
    OP_GET_CH_PARAM_PROP,
    OP_GET_CH_PARAM_INFO,
    OP_GET_CH_NAME,
    OP_SET_CH_NAME,
    OP_GET_CH_PARAM,
    OP_SET_CH_PARAM,
    OP_GET_EXEC_COMM_LIST,
    OP_EXEC_COMM,
    OP_SUBSCRIBE,
    OP_UNSUBSCRIBE,
    OP_GET_ERROR,
    OP_COUNT
};

constexpr uint32_t opBit(BackendOp op)
{
    return 1u << op;
}
constexpr uint32_t kAllOps = (1u << OP_COUNT) - 1u;

enum BackendFlags : uint32_t {
    // The family's polling threads write local event batches from 127.0.0.1.
    BACKEND_LOCAL_EVENTS = 1u << 0,
    // GetCrateMap walks every crate of the composition and drops the last
    // slot (the rack supply).
    BACKEND_CRATE_MAP_ALL_CRATES = 1u << 1,
    // DeinitSystem runs even when the stored backend handle is negative.
    BACKEND_DEINIT_ALWAYS = 1u << 2,
    // The code of DeinitSystem becomes the result of KORUHV_DeinitSystem
    // (otherwise the close reports 0).
    BACKEND_DEINIT_RETURNS_CODE = 1u << 3,
    // Opened through the outside communication library (OpenDevice).
    BACKEND_REGISTER_LINK = 1u << 4,
};

struct BackendOps {
    int family;              // family code stored in the slot
    const char *namePrefix;  // internal name prefix, e.g. "KORU_L2290_HVW_"
    uint32_t flags;          // BackendFlags
    uint32_t requestLockOps; // opBit() of every operation run under the slot's request lock

    // Open over a link. link is the keyword ("TCP/IP", "USBVCP", ...), address
    // the text the backend sees. Returns 0 with *outHandle set; a negative
    // result is mapped by the core (-2/-4 -> 4103, -1/-5 -> 4100, other
    // negative values unchanged); a positive result is a failure returned as is.
    int (*InitSystem)(const char *link, const char *address, const char *user, const char *password,
                      int *outHandle);
    // Register families: open a device through the outside library. ipText is
    // the IP address for TCP/IP (else null), linkNumber the link otherwise.
    // Returns the device index (0 or more) or a negative value.
    int (*OpenDevice)(int connType, const char *ipText, int linkNumber, int node, uint32_t baseAddress,
                      void *library);

    int (*DeinitSystem)(const BackendRef &b);
    int (*GetCrateMap)(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                       uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors);
    // crateWords: low byte = slot count of the crate; slotWords: low 16 bits =
    // channel count of the slot. Both lists malloc'ed; the front frees them.
    int (*GetSysComp)(const BackendRef &b, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords);
    int (*GetSysPropList)(const BackendRef &b, uint16_t *count, char **names);
    int (*GetSysPropInfo)(const BackendRef &b, const char *name, uint32_t *mode, uint32_t *type);
    int (*GetSysProp)(const BackendRef &b, const char *name, void *result);
    int (*SetSysProp)(const BackendRef &b, const char *name, void *value);
    int (*GetBdParam)(const BackendRef &b, uint16_t slotCount, const uint16_t *slots, const char *name,
                      void *values);
    int (*SetBdParam)(const BackendRef &b, uint16_t slotCount, const uint16_t *slots, const char *name,
                      void *value);
    int (*GetBdParamProp)(const BackendRef &b, uint16_t slot, const char *param, const char *prop,
                          void *result);
    int (*GetBdParamInfo)(const BackendRef &b, uint16_t slot, char **names);
    // model and description are KORUHV_BOARD_TEXT_SIZE-byte buffers.
    int (*TestBdPresence)(const BackendRef &b, uint16_t slot, char *model, char *description,
                          uint16_t *serialNumber, uint8_t *firmwareMinor, uint8_t *firmwareMajor);
    int (*GetChParamProp)(const BackendRef &b, uint16_t slot, uint16_t channel, const char *param,
                          const char *prop, void *result);
    int (*GetChParamInfo)(const BackendRef &b, uint16_t slot, uint16_t channel, char **names, int *count);
    int (*GetChName)(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels,
                     char (*names)[KORUHV_CHANNEL_NAME_SIZE]);
    int (*SetChName)(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels,
                     const char *name);
    int (*GetChParam)(const BackendRef &b, uint16_t slot, const char *name, uint16_t count,
                      const uint16_t *channels, void *values);
    int (*SetChParam)(const BackendRef &b, uint16_t slot, const char *name, uint16_t count,
                      const uint16_t *channels, void *value);
    int (*GetExecCommList)(const BackendRef &b, uint16_t *count, char **names);
    int (*ExecComm)(const BackendRef &b, const char *name);
    int (*Subscribe)(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
    int (*UnSubscribe)(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
    const char *(*GetError)(const BackendRef &b);

    // Event reader for sockets whose peer is the device (crate families);
    // null for families without one.
    int (*GetEventData)(const BackendRef &b, int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events,
                        int *count);
    // Old first-generation datagram reader (KORUHVGetEventData); family 0 only.
    int (*GetOldEventData)(int socket, OldEventRecord **events, int *count);
    // Sizes the event store of a slot from the crate map (crate families).
    int (*SizeSubscriptionStore)(const BackendRef &b, int slot, int channelCount);
    // Local families: true while any instance of the family is open.
    bool (*AnyInstanceOpen)();
    // Clears the family's instance table (run by the table initialiser).
    void (*ResetInstances)();
};

// Table of the family serving a family code; null for an unknown code.
const BackendOps *Backend_ForFamily(int family);

// Every registered family, for walks over all of them (local-instance test,
// instance reset). Ends with null.
const BackendOps *const *Backend_All();

} // namespace koruhv
