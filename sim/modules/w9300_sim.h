// Simulated W9300 VME crate power supply: the crate model as data and the
// device side of its "$CMD" text protocol, on a TCP port (9300 on the real
// crate; every client connection talks to the same crate) or a
// pseudo-terminal standing for its serial port.
//
// Every request names a channel: 0..count-1 for an output, 8 for the crate.
// Requests:  $CMD:MON|SET,CH:<n>,PAR:<mnemonic>[,VAL:<value>] CR LF
// Replies:   #CMD:OK,VAL:<value> CR LF   (monitor)
//            #CMD:OK CR LF               (set)
//            #<CMD|CH|PAR|VAL|LOC>:ERR CR LF
//            CMD: monitor of a command or set of a read-only parameter;
//            CH: missing channel, an output that does not exist, a crate
//            mnemonic on an output or an output mnemonic on the crate;
//            PAR: unknown mnemonic; VAL: missing, malformed or out-of-range
//            value; LOC: crate in local control (every set refused).
// Crate mnemonics (CH:8): CRNAME, NUMCH, PSFREL, PSSNUM, PSTEMP, FANSP
// (read/write 0..6), FAN1..FAN3 (rpm), FUFREL, FUTEMP, FUSNUM, CRST ("%u",
// bit 0 = crate on), VPMAX, VPMIN, RS232BR, CANBR, CANADD, IPADD, IPMSK,
// IPGTW, MACADD; sets ON and OFF (crate power), SYSR and CLR (commands),
// none of which takes a value. Output mnemonics: NAME (read/write text, at
// most 12 characters), VSET and ISET (read/write), VMON, IMON, OVP, UVP,
// STAT ("%u"), and the live limits VMIN VMAX IMIN IMAX VRES IRES. Voltages
// are printed with 2 decimals, currents with 1, temperatures and rpm as
// integers; values are magnitudes (the output's name carries its sign).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modules/unit_sim.h"

namespace korusim {

// Output status bits ("STAT").
enum W9300StatusBit : unsigned {
    kW9300On = 1u << 0,
    kW9300OverVoltage = 1u << 1,  // vmon above OVP
    kW9300UnderVoltage = 1u << 2, // on and vmon below UVP once settled
    kW9300OverCurrent = 1u << 3,  // imon at or above ISET (current limit)
    kW9300Ramping = 1u << 4,      // vmon still moving towards its target
};

// Crate status bits ("CRST").
enum W9300CrateBit : unsigned {
    kW9300CrateOn = 1u << 0,
    kW9300CrateOverTemp = 1u << 1,
    kW9300CrateFanFail = 1u << 2,
    kW9300CrateAcFail = 1u << 3,
    kW9300CrateChannelAlarm = 1u << 4, // some output reports OV, UV or OC
    kW9300CrateSysReset = 1u << 5,     // set by SYSR until the next CLR
};

struct W9300Channel {
    std::string name = "+5V";
    double vset = 5.0;               // V
    double iset = 100.0;             // A
    double vmin = 0.0, vmax = 6.0;   // live VSET limits ("VMIN", "VMAX")
    double imin = 0.0, imax = 115.0; // live ISET limits ("IMIN", "IMAX")
    int vres = 100;                  // "VRES": counts per volt
    int ires = 10;                   // "IRES": counts per ampere
    double vmon = 0.0;               // V
    double imon = 0.0;               // A
    double loadOhm = 0.1;            // imon = vmon / load, limited to iset
    bool hold = false;               // physics leaves vmon and imon alone
    unsigned extraStatus = 0;

    double ovp() const { return vset * 1.15; } // "OVP"
    double uvp() const { return vset * 0.85; } // "UVP"
    unsigned status(bool crateOn) const;
};

struct W9300Crate {
    std::string name = "W9300";    // "CRNAME" (crate names are at most 19 characters)
    int serial = 9301;             // "PSSNUM"
    std::string firmware = "2.03"; // "PSFREL": major.minor
    bool on = false;               // crate power ("ON"/"OFF", CRST bit 0)
    bool local = false;
    double temp = 28.0;              // "PSTEMP", degrees C
    bool holdTemp = false;           // physics leaves the temperatures alone
    double futemp = 26.0;            // "FUTEMP"
    int fanSpeed = 3;                // "FANSP", 0..6
    double fanRpm[3] = {0, 0, 0};    // "FAN1".."FAN3"
    bool holdFans = false;           // physics leaves the fan rpm alone
    std::string fuFirmware = "1.02"; // "FUFREL"
    int fuSerial = 4402;             // "FUSNUM"
    double vpmax = 6.5, vpmin = 4.5; // "VPMAX", "VPMIN"
    int rs232br = 9600;
    int canbr = 250;
    int canadd = 1;
    std::string ip = "192.168.0.98", mask = "255.255.255.0", gateway = "192.168.0.1";
    std::string mac = "00:50:C2:93:00:01";
    bool acFail = false;
    bool sysReset = false;     // set by SYSR until the next CLR
    int reportedChannels = -1; // "NUMCH" answer when >= 0 (counts the crate cannot have)
    double onSeconds = 0.0;    // time since power on (fans spin up)
    std::vector<W9300Channel> channels;

    unsigned status() const; // the "CRST" word
    // A crate with `channelCount` outputs (+5V, +3.3V, +12V, -12V, +48V, -5V,
    // +6V, -6V in this order).
    static W9300Crate make(int channelCount = 6);
};

class W9300Dialect : public OneUnitDialect<W9300Crate> {
public:
    explicit W9300Dialect(W9300Crate unit);
    ~W9300Dialect() override;

    std::string name() const override { return "W9300"; }
    DialectReply handle(std::string_view line, bool execute) override;
    void tick(double seconds) override;

    void withCrate(const std::function<void(W9300Crate &)> &fn) { withUnit(fn); }
    W9300Crate crate() const { return unit(); }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class W9300Sim : public OneUnitSim<W9300Dialect, W9300Crate> {
public:
    explicit W9300Sim(W9300Crate crate = W9300Crate::make());

    // Runs fn on the crate under the model lock: the way to provoke any change.
    void withCrate(const std::function<void(W9300Crate &)> &fn) { withUnit(fn); }
    W9300Crate crate() const { return unit(); } // a copy

    void setMonitored(int ch, double vmon, double imon);   // fixed until release()
    void setTemperature(double celsius);                   // fixed from now on
    void setFanRpm(double fan1, double fan2, double fan3); // fixed until the next setFanSpeed
    void setFanSpeed(int speed);

    W9300Dialect &w9300() { return *model_; }

private:
    explicit W9300Sim(std::shared_ptr<W9300Dialect> d);
};

} // namespace korusim
