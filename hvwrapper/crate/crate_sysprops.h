// System properties of the crate-protocol backends: the lookup, access
// checks and request flow are the same in both generations; a
// CrateSysPropTable names what differs (mode and type of each property,
// reply decoding and value encoding, by decoding index).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crate_ops.h"

namespace koruhv {

struct CrateSysPropInfoRow {
    uint32_t index;
    uint32_t mode;
    uint32_t type;
};

struct CrateSysPropTable {
    const CrateSysPropInfoRow *info;
    size_t infoCount;
    // Reads the reply data of property index into result; 0 or the code.
    int (*decode)(CrateContext &ctx, uint32_t index, ByteCursor &cur, void *result);
    // Appends the argument bytes of value; false for a property that cannot be set.
    bool (*encode)(uint32_t index, const void *value, RequestBuffer &args);
};

int CrateSysProp_GetInfo(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                         uint32_t *mode, uint32_t *type);
int CrateSysProp_Get(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *result);
int CrateSysProp_Set(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *value);

} // namespace koruhv
