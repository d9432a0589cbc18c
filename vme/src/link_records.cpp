// Transaction framing shared by the USB adapter and XDMA links: the request
// header word, and the reply records (header word with a halfword count, a
// last flag and an error flag, then the halfwords; the last record's final
// halfword is the status).
#include <cstring>

#include "vme_internal.h"

namespace koruvme {

size_t vme_build_link_request(uint32_t *out, const void *request, int32_t length, int32_t boardNumber)
{
    const uint32_t b = static_cast<uint32_t>(boardNumber) & 0xFF;
    out[0] = (static_cast<uint32_t>(length / 2) & 0xFFFF) | (b << 16) | (b << 24);
    const size_t words = (static_cast<size_t>(length) + 3) / 4;
    if (words)
        out[words] = 0; // zero padding of the last word
    if (length > 0)
        std::memcpy(out + 1, request, length);
    return 1 + words;
}

int vme_walk_records(const uint32_t *words, size_t count, size_t *used, uint8_t *reply, size_t capacity,
                     size_t *delivered, uint16_t *status)
{
    size_t pos = 0;
    while (pos < count) {
        const uint32_t h = words[pos];
        if (h & (1u << 27))
            return kCommError;
        const uint32_t n = h & 0x1FF;
        const bool last = h & (1u << 9);
        if (n > 256 || (last && n == 0))
            return kCommError;
        const size_t need = 1 + (n + 1) / 2;
        if (pos + need > count)
            break; // not fully arrived
        const uint32_t dataHalves = last ? n - 1 : n;
        for (uint32_t j = 0; j < dataHalves; ++j) {
            const uint32_t half = (words[pos + 1 + j / 2] >> (16 * (j & 1))) & 0xFFFF;
            // An odd byte count leaves the final halfword half used.
            if (*delivered >= capacity || !reply)
                return kCommError;
            reply[(*delivered)++] = half & 0xFF;
            const bool finalHalf = last && j + 1 == dataHalves;
            if (*delivered < capacity)
                reply[(*delivered)++] = half >> 8;
            else if (!finalHalf)
                return kCommError;
        }
        if (last) {
            *status = (words[pos + 1 + (n - 1) / 2] >> (16 * ((n - 1) & 1))) & 0xFFFF;
            *used = pos + need;
            return 1;
        }
        pos += need;
    }
    *used = pos;
    return 0;
}

} // namespace koruvme
