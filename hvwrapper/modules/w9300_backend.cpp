// W9300 crate supplies: crate and channel tables, the crate-as-channel-8
// requests, identification at open, limits and resolutions read live as
// properties, over the text engine.
#include "modules/w9300_backend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link.h"
#include "modules/bd_dialect.h"
#include "modules/cmd_dialect.h"
#include "modules/text_family.h"
#include "modules/text_rows.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

using namespace rows;

constexpr int kCrateChannel = 8;
constexpr int kMaxChannels = 8;

// digits.decimals of a value the library sends: width digits + decimals.
constexpr ParamRow kCrateRows[] = {
    make({.name = "Temp", .mnemonic = "PSTEMP", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_CELSIUS}),
    make({.name = "FanSpeed", .mnemonic = "FANSP", .type = PT_NUMERIC, .mode = PM_READWRITE, .digits = 1}),
    make({.name = "Fan1", .mnemonic = "FAN1", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_RPM}),
    make({.name = "Fan2", .mnemonic = "FAN2", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_RPM}),
    make({.name = "Fan3", .mnemonic = "FAN3", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_RPM}),
    make({.name = "FUFwRel", .mnemonic = "FUFREL", .type = PT_TEXT, .mode = PM_READ}),
    make({.name = "FUTemp", .mnemonic = "FUTEMP", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_CELSIUS}),
    make({.name = "FUSerNum", .mnemonic = "FUSNUM", .type = PT_NUMERIC, .mode = PM_READ}),
    make({.name = "CrStat", .mnemonic = "CRST", .type = PT_BDSTATUS, .mode = PM_READ}),
    make({.name = "VPMax", .mnemonic = "VPMAX", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_VOLT}),
    make({.name = "VPMin", .mnemonic = "VPMIN", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_VOLT}),
    make({.name = "RS232BR", .mnemonic = "RS232BR", .type = PT_NUMERIC, .mode = PM_READ}),
    make({.name = "CANBR", .mnemonic = "CANBR", .type = PT_NUMERIC, .mode = PM_READ, .unit = U_BIT}),
    make({.name = "CANAddr", .mnemonic = "CANADD", .type = PT_NUMERIC, .mode = PM_READ}),
    make({.name = "IPAddr", .mnemonic = "IPADD", .type = PT_TEXT, .mode = PM_READ}),
    make({.name = "IPMsk", .mnemonic = "IPMSK", .type = PT_TEXT, .mode = PM_READ}),
    make({.name = "IPGtw", .mnemonic = "IPGTW", .type = PT_TEXT, .mode = PM_READ}),
    make({.name = "MACAddr", .mnemonic = "MACADD", .type = PT_TEXT, .mode = PM_READ}),
    // The crate's power: read from bit 0 of "CRST", switched with ON and OFF.
    make({.name = "Pw",
          .mnemonic = "Pw",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"ON", "OFF", "On", "Off"},
          .rule = RULE_SWITCH}),
    make({.name = "SysRes", .mnemonic = "SYSR", .type = PT_NUMERIC, .mode = PM_COMMAND}),
    make({.name = "ClrAlrm", .mnemonic = "CLR", .type = PT_NUMERIC, .mode = PM_COMMAND}),
};

constexpr ParamRow kChannelRows[] = {
    make({.name = "Name", .mnemonic = "NAME", .type = PT_TEXT, .mode = PM_READWRITE}),
    make({.name = "VSet",
          .mnemonic = "VSET",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .digits = 2,
          .textDecimals = 2,
          .unit = U_VOLT}),
    make({.name = "VMon",
          .mnemonic = "VMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .digits = 2,
          .unit = U_VOLT}),
    make({.name = "ISet",
          .mnemonic = "ISET",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .digits = 3,
          .textDecimals = 1,
          .unit = U_AMPERE}),
    make({.name = "IMon",
          .mnemonic = "IMON",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .digits = 3,
          .unit = U_AMPERE}),
    make({.name = "Ovp", .mnemonic = "OVP", .type = PT_NUMERIC, .mode = PM_READ, .digits = 2}),
    make({.name = "Uvp", .mnemonic = "UVP", .type = PT_NUMERIC, .mode = PM_READ, .digits = 2}),
    make({.name = "Status", .mnemonic = "STAT", .type = PT_CHSTATUS, .mode = PM_READ}),
};

