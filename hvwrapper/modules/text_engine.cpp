// Instances and the parameter operations of the text-protocol backends
// (links and transactions: text_link.cpp).
#include "modules/text_engine.h"

#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "boards/board_common.h"
#include "link.h"
#include "modules/text_internal.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

std::atomic<int> gPollMs{500};
std::atomic<int> gKeepAliveMs{4000};
std::atomic<int> gRowPauseMs{100};
std::atomic<int> gTcpSettleMs{1000};

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TextInstance *instanceOf(const TextFamily &f, int index)
{
    if (index < 0 || index >= f.maxInstances)
        return nullptr;
    return f.state->instances[index].load(std::memory_order_acquire);
}

const ParamRow *findRow(const TextInstance &in, const char *name)
{
    if (!name)
        return nullptr;
    for (const ParamRow &r : in.rows)
        if (std::strncmp(r.name, name, sizeof r.name) == 0 && std::strlen(name) < sizeof r.name)
            return &r;
    return nullptr;
}

const ParamRow *findInList(const TextInstance &in, const std::vector<uint16_t> &list, const char *name)
{
    if (!name)
        return nullptr;
    for (uint16_t i : list) {
        const ParamRow &r = in.rows[i];
        if (std::strlen(name) < sizeof r.name && std::strcmp(r.name, name) == 0)
            return &r;
    }
    return nullptr;
}

std::vector<uint16_t> boardList(const TextInstance &in)
{
    std::vector<uint16_t> l;
    for (int i = 0; i < in.boardRowCount; ++i)
        l.push_back(static_cast<uint16_t>(i));
    return l;
}

const char *readMnemonic(const TextInstance &in, const ParamRow &row)
{
    if (row.rule == RULE_SWITCH && in.family->statusMnemonic)
        return in.family->statusMnemonic;
    return row.mnemonic;
}

int rowProperty(const TextInstance &in, const ParamRow &row, const char *prop, void *result)
{
    return in.family->rowProperty ? in.family->rowProperty(row, prop, result)
                                  : Text_RowProperty(row, prop, result);
}

} // namespace

int Text_RowProperty(const ParamRow &row, const char *prop, void *result)
{
    if (!prop || !result)
        return TEXT_UNKNOWN_PROPERTY;
    auto put32 = [&](int32_t v) { std::memcpy(result, &v, sizeof v); };
    auto putF = [&](float v) { std::memcpy(result, &v, sizeof v); };
    auto put16 = [&](int16_t v) { std::memcpy(result, &v, sizeof v); };
    if (!std::strcmp(prop, "Type"))
        put32(row.type());
    else if (!std::strcmp(prop, "Mode"))
        put32(row.mode());
    else if (!std::strcmp(prop, "Minval"))
        putF(row.minimum);
    else if (!std::strcmp(prop, "Maxval"))
        putF(row.maximum);
    else if (!std::strcmp(prop, "Unit"))
        put16(row.unit);
    else if (!std::strcmp(prop, "Exp"))
        put16(row.exponent);
    else if (!std::strcmp(prop, "Decimal"))
        put16(row.decimals);
    else if (!std::strcmp(prop, "Onstate"))
        std::memcpy(result, row.onLabel, std::strlen(row.onLabel) + 1);
    else if (!std::strcmp(prop, "Offstate"))
        std::memcpy(result, row.offLabel, std::strlen(row.offLabel) + 1);
    else
        return TEXT_UNKNOWN_PROPERTY;
    return 0;
}

