// State of one open W38XX board, shared by the operations and the polling
// thread. The description (descriptors, rows, identity) is fixed once the
// board is open; the device lock guards the subscriptions and the event
// connection only.
#pragma once

#include <cstdint>
#include <vector>

#include "register_board.h"

namespace koruhv {

constexpr int kW38xxDevices = RegisterBoardTable::kMax;
constexpr int kW38xxMaxParams = 32;
constexpr int kW38xxMaxChannels = 32;

// One entry of the board's parameter table.
struct W38xxDescriptor {
    char name[11];
    uint8_t attr; // bits 0-2 type, 3 32-bit, 5-6 mode, 7 signed
    int8_t offset;
    uint16_t minimum, maximum, resolution;
    int8_t unit, exponent;
    int16_t decimals;
    char onText[21], offText[21];

    int type() const { return attr & 7; }
    int mode() const { return (attr >> 5) & 3; }
    bool wide() const { return attr & 0x08; }
    bool isSigned() const { return attr & 0x80; }
    bool command() const { return mode() == 2; }
    // Raw units per displayed unit; a board that publishes 0 is read 1:1.
    uint32_t scale() const { return resolution ? resolution : 1; }
};

// Parameters of one row (0 board, c + 1 channel c), in mask bit order.
struct W38xxRow {
    int count = 0;
    uint8_t index[kW38xxMaxParams] = {};
    uint8_t subscribed[kW38xxMaxParams] = {};
    uint32_t id[kW38xxMaxParams] = {};
};

struct W38xxDevice : RegisterBoard {
    char model[9] = {};
    char description[21] = {};
    uint32_t serial = 0;
    uint8_t fwMinor = 0, fwMajor = 0;
    int connType = 0, link = 0, node = 0;
    char ip[17] = {};
    uint32_t base = 0;
    int paramCount = 0, channelCount = 0;
    int commandCount = 0;
    uint8_t commands[kW38xxMaxParams] = {};
    W38xxDescriptor desc[kW38xxMaxParams] = {};
    W38xxRow rows[kW38xxMaxChannels + 1];

    // Guarded by the device lock.
    std::vector<uint32_t> subscriptions; // SubscriptionIds in subscription order
    bool changed = false;
};

// Register of a descriptor: channel -1 the board-level one.
inline uint32_t W38xx_Register(const W38xxDescriptor &d, int channel)
{
    const int32_t off = d.offset;
    return uint32_t(channel < 0 ? off : off + 128 * (channel + 1));
}

// Raw register value to the 4-byte value slot by the descriptor's type;
// false for a type that carries no value.
bool W38xx_RawToValue(const W38xxDescriptor &d, uint32_t raw, void *slot);

// Index of the descriptor of that name, or -1; whether a row lists it.
int W38xx_Find(const W38xxDevice &dev, const char *name);
int W38xx_InRow(const W38xxDevice &dev, int row, int descriptor); // position in the row, or -1

W38xxDevice *W38xx_Device(int index);

void W38xx_PollThread(W38xxDevice *dev);
int W38xx_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
int W38xx_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);

} // namespace koruhv
