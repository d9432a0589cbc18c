// Subscriptions of the text-protocol backends and the polling thread that
// reads every subscribed parameter once a period and sends the values as one
// local event batch to the program's event server.
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "item_name.h"
#include "link.h"
#include "local_events.h"
#include "modules/text_internal.h"

namespace koruhv {

namespace {

constexpr size_t kMaxItemLength = 99;

// Items of a ':'-joined list; a ':' in the first place does not count.
std::vector<std::string> splitItems(const char *items)
{
    std::vector<std::string> out;
    std::string cur;
    for (const char *p = items; *p; ++p) {
        if (*p == ':' && p != items) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(*p);
        }
    }
    out.push_back(cur);
    return out;
}

struct ParsedItem {
    int kind = -1;
    int row = -1;     // -1: refused
    uint32_t bit = 0; // mask bit of the item
};

// Looks an item up: channel items name a channel parameter of an existing
// channel, board items a board parameter; command rows are never polled.
ParsedItem parseItem(const TextInstance &in, const std::string &item)
{
    ParsedItem p;
    if (item.size() > kMaxItemLength) {
        p.kind = ITEM_CHANNEL; // refused below
        return p;
    }
    int16_t board = 0;
    uint16_t channel = 0;
    char name[64] = {};
    p.kind = ParseItemName(item.c_str(), &board, &channel, name, sizeof name);
    if (p.kind != ITEM_CHANNEL && p.kind != ITEM_BOARD)
        return p;
    const ParamRow *row = TextFindRow(in, name);
    if (!row || row->mode() == PM_COMMAND)
        return p;
    const int r = static_cast<int>(row - in.rows.data());
    if (p.kind == ITEM_BOARD) {
        if (r >= in.boardRowCount)
            return p;
        p.row = r;
        p.bit = 1;
        return p;
    }
    if (channel >= in.channelCount || r < in.boardRowCount)
        return p;
    bool listed = false;
    for (uint16_t i : in.channelLists[channel])
        listed = listed || i == r;
    if (!listed)
        return p;
    p.row = r;
    p.bit = 1u << channel;
    return p;
}

// Splits an all-channels reply at ';' into at most n fields.
std::vector<std::string> splitFields(const char *text, int n)
{
    std::vector<std::string> out;
    std::string cur;
    for (const char *p = text;; ++p) {
        if (*p == ';' || *p == '\0') {
            out.push_back(cur);
            cur.clear();
            if (!*p || static_cast<int>(out.size()) >= n)
                break;
        } else {
            cur.push_back(*p);
        }
    }
    return out;
}

void addRecord(EventBatchWriter &w, const TextInstance &in, const ParamRow &row, int channel,
               const RowValue &v)
{
    switch (row.type()) {
    case PT_NUMERIC:
        w.addFloat(in.index, 0, channel, row.name, v.f);
        break;
    case PT_TEXT:
        w.addText(in.index, 0, channel, row.name, v.text.c_str());
        break;
    default:
        w.addInt(row.type(), in.index, 0, channel, row.name, v.i);
        break;
    }
}

bool waitStop(TextInstance &in, int ms)
{
    std::unique_lock<std::mutex> g(in.stopMutex);
    return in.stopCv.wait_for(g, std::chrono::milliseconds(ms), [&] { return in.stop.load(); });
}

// Sends a batch; a connection that fails is closed (false), and the next
// subscription opens a new one.
bool sendBatch(TextInstance &in, int sock, EventBatchWriter &w)
{
    const std::vector<uint8_t> &bytes = w.bytes();
    int rc;
    {
        std::lock_guard<std::mutex> s(in.sendLock);
        rc = LocalEvent_Send(sock, bytes.data(), bytes.size());
        if (rc == 0)
            in.lastSendMs = TextNowMs();
    }
    if (rc == 0)
        return true;
    std::lock_guard<std::mutex> g(in.lock);
    if (in.eventSock == sock)
        TextPoll_CloseEventSocket(in);
    return false;
}

// The value as compared for boardChangesOnly: the 4 bytes sent, or the text.
std::string valueKey(const ParamRow &row, const RowValue &v)
{
    if (row.type() == PT_TEXT)
        return "t" + v.text;
    char b[4];
    if (row.type() == PT_NUMERIC)
        std::memcpy(b, &v.f, 4);
    else
        std::memcpy(b, &v.i, 4);
    return std::string("n") + std::string(b, 4);
}

// seen: the board row's value last sent on this connection (boardChangesOnly
// families), empty before the first.
void pollRow(TextInstance &in, int r, uint32_t mask, int budget, EventBatchWriter &w, std::string *seen)
{
    const ParamRow &row = in.rows[static_cast<size_t>(r)];
    char text[1024];
    if (r < in.boardRowCount) {
        if (Text_Monitor(in, -1, TextReadMnemonic(in, row), text, sizeof text) != 0)
            return;
        const RowValue v = TextConvertValue(in, row, -1, text);
        if (seen) {
            const std::string key = valueKey(row, v);
            if (key == *seen)
                return;
            *seen = key;
        }
        addRecord(w, in, row, -1, v);
        return;
    }
    if (in.family->pollEachChannel) {
        for (int c = 0; c < in.channelCount && static_cast<int>(w.count()) < budget; ++c) {
            if (!(mask & (1u << c)))
                continue;
            if (Text_Monitor(in, c, TextReadMnemonic(in, row), text, sizeof text) == 0)
                addRecord(w, in, row, c, TextConvertValue(in, row, c, text));
        }
        return;
    }
    // All channels with one request.
    if (Text_Monitor(in, in.unitChannelCount, TextReadMnemonic(in, row), text, sizeof text) != 0)
        return;
    const std::vector<std::string> fields = splitFields(text, in.unitChannelCount);
    for (int c = 0; c < in.channelCount && static_cast<int>(w.count()) < budget; ++c) {
        if (!(mask & (1u << c)))
            continue;
        if (static_cast<size_t>(c) >= fields.size())
            break; // the unit sent no value for this channel: nothing to report
        addRecord(w, in, row, c, TextConvertValue(in, row, c, fields[c].c_str()));
    }
}

} // namespace

