/* Public C interface of libkoruhvwrapper: one parameter model over every
 * supply family. Every call returns a signed 32-bit code, 0 on success.
 * Lists returned through pointer-to-pointer arguments are allocated with
 * malloc by the library and released by the caller with KORUHV_Free;
 * event arrays are released with KORUHV_FreeEventData. */
#ifndef KORUHVWRAPPER_H
#define KORUHVWRAPPER_H

#include <stdint.h>

#if defined(KORUHV_BUILDING_LIBRARY)
#define KORUHV_API __attribute__((visibility("default")))
#else
#define KORUHV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes produced by the wrapper itself (backends add their own). */
enum {
    KORUHV_OK = 0,
    KORUHV_ERR_PEER_ADDRESS = 3,
    KORUHV_ERR_NO_MEMORY = 9,
    KORUHV_ERR_EVENT_TIMEOUT = 23,
    KORUHV_ERR_ALREADY_OPEN = 24,
    KORUHV_ERR_TABLE_FULL = 25,
    KORUHV_ERR_BAD_ARGUMENT = 26,
    KORUHV_ERR_NO_EVENT_READER = 27,
    KORUHV_ERR_EVENT_SOCKET = 28,
    KORUHV_ERR_EVENT_HEADER = 29,
    KORUHV_ERR_NOT_OPEN = 4098,
    KORUHV_ERR_OPEN_FAILED = 4100,
    KORUHV_ERR_BAD_LINK = 4102,
    KORUHV_ERR_LOGIN_REFUSED = 4103
};

/* System types of KORUHV_InitSystem, by family (0 and 1 are first-generation
 * crates; any value not listed selects TRIXHV). */
enum {
    KORUHV_SYSTYPE_HX4400 = 2,
    KORUHV_SYSTYPE_HX5500 = 3,
    KORUHV_SYSTYPE_W38XX = 5,
    KORUHV_SYSTYPE_L2290 = 6,
    KORUHV_SYSTYPE_W9300 = 7,
    KORUHV_SYSTYPE_L317E = 8,
    KORUHV_SYSTYPE_BQ71XX = 9,
    KORUHV_SYSTYPE_ZJV = 10,
    KORUHV_SYSTYPE_BQ71XXE = 11,
    KORUHV_SYSTYPE_L5026 = 12,
    KORUHV_SYSTYPE_TRIXHV = 13,
    KORUHV_SYSTYPE_ZORN = 14,
    KORUHV_SYSTYPE_L5126 = 15,
    KORUHV_SYSTYPE_P8080 = 16
};

/* Kinds of event record (EventRecord.type). */
enum {
    KORUHV_EVENT_VALUE = 0,
    KORUHV_EVENT_LIVE_INSERTION = 1,
    KORUHV_EVENT_KEEP_ALIVE = 2,
    KORUHV_EVENT_TRANSPARENT = 3
};

/* Event status of a system or board slot (KORUHV_SYSTEMSTATUS_t). */
enum { KORUHV_EVSTATUS_SYNC = 0, KORUHV_EVSTATUS_ASYNC = 1, KORUHV_EVSTATUS_UNSYNC = 2 };

/* Number of system slots; handles are slot indexes 0..KORUHV_MAX_SYSTEMS-1. */
#define KORUHV_MAX_SYSTEMS 100
/* Size of the model and description buffers KORUHV_TestBdPresence allocates;
 * texts written there are cut to KORUHV_BOARD_TEXT_SIZE - 1 characters. */
#define KORUHV_BOARD_TEXT_SIZE 255
/* Size of one channel name entry of KORUHV_GetChName (11 characters + NUL). */
#define KORUHV_CHANNEL_NAME_SIZE 12
/* Size of the result buffer KORUHV_GetSysProp needs for a text property;
 * texts are cut to KORUHV_SYSPROP_TEXT_SIZE - 1 characters. */
