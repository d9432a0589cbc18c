// Simulated device nodes and USB adapter for the library's tests.
#include "sim_devices.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "card_ioctl.h"

namespace vmetest {

using namespace koruvme;

std::vector<uint32_t> replyRecords(const std::vector<uint8_t> &data, uint16_t status)
{
    std::vector<uint16_t> halves;
    for (size_t i = 0; i < data.size(); i += 2)
        halves.push_back(static_cast<uint16_t>(data[i] | (i + 1 < data.size() ? data[i + 1] << 8 : 0)));
    std::vector<uint32_t> out;
    size_t pos = 0;
    auto record = [&](const std::vector<uint16_t> &h, bool last) {
        out.push_back(static_cast<uint32_t>(h.size()) | (last ? 0x200u : 0u));
        for (size_t i = 0; i < h.size(); i += 2)
            out.push_back(h[i] | (i + 1 < h.size() ? static_cast<uint32_t>(h[i + 1]) << 16 : 0));
    };
    while (halves.size() - pos > 255) {
        record(std::vector<uint16_t>(halves.begin() + pos, halves.begin() + pos + 256), false);
        pos += 256;
    }
    std::vector<uint16_t> tail(halves.begin() + pos, halves.end());
    tail.push_back(status);
    record(tail, true);
    return out;
}

SimDeviceIo::SimDeviceIo() = default;
SimDeviceIo::~SimDeviceIo() = default;

void SimDeviceIo::addNode(const std::string &path, std::shared_ptr<VmeBridgeModel> bridge)
{
    nodes_[path].bridge = bridge ? bridge : std::make_shared<VmeBridgeModel>();
}

void SimDeviceIo::addXdmaCard(unsigned card, std::shared_ptr<VmeBridgeModel> bridge)
{
    xdma_[card].bridge = bridge ? bridge : std::make_shared<VmeBridgeModel>();
}

void SimDeviceIo::setProcCount(const std::string &text)
{
    hasProc_ = !text.empty();
    proc_ = text;
}

int SimDeviceIo::openCount() const
{
    return static_cast<int>(fds_.size());
}

int SimDeviceIo::open(const char *path, int)
{
    Open o;
    o.path = path;
    unsigned card = 0;
    char rest[64] = {};
    if (o.path == "/proc/j4280" && hasProc_) {
        o.kind = "proc";
    } else if (nodes_.count(o.path)) {
        o.kind = o.path.rfind("/dev/usb/", 0) == 0 ? "usb" : "card";
    } else if (std::sscanf(path, "/dev/xdma%u_%63s", &card, rest) == 2 && xdma_.count(card)) {
        std::string r = rest;
        o.card = card;
        if (r == "control")
            o.kind = "xctl";
        else if (r == "user")
            o.kind = "xuser";
        else if (r.rfind("h2c_", 0) == 0)
            o.kind = "h2c";
        else if (r.rfind("c2h_", 0) == 0)
            o.kind = "c2h";
        else if (r.rfind("vme_events_", 0) == 0)
            o.kind = "events";
        else {
            errno = ENOENT;
            return -1;
        }
    } else {
        errno = ENOENT;
        return -1;
    }
    opened.push_back(o.path);
    int fd = nextFd_++;
    fds_[fd] = o;
    return fd;
}

int SimDeviceIo::close(int fd)
{
    if (!fds_.erase(fd)) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

ssize_t SimDeviceIo::read(int fd, void *buf, size_t n)
{
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
        errno = EBADF;
        return -1;
    }
    Open &o = it->second;
    auto *out = static_cast<uint8_t *>(buf);
    std::deque<uint8_t> *q = nullptr;
    if (o.kind == "proc") {
        size_t k = std::min(n, proc_.size() - o.procPos);
        std::memcpy(out, proc_.data() + o.procPos, k);
        o.procPos += k;
        return static_cast<ssize_t>(k);
    }
    if (o.kind == "usb")
        q = &nodes_[o.path].pending;
    else if (o.kind == "c2h")
        q = &xdma(o.card).c2h;
    if (!q) {
        errno = EINVAL;
        return -1;
    }
    size_t k = std::min(n, q->size());
    for (size_t i = 0; i < k; ++i) {
        out[i] = q->front();
        q->pop_front();
    }
    return static_cast<ssize_t>(k);
}

ssize_t SimDeviceIo::write(int fd, const void *buf, size_t n)
{
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
        errno = EBADF;
        return -1;
    }
    Open &o = it->second;
    const auto *p = static_cast<const uint8_t *>(buf);
    if (o.kind == "usb") {
        Node &node = nodes_[o.path];
        korusim::VmeReply r = node.bridge->execute(p, n);
        if (r.expected) {
            node.pending.insert(node.pending.end(), r.data.begin(), r.data.end());
            node.pending.push_back(r.status & 0xFF);
            node.pending.push_back((r.status >> 8) & 0xFF);
        }
        return static_cast<ssize_t>(n);
    }
    if (o.kind == "h2c") {
        if (n < 4) {
            errno = EINVAL;
            return -1;
        }
        uint32_t h;
        std::memcpy(&h, p, 4);
        const size_t len = std::min<size_t>(2 * (h & 0xFFFF), n - 4);
        Xdma &x = xdma(o.card);
        korusim::VmeReply r = x.bridge->execute(p + 4, len);
        if (r.expected)
            for (uint32_t w : replyRecords(r.data, static_cast<uint16_t>(r.status)))
                for (int b = 0; b < 4; ++b)
                    x.c2h.push_back((w >> (8 * b)) & 0xFF);
        return static_cast<ssize_t>(n);
    }
    errno = EINVAL;
    return -1;
}

