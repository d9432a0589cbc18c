// ZORN power supplies: parameter tables, identification at open, the query
// grammar, and the family's entry operations over the text engine.
#include "modules/zorn_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "modules/text_rows.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

using namespace rows;

constexpr ParamRow kBoardRows[] = {
    make({.name = "Loop",
          .mnemonic = "LOOP",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .words = {"I", "V", "I", "V"}}),
    make({.name = "IGC",
          .mnemonic = "MGC",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 33,
          .decimals = 6,
          .unit = U_AMPERE}),
    make({.name = "Temp",
          .mnemonic = "MRT",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 99,
          .decimals = 2,
          .unit = U_CELSIUS}),
    make({.name = "TempIGBT",
          .mnemonic = "MRT:1",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 99,
          .decimals = 2,
          .unit = U_CELSIUS}),
    make({.name = "TempHF",
          .mnemonic = "MRT:2",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 99,
          .decimals = 2,
          .unit = U_CELSIUS}),
    make({.name = "UpMode",
          .mnemonic = "UPMODE",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .words = {"ANALOG", "NORMAL", "ANALOG", "NORMAL"}}),
    make({.name = "ClearAlarm", .mnemonic = "MRESET", .type = PT_NONE, .mode = PM_COMMAND}),
};

constexpr ParamRow kChannelRows[] = {
    make({.name = "VSet",
          .mnemonic = "MWVR",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 300,
          .decimals = 3,
          .unit = U_VOLT}),
    make({.name = "VMon",
          .mnemonic = "MRV",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 300,
          .decimals = 3,
          .unit = U_VOLT}),
    make({.name = "ISet",
          .mnemonic = "MWIR",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 30,
          .decimals = 3,
          .unit = U_AMPERE}),
    make({.name = "IMon",
          .mnemonic = "MRI",
          .type = PT_NUMERIC,
          .mode = PM_READ,
          .max = 30,
          .decimals = 3,
          .unit = U_AMPERE}),
    make({.name = "ISetDir",
          .mnemonic = "MWI",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 30,
          .decimals = 3,
          .unit = U_AMPERE}),
    make({.name = "VSetDir",
          .mnemonic = "MWV",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .max = 300,
          .decimals = 3,
          .unit = U_VOLT}),
    make({.name = "IRamp",
          .mnemonic = "MSRI",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .min = 1,
          .max = 30,
          .decimals = 3,
          .unit = U_AMPERE_PER_S}),
    make({.name = "VRamp",
          .mnemonic = "MSRV",
          .type = PT_NUMERIC,
          .mode = PM_READWRITE,
          .min = 1,
          .max = 300,
          .decimals = 3,
          .unit = U_VOLT_PER_S}),
    // The status word is hexadecimal, in reads and events alike.
    make({.name = "ChStatus", .mnemonic = "MST", .type = PT_CHSTATUS, .mode = PM_READ, .rule = RULE_HEX}),
    // Read from bit 0 of the status word, switched by the MON/MOFF commands.
    make({.name = "Pw",
          .mnemonic = "Pw",
          .type = PT_ONOFF,
          .mode = PM_READWRITE,
          .max = 1,
          .words = {"MON", "MOFF", "On", "Off"},
          .rule = RULE_SWITCH}),
};

constexpr size_t kModelMax = 99;

