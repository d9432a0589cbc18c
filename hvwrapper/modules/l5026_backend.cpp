// L5026 and L5126 amplifiers: parameter tables and their model variants,
// identification at open, the value formatting of their "$BD" dialect, and
// the two families' entry operations over the text engine.
#include "modules/l5026_backend.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "modules/bd_dialect.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

constexpr void put(char *dst, size_t n, const char *s)
{
    size_t i = 0;
    for (; s && s[i] && i + 1 < n; ++i)
        dst[i] = s[i];
    for (; i < n; ++i)
        dst[i] = '\0';
}

struct Labels {
    const char *l[10];
};

// One row of the amplifiers' long-form table: width w of a sent number,
// on/off texts (the unit reads and takes 0/1) or enumeration labels.
constexpr ParamRow R(const char *name, const char *mnemonic, unsigned type, unsigned mode, float min,
                     float max, unsigned width, int unit = 0, int exponent = 0, const char *onText = "",
                     const char *offText = "", Labels labels = {})
{
    ParamRow r{};
    put(r.name, sizeof r.name, name);
    put(r.mnemonic, sizeof r.mnemonic, mnemonic);
    r.flags = TypeMode(type, mode);
    r.minimum = min;
    r.maximum = max;
    r.textDigits = static_cast<uint16_t>(width);
    r.unit = static_cast<int8_t>(unit);
    r.exponent = static_cast<int8_t>(exponent);
    if (type == PT_ONOFF) {
        put(r.onWord, sizeof r.onWord, "1");
        put(r.offWord, sizeof r.offWord, "0");
    }
    put(r.onLabel, sizeof r.onLabel, onText);
    put(r.offLabel, sizeof r.offLabel, offText);
    // Labels 0 up to the maximum are used.
    for (int i = 0; type == PT_ENUM && max <= 10 && i <= static_cast<int>(max) && i < 10; ++i)
        put(r.enumLabels[i], sizeof r.enumLabels[i], labels.l[i]);
    return r;
}

constexpr unsigned RW = PM_READWRITE;

constexpr ParamRow kBoardRows[] = {
    R("Offset", "BDOFFSET", PT_NUMERIC, RW, 0, 255, 0),
    R("MultiThr", "BDMULTITHR", PT_NUMERIC, RW, 0, 255, 0),
};

constexpr ParamRow kL5026Rows[] = {
    R("Name", "NAME", PT_TEXT, PM_READ, 0, 0, 0),
    R("MuxOut", "MUX", PT_ENUM, RW, 0, 2, 1, 0, 0, "", "", {{"Disable", "Energy Enabled", "Timing Enabled"}}),
    R("InPol", "POL", PT_ONOFF, RW, 0, 1, 1, 0, 0, "Neg", "Pos"),
    R("Shape", "SHAPE", PT_ENUM, RW, 0, 4, 1, 8, -6, "", "", {{"0.5", "1", "2", "4", "0.5 Fast"}}),
    R("CoarsGain", "CGAIN", PT_ENUM, RW, 0, 7, 1, 0, 0, "", "",
      {{"2", "4", "8", "16", "32", "64", "128", "256"}}),
    R("FineGain", "FGAIN", PT_NUMERIC, RW, 0, 127, 1),
    R("PoleZAdj", "PZADJ", PT_NUMERIC, RW, 0, 255, 1),
    R("TGain", "TGAIN", PT_ENUM, RW, 0, 1, 1, 0, 0, "", "", {{"1X", "4X"}}),
    R("TInt", "TINT", PT_ENUM, RW, 0, 1, 1, 8, -9, "", "", {{"20", "80"}}),
    R("TDiff", "TDIFF", PT_ENUM, RW, 0, 1, 1, 8, -9, "", "", {{"100", "500"}}),
    R("OffsetAdj", "OFFADJTST", PT_NUMERIC, RW, 0, 65535, 1),
    R("Threshold", "THR", PT_NUMERIC, RW, 0, 4095, 1),
    R("CFDDelEn", "CFDED", PT_ONOFF, RW, 0, 1, 1, 0, 0, "En", "Dis"),
    R("CFDDelay", "CFDDEL", PT_NUMERIC, RW, 0, 31, 1),
    R("CFDWidth", "CFDWDT", PT_NUMERIC, RW, 0, 31, 1),
    R("OROut", "OR", PT_ONOFF, RW, 0, 1, 1, 0, 0, "Dis", "En"),
    R("ORWidth", "ORWDT", PT_NUMERIC, RW, 0, 31, 1),
    R("PUR", "PUR", PT_ONOFF, RW, 0, 1, 1, 0, 0, "En", "Dis"),
};

