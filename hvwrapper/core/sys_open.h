// Opening and closing systems: choice of the family backend from system
// type, link type and address, and the register-link open through the
// outside communication library.
#pragma once

#include "backend_ops.h"

namespace koruhv {

// Name of the outside communication library and its open entry.
constexpr const char *kCommLibName = "libKORUComm.so";
constexpr const char *kCommLibOpenEntry = "KORUComm_OpenDevice2";

// Link keyword of a link type, or null (4102).
const char *Sys_LinkKeyword(int linkType);

// Family whose backend serves (systemType, linkType, backendAddress): the
// family code (0 or more), or minus the wrapper code (-4102 link not served,
// -26 name not served on "USBVCP").
int Sys_SelectFamily(int systemType, int linkType, const char *backendAddress);

// Opens the backend of family for slot index: fills backendHandle and
// libraryHandle. 0, or the mapped code (4100, 4103, other negative values
// unchanged, positive backend failures unchanged).
int Sys_OpenBackend(int slotIndex, int family, int linkType, const char *backendAddress, const char *user,
                    const char *password);

// Loads the outside library, parses the register-link address
// ("<ip or link>_<node hex>_<base hex>") and calls the family's OpenDevice.
// The device index (0 or more) or a negative value; *library receives the
// handle of the loaded library (also on failure, for the caller to close).
int OpenCommLibDevice(const BackendOps &ops, const char *linkKeyword, const char *address, void **library);

} // namespace koruhv
