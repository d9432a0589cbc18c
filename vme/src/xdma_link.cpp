// XDMA PCIe optical-link card: the node set (control, user, host-to-card and
// card-to-host streams, VME events), card registers by file offset, the link
// reset, the bridge transaction over the streams, and VME interrupts.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>

#include "card_ioctl.h"
#include "device_io.h"
#include "vme_internal.h"

namespace koruvme {

namespace {

constexpr size_t kAlign = 4096;
constexpr size_t kReadPiece = 4096;
constexpr size_t kReceiveBytes = 4096 + 1028;
constexpr size_t kMaxPiece = 0x7FFFF000;
constexpr int kErrNoDataYet = 512;

struct XdmaNodeSet {
    int control, user, h2c, c2h, events;
    uint32_t receive[kReceiveBytes / 4];
};

XdmaNodeSet *setOf(int32_t handle)
{
    return static_cast<XdmaNodeSet *>(g_boards[handle].transport);
}

uint32_t base(int32_t handle)
{
    return g_boards[handle].channel * 4096;
}

int readAt(int fd, off_t off, uint32_t *v)
{
    return deviceIo().pread(fd, v, 4, off) == 4 ? 0 : -1;
}

} // namespace

int xdma_open(int32_t handle)
{
    BoardEntry &e = g_boards[handle];
    if (e.transport)
        return -1;
    auto *s = static_cast<XdmaNodeSet *>(std::calloc(1, sizeof(XdmaNodeSet)));
    if (!s)
        return -1;
    s->control = s->user = s->h2c = s->c2h = s->events = -1;
    e.transport = s;
    char prefix[21];
    std::snprintf(prefix, sizeof prefix, "/dev/xdma%u_", e.card);
    char path[96];
    DeviceIo &io = deviceIo();
    std::snprintf(path, sizeof path, "%scontrol", prefix);
    s->control = io.open(path, O_RDWR);
    std::snprintf(path, sizeof path, "%suser", prefix);
    if (s->control >= 0)
        s->user = io.open(path, O_RDWR);
    if (s->control < 0 || s->user < 0) {
        xdma_close(handle);
        return -1;
    }
    if (e.boardType == 28)
        return 0;
    std::snprintf(path, sizeof path, "%sh2c_%u", prefix, e.channel);
    s->h2c = io.open(path, O_WRONLY);
    std::snprintf(path, sizeof path, "%sc2h_%u", prefix, e.channel);
    s->c2h = io.open(path, O_RDONLY | O_TRUNC);
    std::snprintf(path, sizeof path, "%svme_events_%u", prefix,
                  static_cast<unsigned>(e.boardNumber) + 8 * e.channel);
    s->events = io.open(path, O_RDONLY);
    uint32_t a = 0, b = 0, c = 0;
    bool ok = s->h2c >= 0 && s->c2h >= 0 && s->events >= 0 && readAt(s->control, 0, &a) == 0 &&
              readAt(s->control, 4096, &b) == 0 && readAt(s->control, 0x2004, &c) == 0 && (a & 0x8000) &&
              (a & 0xFFF00000) == 0x1FC00000 && (b & 0x8000) && (b & 0xFFF00000) == 0x1FC00000 &&
              (c & 0xF) == 0xF;
    int r = ok ? xdma_link_reset(handle) : -1;
    if (r != 0) {
        xdma_close(handle);
        return r;
    }
    return 0;
}

int xdma_close(int32_t handle)
{
    XdmaNodeSet *s = setOf(handle);
    if (!s)
        return -1;
    for (int fd : {s->control, s->user, s->h2c, s->c2h, s->events})
        if (fd >= 0)
            deviceIo().close(fd);
    std::free(s);
    g_boards[handle].transport = nullptr;
    return 0;
}

int xdma_reg_read(int32_t handle, uint32_t reg, uint32_t *value)
{
    XdmaNodeSet *s = setOf(handle);
    if (!s)
        return -1;
    int fd = (reg & 0x80000000u) ? s->control : s->user;
    return readAt(fd, reg & 0x7FFFFFFF, value);
}

int xdma_reg_write(int32_t handle, uint32_t reg, uint32_t value)
{
    XdmaNodeSet *s = setOf(handle);
    if (!s)
        return -1;
    int fd = (reg & 0x80000000u) ? s->control : s->user;
    return deviceIo().pwrite(fd, &value, 4, reg & 0x7FFFFFFF) == 4 ? 0 : -1;
}

int xdma_reg_set_bits(int32_t handle, uint32_t reg, uint32_t bits)
{
    uint32_t v = 0;
    if (xdma_reg_read(handle, reg, &v) != 0)
        return -1;
    return xdma_reg_write(handle, reg, v | bits);
}

int xdma_reg_clear_bits(int32_t handle, uint32_t reg, uint32_t bits)
{
    uint32_t v = 0;
    if (xdma_reg_read(handle, reg, &v) != 0)
        return -1;
    return xdma_reg_write(handle, reg, v & ~bits);
}

uint32_t xdma_window_reg(int32_t handle)
{
    return base(handle) + 8;
}

int xdma_link_reset(int32_t handle)
{
    const uint32_t b = base(handle);
    uint32_t v = 0;
    const long long start = vme_now_ms();
    for (;;) {
        if (xdma_reg_read(handle, b + 12, &v) != 0)
            return -1;
        if ((v & 0x30000) == 0)
            break;
        // A link that stays busy for a second is broken.
        if (vme_now_ms() - start > 1000)
            return -1;
    }
    for (int i = 0; i < 2; ++i) {
        if (xdma_reg_set_bits(handle, b + 8, 1) != 0)
            return -1;
        vme_sleep_until_us(vme_now_us(), 3001, 1);
        if (xdma_reg_clear_bits(handle, b + 8, 1) != 0)
            return -1;
        vme_sleep_until_us(vme_now_us(), 30001, 10);
    }
    if (xdma_reg_read(handle, b + 12, &v) != 0)
        return -1;
    return (v & 0x30100) ? -1 : 0;
}

int32_t xdma_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                      uint16_t *status)
{
    XdmaNodeSet *s = setOf(handle);
    if (!s)
        return kCommError;
    const uint32_t b = base(handle);
    uint32_t v = 0;
    if (xdma_reg_read(handle, b + 12, &v) != 0)
        return kCommError;
    if (v & 0x100) {
        if (xdma_reg_set_bits(handle, b + 8, 1) != 0 || xdma_reg_clear_bits(handle, b + 8, 1) != 0)
            return kCommError;
        vme_sleep_until_us(vme_now_us(), 1001, 1);
        if (xdma_reg_read(handle, b + 12, &v) != 0 || (v & 0x30100))
            return kCommError;
    }
    const size_t words = 1 + (static_cast<size_t>(length) + 3) / 4;
    const size_t size = 4 * words;
    void *buf = std::aligned_alloc(kAlign, (size + kAlign - 1) / kAlign * kAlign);
    if (!buf)
        return kCommError;
    vme_build_link_request(static_cast<uint32_t *>(buf), request, length, g_boards[handle].boardNumber);
    size_t written = 0;
    bool ok = true;
    while (written < size) {
        size_t piece = size - written < kMaxPiece ? size - written : kMaxPiece;
        ssize_t r = deviceIo().write(s->h2c, static_cast<uint8_t *>(buf) + written, piece);
        if (r < 0) {
            ok = false;
            break;
        }
        written += static_cast<size_t>(r);
        if (static_cast<size_t>(r) < piece)
            break;
        if (written < size &&
            deviceIo().lseek(s->h2c, static_cast<off_t>(written), SEEK_SET) != static_cast<off_t>(written))
            break;
    }
    std::free(buf);
    if (!ok || written != size)
        return -1;
    if (capacity == 0)
        return 0;
    void *piece = std::aligned_alloc(kAlign, kReadPiece);
    if (!piece)
        return kCommError;
    const long long start = vme_now_ms();
    size_t keptBytes = 0;
    size_t delivered = 0;
    int32_t result = kCommError;
    for (;;) {
        ssize_t r = deviceIo().read(s->c2h, piece, kReadPiece);
        if (r < 0 && errno == kErrNoDataYet)
            r = 0;
        if (r < 0 || static_cast<size_t>(r) > kReadPiece) {
            result = kCommError;
            break;
        }
        if (r == 0) {
            if (vme_now_ms() - start > 1000) {
                result = kTimeout;
                break;
            }
            continue;
        }
        auto *area = reinterpret_cast<uint8_t *>(s->receive);
        std::memcpy(area + keptBytes, piece, static_cast<size_t>(r));
        const size_t totalBytes = keptBytes + static_cast<size_t>(r);
        size_t used = 0;
        int w = vme_walk_records(s->receive, totalBytes / 4, &used, static_cast<uint8_t *>(reply),
                                 static_cast<size_t>(capacity), &delivered, status);
        if (w < 0) {
            result = kCommError;
            break;
        }
        if (w == 1) {
            result = static_cast<int32_t>(delivered);
            break;
        }
        keptBytes = totalBytes - used * 4;
        if (keptBytes)
            std::memmove(area, area + used * 4, keptBytes);
        if (keptBytes + kReadPiece > sizeof s->receive) {
            result = kCommError; // a record larger than any valid one
            break;
        }
    }
    std::free(piece);
    return result;
}

