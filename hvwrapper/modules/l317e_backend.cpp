// L317E amplifiers: parameter tables with enumeration labels, the shaping
// labels of the model variants, identification at open, the value format of
// its sets and its property set, over the text engine.
#include "modules/l317e_backend.h"

#include <cstdio>
#include <cstring>

#include "modules/bd_dialect.h"
#include "modules/text_family.h"
#include "modules/text_rows.h"

namespace koruhv {

namespace {

using namespace rows;

// On/off rows travel as 0 and 1; their labels are the "Onstate"/"Offstate".
constexpr ParamRow kBoardRows[] = {
    make({.name = "Offset",
          .mnemonic = "OFFSET",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 255,
          .digits = 3}),
    make({.name = "MuxOut",
          .mnemonic = "MUXEN",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .words = {"1", "0", "En", "Dis"}}),
    make({.name = "LastCh",
          .mnemonic = "LASTCH",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 15,
          .digits = 2}),
};

constexpr ParamRow kChannelRows[] = {
    make({.name = "Name", .mnemonic = "NAME", .type = PT_TEXT, .mode = PM_READ}),
    make({.name = "CoarGain",
          .mnemonic = "CGAIN",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 7,
          .digits = 1}),
    make({.name = "FineGain",
          .mnemonic = "FGAIN",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 255,
          .digits = 3}),
    make({.name = "Shape",
          .mnemonic = "SHAPE",
          .type = PT_ENUM,
          .mode = PM_READWRITE,
          .max = 3,
          .digits = 1,
          .unit = U_SECOND,
          .exponent = -6}),
    make({.name = "OutConf",
          .mnemonic = "CONF",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .words = {"1", "0", "Inv", "Dir"}}),
    make({.name = "OutPol",
          .mnemonic = "POL",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .digits = 1,
          .words = {"1", "0", "Neg", "Pos"}}),
    make({.name = "PoleZAdj",
          .mnemonic = "PZADJ",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 255,
          .digits = 3}),
};

constexpr const char *kCoarseGainLabels[] = {"1", "2", "4", "8", "16", "32", "64", "128"};

// Shaping times by model variant (first 7 characters of the model).
struct ShapeLabels {
    const char *prefix;
    const char *labels[4];
};
constexpr ShapeLabels kShapes[] = {
    {"L317EBB", {"0.2", "1", "3", "0.1"}},
    {"L317EBC", {"0.2", "1", "2", "6"}},
    {"L317EBD", {"0.2", "1", "2", "6"}},
};
constexpr const char *kDefaultShape[] = {"0.2", "1", "3", "6"};

constexpr int kChannels = 16;

template <size_t N> void setLabels(ParamRow &row, const char *const (&labels)[N])
{
    std::memset(row.enumLabels, 0, sizeof row.enumLabels);
    for (size_t i = 0; i < N && i < 10; ++i)
        std::snprintf(row.enumLabels[i], sizeof row.enumLabels[i], "%s", labels[i]);
}

// Sixteen channels; the unit is not asked.
constexpr TextIdentity kIdentity = {"BDNAME",  19,       "L317E", nullptr, kChannels,
                                    kChannels, "BDFREL", true,    false,   "SERNUM"};

int openUnit(TextInstance &in)
{
    if (Text_ReadIdentity(in, kIdentity) != 0)
        return -1;
    for (const ParamRow &r : kBoardRows)
        Text_AddBoardRow(in, r);
    for (const ParamRow &r : kChannelRows) {
        ParamRow row = r;
        if (!std::strcmp(row.mnemonic, "CGAIN"))
            setLabels(row, kCoarseGainLabels);
        if (!std::strcmp(row.mnemonic, "SHAPE")) {
            setLabels(row, kDefaultShape);
            for (const ShapeLabels &s : kShapes)
                if (in.model.compare(0, 7, s.prefix) == 0)
                    setLabels(row, s.labels);
        }
        Text_AddChannelRow(in, row);
    }
    return 0;
}

// "Decimal" is always 0; labels that are empty are refused (the empty text
// is still written); "Enum" gives the ten labels of an enumeration.
int rowProperty(const ParamRow &row, const char *prop, void *result)
{
    if (!prop || !result)
        return TEXT_UNKNOWN_PROPERTY;
    if (!std::strcmp(prop, "Decimal")) {
        const int16_t zero = 0;
        std::memcpy(result, &zero, sizeof zero);
        return 0;
    }
    if (!std::strcmp(prop, "Onstate") || !std::strcmp(prop, "Offstate")) {
        const char *label = prop[1] == 'n' ? row.onLabel : row.offLabel;
        std::memcpy(result, label, std::strlen(label) + 1);
        return label[0] ? 0 : TEXT_UNKNOWN_PROPERTY;
    }
    if (!std::strcmp(prop, "Enum")) {
        std::memcpy(result, row.enumLabels, sizeof row.enumLabels);
        return row.type() == PT_ENUM ? 0 : TEXT_UNKNOWN_PROPERTY;
    }
    return Text_RowProperty(row, prop, result);
}

TextFamilyState gState;

} // namespace

const TextFamily kL317EFamily = {
    .name = "L317E",
    .tcpPort = 317,
    .maxInstances = 32,
    .maxChannels = kChannels,
    .pauseAfterTcpOpen = false,
    .shareTcpLinks = true,
    .channelNameFormat = "CH%02d",
    .statusMnemonic = nullptr,
    .switchFromStatus = nullptr,
    .dialect = Bd_AmplifierDialect(),
    .openUnit = openUnit,
    .state = &gState,
    .rowProperty = rowProperty,
    .boardTexts = TEXT_VALUES_POINTERS,
    .channelTexts = TEXT_VALUES_POINTERS,
    .chPropUnknownParam = TEXT_UNKNOWN_PROPERTY,
    .chPropFoundIgnoresSlot = true,
};

constinit const BackendOps kL317EBackend = MakeTextBackendOps<kL317EFamily>(8, "KORU_L317E_HVW_");

TEXT_FAMILY_ENTRY_DEFS(L317E, kL317EFamily)

} // namespace koruhv
