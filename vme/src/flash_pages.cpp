// Flash pages of bridges, cards and the USB adapter: the older page protocol
// (264-byte pages through a chip-select and a data register), the bridge SPI
// protocol (256-byte pages behind registers 55 and 3) and the adapter's SPI
// engine (register area 7).
#include <cstring>
#include <vector>

#include "device_io.h"
#include "vme_internal.h"

using namespace koruvme;

namespace {

constexpr int kOldPage = 264;
constexpr int kSpiPage = 256;
// Bound of the ready polling of the bridge SPI flash (a sector erase takes
// well under a second).
constexpr long long kReadyLimitUs = 10000000;

enum class Op { Write, Read, Erase };

void oldRegisters(uint32_t type, uint32_t *cs, uint32_t *data)
{
    switch (type) {
    case 2:
        *cs = 20;
        *data = 16;
        break;
    case 3:
    case 13:
        *cs = 3;
        *data = 2;
        break;
    case 4:
        *cs = 4116;
        *data = 4112;
        break;
    default:
        *cs = 4;
        *data = 3;
        break;
    }
}

int32_t sendBytes(int32_t h, const uint8_t *bytes, int n)
{
    BoardEntry &e = g_boards[h];
    uint32_t reg;
    switch (e.boardType) {
    case 0: {
        std::vector<uint8_t> buf(2 + 2 * static_cast<size_t>(n));
        buf[0] = 0x03;
        buf[1] = 0x00;
        for (int i = 0; i < n; ++i) {
            buf[2 + 2 * i] = bytes[i];
            buf[3 + 2 * i] = i + 1 < n ? 0x01 : 0x00;
        }
        return deviceIo().write(e.file_handle, buf.data(), buf.size()) == static_cast<ssize_t>(buf.size())
                   ? kOk
                   : kCommError;
    }
    case 7:
    case 14:
    case 17:
        return kGenericError;
    case 28:
        return kNotSupported;
    case 2:
        reg = 16;
        break;
    case 3:
    case 13:
        reg = 2;
        break;
    case 4:
        reg = 4112;
        break;
    default:
        reg = 3;
        break;
    }
    for (int i = 0; i < n; ++i)
        if (!vme_reg_write(h, reg, bytes[i]))
            return kCommError;
    return kOk;
}

int32_t oldPage(int32_t h, Op op, uint8_t *page, uint32_t p)
{
    const uint32_t type = g_boards[h].boardType;
    uint32_t cs, d;
    oldRegisters(type, &cs, &d);
    const uint8_t addr[3] = {static_cast<uint8_t>((p >> 7) & 0xFF), static_cast<uint8_t>((p << 1) & 0xFF), 0};
    if (!vme_reg_write(h, cs, 0) || !vme_reg_write(h, cs, 1))
        return kCommError;
    if (op == Op::Erase) {
        const uint8_t cmd[4] = {0x81, addr[0], addr[1], addr[2]};
        for (uint8_t b : cmd)
            if (!vme_reg_write(h, d, b))
                return kCommError;
        return vme_reg_write(h, cs, 0) ? kOk : kCommError;
    }
    if (op == Op::Write) {
        uint8_t buf[4 + kOldPage] = {0x82, addr[0], addr[1], addr[2]};
        std::memcpy(buf + 4, page, kOldPage);
        if (sendBytes(h, buf, sizeof buf) != kOk)
            return kCommError;
        if (!vme_reg_write(h, cs, 0))
            return kCommError;
        vme_sleep_until_us(vme_now_us(), 60001, 10);
        return kOk;
    }
    const uint8_t cmd[8] = {0xD2, addr[0], addr[1], addr[2], 0, 0, 0, 0};
    if (sendBytes(h, cmd, 8) != kOk)
        return kCommError;
    vme_sleep_until_us(vme_now_us(), 3001, 1);
    if (type == 2 || type == 3 || type == 13 || type == 4) {
        for (int i = 0; i < kOldPage; ++i) {
            uint32_t v = 0;
            if (!vme_reg_read(h, d, &v))
                return kCommError;
            page[i] = v & 0xFF;
        }
    } else {
        uint8_t collected[320] = {};
        for (int k = 0; k < 5; ++k) {
            const uint8_t req[2] = {0x03, 0x40};
            uint8_t reply[128] = {};
            uint32_t status = 0;
            int32_t n = vme_transact(h, req, 2, reply, sizeof reply, &status, false);
            if (n < 0)
                return kCommError;
            for (int j = 0; j < 64; ++j)
                collected[64 * k + j] = reply[2 * j];
        }
        std::memcpy(page, collected, kOldPage);
    }
    return vme_reg_write(h, cs, 0) ? kOk : kCommError;
}

bool spiWaitReady(int32_t h)
{
    const long long start = vme_now_us();
    for (;;) {
        uint32_t v = 0;
        if (!vme_reg_write(h, 55, 1) || !vme_reg_write(h, 3, 0x70) || !vme_reg_read(h, 3, &v))
            return false;
        if (v & 0x80)
            return true;
        if (vme_now_us() - start > kReadyLimitUs)
            return false;
        vme_sleep_until_us(vme_now_us(), 3001, 1);
    }
}

bool spiBytes(int32_t h, const uint8_t *b, int n)
{
    for (int i = 0; i < n; ++i)
        if (!vme_reg_write(h, 3, b[i]))
            return false;
    return true;
}

int32_t bridgeSpi(int32_t h, Op op, uint8_t *page, uint32_t p)
{
    BoardEntry &e = g_boards[h];
    const bool usbChar = e.boardType == 0 || e.boardType == 14 || e.boardType == 17;
    const uint32_t a = (p + 0x2200) * 256;
    const uint8_t addr[4] = {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                             static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)};
    if (op == Op::Write) {
        if (p % 16 == 0) {
            bool ok = vme_reg_write(h, 55, 0) && vme_reg_write(h, 3, 0x06) && vme_reg_write(h, 55, 4) &&
                      vme_reg_write(h, 3, 0x20) && spiBytes(h, addr, 4) && spiWaitReady(h);
            if (!ok)
                return kCommError;
        }
        bool ok = vme_reg_write(h, 55, 0) && vme_reg_write(h, 3, 0x06) && vme_reg_write(h, 55, 0x104) &&
                  vme_reg_write(h, 3, 0x02) && spiBytes(h, addr, 4);
        if (!ok)
            return kCommError;
        if (usbChar) {
            uint8_t buf[4 * kSpiPage];
            for (int i = 0; i < kSpiPage; ++i) {
                buf[4 * i] = 0x83;
                buf[4 * i + 1] = 0x00;
                buf[4 * i + 2] = page[i];
                buf[4 * i + 3] = 0x00;
            }
            if (deviceIo().write(e.file_handle, buf, sizeof buf) != static_cast<ssize_t>(sizeof buf))
                return kCommError;
        } else if (!spiBytes(h, page, kSpiPage)) {
            return kCommError;
        }
        return spiWaitReady(h) ? kOk : kCommError;
    }
    bool ok = vme_reg_write(h, 55, 0x104) && vme_reg_write(h, 3, 0x03) && spiBytes(h, addr, 4);
    if (!ok)
        return kCommError;
    if (usbChar) {
        uint8_t req[2 * kSpiPage];
        for (int i = 0; i < kSpiPage; ++i) {
            req[2 * i] = i + 1 < kSpiPage ? 0x03 : 0x83;
            req[2 * i + 1] = 0x40;
        }
        if (deviceIo().write(e.file_handle, req, sizeof req) != static_cast<ssize_t>(sizeof req))
            return kCommError;
        uint8_t reply[1025];
        ssize_t n = deviceIo().read(e.file_handle, reply, sizeof reply);
        if (n < 4 * kSpiPage)
            return kCommError;
        for (int i = 0; i < kSpiPage; ++i)
            page[i] = reply[4 * i];
        return kOk;
    }
    for (int i = 0; i < kSpiPage; ++i) {
        uint32_t v = 0;
        if (!vme_reg_read(h, 3, &v))
            return kCommError;
        page[i] = v & 0xFF;
    }
    return kOk;
}

