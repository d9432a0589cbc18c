// A W38XX VME high-voltage board as its registers show it: a parameter
// table the board publishes about itself, presence masks per row, identity
// registers, and channels whose output ramps toward the set value while
// switched on. Channel c's register of a parameter lies at offset +
// 128 x (c + 1), a board parameter at its offset, a command at offset +
// 0x2000.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "komm_models.h"

namespace komm {

namespace {

// Register offsets of this board's parameters (channel window and board).
enum : uint32_t {
    R_VSET = 0x00,
    R_ISET = 0x02,
    R_VMON = 0x04,
    R_IMON = 0x06,
    R_RUP = 0x08,
    R_RDWN = 0x0A,
    R_TRIP = 0x0C,
    R_PW = 0x0E,
    R_PDWN = 0x10,
    R_POL = 0x12,
    R_STATUS = 0x14,
    R_IMRANGE = 0x16,
    R_BDSTATUS = 0x20,
    R_HVMAX = 0x22,
    R_TEMP = 0x24,
    R_SWREL = 0x26,
    R_UPTIME = 0x28,
    R_CLRALARM = 0x2C,
    R_KILL = 0x2E,
};

constexpr uint32_t kCommandBase = 0x2000;
constexpr uint32_t kTable = 0x4000, kMasks = 0x4400;
constexpr uint32_t kChannelCount = 0x8100, kDescription = 0x8102, kModel = 0x8116, kFirmware = 0x8120;

// Attribute byte: type bits 0-2, 32-bit bit 3, mode bits 5-6, signed bit 7.
constexpr uint8_t RO = 0x00, RW = 0x20, CMD = 0x40, WIDE = 0x08, SIGNED = 0x80;

struct Entry {
    const char *name;
    uint8_t attr;
    uint32_t offset;
    uint16_t min, max, res;
    int8_t unit, exp;
    bool board;
};

// Unit codes: 1 ampere, 2 volt, 7 volt per second, 0 none. The board gives
// the current's exponent as a positive power (micro = 6).
const Entry kEntries[] = {
    {"VSet", RW | 0, R_VSET, 0, 40000, 10, 2, 0, false},
    {"ISet", RW | 0, R_ISET, 0, 20000, 50, 1, 6, false},
    {"VMon", RO | 0, R_VMON, 0, 40000, 10, 2, 0, false},
    {"IMon", RO | 0, R_IMON, 0, 20000, 50, 1, 6, false},
    {"RUp", RW | 0, R_RUP, 1, 500, 1, 7, 0, false},
    {"RDwn", RW | 0, R_RDWN, 1, 500, 1, 7, 0, false},
    {"Trip", RW | 0, R_TRIP, 0, 10000, 10, 0, 0, false},
    {"Pw", RW | 1, R_PW, 0, 1, 1, 0, 0, false},
    {"PDwn", RW | 0, R_PDWN, 0, 1, 1, 0, 0, false},
    {"Polarity", RO | 0, R_POL, 0, 1, 1, 0, 0, false},
    {"Status", RO | 2, R_STATUS, 0, 0xFFFF, 1, 0, 0, false},
    {"ImonRange", RW | 0, R_IMRANGE, 0, 1, 1, 0, 0, false},
    {"BdStatus", RO | 2, R_BDSTATUS, 0, 0xFFFF, 1, 0, 0, true},
    {"HVMax", RO | 0, R_HVMAX, 0, 4000, 1, 2, 0, true},
    {"Temp", RO | SIGNED | 0, R_TEMP, 0, 1000, 10, 0, 0, true},
    {"SwRelease", RO | 0, R_SWREL, 0, 10000, 100, 0, 0, true},
    {"Uptime", RO | WIDE | 0, R_UPTIME, 0, 0xFFFF, 1, 0, 0, true},
    {"ClrAlarm", CMD | 0, R_CLRALARM, 0, 1, 1, 0, 0, true},
    {"Kill", CMD | 0, R_KILL, 0, 1, 1, 0, 0, true},
};
constexpr int kEntryCount = int(sizeof kEntries / sizeof kEntries[0]);

// Channel status bits.
enum : uint16_t { ST_ON = 1, ST_RUP = 2, ST_RDW = 4, ST_OVC = 8, ST_MAXV = 0x40, ST_TRIP = 0x200 };
// Board status bits.
enum : uint16_t { BD_ALARM = 1, BD_TRIPPED = 2 };

constexpr double kLoadMegaOhm = 10.0; // every channel drives 10 MOhm

struct Channel {
    uint16_t vset = 0, iset = 20000, rup = 50, rdwn = 50, trip = 10, pdwn = 1, imrange = 0;
    bool pw = false;
    double vmon = 0; // volts
    uint16_t status = 0;
};

class W38xxBoard : public RegisterModel {
public:
    // The board has been powered for 70000 s, so its uptime needs both words.
    W38xxBoard(int channels, double now) : channels_(size_t(channels)), start_(now - 70000.0), last_(now)
    {
        buildStatic(int(channels));
    }