ssize_t SimDeviceIo::pread(int fd, void *buf, size_t n, off_t off)
{
    auto it = fds_.find(fd);
    if (it == fds_.end() || n != 4) {
        errno = EINVAL;
        return -1;
    }
    uint32_t v = 0;
    if (it->second.kind == "xctl")
        v = (off == 0 || off == 4096) ? 0x1FC08000u : off == 0x2004 ? 0xFu : 0u;
    else if (it->second.kind == "xuser")
        v = xdma(it->second.card).user[static_cast<uint32_t>(off)];
    else {
        errno = EINVAL;
        return -1;
    }
    std::memcpy(buf, &v, 4);
    return 4;
}

ssize_t SimDeviceIo::pwrite(int fd, const void *buf, size_t n, off_t off)
{
    auto it = fds_.find(fd);
    if (it == fds_.end() || n != 4 || it->second.kind != "xuser") {
        errno = EINVAL;
        return -1;
    }
    uint32_t v;
    std::memcpy(&v, buf, 4);
    xdma(it->second.card).user[static_cast<uint32_t>(off)] = v;
    return 4;
}

off_t SimDeviceIo::lseek(int, off_t offset, int)
{
    return offset;
}

int SimDeviceIo::ioctl(int fd, unsigned long request, void *arg)
{
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
        errno = EBADF;
        return -1;
    }
    Open &o = it->second;
    if (o.kind == "events" && request == kIoctlXdmaIrqWait) {
        if (xdmaIrqErrno) {
            errno = xdmaIrqErrno;
            return -1;
        }
        return 0;
    }
    Node &node = nodes_[o.path];
    switch (request) {
    case kIoctlTransact:
    case kIoctlBltAsync: {
        auto *rec = static_cast<TransactRecord *>(arg);
        korusim::VmeReply r =
            node.bridge->execute(reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(rec->request)),
                                 static_cast<size_t>(rec->length));
        size_t k = std::min(r.data.size(), static_cast<size_t>(rec->capacity));
        if (replyLimit >= 0)
            k = std::min(k, static_cast<size_t>(replyLimit));
        if (k)
            std::memcpy(reinterpret_cast<void *>(static_cast<uintptr_t>(rec->reply)), r.data.data(), k);
        if (rec->status)
            *reinterpret_cast<uint32_t *>(static_cast<uintptr_t>(rec->status)) = r.status;
        return static_cast<int>(k) + claimExtra;
    }
    case kIoctlCardRegWrite: {
        auto *rec = static_cast<CardRegRecord *>(arg);
        node.regs[rec->reg] = rec->value;
        node.regWrites.emplace_back(rec->reg, rec->value);
        return 0;
    }
    case kIoctlCardRegRead: {
        auto *rec = static_cast<CardRegRecord *>(arg);
        rec->value = node.regs[rec->reg];
        return 0;
    }
    case kIoctlDriverRelease:
    case kIoctlUsbRelease:
        std::memset(arg, 0, kDriverTextSize);
        std::memcpy(arg, releaseText.data(), std::min<size_t>(releaseText.size(), kDriverTextSize));
        return releaseResult;
    case kIoctlCardReset:
        ++resets;
        return 0;
    case kIoctlSlaveReset:
        ++slaveResets;
        return 0;
    case kIoctlIrqWait:
        return irqWaitResult;
    case kIoctlBltWait:
        *static_cast<uint32_t *>(arg) = 0;
        return blockWaitResult;
    default:
        errno = ENOTTY;
        return -1;
    }
}

