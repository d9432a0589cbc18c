#include "item_name.h"

#include <cstdio>
#include <cstring>

namespace koruhv {

int WriteItemName(char *out, size_t cap, int level, const char *systemName, uint16_t slot, uint16_t channel,
                  const char *param)
{
    if (!out || cap == 0 || !systemName || !param)
        return -1;
    int n;
    switch (level) {
    case LEVEL_SYSTEM:
        n = std::snprintf(out, cap, "%s.%s", systemName, param);
        break;
    case LEVEL_BOARD:
        n = std::snprintf(out, cap, "%s.Board%03u.%s", systemName, unsigned(slot), param);
        break;
    case LEVEL_CHANNEL:
        n = std::snprintf(out, cap, "%s.Board%02u.CHAN%03u.%s", systemName, unsigned(slot), unsigned(channel),
                          param);
        break;
    default:
        out[0] = '\0';
        return -1;
    }
    if (n < 0 || static_cast<size_t>(n) >= cap) {
        out[0] = '\0';
        return -1;
    }
    return n;
}

namespace {

bool isKeepAliveText(const char *t)
{
    return std::strncmp(t, "KeepAlive", 9) == 0 || std::strncmp(t, "LiveInsRem", 10) == 0;
}

void copyParam(char *param, size_t cap, const char *from)
{
    if (!param || cap == 0)
        return;
    size_t n = strnlen(from, cap - 1);
    std::memcpy(param, from, n);
    param[n] = '\0';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Value of the leading digits of the n characters at p (stops at a non-digit).
unsigned leadingValue(const char *p, size_t n)
{
    unsigned v = 0;
    for (size_t i = 0; i < n && isDigit(p[i]); ++i)
        v = v * 10 + unsigned(p[i] - '0');
    return v;
}

// The character after the one that ends a number, never past the NUL.
const char *skipOne(const char *p)
{
    return *p ? p + 1 : p;
}

} // namespace

int ParseItemName(const char *item, int16_t *board, uint16_t *channel, char *param, size_t paramCap)
{
    if (!item) {
        copyParam(param, paramCap, "");
        return ITEM_SYSTEM;
    }
    const char *dot = std::strchr(item, '.');
    if (!dot) {
        copyParam(param, paramCap, item);
        return isKeepAliveText(item) ? ITEM_KEEPALIVE : ITEM_SYSTEM;
    }
    const char *rest = dot + 1;
    if (std::strncmp(rest, "Board", 5) != 0 && std::strncmp(rest, "BOARD", 5) != 0) {
        copyParam(param, paramCap, rest);
        return isKeepAliveText(rest) ? ITEM_KEEPALIVE : ITEM_SYSTEM;
    }
    // Board number: three digits when the character three places after the
    // first digit is '9' or below (a signed comparison, as writers rely on;
    // the NUL that ends "S.Board005" counts as below), else two. Short texts
    // are cut at their NUL.
    const char *p = rest + 5;
    const size_t avail = strnlen(p, 4);
    size_t digits = (avail >= 3 && static_cast<signed char>(p[3]) <= '9') ? 3 : 2;
    if (digits > avail)
        digits = avail;
    if (board)
        *board = static_cast<int16_t>(leadingValue(p, digits));
    const char *end = p + digits;
    const char *q = skipOne(end);
    if (std::strncmp(q, "Chan", 4) == 0 || std::strncmp(q, "CHAN", 4) == 0) {
        const char *c = q + 4;
        size_t n = strnlen(c, 3); // the first three are always the number's
        while (isDigit(c[n]))
            ++n;
        if (channel)
            *channel = static_cast<uint16_t>(leadingValue(c, n));
        copyParam(param, paramCap, skipOne(c + n));
        return ITEM_CHANNEL;
    }
    copyParam(param, paramCap, q);
    return ITEM_BOARD;
}

char *NextToken(char *text, const char *delims, char **cursor)
{
    if (!cursor)
        return nullptr;
    if (text)
        *cursor = text;
    char *start = *cursor;
    if (!start || *start == '\0')
        return nullptr;
    char *d = delims ? std::strpbrk(start, delims) : nullptr;
    if (d) {
        *d = '\0';
        *cursor = d + 1;
    } else {
        *cursor = nullptr;
    }
    return start;
}

} // namespace koruhv