    bool read16(double now, uint32_t a, uint16_t *v) override
    {
        advance(now);
        return peekAt(now, a, v);
    }

    bool write16(double now, uint32_t a, uint16_t v) override
    {
        advance(now);
        if (a >= kCommandBase && a < kCommandBase + 0x80) {
            if (v & 1)
                command(a - kCommandBase);
            return true;
        }
        int c;
        uint32_t off;
        if (!channelReg(a, &c, &off)) {
            // Board registers are read-only; the static area is writable so
            // that a test can publish another table.
            if (a >= kTable)
                static_[a] = v;
            return true;
        }
        Channel &ch = channels_[size_t(c)];
        switch (off) {
        case R_VSET:
            ch.vset = v;
            break;
        case R_ISET:
            ch.iset = v;
            break;
        case R_RUP:
            ch.rup = v;
            break;
        case R_RDWN:
            ch.rdwn = v;
            break;
        case R_TRIP:
            ch.trip = v;
            break;
        case R_PDWN:
            ch.pdwn = v & 1;
            break;
        case R_IMRANGE:
            ch.imrange = v & 1;
            break;
        case R_PW:
            if ((v & 1) && !ch.pw)
                ch.status &= uint16_t(~ST_TRIP);
            ch.pw = v & 1;
            if (!ch.pw && !ch.pdwn)
                ch.vmon = 0; // kill: the output drops at once
            break;
        default:
            break;
        }
        return true;
    }

    bool poke16(double now, uint32_t a, uint16_t v) override
    {
        advance(now);
        int c;
        uint32_t off;
        if (channelReg(a, &c, &off)) {
            Channel &ch = channels_[size_t(c)];
            if (off == R_VMON) {
                ch.vmon = v / 10.0;
                return true;
            }
            if (off == R_STATUS) {
                ch.status = v;
                return true;
            }
            return write16(now, a, v);
        }
        if (a == R_TEMP) {
            temp_ = int16_t(v);
            return true;
        }
        if (a == R_BDSTATUS) {
            bdStatus_ = v;
            return true;
        }
        static_[a] = v;
        return true;
    }

    bool peek16(double now, uint32_t a, uint16_t *v) override { return peekAt(now, a, v); }

private:
    void buildStatic(int channels)
    {
        std::vector<uint8_t> table(1024, 0);
        uint32_t chanMask = 0, boardMask = 0;
        for (int i = 0; i < kEntryCount; ++i) {
            const Entry &e = kEntries[i];
            uint8_t *p = &table[size_t(i) * 32];
            std::strncpy(reinterpret_cast<char *>(p), e.name, 10);
            p[10] = e.attr;
            p[11] = uint8_t(e.offset);
            p[12] = uint8_t(e.min);
            p[13] = uint8_t(e.min >> 8);
            p[14] = uint8_t(e.max);
            p[15] = uint8_t(e.max >> 8);
            p[16] = uint8_t(e.res);
            p[17] = uint8_t(e.res >> 8);
            p[18] = uint8_t(e.unit);
            p[19] = uint8_t(e.exp);
            (e.board ? boardMask : chanMask) |= 1u << i;
        }
        for (uint32_t n = 0; n < 512; ++n)
            static_[kTable + 2 * n] = uint16_t(table[2 * n] | (table[2 * n + 1] << 8));
        for (int v = 0; v <= 32; ++v) {
            const uint32_t m = v == 0 ? boardMask : (v <= channels ? chanMask : 0);
            static_[kMasks + 4 * uint32_t(v)] = uint16_t(m);
            static_[kMasks + 4 * uint32_t(v) + 2] = uint16_t(m >> 16);
        }
        static_[kChannelCount] = uint16_t(channels);
        putText(kDescription, 10, "12 Ch 4kV/400uA VME");
        putText(kModel, 4, "W3821");
        static_[kFirmware] = 0x0004; // release 4
        // Serial number 1234: low bytes of 0xA084 (bits 0-7) and 0xA080
        // (bits 8-15); the long form in 0xA070..0xA07C.
        const uint32_t serial = 1234;
        static_[0xA084] = uint16_t(serial & 0xFF);
        static_[0xA080] = uint16_t((serial >> 8) & 0xFF);
        for (uint32_t k = 0; k < 4; ++k)
            static_[0xA070 + 4 * k] = uint16_t((serial >> (8 * k)) & 0xFF);
    }

