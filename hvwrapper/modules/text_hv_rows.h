// Rows that the HV supplies of the $BD and $CMD dialects (L2290, BQ71XXE)
// have word for word; each family lists them in its own tables.
#pragma once

#include "modules/text_rows.h"

namespace koruhv::rows::hv {

inline constexpr ParamRow kIlkStat = make({.name = "IlkStat",
                                           .mnemonic = "BDILK",
                                           .type = PT_ONOFF,
                                           .mode = PM_READ,
                                           .words = {"YES", "NO", "Yes", "No"}});
inline constexpr ParamRow kVSet = make({.name = "VSet",
                                        .mnemonic = "VSET",
                                        .type = PT_NUMERIC,
                                        .mode = PM_READWRITE,
                                        .max = 8000,
                                        .decimals = 1,
                                        .digits = 4,
                                        .textDecimals = 1,
                                        .unit = U_VOLT});
inline constexpr ParamRow kISet = make({.name = "ISet",
                                        .mnemonic = "ISET",
                                        .type = PT_NUMERIC,
                                        .mode = PM_READWRITE,
                                        .max = 3000,
                                        .digits = 4,
                                        .textDecimals = 2,
                                        .unit = U_AMPERE,
                                        .exponent = -6});
inline constexpr ParamRow kMaxV = make({.name = "MaxV",
                                        .mnemonic = "MAXV",
                                        .type = PT_NUMERIC,
                                        .mode = PM_READWRITE,
                                        .max = 8100,
                                        .digits = 4,
                                        .unit = U_VOLT});
inline constexpr ParamRow kRUp = make({.name = "RUp",
                                       .mnemonic = "RUP",
                                       .type = PT_NUMERIC,
                                       .mode = PM_READWRITE,
                                       .min = 1,
                                       .max = 500,
                                       .digits = 3,
                                       .unit = U_VOLT_PER_S});
inline constexpr ParamRow kRDwn = make({.name = "RDwn",
                                        .mnemonic = "RDW",
                                        .type = PT_NUMERIC,
                                        .mode = PM_READWRITE,
                                        .min = 1,
                                        .max = 500,
                                        .digits = 3,
                                        .unit = U_VOLT_PER_S});
inline constexpr ParamRow kTrip = make({.name = "Trip",
                                        .mnemonic = "TRIP",
                                        .type = PT_NUMERIC,
                                        .mode = PM_READWRITE,
                                        .max = 1000,
                                        .digits = 4,
                                        .textDecimals = 1,
                                        .unit = U_SECOND});
inline constexpr ParamRow kPDwn = make({.name = "PDwn",
                                        .mnemonic = "PDWN",
                                        .type = PT_ONOFF,
                                        .mode = PM_READWRITE,
                                        .words = {"RAMP", "KILL", "Ramp", "Kill"}});
inline constexpr ParamRow kPolarity = make({.name = "Polarity",
                                            .mnemonic = "POL",
                                            .type = PT_ONOFF,
                                            .mode = PM_READ,
                                            .words = {"-", "+", "-", "+"}});
inline constexpr ParamRow kChStatus =
    make({.name = "ChStatus", .mnemonic = "STAT", .type = PT_CHSTATUS, .mode = PM_READ});
inline constexpr ParamRow kPw = make({.name = "Pw",
                                      .mnemonic = "Pw",
                                      .type = PT_ONOFF,
                                      .mode = PM_READWRITE,
                                      .words = {"ON", "OFF", "On", "Off"},
                                      .rule = RULE_SWITCH});

} // namespace koruhv::rows::hv
