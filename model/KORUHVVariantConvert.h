/* Checked conversions of edited or stored variants into the raw forms the
 * wrapper takes. Numbers in texts are read locale-independently (C locale).
 * A conversion that fails reports false, so that no made-up 0 is written. */
#ifndef KORUHVVARIANTCONVERT_H
#define KORUHVVARIANTCONVERT_H

#include <QByteArray>
#include <QVariant>

#include <cstdint>

/* A finite number within the single-precision range. */
bool koruVariantToFloat(const QVariant &v, float *out);
/* A whole number within [lo, hi]; a text may also carry a whole number in
 * decimal-point form ("3.0"). Booleans give 0 and 1. */
bool koruVariantToInteger(const QVariant &v, int64_t lo, int64_t hi, int64_t *out);
/* The text in Latin-1, refused when it holds a character that Latin-1
 * cannot carry or a NUL (the wrapper would get another text). */
bool koruVariantToLatin1(const QVariant &v, QByteArray *out);
/* The 32 bits of a signed or unsigned word value for display; values that
 * are no number give 0. */
int koruVariantToWordBits(const QVariant &v);

#endif