namespace {

// Names in 10-byte slots followed by an empty slot, for the caller.
int nameList(const TextInstance &in, const std::vector<uint16_t> &list, char **names)
{
    constexpr size_t kSlot = 10;
    char *buf = static_cast<char *>(std::calloc(list.size() + 1, kSlot));
    if (!buf) {
        *names = nullptr;
        return TEXT_NO_MEMORY;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        const char *name = in.rows[list[i]].name;
        // A name of the slot's full length fills it without a NUL: readers
        // take at most the slot's bytes, and the list still ends in an empty slot.
        std::memcpy(buf + i * kSlot, name, strnlen(name, kSlot));
    }
    *names = buf;
    return 0;
}

bool channelsValid(const TextInstance &in, uint16_t count, const uint16_t *channels)
{
    if (count && !channels)
        return false;
    for (uint16_t k = 0; k < count; ++k)
        if (channels[k] >= in.channelCount)
            return false;
    return true;
}

bool valueChannelsValid(const TextFamily &f, const TextInstance &in, uint16_t count, const uint16_t *channels)
{
    if (!f.valuesAnyChannel)
        return channelsValid(in, count, channels);
    return !count || channels;
}

// Per-channel range state exists only for the channels the unit has.
bool hasRangeState(const TextInstance &in, int ch)
{
    return ch >= 0 && ch < kTextMaxChannels && ch < in.channelCount;
}

template <typename T> T *allocList(size_t n)
{
    return static_cast<T *>(std::calloc(n ? n : 1, sizeof(T)));
}

// Enumerations travel as their index, like the integer types.
bool sendableType(int type)
{
    return type <= PT_INTEGER || type == PT_ENUM;
}

// Puts the text of item k where the family's layout wants it; *packed is the
// running offset of the packed layout. Texts are cut to kTextValueMax bytes.
void putText(TextValueLayout layout, void *values, uint16_t k, size_t *packed, const std::string &text)
{
    const size_t n = std::min(text.size(), kTextValueMax - 1);
    char *dst = nullptr;
    if (layout == TEXT_VALUES_PACKED) {
        dst = static_cast<char *>(values) + *packed;
        *packed += n + 1;
    } else if (layout == TEXT_VALUES_POINTERS) {
        std::memcpy(&dst, static_cast<char *>(values) + k * sizeof(char *), sizeof dst);
    }
    if (!dst)
        return;
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
}

int liveOrRowProperty(TextInstance &in, int channel, const ParamRow &row, const char *prop, void *result)
{
    if (in.family->liveProperty && prop && result) {
        const int rc = in.family->liveProperty(in, channel, row, prop, result);
        if (rc >= 0)
            return rc;
    }
    return rowProperty(in, row, prop, result);
}

} // namespace

// ---- Services ----------------------------------------------------------------

TextTiming Text_Timing()
{
    TextTiming t;
    t.pollMs = gPollMs.load();
    t.keepAliveMs = gKeepAliveMs.load();
    t.rowPauseMs = gRowPauseMs.load();
    t.tcpSettleMs = gTcpSettleMs.load();
    return t;
}

void Text_SetTimingForTests(const TextTiming &t)
{
    gPollMs = t.pollMs;
    gKeepAliveMs = t.keepAliveMs;
    gRowPauseMs = t.rowPauseMs;
    gTcpSettleMs = t.tcpSettleMs;
}

void Text_SetTcpPortForTests(const TextFamily &f, unsigned short port)
{
    f.state->tcpPortOverride = port;
}

unsigned short Text_TcpPort(const TextFamily &f)
{
    const unsigned short p = f.state->tcpPortOverride.load();
    return p ? p : f.tcpPort;
}

TextInstance *Text_FindInstance(const TextFamily &f, int index)
{
    return instanceOf(f, index);
}

void Text_SleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int Text_ErrorToken(const char *reply)
{
    static const char *const kTokens[] = {"CMD", "CH", "PAR", "VAL", "LOC"};
    for (int i = 0; i < 5; ++i)
        if (std::strstr(reply, kTokens[i]))
            return i + 1;
    return -1;
}

const ParamRow *Text_FindRowByMnemonic(const TextInstance &in, const char *mnemonic)
{
    for (const ParamRow &r : in.rows)
        if (std::strlen(mnemonic) < sizeof r.mnemonic && std::strcmp(r.mnemonic, mnemonic) == 0)
            return &r;
    return nullptr;
}