uint8_t byteValue(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

int parseAddress(const TextFamily &, const char *link, const char *address, LinkParams *out)
{
    // The unit has no serial link.
    if (std::strcmp(link, "TCP/IP") != 0)
        return -1;
    const char *end = std::strchr(address, '_');
    const size_t n = end ? static_cast<size_t>(end - address) : std::strlen(address);
    if (n == 0 || n > 99)
        return -1;
    out->kind = TEXT_LINK_TCP;
    out->ip.assign(address, n);
    out->moduleAddress = -1;
    return 0;
}

int openUnit(TextInstance &in)
{
    char v[1024];
    if (Text_Monitor(in, -1, "MRID", v, sizeof v) != 0)
        return -1;
    in.model.assign(v, strnlen(v, kModelMax));
    // BDNCH is not asked: one channel.
    if (Text_Monitor(in, -1, "VER", v, sizeof v) != 0)
        return -1;
    int major, minor, revision;
    if (Zorn_ParseVersion(v, &major, &minor, &revision) != 0)
        return -1;
    // The crate map carries release numbers, one byte each.
    in.firmwareMajor = byteValue(major);
    in.firmwareMinor = byteValue(minor);
    in.serialNumber = 0;
    in.channelCount = 1;
    in.unitChannelCount = 1;
    in.channelLists.assign(1, {});
    for (const ParamRow &r : kBoardRows)
        Text_AddBoardRow(in, r);
    for (const ParamRow &r : kChannelRows) {
        Text_AddChannelRow(in, r);
        Text_SleepMs(Text_Timing().rowPauseMs);
    }
    return 0;
}

int switchFromStatus(long status)
{
    return static_cast<int>(status & 1);
}

TextFamilyState gState;

constexpr TextFamily makeFamily()
{
    TextFamily f{.name = "ZORN",
                 .tcpPort = 10001,
                 .maxInstances = 48,
                 .maxChannels = 1,
                 .pauseAfterTcpOpen = true,
                 .shareTcpLinks = true,
                 .channelNameFormat = "CH%02d",
                 .statusMnemonic = "MST",
                 .switchFromStatus = switchFromStatus,
                 .dialect =
                     {
                         .parseAddress = parseAddress,
                         .buildRequest = Zorn_BuildRequest,
                         .isOwnReply = nullptr,
                         .parseReply = Zorn_ParseReply,
                         .setResult = Zorn_SetResult,
                         .skipSet = nullptr,
                         .isReplyTo = Zorn_IsReplyTo,
                     },
                 .openUnit = openUnit,
                 .state = &gState};
    f.refuseUnsendableSets = true;
    f.acceptSlotOne = true;
    f.statusIsHex = true;
    // A name the channel's list lacks writes nothing and answers 0.
    f.chPropUnknownParam = 0;
    return f;
}

// The unit is one board: every listed slot number, whatever its value, reads
// or writes it.
std::vector<uint16_t> oneBoard(uint16_t count, const uint16_t *slots)
{
    return std::vector<uint16_t>(slots ? count : 0, 0);
}

} // namespace

int Zorn_BuildRequest(const TextInstance &in, RequestKind kind, int, const char *mnemonic, const void *value,
                      char *out, size_t cap)
{
    if (!mnemonic || !*mnemonic || kind == REQ_INFO)
        return -1;
    int n;
    const ParamRow *row = kind == REQ_SET && value ? Text_FindRowByMnemonic(in, mnemonic) : nullptr;
    if (kind == REQ_MONITOR) {
        n = std::snprintf(out, cap, "%s:?\r\n", mnemonic);
    } else if (!row || row->type() == PT_NONE) {
        n = std::snprintf(out, cap, "%s\r\n", mnemonic); // a command
    } else if (row->type() == PT_NUMERIC) {
        float v;
        std::memcpy(&v, value, sizeof v);
        char num[64];
        if (!FormatFixed(v, 0, 6, num, sizeof num))
            return -1;
        n = std::snprintf(out, cap, "%s:%s\r\n", mnemonic, num);
    } else if (row->type() <= PT_INTEGER) {
        int32_t v;
        std::memcpy(&v, value, sizeof v);
        n = std::snprintf(out, cap, "%s:%d\r\n", mnemonic, static_cast<int>(v));
    } else {
        return -1; // no request form for this type
    }
    return n > 0 && static_cast<size_t>(n) < cap ? 0 : -1;
}

int Zorn_ParseReply(const TextInstance &, const char *mnemonic, const char *line, char *value, size_t cap)
{
    if (value && cap)
        value[0] = '\0';
    const char *colon = std::strchr(mnemonic, ':');
    const size_t n = colon ? static_cast<size_t>(colon - mnemonic) : std::strlen(mnemonic);
    std::string check = "#";
    check.append(mnemonic, n > 2 ? n - 2 : 0);
    if (!std::strstr(line, check.c_str()))
        return -1;
    const char *v = std::strchr(line, ':');
    if (!v || !value || std::strlen(v + 1) + 1 > cap)
        return -1;
    std::memcpy(value, v + 1, std::strlen(v + 1) + 1);
    return 0;
}

