// Pieces the engine's files share with each other; not for families.
#pragma once

#include <cstdint>
#include <string>

#include "modules/text_engine.h"

namespace koruhv {

// A monitored value converted by its row's type.
struct RowValue {
    int kind = 0;
    float f = 0;
    int32_t i = 0;
    std::string text;
};

RowValue TextConvertValue(const TextInstance &in, const ParamRow &row, int channel, const char *text);
TextInstance *TextInstanceOf(const TextFamily &f, int index);
const ParamRow *TextFindRow(const TextInstance &in, const char *name);
const char *TextReadMnemonic(const TextInstance &in, const ParamRow &row);
int64_t TextNowMs();

} // namespace koruhv
