// State of one open BQ71XX unit, shared by the operations and the polling
// thread. Rows are fixed once the unit is open; the instance lock guards the
// subscription mask and the event connection only.
#pragma once

#include <atomic>
#include <cstdint>

#include "register_board.h"

namespace koruhv {

constexpr int kBq71xxInstances = RegisterBoardTable::kMax;
constexpr int kBq71xxRows = 12;
constexpr int kBq71xxChannels = 4;

// One register row (the static table's form and the instance's copy).
struct RegisterParamRow {
    char name[11];
    uint8_t flags;        // bits 0-2 type, bits 3-4 mode (0 read-only, 1 command, 2 read/write)
    uint16_t reg;         // channel 0's address; channel c at c x 0x100 + reg
    uint16_t calibration; // calibration code, 0 = none
    int16_t minimum, maximum;
    double scale; // raw = value x scale; 0 = none
    int8_t unit, exponent;
    int16_t decimals;
    char onText[20], offText[20];

    int type() const { return flags & 7; }
    int mode() const { return (flags >> 3) & 3; }
};

enum Bq71xxRow {
    BQ_VSET,
    BQ_ISET,
    BQ_VMON,
    BQ_IMRANGE,
    BQ_IMONL,
    BQ_IMONH,
    BQ_RAMPUP,
    BQ_RAMPDWN,
    BQ_VMAX,
    BQ_PW,
    BQ_PDWN,
    BQ_STATUS,
};

struct Bq71xxInstance : RegisterBoard {
    char description[32] = {};
    uint8_t fwMinor = 0, fwMajor = 0;
    int connType = 0, link = 0, node = 0;
    uint32_t base = 0;
    RegisterParamRow rows[kBq71xxRows] = {};
    // Per channel: 1 while the current monitor is in its low range.
    std::atomic<uint8_t> lowRange[kBq71xxChannels] = {};

    uint8_t mask[kBq71xxRows] = {}; // bit c: channel c subscribed; guarded by the device lock
};

inline uint32_t Bq71xx_Register(const RegisterParamRow &r, int channel)
{
    return uint32_t(channel) * 0x100u + r.reg;
}

// Row of that name, or -1.
int Bq71xx_Find(const Bq71xxInstance &in, const char *name);
// Value of a row from its raw word, as GetChParam and the events give it:
// false for a type without a value.
bool Bq71xx_RawToValue(const Bq71xxInstance &in, int row, int channel, uint16_t raw, void *slot);

Bq71xxInstance *Bq71xx_Instance(int index);

void Bq71xx_PollThread(Bq71xxInstance *in);
int Bq71xx_Subscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);
int Bq71xx_UnSubscribe(const BackendRef &b, short port, uint16_t count, const char *items, char *results);

} // namespace koruhv
