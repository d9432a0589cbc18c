// TRIXHV modules: identification and parameter discovery at open, the board
// operations that ignore slot numbers, and the family's entry operations
// over the text engine.
#include "modules/trixhv_backend.h"

#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "link.h"
#include "modules/text_wire.h"
#include "modules/trixhv_dialect.h"

namespace koruhv {

namespace {

constexpr int kMaxChannels = 32; // lists and subscription masks
constexpr size_t kMaxRows = 255;
constexpr size_t kModelMax = 63;

uint8_t byteValue(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Names of a list answer; ";" alone is the empty list, empty names are no
// parameters.
std::vector<std::string> splitNames(const char *text)
{
    std::vector<std::string> out;
    if (std::strcmp(text, ";") == 0)
        return out;
    std::string cur;
    for (const char *p = text;; ++p) {
        if (*p == ';' || *p == '\0') {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
            if (!*p)
                break;
        } else {
            cur.push_back(*p);
        }
    }
    return out;
}

// The table being discovered, with the description's spare value that only
// the comparison of rows uses.
struct Discovery {
    TextInstance &in;
    std::vector<uint8_t> spare;

    // Asks the unit for the description of one name and finds an equal row
    // from `from` on, or stores a new one. The row index, or -1.
    int describe(const std::string &name, int channel, size_t from)
    {
        ParamRow row{};
        if (name.size() >= sizeof row.name)
            return -1; // the name would not reach the unit whole
        char record[1024];
        if (Text_Info(in, channel, name.c_str(), record, sizeof record) != 0)
            return -1;
        TrixhvDescription d;
        if (Trixhv_ParseInfo(record, &d) != 0)
            return -1;
        std::memcpy(row.name, name.c_str(), name.size() + 1);
        std::memcpy(row.mnemonic, name.c_str(), name.size() + 1);
        row.flags = TypeMode(static_cast<unsigned>(d.type), static_cast<unsigned>(d.mode));
        row.minimum = d.minimum;
        row.maximum = d.maximum;
        row.decimals = d.decimals;
        row.textDigits = static_cast<uint16_t>(d.integerDigits);
        row.textDecimals = static_cast<uint16_t>(d.decimals >= 0 && d.decimals <= 20 ? d.decimals : 0);
        row.exponent = d.exponent;
        row.unit = static_cast<int8_t>(d.unit);
        std::memcpy(row.onWord, d.onText, sizeof d.onText);
        std::memcpy(row.offWord, d.offText, sizeof d.offText);
        std::memcpy(row.onLabel, d.onText, sizeof d.onText);
        std::memcpy(row.offLabel, d.offText, sizeof d.offText);
        if (row.type() == PT_ONOFF)
            row.rule = RULE_ONOFF_NOCASE;
        for (size_t i = from; i < in.rows.size(); ++i)
            if (equal(in.rows[i], spare[i], row, d.spare))
                return static_cast<int>(i);
        in.rows.push_back(row);
        spare.push_back(d.spare);
        return static_cast<int>(in.rows.size()) - 1;
    }

    static bool equal(const ParamRow &a, uint8_t sa, const ParamRow &b, uint8_t sb)
    {
        return std::strcmp(a.name, b.name) == 0 && a.flags == b.flags && a.minimum == b.minimum &&
               a.maximum == b.maximum && a.textDigits == b.textDigits && a.decimals == b.decimals &&
               a.exponent == b.exponent && sa == sb && a.unit == b.unit &&
               std::strcmp(a.onLabel, b.onLabel) == 0 && std::strcmp(a.offLabel, b.offLabel) == 0;
    }

    // Names of a list request, or false when it failed or the table would
    // overflow.
    bool list(const char *request, int channel, std::vector<std::string> &names)
    {
        char v[1024];
        if (Text_Monitor(in, channel, request, v, sizeof v) != 0)
            return false;
        names = splitNames(v);
        return in.rows.size() + names.size() < kMaxRows + 1;
    }
};

int identify(TextInstance &in)
{
    char v[1024];
    bool ok = true;
    if (Text_Monitor(in, -1, "BDNAME", v, sizeof v) == 0)
        in.model.assign(v, strnlen(v, kModelMax));
    else
        ok = false;
    if (Text_Monitor(in, -1, "BDNCH", v, sizeof v) == 0) {
        const int n = ParseIntText(v);
        in.unitChannelCount = n < 0 ? 0 : n;
        in.channelCount = n < 0 ? 0 : n > kMaxChannels ? kMaxChannels : n;
    } else {
        ok = false;
    }
    if (Text_Monitor(in, -1, "BDFREL", v, sizeof v) == 0) {
        const char *dot = std::strchr(v, '.');
        if (dot && dot != v && dot[1]) {
            in.firmwareMajor = byteValue(ParseIntText(v));
            in.firmwareMinor = byteValue(ParseIntText(dot + 1));
        } else {
            ok = false;
        }
    } else {
        ok = false;
    }
    if (Text_Monitor(in, -1, "BDSNUM", v, sizeof v) == 0)
        in.serialNumber = ParseIntText(v);
    else
        ok = false;
    return ok ? 0 : -1;
}

int openUnit(TextInstance &in)
{
    if (identify(in) != 0)
        return -1;
    Discovery d{in, {}};
    std::vector<std::string> names;
    if (!d.list("PARLIST", -1, names))
        return -1;
    for (const std::string &name : names)
        if (d.describe(name, -1, 0) < 0)
            return -1;
    in.boardRowCount = static_cast<int>(in.rows.size());

    char v[1024];
    if (Text_Monitor(in, -1, "BDNCH", v, sizeof v) != 0)
        return -1;
    int walk = ParseIntText(v);
    if (walk > in.channelCount)
        walk = in.channelCount;
    in.channelLists.assign(static_cast<size_t>(in.channelCount), {});
    for (int c = 0; c < walk; ++c) {
        if (!d.list("PARCHLIST", c, names))
            return -1;
        for (const std::string &name : names) {
            // Board and channel parameters of one name stay apart.
            const int r = d.describe(name, c, static_cast<size_t>(in.boardRowCount));
            if (r < 0)
                return -1;
            in.channelLists[static_cast<size_t>(c)].push_back(static_cast<uint16_t>(r));
        }
    }
    return 0;
}

TextFamilyState gState;

constexpr TextFamily makeFamily()
{
    TextFamily f{.name = "TRIXHV",
                 .tcpPort = 2290,
                 .maxInstances = 32,
                 .maxChannels = kMaxChannels,
                 .pauseAfterTcpOpen = true,
                 .shareTcpLinks = true,
                 .channelNameFormat = "CH0%d",
                 .statusMnemonic = nullptr,
                 .switchFromStatus = nullptr,
                 .dialect =
                     {
                         .parseAddress = Trixhv_ParseAddress,
                         .buildRequest = Trixhv_BuildRequest,
                         .isOwnReply = nullptr,
                         .parseReply = Trixhv_ParseReply,
                         .setResult = Trixhv_SetResult,
                         .skipSet = Trixhv_SkipSet,
                     },
                 .openUnit = openUnit,
                 .state = &gState};
    f.refuseUnsendableSets = true;
    f.boardChangesOnly = true;
    f.acceptSlotOne = true;
    // A name the channel's list lacks writes nothing and answers 0.
    f.chPropUnknownParam = 0;
    f.chNamesUpToRefused = true;
    return f;
}

} // namespace

constinit const TextFamily kTrixhvFamily = makeFamily();

int TRIXHV_GetBdParam(int instance, uint16_t, const uint16_t *, const char *name, void *values)
{
    TextInstance *in = Text_FindInstance(kTrixhvFamily, instance);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = Text_FindRowByName(*in, name);
    if (!row)
        return TEXT_UNKNOWN_PARAM;
    if (row->mode() == PM_COMMAND || !values)
        return TEXT_READ_FAILED;
    char text[1024];
    if (Text_Monitor(*in, -1, row->mnemonic, text, sizeof text) != 0)
        return TEXT_READ_FAILED;
    switch (row->type()) {
    case PT_NUMERIC: {
        const float f = static_cast<float>(ParseDecimal(text));
        std::memcpy(values, &f, 4);
        break;
    }
    case PT_ONOFF: {
        const int32_t i = strcasecmp(text, row->onWord) == 0 ? 1 : 0;
        std::memcpy(values, &i, 4);
        break;
    }
    case PT_CHSTATUS:
    case PT_BDSTATUS:
    case PT_INTEGER: {
        const int32_t i = ParseIntText(text);
        std::memcpy(values, &i, 4);
        break;
    }
    default:
        break; // texts and the rest do not fit the 4-byte value
    }
    return 0;
}

int TRIXHV_SetBdParam(int instance, uint16_t, const uint16_t *, const char *name, const void *values)
{
    TextInstance *in = Text_FindInstance(kTrixhvFamily, instance);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = Text_FindRowByName(*in, name);
    if (!row)
        return TEXT_UNKNOWN_PARAM;
    if (row->mode() == PM_READ || !values)
        return TEXT_WRITE_FAILED;
    if (row->type() > PT_TEXT)
        return 0; // enumerations and rows without a value are not sent
    // A text row takes the value argument as its text.
    return Text_Set(*in, -1, row->mnemonic, values) == 0 ? 0 : TEXT_WRITE_FAILED;
}

int TRIXHV_GetBdParamInfo(int instance, uint16_t, char **names)
{
    return Text_GetBdParamInfo(kTrixhvFamily, instance, 0, names);
}

int TRIXHV_ExecComm(int instance, const char *name)
{
    TextInstance *in = Text_FindInstance(kTrixhvFamily, instance);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!name || !*name)
        return TEXT_UNKNOWN_PARAM;
    return Text_Set(*in, -1, name, nullptr) == 0 ? 0 : TEXT_WRITE_FAILED;
}

namespace {

constexpr BackendOps makeOps()
{
    BackendOps ops = MakeTextBackendOps<kTrixhvFamily>(13, "KORU_TRIXHV_HVW_");
    ops.GetBdParam = TextEntryOp<TRIXHV_GetBdParam>::call;
    ops.SetBdParam = TextEntryOp<TRIXHV_SetBdParam>::call;
    ops.GetBdParamInfo = TextEntryOp<TRIXHV_GetBdParamInfo>::call;
    ops.ExecComm = TextEntryOp<TRIXHV_ExecComm>::call;
    ops.GetBdParamProp = TextEntryOp<TRIXHV_GetBdParamProp>::call;
    ops.GetChParam = TextEntryOp<TRIXHV_GetChParam>::call;
    ops.SetChParam = TextEntryOp<TRIXHV_SetChParam>::call;
    return ops;
}

} // namespace

constinit const BackendOps kTrixhvBackend = makeOps();

int TRIXHV_GetBdParamProp(int instance, uint16_t, const char *param, const char *prop, void *result)
{
    // The slot is not used; a name that is no board parameter writes nothing
    // and answers 0.
    const int rc = Text_GetBdParamProp(kTrixhvFamily, instance, 0, param, prop, result);
    return rc == TEXT_UNKNOWN_PARAM ? 0 : rc;
}
int TRIXHV_GetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                      void *values)
{
    // An enumeration is not read: its elements stay untouched.
    if (const TextInstance *in = Text_FindInstance(kTrixhvFamily, instance)) {
        const ParamRow *row = Text_FindRowByName(*in, name);
        if (row && row->type() == PT_ENUM && row->mode() != PM_COMMAND)
            return slot > 1 ? TEXT_OUT_OF_RANGE : 0;
    }
    return Text_GetChParam(kTrixhvFamily, instance, slot, name, count, channels, values);
}
int TRIXHV_SetChParam(int instance, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
                      const void *values)
{
    // An enumeration is not sent, like the other types without a channel
    // value.
    if (const TextInstance *in = Text_FindInstance(kTrixhvFamily, instance)) {
        const ParamRow *row = Text_FindRowByName(*in, name);
        if (row && row->type() == PT_ENUM && row->mode() != PM_READ)
            return slot > 1 ? TEXT_OUT_OF_RANGE : TEXT_WRITE_FAILED;
    }
    return Text_SetChParam(kTrixhvFamily, instance, slot, name, count, channels, values);
}

// The operations the engine serves as they are.
// clang-format off
TEXT_ENTRY_InitSystem(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_DeinitSystem(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetError(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetCrateMap(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetSysComp(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetSysPropList(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetChParamProp(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetChParamInfo(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetChName(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_GetExecCommList(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_Subscribe(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_UnSubscribe(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_ResetInstances(TRIXHV, kTrixhvFamily)
TEXT_ENTRY_SetTcpPortForTests(TRIXHV, kTrixhvFamily)
// clang-format on

} // namespace koruhv
