// The simulated bridge's request interpreter and its registers.
#include "vme/vme_bridge_model.h"

#include <cstring>

namespace korusim {

namespace {

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t *p)
{
    return le16(p) | (static_cast<uint32_t>(le16(p + 2)) << 16);
}
void add16(std::vector<uint8_t> &v, uint32_t x)
{
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
}

// Bytes per transfer from the command word's width field.
unsigned widthBytes(uint16_t cmd)
{
    static const unsigned w[4] = {1, 2, 4, 8};
    return w[(cmd >> 4) & 3];
}

uint32_t swapBytes(uint32_t v, unsigned n)
{
    if (n == 2)
        return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF);
    if (n == 4)
        return __builtin_bswap32(v);
    return v;
}

// Set and clear registers of the older map, and the register they change.
bool setClearTarget(unsigned n, unsigned *target, bool *set)
{
    static const unsigned pairs[4][2] = {{10, 16}, {11, 17}, {12, 18}, {13, 19}};
    for (auto &p : pairs) {
        if (n == p[0]) {
            *target = p[0];
            *set = true;
            return true;
        }
        if (n == p[1]) {
            *target = p[0];
            *set = false;
            return true;
        }
    }
    return false;
}

} // namespace

VmeBridgeModel::VmeBridgeModel(uint32_t memoryBytes) : memory_(memoryBytes, 0) {}

void VmeBridgeModel::poke(uint32_t a, const void *d, size_t n)
{
    std::lock_guard<std::mutex> l(m_);
    for (size_t i = 0; i < n && a + i < memory_.size(); ++i)
        memory_[a + i] = static_cast<const uint8_t *>(d)[i];
}

void VmeBridgeModel::peek(uint32_t a, void *d, size_t n) const
{
    std::lock_guard<std::mutex> l(m_);
    for (size_t i = 0; i < n; ++i)
        static_cast<uint8_t *>(d)[i] = a + i < memory_.size() ? memory_[a + i] : 0;
}

void VmeBridgeModel::setBusErrorWindow(uint32_t from, uint32_t to)
{
    std::lock_guard<std::mutex> l(m_);
    errFrom_ = from;
    errTo_ = to;
}

void VmeBridgeModel::setNewerMap(bool newer)
{
    std::lock_guard<std::mutex> l(m_);
    newer_ = newer;
}

uint16_t VmeBridgeModel::reg(unsigned n) const
{
    std::lock_guard<std::mutex> l(m_);
    auto it = regs_.find(n);
    return it == regs_.end() ? 0 : it->second;
}

void VmeBridgeModel::setReg(unsigned n, uint16_t v)
{
    std::lock_guard<std::mutex> l(m_);
    regs_[n] = v;
}

std::vector<std::pair<unsigned, uint16_t>> VmeBridgeModel::registerWrites() const
{
    std::lock_guard<std::mutex> l(m_);
    return writes_;
}

void VmeBridgeModel::clearLogs()
{
    std::lock_guard<std::mutex> l(m_);
    writes_.clear();
    requests_.clear();
}

void VmeBridgeModel::setVector(unsigned level, uint32_t vector)
{
    std::lock_guard<std::mutex> l(m_);
    if (level >= 1 && level <= 7)
        vectors_[level] = vector;
}

std::vector<std::vector<uint8_t>> VmeBridgeModel::requests() const
{
    std::lock_guard<std::mutex> l(m_);
    return requests_;
}

uint8_t VmeBridgeModel::flashByte(uint32_t address) const
{
    std::lock_guard<std::mutex> l(m_);
    auto it = flash_.find(address);
    return it == flash_.end() ? 0xFF : it->second;
}

bool VmeBridgeModel::busError(uint32_t a, unsigned bytes) const
{
    if (static_cast<uint64_t>(a) + bytes > memory_.size())
        return true;
    return errTo_ > errFrom_ && a + bytes > errFrom_ && a < errTo_;
}

uint32_t VmeBridgeModel::readMem(uint32_t a, unsigned bytes) const
{
    uint32_t v = 0;
    for (unsigned i = 0; i < bytes && i < 4; ++i)
        v |= static_cast<uint32_t>(memory_[a + i]) << (8 * i);
    return v;
}

void VmeBridgeModel::writeMem(uint32_t a, uint32_t v, unsigned bytes)
{
    for (unsigned i = 0; i < bytes && i < 4; ++i)
        memory_[a + i] = (v >> (8 * i)) & 0xFF;
}