const ParamRow *Text_FindRowByName(const TextInstance &in, const char *name)
{
    return findRow(in, name);
}

void Text_AddBoardRow(TextInstance &in, const ParamRow &row)
{
    // Board rows stay in front of the channel rows.
    in.rows.insert(in.rows.begin() + in.boardRowCount, row);
    for (auto &list : in.channelLists)
        for (uint16_t &i : list)
            ++i;
    ++in.boardRowCount;
    in.masks.assign(in.rows.size(), 0);
}

int Text_AddChannelRow(TextInstance &in, const ParamRow &row)
{
    in.rows.push_back(row);
    const int index = static_cast<int>(in.rows.size()) - 1;
    if (in.channelLists.size() < static_cast<size_t>(in.channelCount))
        in.channelLists.resize(static_cast<size_t>(in.channelCount));
    for (int c = 0; c < in.channelCount; ++c)
        in.channelLists[c].push_back(static_cast<uint16_t>(index));
    in.masks.assign(in.rows.size(), 0);
    return index;
}

// ---- Opening and closing --------------------------------------------------------

int Text_InitSystem(const TextFamily &f, const char *link, const char *address, int *index)
{
    if (index)
        *index = -1;
    if (!link || !address || !index)
        return -1;
    LinkParams params;
    params.tcpPort = Text_TcpPort(f);
    if (f.dialect.parseAddress(f, link, address, &params) != 0)
        return -1;

    TextFamilyState &st = *f.state;
    pthread_mutex_lock(&st.tableLock);
    int slot = -1;
    for (int i = 0; i < f.maxInstances && i < kTextMaxInstances; ++i)
        if (!st.instances[i].load()) {
            slot = i;
            break;
        }
    TextInstance *in = slot >= 0 ? new (std::nothrow) TextInstance : nullptr;
    TextLink *l = in ? TextAcquireLink(f, params) : nullptr;
    if (!l) {
        pthread_mutex_unlock(&st.tableLock);
        delete in;
        return -1;
    }
    in->family = &f;
    in->index = slot;
    in->address = address;
    in->params = params;
    in->link = l;
    st.instances[slot].store(in, std::memory_order_release);
    pthread_mutex_unlock(&st.tableLock);

    if (params.kind == TEXT_LINK_TCP && f.pauseAfterTcpOpen)
        Text_SleepMs(gTcpSettleMs.load());
    if (f.openUnit(*in) != 0) {
        Text_DeinitSystem(f, slot);
        return -1;
    }
    in->masks.assign(in->rows.size(), 0);
    in->pollCount = 0;
    if (in->unitChannelCount < in->channelCount)
        in->unitChannelCount = in->channelCount;
    try {
        in->thread = std::thread(TextPoll_Run, in);
        char name[16];
        std::snprintf(name, sizeof name, "%s poll", f.name);
        pthread_setname_np(in->thread.native_handle(), name);
        in->keepAliveThread = std::thread(TextPoll_KeepAlive, in);
        std::snprintf(name, sizeof name, "%s alive", f.name);
        pthread_setname_np(in->keepAliveThread.native_handle(), name);
    } catch (const std::system_error &) {
        Text_DeinitSystem(f, slot);
        return -1;
    }
    *index = slot;
    return 0;
}

int Text_DeinitSystem(const TextFamily &f, int index)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return 0;
    {
        // Unblocks a send in progress; the descriptor stays valid until the
        // thread has ended.
        std::lock_guard<std::mutex> g(in->lock);
        if (in->eventSock >= 0)
            ::shutdown(in->eventSock, SHUT_RDWR);
    }
    {
        std::lock_guard<std::mutex> g(in->stopMutex);
        in->stop = true;
    }
    in->stopCv.notify_all();
    if (in->thread.joinable())
        in->thread.join();
    if (in->keepAliveThread.joinable())
        in->keepAliveThread.join();
    {
        std::lock_guard<std::mutex> g(in->lock);
        TextPoll_CloseEventSocket(*in);
    }
    TextFamilyState &st = *f.state;
    pthread_mutex_lock(&st.tableLock);
    TextReleaseLink(st, in->link);
    st.instances[index].store(nullptr, std::memory_order_release);
    pthread_mutex_unlock(&st.tableLock);
    delete in;
    return 0;
}