// Adapter SPI engine, area 7.
struct Engine {
    int32_t h;
    bool write(uint32_t reg, uint32_t v) { return usb_reg_write(h, 7, reg, &v, 1) == 1; }
    bool writeWords(const uint32_t *w, uint32_t n)
    {
        return usb_reg_write(h, 7, 4, w, n) == static_cast<int>(n);
    }
    bool idle()
    {
        const long long start = vme_now_ms();
        for (;;) {
            uint32_t v = 0;
            if (usb_reg_read(h, 7, 12, &v, 1) != 1)
                return false;
            if (v & 0x10000)
                return true;
            if (vme_now_ms() - start > 1000)
                return false;
        }
    }
    bool writeEnable()
    {
        const uint32_t cmd = 0x06;
        return write(16, 1) && writeWords(&cmd, 1) && idle() && write(12, 0x6001);
    }
    // 1 ready, 0 busy, -1 failure
    int status()
    {
        const uint32_t cmd = 0x70;
        if (!(write(16, 2) && writeWords(&cmd, 1) && idle() && write(12, 0x6001) && idle() &&
              write(12, 0x8001)))
            return -1;
        uint32_t v = 0;
        if (usb_reg_read(h, 7, 8, &v, 1) != 1)
            return -1;
        return (v & 0x80) ? 1 : 0;
    }
    bool waitReady()
    {
        for (int i = 0; i < 100; ++i) {
            int s = status();
            if (s < 0)
                return false;
            if (s == 1)
                return true;
            vme_sleep_until_us(vme_now_us(), 3001, 1);
        }
        return false;
    }
};

