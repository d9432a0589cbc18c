// The handle table, the per-call bracket (link lock, transport open and
// close), the transaction dispatcher over every link kind, and the access to
// the bridge's own 16-bit registers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "card_ioctl.h"
#include "device_io.h"
#include "vme_internal.h"

namespace koruvme {

BoardEntry g_boards[kMaxHandles];

namespace {

void resetEntry(BoardEntry &e)
{
    e.boardType = kNone;
    e.linkKind = kNone;
    e.linkNumber = kNone;
    e.fifo = -1;
    e.boardNumber = -1;
    e.card = kNone;
    e.channel = kNone;
    e.lock = nullptr;
    e.file_handle = -1;
    e.transport = nullptr;
}

__attribute__((constructor)) void loadTable()
{
    vme_reset_table();
}

constexpr int32_t kUsbPiece = 61440;

// Reads a USB character-device reply in pieces of at most 61440 bytes.
int32_t usbReadReply(BoardEntry &e, uint8_t *buf, int32_t size)
{
    if (size == 0)
        return -1;
    int32_t total = 0;
    while (total < size) {
        int32_t piece = size - total < kUsbPiece ? size - total : kUsbPiece;
        ssize_t r = deviceIo().read(e.file_handle, buf + total, piece);
        if (r < 0)
            return static_cast<int32_t>(r);
        total += static_cast<int32_t>(r);
        if (r < piece)
            break;
    }
    return total;
}

int32_t usbCharTransact(BoardEntry &e, const void *request, int32_t length, void *reply, int32_t capacity,
                        uint32_t *status)
{
    if (deviceIo().write(e.file_handle, request, length) != length)
        return kCommError;
    std::vector<uint8_t> buf(static_cast<size_t>(capacity) + 2);
    int32_t got = usbReadReply(e, buf.data(), capacity + 2);
    if (got < 2)
        return kCommError;
    *status = buf[got - 2] | (buf[got - 1] << 8);
    int32_t n = got - 2;
    if (n > capacity || (n > 0 && !reply))
        return kCommError;
    if (n > 0)
        std::memcpy(reply, buf.data(), n);
    return n;
}

int32_t cardTransact(BoardEntry &e, const void *request, int32_t length, void *reply, int32_t capacity,
                     uint32_t *status)
{
    TransactRecord rec{};
    rec.request = reinterpret_cast<uintptr_t>(request);
    rec.length = length;
    rec.reply = reinterpret_cast<uintptr_t>(reply);
    rec.capacity = capacity;
    rec.status = reinterpret_cast<uintptr_t>(status);
    int r = deviceIo().ioctl(e.file_handle, kIoctlTransact, &rec);
    if (r < 0)
        return kCommError;
    // A driver that claims more data than the buffer holds cannot be trusted.
    if (r > capacity)
        return kCommError;
    return r;
}

} // namespace

void vme_reset_table()
{
    for (BoardEntry &e : g_boards)
        resetEntry(e);
}

BoardEntry *vme_entry(int32_t handle)
{
    if (static_cast<uint32_t>(handle) >= kMaxHandles)
        return nullptr;
    BoardEntry &e = g_boards[handle];
    return e.linkNumber == kNone ? nullptr : &e;
}

bool vme_is_local_type(uint32_t type)
{
    switch (type) {
    case 2:
    case 3:
    case 4:
    case 7:
    case 13:
    case 28:
        return true;
    default:
        return false;
    }
}

bool vme_board_open(int32_t handle)
{
    BoardEntry &e = g_boards[handle];
    vme_link_lock(handle);
    bool ok = false;
    switch (e.linkKind) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
        ok = true;
        break;
    case 6:
        // A failed link reset or an interface that cannot be claimed fails the
        // open, even though the adapter state may exist: the call must not go
        // on over a link that is known to be unusable.
        ok = usb_open(handle) == 0 && e.transport != nullptr;
        break;
    case 0:
    case 1:
        if (e.linkNumber == kNone)
            break;
        if (!e.transport) {
            char *path = static_cast<char *>(std::malloc(32));
            if (!path)
                break;
            std::snprintf(path, 32, "/dev/usb/w2860_%u", e.linkNumber);
            e.transport = path;
        }
        e.file_handle = deviceIo().open(static_cast<char *>(e.transport), O_RDWR);
        ok = e.file_handle >= 0;
        break;
    default:
        break;
    }
    if (!ok)
        vme_link_unlock(handle);
    return ok;
}

bool vme_board_close(int32_t handle)
{
    BoardEntry &e = g_boards[handle];
    bool ok = false;
    switch (e.linkKind) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
        ok = true;
        break;
    case 6:
        ok = usb_release(handle) == 0;
        break;
    case 0:
    case 1:
        if (e.file_handle >= 0) {
            ok = deviceIo().close(e.file_handle) == 0;
            e.file_handle = -1;
        }
        break;
    default:
        break;
    }
    vme_link_unlock(handle);
    return ok;
}

int32_t vme_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                     uint32_t *status, bool takeLock)
{
    BoardEntry *ep = vme_entry(handle);
    if (!ep || length < 0 || capacity < 0 || !status)
        return kInvalidParam;
    BoardEntry &e = *ep;
    if (takeLock) {
        if (!vme_board_open(handle))
            return kGenericError;
    } else if (e.linkKind > 7) {
        return 0;
    }
    int32_t r = kGenericError;
    switch (e.linkKind) {
    case 0:
    case 1:
        r = usbCharTransact(e, request, length, reply, capacity, status);
        break;
    case 2:
    case 3:
        r = net_transact(handle, request, length, reply, capacity, status);
        break;
    case 4:
    case 5:
        r = cardTransact(e, request, length, reply, capacity, status);
        break;
    case 6: {
        uint16_t s = 0;
        r = usb_transact(handle, request, length, reply, capacity, &s);
        *status = s;
        break;
    }
    case 7: {
        uint16_t s = 0;
        r = xdma_transact(handle, request, length, reply, capacity, &s);
        *status = s;
        break;
    }
    default:
        break;
    }
    if (takeLock && !vme_board_close(handle))
        return kGenericError;
    return r;
}

