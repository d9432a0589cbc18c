// System properties of the crate-protocol backends: the lookup, access
// checks, request flow and the value layouts both generations share are
// written once, and so are the properties both generations have alike; a
// CrateSysPropTable names what differs (the mode, type, reply layout and
// set encoding of the family's other properties by decoding index, and the
// layouts only one family has).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crate_ops.h"

namespace koruhv {

// How the reply data of a property reads into the caller's result.
enum class SysPropRead : uint8_t {
    None,        // not served: "property not available"
    Own,         // the family's readOwn
    Text,        // the text up to a NUL
    BeforeComma, // the text before the first ','
    AfterComma,  // the text after the first ',' ("" when none)
    Byte,        // a signed byte into a 16-bit number
    Word16,      // 16-bit number
    Word32,      // 32-bit number
    Decimals2,   // two bytes as signed decimals joined by ':'
    Decimals5,   // five bytes so
    FanGroups,   // byte and 16-bit number groups as text
};

// How a value to set is encoded after the set keyword.
enum class SysPropWrite : uint8_t {
    None,         // cannot be set
    HighLowBytes, // a 16-bit number as its high byte ':' its low byte
    NumberText16, // a decimal text sent as a 16-bit number
    Text,         // the text
    Word16,       // 16-bit number
    Bit0Word16,   // bit 0 of a 16-bit number, as a 16-bit number
    Word32Padded, // 32-bit number and four bytes the crate does not read
};

// Property types as the API reports them.
enum SysPropType : uint32_t { SP_TEXT = 0, SP_U16 = 2, SP_U32 = 3, SP_S16 = 4 };

struct CrateSysPropInfoRow {
    uint32_t index;
    uint32_t mode;
    uint32_t type;
    SysPropRead read;
    SysPropWrite write;
};

// Each family's rows: those that differ from the rows both generations
// have alike (crate_sysprops.cpp) and those of its own properties.
struct CrateSysPropTable {
    const CrateSysPropInfoRow *info;
    size_t infoCount;
    // Reads a property of layout Own into result; 0 or the code.
    int (*readOwn)(CrateContext &ctx, uint32_t index, ByteCursor &cur, void *result);
};

int CrateSysProp_GetInfo(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                         uint32_t *mode, uint32_t *type);
int CrateSysProp_Get(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *result);
int CrateSysProp_Set(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *value);

// A text result, cut to KORUHV_SYSPROP_TEXT_SIZE - 1 characters and ended
// by a NUL; 0 with the context's status cleared.
int CrateSysProp_PutText(CrateContext &ctx, void *result, std::string_view text);

} // namespace koruhv
