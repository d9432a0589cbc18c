#include "komm_models.h"

namespace komm {

bool RegisterModel::read32(double now, uint32_t address, uint32_t *value)
{
    uint16_t lo = 0, hi = 0;
    if (!read16(now, address, &lo) || !read16(now, address + 2, &hi))
        return false;
    *value = uint32_t(lo) | (uint32_t(hi) << 16);
    return true;
}

bool RegisterModel::write32(double now, uint32_t address, uint32_t value)
{
    return write16(now, address, uint16_t(value)) && write16(now, address + 2, uint16_t(value >> 16));
}

bool MemoryModel::read16(double, uint32_t address, uint16_t *value)
{
    auto it = regs_.find(address);
    *value = it == regs_.end() ? 0 : uint16_t(it->second);
    return true;
}

bool MemoryModel::write16(double, uint32_t address, uint16_t value)
{
    regs_[address] = value;
    return true;
}

bool MemoryModel::read32(double, uint32_t address, uint32_t *value)
{
    auto it = regs_.find(address);
    *value = it == regs_.end() ? 0 : it->second;
    return true;
}

bool MemoryModel::write32(double, uint32_t address, uint32_t value)
{
    regs_[address] = value;
    return true;
}

} // namespace komm
