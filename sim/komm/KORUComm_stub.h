/* Entries of the stand-in communication library (libKORUComm.so). The
 * library is loaded with dlopen and its entries are looked up by name; this
 * header only gives their shapes to tests.
 *
 * connType: 0 USB, 1 OPTLINK, 2 J6280, 6 TCP/IP, 7 USB3. ipText is the IP
 * address for TCP/IP (else null), linkNumber the link otherwise. Every entry
 * returns 0 on success, negative on failure. */
#ifndef KORUCOMM_STUB_H
#define KORUCOMM_STUB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*KORUComm_OpenDevice2_t)(int connType, const char *ipText, int linkNumber, int node,
                                      uint32_t baseAddress, int *device);
typedef int (*KORUComm_CloseDevice_t)(int device);
typedef int (*KORUComm_Read16_t)(int device, uint32_t address, uint16_t *value);
typedef int (*KORUComm_Write16_t)(int device, uint32_t address, uint16_t value);
typedef int (*KORUComm_Read32_t)(int device, uint32_t address, uint32_t *value);
typedef int (*KORUComm_Write32_t)(int device, uint32_t address, uint32_t value);
typedef int (*KORUComm_MultiRead16_t)(int device, int n, const uint32_t *addresses, uint16_t *values);
typedef int (*KORUComm_MultiRead32_t)(int device, int n, const uint32_t *addresses, uint32_t *values);

/* Test queries and knobs. */
typedef void (*KORUCommStub_Reset_t)(void);
typedef int (*KORUCommStub_OpenCount_t)(void);   /* opens since the last reset */
typedef int (*KORUCommStub_OpenDevices_t)(void); /* devices open now */
typedef int (*KORUCommStub_LastOpen_t)(int *connType, char *ip, size_t ipCap, int *linkNumber, int *node,
                                       uint32_t *baseAddress);
typedef void (*KORUCommStub_SetOpenResult_t)(int rc); /* result of the next opens (0 = success) */
typedef int (*KORUCommStub_Poke16_t)(int device, uint32_t address, uint16_t value);
typedef int (*KORUCommStub_Peek16_t)(int device, uint32_t address, uint16_t *value);
typedef int (*KORUCommStub_Poke32_t)(int device, uint32_t address, uint32_t value);
typedef int (*KORUCommStub_Peek32_t)(int device, uint32_t address, uint32_t *value);

#ifdef __cplusplus
}
#endif

#endif
