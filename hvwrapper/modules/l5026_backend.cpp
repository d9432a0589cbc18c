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
#include "modules/text_family.h"
#include "modules/text_rows.h"

namespace koruhv {

namespace {

using namespace rows;

// The amplifiers' rows: .digits is the width of a sent number; on/off rows
// are read and set as 1 and 0.
constexpr ParamRow kBoardRows[] = {
    make({.name = "Offset", .mnemonic = "BDOFFSET", .type = PT_NUMERIC, .mode = PM_READWRITE, .max = 255}),
    make(
        {.name = "MultiThr", .mnemonic = "BDMULTITHR", .type = PT_NUMERIC, .mode = PM_READWRITE, .max = 255}),
};

// Rows both amplifiers have.
constexpr ParamRow kName = make({.name = "Name", .mnemonic = "NAME", .type = PT_TEXT, .mode = PM_READ});
constexpr ParamRow kPur = make({.name = "PUR",
                                .mnemonic = "PUR",
                                .type = PT_ONOFF,
                                .mode = PM_READWRITE,
                                .max = 1,
                                .digits = 1,
                                .words = {"1", "0", "En", "Dis"}});
constexpr ParamRow kCfdDelEn = make({.name = "CFDDelEn",
                                     .mnemonic = "CFDED",
                                     .type = PT_ONOFF,
                                     .mode = PM_READWRITE,
                                     .max = 1,
                                     .digits = 1,
                                     .words = {"1", "0", "En", "Dis"}});
constexpr ParamRow kCfdDelay = make({.name = "CFDDelay",
                                     .mnemonic = "CFDDEL",
                                     .type = PT_NUMERIC,
                                     .mode = PM_READWRITE,
                                     .max = 31,
                                     .digits = 1});
constexpr ParamRow kCfdWidth = make({.name = "CFDWidth",
                                     .mnemonic = "CFDWDT",
                                     .type = PT_NUMERIC,
                                     .mode = PM_READWRITE,
                                     .max = 31,
                                     .digits = 1});
constexpr ParamRow kOrWidth = make({.name = "ORWidth",
                                    .mnemonic = "ORWDT",
                                    .type = PT_NUMERIC,
                                    .mode = PM_READWRITE,
                                    .max = 31,
                                    .digits = 1});

constexpr ParamRow kL5026Rows[] = {
    kName,
    make({.name = "MuxOut",
          .mnemonic = "MUX",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 2,
          .digits = 1,
          .labels = {{"Disable", "Energy Enabled", "Timing Enabled"}}}),
    make({.name = "InPol",
          .mnemonic = "POL",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .words = {"1", "0", "Neg", "Pos"}}),
    make({.name = "Shape",
          .mnemonic = "SHAPE",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 4,
          .digits = 1,
          .unit = U_SECOND,
          .exponent = -6,
          .labels = {{"0.5", "1", "2", "4", "0.5 Fast"}}}),
    make({.name = "CoarsGain",
          .mnemonic = "CGAIN",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 7,
          .digits = 1,
          .labels = {{"2", "4", "8", "16", "32", "64", "128", "256"}}}),
    make({.name = "FineGain",
          .mnemonic = "FGAIN",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 127,
          .digits = 1}),
    make({.name = "PoleZAdj",
          .mnemonic = "PZADJ",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 255,
          .digits = 1}),
    make({.name = "TGain",
          .mnemonic = "TGAIN",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .labels = {{"1X", "4X"}}}),
    make({.name = "TInt",
          .mnemonic = "TINT",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .unit = U_SECOND,
          .exponent = -9,
          .labels = {{"20", "80"}}}),
    make({.name = "TDiff",
          .mnemonic = "TDIFF",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .unit = U_SECOND,
          .exponent = -9,
          .labels = {{"100", "500"}}}),
    make({.name = "OffsetAdj",
          .mnemonic = "OFFADJTST",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 65535,
          .digits = 1}),
    make({.name = "Threshold",
          .mnemonic = "THR",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 4095,
          .digits = 1}),
    kCfdDelEn,
    kCfdDelay,
    kCfdWidth,
    make({.name = "OROut",
          .mnemonic = "OR",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .words = {"1", "0", "Dis", "En"}}),
    kOrWidth,
    kPur,
};

constexpr ParamRow kL5126Rows[] = {
    kName,
    make({.name = "Shape",
          .mnemonic = "SHAPE",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 2,
          .digits = 1,
          .unit = U_SECOND,
          .exponent = -9,
          .labels = {{"200", "400", "800"}}}),
    make({.name = "SlowFGain",
          .mnemonic = "SLOWFGAIN",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 191,
          .digits = 1}),
    make({.name = "AUXFFGain",
          .mnemonic = "AUXFGAIN",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 191,
          .digits = 1}),
    make({.name = "SlowCGain",
          .mnemonic = "SLOWCGAIN",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 3,
          .digits = 1,
          .labels = {{"1X", "4X", "16X", "64X"}}}),
    // The coarse-gain partner of AUXFGAIN, as SLOWCGAIN is of SLOWFGAIN.
    make({.name = "AUXFCGain",
          .mnemonic = "AUXCGAIN",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 3,
          .digits = 1,
          .labels = {{"1X", "4X", "16X", "64X"}}}),
    kPur,
    make({.name = "MuxOut",
          .mnemonic = "MUX",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 2,
          .digits = 1,
          .labels = {{"Disable", "Slow Enabled", "FAUX Enabled"}}}),
    make({.name = "MuxSel",
          .mnemonic = "OUTSEL",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .labels = {{"Fast Enabled", "AUX Enabled"}}}),
    make({.name = "Threshold",
          .mnemonic = "THR",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 4000,
          .digits = 1}),
    kCfdDelEn,
    kCfdDelay,
    kCfdWidth,
    kOrWidth,
    make({.name = "OR",
          .mnemonic = "OR",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .words = {"1", "0", "En", "Dis"}}),
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

// BDNCH is not asked: the modules have 16 channels. Both parts of the
// release start with a digit.
constexpr TextIdentity identityOf(const Model &m)
{
    return {"BDNAME", kModelMax, m.name, nullptr, kChannels, kChannels, "BDFREL", true, true, "SERNUM"};
}

int openModule(TextInstance &in, const Model &m)
{
    if (Text_ReadIdentity(in, identityOf(m)) != 0)
        return -1;
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
                 .dialect = Bd_AmplifierDialect(),
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
    return Bd_FormatWholeValuePart(row, value, out, cap);
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