int SimDeviceIo::stat(const char *path, struct stat *st)
{
    if (std::string(path) == "/proc/j4280" && hasProc_) {
        std::memset(st, 0, sizeof *st);
        st->st_mode = S_IFREG | 0444;
        return 0;
    }
    errno = ENOENT;
    return -1;
}

bool SimDeviceIo::listDir(const char *path, std::vector<DirEntry> &out)
{
    if (std::string(path) != "/dev")
        return false;
    out = devEntries_;
    return true;
}

// ------------------------------------------------------------------ USB

int SimUsbIo::list(std::vector<UsbDeviceInfo> &out)
{
    for (const Adapter &a : adapters) {
        UsbDeviceInfo i;
        i.descriptorOk = true;
        i.vendor = a.vendor;
        i.product = a.product;
        i.bcdUSB = a.bcdUSB;
        i.configOk = true;
        i.interfaces = 1;
        i.interfaceNumber = 0;
        out.push_back(i);
    }
    return 0;
}

int SimUsbIo::open(int index, void **device)
{
    if (index < 0 || static_cast<size_t>(index) >= adapters.size())
        return -4;
    *device = &adapters[index];
    return 0;
}

int SimUsbIo::claim(void *device, int)
{
    auto *a = static_cast<Adapter *>(device);
    ++a->claims;
    a->claimed = true;
    return 0;
}

int SimUsbIo::release(void *device, int)
{
    auto *a = static_cast<Adapter *>(device);
    ++a->releases;
    a->claimed = false;
    return 0;
}

