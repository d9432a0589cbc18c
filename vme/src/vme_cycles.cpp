// VME-master operations: single, read-modify-write, address-only and
// interrupt-acknowledge cycles, lists of cycles, block transfers, and the
// interrupt mask and wait operations.
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "card_ioctl.h"
#include "device_io.h"
#include "vme_internal.h"

using namespace koruvme;

namespace koruvme {

namespace {

constexpr int32_t kChunk = 61440;
constexpr int32_t kChunkType1Write = 2048;
constexpr int32_t kSlice = 0xFD800;
constexpr int32_t kMaxBlock = 0xFFFFFF;
constexpr int kBatch = 100;

int widthField(int32_t width)
{
    static const int table[24] = {0,  1,  -1, 2,  -1, -1, -1, 3, -1, -1, -1, -1,
                                  -1, -1, -1, -1, -1, 1,  -1, 2, -1, -1, -1, 3};
    if (width < 1 || width > 24)
        return 3;
    return table[width - 1] & 3;
}

bool amIn(int32_t am, std::initializer_list<int> list)
{
    for (int a : list)
        if (a == am)
            return true;
    return false;
}

bool singleAm(int32_t am)
{
    return amIn(am, {0x09, 0x0A, 0x0D, 0x0E, 0x29, 0x2D, 0x2F, 0x39, 0x3A, 0x3D, 0x3E});
}
bool mbltAm(int32_t am)
{
    return amIn(am, {0x08, 0x0C, 0x38, 0x3C});
}

void put16(uint8_t *p, uint32_t v)
{
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
}
void put32(uint8_t *p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}
uint32_t get16(const uint8_t *p)
{
    return p[0] | (p[1] << 8);
}
uint32_t get32(const uint8_t *p)
{
    return get16(p) | (get16(p + 2) << 16);
}

bool usable(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    return e && !vme_is_local_type(e->boardType);
}

// Data bytes of a write item (D8 by address parity); 0 for other widths.
int putData(uint8_t *p, uint32_t address, int32_t width, uint32_t value)
{
    switch (width) {
    case 1:
        if (address & 1) {
            p[0] = value & 0xFF;
            p[1] = 0;
        } else {
            p[0] = 0;
            p[1] = value & 0xFF;
        }
        return 2;
    case 2:
    case 18:
        put16(p, value);
        return 2;
    case 4:
    case 20:
        put32(p, value);
        return 4;
    default:
        return 0;
    }
}

// Reads a value of the given width from reply data; false for other widths.
bool takeData(const uint8_t *p, uint32_t address, int32_t width, uint32_t *value)
{
    switch (width) {
    case 1:
        *value = (address & 1) ? p[0] : p[1];
        return true;
    case 2:
    case 18:
        *value = get16(p);
        return true;
    case 4:
    case 20:
        *value = get32(p);
        return true;
    default:
        return false;
    }
}

int replyBytes(int32_t width)
{
    switch (width) {
    case 1:
    case 2:
    case 18:
        return 2;
    case 4:
    case 20:
        return 4;
    default:
        return width & 0xF;
    }
}

void storeValue(void *data, int32_t width, uint32_t v)
{
    switch (width & 0xF) {
    case 1: {
        uint8_t b = v;
        std::memcpy(data, &b, 1);
        break;
    }
    case 2: {
        uint16_t h = v;
        std::memcpy(data, &h, 2);
        break;
    }
    default:
        std::memcpy(data, &v, 4);
        break;
    }
}

uint32_t loadValue(const void *data, int32_t width)
{
    switch (width & 0xF) {
    case 1: {
        uint8_t b;
        std::memcpy(&b, data, 1);
        return b;
    }
    case 2: {
        uint16_t h;
        std::memcpy(&h, data, 2);
        return h;
    }
    default: {
        uint32_t v;
        std::memcpy(&v, data, 4);
        return v;
    }
    }
}

int32_t singleCycle(int32_t handle, uint32_t address, void *data, int32_t am, int32_t width, bool read,
                    bool write, unsigned kind, int32_t capacity)
{
    if (!usable(handle) || !data || width == 8 || width == 24 || !singleAm(am))
        return kInvalidParam;
    uint8_t req[10];
    put16(req, vme_make_command(read, am, true, width, kind));
    put32(req + 2, address);
    int32_t len = 6;
    if (write) {
        int n = putData(req + 6, address, width, loadValue(data, width));
        if (n == 0)
            return kInvalidParam;
        len += n;
    }
    uint8_t reply[64];
    uint32_t status = 0;
    int32_t r = vme_transact(handle, req, len, reply, capacity, &status, true);
    if (r < 0)
        return r;
    if (read) {
        if (r < replyBytes(width))
            return kCommError;
        uint32_t v = 0;
        if (!takeData(reply, address, width, &v))
            return kGenericError;
        storeValue(data, width, v);
    }
    return (status & kStatusBusError) ? kBusError : kOk;
}

} // namespace

uint16_t vme_make_command(bool read, uint32_t am, bool last, int32_t width, unsigned kind)
{
    uint32_t w = 0x8000;
    if (read)
        w |= 0x4000;
    w |= (am & 0x3F) << 8;
    if (last)
        w |= 0x80;
    if (width >= 0 && (width & 0x10))
        w |= 0x40;
    w |= static_cast<uint32_t>(widthField(width)) << 4;
    w |= kind & 0xF;
    return static_cast<uint16_t>(w);
}

bool vme_irq_supported(int32_t handle)
{
    BoardEntry *e = vme_entry(handle);
    if (!e)
        return false;
    switch (e->boardType) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 10:
    case 13:
    case 14:
    case 15:
    case 16:
    case 20:
    case 21:
    case 22:
    case 23:
    case 28:
    case 29:
    case 31:
        return false;
    default:
        return e->linkKind == 4 || e->linkKind == 5 || e->linkKind == 7;
    }
}