bool Text_AnyInstanceOpen(const TextFamily &f)
{
    for (int i = 0; i < f.maxInstances && i < kTextMaxInstances; ++i)
        if (f.state->instances[i].load(std::memory_order_acquire))
            return true;
    return false;
}

void Text_ResetInstances(const TextFamily &f)
{
    for (int i = 0; i < f.maxInstances && i < kTextMaxInstances; ++i)
        Text_DeinitSystem(f, i);
}

// ---- Composition ------------------------------------------------------------------

int Text_GetCrateMap(const TextFamily &f, int index, uint16_t *slotCount, char **models, char **descriptions,
                     uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!slotCount || !models || !descriptions || !serialNumbers || !firmwareMinors || !firmwareMajors)
        return TEXT_NO_MEMORY;
    // One slot: the unit, without a description.
    return Board_CrateMap(in->model.c_str(), "", static_cast<uint32_t>(in->serialNumber), in->firmwareMinor,
                          in->firmwareMajor, slotCount, models, descriptions, serialNumbers, firmwareMinors,
                          firmwareMajors);
}

int Text_GetSysComp(const TextFamily &f, int index, uint8_t *crateCount, uint16_t **crateWords,
                    uint32_t **slotWords)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!crateCount || !crateWords || !slotWords)
        return TEXT_NO_MEMORY;
    uint16_t *cw = allocList<uint16_t>(1);
    uint32_t *sw = allocList<uint32_t>(1);
    if (!cw || !sw) {
        std::free(cw);
        std::free(sw);
        return TEXT_NO_MEMORY;
    }
    cw[0] = 1;
    sw[0] = 0x10000u + static_cast<uint32_t>(in->channelCount ? in->channelCount : 1);
    // One crate word follows, so the crate count is 1 (not the channel count,
    // which would have a reader walk past the list).
    *crateCount = 1;
    *crateWords = cw;
    *slotWords = sw;
    return 0;
}

int Text_GetSysPropList(const TextFamily &f, int index, uint16_t *count, char **names)
{
    if (!instanceOf(f, index))
        return TEXT_NOT_OPEN;
    if (count)
        *count = 0;
    if (names)
        *names = nullptr;
    return 0;
}

// ---- Board parameters ----------------------------------------------------------------

