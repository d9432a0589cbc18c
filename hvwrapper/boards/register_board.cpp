// The register-polling core of the register-mapped families: device table,
// open and close sequence, item walk and polling loop.
#include "register_board.h"

#include <string>
#include <vector>

#include "item_name.h"

namespace koruhv {

bool RegisterBoardTable::claim(RegisterBoard *dev)
{
    pthread_mutex_lock(&lock_);
    int index = -1;
    for (int i = 0; i < kMax && index < 0; ++i)
        if (!devices_[i].load())
            index = i;
    if (index >= 0) {
        dev->index = index;
        devices_[index] = dev;
    }
    pthread_mutex_unlock(&lock_);
    if (index < 0)
        delete dev;
    return index >= 0;
}

int RegisterBoardTable::release(RegisterBoard *dev, CommCloseDevice close, bool closeComm)
{
    if (closeComm && close)
        close(dev->comm);
    devices_[dev->index] = nullptr;
    delete dev;
    return -1;
}

int RegisterBoardTable::publish(RegisterBoard *dev, CommCloseDevice close, std::function<void()> body)
{
    const int index = dev->index;
    dev->inUse = true;
    inUse_[index] = true;
    if (!dev->poller.start(std::move(body))) {
        dev->inUse = false;
        inUse_[index] = false;
        return release(dev, close, true);
    }
    return index;
}

int RegisterBoardTable::close(const BackendRef &b)
{
    RegisterBoard *dev = at(b.handle);
    auto close = CommEntry<CommCloseDevice>(b.library, "KORUComm_CloseDevice");
    if (dev && dev->inUse.load()) {
        {
            std::lock_guard<std::recursive_mutex> g(dev->lock);
            dev->events.shutdown();
        }
        dev->inUse = false;
        inUse_[b.handle] = false;
        dev->poller.stop();  // joined: the thread no longer uses the handle
        dev->events.close(); // the thread is gone: nothing uses the descriptor now
        if (close)
            close(dev->comm);
        devices_[b.handle] = nullptr;
        delete dev;
    }
    // The library was opened for this system alone (also when the open
    // failed before a device was claimed).
    if (b.library)
        dlclose(b.library);
    return 0;
}

RegisterBoard *RegisterBoardTable::at(int index) const
{
    if (index < 0 || index >= kMax)
        return nullptr;
    return devices_[index].load();
}

RegisterBoard *RegisterBoardTable::open(int index) const
{
    RegisterBoard *dev = at(index);
    return dev && dev->inUse.load() ? dev : nullptr;
}

bool RegisterBoardTable::anyOpen() const
{
    for (const auto &f : inUse_)
        if (f.load())
            return true;
    return false;
}

void RegisterBoardTable::reset()
{
    for (auto &p : devices_)
        p = nullptr;
    for (auto &f : inUse_)
        f = false;
}

int RegisterBoard_Items(RegisterBoard *dev, const BackendRef &b, bool subscribe, short port, uint16_t count,
                        const char *items, char *results, RegisterItems &family)
{
    constexpr size_t kItemCap = 100; // an item and its NUL
    if (!dev || !dev->inUse.load())
        return BD_NOT_OPEN;
    std::vector<std::string> list;
    if (!Board_SplitItems(items, count, &list) || (count && !results))
        return BD_COUNT_MISMATCH;

    std::lock_guard<std::recursive_mutex> g(dev->lock);
    for (size_t k = 0; k < list.size(); ++k) {
        if (list[k].size() >= kItemCap) {
            results[k] = char(255); // too long to be one of ours
            continue;
        }
        int16_t board = 0;
        uint16_t channel = 0;
        char param[kItemCap];
        const int kind = ParseItemName(list[k].c_str(), &board, &channel, param, sizeof param);
        if (kind != ITEM_CHANNEL && kind != ITEM_BOARD)
            continue; // system items: the byte stays as the caller set it
        const bool applied = family.apply(kind == ITEM_CHANNEL ? int(channel) : -1, param);
        results[k] = applied ? 0 : char(255);
    }
    if (subscribe && dev->events.ensure(static_cast<unsigned short>(port), Board_SlotAddress(b.slot)) != 0) {
        family.takeBack();
        return BD_EVENT_SOCKET;
    }
    family.done();
    return BD_OK;
}

void RegisterBoard_Poll(RegisterBoard &dev, RegisterPollCycle &cycle)
{
    while (!dev.poller.stopping()) {
        const int pollMs = Board_Timing().pollMs;
        int sock = -1;
        bool any = false;
        {
            std::lock_guard<std::recursive_mutex> g(dev.lock);
            any = cycle.take();
            if (!any)
                dev.events.close(); // nothing left to report: the next subscribe reconnects
            sock = dev.events.sock;
        }
        if (!dev.inUse.load())
            break;
        if (any && sock >= 0) {
            EventBatchWriter w;
            if (cycle.read(w) && w.count() > 0)
                Board_SendBatch(dev.lock, dev.events, sock, w);
            else
                // Nothing read this cycle, but the connection hears from us
                // within the keep-alive time, and the next read waits for
                // the period like any other.
                Board_KeepAlive(dev.lock, dev.events, sock);
        }
        if (dev.poller.sleep(pollMs))
            break;
    }
}

int RegisterBoard_GetSysPropList(const BackendRef &, uint16_t *, char **)
{
    return BD_NOT_SUPPORTED;
}
int RegisterBoard_GetSysPropInfo(const BackendRef &, const char *, uint32_t *, uint32_t *)
{
    return BD_UNKNOWN;
}
int RegisterBoard_SetBdParam(const BackendRef &, uint16_t, const uint16_t *, const char *, void *)
{
    return BD_OK;
}
int RegisterBoard_TestBdPresence(const BackendRef &, uint16_t, char *, char *, uint16_t *, uint8_t *,
                                 uint8_t *)
{
    return BD_NOT_SUPPORTED;
}
int RegisterBoard_SetChName(const BackendRef &, uint16_t, uint16_t, const uint16_t *, const char *)
{
    return BD_WRITE_FAILED;
}
const char *RegisterBoard_GetError(const BackendRef &)
{
    return "";
}

} // namespace koruhv