namespace {

// One block read of at most 0xFFFFFF bytes as a list of chunk descriptors.
int32_t bltReadChunked(int32_t handle, uint32_t address, uint8_t *buffer, int32_t size, int32_t am,
                       int32_t width, int32_t *count, bool fifo, bool takeLock)
{
    BoardEntry &e = g_boards[handle];
    *count = 0;
    if (size > kMaxBlock || vme_is_local_type(e.boardType))
        return kInvalidParam;
    if (size == 0)
        return kOk;
    const int32_t bpt = width & 0xF;
    const bool keep = fifo || e.fifo != 0;
    const int32_t n = (size + kChunk - 1) / kChunk;
    std::vector<uint8_t> desc;
    try {
        desc.resize(static_cast<size_t>(n) * 8);
    } catch (...) {
        return kGenericError;
    }
    for (int32_t i = 0; i < n; ++i) {
        const bool last = i == n - 1;
        const int32_t bytes = last ? size - i * kChunk : kChunk;
        unsigned kind = last ? (fifo ? 12 : 4) : (fifo ? 15 : 7);
        uint8_t *d = &desc[static_cast<size_t>(i) * 8];
        put16(d, vme_make_command(true, am, last, width, kind));
        put16(d + 2, static_cast<uint32_t>(bytes / bpt));
        put32(d + 4, keep ? address : address + static_cast<uint32_t>(i) * kChunk);
    }
    uint32_t status = 0;
    int32_t r =
        vme_transact(handle, desc.data(), static_cast<int32_t>(desc.size()), buffer, size, &status, takeLock);
    if (r < 0)
        return r;
    *count = r;
    return (status & kStatusBusError) ? kBusError : kOk;
}

int32_t bltRead(int32_t handle, uint32_t address, void *buffer, int32_t size, int32_t am, int32_t width,
                int32_t *count, bool fifo)
{
    if (!count)
        return kInvalidParam;
    if (!usable(handle) || size < 0 || !buffer || (width & 0xF) == 0)
        return kInvalidParam;
    *count = 0;
    BoardEntry &e = g_boards[handle];
    auto *buf = static_cast<uint8_t *>(buffer);
    const uint32_t t = e.boardType;
    if (t == 1 || t == 6 || t == 9 || t == 11 || t == 12) {
        if (size == 0)
            return kOk;
        const bool once = t == 1;
        if (once)
            vme_link_lock(handle);
        int32_t done = 0;
        int32_t r = kOk;
        while (done < size) {
            int32_t part = size - done < kSlice ? size - done : kSlice;
            int32_t got = 0;
            r = bltReadChunked(handle, fifo ? address : address + static_cast<uint32_t>(done), buf + done,
                               part, am, width, &got, fifo, !once);
            done += got;
            // A slice without data (and without error) would repeat for ever.
            if (r < 0 || got == 0)
                break;
        }
        if (once)
            vme_link_unlock(handle);
        *count = done;
        return r;
    }
    return bltReadChunked(handle, address, buf, size, am, width, count, fifo, true);
}

int32_t bltWrite(int32_t handle, uint32_t address, const void *buffer, int32_t size, int32_t am,
                 int32_t width, int32_t *count, bool fifo)
{
    if (!count)
        return kInvalidParam;
    *count = 0;
    if (!usable(handle) || size < 0 || !buffer || (width & 0xF) == 0)
        return kInvalidParam;
    BoardEntry &e = g_boards[handle];
    const int32_t chunk = e.boardType == 1 ? kChunkType1Write : kChunk;
    if (size == 0)
        return kOk;
    const int32_t bpt = width & 0xF;
    const bool keep = fifo || e.fifo != 0;
    auto *frame = static_cast<uint8_t *>(std::malloc(kChunk + 10));
    if (!frame)
        return kGenericError;
    const uint16_t cmd = vme_make_command(false, am, true, width, fifo ? 12 : 4);
    const auto *src = static_cast<const uint8_t *>(buffer);
    int64_t transfers = 0;
    int32_t done = 0;
    int32_t result = kOk;
    while (done < size) {
        int32_t part = size - done < chunk ? size - done : chunk;
        put16(frame, cmd);
        put16(frame + 2, static_cast<uint32_t>(part / bpt));
        put32(frame + 4, keep ? address : address + static_cast<uint32_t>(done));
        std::memcpy(frame + 8, src + done, part);
        uint8_t reply[64];
        uint32_t status = 0;
        int32_t r = vme_transact(handle, frame, part + 8, reply, sizeof reply, &status, true);
        if (r < 0) {
            result = r;
            break;
        }
        // Without its transfer count the chunk's outcome is unknown.
        if (r < 2) {
            result = kCommError;
            break;
        }
        transfers += get16(reply);
        if (status & kStatusBusError) {
            result = kBusError;
            break;
        }
        done += part;
    }
    std::free(frame);
    int64_t bytes = transfers * bpt;
    *count = static_cast<int32_t>(bytes > size ? size : bytes);
    return result;
}

int32_t bltReadAsync(int32_t handle, uint32_t address, void *buffer, int32_t size, int32_t am, int32_t width,
                     bool fifo)
{
    if (!usable(handle) || am < 0x08 || am > 0x3F || size < 0 || size > kMaxBlock || !buffer ||
        (width & 0xF) == 0)
        return kInvalidParam;
    bool wide = width == 8 || width == 24;
    if (wide ? !mbltAm(am) : !amIn(am, {0x0B, 0x0F, 0x3B, 0x3F}))
        return kInvalidParam;
    BoardEntry &e = g_boards[handle];
    const int32_t bpt = width & 0xF;
    const int32_t n = size == 0 ? 0 : (size + kChunk - 1) / kChunk;
    std::vector<uint8_t> desc(static_cast<size_t>(n) * 8);
    for (int32_t i = 0; i < n; ++i) {
        const bool last = i == n - 1;
        const int32_t bytes = last ? size - i * kChunk : kChunk;
        unsigned kind = last ? (fifo ? 12 : 4) : (fifo ? 15 : 7);
        uint8_t *d = &desc[static_cast<size_t>(i) * 8];
        put16(d, vme_make_command(true, am, last, width, kind));
        put16(d + 2, static_cast<uint32_t>(bytes / bpt));
        put32(d + 4, (fifo || e.fifo != 0) ? address : address + static_cast<uint32_t>(i) * kChunk);
    }
    if (e.boardType != 1 || (e.linkKind != 4 && e.linkKind != 5))
        return kCommError;
    TransactRecord rec{};
    rec.request = reinterpret_cast<uintptr_t>(desc.data());
    rec.length = static_cast<int32_t>(desc.size());
    rec.reply = reinterpret_cast<uintptr_t>(buffer);
    rec.capacity = size;
    rec.status = 0;
    return deviceIo().ioctl(e.file_handle, kIoctlBltAsync, &rec) < 0 ? kCommError : kOk;
}

} // namespace
} // namespace koruvme

