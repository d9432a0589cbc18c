// Simulated BQ71XXE desktop HV supply: the unit model as data and the device
// side of its "$CMD" text protocol (no module address), on a TCP port (23 on
// the real unit) or a pseudo-terminal standing for its USB virtual COM port.
//
// Requests:  $CMD:MON|SET,[CH:<n>,]PAR:<mnemonic>[,VAL:<value>] CR LF
// Replies:   #CMD:OK,VAL:<value> CR LF   (monitor)
//            #CMD:OK CR LF               (set)
//            #<CMD|CH|PAR|VAL|LOC>:ERR CR LF
//            CMD: monitor of a command or set of a read-only parameter;
//            CH: bad, missing or superfluous channel; PAR: unknown mnemonic
//            (also "IMRANGE", "IMAXL", "IMDECL" on a unit without current
//            ranges); VAL: missing, malformed or out-of-range value;
//            LOC: unit in local control (every set refused).
// CH equal to the channel count addresses all channels (monitor values are
// joined with ';', a set applies to every channel). Board mnemonics: BDNAME,
// BDNCH, BDFREL, BDSNUM, BDILK (YES/NO), BDALARM ("%05u"), BDCLR (set, no
// value). Channel mnemonics: VSET, VMON, ISET, IMON, IMRANGE (LOW/HIGH), MAXV,
// RUP, RDW, TRIP, PDWN (RAMP/KILL), POL (+/-), STAT ("%05u"), ON and OFF
// (set, no value), and the limits VMIN VMAX VSDEC VMDEC IMIN IMAXH IMAXL
// ISDEC IMDECH IMDECL MVMIN MVMAX MVDEC RUPMIN RUPMAX RUPDEC RDWMIN RDWMAX
// RDWDEC TRIPMIN TRIPMAX TRIPDEC (plain integers). Numbers are printed with
// four integer digits and the reported decimals ("0150.0"), ramps with three.
// Requests the unit would not take are also marked as violations in the log.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modules/unit_sim.h"

namespace korusim {

// Channel status bits ("STAT"). Bit 0 follows the output switch alone.
enum BQ71XXEStatusBit : unsigned {
    kBQ71XXEOn = 1u << 0,
    kBQ71XXERampUp = 1u << 1,
    kBQ71XXERampDown = 1u << 2,
    kBQ71XXEOverCurrent = 1u << 3,
    kBQ71XXEOverVoltage = 1u << 4,
    kBQ71XXEUnderVoltage = 1u << 5,
    kBQ71XXEMaxV = 1u << 6,
    kBQ71XXETripped = 1u << 7,
    kBQ71XXEOverPower = 1u << 8,
    kBQ71XXEOverTemp = 1u << 9,
    kBQ71XXEDisabled = 1u << 10,
    kBQ71XXEKill = 1u << 11,
    kBQ71XXEInterlock = 1u << 12,
    kBQ71XXENoCal = 1u << 13,
};

// Board alarm bits ("BDALARM"): bit c for a trip of channel c, then these.
enum BQ71XXEAlarmBit : unsigned {
    kBQ71XXEAlarmInterlock = 1u << 8,
    kBQ71XXEAlarmPowerFail = 1u << 9,
};

struct BQ71XXELimits {
    int vmin = 0, vmax = 8000, vsdec = 1, vmdec = 1;
    int imin = 0, imaxh = 3000, imaxl = 300, isdec = 2;
    int imdech = 2, imdecl = 3; // "IMON" decimals in the high and the low range
    int mvmin = 0, mvmax = 8100, mvdec = 0;
    int rupmin = 1, rupmax = 500, rupdec = 0;
    int rdwmin = 1, rdwmax = 500, rdwdec = 0;
    int tripmin = 0, tripmax = 1000, tripdec = 1;
};

struct BQ71XXEChannel {
    double vset = 0.0;    // V
    double iset = 3000.0; // uA
    double maxv = 8100.0; // V
    double rup = 50.0;    // V/s
    double rdw = 50.0;    // V/s
    double trip = 10.0;   // s of over-current before a trip; 0 = at once
    bool on = false;
    bool lowRange = false; // "IMRANGE" LOW (true) or HIGH
    bool kill = false;     // "PDWN" KILL (true) or RAMP
    char polarity = '+';
    double vmon = 0.0;       // V
    double imon = 0.0;       // uA
    double loadMOhm = 100.0; // imon = vmon / load
    bool hold = false;       // physics leaves vmon and imon alone
    unsigned extraStatus = 0;
    bool tripped = false;
    double overCurrentSeconds = 0.0;

    unsigned status() const; // the "STAT" word (without the interlock bit)
};

struct BQ71XXEUnit {
    std::string model = "BQ7104E";
    int serial = 7101;
    std::string firmware = "1.05"; // "BDFREL": major.minor
    bool hasRange = true;          // answers "IMRANGE", "IMAXL", "IMDECL"
    bool interlockActive = false;  // "BDILK"
    bool local = false;            // sets refused with LOC
    unsigned alarm = 0;            // "BDALARM"
    int reportedChannels = -1;     // "BDNCH" answer when >= 0 (counts the unit cannot have)
    BQ71XXELimits limits;
    std::vector<BQ71XXEChannel> channels;

    // Up to 16 channels (real units have at most 8: more are for testing).
    static BQ71XXEUnit make(int channelCount = 4, bool hasRange = true);
};

class BQ71XXEDialect : public OneUnitDialect<BQ71XXEUnit> {
public:
    explicit BQ71XXEDialect(BQ71XXEUnit unit);
    ~BQ71XXEDialect() override;

    std::string name() const override { return "BQ71XXE"; }
    DialectReply handle(std::string_view line, bool execute) override;
    void tick(double seconds) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class BQ71XXESim : public OneUnitSim<BQ71XXEDialect, BQ71XXEUnit> {
public:
    explicit BQ71XXESim(BQ71XXEUnit unit = BQ71XXEUnit::make());

    // Monitored values fixed until release(); the tick leaves them alone.
    void setMonitored(int ch, double vmon, double imon);
    void setInterlock(bool active);

    BQ71XXEDialect &bq71xxe() { return *model_; }

private:
    explicit BQ71XXESim(std::shared_ptr<BQ71XXEDialect> d);
};

} // namespace korusim
