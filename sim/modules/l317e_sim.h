// Simulated L317E 16-channel NIM spectroscopy amplifiers: the module model as
// data and the device side of their "$BD" text protocol (module address in
// every request), on a TCP port (317 on the real module) or a
// pseudo-terminal standing for the serial line; several modules may share
// one link, each at its own address.
//
// Requests:  $BD:<aa>,CMD:MON|SET,[CH:<n>,]PAR:<mnemonic>[,VAL:<value>] CR LF
// Replies:   #BD:<aa>,CMD:OK,VAL:<value> CR LF       (monitor)
//            #BD:<aa>,CMD:OK CR LF                  (set)
//            #BD:<aa>,<CMD|CH|PAR|VAL|LOC>:ERR CR LF
//            CMD: set of a read-only parameter; CH: bad, missing or
//            superfluous channel; PAR: unknown mnemonic; VAL: missing,
//            malformed or out-of-range value; LOC: module in local control.
// Requests to an address where no module sits get no reply. CH:16 addresses
// all channels (monitor values joined with ';', a set applies to all), also
// on a module built with fewer channels.
// Board mnemonics: BDNAME, BDNCH (16), BDFREL, SERNUM, OFFSET (0..255),
// MUXEN (0/1), LASTCH (read-only 0..15). Channel mnemonics: NAME
// (read-only), CGAIN (0..7), FGAIN (0..255), SHAPE (0..3), CONF (0/1 =
// direct/inverted), POL (0/1 = positive/negative), PZADJ (0..255). Values
// are taken as plain integers (leading zeros allowed, "007"); OFFSET, FGAIN
// and PZADJ are reported with three digits ("007"), the others plainly.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modules/unit_sim.h"

namespace korusim {

constexpr int kL317EChannels = 16;

struct L317EChannel {
    std::string name;   // "NAME"
    int coarseGain = 0; // "CGAIN": index of 1, 2, 4, ... 128
    int fineGain = 128; // "FGAIN"
    int shape = 1;      // "SHAPE": index into the model's shaping times
    int outConf = 0;    // "CONF": 0 direct, 1 inverted
    int outPol = 0;     // "POL": 0 positive, 1 negative
    int poleZero = 128; // "PZADJ"
};

struct L317EModule {
    int address = 0;
    std::string model = "L317E"; // variants "L317EBB", "L317EBC", ...
    int serial = 3170;
    std::string firmware = "1.02"; // "BDFREL": major.minor
    int offset = 128;              // "OFFSET"
    int muxEnabled = 0;            // "MUXEN"
    int lastChannel = 15;          // "LASTCH"
    bool local = false;
    // With the multiplexer enabled, the tick moves "LASTCH" on by one
    // channel per second (the channel last routed to the mux output).
    bool muxScan = false;
    std::vector<L317EChannel> channels;

    // The real module always has 16 channels; with fewer, CH:16 gets a reply
    // of fewer fields.
    static L317EModule make(int address, const std::string &model = "L317E",
                            int channelCount = kL317EChannels);
};

class L317EDialect : public BusDialect<L317EModule, &L317EModule::address> {
public:
    explicit L317EDialect(std::vector<L317EModule> modules);
    ~L317EDialect() override;

    std::string name() const override { return "L317E"; }
    DialectReply handle(std::string_view line, bool execute) override;
    std::string errorReply(std::string_view line, DeviceError kind) const override;
    void tick(double seconds) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class L317ESim : public BusSim<L317EDialect, L317EModule> {
public:
    explicit L317ESim(std::vector<L317EModule> modules = {L317EModule::make(0)});

    void setLastChannel(int address, int ch);

    L317EDialect &l317e() { return *model_; }

private:
    explicit L317ESim(std::shared_ptr<L317EDialect> d);
};

} // namespace korusim
