// Simulated TRIXHV high-voltage modules: units that describe their own
// parameters. The parameter set is data (TrixUnit), so tests can give a unit
// any board and channel parameters, descriptions that differ per channel,
// or none at all. Served on a TCP port (2290 on the real units) or a
// pseudo-terminal (serial line, several units on one bus).
//
// Requests:  [$BD:<n>,]... with the head "$CMD:MON|SET|INFO," when unaddressed,
//            "$BD:<n>,CMD:MON|SET|INFO," when addressed (n decimal, no leading
//            zeros), then [CH:<c>,]PAR:<name>[,VAL:<value>] CR LF
// Replies:   #CMD:OK,VAL:<value> CR LF    (monitor and info)
//            #CMD:OK CR LF                (set)
//            #CMD:ERR[,<CH|PAR|VAL|LOC>:ERR] CR LF (errors; a bare #CMD:ERR for a
//            bad command or a set of a read-only parameter). Every reply carries
//            the command head, addressed or not.
// An unaddressed request is answered by the first unit (a point-to-point
// link); an addressed one by the unit with that bus address, else by nobody.
// Discovery: PARLIST (board, no channel) gives the board parameter names
// joined with ';' (";" when there are none); PARCHLIST with CH:c the names of
// channel c; INFO of a name (with CH:c for channel parameters) gives the ten
// ';'-separated fields type;mode;min;max;decimals;spare;exponent;unit;on;off.
// Identification: BDNAME, BDNCH, BDFREL ("major.minor"), BDSNUM.
// CH equal to the channel count asks for all channels (values joined with
// ';', empty for a channel that lacks the parameter); a set applies to all.
// Numbers are printed with the parameter's decimals, on/off parameters read
// and take their on or off text (letter case ignored on input), status words
// read as five digits, text parameters their text.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modules/text_link_sim.h"

namespace korusim {

// Parameter types and modes as the unit describes them (INFO fields 1, 2).
enum TrixType : int {
    kTrixNumber = 0,
    kTrixOnOff = 1,
    kTrixChStatus = 2,
    kTrixBdStatus = 3,
    kTrixInteger = 4,
    kTrixText = 5,
    kTrixEnum = 6,
    kTrixNone = 7,
};
enum TrixMode : int { kTrixReadOnly = 0, kTrixCommand = 1, kTrixReadWrite = 2 };

// Channel status bits as the default unit reports them in "STAT".
enum TrixStatusBit : unsigned {
    kTrixOn = 1u << 0,
    kTrixRampUp = 1u << 1,
    kTrixRampDown = 1u << 2,
    kTrixOverCurrent = 1u << 3,
    kTrixOverVoltage = 1u << 4,
    kTrixUnderVoltage = 1u << 5,
    kTrixMaxV = 1u << 6,
    kTrixTripped = 1u << 7,
    kTrixInterlock = 1u << 12,
};

// One parameter: its description (what INFO answers) and its current value.
struct TrixParam {
    std::string name; // wire name (no ',', ':' or ';')
    int type = kTrixNumber;
    int mode = kTrixReadWrite;
    double min = 0;
    double max = 0;
    int decimals = 0;
    int spare = 0; // INFO field 6
    int exponent = 0;
    std::string unit;   // "volt", "ampere", ... (sent as is)
    std::string onText; // type 1: the texts read and written
    std::string offText;
    // Current value: `number` for every type but text (on/off as 1 or 0),
    // `text` for type 5.
    double number = 0;
    std::string text;
    // Replaces the INFO record when not empty (to describe a broken unit).
    std::string infoOverride;

    std::string describe() const; // the INFO record

    static TrixParam numeric(std::string name, int mode, double min, double max, int decimals,
                             std::string unit, int exponent = 0, double initial = 0);
    static TrixParam onOff(std::string name, int mode, std::string onText, std::string offText,
                           bool initial = false);
    static TrixParam status(std::string name, int type);                 // read-only status word
    static TrixParam textual(std::string name, std::string value);       // read-only text
    static TrixParam command(std::string name, std::string onText = {}); // type 1, mode 1
};

struct TrixChannel {
    std::vector<TrixParam> params;
    // Physics of the default parameter names (VSET, VMON, ISET, IMON, RUP,
    // RDW, MAXV, TRIP, PDWN, STAT, ON, OFF), used where the channel has them.
    bool on = false;
    bool tripped = false;
    double overCurrentSeconds = 0;
    double loadMOhm = 100.0;  // IMON (uA) = VMON (V) / load
    bool hold = false;        // physics leaves VMON and IMON alone
    unsigned extraStatus = 0; // OR-ed into STAT

