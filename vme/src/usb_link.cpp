// USB optical-link adapter through libusb: register areas behind two bulk
// endpoints, discovery by identification and serial number, per-call claim
// and release of the interface, the link reset, and the bridge transaction.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <sched.h>

#include "usb_io.h"
#include "vme_internal.h"

namespace koruvme {

namespace {

// The adapter's USB identifiers.
constexpr uint16_t kVendor = 0x4B56;
constexpr uint16_t kProduct = 0x0016;
constexpr uint32_t kIdentification = 0x0C6280;
constexpr unsigned kTimeoutMs = 1000;
constexpr unsigned char kEpOut = 0x01;
constexpr unsigned char kEpIn = 0x81;
constexpr uint32_t kRequestWords = 16400; // block-write chunk of 61448 bytes plus headers
constexpr uint32_t kReplyWords = 4096;
constexpr uint32_t kReceiveRead = 4094;
constexpr uint32_t kReceiveWords = kReceiveRead + 260;
constexpr int kTimeoutRetries = 5; // repeats of a register read that timed out

struct UsbAdapterState {
    void *device;
    int32_t interface;
    uint32_t request[kRequestWords];
    uint32_t reply[kReplyWords];
    uint32_t receive[kReceiveWords];
};

UsbAdapterState *stateOf(int32_t handle)
{
    return static_cast<UsbAdapterState *>(g_boards[handle].transport);
}

int claimWithRetry(UsbAdapterState *s, long long limitMs)
{
    const long long start = vme_now_ms();
    int r;
    do {
        sched_yield();
        r = usbIo().claim(s->device, s->interface);
    } while (r != 0 && vme_now_ms() - start < limitMs);
    return r;
}

bool readOne(int32_t handle, uint32_t area, uint32_t reg, uint32_t *v)
{
    return usb_reg_read(handle, area, reg, v, 1) == 1;
}

bool writeOne(int32_t handle, uint32_t area, uint32_t reg, uint32_t v)
{
    return usb_reg_write(handle, area, reg, &v, 1) == 1;
}

void pauseUs(long us)
{
    timespec ts{0, us * 1000};
    nanosleep(&ts, nullptr);
}

void giveBack(int32_t handle, UsbAdapterState *s)
{
    usbIo().release(s->device, s->interface);
    usbIo().attachKernelDriver(s->device, s->interface);
    usbIo().close(s->device);
    std::free(s);
    g_boards[handle].transport = nullptr;
}

} // namespace

int usb_reg_write(int32_t handle, uint32_t area, uint32_t reg, const uint32_t *words, uint32_t count)
{
    UsbAdapterState *s = stateOf(handle);
    if (!s || area >= 8 || reg >= 256 || count >= 0x100000 || count + 1 > kRequestWords)
        return -1;
    s->request[0] = reg | (count << 8) | (1u << 28) | (area << 29);
    if (count)
        std::memcpy(s->request + 1, words, 4 * count);
    const int len = static_cast<int>(4 + 4 * count);
    int done = 0;
    if (usbIo().bulk(s->device, kEpOut, reinterpret_cast<unsigned char *>(s->request), len, &done,
                     kTimeoutMs) != 0 ||
        done != len)
        return -1;
    uint32_t ack = 0;
    done = 0;
    if (usbIo().bulk(s->device, kEpIn, reinterpret_cast<unsigned char *>(&ack), 4, &done, kTimeoutMs) != 0 ||
        done != 4)
        return -1;
    return ((ack >> 8) & 0xFFFFF) == count ? static_cast<int>(count) : -2;
}

int usb_reg_read(int32_t handle, uint32_t area, uint32_t reg, uint32_t *dest, uint32_t count)
{
    UsbAdapterState *s = stateOf(handle);
    if (!s || area >= 8 || reg >= 256 || count >= 0x100000 || count + 1 > kReplyWords)
        return -1;
    uint32_t header = reg | (count << 8) | (area << 29);
    int done = 0;
    if (usbIo().bulk(s->device, kEpOut, reinterpret_cast<unsigned char *>(&header), 4, &done, kTimeoutMs) !=
            0 ||
        done != 4)
        return -1;
    const int want = static_cast<int>(4 + 4 * count);
    int r;
    int attempts = 0;
    do {
        done = 0;
        r = usbIo().bulk(s->device, kEpIn, reinterpret_cast<unsigned char *>(s->reply), want, &done,
                         kTimeoutMs);
    } while (r == kUsbErrorTimeout && ++attempts < kTimeoutRetries);
    if (r != 0 || done < 4)
        return -1;
    const uint32_t received = static_cast<uint32_t>(done) / 4;
    uint32_t m = (s->reply[received - 1] >> 8) & 0xFFFFF;
    if (m > received - 1)
        m = received - 1;
    if (m > count)
        m = count;
    if (m)
        std::memcpy(dest, s->reply, 4 * m);
    return static_cast<int>(m);
}

int usb_open(int32_t handle)
{
    BoardEntry &e = g_boards[handle];
    if (UsbAdapterState *s = stateOf(handle)) {
        usbIo().detachKernelDriver(s->device, s->interface);
        if (claimWithRetry(s, 1000) != 0)
            return -5;
        uint32_t v = 0;
        readOne(handle, e.channel, 12, &v);
        return 0;
    }
    if (usbIo().init() < 0)
        return -1;
    std::vector<UsbDeviceInfo> devices;
    if (usbIo().list(devices) < 0) {
        usbIo().exit();
        return -1;
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        const UsbDeviceInfo &d = devices[i];
        if (!d.descriptorOk || d.vendor != kVendor || d.product != kProduct || !d.configOk ||
            d.interfaces != 1)
            continue;
        void *dev = nullptr;
        if (usbIo().open(static_cast<int>(i), &dev) != 0 || !dev)
            continue;
        auto *s = static_cast<UsbAdapterState *>(std::calloc(1, sizeof(UsbAdapterState)));
        if (!s) {
            usbIo().close(dev);
            continue;
        }
        s->device = dev;
        s->interface = d.interfaceNumber;
        usbIo().detachKernelDriver(dev, s->interface);
        if (claimWithRetry(s, 2000) != 0) {
            usbIo().close(dev);
            std::free(s);
            continue;
        }
        e.transport = s;
        uint32_t id[3] = {}, sn[4] = {};
        bool ok = readOne(handle, 7, 0x42, &id[0]) && readOne(handle, 7, 0x41, &id[1]) &&
                  readOne(handle, 7, 0x40, &id[2]);
        ok = ok && (((id[2] & 0xFF) << 16) | ((id[1] & 0xFF) << 8) | (id[0] & 0xFF)) == kIdentification;
        ok = ok && readOne(handle, 7, 0x47, &sn[0]) && readOne(handle, 7, 0x46, &sn[1]) &&
             readOne(handle, 7, 0x45, &sn[2]) && readOne(handle, 7, 0x44, &sn[3]);
        ok = ok && (((sn[3] & 0xFF) << 24) | ((sn[2] & 0xFF) << 16) | ((sn[1] & 0xFF) << 8) |
                    (sn[0] & 0xFF)) == e.linkNumber;
        if (!ok) {
            giveBack(handle, s);
            continue;
        }
        const unsigned major = d.bcdUSB >> 8;
        writeOne(handle, 7, 0, major == 1 ? 1 : major == 3 ? 4 : 2);
        usbIo().freeList();
        return e.boardType == 7 ? 0 : usb_link_reset(handle);
    }
    usbIo().freeList();
    usbIo().exit();
    return -1;
}

int usb_release(int32_t handle)
{
    UsbAdapterState *s = stateOf(handle);
    if (!s)
        return -1;
    return usbIo().release(s->device, s->interface) == 0 ? 0 : -1;
}

int usb_close(int32_t handle)
{
    UsbAdapterState *s = stateOf(handle);
    if (!s)
        return -1;
    usbIo().attachKernelDriver(s->device, s->interface);
    usbIo().close(s->device);
    usbIo().exit();
    std::free(s);
    g_boards[handle].transport = nullptr;
    return 0;
}

int usb_link_reset(int32_t handle)
{
    const uint32_t area = g_boards[handle].channel;
    uint32_t v = 0;
    // The busy bits must clear; a link that stays busy for a second is broken.
    const long long start = vme_now_ms();
    do {
        if (!readOne(handle, area, 12, &v))
            return -1;
        if ((v & 0x30000) == 0)
            break;
        if (vme_now_ms() - start > 1000)
            return -1;
    } while (true);
    for (int i = 0; i < 2; ++i) {
        if (!writeOne(handle, area, 0xA0, 1))
            return -1;
        vme_sleep_until_us(vme_now_us(), 3001, 1);
        if (!writeOne(handle, area, 0xA4, 1))
            return -1;
        vme_sleep_until_us(vme_now_us(), 30001, 10);
    }
    if (!readOne(handle, area, 12, &v))
        return -1;
    return (v & 0x30100) ? -1 : 0;
}

int32_t usb_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                     uint16_t *status)
{
    UsbAdapterState *s = stateOf(handle);
    if (!s)
        return kCommError;
    const BoardEntry &e = g_boards[handle];
    const uint32_t area = e.channel;
    uint32_t v = 0;
    if (!readOne(handle, area, 12, &v))
        return kCommError;
    if (v & 0x100) {
        writeOne(handle, area, 0xA0, 1);
        pauseUs(1000);
        writeOne(handle, area, 0xA4, 1);
        if (!readOne(handle, area, 12, &v) || (v & 0x100))
            return kCommError;
    }
    if (length >= 1) {
        if ((static_cast<size_t>(length) + 3) / 4 + 2 > kRequestWords)
            return kCommError;
        std::vector<uint32_t> words((static_cast<size_t>(length) + 3) / 4 + 1);
        const size_t n = vme_build_link_request(words.data(), request, length, e.boardNumber);
        if (usb_reg_write(handle, area, 0, words.data(), static_cast<uint32_t>(n)) != static_cast<int>(n))
            return kCommError;
    }
    if (capacity == 0)
        return length;
    const long long start = vme_now_ms();
    size_t kept = 0;
    size_t delivered = 0;
    auto *out = static_cast<uint8_t *>(reply);
    for (;;) {
        int got = usb_reg_read(handle, area, 4, s->receive + kept, kReceiveRead);
        if (got < 0)
            return kCommError;
        if (got == 0) {
            if (vme_now_ms() - start > 1000)
                return kTimeout;
            continue;
        }
        const size_t total = kept + static_cast<size_t>(got);
        size_t used = 0;
        int w = vme_walk_records(s->receive, total, &used, out, static_cast<size_t>(capacity), &delivered,
                                 status);
        if (w < 0)
            return kCommError;
        if (w == 1)
            return static_cast<int32_t>(delivered);
        kept = total - used;
        if (kept)
            std::memmove(s->receive, s->receive + used, 4 * kept);
        if (kept + kReceiveRead > kReceiveWords)
            return kCommError; // a record larger than any valid one
    }
}

} // namespace koruvme
