// BQ71XXE desktop HV supplies: parameter tables, identification, the current
// range probe and limits at open, over the text engine.
#include "modules/bq71xxe_backend.h"

#include <cstring>
#include <iterator>

#include "modules/bd_dialect.h"
#include "modules/cmd_dialect.h"
#include "modules/text_family.h"
#include "modules/text_hv_rows.h"
#include "modules/text_rows.h"

namespace koruhv {

namespace {

using namespace rows;

constexpr ParamRow kBoardRows[] = {
    hv::kIlkStat,
    make({.name = "BdAlarm", .mnemonic = "BDALARM", .type = PT_BDSTATUS, .mode = PM_READ}),
    make({.name = "ClearAlarm", .mnemonic = "BDCLR", .type = PT_ONOFF, .mode = PM_COMMAND}),
};

constexpr ParamRow kChannelRows[] = {
    hv::kVSet,
    make({.name = "VMon",
          .mnemonic = "VMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 1,
          .digits = 4,
          .textDecimals = 1,
          .unit = U_VOLT}),
    hv::kISet,
    make({.name = "IMon",
          .mnemonic = "IMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .digits = 4,
          .textDecimals = 2,
          .unit = U_AMPERE,
          .exponent = -6}),
    // Units without current ranges do not know it; it is dropped at open.
    make({.name = "ImonRange",
          .mnemonic = "IMRANGE",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"LOW", "HIGH", "Low", "Hi"}}),
    hv::kMaxV,
    hv::kRUp,
    hv::kRDwn,
    hv::kTrip,
    hv::kPDwn,
    hv::kPolarity,
    hv::kChStatus,
    hv::kPw,
};

constexpr int kMaxChannels = 8;

// Limits and decimals the unit reports per channel row; the current rows
// have their low-range queries.
constexpr LimitQuery kLimits[] = {
    {"VSET", "VMIN", "VMAX", nullptr, "VSDEC", nullptr},
    {"VMON", nullptr, nullptr, nullptr, "VMDEC", nullptr},
    {"ISET", "IMIN", "IMAXH", "IMAXL", "ISDEC", nullptr},
    {"IMON", nullptr, nullptr, nullptr, "IMDECH", "IMDECL"},
    {"MAXV", "MVMIN", "MVMAX", nullptr, "MVDEC", nullptr},
    {"RUP", "RUPMIN", "RUPMAX", nullptr, "RUPDEC", nullptr},
    {"RDW", "RDWMIN", "RDWMAX", nullptr, "RDWDEC", nullptr},
    {"TRIP", "TRIPMIN", "TRIPMAX", nullptr, "TRIPDEC", nullptr},
};

constexpr TextIdentity kIdentity = {"BDNAME",     99,       nullptr, "BDNCH", 0,
                                    kMaxChannels, "BDFREL", true,    false,   "BDSNUM"};

int openUnit(TextInstance &in)
{
    if (Text_ReadIdentity(in, kIdentity) != 0)
        return -1;
    for (const ParamRow &r : kBoardRows)
        Text_AddBoardRow(in, r);
    char v[1024];
    const bool ranges = Text_Monitor(in, 0, "IMRANGE", v, sizeof v) == 0;
    for (const ParamRow &r : kChannelRows) {
        if (!ranges && std::strcmp(r.mnemonic, "IMRANGE") == 0)
            continue;
        const int index = Text_AddChannelRow(in, r);
        if (Text_ReadLimits(in, 0, in.rows[static_cast<size_t>(index)], kLimits, std::size(kLimits),
                            ranges) != 0)
            return -1;
        Text_SleepMs(Text_Timing().rowPauseMs);
    }
    return 0;
}

constexpr const char *kBareSets[] = {"BDCLR", "On", "Off", nullptr};

// ON and OFF with the value 0 mean "nothing to do"; the alarm reset always goes out.
constexpr const char *kIdleWords[] = {"ON", "OFF", nullptr};
bool skipSet(const char *mnemonic, const void *value)
{
    return Text_ZeroSetOf(kIdleWords, mnemonic, value);
}

TextFamilyState gState;

} // namespace

const TextFamily kBQ71XXEFamily = {
    .name = "BQ71XXE",
    .tcpPort = 23,
    .maxInstances = 32,
    .maxChannels = kMaxChannels,
    .pauseAfterTcpOpen = true,
    .shareTcpLinks = true,
    .channelNameFormat = "CH0%d",
    .statusMnemonic = "STAT",
    .switchFromStatus = Text_SwitchFromBit0,
    .dialect = Cmd_Dialect(Cmd_ParseAddress,
                           Text_BuildRequest<kBareSets, Bd_FormatValuePart, Cmd_RequestLine>, skipSet),
    .openUnit = openUnit,
    .state = &gState,
};

constinit const BackendOps kBQ71XXEBackend = MakeTextBackendOps<kBQ71XXEFamily>(11, "KORU_BQ71XXE_HVW_");

TEXT_FAMILY_ENTRY_DEFS(BQ71XXE, kBQ71XXEFamily)

} // namespace koruhv