void TextPoll_CloseEventSocket(TextInstance &in)
{
    if (in.eventSock >= 0)
        ::close(in.eventSock);
    in.eventSock = -1;
    in.eventSockBroken = false;
}

// Sends an empty batch whenever the event connection has been silent for the
// keep-alive time, by the clock: the polling thread may wait on a silent unit
// for longer than that. The descriptor is used under the instance lock, so
// the polling thread cannot close it meanwhile; a failed send only shuts it
// down and leaves the close to the polling thread, which owns the descriptor.
void TextPoll_KeepAlive(TextInstance *inp)
{
    TextInstance &in = *inp;
    while (!in.stop) {
        const int keepAliveMs = Text_Timing().keepAliveMs;
        int64_t waitMs = keepAliveMs;
        {
            std::lock_guard<std::mutex> g(in.lock);
            const int64_t silentMs = TextNowMs() - in.lastSendMs.load();
            if (in.eventSock >= 0 && !in.eventSockBroken && in.pollCount > 0) {
                if (silentMs >= keepAliveMs) {
                    EventBatchWriter empty;
                    const std::vector<uint8_t> &bytes = empty.bytes();
                    std::lock_guard<std::mutex> s(in.sendLock);
                    if (LocalEvent_Send(in.eventSock, bytes.data(), bytes.size()) == 0) {
                        in.lastSendMs = TextNowMs();
                    } else {
                        ::shutdown(in.eventSock, SHUT_RDWR);
                        in.eventSockBroken = true;
                    }
                } else {
                    waitMs = keepAliveMs - silentMs;
                }
            }
        }
        if (waitStop(in, static_cast<int>(waitMs)))
            break;
    }
}

