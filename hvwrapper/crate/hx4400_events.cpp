// Subscription store and event stream of the current-generation crates.
// The crate names each item of an event batch by the 32-bit id it gave at
// "NEWSUBSCRIBE"; the store of the context maps ids back to names. The
// event thread reads the store and the system information while the GUI
// thread changes them, so both sides hold the context's data lock (never
// across socket I/O).
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "crate_events.h"
#include "crate_ops.h"
#include "hx4400_backend.h"
#include "hx4400_store.h"
#include "item_name.h"

namespace koruhv {

using namespace hx4400store;

namespace {

EventWait gEventWait{16000};

SubscriptionStore gStores[kCrateContexts];

bool validHandle(int h)
{
    return h >= 0 && h < kCrateContexts;
}

int addLocked(SubscriptionStore &st, int systemHandle, uint32_t id, const char *item)
{
    st.systemHandle = systemHandle;
    BoardBlock *blk = nullptr;
    const int level = st.storeLevelItem(kSystemBoard, id, item, &blk);
    if (level >= 0)
        return level;
    // A channel item takes the slot its id names.
    const ItemId at(id);
    if (at.channel >= blk->channelCount || !blk->hasChannelSlots(at.channel))
        return 0;
    if (at.slot == kNameOnlyItem)
        return 1; // a channel name needs no slot
    std::vector<ItemSlot> &slots = blk->channels[at.channel];
    if (at.slot >= slots.size())
        return 0;
    slots[at.slot].set(id, 0, ItemName_LastPart(item));
    return 1;
}

int removeLocked(SubscriptionStore &st, const char *item, uint32_t *id)
{
    int16_t board = 0;
    uint16_t channel = 0;
    char param[256] = {};
    int kind = ParseItemName(item, &board, &channel, param, sizeof param);
    if (kind == ITEM_CHANNEL) {
        if (board < 0 || board >= kBoards)
            return -1;
        BoardBlock &blk = st.boards[board];
        if (channel >= blk.channelCount || !blk.hasChannelSlots(channel))
            return -1;
        return ItemSlot_Take(blk.channels[channel].data(), blk.channels[channel].size(), param, id);
    }
    if (kind == ITEM_BOARD) {
        if (board < 0 || board >= kBoards)
            return -1;
        return ItemSlot_Take(st.boards[board].boardSlots, kItemSlots, param, id);
    }
    return ItemSlot_Take(st.systemSlots, kItemSlots, param, id);
}

CrateContext *liveContext(int handle)
{
    if (!validHandle(handle) || !HX4400_Contexts()[handle].inUse)
        return nullptr;
    return &HX4400_Contexts()[handle];
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Receives exactly n bytes within the deadline: 0, 23 silence, 28 failure.
// Silence after part of the bytes came is a broken stream (28), as a
// receive that runs into the socket's time-out is.
int recvAll(int sock, uint8_t *p, size_t n, Clock::time_point deadline)
{
    bool started = false;
    while (n) {
        ssize_t k = ::recv(sock, p, n, MSG_DONTWAIT);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pf{sock, POLLIN, 0};
            int r = ::poll(&pf, 1, remainingMs(deadline));
            if (r == 0)
                return started ? KORUHV_ERR_EVENT_SOCKET : KORUHV_ERR_EVENT_TIMEOUT;
            if (r < 0 && errno != EINTR)
                return KORUHV_ERR_EVENT_SOCKET;
            continue;
        }
        if (k <= 0)
            return KORUHV_ERR_EVENT_SOCKET;
        started = true;
        p += k;
        n -= size_t(k);
    }
    return 0;
}

// Discards n bytes (a body nobody needs) within the deadline.
int drain(int sock, size_t n, Clock::time_point deadline)
{
    uint8_t buf[4096];
    bool drained = false;
    while (n) {
        size_t k = n < sizeof buf ? n : sizeof buf;
        int rc = recvAll(sock, buf, k, deadline);
        if (rc == KORUHV_ERR_EVENT_TIMEOUT && drained)
            return KORUHV_ERR_EVENT_SOCKET; // silence inside the body
        if (rc)
            return rc;
        drained = true;
        n -= k;
    }
    return 0;
}

} // namespace

SubscriptionStore &hx4400store::storeOf(int handle)
{
    return gStores[handle];
}

void HX4400_SetEventTimeoutForTest(int ms)
{
    gEventWait.setForTest(ms);
}

int HX4400_SubStore_Add(int handle, int systemHandle, uint32_t id, const char *item)
{
    if (!validHandle(handle) || !item)
        return 0;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    ++gStores[handle].generation;
    return addLocked(gStores[handle], systemHandle, id, item);
}

int HX4400_SubStore_Remove(int handle, const char *item, uint32_t *id)
{
    if (!validHandle(handle) || !item)
        return -1;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    ++gStores[handle].generation;
    return removeLocked(gStores[handle], item, id);
}

int HX4400_SubStore_PrepareChannel(int handle, uint16_t slot, uint16_t channel)
{
    if (!validHandle(handle) || slot >= kBoards)
        return 0;
    CrateContext &ctx = HX4400_Contexts()[handle];
    std::lock_guard<std::mutex> g(ctx.dataLock);
    const CrateBoardEntry *entry = ctx.sysInfo ? ctx.sysInfo->findBoard(slot) : nullptr;
    if (!entry)
        return 0;
    ++gStores[handle].generation;
    const size_t count = entry->channels.size();
    const size_t params = channel < count ? entry->channels[channel].params.size() : 0;
    return gStores[handle].boards[slot].prepareChannel(count, channel, params) ? 0 : CRATE_ERR_NO_MEMORY;
}

int HX4400_SizeSubscriptionStore(const BackendRef &b, int slot, int channelCount)
{
    if (!validHandle(b.handle) || slot < 0 || slot >= kBoards)
        return 0;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[b.handle].dataLock);
    ++gStores[b.handle].generation;
    return gStores[b.handle].boards[slot].size(channelCount) ? 0 : CRATE_ERR_NO_MEMORY;
}