void SimUsbIo::regWrite(Adapter &a, uint32_t area, uint32_t reg, const uint32_t *w, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        a.writes.emplace_back((area << 8) | reg, w[i]);
    if (area < 7 && reg == 0 && n >= 1) {
        const size_t len = std::min<size_t>(2 * (w[0] & 0xFFFF), 4 * (n - 1));
        korusim::VmeReply r = a.bridge->execute(reinterpret_cast<const uint8_t *>(w + 1), len);
        if (r.expected && !a.mute)
            for (uint32_t x : replyRecords(r.data, static_cast<uint16_t>(r.status)))
                a.replyStream.push_back(x);
        return;
    }
    if (area == 7 && reg == 4) {
        for (uint32_t i = 0; i < n; ++i)
            a.spiTx.push_back(w[i] & 0xFF);
        return;
    }
    if (area == 7 && reg == 12 && n == 1) {
        const uint32_t c = w[0];
        if ((c & 0xF000) == 0x6000 && !a.spiTx.empty()) {
            const std::vector<uint8_t> &t = a.spiTx;
            const uint32_t addr = t.size() >= 4 ? (t[1] << 16) | (t[2] << 8) | t[3] : 0;
            if (t[0] == 0x20)
                for (uint32_t i = 0; i < 4096; ++i)
                    a.flash.erase((addr & ~0xFFFu) + i);
            else if (t[0] == 0x02)
                for (size_t i = 4; i < t.size(); ++i)
                    a.flash[addr + static_cast<uint32_t>(i - 4)] = t[i];
            a.regs[0x7FF] = t[0]; // last command
            a.regs[0x7FE] = addr;
            a.spiTx.clear();
        } else if ((c & 0xF000) == 0x8000) {
            a.spiRx.clear();
            const uint32_t cnt = c & 0xFFF;
            for (uint32_t i = 0; i < cnt; ++i) {
                if (a.regs[0x7FF] == 0x70) {
                    a.spiRx.push_back(0x80);
                } else {
                    auto it = a.flash.find(a.regs[0x7FE] + i);
                    a.spiRx.push_back(it == a.flash.end() ? 0xFF : it->second);
                }
            }
        }
        return;
    }
    if (n >= 1)
        a.regs[(area << 8) | reg] = w[n - 1];
}

int SimUsbIo::bulk(void *device, unsigned char endpoint, unsigned char *data, int length, int *transferred,
                   unsigned)
{
    auto *a = static_cast<Adapter *>(device);
    if (!a->claimed)
        return -1;
    if (endpoint == 0x01) {
        if (length < 4)
            return -2;
        std::vector<uint32_t> words(static_cast<size_t>(length) / 4);
        std::memcpy(words.data(), data, words.size() * 4);
        const uint32_t h = words[0];
        const uint32_t reg = h & 0xFF, count = (h >> 8) & 0xFFFFF, area = h >> 29;
        *transferred = length;
        if (h & (1u << 28)) {
            regWrite(*a, area, reg, words.data() + 1, static_cast<uint32_t>(words.size() - 1));
            in_.push_back(static_cast<uint32_t>(words.size() - 1) << 8);
            return 0;
        }
        uint32_t m = 0;
        if (area < 7 && reg == 4) {
            while (m < count && m < maxReplyWordsPerRead && !a->replyStream.empty()) {
                in_.push_back(a->replyStream.front());
                a->replyStream.pop_front();
                ++m;
            }
        } else {
            for (; m < count; ++m) {
                uint32_t v;
                if (area == 7 && reg >= 0x40 && reg <= 0x42)
                    v = (a->identification >> (8 * (reg - 0x40 == 0 ? 2 : reg - 0x40 == 1 ? 1 : 0))) & 0xFF;
                else if (area == 7 && reg >= 0x44 && reg <= 0x47)
                    v = (a->serial >> (8 * (3 - (reg - 0x44)))) & 0xFF;
                else if (area == 7 && reg == 12)
                    v = 0x10000; // SPI engine idle
                else if (area == 7 && reg == 8)
                    v = a->spiRx.empty() ? 0 : a->spiRx[std::min<size_t>(m, a->spiRx.size() - 1)];
                else
                    v = a->regs[(area << 8) | reg];
                in_.push_back(v);
            }
        }
        in_.push_back(m << 8);
        return 0;
    }
    if (in_.empty()) {
        *transferred = 0;
        return kUsbErrorTimeout;
    }
    size_t words = std::min(static_cast<size_t>(length) / 4, in_.size());
    for (size_t i = 0; i < words; ++i) {
        std::memcpy(data + 4 * i, &in_.front(), 4);
        in_.pop_front();
    }
    *transferred = static_cast<int>(4 * words);
    return 0;
}

} // namespace vmetest