namespace {

// Hexadecimal status words ("00A3"): digits up to the first other character,
// 0 without digits, at most 32 bits.
int32_t parseHexText(const char *text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    uint64_t v = 0;
    for (;; ++text) {
        const char c = *text;
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0)
            break;
        v = ((v << 4) | static_cast<uint64_t>(d)) & 0xFFFFFFFFull;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

} // namespace

RowValue TextConvertValue(const TextInstance &in, const ParamRow &row, int channel, const char *text)
{
    RowValue v;
    v.kind = row.type();
    if (channel >= 0 && channel < kTextMaxChannels) {
        if ((row.rule == RULE_RANGE_LOW && in.rangeFlag[channel] != 1) ||
            (row.rule == RULE_RANGE_HIGH && in.rangeFlag[channel] != 0))
            return v; // the channel is in the other range: 0
    }
    switch (row.type()) {
    case PT_NUMERIC:
        v.f = static_cast<float>(ParseDecimal(text));
        break;
    case PT_ONOFF:
        if (row.rule == RULE_SWITCH && in.family->switchFromStatus)
            v.i =
                in.family->switchFromStatus(in.family->statusIsHex ? parseHexText(text) : ParseIntText(text));
        else
            v.i = (row.rule == RULE_ONOFF_NOCASE ? strcasecmp(text, row.onWord)
                                                 : std::strcmp(text, row.onWord)) == 0
                      ? 1
                      : 0;
        break;
    case PT_CHSTATUS:
    case PT_BDSTATUS:
    case PT_INTEGER:
    case PT_ENUM:
        v.i = row.rule == RULE_HEX ? parseHexText(text) : ParseIntText(text);
        break;
    case PT_TEXT:
        v.text = text;
        break;
    default:
        break;
    }
    return v;
}

int Text_GetBdParam(const TextFamily &f, int index, uint16_t slotCount, const uint16_t *slots,
                    const char *name, void *values)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = findRow(*in, name);
    if (!row)
        return TEXT_UNKNOWN_PARAM;
    if (row->mode() == PM_COMMAND)
        return TEXT_READ_FAILED;
    if ((slotCount && (!slots || !values)))
        return TEXT_READ_FAILED;
    // One board, slot 0: a value lands at its position in the caller's list.
    for (uint16_t k = 0; k < slotCount && !f.bdReadsAnySlot; ++k)
        if (slots[k] != 0)
            return TEXT_OUT_OF_RANGE;
    size_t packed = 0;
    for (uint16_t k = 0; k < slotCount; ++k) {
        char text[1024];
        if (Text_Monitor(*in, -1, readMnemonic(*in, *row), text, sizeof text) != 0)
            return TEXT_READ_FAILED;
        const RowValue v = TextConvertValue(*in, *row, -1, text);
        if (row->type() == PT_NUMERIC)
            std::memcpy(static_cast<char *>(values) + 4 * k, &v.f, 4);
        else if (row->type() == PT_TEXT)
            putText(f.boardTexts, values, k, &packed, v.text);
        else if (sendableType(row->type()))
            std::memcpy(static_cast<char *>(values) + 4 * k, &v.i, 4);
    }
    return 0;
}

int Text_SetBdParam(const TextFamily &f, int index, uint16_t slotCount, const uint16_t *slots,
                    const char *name, const void *values)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = findRow(*in, name);
    if (!row)
        return TEXT_UNKNOWN_PARAM;
    if (row->mode() == PM_READ)
        return TEXT_WRITE_FAILED;
    if (slotCount && (!slots || !values))
        return TEXT_WRITE_FAILED;
    for (uint16_t k = 0; k < slotCount; ++k)
        if (slots[k] != 0)
            return TEXT_OUT_OF_RANGE;
    if (!sendableType(row->type()))
        return f.refuseUnsendableSets ? TEXT_WRITE_FAILED : 0;
    for (uint16_t k = 0; k < slotCount; ++k) {
        int32_t raw;
        std::memcpy(&raw, static_cast<const char *>(values) + 4 * k, 4);
        int rc;
        if (row->rule == RULE_SWITCH)
            rc = Text_Set(*in, -1, raw ? row->onWord : row->offWord, nullptr);
        else
            rc = Text_Set(*in, -1, row->mnemonic, &raw);
        if (rc != 0)
            return TEXT_WRITE_FAILED;
    }
    return 0;
}

int Text_GetBdParamProp(const TextFamily &f, int index, uint16_t slot, const char *param, const char *prop,
                        void *result)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = findInList(*in, boardList(*in), param);
    if (!row)
        return slot != 0 ? TEXT_OUT_OF_RANGE : TEXT_UNKNOWN_PARAM;
    const int rc = liveOrRowProperty(*in, -1, *row, prop, result);
    if (rc != 0)
        return rc;
    return slot != 0 ? TEXT_OUT_OF_RANGE : 0;
}

int Text_GetBdParamInfo(const TextFamily &f, int index, uint16_t slot, char **names)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!names)
        return TEXT_NO_MEMORY;
    if (slot != 0)
        return TEXT_OUT_OF_RANGE;
    return nameList(*in, boardList(*in), names);
}

// ---- Channel parameters ------------------------------------------------------------------

