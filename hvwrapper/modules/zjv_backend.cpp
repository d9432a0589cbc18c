// ZJV supplies: the channel table, resolutions read at open and turned into
// decimals, the property set and the presence test, over the text engine.
#include "modules/zjv_backend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link.h"
#include "modules/bd_dialect.h"
#include "modules/cmd_dialect.h"
#include "modules/text_family.h"
#include "modules/text_rows.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

using namespace rows;

// Numbers go out as "%05.2f"; only "Pw" is writable.
constexpr ParamRow kChannelRows[] = {
    make({.name = "V5",
          .mnemonic = "V5",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 2,
          .digits = 3,
          .textDecimals = 2,
          .unit = U_VOLT}),
    make({.name = "V48",
          .mnemonic = "V48",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 2,
          .digits = 3,
          .textDecimals = 2,
          .unit = U_VOLT}),
    make({.name = "VFan",
          .mnemonic = "VFAN",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 2,
          .digits = 3,
          .textDecimals = 2,
          .unit = U_VOLT}),
    make({.name = "I5",
          .mnemonic = "I5",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 2,
          .digits = 3,
          .textDecimals = 2,
          .unit = U_AMPERE}),
    make({.name = "I48",
          .mnemonic = "I48",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 2,
          .digits = 3,
          .textDecimals = 2,
          .unit = U_AMPERE}),
    make({.name = "IFan",
          .mnemonic = "IFAN",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .decimals = 2,
          .digits = 3,
          .textDecimals = 2,
          .unit = U_AMPERE}),
    make({.name = "Status", .mnemonic = "STAT", .type = PT_CHSTATUS, .mode = PM_READ}),
    make({.name = "Pw",
          .mnemonic = "Pw",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"ON", "OFF", "On", "Off"},
          .rule = RULE_SWITCH}),
};

// Resolution query of each supply row.
struct Resolution {
    const char *mnemonic, *query;
};
constexpr Resolution kResolutions[] = {
    {"V5", "V5RES"}, {"V48", "V48RES"}, {"VFAN", "VFANRES"},
    {"I5", "I5RES"}, {"I48", "I48RES"}, {"IFAN", "IFANRES"},
};

constexpr int kChannels = 2;

// The unit has two channels; it is not asked. It has no serial number.
constexpr TextIdentity kIdentity = {"BDNAME",  99,       nullptr, nullptr, kChannels,
                                    kChannels, "BDFREL", true,    false,   nullptr};

int openUnit(TextInstance &in)
{
    if (Text_ReadIdentity(in, kIdentity) != 0)
        return -1;
    char v[1024];
    for (const ParamRow &r : kChannelRows) {
        const int index = Text_AddChannelRow(in, r);
        ParamRow &row = in.rows[static_cast<size_t>(index)];
        for (const Resolution &q : kResolutions) {
            if (std::strcmp(row.mnemonic, q.mnemonic) != 0)
                continue;
            if (Text_Monitor(in, 0, q.query, v, sizeof v) != 0)
                return -1;
            row.decimals = static_cast<int16_t>(ZJV_DecimalsOfResolution(ParseDecimal(v)));
        }
        if (row.type() != PT_NUMERIC)
            row.decimals = 0;
        Text_SleepMs(Text_Timing().rowPauseMs);
    }
    return 0;
}

constexpr const char *kBareSets[] = {"On", "Off", nullptr};
constexpr const char *kIdleWords[] = {"ON", "OFF", nullptr};

bool skipSet(const char *mnemonic, const void *value)
{
    return Text_ZeroSetOf(kIdleWords, mnemonic, value);
}

// The unit reports no limits and no exponent.
int rowProperty(const ParamRow &row, const char *prop, void *result)
{
    if (!prop || !std::strcmp(prop, "Minval") || !std::strcmp(prop, "Maxval") || !std::strcmp(prop, "Exp"))
        return TEXT_UNKNOWN_PROPERTY;
    return Text_RowProperty(row, prop, result);
}

int testBdPresence(const BackendRef &b, uint16_t slot, char *model, char *description, uint16_t *serialNumber,
                   uint8_t *firmwareMinor, uint8_t *firmwareMajor)
{
    return ZJV_TestBdPresence(b.handle, slot, model, description, serialNumber, firmwareMinor, firmwareMajor);
}

constexpr BackendOps makeOps()
{
    BackendOps ops = MakeTextBackendOps<kZJVFamily>(10, "KORU_ZJV_HVW_");
    ops.TestBdPresence = testBdPresence;
    return ops;
}

TextFamilyState gState;

} // namespace

int ZJV_DecimalsOfResolution(double resolution)
{
    if (!(resolution > 1.0))
        return 0; // also a resolution that is no number
    long long whole = resolution > 1e18 ? 1000000000000000000LL : static_cast<long long>(resolution);
    int n = 0;
    while (whole > 1) {
        whole /= 10;
        ++n;
    }
    return n;
}

const TextFamily kZJVFamily = {
    .name = "ZJV",
    .tcpPort = 23,
    .maxInstances = 32,
    .maxChannels = kChannels,
    .pauseAfterTcpOpen = true,
    .shareTcpLinks = true,
    .channelNameFormat = "CH0%d",
    .statusMnemonic = "STAT",
    .switchFromStatus = Text_SwitchFromBit0,
    .dialect = Cmd_Dialect(Cmd_ParseAddress,
                           Text_BuildRequest<kBareSets, Bd_FormatValuePart, Cmd_RequestLine>, skipSet),
    .openUnit = openUnit,
    .state = &gState,
    .rowProperty = rowProperty,
    .valuesAnyChannel = true,
};

constinit const BackendOps kZJVBackend = makeOps();

TEXT_FAMILY_ENTRY_DEFS(ZJV, kZJVFamily)

int ZJV_TestBdPresence(int instance, uint16_t slot, char *model, char *description, uint16_t *serialNumber,
                       uint8_t *firmwareMinor, uint8_t *firmwareMajor)
{
    TextInstance *in = Text_FindInstance(kZJVFamily, instance);
    if (!in)
        return TEXT_NOT_OPEN;
    if (slot != 0)
        return TEXT_OUT_OF_RANGE;
    if (model)
        std::snprintf(model, KORUHV_BOARD_TEXT_SIZE, "%s", in->model.c_str());
    if (description)
        description[0] = '\0';
    if (serialNumber)
        *serialNumber = 0;
    if (firmwareMinor)
        *firmwareMinor = in->firmwareMinor;
    if (firmwareMajor)
        *firmwareMajor = in->firmwareMajor;
    // Any reply will do: the test is whether the unit answers at all.
    char v[1024];
    const int rc = Text_Monitor(*in, -1, "BDFREL", v, sizeof v);
    return rc == LINK_FAILED || rc == LINK_SEND_FAILED || rc == LINK_NULL_TEXT ? rc : 0;
}

} // namespace koruhv