uint16_t VmeBridgeModel::readReg(unsigned n)
{
    if (n == 56)
        return newer_ ? 0x4860 : 0x1100;
    if (n == 3)
        return flashByteOut();
    return regs_[n];
}

void VmeBridgeModel::writeReg(unsigned n, uint16_t v)
{
    writes_.emplace_back(n, v);
    unsigned target;
    bool set;
    if (!newer_ && setClearTarget(n, &target, &set)) {
        regs_[target] = set ? (regs_[target] | v) : (regs_[target] & ~v);
        return;
    }
    if (n == 55 && newer_) { // a new SPI command starts
        cmd_.clear();
        regs_[n] = v;
        return;
    }
    if (n == 4 && !newer_) { // chip select of the older page flash
        if (v == 1) {
            cmd_.clear();
        } else if (!cmd_.empty()) {
            const uint32_t page = (static_cast<uint32_t>(cmd_.size() > 2 ? cmd_[1] : 0) << 7) |
                                  ((cmd_.size() > 2 ? cmd_[2] : 0) >> 1);
            const uint32_t base = page * 264;
            if (cmd_[0] == 0x82)
                for (size_t i = 4; i < cmd_.size() && i < 268; ++i)
                    flash_[base + static_cast<uint32_t>(i - 4)] = cmd_[i];
            else if (cmd_[0] == 0x81)
                for (uint32_t i = 0; i < 264; ++i)
                    flash_.erase(base + i);
            cmd_.clear();
        }
        regs_[n] = v;
        return;
    }
    if (n == 3) {
        flashByteIn(static_cast<uint8_t>(v));
        return;
    }
    regs_[n] = v;
}

void VmeBridgeModel::flashByteIn(uint8_t b)
{
    cmd_.push_back(b);
    if (!newer_) {
        if (cmd_.size() == 8 && cmd_[0] == 0xD2) {
            const uint32_t page = (static_cast<uint32_t>(cmd_[1]) << 7) | (cmd_[2] >> 1);
            oldPageOut_.assign(264, 0xFF);
            for (uint32_t i = 0; i < 264; ++i) {
                auto it = flash_.find(page * 264 + i);
                if (it != flash_.end())
                    oldPageOut_[i] = it->second;
            }
            oldPageRead_ = 0;
        }
        return;
    }
    auto addr = [this]() {
        return (static_cast<uint32_t>(cmd_[1]) << 24) | (cmd_[2] << 16) | (cmd_[3] << 8) | cmd_[4];
    };
    if (cmd_[0] == 0x20 && cmd_.size() == 5) {
        const uint32_t s = addr() & ~0xFFFu;
        for (uint32_t i = 0; i < 4096; ++i)
            flash_.erase(s + i);
    } else if (cmd_[0] == 0x02 && cmd_.size() > 5) {
        flash_[addr() + static_cast<uint32_t>(cmd_.size() - 6)] = b;
    } else if (cmd_[0] == 0x03 && cmd_.size() == 5) {
        readAddr_ = addr();
    }
}

uint8_t VmeBridgeModel::flashByteOut()
{
    if (!newer_) {
        if (oldPageRead_ < oldPageOut_.size())
            return oldPageOut_[oldPageRead_++];
        return 0xFF;
    }
    if (!cmd_.empty() && cmd_[0] == 0x70)
        return 0x80; // always ready
    if (!cmd_.empty() && cmd_[0] == 0x03 && cmd_.size() >= 5) {
        auto it = flash_.find(readAddr_);
        uint8_t v = it == flash_.end() ? 0xFF : it->second;
        ++readAddr_;
        return v;
    }
    return 0;
}