    void putText(uint32_t at, int words, const char *text)
    {
        char buf[64] = {};
        std::strncpy(buf, text, sizeof buf - 1);
        for (int w = 0; w < words; ++w)
            static_[at + 2 * uint32_t(w)] =
                uint16_t(uint8_t(buf[2 * w]) | (uint16_t(uint8_t(buf[2 * w + 1])) << 8));
    }

    // Channel register: channel index and offset inside its 128-byte window.
    bool channelReg(uint32_t a, int *c, uint32_t *off) const
    {
        if (a < 0x80 || a >= 0x80 * (channels_.size() + 1))
            return false;
        *c = int(a / 0x80) - 1;
        *off = a % 0x80;
        return true;
    }

    void command(uint32_t off)
    {
        if (off == R_CLRALARM) {
            bdStatus_ = 0;
            for (Channel &ch : channels_)
                ch.status &= uint16_t(~ST_TRIP);
        } else if (off == R_KILL) {
            for (Channel &ch : channels_) {
                ch.pw = false;
                ch.vmon = 0;
            }
        }
    }

    void advance(double now)
    {
        const double dt = now - last_;
        if (dt <= 0)
            return;
        last_ = now;
        for (Channel &ch : channels_) {
            const double hvmax = 4000.0;
            const double target = ch.pw ? std::min(ch.vset / 10.0, hvmax) : 0.0;
            const bool up = target > ch.vmon;
            const double step = (up ? ch.rup : ch.rdwn) * dt;
            if (std::fabs(target - ch.vmon) <= step)
                ch.vmon = target;
            else
                ch.vmon += up ? step : -step;
            // Over current: the channel trips off at once.
            const double microAmps = ch.vmon / kLoadMegaOhm;
            if (ch.pw && microAmps * 50.0 > ch.iset + 0.5) {
                ch.pw = false;
                ch.vmon = 0;
                ch.status |= ST_TRIP;
                bdStatus_ |= BD_ALARM | BD_TRIPPED;
            }
            uint16_t s = ch.status & uint16_t(ST_TRIP);
            if (ch.pw)
                s |= ST_ON;
            if (std::fabs(target - ch.vmon) > 1e-9)
                s |= up ? ST_RUP : ST_RDW;
            if (ch.vset / 10.0 > hvmax)
                s |= ST_MAXV;
            ch.status = s;
        }
    }

    bool peekAt(double now, uint32_t a, uint16_t *v) const
    {
        int c;
        uint32_t off;
        if (channelReg(a, &c, &off)) {
            const Channel &ch = channels_[size_t(c)];
            switch (off) {
            case R_VSET:
                *v = ch.vset;
                return true;
            case R_ISET:
                *v = ch.iset;
                return true;
            case R_VMON:
                *v = uint16_t(std::lround(ch.vmon * 10.0));
                return true;
            case R_IMON:
                *v = uint16_t(std::min(65535L, std::lround(ch.vmon / kLoadMegaOhm * 50.0)));
                return true;
            case R_RUP:
                *v = ch.rup;
                return true;
            case R_RDWN:
                *v = ch.rdwn;
                return true;
            case R_TRIP:
                *v = ch.trip;
                return true;
            case R_PW:
                *v = ch.pw ? 1 : 0;
                return true;
            case R_PDWN:
                *v = ch.pdwn;
                return true;
            case R_POL:
                *v = 1;
                return true; // positive
            case R_STATUS:
                *v = ch.status;
                return true;
            case R_IMRANGE:
                *v = ch.imrange;
                return true;
            default:
                *v = 0;
                return true;
            }
        }
        const uint32_t up = uint32_t(now - start_);
        switch (a) {
        case R_BDSTATUS:
            *v = bdStatus_;
            return true;
        case R_HVMAX:
            *v = 4000;
            return true;
        case R_TEMP:
            *v = uint16_t(temp_);
            return true;
        case R_SWREL:
            *v = 104;
            return true; // 1.04
        case R_UPTIME:
            *v = uint16_t(up);
            return true;
        case R_UPTIME + 2:
            *v = uint16_t(up >> 16);
            return true;
        default:
            break;
        }
        auto it = static_.find(a);
        *v = it == static_.end() ? 0 : it->second;
        return true;
    }

    std::vector<Channel> channels_;
    std::map<uint32_t, uint16_t> static_;
    uint16_t bdStatus_ = 0;
    int16_t temp_ = 253; // 25.3 degrees
    double start_, last_;
};

} // namespace

std::unique_ptr<RegisterModel> MakeW38xxBoard(int channels, double now)
{
    if (channels <= 0)
        channels = 12;
    return std::make_unique<W38xxBoard>(std::min(channels, 32), now);
}

} // namespace komm