void HX4400_SubStore_Free(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    gStores[handle].forgetRecent();
    gStores[handle].releaseBoards();
}

void HX4400_SubStore_Clear(int handle)
{
    if (!validHandle(handle))
        return;
    std::lock_guard<std::mutex> g(HX4400_Contexts()[handle].dataLock);
    gStores[handle].forgetRecent();
    gStores[handle].reset();
}

int HX4400_EncodeUnsubscribeList(int handle, unsigned count, const char *items, uint8_t **out, size_t *len)
{
    *out = nullptr;
    *len = 0;
    if (!validHandle(handle))
        return -1;
    return Crate_EncodeIdList(
        count, items,
        [&](const char *item) {
            uint32_t id = 0;
            return HX4400_SubStore_Remove(handle, item, &id) == 0 ? id : uint32_t(-2);
        },
        out, len);
}

int HX4400_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    CrateContext *ctx = liveContext(b.handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    uint8_t *list = nullptr;
    size_t listLen = 0;
    if (Crate_EncodeSubscribeList(count, items, ByteOrder::Big, &list, &listLen) != 0)
        return Crate_SetError(*ctx, CRATE_ERR_PARAM_NOT_FOUND, kTextParamNotFound);
    CrateReply reply;
    int rc = Crate_SendItemList(*ctx, "NEWSUBSCRIBE", port, count, list, listLen, &reply);
    if (rc)
        return rc;
    ByteCursor cur(nullptr, 0);
    if (!Crate_ReplyIds(reply, count, &cur)) {
        if (results)
            std::memset(results, 255, count);
        return Crate_Malformed(*ctx);
    }
    std::string work(items);
    char *cursor = nullptr;
    char *tok = NextToken(work.data(), ":", &cursor);
    rc = 0;
    for (uint16_t i = 0; i < count; ++i, tok = tok ? NextToken(nullptr, ":", &cursor) : nullptr) {
        uint32_t id = cur.u32();
        char result = 0;
        if (id == 0xFFFFFFFFu)
            result = char(255);
        else if (!HX4400_SubStore_Add(b.handle, b.slot, id, tok ? tok : "")) {
            result = char(CRATE_ERR_NO_MEMORY); // refused by the store; later items still go in
            rc = CRATE_ERR_NO_MEMORY;
        }
        if (results)
            results[i] = result;
    }
    if (rc)
        return Crate_SetError(*ctx, rc, kTextNoMemoryTransport);
    ctx->status = 0;
    return 0;
}

int HX4400_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results)
{
    CrateContext *ctx = liveContext(b.handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    uint8_t *ids = nullptr;
    size_t idsLen = 0;
    // The store forgets the items here, whatever the crate answers.
    if (HX4400_EncodeUnsubscribeList(b.handle, count, items, &ids, &idsLen) != 0)
        return Crate_SetError(*ctx, CRATE_ERR_PARAM_NOT_FOUND, kTextParamNotFound);
    return Crate_SendUnsubscribe(*ctx, "NEWUNSUBSCRIBE", port, count, ids, idsLen, results);
}

int HX4400_GetEventData(const BackendRef &b, int socket, KORUHV_SYSTEMSTATUS_t *status, EventRecord **events,
                        int *count)
{
    *events = nullptr;
    *count = 0;
    if (!validHandle(b.handle))
        return KORUHV_ERR_NO_EVENT_READER;
    const int ms = gEventWait.ms();
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return KORUHV_ERR_EVENT_SOCKET;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t header[kCrateEventHeaderSize];
    int rc = recvAll(socket, header, sizeof header, deadline);
    if (rc)
        return rc;
    if (std::memcmp(header, "KORUHV", 6) != 0)
        return KORUHV_ERR_EVENT_HEADER;
    uint32_t total = Crate_Load32(header + 41, ByteOrder::Big);
    bool totalOk = total >= kCrateEventHeaderSize && total <= kCrateMaxFrame;
    uint32_t n = Crate_Load32(header + 20, ByteOrder::Big);
    if (n == 0) // nothing to report; a body it carries is read so the next batch starts in step
        return totalOk ? drain(socket, total - kCrateEventHeaderSize, deadline) : 0;
    if (!totalOk)
        return KORUHV_ERR_EVENT_HEADER;
    size_t bodyLen = total - kCrateEventHeaderSize;
    uint8_t *body = static_cast<uint8_t *>(std::malloc(bodyLen ? bodyLen : 1));
    if (!body)
        return KORUHV_ERR_NO_MEMORY;
    rc = recvAll(socket, body, bodyLen, deadline);
    if (rc == 0)
        rc = HX4400_DecodeEventBatch(b.handle, b.slot, header, body, bodyLen, status, events, count);
    std::free(body);
    return rc;
}

} // namespace koruhv