#define KORUHV_SYSPROP_TEXT_SIZE 2048
/* Size of one parameter name of an event record (19 characters + NUL). */
#define KORUHV_EVENT_NAME_SIZE 20

/* The 1024-byte value of an event record, read by the parameter's type. */
typedef union IDValue_t {
    char StringValue[1024];
    float FloatValue;
    int32_t IntValue;
    uint32_t UIntValue;
    int16_t ShortValue;
    uint16_t UShortValue;
} IDValue_t;

/* One event record (1060 bytes, packed). type: 0 value change, 1 board
 * inserted or removed, 2 keep-alive, 3 transparent mode. */
typedef struct __attribute__((packed)) EventRecord {
    int32_t type;
    int32_t system;
    int32_t board;
    int32_t channel; /* -1 for board- and system-level parameters */
    char name[KORUHV_EVENT_NAME_SIZE];
    IDValue_t value;
} EventRecord;

/* Status returned beside event records: the system's event status, then one
 * per board slot 0..15 (0 synchronised, 1 asynchronous, 2 not synchronised,
 * 3 other). */
typedef struct KORUHV_SYSTEMSTATUS_t {
    int32_t System;
    int32_t Board[16];
} KORUHV_SYSTEMSTATUS_t;

/* Record of the old first-generation event form (325 bytes, packed). */
typedef struct __attribute__((packed)) OldEventRecord {
    uint8_t type;
    char itemName[64];
    uint8_t value[4];
    char textValue[256];
} OldEventRecord;

/* Opening and closing. address is a NUL-terminated text of at most 79
 * characters (72 for system types 2 and 3). */
KORUHV_API int KORUHV_InitSystem(int systemType, int linkType, void *address, const char *user,
                                 const char *password, int *handle);
KORUHV_API int KORUHV_DeinitSystem(int handle);

/* Crate map: slotCount entries in every list; models and descriptions are
 * NUL-terminated texts one after another. */
KORUHV_API int KORUHV_GetCrateMap(int handle, unsigned short *slotCount, unsigned short **channelCounts,
                                  char **models, char **descriptions, unsigned **serialNumbers,
                                  unsigned char **firmwareMinors, unsigned char **firmwareMajors);

KORUHV_API int KORUHV_GetSysPropList(int handle, unsigned short *propertyCount, char **propertyNames);
KORUHV_API int KORUHV_GetSysPropInfo(int handle, const char *propertyName, unsigned *propertyMode,
                                     unsigned *propertyType);
KORUHV_API int KORUHV_GetSysProp(int handle, const char *propertyName, void *result);
KORUHV_API int KORUHV_SetSysProp(int handle, const char *propertyName, void *value);

KORUHV_API int KORUHV_GetBdParam(int handle, unsigned short slotCount, const unsigned short *slots,
                                 const char *parameterName, void *values);
KORUHV_API int KORUHV_SetBdParam(int handle, unsigned short slotCount, const unsigned short *slots,
                                 const char *parameterName, void *value);
KORUHV_API int KORUHV_GetBdParamProp(int handle, unsigned short slot, const char *parameterName,
                                     const char *propertyName, void *result);
KORUHV_API int KORUHV_GetBdParamInfo(int handle, unsigned short slot, char **parameterNames);

/* *model and *description must be null on entry; the library stores two
 * KORUHV_BOARD_TEXT_SIZE-byte blocks there (texts cut to
 * KORUHV_BOARD_TEXT_SIZE - 1 characters), released with KORUHV_Free. A slot
 * outside the system's composition gives 26; on any failure nothing is
 * stored. */
KORUHV_API int KORUHV_TestBdPresence(int handle, unsigned short slot, unsigned short *channelCount,
                                     char **model, char **description, unsigned short *serialNumber,
                                     unsigned char *firmwareMinor, unsigned char *firmwareMajor);

KORUHV_API int KORUHV_GetChParamProp(int handle, unsigned short slot, unsigned short channel,
                                     const char *parameterName, const char *propertyName, void *result);