int Text_GetChParamProp(const TextFamily &f, int index, uint16_t slot, uint16_t channel, const char *param,
                        const char *prop, void *result)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (channel >= in->channelCount)
        return TEXT_OUT_OF_RANGE;
    // As for board rows, the slot is judged after the property is written.
    const ParamRow *row = findInList(*in, in->channelLists[channel], param);
    if (!row)
        return slot != 0 ? TEXT_OUT_OF_RANGE : f.chPropUnknownParam;
    const int rc = liveOrRowProperty(*in, channel, *row, prop, result);
    if (rc != 0)
        return rc;
    return slot != 0 && !f.chPropFoundIgnoresSlot ? TEXT_OUT_OF_RANGE : 0;
}

int Text_GetChParamInfo(const TextFamily &f, int index, uint16_t, uint16_t channel, char **names, int *count)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!names || !count)
        return TEXT_NO_MEMORY;
    if (channel >= in->channelCount)
        return TEXT_OUT_OF_RANGE;
    const int rc = nameList(*in, in->channelLists[channel], names);
    *count = rc == 0 ? static_cast<int>(in->channelLists[channel].size()) : 0;
    return rc;
}

int Text_GetChName(const TextFamily &f, int index, uint16_t slot, uint16_t count, const uint16_t *channels,
                   char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (slot != 0 || (count && (!channels || !names)))
        return TEXT_OUT_OF_RANGE;
    if (!f.chNamesUpToRefused && !channelsValid(*in, count, channels))
        return TEXT_OUT_OF_RANGE;
    for (uint16_t k = 0; k < count; ++k) {
        if (channels[k] >= in->channelCount)
            return TEXT_OUT_OF_RANGE;
        std::snprintf(names[k], KORUHV_CHANNEL_NAME_SIZE, f.channelNameFormat, channels[k]);
    }
    return 0;
}

namespace {

// What a channel value read or write finds before it talks to the unit.
struct ChValueCall {
    int rc; // 0, or the error the call returns
    TextInstance *in;
    const ParamRow *row;
};

// The checks both take in this order: the instance, the row, its mode (a read
// refuses commands, a write read-only rows; both with TEXT_READ_FAILED), the
// slot and channels, then a value buffer for the channels (noValues without).
ChValueCall openChValues(const TextFamily &f, int index, uint16_t slot, const char *name, uint16_t count,
                         const uint16_t *channels, const void *values, int refusedMode, int noValues)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return {TEXT_NOT_OPEN, nullptr, nullptr};
    const ParamRow *row = findRow(*in, name);
    if (!row)
        return {TEXT_UNKNOWN_PARAM, in, nullptr};
    if (row->mode() == refusedMode)
        return {TEXT_READ_FAILED, in, row};
    if (slot > (f.acceptSlotOne ? 1 : 0) || !valueChannelsValid(f, *in, count, channels))
        return {TEXT_OUT_OF_RANGE, in, row};
    if (count && !values)
        return {noValues, in, row};
    return {0, in, row};
}

} // namespace

int Text_GetChParam(const TextFamily &f, int index, uint16_t slot, const char *name, uint16_t count,
                    const uint16_t *channels, void *values)
{
    const auto [err, in, row] =
        openChValues(f, index, slot, name, count, channels, values, PM_COMMAND, TEXT_READ_FAILED);
    if (err != 0)
        return err;
    const int type = row->type();
    if (type == PT_BDSTATUS || type == PT_NONE || (type == PT_TEXT && f.channelTexts == TEXT_VALUES_NONE))
        return 0; // nothing a channel read can carry in a 4-byte value
    size_t packed = 0;
    for (uint16_t k = 0; k < count; ++k) {
        const int ch = channels[k];
        char *out = static_cast<char *>(values) + 4 * k;
        const bool ranged = hasRangeState(*in, ch);
        const bool otherRange = ranged && ((row->rule == RULE_RANGE_LOW && in->rangeFlag[ch] != 1) ||
                                           (row->rule == RULE_RANGE_HIGH && in->rangeFlag[ch] != 0));
        if (otherRange) {
            const float zero = 0.0f;
            std::memcpy(out, &zero, 4);
            continue;
        }
        char text[1024];
        if (Text_Monitor(*in, ch, readMnemonic(*in, *row), text, sizeof text) != 0)
            return TEXT_READ_FAILED;
        const RowValue v = TextConvertValue(*in, *row, ch, text);
        if (type == PT_NUMERIC)
            std::memcpy(out, &v.f, 4);
        else if (type == PT_TEXT)
            putText(f.channelTexts, values, k, &packed, v.text);
        else
            std::memcpy(out, &v.i, 4);
        if (row->rule == RULE_RANGE_SELECT && ranged)
            in->rangeFlag[ch] = v.i ? 1 : 0;
    }
    return 0;
}

