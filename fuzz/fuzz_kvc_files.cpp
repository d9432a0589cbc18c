// Configuration files ("kvc"): a whole file image decoded, and what decodes
// written again and read back.
#include <cstdint>

#include <QByteArray>

#include "KvcStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    const QByteArray bytes(reinterpret_cast<const char *>(d), qsizetype(n));
    bool ok = false;
    const KvcStream::Hash hash = KvcStream::decode(bytes, &ok);
    if (ok) {
        bool encoded = false;
        const QByteArray again = KvcStream::encode(hash, &encoded);
        if (encoded) {
            bool back = false;
            KvcStream::decode(again, &back);
        }
    }
    return 0;
}