namespace {

// What a reply echoes for a mnemonic: its part before any ':' ("MRT:1"
// answers "#MRT:...").
std::string echoOf(const char *mnemonic)
{
    const char *colon = std::strchr(mnemonic, ':');
    return colon ? std::string(mnemonic, static_cast<size_t>(colon - mnemonic)) : std::string(mnemonic);
}

bool isQueryEcho(const std::string &echo)
{
    for (const char *m : {"MRID", "VER"})
        if (echo == m)
            return true;
    auto inTable = [&](const auto &table) {
        return std::any_of(std::begin(table), std::end(table),
                           [&](const ParamRow &r) { return echoOf(r.mnemonic) == echo; });
    };
    return inTable(kBoardRows) || inTable(kChannelRows);
}

} // namespace

bool Zorn_IsReplyTo(const TextInstance &, RequestKind kind, const char *mnemonic, const char *line)
{
    const char *colon = std::strchr(line, ':');
    if (line[0] == '#' && colon) {
        // A value: it answers the query whose mnemonic it echoes. An echo
        // that is no query of the unit is left to the reply's own check.
        const std::string echo(line + 1, static_cast<size_t>(colon - line - 1));
        return echo == echoOf(mnemonic) || !isQueryEcho(echo);
    }
    // The acknowledgement answers settings and commands, never a query.
    return kind != REQ_MONITOR || std::strcmp(line, "#AK") != 0;
}

int Zorn_SetResult(const TextInstance &, const char *line)
{
    return std::strstr(line, "#AK") ? 0 : -1;
}

int Zorn_ParseVersion(const char *value, int *major, int *minor, int *revision)
{
    const char *colon = std::strchr(value, ':');
    if (!colon)
        return -1;
    const char *p = colon + 1;
    int *parts[3] = {major, minor, revision};
    for (int i = 0; i < 3; ++i) {
        if (*p < '0' || *p > '9')
            return -1;
        *parts[i] = ParseIntText(p);
        while (*p >= '0' && *p <= '9')
            ++p;
        if (i < 2 && *p++ != '.')
            return -1;
    }
    return 0;
}

constinit const TextFamily kZornFamily = makeFamily();

int ZORN_SetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name,
                    const void *values)
{
    TextInstance *in = Text_FindInstance(kZornFamily, instance);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = Text_FindRowByName(*in, name);
    // A command row is set by sending its bare mnemonic.
    if (!row || row->type() != PT_NONE || row->mode() == PM_READ) {
        const std::vector<uint16_t> zeros = oneBoard(slotCount, slots);
        return Text_SetBdParam(kZornFamily, instance, slotCount, slots ? zeros.data() : nullptr, name,
                               values);
    }
    for (uint16_t k = 0; k < slotCount; ++k)
        if (Text_Set(*in, -1, row->mnemonic, nullptr) != 0)
            return TEXT_WRITE_FAILED;
    return 0;
}

// Names at 10-byte steps; a name of 10 characters fills its step and takes
// its end from the next one (the list's final empty step for the last).
int ZORN_GetBdParamInfo(int instance, uint16_t slot, char **names)
{
    TextInstance *in = Text_FindInstance(kZornFamily, instance);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!names)
        return TEXT_NO_MEMORY;
    if (slot != 0)
        return TEXT_OUT_OF_RANGE;
    constexpr size_t kStep = 10;
    const size_t n = static_cast<size_t>(in->boardRowCount);
    char *buf = static_cast<char *>(std::calloc(n + 1, kStep));
    *names = buf;
    if (!buf)
        return TEXT_NO_MEMORY;
    for (size_t i = 0; i < n; ++i)
        std::memcpy(buf + i * kStep, in->rows[i].name, strnlen(in->rows[i].name, kStep));
    return 0;
}

