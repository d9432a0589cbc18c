#include "board_common.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board_hooks.h"
#include "sys_table.h"

namespace koruhv {

namespace {

std::mutex g_timingLock;
BoardTiming g_timing;

template <typename T> T *allocList(size_t n)
{
    return static_cast<T *>(std::calloc(n ? n : 1, sizeof(T)));
}

} // namespace

BoardTiming Board_Timing()
{
    std::lock_guard<std::mutex> g(g_timingLock);
    return g_timing;
}

void Board_SetTimingForTests(const BoardTiming &t)
{
    std::lock_guard<std::mutex> g(g_timingLock);
    g_timing = t;
}

int64_t Board_NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Board_SlotAddress(int slot)
{
    SystemSlot *s = Sys_Slot(slot);
    if (!s)
        return std::string();
    Sys_LockNames();
    std::string a(s->address, strnlen(s->address, sizeof s->address));
    Sys_UnlockNames();
    return a;
}

bool BoardPoller::start(std::function<void()> body)
{
    stop_ = false;
    try {
        thread_ = std::thread(std::move(body));
    } catch (...) {
        return false;
    }
    return true;
}

void BoardPoller::stop()
{
    {
        std::lock_guard<std::mutex> g(m_);
        stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool BoardPoller::sleep(int ms)
{
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return stop_.load(); });
}

int BoardEventLink::ensure(unsigned short port, const std::string &ident)
{
    if (sock >= 0)
        return 0;
    int s = -1;
    if (LocalEvent_Connect(port, ident.c_str(), &s) != 0 || s < 0)
        return -1;
    sock = s;
    lastSendMs = Board_NowMs();
    return 0;
}

void BoardEventLink::shutdown()
{
    if (sock >= 0)
        ::shutdown(sock, SHUT_RDWR);
}

void BoardEventLink::close()
{
    if (sock >= 0)
        ::close(sock);
    sock = -1;
}

bool Board_SendBatch(std::recursive_mutex &lock, BoardEventLink &link, int sock, EventBatchWriter &w)
{
    const std::vector<uint8_t> &bytes = w.bytes();
    if (LocalEvent_Send(sock, bytes.data(), bytes.size()) == 0) {
        link.lastSendMs = Board_NowMs();
        return true;
    }
    std::lock_guard<std::recursive_mutex> g(lock);
    if (link.sock == sock)
        link.close();
    return false;
}

bool Board_KeepAlive(std::recursive_mutex &lock, BoardEventLink &link, int sock)
{
    if (Board_NowMs() - link.lastSendMs.load() < Board_Timing().keepAliveMs)
        return true;
    EventBatchWriter empty;
    return Board_SendBatch(lock, link, sock, empty);
}

bool Board_SplitItems(const char *items, uint16_t count, std::vector<std::string> *out)
{
    out->clear();
    if (!items)
        return count == 0;
    const char *p = items;
    while (true) {
        const char *colon = std::strchr(p, ':');
        if (!colon) {
            out->emplace_back(p);
            break;
        }
        out->emplace_back(p, size_t(colon - p));
        p = colon + 1;
    }
    return out->size() == count;
}

int16_t Board_Decimals(uint32_t x)
{
    int16_t d = 0;
    while (x > 1 && (x > 9 || x % 10 != 0)) {
        x /= 10;
        ++d;
    }
    return d;
}

int Board_ParamProperty(const BoardParamFacts &f, const char *prop, void *out)
{
    if (!prop || !out)
        return BD_NO_PROPERTY;
    auto put32 = [&](int32_t v) { std::memcpy(out, &v, sizeof v); };
    auto putF = [&](float v) { std::memcpy(out, &v, sizeof v); };
    auto put16 = [&](int16_t v) { std::memcpy(out, &v, sizeof v); };
    auto putText = [&](const char *t) { std::memcpy(out, t, std::strlen(t) + 1); };
    if (!std::strcmp(prop, "Type"))
        put32(f.type);
    else if (!std::strcmp(prop, "Mode"))
        put32(f.writable ? 2 : 0);
    else if (!std::strcmp(prop, "Minval"))
        putF(f.minimum);
    else if (!std::strcmp(prop, "Maxval"))
        putF(f.maximum);
    else if (!std::strcmp(prop, "Unit"))
        put16(f.unit);
    else if (!std::strcmp(prop, "Exp"))
        put16(f.exponent);
    else if (!std::strcmp(prop, "Decimal"))
        put16(f.decimals);
    else if (f.onText && !std::strcmp(prop, "Onstate"))
        putText(f.onText);
    else if (f.offText && !std::strcmp(prop, "Offstate"))
        putText(f.offText);
    else
        return BD_NO_PROPERTY;
    return BD_OK;
}

int Board_NameSlots(const std::vector<const char *> &names, char **out)
{
    if (!out)
        return BD_NO_MEMORY;
    constexpr size_t kSlot = 10;
    char *buf = allocList<char>((names.size() + 1) * kSlot);
    if (!buf)
        return BD_NO_MEMORY;
    // A slot always ends in NUL, so a ten-character name shows its first nine.
    for (size_t i = 0; i < names.size(); ++i)
        std::snprintf(buf + i * kSlot, kSlot, "%s", names[i]);
    *out = buf;
    return BD_OK;
}

int Board_CrateMap(const char *model, const char *description, uint32_t serial, uint8_t minor, uint8_t major,
                   uint16_t *slotCount, char **models, char **descriptions, uint32_t **serials,
                   uint8_t **minors, uint8_t **majors)
{
    if (!slotCount || !models || !descriptions || !serials || !minors || !majors)
        return BD_NO_MEMORY;
    const size_t ml = std::strlen(model) + 1, dl = std::strlen(description) + 1;
    char *m = allocList<char>(ml);
    char *d = allocList<char>(dl);
    uint32_t *s = allocList<uint32_t>(1);
    uint8_t *mi = allocList<uint8_t>(1);
    uint8_t *ma = allocList<uint8_t>(1);
    if (!m || !d || !s || !mi || !ma) {
        std::free(m);
        std::free(d);
        std::free(s);
        std::free(mi);
        std::free(ma);
        return BD_NO_MEMORY;
    }
    std::memcpy(m, model, ml);
    std::memcpy(d, description, dl);
    s[0] = serial;
    mi[0] = minor;
    ma[0] = major;
    *slotCount = 1;
    *models = m;
    *descriptions = d;
    *serials = s;
    *minors = mi;
    *majors = ma;
    return BD_OK;
}

int Board_SysComp(int channels, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)
{
    if (!crateCount || !crateWords || !slotWords)
        return BD_NO_MEMORY;
    uint16_t *c = allocList<uint16_t>(1);
    uint32_t *s = allocList<uint32_t>(1);
    if (!c || !s) {
        std::free(c);
        std::free(s);
        return BD_NO_MEMORY;
    }
    c[0] = 1;
    s[0] = 0x10000u + uint32_t(channels);
    *crateCount = 1;
    *crateWords = c;
    *slotWords = s;
    return BD_OK;
}

int Board_ChannelNames(uint16_t slot, uint16_t count, const uint16_t *channels, int channelCount,
                       char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    if (slot != 0)
        return BD_OUT_OF_RANGE;
    if (count && (!channels || !names))
        return BD_OUT_OF_RANGE;
    for (uint16_t k = 0; k < count; ++k) {
        if (channels[k] >= channelCount)
            return BD_OUT_OF_RANGE;
        std::snprintf(names[k], KORUHV_CHANNEL_NAME_SIZE, "CH0%d", int(channels[k]));
    }
    return BD_OK;
}

} // namespace koruhv
