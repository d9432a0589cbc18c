#include "common/journal_text.h"

#include <cstdio>

namespace korusim {

std::string journalText(const std::string &bytes, bool escapeHigh)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c == 0x7F || c == '\\' || (escapeHigh && c > 0x7F)) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace korusim