constexpr ParamRow kL5126Rows[] = {
    R("Name", "NAME", PT_TEXT, PM_READ, 0, 0, 0),
    R("Shape", "SHAPE", PT_ENUM, RW, 0, 2, 1, 8, -9, "", "", {{"200", "400", "800"}}),
    R("SlowFGain", "SLOWFGAIN", PT_NUMERIC, RW, 0, 191, 1),
    R("AUXFFGain", "AUXFGAIN", PT_NUMERIC, RW, 0, 191, 1),
    R("SlowCGain", "SLOWCGAIN", PT_ENUM, RW, 0, 3, 1, 0, 0, "", "", {{"1X", "4X", "16X", "64X"}}),
    // The coarse-gain partner of AUXFGAIN, as SLOWCGAIN is of SLOWFGAIN.
    R("AUXFCGain", "AUXCGAIN", PT_ENUM, RW, 0, 3, 1, 0, 0, "", "", {{"1X", "4X", "16X", "64X"}}),
    R("PUR", "PUR", PT_ONOFF, RW, 0, 1, 1, 0, 0, "En", "Dis"),
    R("MuxOut", "MUX", PT_ENUM, RW, 0, 2, 1, 0, 0, "", "", {{"Disable", "Slow Enabled", "FAUX Enabled"}}),
    R("MuxSel", "OUTSEL", PT_ENUM, RW, 0, 1, 1, 0, 0, "", "", {{"Fast Enabled", "AUX Enabled"}}),
    R("Threshold", "THR", PT_NUMERIC, RW, 0, 4000, 1),
    R("CFDDelEn", "CFDED", PT_ONOFF, RW, 0, 1, 1, 0, 0, "En", "Dis"),
    R("CFDDelay", "CFDDEL", PT_NUMERIC, RW, 0, 31, 1),
    R("CFDWidth", "CFDWDT", PT_NUMERIC, RW, 0, 31, 1),
    R("ORWidth", "ORWDT", PT_NUMERIC, RW, 0, 31, 1),
    R("OR", "OR", PT_ONOFF, RW, 0, 1, 1, 0, 0, "En", "Dis"),
};

// A model variant: the default table with other labels on some rows.
struct LabelPatch {
    const char *row;
    Labels labels;
};
struct Variant {
    const char *model;
    LabelPatch patches[3];
};

constexpr Variant kL5026Variants[] = {
    {"L5026GE", {{"Shape", {{"1", "4", "8", "16", "1 Fast"}}}}},
    {"L5026DB",
     {{"Shape", {{"0.2", "0.4", "1", "2", "0.2 Fast"}}},
      {"TInt", {{"15", "30"}}},
      {"TDiff", {{"75 ", "150"}}}}},
};
constexpr Variant kL5126Variants[] = {
    {"L5126GE", {{"MuxOut", {{"Disable", "Slow Enabled", "FAUX Enable"}}}}},
};

struct Model {
    const char *name; // the text BDNAME must contain
    const ParamRow *rows;
    size_t rowCount;
    const Variant *variants;
    size_t variantCount;
};

constexpr Model kL5026Model = {"L5026", kL5026Rows, std::size(kL5026Rows), kL5026Variants,
                               std::size(kL5026Variants)};
constexpr Model kL5126Model = {"L5126", kL5126Rows, std::size(kL5126Rows), kL5126Variants,
                               std::size(kL5126Variants)};

constexpr int kChannels = 16;
constexpr size_t kModelMax = 19; // the model answer is kept in 20 bytes

