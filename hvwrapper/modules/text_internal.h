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

// Links (text_link.cpp), under the family's table lock: the open link of the
// same port or address with one more user, or a new one (null when it cannot
// be opened); and one user less, closing the link after its last.
TextLink *TextAcquireLink(const TextFamily &f, const LinkParams &p);
void TextReleaseLink(TextFamilyState &st, TextLink *l);

} // namespace koruhv