bool allDigits(const std::string &s)
{
    return !s.empty() && s.size() <= 9 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// TCP: the IP text. Serial: "com_baud_databits_stopbits_parity_flow", the
// port given by its number (the port "COM<n>") or by its name under /dev.
int parseAddress(const TextFamily &, const char *link, const char *address, LinkParams *out)
{
    const std::vector<std::string> f = SplitText(address, '_');
    if (f.empty() || f[0].empty() || f[0].size() > 99)
        return -1;
    for (size_t i = 1; i < f.size(); ++i)
        if (f[i].size() > 39)
            return -1;
    auto num = [&](size_t i, int def) { return i < f.size() ? ParseIntText(f[i].c_str()) : def; };
    out->moduleAddress = -1;
    if (std::strcmp(link, "TCP/IP") == 0) {
        out->kind = TEXT_LINK_TCP;
        out->ip = f[0];
        return 0;
    }
    out->kind = TEXT_LINK_SERIAL;
    out->port = allDigits(f[0]) ? "COM" + std::to_string(ParseIntText(f[0].c_str())) : f[0];
    out->baud = num(1, 9600);
    out->dataBits = num(2, 8);
    out->stopBits = num(3, 0);
    out->parity = num(4, 0);
    out->flow = num(5, 0);
    return 0;
}

// Sent without a value; with the value 0 they mean "nothing to do".
constexpr const char *kBareSets[] = {"ON", "OFF", "SYSR", "CLR", nullptr};

// Every request names a channel; the crate's own parameters are channel 8.
int crateLine(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic, const char *part,
              char *out, size_t cap)
{
    return Cmd_RequestLine(in, kind, channel < 0 ? kCrateChannel : channel, mnemonic, part, out, cap);
}

bool skipSet(const char *mnemonic, const void *value)
{
    return Text_ZeroSetOf(kBareSets, mnemonic, value);
}

constexpr TextIdentity kIdentity = {"CRNAME",     19,       nullptr, "NUMCH", 0,
                                    kMaxChannels, "PSFREL", true,    false,   "PSSNUM"};

int openUnit(TextInstance &in)
{
    if (Text_ReadIdentity(in, kIdentity) != 0)
        return -1;
    for (const ParamRow &r : kCrateRows)
        Text_AddBoardRow(in, r);
    for (const ParamRow &r : kChannelRows)
        Text_AddChannelRow(in, r);
    return 0;
}

void putFloat(void *result, float v)
{
    std::memcpy(result, &v, sizeof v);
}

// The table's properties. Limits exist only for the fan speed (0..6) and,
// read live, for the set values; labels only where the row has them.
int rowProperty(const ParamRow &row, const char *prop, void *result)
{
    if (!prop || !result)
        return TEXT_UNKNOWN_PROPERTY;
    const bool fan = !std::strcmp(row.mnemonic, "FANSP");
    if (!std::strcmp(prop, "Minval") || !std::strcmp(prop, "Maxval")) {
        if (!fan)
            return TEXT_UNKNOWN_PROPERTY;
        putFloat(result, prop[1] == 'i' ? 0.0f : 6.0f);
        return 0;
    }
    if (!std::strcmp(prop, "Onstate") || !std::strcmp(prop, "Offstate")) {
        const char *label = prop[1] == 'n' ? row.onLabel : row.offLabel;
        std::memcpy(result, label, std::strlen(label) + 1);
        return label[0] ? 0 : TEXT_UNKNOWN_PROPERTY;
    }
    if (!std::strcmp(prop, "Type") || !std::strcmp(prop, "Mode") || !std::strcmp(prop, "Unit") ||
        !std::strcmp(prop, "Exp"))
        return Text_RowProperty(row, prop, result);
    return TEXT_UNKNOWN_PROPERTY;
}

// Limits and resolutions of the output rows, asked of the channel.
int liveProperty(TextInstance &in, int channel, const ParamRow &row, const char *prop, void *result)
{
    if (channel < 0)
        return -1;
    const bool v = !std::strcmp(row.mnemonic, "VSET") || !std::strcmp(row.mnemonic, "VMON");
    const bool i = !std::strcmp(row.mnemonic, "ISET") || !std::strcmp(row.mnemonic, "IMON");
    const bool set = !std::strcmp(row.mnemonic, "VSET") || !std::strcmp(row.mnemonic, "ISET");
    const char *query = nullptr;
    if (set && !std::strcmp(prop, "Minval"))
        query = v ? "VMIN" : "IMIN";
    else if (set && !std::strcmp(prop, "Maxval"))
        query = v ? "VMAX" : "IMAX";
    else if ((v || i) && (!std::strcmp(prop, "Resol") || !std::strcmp(prop, "Decimal")))
        query = v ? "VRES" : "IRES";
    if (!query)
        return -1;
    char text[1024];
    if (Text_Monitor(in, channel, query, text, sizeof text) != 0)
        return TEXT_UNKNOWN_PROPERTY;
    if (prop[0] == 'M') {
        putFloat(result, static_cast<float>(ParseDecimal(text)));
        return 0;
    }
    const int res = ParseIntText(text);
    const int16_t out = static_cast<int16_t>(prop[0] == 'R' ? std::clamp(res, -32768, 32767)
                                                            : W9300_DecimalsOfResolution(res));
    std::memcpy(result, &out, sizeof out);
    return 0;
}

TextFamilyState gState;

constexpr BackendOps makeOps()
{
    BackendOps ops = MakeTextBackendOps<kW9300Family>(7, "KORU_W9300_HVW_");
    ops.requestLockOps = opBit(OP_GET_BD_PARAM);
    return ops;
}

} // namespace

int W9300_DecimalsOfResolution(int resolution)
{
    if (resolution <= 1)
        return 0; // log10 of 0 or less has no value
    return static_cast<int>(std::ceil(std::log10(static_cast<double>(resolution)) - 1e-9));
}

const TextFamily kW9300Family = {
    .name = "W9300",
    .tcpPort = 9300,
    .maxInstances = 32,
    .maxChannels = kMaxChannels,
    .pauseAfterTcpOpen = false,
    .shareTcpLinks = false,
    .channelNameFormat = "CH%02d",
    .statusMnemonic = "CRST",
    .switchFromStatus = Text_SwitchFromBit0,
    .dialect =
        Cmd_Dialect(parseAddress, Text_BuildRequest<kBareSets, Bd_FormatValuePart, crateLine>, skipSet),
    .openUnit = openUnit,
    .state = &gState,
    .rowProperty = rowProperty,
    .liveProperty = liveProperty,
    .pollEachChannel = true,
    .boardTexts = TEXT_VALUES_PACKED,
    .channelTexts = TEXT_VALUES_POINTERS,
    .refuseUnsendableSets = true,
    .chPropUnknownParam = TEXT_UNKNOWN_PROPERTY,
    .chPropFoundIgnoresSlot = true,
    .valuesAnyChannel = true,
    .bdReadsAnySlot = true,
};

constinit const BackendOps kW9300Backend = makeOps();

TEXT_FAMILY_ENTRY_DEFS(W9300, kW9300Family)

} // namespace koruhv
