// Entries of the outside communication library as the register backends
// call them, looked up by name in the handle the core loaded. A missing
// entry is a null pointer; the caller reports its own code for it.
#pragma once

#include <dlfcn.h>

#include <cstdint>

namespace koruhv {

// linkArg: the NUL-terminated IP text for TCP/IP (connection type 6), else a
// signed 32-bit link number.
using CommOpenDevice2 = int (*)(int connType, const void *linkArg, int node, uint32_t base, int *handle);
using CommCloseDevice = int (*)(int handle);
using CommRead16 = int (*)(int handle, uint32_t address, uint16_t *value);
using CommRead32 = int (*)(int handle, uint32_t address, uint32_t *value);
using CommWrite16 = int (*)(int handle, uint32_t address, uint16_t value);
using CommWrite32 = int (*)(int handle, uint32_t address, uint32_t value);
using CommMultiRead16 = int (*)(int handle, const uint32_t *addresses, int n, uint16_t *values, int *errors);

template <typename F> F CommEntry(void *library, const char *name)
{
    return library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
}

} // namespace koruhv
