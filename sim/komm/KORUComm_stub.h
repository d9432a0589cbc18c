/* Entries of the stand-in communication library (libKORUComm.so). The
 * library is loaded with dlopen and its entries are looked up by name; this
 * header only gives their shapes to tests.
 *
 * connType: 0 USB, 1 OPTLINK, 2 J6280, 6 TCP/IP, 7 USB3. linkArg points to
 * the NUL-terminated IP text for TCP/IP, else to a signed 32-bit link number.
 * Every entry returns 0 on success, negative on failure.
 *
 * Devices sit at places (connection type, link or IP text, node, VME base).
 * A place declared with KORUCommStub_AttachDevice holds a device model whose
 * registers keep their state across opens and closes, as real hardware does;
 * an open of any other place gives a plain register memory, empty at open. */
#ifndef KORUCOMM_STUB_H
#define KORUCOMM_STUB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*KORUComm_OpenDevice2_t)(int connType, const void *linkArg, int node, uint32_t baseAddress,
                                      int *handle);
typedef int (*KORUComm_CloseDevice_t)(int handle);
typedef int (*KORUComm_Read16_t)(int handle, uint32_t address, uint16_t *value);
typedef int (*KORUComm_Write16_t)(int handle, uint32_t address, uint16_t value);
typedef int (*KORUComm_Read32_t)(int handle, uint32_t address, uint32_t *value);
typedef int (*KORUComm_Write32_t)(int handle, uint32_t address, uint32_t value);
/* n values and n per-item codes; 0 when every item was read. */
typedef int (*KORUComm_MultiRead16_t)(int handle, const uint32_t *addresses, int n, uint16_t *values,
                                      int *errors);
typedef int (*KORUComm_MultiRead32_t)(int handle, int n, const uint32_t *addresses, uint32_t *values);

/* Device models of a place. */
enum {
    KORUCOMM_MODEL_MEMORY = 0, /* plain register memory */
    KORUCOMM_MODEL_W38XX = 1,  /* VME HV board, channels 1..32 (0: 12) */
    KORUCOMM_MODEL_BQ71XX = 2, /* four-channel desktop unit */
    KORUCOMM_MODEL_ABSENT = 3  /* nothing answers: every open of the place fails */
};

/* Test queries and knobs. */
typedef void (*KORUCommStub_Reset_t)(void);      /* forgets places, handles, knobs */
typedef int (*KORUCommStub_OpenCount_t)(void);   /* opens since the last reset */
typedef int (*KORUCommStub_OpenDevices_t)(void); /* handles open now */
typedef int (*KORUCommStub_LastOpen_t)(int *connType, char *ip, size_t ipCap, int *linkNumber, int *node,
                                       uint32_t *baseAddress);
typedef void (*KORUCommStub_SetOpenResult_t)(int rc); /* result of the next opens (0 = success) */
/* Register pokes and peeks by handle; on a model a poke sets the state the
 * register shows (a monitored value, a status word), a peek reads without
 * side effects. */
typedef int (*KORUCommStub_Poke16_t)(int handle, uint32_t address, uint16_t value);
typedef int (*KORUCommStub_Peek16_t)(int handle, uint32_t address, uint16_t *value);
typedef int (*KORUCommStub_Poke32_t)(int handle, uint32_t address, uint32_t value);
typedef int (*KORUCommStub_Peek32_t)(int handle, uint32_t address, uint32_t *value);

/* Declares a device at a place (ip used for connType 6, link otherwise);
 * channels is the W38XX board's channel count (0: the default). The place
 * id (0 or more), or -1. Declaring a place again replaces its device. */
typedef int (*KORUCommStub_AttachDevice_t)(int connType, const char *ip, int link, int node, uint32_t base,
                                           int model, int channels);
typedef int (*KORUCommStub_PlacePoke16_t)(int place, uint32_t address, uint16_t value);
typedef int (*KORUCommStub_PlacePeek16_t)(int place, uint32_t address, uint16_t *value);
/* Fails the next count accesses (reads: Read16/32, MultiRead16/32; writes:
 * Write16/32) of a place (-1: any) at an address (0xFFFFFFFF: any); count -1
 * fails until cleared with 0. */
typedef void (*KORUCommStub_FailReads_t)(int place, uint32_t address, int count);
typedef void (*KORUCommStub_FailWrites_t)(int place, uint32_t address, int count);
/* Register accesses of a place: reads (a multi-read counts once) and writes
 * at an address (0xFFFFFFFF: all writes). */
typedef int (*KORUCommStub_ReadCount_t)(int place);
typedef int (*KORUCommStub_WriteCount_t)(int place, uint32_t address);
/* Model time runs this many times faster than the clock (default 1). */
typedef void (*KORUCommStub_SetTimeScale_t)(double factor);

#ifdef __cplusplus
}
#endif

#endif
