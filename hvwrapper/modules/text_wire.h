// Locale-independent number texts and reply lines of the text protocols.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace koruhv {

// value printed with `decimals` digits after a '.', zero-padded after any
// sign to at least `width` characters ("%0W.Df" in the C locale). False for
// a value that is not finite or a text that does not fit cap.
bool FormatFixed(double value, int width, int decimals, char *out, size_t cap);

// Integer conversion as devices' texts need it: leading blanks, an optional
// sign, then digits up to the first other character; 0 without digits;
// clamped to the int range.
int ParseIntText(const char *text);

// The fields of text between the delimiters; one empty field for an empty
// text, and a delimiter at the end gives an empty last field.
std::vector<std::string> SplitText(const char *text, char delim);

// Of the bytes a link read, the last line for which accept(line) holds,
// line end stripped (CR, LF and SI, in any order). A line counts only when
// its line end came. False when there is none.
template <typename Accept> bool PickReplyLine(const char *buf, std::string &line, Accept accept)
{
    auto isEnd = [](char c) { return c == '\r' || c == '\n' || c == '\x0f'; };
    bool found = false;
    const char *p = buf;
    while (*p) {
        while (*p && isEnd(*p))
            ++p;
        const char *start = p;
        while (*p && !isEnd(*p))
            ++p;
        if (p == start || !*p)
            break; // nothing, or a line whose end did not come
        std::string candidate(start, static_cast<size_t>(p - start));
        if (accept(candidate.c_str())) {
            line = std::move(candidate);
            found = true;
        }
    }
    return found;
}

} // namespace koruhv
