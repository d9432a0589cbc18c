// What the text families do alike beyond the engine (text_family.h).
#include "modules/text_family.h"

#include <algorithm>
#include <cstring>

#include "modules/text_wire.h"

namespace koruhv {

namespace {

bool listed(const char *const *words, const char *mnemonic)
{
    for (; words && *words; ++words)
        if (!std::strcmp(*words, mnemonic))
            return true;
    return false;
}

float limitValue(int v)
{
    return static_cast<float>(std::clamp(v, 0, 65535));
}

// Asks one query; true with its integer value when the unit answered.
bool ask(TextInstance &in, int channel, const char *mnemonic, int *out)
{
    char v[1024];
    if (!mnemonic || Text_Monitor(in, channel, mnemonic, v, sizeof v) != 0)
        return false;
    *out = ParseIntText(v);
    return true;
}

// The larger answer of a high- and (with ranges) a low-range query; the
// low-range query decides whether there is an answer at all.
bool askPair(TextInstance &in, int channel, const char *high, const char *low, bool ranges, int *out)
{
    int h = 0, l = 0;
    const bool gotHigh = ask(in, channel, high, &h);
    if (!ranges || !low) {
        *out = h;
        return gotHigh;
    }
    if (!ask(in, channel, low, &l))
        return false;
    *out = gotHigh ? std::max(h, l) : l;
    return true;
}

bool startsWithDigit(const char *s)
{
    return *s >= '0' && *s <= '9';
}

} // namespace

bool Text_ValuePart(const TextInstance &in, RequestKind kind, const char *mnemonic, const void *value,
                    const char *const *bare, ValueFormat format, char *out, size_t cap)
{
    out[0] = '\0';
    if (kind != REQ_SET || !value || listed(bare, mnemonic))
        return true;
    const ParamRow *row = Text_FindRowByMnemonic(in, mnemonic);
    return !row || format(*row, value, out, cap);
}

bool Text_ZeroSetOf(const char *const *words, const char *mnemonic, const void *value)
{
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    return v == 0 && listed(words, mnemonic);
}

int Text_SwitchFromBit0(long status)
{
    return static_cast<int>(status & 1);
}

uint8_t Text_ByteValue(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

int Text_ReadIdentity(TextInstance &in, const TextIdentity &id)
{
    char v[1024];
    if (Text_Monitor(in, -1, id.modelQuery, v, sizeof v) != 0)
        return -1;
    in.model.assign(v, strnlen(v, id.modelMax));
    if (id.modelMustHave && !std::strstr(v, id.modelMustHave))
        return -1;
    if (id.channelQuery) {
        if (Text_Monitor(in, -1, id.channelQuery, v, sizeof v) != 0)
            return -1;
        // Lists and subscription masks hold maxChannels; further ones are not served.
        const int n = std::max(ParseIntText(v), 0);
        in.unitChannelCount = n;
        in.channelCount = std::min(n, id.maxChannels);
    } else {
        in.channelCount = id.fixedChannels;
        in.unitChannelCount = id.fixedChannels;
    }
    if (Text_Monitor(in, -1, id.firmwareQuery, v, sizeof v) != 0)
        return -1;
    // Major and minor release; a missing part refuses the unit.
    const char *dot = std::strchr(v, '.');
    if (!dot || dot[1] == '\0' || (id.firmwareNeedsMajor && dot == v) ||
        (id.firmwareNeedsDigits && (!startsWithDigit(v) || !startsWithDigit(dot + 1))))
        return -1;
    in.firmwareMajor = Text_ByteValue(ParseIntText(v));
    in.firmwareMinor = Text_ByteValue(ParseIntText(dot + 1));
    in.serialNumber = 0;
    if (id.serialQuery) {
        if (Text_Monitor(in, -1, id.serialQuery, v, sizeof v) != 0)
            return -1;
        in.serialNumber = ParseIntText(v);
    }
    in.channelLists.assign(static_cast<size_t>(in.channelCount), {});
    return 0;
}

int Text_ReadLimits(TextInstance &in, int channel, ParamRow &row, const LimitQuery *queries, size_t count,
                    bool ranges)
{
    for (size_t k = 0; k < count; ++k) {
        const LimitQuery &q = queries[k];
        if (std::strcmp(row.mnemonic, q.mnemonic) != 0)
            continue;
        int v;
        if (q.min && ask(in, channel, q.min, &v))
            row.minimum = limitValue(v);
        if (q.max && askPair(in, channel, q.max, q.maxLow, ranges, &v))
            row.maximum = limitValue(v);
        if (!askPair(in, channel, q.decimals, q.decimalsLow, ranges, &v))
            return -1;
        row.decimals = static_cast<int16_t>(std::clamp(v, -32768, 32767));
        return 0;
    }
    return 0;
}

} // namespace koruhv
