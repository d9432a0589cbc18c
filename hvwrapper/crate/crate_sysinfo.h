// The parsed system information of a crate connection: parameter
// descriptors, board entries with their board- and channel-parameter index
// lists, value scaling, and the answers of the parameter properties.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "crate_protocol.h"

namespace koruhv {

// Descriptor types of board and channel parameters.
enum CrateParamType : uint16_t {
    PARAM_NUMERIC = 0,
    PARAM_ONOFF = 1,
    PARAM_CHSTATUS = 2,
    PARAM_BDSTATUS = 3,
    PARAM_BINARY = 4,
};

enum CrateParamModeBits : uint8_t { PARAM_MODE_WRITABLE = 1, PARAM_MODE_SIGNED = 2 };

struct ParamDescriptor {
    char name[12] = {}; // at most 11 characters, NUL-terminated
    uint16_t type = 0;
    uint8_t mode = 0;    // CrateParamModeBits
    char onText[8] = {}; // type 1 only, at most 7 characters
    char offText[8] = {};
    int32_t minimum = 0;
    int32_t maximum = 0;
    uint16_t decimals = 0; // non-zero: value = raw / factor; zero: raw * factor
    uint16_t factor = 0;
    int16_t unit = 0;
    int16_t exponent = 0;
    uint16_t reserved = 0;

    bool isSigned() const { return (mode & PARAM_MODE_SIGNED) != 0; }
    bool writable() const { return (mode & PARAM_MODE_WRITABLE) != 0; }
};

struct CrateChannelEntry {
    std::vector<uint16_t> params; // descriptor indexes
};

struct CrateBoardEntry {
    int16_t slot = 0;
    std::vector<uint16_t> params; // board-parameter descriptor indexes
    std::vector<CrateChannelEntry> channels;
};

struct CrateSystemInfo {
    std::vector<ParamDescriptor> descriptors;
    std::vector<CrateBoardEntry> boards;

    const CrateBoardEntry *findBoard(int slot) const;
    // Descriptor index of a parameter in an index list, or -1.
    int findParam(const std::vector<uint16_t> &list, const char *name) const;
    const ParamDescriptor *boardParam(const CrateBoardEntry &b, const char *name) const;
    // Channel must be below the board's channel count.
    const ParamDescriptor *channelParam(const CrateBoardEntry &b, unsigned channel, const char *name) const;
};

// Looks one parameter up in channel after channel of a board: channels
// whose parameter lists equal the previous one's (the usual case) reuse its
// answer instead of comparing names again.
class ChannelParamLookup {
public:
    ChannelParamLookup(const CrateSystemInfo &info, const CrateBoardEntry &board, const char *name)
        : info_(info), board_(board), name_(name)
    {
    }
    // Descriptor index, -1 when the channel lacks the parameter, -2 when the
    // channel is beyond the board's channels.
    int index(unsigned channel);
    const ParamDescriptor *descriptor(unsigned channel)
    {
        const int i = index(channel);
        return i < 0 ? nullptr : &info_.descriptors[size_t(i)];
    }

private:
    const CrateSystemInfo &info_;
    const CrateBoardEntry &board_;
    const char *name_;
    const std::vector<uint16_t> *last_ = nullptr;
    int lastIndex_ = -1;
};

// Parses "GETSYSINFO" reply data in the current wire form (32-byte
// descriptor records, then slots, channel counts and index lists). Every
// count and index is checked against the bytes and the descriptor count.
// Returns 0 with *out (caller owns it), CRATE_ERR_NO_MEMORY, or
// CRATE_ERR_RECEIVE for data shorter than its counts or a bad index.
int Crate_ParseSystemInfo(ByteCursor &cur, CrateSystemInfo **out);

// Scaling of numeric parameters. A factor of 0 counts as 1; results that a
// raw word cannot hold are clamped (negative values of unsigned parameters
// give 0, NaN gives 0), so no conversion reaches undefined behaviour.
// The scaling of one parameter's raw words, worked out once (inline: event
// batches convert every number item).
struct RawScale {
    float factor = 1.0f;
    bool divide = false;
    bool isSigned = false;
};
inline RawScale Crate_ScaleOf(const ParamDescriptor &d)
{
    return RawScale{d.factor ? float(d.factor) : 1.0f, d.decimals != 0, d.isSigned()};
}
inline float Crate_Scale(const RawScale &s, uint32_t raw)
{
    const float v = s.isSigned ? float(int32_t(raw)) : float(raw);
    return s.divide ? v / s.factor : v * s.factor;
}
inline float Crate_RawToValue(const ParamDescriptor &d, uint32_t raw)
{
    return Crate_Scale(Crate_ScaleOf(d), raw);
}
uint32_t Crate_ValueToRaw(const ParamDescriptor &d, float value);

// Answers a parameter property (index of the parameter-property table) from
// a descriptor into the caller's result: Type/Mode/Sign as 32-bit integers,
// Minval/Maxval floats, Unit/Exp/Decimal 16-bit, Onstate/Offstate texts of
// at most 7 characters (8 bytes). Returns 0, or CRATE_ERR_PARAM_PROP_NOT_FOUND.
int Crate_DescriptorProperty(const ParamDescriptor &d, int propIndex, void *result);

} // namespace koruhv
