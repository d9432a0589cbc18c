// L2290 NIM HV modules: parameter tables, identification and limits at open,
// and the family's entry operations over the text engine.
#include "modules/l2290_backend.h"

#include <cstring>
#include <string>

#include "modules/bd_dialect.h"
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
    make({.name = "Interlock",
          .mnemonic = "BDILKM",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"CLOSED", "OPEN", "Closed", "Open"}}),
    make({.name = "Control",
          .mnemonic = "BDCTR",
          .type = PT_ONOFF,
          .mode = PM_READ,
          .words = {"LOCAL", "REMOTE", "Local", "Remote"}}),
    make({.name = "RTerm",
          .mnemonic = "BDTERM",
          .type = PT_ONOFF,
          .mode = PM_READ,
          .words = {"ON", "OFF", "On", "Off"}}),
    make({.name = "Alarm", .mnemonic = "BDALARM", .type = PT_BDSTATUS, .mode = PM_READ}),
    make({.name = "ClrAlarm", .mnemonic = "BDCLR", .type = PT_ONOFF, .mode = PM_COMMAND}),
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
          .max = 10000,
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
    make({.name = "ImonRange",
          .mnemonic = "IMRANGE",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"LOW", "HIGH", "Low", "Hi"},
          .rule = RULE_RANGE_SELECT}),
    make({.name = "IMonL",
          .mnemonic = "IMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 5000,
          .digits = 4,
          .textDecimals = 2,
          .unit = U_AMPERE,
          .exponent = -6,
          .rule = RULE_RANGE_LOW}),
    make({.name = "IMonH",
          .mnemonic = "IMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 5000,
          .digits = 4,
          .textDecimals = 2,
          .unit = U_AMPERE,
          .exponent = -6,
          .rule = RULE_RANGE_HIGH}),
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

// Limits the module reports per channel row: minimum, maximum, decimals.
struct LimitQuery {
    const char *mnemonic, *min, *max, *decimals;
};
constexpr LimitQuery kLimits[] = {
    {"VSET", "VMIN", "VMAX", "VDEC"},      {"ISET", "IMIN", "IMAX", "ISDEC"},
    {"MAXV", "MVMIN", "MVMAX", "MVDEC"},   {"RUP", "RUPMIN", "RUPMAX", "RUPDEC"},
    {"RDW", "RDWMIN", "RDWMAX", "RDWDEC"}, {"TRIP", "TRIPMIN", "TRIPMAX", "TRIPDEC"},
};

float limitValue(const char *text)
{
    int v = ParseIntText(text);
    if (v < 0)
        v = 0;
    if (v > 65535)
        v = 65535;
    return static_cast<float>(v);
}

int16_t decimalsValue(int v)
{
    if (v < -32768)
        v = -32768;
    if (v > 32767)
        v = 32767;
    return static_cast<int16_t>(v);
}

// Limits and decimals of one channel row from the module. Only an
// unanswered decimals query fails; the current monitors never do.
int readLimits(TextInstance &in, int channel, ParamRow &row)
{
    char v[1024];
    if (std::strcmp(row.mnemonic, "IMON") == 0) {
        int dec = Text_Monitor(in, channel, "IMDEC", v, sizeof v) == 0 ? ParseIntText(v) : 0;
        if (Text_Monitor(in, channel, "IMRANGE", v, sizeof v) == 0) {
            if (std::strcmp(row.name, "IMonL") == 0 && std::strcmp(v, "HIGH") == 0)
                dec += 2;
            else if (std::strcmp(row.name, "IMonH") == 0 && std::strcmp(v, "LOW") == 0)
                dec -= 2;
        }
        row.decimals = decimalsValue(dec);
        return 0;
    }
    for (const LimitQuery &q : kLimits) {
        if (std::strcmp(row.mnemonic, q.mnemonic) != 0)
            continue;
        if (Text_Monitor(in, channel, q.min, v, sizeof v) == 0)
            row.minimum = limitValue(v);
        if (Text_Monitor(in, channel, q.max, v, sizeof v) == 0)
            row.maximum = limitValue(v);
        if (Text_Monitor(in, channel, q.decimals, v, sizeof v) != 0)
            return -1;
        row.decimals = decimalsValue(ParseIntText(v));
        return 0;
    }
    return 0;
}

uint8_t byteValue(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
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
    const int n = ParseIntText(v);
    in.unitChannelCount = n < 0 ? 0 : n;
    in.channelCount = n < 0 ? 0 : n > kMaxChannels ? kMaxChannels : n;
    if (Text_Monitor(in, -1, "BDFREL", v, sizeof v) != 0)
        return -1;
    const char *dot = std::strchr(v, '.');
    if (!dot || dot[1] == '\0')
        return -1;
    in.firmwareMajor = byteValue(ParseIntText(v));
    in.firmwareMinor = byteValue(ParseIntText(dot + 1));
    if (Text_Monitor(in, -1, "BDSNUM", v, sizeof v) != 0)
        return -1;
    in.serialNumber = ParseIntText(v);

    in.channelLists.assign(static_cast<size_t>(in.channelCount), {});
    for (const ParamRow &r : kBoardRows)
        Text_AddBoardRow(in, r);
    for (const ParamRow &r : kChannelRows) {
        const int index = Text_AddChannelRow(in, r);
        if (readLimits(in, 0, in.rows[static_cast<size_t>(index)]) != 0)
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
    return Bd_BuildRequest(in, kind, channel, mnemonic, part, out, cap);
}

// ON, OFF and BDCLR with the value 0 mean "nothing to do".
bool skipSet(const char *mnemonic, const void *value)
{
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    return v == 0 &&
           (!std::strcmp(mnemonic, "ON") || !std::strcmp(mnemonic, "OFF") || !std::strcmp(mnemonic, "BDCLR"));
}

// A channel is on when its status has bit 0 and not bit 2 (ramping down).
int switchFromStatus(long status)
{
    return (status & 4) ? 0 : static_cast<int>(status & 1);
}

TextFamilyState gState;

} // namespace

const TextFamily kL2290Family = {
    .name = "L2290",
    .tcpPort = 2290,
    .maxInstances = 32,
    .maxChannels = kMaxChannels,
    .pauseAfterTcpOpen = true,
    .shareTcpLinks = true,
    .channelNameFormat = "CH0%d",
    .statusMnemonic = "STAT",
    .switchFromStatus = switchFromStatus,
    .dialect =
        {
            .parseAddress = Bd_ParseAddress,
            .buildRequest = buildRequest,
            .isOwnReply = Bd_IsOwnReply,
            .parseReply = Bd_ParseReply,
            .setResult = Bd_SetResult,
            .skipSet = skipSet,
        },
    .openUnit = openUnit,
    .state = &gState,
};

constinit const BackendOps kL2290Backend = MakeTextBackendOps<kL2290Family>(6, "KORU_L2290_HVW_");

TEXT_FAMILY_ENTRY_DEFS(L2290, kL2290Family)

} // namespace koruhv