int32_t adapterSpi(int32_t h, Op op, uint8_t *page, uint32_t p)
{
    Engine en{h};
    const uint32_t hi = (p >> 8) & 0xFF, lo = p & 0xFF;
    if (op == Op::Write) {
        if ((p & 0xF) == 0) {
            const uint32_t w[4] = {0x20, hi, lo, 0};
            if (!(en.writeEnable() && en.write(16, 4) && en.writeWords(w, 4) && en.idle() &&
                  en.write(12, 0x6004) && en.waitReady()))
                return -1;
        }
        if (!en.writeEnable())
            return kGenericError;
        uint32_t w[4 + kSpiPage] = {0x02, hi, lo, 0};
        for (int i = 0; i < kSpiPage; ++i)
            w[4 + i] = page[i];
        if (!(en.write(16, 0x104) && en.writeWords(w, 4 + kSpiPage) && en.idle() && en.write(12, 0x6104)))
            return -1;
        return en.waitReady() ? kOk : -1;
    }
    const uint32_t w[4] = {0x03, hi, lo, 0};
    if (!(en.write(16, 0x104) && en.writeWords(w, 4) && en.idle() && en.write(12, 0x6004) && en.idle() &&
          en.write(12, 0x8000 + kSpiPage) && en.idle()))
        return -1;
    uint32_t words[kSpiPage];
    if (usb_reg_read(h, 7, 8, words, kSpiPage) != kSpiPage)
        return -1;
    for (int i = 0; i < kSpiPage; ++i)
        page[i] = words[i] & 0xFF;
    return kOk;
}

int32_t flashPage(int32_t h, Op op, uint8_t *page, int32_t pageNumber)
{
    BoardEntry *e = vme_entry(h);
    if ((op != Op::Erase && !page) || !e || e->boardType > 32)
        return kInvalidParam;
    const uint32_t t = e->boardType;
    const uint32_t p = static_cast<uint32_t>(pageNumber);
    enum class Proto { Old, BridgeSpi, AdapterSpi, ByMap } proto;
    switch (t) {
    case 20:
    case 23:
    case 24:
    case 27:
        return kInvalidParam;
    case 28:
        return kNotSupported;
    case 7:
        if (op == Op::Erase)
            return kInvalidParam;
        proto = Proto::AdapterSpi;
        break;
    case 2:
    case 3:
    case 13:
    case 4:
        proto = Proto::Old;
        break;
    case 14:
    case 17:
        if (op == Op::Erase)
            return kInvalidParam;
        proto = Proto::ByMap;
        break;
    default:
        proto = op == Op::Erase ? Proto::Old : Proto::ByMap;
        break;
    }
    if (proto == Proto::ByMap) {
        bool newer = false;
        if (int32_t r = vme_bridge_is_newer(h, &newer))
            return r;
        proto = newer ? Proto::BridgeSpi : Proto::Old;
    }
    if (!vme_board_open(h))
        return kCommError;
    int32_t r;
    switch (proto) {
    case Proto::Old:
        r = oldPage(h, op, page, p);
        break;
    case Proto::BridgeSpi:
        r = bridgeSpi(h, op, page, p);
        break;
    default:
        r = adapterSpi(h, op, page, p);
        break;
    }
    vme_board_close(h);
    return r;
}

} // namespace

extern "C" {

KORUVME_API int32_t KORUVME_WriteFlashPage(int32_t handle, const uint8_t *data, int32_t page)
{
    return flashPage(handle, Op::Write, const_cast<uint8_t *>(data), page);
}

KORUVME_API int32_t KORUVME_ReadFlashPage(int32_t handle, uint8_t *data, int32_t page)
{
    return flashPage(handle, Op::Read, data, page);
}

KORUVME_API int32_t KORUVME_EraseFlashPage(int32_t handle, int32_t page)
{
    return flashPage(handle, Op::Erase, nullptr, page);
}

} // extern "C"