extern "C" {

KORUVME_API int32_t KORUVME_ReadCycle(int32_t handle, uint32_t address, void *data, int32_t am, int32_t width)
{
    return singleCycle(handle, address, data, am, width, true, false, 1, 8);
}

KORUVME_API int32_t KORUVME_WriteCycle(int32_t handle, uint32_t address, const void *data, int32_t am,
                                       int32_t width)
{
    return singleCycle(handle, address, const_cast<void *>(data), am, width, false, true, 1, 4);
}

KORUVME_API int32_t KORUVME_RMWCycle(int32_t handle, uint32_t address, void *data, int32_t am, int32_t width)
{
    return singleCycle(handle, address, data, am, width, true, true, 2, 64);
}

static int32_t addressOnlyCycle(int32_t handle, uint32_t address, int32_t am, unsigned kind, bool amOk)
{
    if (!usable(handle) || !amOk)
        return kInvalidParam;
    uint8_t req[6];
    put16(req, vme_make_command(true, am, true, 1, kind));
    put32(req + 2, address);
    uint8_t reply[64];
    uint32_t status = 0;
    int32_t r = vme_transact(handle, req, 6, reply, sizeof reply, &status, true);
    if (r < 0)
        return r;
    return (status & kStatusBusError) ? kBusError : kOk;
}

KORUVME_API int32_t KORUVME_ADOCycle(int32_t handle, uint32_t address, int32_t am)
{
    return addressOnlyCycle(handle, address, am, 5,
                            amIn(am, {0x09, 0x0A, 0x0D, 0x0E, 0x29, 0x2D, 0x39, 0x3A, 0x3D, 0x3E}));
}

KORUVME_API int32_t KORUVME_ADOHCycle(int32_t handle, uint32_t address, int32_t am)
{
    return addressOnlyCycle(
        handle, address, am, 3,
        amIn(am, {0x05, 0x09, 0x0A, 0x0D, 0x0E, 0x29, 0x2D, 0x32, 0x39, 0x3A, 0x3D, 0x3E}));
}

KORUVME_API int32_t KORUVME_IACKCycle(int32_t handle, int32_t level, void *vector, int32_t width)
{
    int number = 0;
    for (int i = 0; i < 7; ++i)
        if (level == (1 << i))
            number = i + 1;
    if (!usable(handle) || !vector || number == 0 || width == 8 || width == 24)
        return kInvalidParam;
    uint8_t req[6] = {0, 0, static_cast<uint8_t>(2 * number), 0, 0, 0};
    put16(req, vme_make_command(true, 0, true, width, 8));
    uint8_t reply[64];
    uint32_t status = 0;
    int32_t r = vme_transact(handle, req, 6, reply, sizeof reply, &status, true);
    if (r < 0)
        return r;
    if (r < replyBytes(width))
        return kCommError;
    uint32_t v;
    switch (width) {
    case 1:
        v = reply[0];
        break;
    case 2:
    case 18:
        v = get16(reply);
        break;
    case 4:
    case 20:
        v = get32(reply);
        break;
    default:
        return kGenericError;
    }
    storeValue(vector, width, v);
    return (status & kStatusBusError) ? kBusError : kOk;
}

KORUVME_API int32_t KORUVME_MultiRead(int32_t handle, const uint32_t *addresses, uint32_t *data,
                                      int32_t count, const int32_t *ams, const int32_t *widths,
                                      int32_t *errors)
{
    if (!usable(handle))
        return kInvalidParam;
    if (count <= 0)
        return kOk;
    if (!addresses || !data || !ams || !widths || !errors)
        return kInvalidParam;
    for (int32_t start = 0; start < count; start += kBatch) {
        const int32_t n = count - start < kBatch ? count - start : kBatch;
        uint8_t req[1000];
        for (int32_t i = 0; i < n; ++i) {
            const int32_t w = widths[start + i];
            if (w == 8 || w == 24)
                return kInvalidParam;
            put16(req + 6 * i, vme_make_command(true, ams[start + i], i == n - 1, w, 1));
            put32(req + 6 * i + 2, addresses[start + i]);
        }
        uint8_t reply[600];
        uint32_t status = 0;
        int32_t got = vme_transact(handle, req, 6 * n, reply, sizeof reply, &status, true);
        if (got < 0)
            return got;
        int32_t pos = 0;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t k = start + i;
            const int32_t w = widths[k];
            const int need = replyBytes(w) + (i < n - 1 ? 2 : 0);
            if (w != 1 && w != 2 && w != 18 && w != 4 && w != 20)
                return kGenericError;
            // A reply that ends early carries no data for the remaining items.
            if (pos + need > got)
                return kCommError;
            uint32_t v = 0;
            takeData(reply + pos, addresses[k], w, &v);
            data[k] = v;
            pos += replyBytes(w);
            if (i < n - 1) {
                errors[k] = (reply[pos] & kStatusBusError) ? kBusError : kOk;
                pos += 2;
            } else {
                errors[k] = (status & kStatusBusError) ? kBusError : kOk;
            }
        }
    }
    return kOk;
}

