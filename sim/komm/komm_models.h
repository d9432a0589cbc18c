// Device models behind the stand-in communication library: one object per
// place, holding the device's registers and physical state. Every call runs
// under the library's lock; now is the model time in seconds.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

namespace komm {

class RegisterModel {
public:
    virtual ~RegisterModel() = default;
    // A bus access: false when the device does not answer at the address.
    virtual bool read16(double now, uint32_t address, uint16_t *value) = 0;
    virtual bool write16(double now, uint32_t address, uint16_t value) = 0;
    virtual bool read32(double now, uint32_t address, uint32_t *value);
    virtual bool write32(double now, uint32_t address, uint32_t value);
    // Test access: sets the state the register shows; reads without side
    // effects. Default: as a bus access.
    virtual bool poke16(double now, uint32_t address, uint16_t value) { return write16(now, address, value); }
    virtual bool peek16(double now, uint32_t address, uint16_t *value) { return read16(now, address, value); }
};

// Plain register memory: every address holds what was last written (0 at
// first).
class MemoryModel : public RegisterModel {
public:
    bool read16(double, uint32_t address, uint16_t *value) override;
    bool write16(double, uint32_t address, uint16_t value) override;
    bool read32(double, uint32_t address, uint32_t *value) override;
    bool write32(double, uint32_t address, uint32_t value) override;

private:
    std::map<uint32_t, uint32_t> regs_;
};

std::unique_ptr<RegisterModel> MakeW38xxBoard(int channels, double now);
std::unique_ptr<RegisterModel> MakeBq71xxUnit(double now);

} // namespace komm