KORUHV_API int KORUHV_GetChParamInfo(int handle, unsigned short slot, unsigned short channel,
                                     char **parameterNames, int *parameterCount);
/* Channel names: every entry is cut to KORUHV_CHANNEL_NAME_SIZE - 1
 * characters and terminated. */
KORUHV_API int KORUHV_GetChName(int handle, unsigned short slot, unsigned short channelCount,
                                const unsigned short *channels, char names[][KORUHV_CHANNEL_NAME_SIZE]);
KORUHV_API int KORUHV_SetChName(int handle, unsigned short slot, unsigned short channelCount,
                                const unsigned short *channels, const char *name);
KORUHV_API int KORUHV_GetChParam(int handle, unsigned short slot, const char *parameterName,
                                 unsigned short channelCount, const unsigned short *channels, void *values);
KORUHV_API int KORUHV_SetChParam(int handle, unsigned short slot, const char *parameterName,
                                 unsigned short channelCount, const unsigned short *channels, void *value);

KORUHV_API int KORUHV_GetExecCommList(int handle, unsigned short *commandCount, char **commandNames);
KORUHV_API int KORUHV_ExecComm(int handle, const char *commandName);

/* items: item names joined by ':'; results: one byte per item. */
KORUHV_API int KORUHV_Subscribe(int handle, short port, unsigned short itemCount, const char *items,
                                char *results);
KORUHV_API int KORUHV_UnSubscribe(int handle, short port, unsigned short itemCount, const char *items,
                                  char *results);

/* Level subscriptions: paramNames holds paramCount names joined by ':'
 * (the whole list at most 8191 characters, each name at most 63); a longer
 * list or name, or fewer names than paramCount, gives 26 before anything is
 * sent. With paramCount 1 the whole text is the one name. */
KORUHV_API int KORUHV_SubscribeSystemParams(int handle, short port, const char *paramNames,
                                            unsigned paramCount, char *results);
KORUHV_API int KORUHV_SubscribeBoardParams(int handle, short port, unsigned short slot,
                                           const char *paramNames, unsigned paramCount, char *results);
KORUHV_API int KORUHV_SubscribeChannelParams(int handle, short port, unsigned short slot,
                                             unsigned short channel, const char *paramNames,
                                             unsigned paramCount, char *results);
KORUHV_API int KORUHV_UnSubscribeSystemParams(int handle, short port, const char *paramNames,
                                              unsigned paramCount, char *results);
KORUHV_API int KORUHV_UnSubscribeBoardParams(int handle, short port, unsigned short slot,
                                             const char *paramNames, unsigned paramCount, char *results);
KORUHV_API int KORUHV_UnSubscribeChannelParams(int handle, short port, unsigned short slot,
                                               unsigned short channel, const char *paramNames,
                                               unsigned paramCount, char *results);

/* Events. Code 27 means nothing was there for this socket (no open system
 * or local backend for its peer, or a family without an event reader); before
 * returning it the library waits up to 100 ms for the socket to become
 * readable (the whole 100 ms when data is already waiting there), so a
 * caller that reads again at once does not spin. Event names
 * are NUL-terminated only when shorter than KORUHV_EVENT_NAME_SIZE: read them
 * with a bound. */
KORUHV_API int KORUHV_GetEventData(int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events,
                                   int *count);
KORUHV_API int KORUHV_FreeEventData(EventRecord **events);
KORUHV_API int KORUHVGetEventData(int socket, OldEventRecord **events, int *count);
KORUHV_API int KORUHVFreeEventData(OldEventRecord **events);

KORUHV_API int KORUHV_Free(void *p);
/* Error texts belong to the library and stay valid until the next request on
 * that system; " Connection failed " for a handle or name of no open system. */
KORUHV_API const char *KORUHV_GetError(int handle);
KORUHV_API const char *KORUHVGetError(const char *systemName);
KORUHV_API const char *KORUHVLibSwRel(void);

#ifdef __cplusplus
}
#endif

#endif
