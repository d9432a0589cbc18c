// Simulated VME bridge: a VME bus with memory, the bridge's 16-bit registers
// (older or newer register map), interrupt vectors and a serial flash. It
// executes one request of items (VME cycles, block transfers, register
// accesses) and answers with the bytes the bridge sends back. Written
// independently of the library so that a fault in its protocol code shows.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace korusim {

struct VmeReply {
    bool expected = true;      // false: the request asks for no answer (register writes only)
    std::vector<uint8_t> data; // reply data in the bridge's own order
    uint32_t status = 0;       // bit 5: bus error
};

class VmeBridgeModel {
public:
    explicit VmeBridgeModel(uint32_t memoryBytes = 16u << 20);

    VmeReply execute(const uint8_t *request, size_t length);

    // Bus memory; addresses at or above the memory size, or inside the
    // bus-error window, end their cycle with a bus error.
    void poke(uint32_t address, const void *data, size_t n);
    void peek(uint32_t address, void *data, size_t n) const;
    void setBusErrorWindow(uint32_t from, uint32_t to);

    // Registers
    void setNewerMap(bool newer); // register 56 reads 0x4860 when set
    uint16_t reg(unsigned n) const;
    void setReg(unsigned n, uint16_t v);
    std::vector<std::pair<unsigned, uint16_t>> registerWrites() const; // in order
    void clearLogs();

    // Interrupt vector answered for a level (1..7) by an acknowledge cycle.
    void setVector(unsigned level, uint32_t vector);

    // Requests seen, whole, in order.
    std::vector<std::vector<uint8_t>> requests() const;

    // Serial flash content (bytes never written read as 0xFF).
    uint8_t flashByte(uint32_t address) const;

private:
    bool busError(uint32_t address, unsigned bytes) const;
    uint32_t readMem(uint32_t address, unsigned bytes) const;
    void writeMem(uint32_t address, uint32_t value, unsigned bytes);
    uint16_t readReg(unsigned n);
    void writeReg(unsigned n, uint16_t v);
    void flashByteIn(uint8_t b);
    uint8_t flashByteOut();

    mutable std::mutex m_;
    std::vector<uint8_t> memory_;
    uint32_t errFrom_ = 0, errTo_ = 0;
    std::map<unsigned, uint16_t> regs_;
    bool newer_ = false;
    std::vector<std::pair<unsigned, uint16_t>> writes_;
    std::vector<std::vector<uint8_t>> requests_;
    uint32_t vectors_[8] = {};
    // flash: the current command's bytes, the read pointer, and the content
    std::vector<uint8_t> cmd_;
    uint32_t readAddr_ = 0;
    std::map<uint32_t, uint8_t> flash_;
    std::vector<uint8_t> oldPageOut_;
    size_t oldPageRead_ = 0;
};

} // namespace korusim
