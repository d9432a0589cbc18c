// A simulated ZORN power supply: one single-channel unit and the device
// side of its query grammar, on a TCP port (10001 on the real unit; it has
// no serial link).
//
// Query:    <mnemonic>:? CR LF          ->  #<mnemonic>:<value> CR LF
//           (a mnemonic with an index, "MRT:1", is echoed without it: #MRT:<value>)
// Setting:  <mnemonic>:<value> CR LF    ->  #AK CR LF, refused: #NAK CR LF
// Command:  <mnemonic> CR LF            ->  #AK CR LF, refused: #NAK CR LF
// Anything the unit does not know, a value out of range or not a number, a
// query of a write-only or a setting of a read-only mnemonic, and every
// setting or command while the unit is in local control get #NAK.
//
// Mnemonics: MRID (model), VER ("<prefix>:<major>.<minor>.<revision>"),
// MRV, MRI (monitored volt, ampere, 3 decimals), MWVR, MWIR (ramped set
// values), MWV, MWI (set values taken at once, no ramp), MSRV, MSRI (ramp
// rates V/s, A/s), LOOP (I or V regulation; takes 1/0 or I/V), UPMODE
// (ANALOG or NORMAL; takes 1/0 or the word), MGC (ground current, A, 6
// decimals), MRT, MRT:1, MRT:2 (temperatures, 2 decimals), MST (status word,
// 8 hexadecimal digits), MON, MOFF (output on and off), MRESET (clears the
// latched alarms whose cause is gone).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "modules/text_link_sim.h"

namespace korusim {

// Status word bits ("MST").
enum ZornStatusBit : unsigned {
    kZornOutputOn = 1u << 0,
    kZornRamping = 1u << 1,
    kZornCurrentLoop = 1u << 2, // regulating current (LOOP I, or at the current limit)
    kZornOverTemp = 1u << 3,    // latched alarms from here on: output off until MRESET
    kZornInterlock = 1u << 4,
    kZornOverVoltage = 1u << 5,
    kZornOverCurrent = 1u << 6,
    kZornGroundFault = 1u << 7,
    kZornAnalogMode = 1u << 8, // UPMODE ANALOG
};
inline constexpr unsigned kZornAlarmMask =
    kZornOverTemp | kZornInterlock | kZornOverVoltage | kZornOverCurrent | kZornGroundFault;

struct ZornUnit {
    std::string model = "ZORN-300-30"; // MRID
    std::string version = "ZR:2.10.5"; // VER value after "#VER:"
    // Settings.
    double vset = 0, iset = 5.0;      // V, A (MWVR, MWIR)
    double vramp = 10.0, iramp = 1.0; // V/s, A/s (MSRV, MSRI), both 1..max
    bool currentLoop = false;         // LOOP: I (true) or V
    bool analog = false;              // UPMODE: ANALOG (true) or NORMAL
    bool on = false;
    // Limits of the set values.
    double vmax = 300.0, imax = 30.0;
    // Monitored values.
    double vmon = 0, imon = 0;                             // V, A
    double loadOhm = 100.0;                                // imon = vmon / load in voltage loop
    double groundCurrent = 0.000012;                       // A (MGC)
    double temp = 31.50, tempIgbt = 40.25, tempHf = 38.00; // Celsius (MRT, MRT:1, MRT:2)
    double tempLimit = 85.0;                               // above it: over-temperature alarm
    double groundLimit = 0.030;                            // above it: ground fault alarm
    bool interlockOpen = false;                            // interlock alarm while open
    bool hold = false;                                     // physics leaves vmon and imon alone
    bool local = false;                                    // refuses every setting and command
    unsigned alarms = 0;                                   // latched alarm bits
    unsigned extraStatus = 0;                              // OR-ed into MST

    unsigned status() const; // the MST word
};

class ZornDialect;

class ZornSim : public TextLinkSim {
public:
    explicit ZornSim(ZornUnit unit = {});
    ~ZornSim() override;

    // Runs fn on the unit under the model lock; the way to provoke any change.
    void withUnit(const std::function<void(ZornUnit &)> &fn);
    ZornUnit unit() const; // a copy

    // Monitored values fixed until release(); the tick leaves them alone.
    void setMonitored(double vmon, double imon);
    void release();
    void setTemperatures(double temp, double igbt, double hf);
    void setGroundCurrent(double amperes);
    void setInterlock(bool open);
    void setLocal(bool local);
    void setExtraStatus(unsigned bits);

    ZornDialect &zorn() { return *zorn_; }

private:
    std::shared_ptr<ZornDialect> zorn_;
    ZornSim(std::shared_ptr<ZornDialect> d);
};

// The dialect itself, usable on any TextLinkSim.
class ZornDialect : public TextDialect {
public:
    explicit ZornDialect(ZornUnit unit);
    ~ZornDialect() override;

    std::string name() const override { return "ZORN"; }
    DialectReply handle(std::string_view line, bool execute) override;
    // The unit has one refusal, whatever the kind: #NAK.
    std::string errorReply(std::string_view line, DeviceError kind) const override;
    void tick(double seconds) override;

    void withUnit(const std::function<void(ZornUnit &)> &fn);
    ZornUnit copyUnit() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace korusim
