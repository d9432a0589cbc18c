// Device-side pieces common to the text-module simulators: splitting one
// request line of the "$BD" (module address) or "$CMD" (no address) grammar
// and printing numbers the way the modules do. Simulator-only code: the
// wrapper library has its own, so a fault in one is caught by the other.
#pragma once

#include <string>
#include <string_view>

#include "modules/text_dialect.h"

namespace korusim {

struct TextRequest {
    int address = -1; // "$BD" only; -1 until known
    bool set = false; // SET (true) or MON
    bool hasChannel = false;
    int channel = 0;
    std::string par; // mnemonic
    bool hasValue = false;
    std::string value; // text after "VAL:" (may hold any character but CR/LF)
};

// "$BD:aa,CMD:MON|SET,[CH:n,]PAR:p[,VAL:v]". Empty text on success, else what
// is wrong; `address` is filled as soon as it is known. With
// maxAddressDigits 3 the address is two or three digits up to the comma.
std::string parseBdRequest(std::string_view line, TextRequest &r, int maxAddressDigits = 2);
// "$CMD:MON|SET,[CH:n,]PAR:p[,VAL:v]". Empty text on success, else what is wrong.
std::string parseCmdRequest(std::string_view line, TextRequest &r);

// Locale-independent fixed-point text with at least `intDigits` integer
// digits; negative values keep their sign.
std::string fixedText(double v, int decimals, int intDigits = 1);
// A plain decimal number: optional '-' (when allowed), digits (at most
// maxIntDigits), optionally '.' and at least one digit; nothing else.
bool parsePlainNumber(std::string_view s, double &out, bool allowNegative = false, size_t maxIntDigits = 15);
bool allDigits(std::string_view s);

// "CMD", "CH", "PAR", "VAL", "LOC".
const char *deviceErrorWord(DeviceError kind);

} // namespace korusim