uint8_t byteValue(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

bool startsWithDigit(const char *s)
{
    return *s >= '0' && *s <= '9';
}

int openModule(TextInstance &in, const Model &m)
{
    char v[1024];
    if (Text_Monitor(in, -1, "BDNAME", v, sizeof v) != 0)
        return -1;
    in.model.assign(v, strnlen(v, kModelMax));
    if (!std::strstr(v, m.name))
        return -1;
    // BDNCH is not asked: the modules have 16 channels.
    in.channelCount = kChannels;
    in.unitChannelCount = kChannels;
    if (Text_Monitor(in, -1, "BDFREL", v, sizeof v) != 0)
        return -1;
    // Major and minor release; a missing part refuses the module.
    const char *dot = std::strchr(v, '.');
    if (!dot || !startsWithDigit(v) || !startsWithDigit(dot + 1))
        return -1;
    in.firmwareMajor = byteValue(ParseIntText(v));
    in.firmwareMinor = byteValue(ParseIntText(dot + 1));
    if (Text_Monitor(in, -1, "SERNUM", v, sizeof v) != 0)
        return -1;
    in.serialNumber = ParseIntText(v);

    in.channelLists.assign(kChannels, {});
    for (const ParamRow &r : kBoardRows)
        Text_AddBoardRow(in, r);

    // A 7-character model is a variant: a known one patches labels, an
    // unknown one has no channel table; any other length the default table.
    const Variant *variant = nullptr;
    if (in.model.size() == 7) {
        for (size_t i = 0; i < m.variantCount; ++i)
            if (in.model == m.variants[i].model)
                variant = &m.variants[i];
        if (!variant)
            return 0;
    }
    for (size_t i = 0; i < m.rowCount; ++i) {
        ParamRow row = m.rows[i];
        for (size_t k = 0; variant && k < std::size(variant->patches); ++k) {
            const LabelPatch &p = variant->patches[k];
            if (!p.row || std::strcmp(p.row, row.name) != 0)
                continue;
            for (int k = 0; k < 10; ++k)
                put(row.enumLabels[k], sizeof row.enumLabels[k], k <= row.maximum ? p.labels.l[k] : nullptr);
        }
        Text_AddChannelRow(in, row);
    }
    return 0;
}

int openL5026(TextInstance &in)
{
    return openModule(in, kL5026Model);
}
int openL5126(TextInstance &in)
{
    return openModule(in, kL5126Model);
}

// Serial port names carry the port's number.
int parseAddress(const TextFamily &f, const char *link, const char *address, LinkParams *out)
{
    if (Bd_ParseAddress(f, link, address, out) != 0)
        return -1;
    if (out->kind == TEXT_LINK_SERIAL && out->port.find_first_of("0123456789") == std::string::npos)
        return -1;
    return 0;
}

int buildRequest(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                 const void *value, char *out, size_t cap)
{
    char part[160] = "";
    if (kind == REQ_SET && value && std::strcmp(mnemonic, "On") != 0 && std::strcmp(mnemonic, "Off") != 0) {
        const ParamRow *row = Text_FindRowByMnemonic(in, mnemonic);
        if (row && !L5x26_FormatValue(*row, value, part, sizeof part))
            return -1;
    }
    return Bd_BuildRequest(in, kind, channel, mnemonic, part, out, cap);
}

// Properties of the amplifiers' rows: no decimals, on/off texts only where
// the row has them, enumeration labels of enumeration rows.
int rowProperty(const ParamRow &row, const char *prop, void *result)
{
    if (!prop || !result)
        return TEXT_UNKNOWN_PROPERTY;
    if (!std::strcmp(prop, "Enum")) {
        // The labels are copied for every row; only enumerations answer 0.
        std::memcpy(result, row.enumLabels, sizeof row.enumLabels);
        return row.type() == PT_ENUM ? 0 : TEXT_UNKNOWN_PROPERTY;
    }
    if ((!std::strcmp(prop, "Onstate") && !row.onLabel[0]) ||
        (!std::strcmp(prop, "Offstate") && !row.offLabel[0]))
        return TEXT_UNKNOWN_PROPERTY;
    return Text_RowProperty(row, prop, result);
}

TextFamilyState gL5026State;
TextFamilyState gL5126State;

constexpr TextDialect kDialect = {
    .parseAddress = parseAddress,
    .buildRequest = buildRequest,
    .isOwnReply = Bd_IsOwnReply,
    .parseReply = Bd_ParseReply,
    .setResult = Bd_SetResult,
    .skipSet = nullptr,
};

constexpr TextFamily makeFamily(const char *name, int (*open)(TextInstance &), TextFamilyState *state)
{
    TextFamily f{.name = name,
                 .tcpPort = 23,
                 .maxInstances = 32,
                 .maxChannels = kChannels,
                 .pauseAfterTcpOpen = false,
                 .shareTcpLinks = true,
                 .channelNameFormat = "CH%02d",
                 .statusMnemonic = nullptr,
                 .switchFromStatus = nullptr,
                 .dialect = kDialect,
                 .openUnit = open,
                 .state = state};
    f.rowProperty = rowProperty;
    // Texts (the channel's NAME) are copied into the caller's buffer.
    f.boardTexts = TEXT_VALUES_PACKED;
    f.channelTexts = TEXT_VALUES_PACKED;
    f.refuseUnsendableSets = true;
    f.acceptSlotOne = true;
    // A channel property of a listed name is answered whatever the slot; a
    // name the channel lacks is an unknown property.
    f.chPropUnknownParam = TEXT_UNKNOWN_PROPERTY;
    f.chPropFoundIgnoresSlot = true;
    // Channel numbers of value reads and writes go to the module unchanged.
    f.valuesAnyChannel = true;
    f.chNamesUpToRefused = true;
    return f;
}

} // namespace

