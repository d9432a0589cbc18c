// Simulated ZJV detector low-voltage supply: two output channels, each with
// a 5 V, a 48 V and a fan supply, as data, and the device side of its "$CMD"
// text protocol (no module address), on a TCP port (23 on the real unit) or
// a pseudo-terminal standing for its serial line.
//
// Requests:  $CMD:MON|SET,[CH:<n>,]PAR:<mnemonic>[,VAL:<value>] CR LF
// Replies:   #CMD:OK,VAL:<value> CR LF   (monitor)
//            #CMD:OK CR LF               (set)
//            #<CMD|CH|PAR|VAL|LOC>:ERR CR LF
//            CMD: monitor of ON/OFF or set of a read-only parameter; CH:
//            bad, missing or superfluous channel; PAR: unknown mnemonic;
//            VAL: a value where none is taken; LOC: unit in local control.
// CH equal to the channel count addresses all channels (values joined with
// ';'; ON and OFF then switch every channel). Board mnemonics: BDNAME,
// BDNCH, BDFREL. Channel mnemonics: V5, V48, VFAN, I5, I48, IFAN (printed
// with the decimals of their resolution: 100 -> 2), STAT ("%u"), the
// resolutions V5RES V48RES VFANRES I5RES I48RES IFANRES (integers), and the
// sets ON and OFF (no value).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modules/unit_sim.h"

namespace korusim {

// Channel status bits ("STAT").
enum ZJVStatusBit : unsigned {
    kZJVOn = 1u << 0,
    kZJVRampUp = 1u << 1,
    kZJVRampDown = 1u << 2,
    kZJVOverCurrent5 = 1u << 3,
    kZJVOverCurrent48 = 1u << 4,
    kZJVFanFail = 1u << 5,
    kZJVOverTemp = 1u << 6,
    kZJVTripped = 1u << 7, // switched off by an over-current; cleared by ON
};

// One supply of a channel (5 V, 48 V or fan).
struct ZJVRail {
    double nominal = 5.0; // V when on
    double limit = 10.0;  // A; above it the channel trips
    double loadOhm = 1.0; // i = v / load
    double v = 0.0;       // monitored V
    double i = 0.0;       // monitored A
};

struct ZJVChannel {
    bool on = false;
    ZJVRail v5{5.0, 10.0, 1.0};
    ZJVRail v48{48.0, 4.0, 24.0};
    ZJVRail fan{12.0, 2.0, 12.0};
    double rampVps = 20.0; // V/s of every rail
    bool hold = false;     // physics leaves the monitored values alone
    bool tripped = false;
    unsigned extraStatus = 0;

    unsigned status() const;
};

struct ZJVUnit {
    std::string model = "ZJV-LV2";
    std::string firmware = "1.3"; // "BDFREL": major.minor
    bool local = false;
    // Resolutions the unit reports ("V5RES" ...; counts per unit).
    int v5res = 100, v48res = 100, vfanres = 100;
    int i5res = 1000, i48res = 1000, ifanres = 1000;
    std::vector<ZJVChannel> channels;

    static ZJVUnit make(int channelCount = 2);
};

class ZJVDialect : public OneUnitDialect<ZJVUnit> {
public:
    explicit ZJVDialect(ZJVUnit unit);
    ~ZJVDialect() override;

    std::string name() const override { return "ZJV"; }
    DialectReply handle(std::string_view line, bool execute) override;
    void tick(double seconds) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class ZJVSim : public OneUnitSim<ZJVDialect, ZJVUnit> {
public:
    explicit ZJVSim(ZJVUnit unit = ZJVUnit::make());

    // Monitored voltages and currents fixed until release().
    void setMonitored(int ch, double v5, double i5, double v48, double i48, double vfan, double ifan);

    ZJVDialect &zjv() { return *model_; }

private:
    explicit ZJVSim(std::shared_ptr<ZJVDialect> d);
};

} // namespace korusim