KORUVME_API int32_t KORUVME_MultiWrite(int32_t handle, const uint32_t *addresses, const uint32_t *data,
                                       int32_t count, const int32_t *ams, const int32_t *widths,
                                       int32_t *errors)
{
    if (!usable(handle))
        return kInvalidParam;
    if (count <= 0)
        return kOk;
    if (!addresses || !data || !ams || !widths || !errors)
        return kInvalidParam;
    for (int32_t start = 0; start < count; start += kBatch) {
        const int32_t n = count - start < kBatch ? count - start : kBatch;
        uint8_t req[1000];
        int32_t len = 0;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t k = start + i;
            const int32_t w = widths[k];
            if (w == 8 || w == 24)
                return kInvalidParam;
            put16(req + len, vme_make_command(false, ams[k], i == n - 1, w, 1));
            put32(req + len + 2, addresses[k]);
            int d = putData(req + len + 6, addresses[k], w, data[k]);
            if (d == 0)
                return kGenericError;
            len += 6 + d;
        }
        uint8_t reply[200];
        uint32_t status = 0;
        int32_t got = vme_transact(handle, req, len, reply, sizeof reply, &status, true);
        if (got < 0)
            return got;
        if (got < 2 * (n - 1))
            return kCommError;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t k = start + i;
            if (i < n - 1)
                errors[k] = (reply[2 * i + 1] & kStatusBusError) ? kBusError : kOk;
            else
                errors[k] = (status & kStatusBusError) ? kBusError : kOk;
        }
    }
    return kOk;
}