bool L5x26_FormatValue(const ParamRow &row, const void *value, char *out, size_t cap)
{
    out[0] = '\0';
    int32_t i;
    std::memcpy(&i, value, sizeof i);
    switch (row.type()) {
    case PT_NUMERIC: {
        float v;
        std::memcpy(&v, value, sizeof v);
        char num[64];
        if (!FormatFixed(v, row.textDigits, 0, num, sizeof num))
            return false;
        return std::snprintf(out, cap, ",VAL:%s", num) < static_cast<int>(cap);
    }
    case PT_ONOFF:
    case PT_ENUM:
        return std::snprintf(out, cap, ",VAL:%d", static_cast<int>(i)) < static_cast<int>(cap);
    case PT_CHSTATUS:
    case PT_BDSTATUS:
        return std::snprintf(out, cap, ",VAL:%05d", static_cast<int>(i)) < static_cast<int>(cap);
    default:
        return true;
    }
}

constinit const TextFamily kL5026Family = makeFamily("L5026", openL5026, &gL5026State);
constinit const TextFamily kL5126Family = makeFamily("L5126", openL5126, &gL5126State);
namespace {

// The module is one board: every listed slot number, whatever its value,
// reads or writes it.
template <const TextFamily &F> struct OneBoard {
    static int Get(const BackendRef &b, uint16_t n, const uint16_t *s, const char *p, void *v)
    {
        const std::vector<uint16_t> zeros(s ? n : 0, 0);
        return Text_GetBdParam(F, b.handle, n, s ? zeros.data() : nullptr, p, v);
    }
    static int Set(const BackendRef &b, uint16_t n, const uint16_t *s, const char *p, void *v)
    {
        const std::vector<uint16_t> zeros(s ? n : 0, 0);
        return Text_SetBdParam(F, b.handle, n, s ? zeros.data() : nullptr, p, v);
    }
};

template <const TextFamily &F> constexpr BackendOps makeOps(int family, const char *prefix)
{
    BackendOps ops = MakeTextBackendOps<F>(family, prefix);
    ops.GetBdParam = OneBoard<F>::Get;
    ops.SetBdParam = OneBoard<F>::Set;
    return ops;
}

} // namespace

constinit const BackendOps kL5026Backend = makeOps<kL5026Family>(12, "KORU_L5026_HVW_");
constinit const BackendOps kL5126Backend = makeOps<kL5126Family>(15, "KORU_L5126_HVW_");

TEXT_FAMILY_ENTRY_DEFS(L5026, kL5026Family)
TEXT_FAMILY_ENTRY_DEFS(L5126, kL5126Family)

} // namespace koruhv
