// A BQ71XX four-channel desktop high-voltage unit as its registers show it.
// Channel c's copy of a channel register lies at c x 0x100 + register. The
// control word 0x1034 holds Pw (bit 0), PDwn (bit 1) and the low current
// range (bit 2); writing a calibration code (0xB0..0xB5) to it makes 0x1038,
// 0x1040 and 0x1044 show that quantity's scale word, maximum and minimum
// until a control word is written again.
#include <algorithm>
#include <cmath>

#include "komm_models.h"

namespace komm {

namespace {

enum : uint32_t {
    R_VSET = 0x1020,
    R_ISET = 0x1024,
    R_RUP = 0x1028,
    R_RDWN = 0x102C,
    R_VMAX = 0x1030,
    R_CTRL = 0x1034,
    R_STATUS = 0x1038,
    R_VMON = 0x1040,
    R_IMON = 0x1044,
    R_FIRMWARE = 0x8124,
    R_IDENT = 0x8140,
};

constexpr uint32_t kFirmware = 0x00120305; // 05.03 build 12
constexpr int kChannels = 4;
constexpr double kLoadMegaOhm = 10.0;

// Raw units: voltages 0.1 V, currents 0.01 uA (high range) or 0.001 uA (low
// range), ramps V/s.
struct Calibration {
    uint16_t code, scaleWord, maxRaw, minRaw;
};
const Calibration kCalibrations[] = {
    {0xB0, 0x000A, 40000, 0}, // VSet: scale 10
    {0xB1, 0x8064, 50000, 0}, // ISet: micro, scale 100
    {0xB2, 0x0305, 500, 1},   // ramps: the word carries the release bytes
    {0xB3, 0x000A, 40000, 0}, // VMax
    {0xB4, 0x000A, 40000, 0}, // VMon
    {0xB5, 0x8064, 50000, 0}, // current monitor: micro, 100 (x10 in the low range)
};

enum : uint16_t { ST_ON = 1, ST_RUP = 2, ST_RDW = 4, ST_OVC = 8, ST_VMAX = 0x10, ST_TRIP = 0x20 };
enum : uint16_t { CTRL_PW = 1, CTRL_PDWN = 2, CTRL_LOWRANGE = 4 };

struct Channel {
    uint16_t vset = 0, iset = 50000, rup = 50, rdwn = 50, vmax = 40000, ctrl = CTRL_PDWN;
    uint16_t calib = 0; // selected calibration code, 0 = normal view
    double vmon = 0;    // volts
    uint16_t status = 0;
    bool statusPoked = false;
};

class Bq71xxUnit : public RegisterModel {
public:
    explicit Bq71xxUnit(double now) : last_(now) {}

    bool read16(double now, uint32_t a, uint16_t *v) override
    {
        advance(now);
        return peek16(now, a, v);
    }

    bool read32(double now, uint32_t a, uint32_t *v) override
    {
        if (a == R_FIRMWARE) {
            *v = kFirmware;
            return true;
        }
        return RegisterModel::read32(now, a, v);
    }

