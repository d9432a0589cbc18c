// L2290 NIM HV modules: parameter tables, identification and limits at open,
// and the family's entry operations over the text engine.
#include "modules/l2290_backend.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "modules/bd_dialect.h"
#include "modules/text_family.h"
#include "modules/text_hv_rows.h"
#include "modules/text_rows.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

using namespace rows;

constexpr ParamRow kBoardRows[] = {
    hv::kIlkStat,
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
    hv::kVSet,
    make({.name = "VMon",
          .mnemonic = "VMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 10000,
          .decimals = 1,
          .digits = 4,
          .textDecimals = 1,
          .unit = U_VOLT}),
    hv::kISet,
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

// Limits the module reports per channel row: minimum, maximum, decimals.
constexpr LimitQuery kLimits[] = {
    {"VSET", "VMIN", "VMAX", nullptr, "VDEC", nullptr},
    {"ISET", "IMIN", "IMAX", nullptr, "ISDEC", nullptr},
    {"MAXV", "MVMIN", "MVMAX", nullptr, "MVDEC", nullptr},
    {"RUP", "RUPMIN", "RUPMAX", nullptr, "RUPDEC", nullptr},
    {"RDW", "RDWMIN", "RDWMAX", nullptr, "RDWDEC", nullptr},
    {"TRIP", "TRIPMIN", "TRIPMAX", nullptr, "TRIPDEC", nullptr},
};

// The current monitors' decimals: those of the range the row is not in
// move by two. They never fail.
void readMonitorDecimals(TextInstance &in, int channel, ParamRow &row)
{
    char v[1024];
    int dec = Text_Monitor(in, channel, "IMDEC", v, sizeof v) == 0 ? ParseIntText(v) : 0;
    if (Text_Monitor(in, channel, "IMRANGE", v, sizeof v) == 0) {
        if (std::strcmp(row.name, "IMonL") == 0 && std::strcmp(v, "HIGH") == 0)
            dec += 2;
        else if (std::strcmp(row.name, "IMonH") == 0 && std::strcmp(v, "LOW") == 0)
            dec -= 2;
    }
    row.decimals = static_cast<int16_t>(std::clamp(dec, -32768, 32767));
}

constexpr TextIdentity kIdentity = {"BDNAME",     99,       nullptr, "BDNCH", 0,
                                    kMaxChannels, "BDFREL", false,   false,   "BDSNUM"};

int openUnit(TextInstance &in)
{
    if (Text_ReadIdentity(in, kIdentity) != 0)
        return -1;
    for (const ParamRow &r : kBoardRows)
        Text_AddBoardRow(in, r);
    for (const ParamRow &r : kChannelRows) {
        ParamRow &row = in.rows[static_cast<size_t>(Text_AddChannelRow(in, r))];
        if (std::strcmp(row.mnemonic, "IMON") == 0)
            readMonitorDecimals(in, 0, row);
        else if (Text_ReadLimits(in, 0, row, kLimits, std::size(kLimits), false) != 0)
            return -1;
        Text_SleepMs(Text_Timing().rowPauseMs);
    }
    return 0;
}

constexpr const char *kBareSets[] = {"BDCLR", "On", "Off", nullptr};

// ON, OFF and BDCLR with the value 0 mean "nothing to do".
constexpr const char *kIdleWords[] = {"ON", "OFF", "BDCLR", nullptr};
bool skipSet(const char *mnemonic, const void *value)
{
    return Text_ZeroSetOf(kIdleWords, mnemonic, value);
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
    .dialect = Bd_Dialect(Bd_ParseAddress, Text_BuildRequest<kBareSets, Bd_FormatValuePart, Bd_BuildRequest>,
                          skipSet),
    .openUnit = openUnit,
    .state = &gState,
};

constinit const BackendOps kL2290Backend = MakeTextBackendOps<kL2290Family>(6, "KORU_L2290_HVW_");

TEXT_FAMILY_ENTRY_DEFS(L2290, kL2290Family)

} // namespace koruhv
