// Subscriptions and event datagrams of the first-generation crates. The
// crate names each item of a datagram by the id it gave at "SUBSCRIBE"; the
// context's subscription list maps ids back to item names and descriptors.
// The event thread reads the list while the API caller changes it, so both
// hold the context's data lock (never across socket I/O).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "crate_events.h"
#include "crate_ops.h"
#include "crate_sysprop_text.h"
#include "hx1100_backend.h"
#include "item_name.h"
#include "slot_store.h"
#include "sys_table.h"

namespace koruhv {

namespace {

EventWait gEventWait{15000};

std::vector<HX1100SubNode> gLists[kCrateContexts]; // front = most recent

bool validHandle(int h)
{
    return h >= 0 && h < kCrateContexts;
}

std::mutex &lockOf(int h)
{
    return HX1100_Contexts()[h].dataLock;
}

CrateContext *liveContext(int handle)
{
    return validHandle(handle) && HX1100_Contexts()[handle].inUse ? &HX1100_Contexts()[handle] : nullptr;
}

void cutName(char *dst, const char *item)
{
    Crate_CopyText(dst, kHX1100ItemNameMax + 1, item ? item : "");
}

const ParamDescriptor *lookupDescriptor(const CrateSystemInfo *info, int kind, int board, unsigned channel,
                                        const char *param)
{
    if (!info || (kind != ITEM_CHANNEL && kind != ITEM_BOARD))
        return nullptr;
    const CrateBoardEntry *b = info->findBoard(board);
    if (!b)
        return nullptr;
    const std::vector<uint16_t> *list = &b->params;
    if (kind == ITEM_CHANNEL) {
        if (channel >= b->channels.size())
            return nullptr;
        list = &b->channels[channel].params;
    }
    for (uint16_t idx : *list)
        if (idx < info->descriptors.size() && std::strncmp(info->descriptors[idx].name, param, 10) == 0)
            return &info->descriptors[idx];
    return nullptr;
}

void storeFloat(OldEventRecord *rec, float v)
{
    std::memcpy(rec->value, &v, 4);
}

void storeWord(OldEventRecord *rec, uint32_t w)
{
    std::memcpy(rec->value, &w, 4);
}

void storeText(OldEventRecord *rec, std::string_view t)
{
    Crate_CopyText(rec->textValue, sizeof rec->textValue, t);
}

// The value bytes after the length: at most L, and no more than are there.
ByteCursor valueBody(const uint8_t *value, size_t n)
{
    ByteCursor cur(value, n);
    uint32_t len = cur.u32();
    size_t have = cur.remaining();
    size_t body = len < have ? len : have;
    return ByteCursor(value + 4 * (n >= 4), cur.ok() ? body : 0);
}

// Width of an item's value in the datagram, from its kind; 0 when the bytes
// that tell it are missing.
size_t lengthAt(const uint8_t *p, size_t n)
{
    return n >= 4 ? size_t(Crate_Load32(p, ByteOrder::Big)) : 0;
}

} // namespace

bool HX1100_SubList_Add(int handle, int32_t id, const char *itemName)
{
    if (!validHandle(handle) || !itemName)
        return false;
    HX1100SubNode node;
    node.id = id;
    cutName(node.itemName, itemName);
    int16_t board = 0;
    uint16_t channel = 0;
    char param[256] = {};
    int kind = ParseItemName(itemName, &board, &channel, param, sizeof param);
    node.kind = int16_t(kind < 0 ? ITEM_SYSTEM : kind);
    std::lock_guard<std::mutex> g(lockOf(handle));
    if (const ParamDescriptor *d =
            lookupDescriptor(HX1100_Contexts()[handle].sysInfo, kind, board, channel, param))
        node.descriptor = *d;
    try {
        gLists[handle].insert(gLists[handle].begin(), node);
    } catch (...) {
        return false;
    }
    return true;
}

bool HX1100_SubList_FindById(int handle, int32_t id, HX1100SubNode *out)
{
    if (!validHandle(handle))
        return false;
    std::lock_guard<std::mutex> g(lockOf(handle));
    for (const HX1100SubNode &n : gLists[handle])
        if (n.id == id) {
            if (out)
                *out = n;
            return true;
        }
    return false;
}

void HX1100_SubList_RemoveByName(int handle, const char *itemName)
{
    if (!validHandle(handle) || !itemName)
        return;
    char key[kHX1100ItemNameMax + 1];
    cutName(key, itemName);
    std::lock_guard<std::mutex> g(lockOf(handle));
    auto &l = gLists[handle];
    for (auto it = l.begin(); it != l.end(); ++it)
        if (std::strcmp(it->itemName, key) == 0) {
            l.erase(it);
            return;
        }
}

void HX1100_SubList_Clear(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(lockOf(handle));
    gLists[handle].clear();
    gLists[handle].shrink_to_fit();
}

size_t HX1100_SubList_Size(int handle)
{
    if (!validHandle(handle))
        return 0;
    std::lock_guard<std::mutex> g(lockOf(handle));
    return gLists[handle].size();
}

int Crate_EncodeUnsubscribeList(int handle, unsigned count, const char *items, uint8_t **out, size_t *len)
{
    *out = nullptr;
    *len = 0;
    if (!validHandle(handle))
        return -1;
    return Crate_EncodeIdList(
        count, items,
        [&](const char *item) {
            char key[kHX1100ItemNameMax + 1];
            cutName(key, item);
            int32_t id = -2;
            std::lock_guard<std::mutex> g(lockOf(handle));
            for (const HX1100SubNode &n : gLists[handle])
                if (std::strcmp(n.itemName, key) == 0) {
                    id = n.id;
                    break;
                }
            return uint32_t(id);
        },
        out, len);
}

int HX1100_DecodeParamEvent(const uint8_t *value, size_t n, const ParamDescriptor &d, OldEventRecord *rec)
{
    rec->type = 0;
    if (!d.name[0])
        return -1;
    ByteCursor cur(value, n);
    cur.u32(); // length
    uint32_t w = cur.u32();
    if (!cur.ok())
        return 0;
    // Board items too take a channel status word as it is.
    const ItemRule rule = Crate_NumberRule(d, true);
    if (rule == RULE_FLOAT)
        storeFloat(rec, Crate_RawToValue(d, w));
    else if (rule == RULE_WORD)
        storeWord(rec, w);
    return 0;
}

void HX1100_DecodeSysPropEvent(const uint8_t *value, size_t n, OldEventRecord *rec)
{
    rec->type = 0;
    char name[sizeof rec->itemName + 1] = {};
    std::memcpy(name, rec->itemName, sizeof rec->itemName);
    const char *dot = std::strrchr(name, '.');
    const PropertyRow *r = Crate_FindProperty(CRATE_GEN_FIRST, dot ? dot + 1 : name);
    if (!r)
        return;
    ByteCursor cur = valueBody(value, n);
    switch (r->index) {
    case 0:
        storeText(rec, cur.rest());
        break;
    case 7: {
        std::string_view t = CrateText_Data(cur);
        storeText(rec, t.substr(0, t.find(',')));
        break;
    }
    case 23: {
        std::string_view t = CrateText_Data(cur);
        size_t comma = t.find(',');
        storeText(rec, comma == std::string_view::npos ? std::string_view() : t.substr(comma + 1));
        break;
    }
    case 8:
    case 18:
    case 19:
    case 20:
    case 21:
    case 25:
    case 26:
        storeText(rec, CrateText_Data(cur));
        break;
    case 9:
    case 12:
    case 16: {
        int16_t v = cur.s8();
        if (cur.ok())
            std::memcpy(rec->value, &v, 2);
        break;
    }
    case 10:
    case 11:
    case 22:
    case 24: {
        uint32_t v = cur.u32();
        if (cur.ok())
            storeWord(rec, v);
        break;
    }
    case 14:
    case 17: {
        std::string t = CrateText_Decimals(cur, r->index == 14 ? 5 : 2);
        if (cur.ok())
            storeText(rec, t);
        break;
    }
    case 15:
        storeText(rec, CrateText_FanGroups(cur));
        break;
    default:
        break;
    }
}

void HX1100_DecodeSpecialEvent(const uint8_t *value, size_t n, OldEventRecord *rec)
{
    ByteCursor cur = valueBody(value, n);
    uint32_t w = cur.u32();
    storeWord(rec, cur.ok() ? w : 0);
    char name[sizeof rec->itemName + 1] = {};
    std::memcpy(name, rec->itemName, sizeof rec->itemName);
    rec->type = std::strstr(name, "KeepAlive") ? 2 : 1;
}

int HX1100_DecodeDatagram(int handle, const uint8_t *dgram, size_t n, OldEventRecord **events, int *count)
{
    *events = nullptr;
    *count = 0;
    if (!validHandle(handle) || n <= 7 || std::memcmp(dgram, "KORU", 4) != 0)
        return KORUHV_ERR_EVENT_TIMEOUT;
    const bool single = dgram[4] == 1 && dgram[5] == 0;
    size_t pos = 6;
    unsigned items = 1;
    if (!single) {
        if (n < 10 || Crate_Load16(dgram + 6, ByteOrder::Big) != n)
            return KORUHV_ERR_EVENT_TIMEOUT;
        items = Crate_Load16(dgram + 8, ByteOrder::Big);
        pos = 10;
    }
    constexpr size_t kItemHeader = 14;
    // A count the datagram cannot hold is refused before anything is
    // allocated for it: no datagram costs more than its items' records.
    if (items > (n - pos) / kItemHeader)
        return KORUHV_ERR_EVENT_TIMEOUT;
    auto *rec = static_cast<OldEventRecord *>(std::calloc(items ? items : 1, sizeof(OldEventRecord)));
    if (!rec)
        return KORUHV_ERR_NO_MEMORY;
    unsigned made = 0;
    std::lock_guard<std::mutex> g(lockOf(handle));
    for (unsigned i = 0; i < items; ++i) {
        // An item cut by the datagram's end refuses the whole datagram, as a
        // wrong total length does: the count promised more than came.
        if (n - pos < kItemHeader) {
            std::free(rec);
            return KORUHV_ERR_EVENT_TIMEOUT;
        }
        const uint8_t *it = dgram + pos;
        const uint8_t textFlag = it[0];
        const int32_t id = int32_t(Crate_Load32(it + 10, ByteOrder::Big));
        const HX1100SubNode *node = nullptr;
        for (const HX1100SubNode &s : gLists[handle])
            if (s.id == id) {
                node = &s;
                break;
            }
        if (it[1] != 1 || !node) {
            std::free(rec);
            return KORUHV_ERR_EVENT_TIMEOUT;
        }
        const uint8_t *value = it + kItemHeader;
        const size_t avail = n - pos - kItemHeader;
        size_t width = 8;
        const bool undecodable =
            (node->kind == ITEM_CHANNEL || node->kind == ITEM_BOARD) && !node->descriptor.name[0];
        if (node->kind == ITEM_SYSTEM || node->kind == ITEM_KEEPALIVE || (undecodable && textFlag))
            width = avail >= 4 ? 4 + lengthAt(value, avail) : 5;
        if (width > avail) {
            std::free(rec);
            return KORUHV_ERR_EVENT_TIMEOUT; // the value runs past the datagram's end
        }
        OldEventRecord &r = rec[made];
        Crate_CopyText(r.itemName, sizeof r.itemName, node->itemName);
        switch (node->kind) {
        case ITEM_CHANNEL:
        case ITEM_BOARD:
            if (HX1100_DecodeParamEvent(value, width, node->descriptor, &r) != 0) {
                if (textFlag)
                    storeText(&r, valueBody(value, width).rest());
                else
                    storeWord(&r, Crate_Load32(value + 4, ByteOrder::Big));
            }
            break;
        case ITEM_SYSTEM:
            HX1100_DecodeSysPropEvent(value, width, &r);
            break;
        default:
            HX1100_DecodeSpecialEvent(value, width, &r);
            break;
        }
        ++made;
        pos += kItemHeader + width;
    }
    *events = rec;
    *count = int(made);
    return 0;
}

namespace {

// Backend handle of the open first-generation system at that address; -1.
int handleForSender(const char *peer)
{
    int h = -1;
    Sys_LockNames();
    for (int i = 0; i < kMaxSystems && h < 0; ++i) {
        SystemSlot *s = Sys_Slot(i);
        if (s->open.load() && s->family == 0 && std::strcmp(s->address, peer) == 0)
            h = s->backendHandle;
    }
    Sys_UnlockNames();
    return h;
}

} // namespace

void HX1100_SetEventTimeoutForTest(int ms)
{
    gEventWait.setForTest(ms);
}

int HX1100_GetEventData(int socket, OldEventRecord **events, int *count)
{
    *events = nullptr;
    *count = 0;
    const int r = Crate_WaitReadable(socket, gEventWait.ms());
    if (r == 0)
        return KORUHV_ERR_EVENT_TIMEOUT;
    if (r < 0)
        return 1;
    static thread_local uint8_t buf[kHX1100MaxDatagram];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n =
        ::recvfrom(socket, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &fromLen);
    if (n <= 27)
        return 1;
    char peer[INET_ADDRSTRLEN] = {};
    if (from.sin_family != AF_INET || !inet_ntop(AF_INET, &from.sin_addr, peer, sizeof peer))
        return KORUHV_ERR_EVENT_TIMEOUT;
    int h = handleForSender(peer);
    if (h < 0)
        return KORUHV_ERR_EVENT_TIMEOUT;
    return HX1100_DecodeDatagram(h, buf, size_t(n), events, count);
}

int HX1100_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    CrateContext *ctx = liveContext(b.handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    uint8_t *list = nullptr;
    size_t listLen = 0;
    if (Crate_EncodeSubscribeList(count, items, ByteOrder::Big, &list, &listLen) != 0)
        return CRATE_ERR_PARAM_NOT_FOUND; // 22: the list cannot be encoded
    CrateReply reply;
    int rc = Crate_SendItemList(*ctx, "SUBSCRIBE", port, count, list, listLen, &reply);
    if (rc)
        return rc;
    ByteCursor cur(nullptr, 0);
    if (!Crate_ReplyIds(reply, count, &cur))
        return Crate_Malformed(*ctx);
    std::string work(items);
    char *cursor = nullptr;
    char *name = NextToken(work.data(), ":", &cursor);
    for (uint16_t i = 0; i < count; ++i, name = NextToken(nullptr, ":", &cursor)) {
        int32_t id = int32_t(cur.u32());
        uint8_t res = 0;
        if (id == -2)
            res = 254;
        else if (id == -1)
            res = 255;
        else if (id == -3)
            res = 253;
        else if (!HX1100_SubList_Add(b.handle, id, name ? name : ""))
            return Crate_SetError(*ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
        if (results)
            results[i] = char(res);
    }
    ctx->status = 0;
    return 0;
}

int HX1100_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    CrateContext *ctx = liveContext(b.handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    uint8_t *ids = nullptr;
    size_t idsLen = 0;
    if (Crate_EncodeUnsubscribeList(b.handle, count, items, &ids, &idsLen) != 0)
        return CRATE_ERR_PARAM_NOT_FOUND;
    const int rc = Crate_SendUnsubscribe(*ctx, "UNSUBSCRIBE", port, count, ids, idsLen, nullptr);
    if (rc)
        return rc;
    // The list forgets the items the crate took; a result for each of them.
    std::string work(items);
    char *cursor = nullptr;
    uint16_t i = 0;
    for (char *tok = NextToken(work.data(), ":", &cursor); tok && i < count;
         tok = NextToken(nullptr, ":", &cursor), ++i) {
        HX1100_SubList_RemoveByName(b.handle, tok);
        if (results)
            results[i] = 0;
    }
    return 0;
}

} // namespace koruhv