    bool write16(double now, uint32_t a, uint16_t v) override
    {
        advance(now);
        int c;
        uint32_t r;
        if (!channelReg(a, &c, &r))
            return true; // identity registers ignore writes
        Channel &ch = ch_[c];
        switch (r) {
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
        case R_VMAX:
            ch.vmax = v;
            break;
        case R_CTRL:
            if (calibration(v)) {
                ch.calib = v;
            } else {
                ch.calib = 0;
                const bool wasOn = ch.ctrl & CTRL_PW;
                ch.ctrl = v & 7;
                if ((ch.ctrl & CTRL_PW) && !wasOn)
                    ch.status &= uint16_t(~ST_TRIP);
                if (!(ch.ctrl & CTRL_PW) && !(ch.ctrl & CTRL_PDWN))
                    ch.vmon = 0; // kill
            }
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
        uint32_t r;
        if (channelReg(a, &c, &r)) {
            if (r == R_VMON) {
                ch_[c].vmon = v / 10.0;
                return true;
            }
            if (r == R_STATUS) {
                ch_[c].status = v;
                ch_[c].statusPoked = true;
                return true;
            }
        }
        return write16(now, a, v);
    }

    bool peek16(double, uint32_t a, uint16_t *v) override
    {
        if (a == R_IDENT) {
            *v = 0x000A;
            return true;
        }
        if (a == R_FIRMWARE || a == R_FIRMWARE + 2) {
            *v = uint16_t(a == R_FIRMWARE ? kFirmware : kFirmware >> 16);
            return true;
        }
        int c;
        uint32_t r;
        if (!channelReg(a, &c, &r)) {
            *v = 0;
            return true;
        }
        const Channel &ch = ch_[c];
        const Calibration *cal = calibration(ch.calib);
        switch (r) {
        case R_VSET:
            *v = ch.vset;
            return true;
        case R_ISET:
            *v = ch.iset;
            return true;
        case R_RUP:
            *v = ch.rup;
            return true;
        case R_RDWN:
            *v = ch.rdwn;
            return true;
        case R_VMAX:
            *v = ch.vmax;
            return true;
        case R_CTRL:
            *v = ch.ctrl;
            return true;
        case R_STATUS:
            *v = cal ? cal->scaleWord : ch.status;
            return true;
        case R_VMON:
            *v = cal ? cal->maxRaw : uint16_t(std::lround(ch.vmon * 10.0));
            return true;
        case R_IMON: {
            if (cal) {
                *v = cal->minRaw;
                return true;
            }
            const double perMicroAmp = (ch.ctrl & CTRL_LOWRANGE) ? 1000.0 : 100.0;
            *v = uint16_t(std::min(65535L, std::lround(ch.vmon / kLoadMegaOhm * perMicroAmp)));
            return true;
        }
        default:
            *v = 0;
            return true;
        }
    }

private:
    static const Calibration *calibration(uint16_t code)
    {
        for (const Calibration &c : kCalibrations)
            if (c.code == code)
                return &c;
        return nullptr;
    }

    static bool channelReg(uint32_t a, int *c, uint32_t *r)
    {
        const uint32_t ch = a / 0x100;
        const uint32_t reg = 0x1000 + a % 0x100;
        if (a < 0x1000 || ch < 0x10 || ch >= 0x10 + kChannels)
            return false;
        *c = int(ch - 0x10);
        *r = reg;
        return true;
    }

    void advance(double now)
    {
        const double dt = now - last_;
        if (dt <= 0)
            return;
        last_ = now;
        for (Channel &ch : ch_) {
            const bool on = ch.ctrl & CTRL_PW;
            const double target = on ? std::min(ch.vset, ch.vmax) / 10.0 : 0.0;
            const bool up = target > ch.vmon;
            const double step = (up ? ch.rup : ch.rdwn) * dt;
            if (std::fabs(target - ch.vmon) <= step)
                ch.vmon = target;
            else
                ch.vmon += up ? step : -step;
            const double microAmps = ch.vmon / kLoadMegaOhm;
            if (on && microAmps * 100.0 > ch.iset + 0.5) {
                ch.ctrl &= uint16_t(~CTRL_PW);
                ch.vmon = 0;
                ch.status |= ST_TRIP;
            }
            if (ch.statusPoked)
                continue; // a test holds the status word
            uint16_t s = ch.status & uint16_t(ST_TRIP);
            if (ch.ctrl & CTRL_PW)
                s |= ST_ON;
            if (std::fabs(target - ch.vmon) > 1e-9)
                s |= up ? ST_RUP : ST_RDW;
            if (ch.vset > ch.vmax)
                s |= ST_VMAX;
            ch.status = s;
        }
    }

    Channel ch_[kChannels];
    double last_;
};

} // namespace

std::unique_ptr<RegisterModel> MakeBq71xxUnit(double now)
{
    return std::make_unique<Bq71xxUnit>(now);
}

} // namespace komm