namespace {

int irqBits(int32_t handle, uint32_t mask, bool enable)
{
    const BoardEntry &e = g_boards[handle];
    const uint32_t b = base(handle);
    const uint32_t board = static_cast<uint32_t>(e.boardNumber);
    const uint32_t m = (mask & 0xFF) << (8 * (board % 4));
    const uint32_t reg = b + (board < 4 ? 0x30 : 0x38);
    if (enable)
        return (xdma_reg_clear_bits(handle, b + 8, 8) == 0 && xdma_reg_set_bits(handle, reg, m) == 0) ? 0
                                                                                                      : -1;
    return (xdma_reg_set_bits(handle, b + 8, 8) == 0 && xdma_reg_clear_bits(handle, reg, m) == 0) ? 0 : -1;
}

} // namespace

int xdma_irq_enable(int32_t handle, uint32_t mask)
{
    return irqBits(handle, mask, true);
}
int xdma_irq_disable(int32_t handle, uint32_t mask)
{
    return irqBits(handle, mask, false);
}

int xdma_irq_wait(int32_t handle, uint32_t mask, uint32_t timeout)
{
    XdmaNodeSet *s = setOf(handle);
    if (!s)
        return -1;
    IrqWaitRecord rec{mask, timeout};
    if (deviceIo().ioctl(s->events, kIoctlXdmaIrqWait, &rec) == 0)
        return 0;
    return errno == ETIMEDOUT ? -2 : -1;
}

int xdma_fw_release(int32_t handle, char *text)
{
    uint32_t v = 0;
    if (xdma_reg_read(handle, 0x4000, &v) != 0)
        return -1;
    return std::snprintf(text, KORUVME_TEXT_SIZE, "%01u.%02u", (v >> 8) & 0xFF, v & 0xFF) > 0 ? 0 : -1;
}

} // namespace koruvme