KORUVME_API int32_t KORUVME_BLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                         int32_t am, int32_t width, int32_t *count)
{
    return bltRead(handle, address, buffer, size, am, width, count, false);
}

KORUVME_API int32_t KORUVME_FIFOBLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                             int32_t am, int32_t width, int32_t *count)
{
    return bltRead(handle, address, buffer, size, am, width, count, true);
}

KORUVME_API int32_t KORUVME_MBLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                          int32_t am, int32_t *count)
{
    if (!mbltAm(am))
        return kInvalidParam;
    return bltRead(handle, address, buffer, size, am, 8, count, false);
}

KORUVME_API int32_t KORUVME_FIFOMBLTReadCycle(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                              int32_t am, int32_t *count)
{
    if (!mbltAm(am))
        return kInvalidParam;
    return bltRead(handle, address, buffer, size, am, 8, count, true);
}

KORUVME_API int32_t KORUVME_BLTWriteCycle(int32_t handle, uint32_t address, const void *buffer, int32_t size,
                                          int32_t am, int32_t width, int32_t *count)
{
    return bltWrite(handle, address, buffer, size, am, width, count, false);
}

KORUVME_API int32_t KORUVME_FIFOBLTWriteCycle(int32_t handle, uint32_t address, const void *buffer,
                                              int32_t size, int32_t am, int32_t width, int32_t *count)
{
    return bltWrite(handle, address, buffer, size, am, width, count, true);
}

