// Request numbers and argument records of the card and USB-bridge drivers.
#pragma once

#include <cstdint>

namespace koruvme {

constexpr unsigned long kIoctlTransact = 0xc0283801;
constexpr unsigned long kIoctlCardRegWrite = 0x40083802;
constexpr unsigned long kIoctlCardRegRead = 0xc0083803;
constexpr unsigned long kIoctlIrqWait = 0x40083804;
constexpr unsigned long kIoctlBltAsync = 0xc0283805;
constexpr unsigned long kIoctlBltWait = 0xc0043806;
constexpr unsigned long kIoctlDriverRelease = 0xc0143807;
constexpr unsigned long kIoctlCardReset = 0x3800;
constexpr unsigned long kIoctlSlaveReset = 0x380d;
constexpr unsigned long kIoctlUsbRelease = 0xc0145501;
constexpr unsigned long kIoctlXdmaIrqWait = 0x80087100;

struct TransactRecord {
    uint64_t request;
    int32_t length;
    int32_t pad0;
    uint64_t reply;
    int32_t capacity;
    int32_t pad1;
    uint64_t status;
};
static_assert(sizeof(TransactRecord) == 40);

struct CardRegRecord {
    uint32_t reg;
    uint32_t value;
};

struct IrqWaitRecord {
    uint32_t mask;
    uint32_t timeout;
};

constexpr int kDriverTextSize = 20;

} // namespace koruvme