namespace {

constexpr BackendOps makeOps()
{
    BackendOps ops = MakeTextBackendOps<kZornFamily>(14, "KORU_ZORN_HVW_");
    ops.SetBdParam = TextEntryOp<ZORN_SetBdParam>::call;
    ops.GetBdParamInfo = TextEntryOp<ZORN_GetBdParamInfo>::call;
    ops.GetBdParam = TextEntryOp<ZORN_GetBdParam>::call;
    ops.GetBdParamProp = TextEntryOp<ZORN_GetBdParamProp>::call;
    ops.SetChParam = TextEntryOp<ZORN_SetChParam>::call;
    return ops;
}

} // namespace

constinit const BackendOps kZornBackend = makeOps();

int ZORN_GetBdParam(int instance, uint16_t slotCount, const uint16_t *slots, const char *name, void *values)
{
    const std::vector<uint16_t> zeros = oneBoard(slotCount, slots);
    return Text_GetBdParam(kZornFamily, instance, slotCount, slots ? zeros.data() : nullptr, name, values);
}
int ZORN_GetBdParamProp(int instance, uint16_t slot, const char *param, const char *prop, void *result)
{
    // A name that is no board row writes nothing: 0, or 10 for a slot not 0.
    const int rc = Text_GetBdParamProp(kZornFamily, instance, slot, param, prop, result);
    return rc == TEXT_UNKNOWN_PARAM ? 0 : rc;
}
// One request, built from the last listed channel's value (the unit has one
// channel); the unit's answer is returned as it is: 0 acknowledged, -1 not,
// or the link's code.
int ZORN_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                    const void *values)
{
    TextInstance *in = Text_FindInstance(kZornFamily, instance);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = Text_FindRowByName(*in, name);
    if (!row || row->mode() == PM_READ || slot > 1 || count == 0 || !channels || !values)
        return Text_SetChParam(kZornFamily, instance, slot, name, count, channels, values);
    for (uint16_t k = 0; k < count; ++k)
        if (channels[k] >= in->channelCount)
            return TEXT_OUT_OF_RANGE;
    const int type = row->type();
    if (type != PT_NUMERIC && type != PT_ONOFF && type != PT_CHSTATUS && type != PT_INTEGER)
        return TEXT_WRITE_FAILED; // no request form for this type
    int32_t raw;
    std::memcpy(&raw, static_cast<const char *>(values) + 4 * (count - 1), 4);
    const int ch = channels[count - 1];
    if (row->rule == RULE_SWITCH)
        return Text_Set(*in, ch, raw ? row->onWord : row->offWord, nullptr);
    return Text_Set(*in, ch, row->mnemonic, &raw);
}

// The operations the engine serves as they are.
// clang-format off
TEXT_ENTRY_InitSystem(ZORN, kZornFamily)
TEXT_ENTRY_DeinitSystem(ZORN, kZornFamily)
TEXT_ENTRY_GetError(ZORN, kZornFamily)
TEXT_ENTRY_GetCrateMap(ZORN, kZornFamily)
TEXT_ENTRY_GetSysComp(ZORN, kZornFamily)
TEXT_ENTRY_GetSysPropList(ZORN, kZornFamily)
TEXT_ENTRY_GetChParamProp(ZORN, kZornFamily)
TEXT_ENTRY_GetChParamInfo(ZORN, kZornFamily)
TEXT_ENTRY_GetChName(ZORN, kZornFamily)
TEXT_ENTRY_GetChParam(ZORN, kZornFamily)
TEXT_ENTRY_GetExecCommList(ZORN, kZornFamily)
TEXT_ENTRY_ExecComm(ZORN, kZornFamily)
TEXT_ENTRY_Subscribe(ZORN, kZornFamily)
TEXT_ENTRY_UnSubscribe(ZORN, kZornFamily)
TEXT_ENTRY_ResetInstances(ZORN, kZornFamily)
TEXT_ENTRY_SetTcpPortForTests(ZORN, kZornFamily)
// clang-format on

} // namespace koruhv
