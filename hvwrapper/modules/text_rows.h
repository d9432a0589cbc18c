// Building parameter rows as compile-time data, for the family tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modules/text_engine.h"

namespace koruhv::rows {

constexpr void put(char *dst, size_t n, const char *s)
{
    size_t i = 0;
    for (; s && s[i] && i + 1 < n; ++i)
        dst[i] = s[i];
    for (; i < n; ++i)
        dst[i] = '\0';
}

// The unit's words for state 1 and 0 of an on/off row, and their labels.
struct Words {
    const char *onWord, *offWord, *onLabel, *offLabel;
};

// Labels of an enumeration row, index 0 up to its maximum.
struct Labels {
    const char *l[10];
};

struct RowSpec {
    const char *name;
    const char *mnemonic;
    unsigned type;
    unsigned mode;
    float min = 0, max = 0;
    int decimals = 0;
    unsigned digits = 0, textDecimals = 0; // format of a value the library sends
    int unit = 0, exponent = 0;
    Words words = {};
    RowRule rule = RULE_NONE;
    Labels labels = {};
};

constexpr ParamRow make(const RowSpec &s)
{
    ParamRow r{};
    put(r.name, sizeof r.name, s.name);
    put(r.mnemonic, sizeof r.mnemonic, s.mnemonic);
    r.flags = TypeMode(s.type, s.mode);
    r.minimum = s.min;
    r.maximum = s.max;
    r.decimals = static_cast<int16_t>(s.decimals);
    r.textDigits = static_cast<uint16_t>(s.digits);
    r.textDecimals = static_cast<uint16_t>(s.textDecimals);
    r.unit = static_cast<int8_t>(s.unit);
    r.exponent = static_cast<int8_t>(s.exponent);
    put(r.onWord, sizeof r.onWord, s.words.onWord);
    put(r.offWord, sizeof r.offWord, s.words.offWord);
    put(r.onLabel, sizeof r.onLabel, s.words.onLabel);
    put(r.offLabel, sizeof r.offLabel, s.words.offLabel);
    r.rule = s.rule;
    for (int i = 0; i < 10; ++i)
        put(r.enumLabels[i], sizeof r.enumLabels[i], s.labels.l[i]);
    return r;
}

// UnitCode values.
enum Unit : int {
    U_NONE = 0,
    U_AMPERE = 1,
    U_VOLT = 2,
    U_WATT = 3,
    U_CELSIUS = 4,
    U_HERTZ = 5,
    U_BAR = 6,
    U_VOLT_PER_S = 7,
    U_SECOND = 8,
    U_RPM = 9,
    U_COUNT = 10,
    U_BIT = 11,
    U_AMPERE_PER_S = 12,
};

} // namespace koruhv::rows