KORUVME_API int32_t KORUVME_MBLTWriteCycle(int32_t handle, uint32_t address, const void *buffer, int32_t size,
                                           int32_t am, int32_t *count)
{
    if (!mbltAm(am))
        return kInvalidParam;
    return bltWrite(handle, address, buffer, size, am, 8, count, false);
}

KORUVME_API int32_t KORUVME_FIFOMBLTWriteCycle(int32_t handle, uint32_t address, const void *buffer,
                                               int32_t size, int32_t am, int32_t *count)
{
    if (!mbltAm(am))
        return kInvalidParam;
    return bltWrite(handle, address, buffer, size, am, 8, count, true);
}

KORUVME_API int32_t KORUVME_BLTReadAsync(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                         int32_t am, int32_t width)
{
    return bltReadAsync(handle, address, buffer, size, am, width, false);
}

KORUVME_API int32_t KORUVME_FIFOBLTReadAsync(int32_t handle, uint32_t address, void *buffer, int32_t size,
                                             int32_t am, int32_t width)
{
    return bltReadAsync(handle, address, buffer, size, am, width, true);
}

KORUVME_API int32_t KORUVME_BLTReadWait(int32_t handle, int32_t *count)
{
    BoardEntry *e = vme_entry(handle);
    if (!e || !count)
        return kInvalidParam;
    *count = 0;
    if (e->boardType != 1 || (e->linkKind != 4 && e->linkKind != 5))
        return kCommError;
    uint32_t status = 0;
    int r = deviceIo().ioctl(e->file_handle, kIoctlBltWait, &status);
    if (r < 0)
        return kCommError;
    *count = r;
    return (status & kStatusBusError) ? kBusError : kOk;
}

static int32_t irqMask(int32_t handle, uint32_t mask, bool enable)
{
    if (!vme_irq_supported(handle))
        return kInvalidParam;
    BoardEntry &e = g_boards[handle];
    if (e.linkKind == 7)
        return (enable ? xdma_irq_enable(handle, mask) : xdma_irq_disable(handle, mask)) == 0 ? kOk
                                                                                              : kGenericError;
    const uint32_t b = static_cast<uint32_t>(e.boardNumber);
    const uint32_t value = (mask & 0xFF) << (8 * (b % 4));
    const uint32_t reg = enable ? (b < 4 ? 0x30 : 0x38) : (b < 4 ? 0x34 : 0x3C);
    bool ok = vme_card_reg_write(handle, enable ? 0xA4 : 0xA0, 8) && vme_card_reg_write(handle, reg, value);
    return ok ? kOk : kGenericError;
}

KORUVME_API int32_t KORUVME_IRQEnable(int32_t handle, uint32_t mask)
{
    return irqMask(handle, mask, true);
}

KORUVME_API int32_t KORUVME_IRQDisable(int32_t handle, uint32_t mask)
{
    return irqMask(handle, mask, false);
}

KORUVME_API int32_t KORUVME_IRQWait(int32_t handle, uint32_t mask, uint32_t timeout)
{
    if (!vme_irq_supported(handle))
        return kInvalidParam;
    BoardEntry &e = g_boards[handle];
    if (e.linkKind == 7) {
        int r = xdma_irq_wait(handle, mask, timeout);
        return r == 0 ? kOk : r == -2 ? kTimeout : kGenericError;
    }
    IrqWaitRecord rec{mask, timeout};
    int r = deviceIo().ioctl(e.file_handle, kIoctlIrqWait, &rec);
    return r == 0 ? kOk : r == 110 ? kTimeout : kGenericError;
}

} // extern "C"
