// Simulated L2290 NIM HV modules: the module model as data and the device
// side of the L2290 text protocol, on a TCP port or a pseudo-terminal.
//
// Requests:  $BD:<aa>,CMD:MON|SET,[CH:<n>,]PAR:<mnemonic>[,VAL:<value>] CR LF
// Replies:   #BD:<aa>,CMD:OK,VAL:<value> CR LF       (monitor)
//            #BD:<aa>,CMD:OK CR LF                  (set)
//            #BD:<aa>,<CMD|CH|PAR|VAL|LOC>:ERR CR LF (errors: bad command or read-only
//            parameter, bad or missing channel, unknown mnemonic, bad or out-of-range
//            value, module in local control)
// CH equal to the channel count addresses all channels (monitor values are
// then joined with ';', a set applies to every channel). Requests to an
// address where no module sits get no reply, as on a shared bus; requests
// the module would not take are also marked as violations in the log.
// Numbers are printed with four integer digits and the reported decimals
// ("0150.0"), ramps with three ("050"), limits and decimals as plain integers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modules/unit_sim.h"

namespace korusim {

// Channel status bits as the module reports them in "STAT".
enum L2290StatusBit : unsigned {
    kL2290On = 1u << 0,
    kL2290RampUp = 1u << 1,
    kL2290RampDown = 1u << 2,
    kL2290OverCurrent = 1u << 3,
    kL2290OverVoltage = 1u << 4,
    kL2290UnderVoltage = 1u << 5,
    kL2290MaxV = 1u << 6,
    kL2290Tripped = 1u << 7,
    kL2290OverPower = 1u << 8,
    kL2290OverTemp = 1u << 9,
    kL2290Disabled = 1u << 10,
    kL2290Kill = 1u << 11,
    kL2290Interlock = 1u << 12,
    kL2290NoCal = 1u << 13,
};

// Board alarm bits ("BDALARM"): bit c for a trip of channel c, then these.
enum L2290AlarmBit : unsigned {
    kL2290AlarmInterlock = 1u << 8,
    kL2290AlarmPowerFail = 1u << 9,
};

// Limits and decimals the module reports ("VMIN", "VMAX", "VDEC", ...).
struct L2290Limits {
    int vmin = 0, vmax = 8000, vdec = 1;
    int imin = 0, imax = 3000, isdec = 2;
    int mvmin = 0, mvmax = 8100, mvdec = 0;
    int rupmin = 1, rupmax = 500, rupdec = 0;
    int rdwmin = 1, rdwmax = 500, rdwdec = 0;
    int tripmin = 0, tripmax = 1000, tripdec = 1;
    int imdecHigh = 2; // "IMDEC" in the high current range
    int imdecLow = 4;  // "IMDEC" in the low range (always high + 2)
};

struct L2290Channel {
    // Set values (what "VSET", "ISET", ... report and accept).
    double vset = 0.0;    // V
    double iset = 3000.0; // uA
    double maxv = 8100.0; // V, software voltage limit
    double rup = 50.0;    // V/s
    double rdw = 50.0;    // V/s
    double trip = 10.0;   // s of over-current before the channel trips; 0 = at once
    bool on = false;
    bool lowRange = false; // "IMRANGE": LOW (true) or HIGH
    bool kill = false;     // "PDWN": KILL (true) or RAMP
    char polarity = '+';   // "POL": '+' or '-'
    // Monitored values.
    double vmon = 0.0;        // V
    double imon = 0.0;        // uA
    double loadMOhm = 100.0;  // load: imon = vmon / load
    bool hold = false;        // physics leaves vmon and imon alone (set by setMonitored)
    unsigned extraStatus = 0; // bits OR-ed into the reported status
    // State kept by the physics.
    bool tripped = false;
    double overCurrentSeconds = 0.0;

    unsigned status() const; // the "STAT" word
};

struct L2290Module {
    int address = 0;
    std::string model = "L2290";
    int serial = 1001;
    std::string firmware = "1.10"; // "BDFREL": major.minor
    std::vector<L2290Channel> channels;
    bool interlockActive = false; // "BDILK": YES / NO
    bool interlockClosed = false; // "BDILKM": CLOSED / OPEN (interlock mode)
    bool local = false;           // "BDCTR": LOCAL refuses every set (LOC error)
    bool termination = false;     // "BDTERM": ON / OFF
    unsigned alarm = 0;           // "BDALARM"
    L2290Limits limits;

    static L2290Module make(int address, int channelCount = 4);
};

// The L2290 dialect itself, usable on any TextLinkSim.
class L2290Dialect : public BusDialect<L2290Module, &L2290Module::address> {
public:
    explicit L2290Dialect(std::vector<L2290Module> modules);
    ~L2290Dialect() override;

    std::string name() const override { return "L2290"; }
    DialectReply handle(std::string_view line, bool execute) override;
    std::string errorReply(std::string_view line, DeviceError kind) const override;
    void tick(double seconds) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class L2290Sim : public BusSim<L2290Dialect, L2290Module> {
public:
    explicit L2290Sim(std::vector<L2290Module> modules = {L2290Module::make(0)});

    // Monitored values fixed until release(); the tick leaves them alone.
    void setMonitored(int address, int ch, double vmon, double imon);
    void release(int address, int ch);
    void setInterlock(int address, bool active);
    void setExtraStatus(int address, int ch, unsigned bits);

    L2290Dialect &l2290() { return *model_; }

private:
    explicit L2290Sim(std::shared_ptr<L2290Dialect> d);
};

} // namespace korusim