VmeReply VmeBridgeModel::execute(const uint8_t *req, size_t len)
{
    std::lock_guard<std::mutex> l(m_);
    requests_.emplace_back(req, req + len);
    VmeReply out;
    bool onlyRegisterWrites = true;
    bool stopped = false;
    // A lone register read without the last bit streams 64 reads of it.
    if (len == 2 && !(req[1] & 0x80) && (req[1] & 0x40) && !(req[0] & 0x80)) {
        const unsigned n = (req[0] & 0x7F) | ((req[1] & 0x3F) << 8);
        for (int i = 0; i < 64; ++i)
            add16(out.data, readReg(n));
        return out;
    }
    size_t pos = 0;
    while (pos + 2 <= len && !stopped) {
        const uint16_t cmd = le16(req + pos);
        const bool last = cmd & 0x80;
        uint16_t itemStatus = 0; // bus error of this item
        if (!(cmd & 0x8000)) {   // register request
            const unsigned n = (req[pos] & 0x7F) | ((req[pos + 1] & 0x3F) << 8);
            if (cmd & 0x4000) {
                onlyRegisterWrites = false;
                add16(out.data, readReg(n));
                if (!last)
                    add16(out.data, 0); // item status
                pos += 2;
            } else {
                if (pos + 4 > len)
                    break;
                writeReg(n, le16(req + pos + 2));
                pos += 4;
                if (last)
                    break;
                continue;
            }
        } else {
            onlyRegisterWrites = false;
            if (pos + 6 > len)
                break;
            const bool read = cmd & 0x4000;
            const bool swap = cmd & 0x40;
            const unsigned kind = cmd & 0xF;
            const unsigned bytes = widthBytes(cmd);
            uint32_t address = le32(req + pos + 2);
            if (kind == 4 || kind == 7 || kind == 12 || kind == 15) {
                if (pos + 8 > len)
                    break;
                const uint32_t transfers = le16(req + pos + 2);
                address = le32(req + pos + 4);
                const bool advance = !(kind & 8);
                pos += 8;
                uint32_t done = 0;
                for (; done < transfers; ++done) {
                    const uint32_t a = advance ? address + done * bytes : address;
                    if (busError(a, bytes)) {
                        out.status |= 0x20;
                        stopped = true;
                        break;
                    }
                    for (unsigned b = 0; b < bytes; ++b) {
                        if (read) {
                            out.data.push_back(memory_[a + b]);
                        } else if (pos + b < len) {
                            memory_[a + b] = req[pos + b];
                        }
                    }
                    if (!read)
                        pos += bytes;
                }
                if (!read)
                    add16(out.data, done);
                if (last)
                    break;
                continue;
            }
            pos += 6;
            const unsigned dataBytes = (bytes == 1) ? 2 : bytes;
            uint32_t value = 0;
            if (!read || kind == 2) {
                if (pos + dataBytes > len)
                    break;
                value = bytes == 1 ? ((address & 1) ? req[pos] : req[pos + 1])
                                   : (bytes == 2 ? le16(req + pos) : le32(req + pos));
                pos += dataBytes;
            }
            if (kind == 8) {
                const unsigned level = (address & 0xFF) / 2;
                const uint32_t v = level <= 7 ? vectors_[level] : 0;
                if (bytes == 1) {
                    out.data.push_back(v & 0xFF);
                    out.data.push_back(0);
                } else {
                    for (unsigned b = 0; b < bytes && b < 4; ++b)
                        out.data.push_back((v >> (8 * b)) & 0xFF);
                }
            } else if (kind == 3 || kind == 5) {
                if (busError(address, 1))
                    itemStatus = 0x20;
            } else if (busError(address, bytes)) {
                itemStatus = 0x20;
                if (read)
                    out.data.insert(out.data.end(), dataBytes, 0);
            } else {
                uint32_t old = readMem(address, bytes);
                if (swap)
                    old = swapBytes(old, bytes);
                if (read) {
                    if (bytes == 1) {
                        out.data.push_back((address & 1) ? old & 0xFF : 0);
                        out.data.push_back((address & 1) ? 0 : old & 0xFF);
                    } else {
                        for (unsigned b = 0; b < bytes && b < 4; ++b)
                            out.data.push_back((old >> (8 * b)) & 0xFF);
                    }
                }
                if (!read || kind == 2)
                    writeMem(address, swap ? swapBytes(value, bytes) : value, bytes);
            }
            if (!last) {
                // item status: reads carry the bus error in the first byte, writes in the second
                if (read) {
                    out.data.push_back(static_cast<uint8_t>(itemStatus));
                    out.data.push_back(0);
                } else {
                    out.data.push_back(0);
                    out.data.push_back(static_cast<uint8_t>(itemStatus));
                }
            } else {
                out.status |= itemStatus;
            }
        }
        if (last)
            break;
        if (!(cmd & 0x8000))
            continue;
    }
    out.expected = !onlyRegisterWrites;
    return out;
}

} // namespace korusim
