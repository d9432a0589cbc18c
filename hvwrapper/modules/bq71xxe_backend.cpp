// BQ71XXE desktop HV supplies: parameter tables, identification, the current
// range probe and limits at open, over the text engine.
#include "modules/bq71xxe_backend.h"

#include <algorithm>
#include <cstring>

#include "modules/bd_dialect.h"
#include "modules/cmd_dialect.h"
#include "modules/text_rows.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

using namespace rows;

constexpr ParamRow kBoardRows[] = {
    make({.name = "IlkStat",
          .mnemonic = "BDILK",
          .type = PT_ONOFF,
          .mode = PM_READ,
          .words = {"YES", "NO", "Yes", "No"}}),
    make({.name = "BdAlarm", .mnemonic = "BDALARM", .type = PT_BDSTATUS, .mode = PM_READ}),
    make({.name = "ClearAlarm", .mnemonic = "BDCLR", .type = PT_ONOFF, .mode = PM_COMMAND}),
};

constexpr ParamRow kChannelRows[] = {
    make({.name = "VSet",
          .mnemonic = "VSET",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 8000,
          .decimals = 1,
          .digits = 4,
          .textDecimals = 1,
          .unit = U_VOLT}),
    make({.name = "VMon",
          .mnemonic = "VMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 1,
          .digits = 4,
          .textDecimals = 1,
          .unit = U_VOLT}),
    make({.name = "ISet",
          .mnemonic = "ISET",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 3000,
          .digits = 4,
          .textDecimals = 2,
          .unit = U_AMPERE,
          .exponent = -6}),
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
    make({.name = "MaxV",
          .mnemonic = "MAXV",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 8100,
          .digits = 4,
          .unit = U_VOLT}),
    make({.name = "RUp",
          .mnemonic = "RUP",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .min = 1,
          .max = 500,
          .digits = 3,
          .unit = U_VOLT_PER_S}),
    make({.name = "RDwn",
          .mnemonic = "RDW",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .min = 1,
          .max = 500,
          .digits = 3,
          .unit = U_VOLT_PER_S}),
    make({.name = "Trip",
          .mnemonic = "TRIP",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 1000,
          .digits = 4,
          .textDecimals = 1,
          .unit = U_SECOND}),
    make({.name = "PDwn",
          .mnemonic = "PDWN",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"RAMP", "KILL", "Ramp", "Kill"}}),
    make({.name = "Polarity",
          .mnemonic = "POL",
          .type = PT_ONOFF,
          .mode = PM_READ,
          .words = {"-", "+", "-", "+"}}),
    make({.name = "ChStatus", .mnemonic = "STAT", .type = PT_CHSTATUS, .mode = PM_READ}),
    make({.name = "Pw",
          .mnemonic = "Pw",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"ON", "OFF", "On", "Off"},
          .rule = RULE_SWITCH}),
};

constexpr int kMaxChannels = 8;

// Limits and decimals the unit reports per channel row. The current rows
// have a second, low-range query on units with current ranges: the larger
// answer of the two counts.
struct LimitQuery {
    const char *mnemonic, *min, *max, *maxLow, *decimals, *decimalsLow;
};
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

// Only an unanswered decimals query fails the row.
int readLimits(TextInstance &in, int channel, ParamRow &row, bool ranges)
{
    for (const LimitQuery &q : kLimits) {
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

uint8_t byteValue(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

int openUnit(TextInstance &in)
{
    char v[1024];
    if (Text_Monitor(in, -1, "BDNAME", v, sizeof v) != 0)
        return -1;
    in.model.assign(v, strnlen(v, 99));
    if (Text_Monitor(in, -1, "BDNCH", v, sizeof v) != 0)
        return -1;
    // Lists and subscription masks hold 8 channels; further ones are not served.
    const int n = std::max(ParseIntText(v), 0);
    in.unitChannelCount = n;
    in.channelCount = std::min(n, kMaxChannels);
    if (Text_Monitor(in, -1, "BDFREL", v, sizeof v) != 0)
        return -1;
    const char *dot = std::strchr(v, '.');
    if (!dot || dot == v || dot[1] == '\0')
        return -1;
    in.firmwareMajor = byteValue(ParseIntText(v));
    in.firmwareMinor = byteValue(ParseIntText(dot + 1));
    if (Text_Monitor(in, -1, "BDSNUM", v, sizeof v) != 0)
        return -1;
    in.serialNumber = ParseIntText(v);

    in.channelLists.assign(static_cast<size_t>(in.channelCount), {});
    for (const ParamRow &r : kBoardRows)
        Text_AddBoardRow(in, r);
    const bool ranges = Text_Monitor(in, 0, "IMRANGE", v, sizeof v) == 0;
    for (const ParamRow &r : kChannelRows) {
        if (!ranges && std::strcmp(r.mnemonic, "IMRANGE") == 0)
            continue;
        const int index = Text_AddChannelRow(in, r);
        if (readLimits(in, 0, in.rows[static_cast<size_t>(index)], ranges) != 0)
            return -1;
        Text_SleepMs(Text_Timing().rowPauseMs);
    }
    return 0;
}

int buildRequest(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                 const void *value, char *out, size_t cap)
{
    char part[160] = "";
    if (kind == REQ_SET && value) {
        const ParamRow *row = Text_FindRowByMnemonic(in, mnemonic);
        if (row && std::strcmp(row->mnemonic, "BDCLR") != 0 && std::strcmp(row->mnemonic, "On") != 0 &&
            std::strcmp(row->mnemonic, "Off") != 0 && !Bd_FormatValuePart(*row, value, part, sizeof part))
            return -1;
    }
    return Cmd_BuildRequest(kind, channel, mnemonic, part, out, cap);
}

// ON and OFF with the value 0 mean "nothing to do"; the alarm reset always goes out.
bool skipSet(const char *mnemonic, const void *value)
{
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    return v == 0 && (!std::strcmp(mnemonic, "ON") || !std::strcmp(mnemonic, "OFF"));
}

// A channel is on when its status has bit 0.
int switchFromStatus(long status)
{
    return static_cast<int>(status & 1);
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
    .switchFromStatus = switchFromStatus,
    .dialect =
        {
            .parseAddress = Cmd_ParseAddress,
            .buildRequest = buildRequest,
            .isOwnReply = nullptr,
            .parseReply = Cmd_ParseReply,
            .setResult = Cmd_SetResult,
            .skipSet = skipSet,
        },
    .openUnit = openUnit,
    .state = &gState,
};

constinit const BackendOps kBQ71XXEBackend = MakeTextBackendOps<kBQ71XXEFamily>(11, "KORU_BQ71XXE_HVW_");

TEXT_FAMILY_ENTRY_DEFS(BQ71XXE, kBQ71XXEFamily)

} // namespace koruhv