void TextPoll_Run(TextInstance *inp)
{
    TextInstance &in = *inp;
    // boardChangesOnly: per row the value last sent, forgotten when the row
    // is subscribed anew or the connection changes, so every subscriber
    // learns the current value once.
    std::vector<std::string> seen;
    std::vector<uint32_t> lastMasks;
    while (!in.stop) {
        std::vector<uint32_t> masks;
        int count;
        int sock;
        {
            std::lock_guard<std::mutex> g(in.lock);
            if (in.eventSockBroken)
                TextPoll_CloseEventSocket(in);
            count = in.pollCount;
            sock = in.eventSock;
            if (count == 0)
                TextPoll_CloseEventSocket(in);
            else
                masks = in.masks;
        }
        if (in.family->boardChangesOnly) {
            seen.resize(masks.size());
            lastMasks.resize(masks.size());
            for (size_t r = 0; r < masks.size(); ++r)
                if (!masks[r] || !lastMasks[r] || sock < 0)
                    seen[r].clear();
            lastMasks = masks;
        }
        if (count > 0 && sock >= 0) {
            EventBatchWriter w;
            bool alive = true;
            for (size_t r = 0; r < masks.size() && alive && !in.stop; ++r) {
                if (!masks[r] || static_cast<int>(w.count()) >= count)
                    continue;
                std::string *last = in.family->boardChangesOnly && static_cast<int>(r) < in.boardRowCount
                                        ? &seen[r]
                                        : nullptr;
                pollRow(in, static_cast<int>(r), masks[r], count, w, last);
            }
            if (in.stop)
                break;
            // A batch always announces one record per subscribed item; the
            // records of rows that failed this cycle stay all zero at its end.
            if (alive && w.count() > 0 && !in.family->boardChangesOnly)
                while (static_cast<int>(w.count()) < count)
                    w.addInt(0, 0, 0, 0, nullptr, 0);
            // The descriptor is used only while this thread has not closed it.
            if (alive && w.count() > 0)
                alive = sendBatch(in, sock, w);
            if (!alive)
                lastMasks.assign(lastMasks.size(), 0); // the next connection gets every value again
        }
        if (waitStop(in, Text_Timing().pollMs))
            break;
    }
    std::lock_guard<std::mutex> g(in.lock);
    in.pollCount = 0;
}

int Text_Subscribe(const TextFamily &f, int index, unsigned short port, uint16_t count, const char *items,
                   char *results)
{
    TextInstance *in = TextInstanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!items || !results)
        return TEXT_COUNT_MISMATCH;
    const std::vector<std::string> list = splitItems(items);
    if (list.size() != count)
        return TEXT_COUNT_MISMATCH;

    // Pairs this call added, taken back when the event connection fails, so
    // the poll count always equals the pairs that are polled.
    std::vector<std::pair<int, uint32_t>> added;
    for (size_t k = 0; k < list.size(); ++k) {
        const ParsedItem p = parseItem(*in, list[k]);
        if (p.kind != ITEM_CHANNEL && p.kind != ITEM_BOARD)
            continue; // system items: the result byte stays as the caller set it
        if (p.row < 0) {
            results[k] = static_cast<char>(255);
            continue;
        }
        std::lock_guard<std::mutex> g(in->lock);
        uint32_t &m = in->masks[static_cast<size_t>(p.row)];
        if (!(m & p.bit)) {
            m |= p.bit;
            added.emplace_back(p.row, p.bit);
        }
        results[k] = 0;
    }

    std::lock_guard<std::mutex> g(in->lock);
    if (in->eventSock < 0) {
        int sock = -1;
        if (LocalEvent_Connect(port, in->address.c_str(), &sock) != 0 || sock < 0) {
            for (const auto &a : added)
                in->masks[static_cast<size_t>(a.first)] &= ~a.second;
            return TEXT_EVENT_SOCKET;
        }
        in->eventSock = sock;
        in->lastSendMs = TextNowMs();
    }
    in->pollCount += static_cast<int>(added.size());
    return 0;
}

int Text_UnSubscribe(const TextFamily &f, int index, uint16_t count, const char *items, char *results)
{
    TextInstance *in = TextInstanceOf(f, index);
    if (!in)
        return TEXT_NOT_OPEN;
    if (!items || !results)
        return TEXT_COUNT_MISMATCH;
    const std::vector<std::string> list = splitItems(items);
    if (list.size() != count)
        return TEXT_COUNT_MISMATCH;
    int removed = 0;
    for (size_t k = 0; k < list.size(); ++k) {
        const ParsedItem p = parseItem(*in, list[k]);
        if (p.kind != ITEM_CHANNEL && p.kind != ITEM_BOARD)
            continue;
        if (p.row < 0) {
            results[k] = static_cast<char>(255);
            continue;
        }
        std::lock_guard<std::mutex> g(in->lock);
        uint32_t &m = in->masks[static_cast<size_t>(p.row)];
        if (m & p.bit) {
            m &= ~p.bit;
            ++removed;
        }
        results[k] = 0;
    }
    // The polling thread closes the event connection once nothing is left.
    std::lock_guard<std::mutex> g(in->lock);
    in->pollCount -= removed;
    return 0;
}

} // namespace koruhv
