// Simulated L5026 and L5126 16-channel NIM amplifiers: the module model as
// data and the device side of their "$BD" text protocol, on a TCP port (23
// on the real modules) or a pseudo-terminal (the USB virtual COM port).
// Both families speak the same protocol; they differ in model text and in
// the channel settings they hold, so one model and one dialect serve both.
//
// Requests:  $BD:<aa>,CMD:MON|SET,[CH:<n>,]PAR:<mnemonic>[,VAL:<value>] CR LF
// Replies:   #BD:<aa>,CMD:OK,VAL:<value> CR LF       (monitor)
//            #BD:<aa>,CMD:OK CR LF                  (set)
//            #BD:<aa>,<CMD|CH|PAR|VAL|LOC>:ERR CR LF (errors: bad command, set of a
//            read-only setting; bad or missing channel; unknown mnemonic; bad or
//            out-of-range value; module in local control, which refuses every set)
// Identification (board level, no channel): BDNAME (model text), BDNCH (16),
// BDFREL ("major.minor"), SERNUM (decimal). CH:16 (the channel count) asks
// for all channels: monitor values are joined with ';', a set applies to
// every channel. Values are whole decimal numbers ("64"); on/off settings
// read and take 0 or 1, enumerations their index, NAME the channel's text.
// Requests to an address where no module sits get no reply, as on a shared
// bus; requests a module would not take are marked as violations in the log.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modules/unit_sim.h"

namespace korusim {

enum class AmpFamily { L5026, L5126 };

// How a setting is written on the wire.
enum class AmpKind {
    Number, // whole number in [min, max]
    OnOff,  // 0 or 1
    Enum,   // index in [min, max]
    Text,   // read-only text (the channel's NAME)
};

// One setting the module knows (its device side: mnemonic and what it takes).
struct AmpParam {
    std::string mnemonic;
    AmpKind kind = AmpKind::Number;
    int min = 0;
    int max = 0;
    bool readOnly = false;
    int initial = 0; // value after power-up
};

// The settings of each family, in the order the modules list them.
std::vector<AmpParam> ampBoardParams(); // BDOFFSET, BDMULTITHR
std::vector<AmpParam> ampChannelParams(AmpFamily family);

// The mnemonic the L5126 uses for the coarse gain of its AUX/fast branch
// (the partner of AUXFGAIN, as SLOWCGAIN is of SLOWFGAIN).
inline constexpr const char *kL5126AuxCoarseGain = "AUXCGAIN";

struct AmpChannel {
    std::string name;                  // what NAME reports (no ',', ':' or ';')
    std::map<std::string, int> values; // mnemonic -> value
};

struct AmpModule {
    AmpFamily family = AmpFamily::L5026;
    int address = 0;                   // 0..99
    std::string model = "L5026";       // BDNAME ("L5026", "L5026GE", "L5026DB", "L5126", "L5126GE", ...)
    int serial = 26001;                // SERNUM
    std::string firmware = "3.12";     // BDFREL
    std::vector<AmpParam> boardParams; // data: what the module accepts at board level
    std::vector<AmpParam> channelParams;
    std::map<std::string, int> board; // mnemonic -> value
    std::vector<AmpChannel> channels; // 16
    bool local = false;               // front-panel control: every set gets LOC

    // A module of the family with its settings at their power-up values;
    // an empty model text takes the family's name.
    static AmpModule make(AmpFamily family, int address = 0, std::string model = {});

    const AmpParam *boardParam(const std::string &mnemonic) const;
    const AmpParam *channelParam(const std::string &mnemonic) const;
};

// The dialect itself, usable on any TextLinkSim.
class AmpDialect : public BusDialect<AmpModule, &AmpModule::address> {
public:
    explicit AmpDialect(std::vector<AmpModule> modules);
    ~AmpDialect() override;

    std::string name() const override;
    DialectReply handle(std::string_view line, bool execute) override;
    std::string errorReply(std::string_view line, DeviceError kind) const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class AmpSim : public BusSim<AmpDialect, AmpModule> {
public:
    explicit AmpSim(std::vector<AmpModule> modules = {AmpModule::make(AmpFamily::L5026)});

    // Setters as the front panel would change things. False when the module,
    // channel or mnemonic does not exist (the value is stored unchecked).
    bool setValue(int address, int ch, const std::string &mnemonic, int value);
    bool setBoardValue(int address, const std::string &mnemonic, int value);
    bool setChannelName(int address, int ch, const std::string &name);
    // Current values; -1 when the module, channel or mnemonic does not exist.
    int value(int address, int ch, const std::string &mnemonic) const;
    int boardValue(int address, const std::string &mnemonic) const;

    AmpDialect &amp() { return *model_; }

private:
    explicit AmpSim(std::shared_ptr<AmpDialect> d);
};

// The two families by their own names.
using L5026Sim = AmpSim;
using L5126Sim = AmpSim;

} // namespace korusim