int Text_SetChParam(const TextFamily &f, int index, uint16_t slot, const char *name, uint16_t count,
                    const uint16_t *channels, const void *values)
{
    const auto [err, in, row] =
        openChValues(f, index, slot, name, count, channels, values, PM_READ, TEXT_WRITE_FAILED);
    if (err != 0)
        return err;
    const int type = row->type();
    if (type != PT_NUMERIC && type != PT_ONOFF && type != PT_CHSTATUS && type != PT_INTEGER &&
        type != PT_ENUM)
        return f.refuseUnsendableSets ? TEXT_WRITE_FAILED : 0;
    for (uint16_t k = 0; k < count; ++k) {
        const int ch = channels[k];
        int32_t raw;
        std::memcpy(&raw, static_cast<const char *>(values) + 4 * k, 4);
        int rc;
        if (row->rule == RULE_SWITCH) {
            // The off word goes out as a command: a set of it with the value
            // 0 would be skipped, and the channel would stay on.
            rc = Text_Set(*in, ch, raw ? row->onWord : row->offWord, nullptr);
        } else {
            rc = Text_Set(*in, ch, row->mnemonic, &raw);
        }
        if (rc != 0)
            return TEXT_WRITE_FAILED;
        if (row->rule == RULE_RANGE_SELECT && hasRangeState(*in, ch))
            in->rangeFlag[ch] = raw ? 1 : 0;
    }
    return 0;
}

// ---- Commands ------------------------------------------------------------------------------

int Text_GetExecCommList(const TextFamily &f, int index, uint16_t *count, char **names)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!count || !names)
        return TEXT_NO_MEMORY;
    *count = 0;
    *names = nullptr;
    std::string packed;
    uint16_t n = 0;
    for (const ParamRow &r : in->rows)
        if (r.mode() == PM_COMMAND) {
            packed.append(r.name, strnlen(r.name, sizeof r.name));
            packed.push_back('\0');
            ++n;
        }
    if (n == 0)
        return 0;
    char *buf = allocList<char>(packed.size());
    if (!buf)
        return TEXT_NO_MEMORY;
    std::memcpy(buf, packed.data(), packed.size());
    *count = n;
    *names = buf;
    return 0;
}

int Text_ExecComm(const TextFamily &f, int index, const char *name)
{
    TextInstance *in = instanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    const ParamRow *row = findRow(*in, name);
    if (!row || row->mode() != PM_COMMAND)
        return TEXT_UNKNOWN_PARAM;
    return Text_Set(*in, -1, row->mnemonic, nullptr) == 0 ? 0 : TEXT_WRITE_FAILED;
}

int64_t TextNowMs()
{
    return nowMs();
}
TextInstance *TextInstanceOf(const TextFamily &f, int index)
{
    return instanceOf(f, index);
}
const ParamRow *TextFindRow(const TextInstance &in, const char *name)
{
    return findRow(in, name);
}
const char *TextReadMnemonic(const TextInstance &in, const ParamRow &row)
{
    return readMnemonic(in, row);
}

} // namespace koruhv