bool vme_card_reg_read(int32_t handle, uint32_t reg, uint32_t *value)
{
    BoardEntry &e = g_boards[handle];
    switch (e.linkKind) {
    case 4:
    case 5: {
        CardRegRecord rec{reg, 0};
        if (deviceIo().ioctl(e.file_handle, kIoctlCardRegRead, &rec) < 0)
            return false;
        *value = rec.value;
        return true;
    }
    case 6:
        return usb_reg_read(handle, reg >> 8, reg & 0xFF, value, 1) == 1;
    case 7:
        return xdma_reg_read(handle, reg, value) == 0;
    default:
        return false;
    }
}

bool vme_card_reg_write(int32_t handle, uint32_t reg, uint32_t value)
{
    BoardEntry &e = g_boards[handle];
    switch (e.linkKind) {
    case 4:
    case 5: {
        CardRegRecord rec{reg, value};
        return deviceIo().ioctl(e.file_handle, kIoctlCardRegWrite, &rec) >= 0;
    }
    case 6:
        return usb_reg_write(handle, reg >> 8, reg & 0xFF, &value, 1) == 1;
    case 7:
        return xdma_reg_write(handle, reg, value) == 0;
    default:
        return false;
    }
}

namespace {

void regRequest(uint32_t reg, bool read, uint32_t value, uint8_t *out)
{
    out[0] = static_cast<uint8_t>((reg & 0xFF) | 0x80);
    out[1] = static_cast<uint8_t>((reg >> 8) | (read ? 0x40 : 0x00));
    out[2] = static_cast<uint8_t>(value & 0xFF);
    out[3] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void pauseUs(unsigned us)
{
    timespec ts{0, static_cast<long>(us) * 1000};
    nanosleep(&ts, nullptr);
}

// A bridge behind the card's register window: open the window, send the
// request, close the window.
bool windowAccess(int32_t handle, bool read, uint32_t reg, uint32_t value, uint32_t *out)
{
    BoardEntry &e = g_boards[handle];
    uint32_t w = e.linkKind == 7 ? xdma_window_reg(handle) : 8;
    uint32_t v = 0;
    bool ok = vme_card_reg_read(handle, w, &v);
    ok = ok && vme_card_reg_write(handle, w, v | 4);
    ok = ok && vme_card_reg_read(handle, w, &v);
    if (!ok)
        return false;
    uint8_t req[4];
    regRequest(reg, read, value, req);
    uint32_t status = 0;
    bool sent;
    if (read) {
        uint8_t rep[2] = {0, 0};
        int32_t n = vme_transact(handle, req, 2, rep, 2, &status, false);
        sent = n >= 2;
        if (sent)
            *out = rep[0] | (rep[1] << 8);
    } else {
        pauseUs(1);
        sent = vme_transact(handle, req, 4, nullptr, 0, &status, false) >= 0;
        pauseUs(1);
    }
    ok = vme_card_reg_read(handle, w, &v);
    ok = ok && vme_card_reg_write(handle, w, v & ~4u);
    return ok && sent;
}

} // namespace

bool vme_reg_read(int32_t handle, uint32_t reg, uint32_t *value)
{
    BoardEntry &e = g_boards[handle];
    uint32_t t = e.boardType;
    if (t > 32)
        return false;
    if (t == 2 || t == 4 || t == 28)
        return vme_card_reg_read(handle, reg, value);
    if (t == 7)
        return vme_card_reg_read(handle, 0x700 + (reg & 0xFF), value);
    if (t == 3 || t == 13)
        return windowAccess(handle, true, reg, 0, value);
    uint8_t req[4];
    regRequest(reg, true, 0, req);
    uint8_t rep[2] = {0, 0};
    uint32_t status = 0;
    // Fewer than the two value bytes is no value.
    if (vme_transact(handle, req, 2, rep, 2, &status, false) < 2)
        return false;
    *value = rep[0] | (rep[1] << 8);
    return true;
}

bool vme_reg_write(int32_t handle, uint32_t reg, uint32_t value)
{
    BoardEntry &e = g_boards[handle];
    uint32_t t = e.boardType;
    if (t > 32)
        return false;
    if (t == 2 || t == 4 || t == 28)
        return vme_card_reg_write(handle, reg, value);
    if (t == 7) {
        uint32_t word = value;
        return usb_reg_write(handle, 7, reg & 0xFF, &word, 1) == 1;
    }
    if (t == 3 || t == 13)
        return windowAccess(handle, false, reg, value, nullptr);
    uint8_t req[4];
    regRequest(reg, false, value, req);
    if (t == 0 || t == 14 || t == 17)
        return e.file_handle >= 0 && deviceIo().write(e.file_handle, req, 4) == 4;
    uint32_t status = 0;
    return vme_transact(handle, req, 4, nullptr, 0, &status, false) >= 0;
}

long long vme_now_us()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

long long vme_now_ms()
{
    return vme_now_us() / 1000;
}

void vme_sleep_until_us(long long startUs, long long minUs, unsigned stepUs)
{
    while (vme_now_us() - startUs < minUs)
        pauseUs(stepUs);
}

} // namespace koruvme