    TrixParam *find(const std::string &name);
    const TrixParam *find(const std::string &name) const;
};

struct TrixUnit {
    int busAddress = 0;
    std::string model = "TRIXHV4"; // BDNAME
    int serial = 4001;             // BDSNUM
    std::string firmware = "2.5";  // BDFREL "major.minor"
    // Answer to BDNCH; -1 = the number of channels below. Lets a test claim
    // more channels than the unit serves.
    int reportedChannels = -1;
    std::vector<TrixParam> board; // in PARLIST order
    std::vector<TrixChannel> channels;
    bool local = false;     // every set gets LOC
    bool interlock = false; // default set: BDILK, switches channels off

    // The default unit: board BDILK, BDCTR, BDTERM, BDALARM, BDCLR; per
    // channel VSET, VMON, ISET, IMON, MAXV, RUP, RDW, TRIP, PDWN, IMRANGE,
    // POL, STAT, ON, OFF.
    static TrixUnit make(int channels = 4, int busAddress = 0);
    // The default channel parameter set (for building variants).
    static std::vector<TrixParam> defaultChannelParams();
    static std::vector<TrixParam> defaultBoardParams();

    TrixParam *findBoard(const std::string &name);
    const TrixParam *findBoard(const std::string &name) const;
    int channelCount() const { return reportedChannels >= 0 ? reportedChannels : int(channels.size()); }
};

class TrixhvDialect;

class TrixhvSim : public TextLinkSim {
public:
    explicit TrixhvSim(std::vector<TrixUnit> units = {TrixUnit::make()});
    ~TrixhvSim() override;

    // Runs fn on the unit with that bus address under the model lock (no-op
    // when there is none); the way to provoke any change of state.
    void withUnit(int busAddress, const std::function<void(TrixUnit &)> &fn);
    TrixUnit unit(int busAddress) const; // a copy; default unit when absent
    std::vector<int> addresses() const;

    // Setters; false when unit, channel or name does not exist.
    bool setValue(int busAddress, int ch, const std::string &name, double v);
    bool setText(int busAddress, int ch, const std::string &name, const std::string &text);
    bool setBoardValue(int busAddress, const std::string &name, double v);
    bool setBoardText(int busAddress, const std::string &name, const std::string &text);
    // Current values (NaN / empty when absent).
    double value(int busAddress, int ch, const std::string &name) const;
    double boardValue(int busAddress, const std::string &name) const;
    bool channelOn(int busAddress, int ch) const;

    // Monitored values fixed until release(); the tick leaves them alone.
    void setMonitored(int busAddress, int ch, double vmon, double imon);
    void release(int busAddress, int ch);
    void setInterlock(int busAddress, bool active);
    void setLocal(int busAddress, bool local);
    void setExtraStatus(int busAddress, int ch, unsigned bits);

    TrixhvDialect &trixhv() { return *trixhv_; }

private:
    std::shared_ptr<TrixhvDialect> trixhv_;
    TrixhvSim(std::shared_ptr<TrixhvDialect> d);
};

// The dialect itself, usable on any TextLinkSim.
class TrixhvDialect : public TextDialect {
public:
    explicit TrixhvDialect(std::vector<TrixUnit> units);
    ~TrixhvDialect() override;

    std::string name() const override { return "TRIXHV"; }
    DialectReply handle(std::string_view line, bool execute) override;
    std::string errorReply(std::string_view line, DeviceError kind) const override;
    void tick(double seconds) override;

    void withUnit(int busAddress, const std::function<void(TrixUnit &)> &fn);
    bool copyUnit(int busAddress, TrixUnit &out) const;
    std::vector<int> addresses() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace korusim
